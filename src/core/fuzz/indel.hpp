// Indel distance (insertions and deletions only) and the 0-100 indel ratio.
//
// indel(a, b) = |a| + |b| - 2 * LCS(a, b), which is exactly the row recurrence with
// insertion/deletion cost 1 and substitution cost 2. LCS is computed bit-parallel
// (Hyyrö 2004: V' = (V + (V & M)) | (V & ~M)), one 64-bit word per 64 symbols of the
// pattern, so a pair costs O(ceil(n/64) * m). The pattern is the shorter text; the
// distance is symmetric, so the choice never changes a value.
// See also: pattern.hpp, ratio.hpp.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/common/pattern.hpp"
#include "core/common/text.hpp"

namespace tarnvel::core {

namespace detail {

inline std::uint64_t add_carry(std::uint64_t a, std::uint64_t b, std::uint64_t carry_in,
                               std::uint64_t& carry_out) {
    const std::uint64_t s1 = a + b;
    const std::uint64_t c1 = s1 < a;
    const std::uint64_t s2 = s1 + carry_in;
    const std::uint64_t c2 = s2 < s1;
    carry_out = c1 | c2;
    return s2;
}

// LCS of a pattern of at most 64 symbols (table peq, length len) against text s.
template <typename CharT>
inline std::size_t lcs_word(const std::uint64_t* peq, std::size_t len, Seq<CharT> s) {
    std::uint64_t v = ~std::uint64_t{0};
    for (std::size_t j = 0; j < s.size; ++j) {
        const auto c = static_cast<std::uint32_t>(s[j]);
        const std::uint64_t m = c < 256 ? peq[c] : 0;
        const std::uint64_t u = v & m;
        v = (v + u) | (v - u);
    }
    const std::uint64_t mask = len == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << len) - 1;
    return static_cast<std::size_t>(std::popcount(~v & mask));
}

}  // namespace detail

// LCS of the pattern's sequence against s (any pattern length).
template <typename CharT>
std::size_t lcs_blocked(const BlockPattern& p, Seq<CharT> s, std::vector<std::uint64_t>& v) {
    const std::size_t words = p.words();
    v.assign(words, ~std::uint64_t{0});
    std::uint64_t* vp = v.data();
    for (std::size_t j = 0; j < s.size; ++j) {
        const std::uint64_t* row = p.row(static_cast<std::uint32_t>(s[j]));
        std::uint64_t carry = 0;
        for (std::size_t w = 0; w < words; ++w) {
            const std::uint64_t x = vp[w];
            const std::uint64_t u = x & row[w];
            vp[w] = detail::add_carry(x, u, carry, carry) | (x - u);
        }
    }
    std::size_t lcs = 0;
    const std::size_t len = p.size();
    for (std::size_t w = 0; w < words; ++w) {
        std::uint64_t zeros = ~vp[w];
        const std::size_t bits = len - w * 64;
        if (bits < 64) zeros &= (std::uint64_t{1} << bits) - 1;
        lcs += static_cast<std::size_t>(std::popcount(zeros));
    }
    return lcs;
}

template <typename CharT>
std::size_t lcs_blocked(const BlockPattern& p, Seq<CharT> s) {
    std::vector<std::uint64_t> v;
    return lcs_blocked(p, s, v);
}

// LCS length of two sequences of any symbol widths.
template <typename CharA, typename CharB>
std::size_t lcs_length(Seq<CharA> a, Seq<CharB> b) {
    if (a.size > b.size) return lcs_length(b, a);  // shorter one is the pattern
    if (a.size == 0) return 0;
    bool narrow = sizeof(CharA) == 1;
    if constexpr (sizeof(CharA) > 1) {
        narrow = true;
        for (std::size_t i = 0; i < a.size && narrow; ++i) narrow = a[i] < 256;
    }
    if (a.size <= 64 && narrow) {
        std::uint64_t peq[256] = {};
        for (std::size_t i = 0; i < a.size; ++i)
            peq[static_cast<std::uint32_t>(a[i])] |= std::uint64_t{1} << i;
        return detail::lcs_word(peq, a.size, b);
    }
    const BlockPattern p(a);
    return lcs_blocked(p, b);
}

// Indel distance of two sequences; equal to the plain recurrence for every input.
template <typename CharA, typename CharB>
std::uint64_t indel_distance(Seq<CharA> a, Seq<CharB> b) {
    if (a.size == 0) return b.size;
    if (b.size == 0) return a.size;
    if (seq_equal(a, b)) return 0;
    return a.size + b.size - 2 * lcs_length(a, b);
}

// Indel distance of two texts (bytes when both are ASCII, else code points).
inline std::uint64_t indel_distance(Text a, Text b) {
    return with_symbols(a, b, [](auto sa, auto sb) { return indel_distance(sa, sb); });
}

}  // namespace tarnvel::core
