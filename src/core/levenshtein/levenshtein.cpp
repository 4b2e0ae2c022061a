// Scalar Levenshtein entry points (see levenshtein.hpp).
#include "core/levenshtein/levenshtein.hpp"

#include <utility>

#include "core/common/pattern.hpp"
#include "core/levenshtein/levenshtein_kernels.hpp"
#include "core/levenshtein/myers.hpp"

namespace tarnvel::core {

namespace {

template <typename CharT>
std::uint32_t long_pair(Seq<CharT> a, Seq<CharT> b) {
    trim_affix(a, b);
    if (a.size > b.size) std::swap(a, b);
    if (a.size == 0) return static_cast<std::uint32_t>(b.size);
    const BlockPattern p(a);
    std::vector<std::uint64_t> work;
    return myers_blocked(p, b, work);
}

}  // namespace

std::uint32_t levenshtein_bytes(Seq<std::uint8_t> a, Seq<std::uint8_t> b) {
    if (a.empty()) return static_cast<std::uint32_t>(b.size);
    if (b.empty()) return static_cast<std::uint32_t>(a.size);
    if (a.size > b.size) std::swap(a, b);
    if (a.size <= 64) {
        const MyersPattern p(a.data, a.size);
        return myers_distance(p, b.data, b.size);
    }
    return long_pair(a, b);
}

std::uint32_t levenshtein_codepoints(Seq<std::uint32_t> a, Seq<std::uint32_t> b) {
    if (a.empty()) return static_cast<std::uint32_t>(b.size);
    if (b.empty()) return static_cast<std::uint32_t>(a.size);
    return long_pair(a, b);
}

std::uint32_t levenshtein(Text a, Text b) {
    if (is_ascii(a) && is_ascii(b)) return levenshtein_bytes(byte_seq(a), byte_seq(b));
    const auto va = decode_utf8(a);
    const auto vb = decode_utf8(b);
    return levenshtein_codepoints(cp_seq(va), cp_seq(vb));
}

std::uint32_t levenshtein_myers(Text a, Text b) { return levenshtein(a, b); }

}  // namespace tarnvel::core
