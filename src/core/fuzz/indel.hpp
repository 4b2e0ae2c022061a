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

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

#include "core/common/bitpar.hpp"
#include "core/common/pattern.hpp"
#include "core/common/text.hpp"

namespace tarnvel::core {

namespace detail {

// a + b + carry_in with the carry out of bit 63; one adc on x86-64.
inline std::uint64_t add_carry(std::uint64_t a, std::uint64_t b, std::uint64_t carry_in,
                               std::uint64_t& carry_out) {
#if defined(__x86_64__)
    unsigned long long sum;
    carry_out = _addcarry_u64(static_cast<unsigned char>(carry_in), a, b, &sum);
    return sum;
#else
    const unsigned __int128 wide = static_cast<unsigned __int128>(a) + b + carry_in;
    carry_out = static_cast<std::uint64_t>(wide >> 64);
    return static_cast<std::uint64_t>(wide);
#endif
}

// The address of a thread-local object, taken once. In a shared library each recomputation
// is a __tls_get_addr call, and the compiler otherwise repeats it inside loops rather than
// keep the address in a register: about a tenth of a short fuzz_ratio call.
template <typename T>
inline T* pinned(T* p) {
    asm("" : "+r"(p));
    return p;
}

// 256 match masks per thread, all zero whenever no kernel is using them.
inline std::uint64_t* byte_scratch_table() {
    thread_local std::uint64_t table[256] = {};
    return pinned(&table[0]);
}

// A code-point pattern per thread, kept all-zero between uses (see byte_scratch_table).
inline SymbolPattern64& symbol_scratch() {
    thread_local SymbolPattern64 p{};
    return *pinned(&p);
}

inline std::size_t zeros_below(std::uint64_t v, std::size_t len) {
    const std::uint64_t mask = len == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << len) - 1;
    return static_cast<std::size_t>(std::popcount(~v & mask));
}

// LCS of a pattern of at most 64 symbols against text s; lookup(c) gives c's mask.
template <typename CharT, typename Lookup>
inline std::size_t lcs_word(Lookup&& lookup, std::size_t len, Seq<CharT> s) {
    std::uint64_t v = ~std::uint64_t{0};
    for (std::size_t j = 0; j < s.size; ++j) {
        v = lcs_step(v, lookup(static_cast<std::uint32_t>(s[j])));
    }
    return zeros_below(v, len);
}

}  // namespace detail

namespace detail {

// One text symbol across all words of V. The only dependency between words is the
// addition carry; computing four masks first lets the four additions run as one adc
// chain with the carry kept in the flags.
inline void lcs_step_words(std::uint64_t* __restrict vp, const std::uint64_t* __restrict row,
                           std::size_t words) {
    std::uint64_t carry = 0;
    std::size_t w = 0;
#if defined(__x86_64__)
    unsigned char c = 0;
    for (; w + 4 <= words; w += 4) {
        const std::uint64_t x0 = vp[w], x1 = vp[w + 1], x2 = vp[w + 2], x3 = vp[w + 3];
        const std::uint64_t u0 = x0 & row[w], u1 = x1 & row[w + 1], u2 = x2 & row[w + 2],
                            u3 = x3 & row[w + 3];
        unsigned long long s0, s1, s2, s3;
        c = _addcarry_u64(c, x0, u0, &s0);
        c = _addcarry_u64(c, x1, u1, &s1);
        c = _addcarry_u64(c, x2, u2, &s2);
        c = _addcarry_u64(c, x3, u3, &s3);
        vp[w] = s0 | (x0 - u0);
        vp[w + 1] = s1 | (x1 - u1);
        vp[w + 2] = s2 | (x2 - u2);
        vp[w + 3] = s3 | (x3 - u3);
    }
    carry = c;
#endif
    for (; w < words; ++w) {
        const std::uint64_t x = vp[w];
        const std::uint64_t u = x & row[w];
        vp[w] = add_carry(x, u, carry, carry) | (x - u);
    }
}

}  // namespace detail

// LCS of the pattern's sequence against s (any pattern length); v is scratch.
template <typename CharT>
std::size_t lcs_blocked(const BlockPattern& p, Seq<CharT> s, std::vector<std::uint64_t>& v) {
    const std::size_t words = p.words();
    v.assign(words, ~std::uint64_t{0});
    std::uint64_t* vp = v.data();
    if (!p.blocked()) {
        for (std::size_t j = 0; j < s.size; ++j)
            detail::lcs_step_words(vp, p.row(static_cast<std::uint32_t>(s[j])), words);
    } else {
        BlockPattern::Rows rows(p);
        for (std::size_t j = 0; j < s.size; ++j)
            detail::lcs_step_words(vp, rows(static_cast<std::uint32_t>(s[j])), words);
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
    if (a.size <= 64) {
        if constexpr (sizeof(CharA) == 1) {
            // A per-thread table that is all zeros between calls: setting and then clearing
            // only the pattern's entries is much cheaper than zeroing 2 KiB per pair.
            std::uint64_t* peq = detail::byte_scratch_table();
            for (std::size_t i = 0; i < a.size; ++i) peq[a[i]] |= std::uint64_t{1} << i;
            std::size_t lcs;
            if constexpr (sizeof(CharB) == 1) {
                lcs = detail::lcs_word([&](std::uint32_t c) { return peq[c]; }, a.size, b);
            } else {
                lcs = detail::lcs_word([&](std::uint32_t c) { return c < 256 ? peq[c] : 0; },
                                       a.size, b);
            }
            for (std::size_t i = 0; i < a.size; ++i) peq[a[i]] = 0;
            return lcs;
        } else {
            SymbolPattern64& p = detail::symbol_scratch();
            p.set(a);
            const std::size_t lcs =
                detail::lcs_word([&](std::uint32_t c) { return p.get(c); }, a.size, b);
            p.unset(a);
            return lcs;
        }
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
