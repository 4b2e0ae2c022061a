// Scalar Levenshtein entry points (see levenshtein.hpp).
#include <utility>

#include "core/common/pattern.hpp"
#include "core/levenshtein/levenshtein.hpp"
#include "core/levenshtein/levenshtein_kernels.hpp"
#include "core/levenshtein/myers.hpp"
#include "dispatch/kernels.hpp"

namespace tarnvel::core {

namespace {

template <typename CharT>
std::uint32_t long_pair(Seq<CharT> a, Seq<CharT> b) {
    trim_affix(a, b);
    if (a.size > b.size) std::swap(a, b);
    if (a.size == 0) return static_cast<std::uint32_t>(b.size);
    const BlockPattern p(a);
    std::vector<std::uint64_t> work;
    // The vector kernel gathers from dense rows; a blocked pattern takes the scalar route.
    const auto striped = p.blocked() ? nullptr : dispatch::kernels().lev_blocked;
    const std::size_t d = b.size - a.size;
    if (striped == nullptr && p.words() > 2) {
        // A narrow band first; if the distance is larger, that run's (over)estimate r is
        // still an upper bound, so a band of r is certain to give the exact value.
        std::size_t k = d + 256;
        for (int round = 0; round < 2 && k < a.size / 2; ++round) {
            const std::uint64_t r = myers_banded(p, b, k, work);
            if (r <= k) return static_cast<std::uint32_t>(r);
            k = static_cast<std::size_t>(r);
        }
        return myers_blocked(p, b, work);
    }
    if (striped == nullptr || p.words() < 4) return myers_blocked(p, b, work);
    if (a.size >= 4000) {
        // The vector kernel is a few times faster than the scalar band, so only a narrow
        // band (or a second one inside the first's bound) is worth trying first.
        const std::size_t k = d + 64;
        const std::uint64_t r = myers_banded(p, b, k, work);
        if (r <= k) return static_cast<std::uint32_t>(r);
        if (r < a.size / 4)
            return static_cast<std::uint32_t>(
                myers_banded(p, b, static_cast<std::size_t>(r), work));
    }
    const std::size_t n = b.size;
    const std::uint64_t* base = p.row(0);
    std::vector<std::uint64_t> rev(n + 14, 0);
    for (std::size_t c = 0; c < n; ++c)
        rev[n + 6 - c] = static_cast<std::uint64_t>(p.row(static_cast<std::uint32_t>(b[c])) - base);
    std::vector<std::uint8_t> hbuf(n);
    return striped(base, rev.data(), n, p.words(), a.size, hbuf.data());
}

// The one-word kernel with a match table built in O(|a| + |b|): only the entries that the
// text reads are cleared, instead of all 256 (same masks, same steps as MyersPattern).
std::uint32_t short_pattern(Seq<std::uint8_t> a, Seq<std::uint8_t> b) {
    std::uint64_t peq[256];
    for (std::size_t j = 0; j < b.size; ++j) peq[b[j]] = 0;
    for (std::size_t i = 0; i < a.size; ++i) peq[a[i]] = 0;
    for (std::size_t i = 0; i < a.size; ++i) peq[a[i]] |= std::uint64_t{1} << i;
    const std::size_t m = a.size;
    const std::uint64_t mask = m == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << m) - 1;
    const std::uint64_t last = std::uint64_t{1} << (m - 1);
    std::uint64_t vp = mask, vn = 0;
    std::uint32_t score = static_cast<std::uint32_t>(m);
    for (std::size_t j = 0; j < b.size; ++j)
        score += static_cast<std::uint32_t>(myers_step(peq[b[j]], vp, vn, mask, last));
    return score;
}

}  // namespace

std::uint32_t levenshtein_bytes(Seq<std::uint8_t> a, Seq<std::uint8_t> b) {
    if (a.empty()) return static_cast<std::uint32_t>(b.size);
    if (b.empty()) return static_cast<std::uint32_t>(a.size);
    if (a.size > b.size) std::swap(a, b);
    if (a.size <= 64) return short_pattern(a, b);
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
