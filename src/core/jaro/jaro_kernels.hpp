// Bit-parallel Jaro: the one-word kernel (both texts at most 64 symbols) and the
// multi-word kernel for longer texts.
//
// The candidate (b) is turned into match masks: bit k of row c is set when b[k] == c.
// For each position i of a, the free matches inside the window are
// row(a[i]) & window(i) & ~F, and the lowest of them (x & -x) is exactly the position
// the scan would take. The multi-word form keeps F in ceil(|b|/64) words and touches only
// the words under the window, so a pair costs O(|a| * (1 + 2w/64)) word operations at
// worst and O(|a|) when matches are close. Transpositions pair the i-th set bit of A
// (matched positions of a) with the i-th set bit of F.
// See also: jaro_scalar.hpp (the scan these equal bit for bit).
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/common/text.hpp"
#include "core/jaro/jaro_scalar.hpp"

namespace tarnvel::core::detail {

inline std::uint64_t low_bits(std::size_t n) {  // the low n bits, n <= 64
    return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
}

// One word: |a| <= 64 and |b| <= 64, both non-empty; peq is the table of b.
template <typename CharA, typename CharB, typename RowFn>
double jaro_word(Seq<CharA> a, Seq<CharB> b, RowFn&& row) {
    const std::size_t la = a.size, lb = b.size;
    const std::size_t w = jaro_window(la, lb);
    // The window slides one position per step: hi gains bit i+w, lc (bits below i-w)
    // gains bit i-w-1 once i > w.
    const std::uint64_t len_mask = low_bits(lb);
    std::uint64_t hi = low_bits(std::min<std::size_t>(w + 1, 64)) & len_mask, lc = 0;
    std::uint64_t F = 0, A = 0;
    std::uint32_t m = 0;
    const std::size_t steps = std::min(la, lb + w);  // later windows lie past the end of b
    for (std::size_t i = 0; i < steps; ++i) {
        if (i > w) lc = (lc << 1) | 1;
        const std::uint64_t N = row(a[i]) & hi & ~(F | lc);
        if (N) {
            F |= N & (0 - N);
            A |= std::uint64_t{1} << i;
            ++m;
        }
        hi = ((hi << 1) | 1) & len_mask;
    }
    if (m == 0) return 0.0;
    std::uint32_t t = 0;
    while (A) {
        const int i = std::countr_zero(A);
        const int k = std::countr_zero(F);
        t += static_cast<std::uint32_t>(a[i]) != static_cast<std::uint32_t>(b[k]);
        A &= A - 1;
        F &= F - 1;
    }
    return jaro_finish_small(m, t, la, lb);
}

// Any lengths (both non-empty). id(c) is the row of symbol c (rows[id * words .. +words),
// words = ceil(|b|/64)) or kNoRow when b lacks c; next[id] (zeroed, one per row) is the
// search start of that symbol. Per symbol the scan is a two-pointer merge of the
// positions of c in a and in b, so b's matched positions of c always form a prefix of
// those not yet left behind the window: every occurrence of c in [lo, next[c]) is taken
// and every one from next[c] on is free. Searching from max(lo, next[c]) therefore finds
// the scan's choice without consulting F, usually in the first word it reads. F and A
// are zeroed scratch of ceil(|b|/64) and ceil(|a|/64) words.
inline constexpr std::uint32_t kNoRow = 0xFFFFFFFFu;

template <typename CharA, typename CharB, typename IdFn>
double jaro_blocks(Seq<CharA> a, Seq<CharB> b, IdFn&& id, const std::uint64_t* rows,
                   std::uint32_t* next, std::uint64_t* F, std::uint64_t* A) {
    const std::size_t la = a.size, lb = b.size;
    const std::size_t words = (lb + 63) / 64;
    const std::size_t w = jaro_window(la, lb);
    std::uint64_t m = 0;
    for (std::size_t i = 0; i < la; ++i) {
        const std::size_t lo = i >= w ? i - w : 0;
        if (lo >= lb) break;
        const std::uint32_t r = id(a[i]);
        if (r == kNoRow) continue;
        const std::size_t hi = std::min(lb - 1, i + w);
        const std::size_t from = std::max<std::size_t>(lo, next[r]);
        if (from > hi) continue;
        const std::uint64_t* row = rows + std::size_t{r} * words;
        const std::size_t wlo = from / 64, whi = hi / 64;
        std::uint64_t x = row[wlo] & (~std::uint64_t{0} << (from % 64));
        std::size_t wd = wlo;
        while (x == 0 && wd < whi) x = row[++wd];
        if (wd == whi) x &= low_bits(hi % 64 + 1);
        if (x == 0) continue;
        const std::size_t k = wd * 64 + static_cast<std::size_t>(std::countr_zero(x));
        F[wd] |= x & (0 - x);
        A[i / 64] |= std::uint64_t{1} << (i % 64);
        next[r] = static_cast<std::uint32_t>(k + 1);
        ++m;
    }
    if (m == 0) return 0.0;
    std::uint64_t t = 0;
    std::size_t kw = 0;
    std::uint64_t fw = F[0];
    const std::size_t wa = (la + 63) / 64;
    for (std::size_t iw = 0; iw < wa; ++iw) {
        for (std::uint64_t x = A[iw]; x; x &= x - 1) {
            const std::size_t i = iw * 64 + static_cast<std::size_t>(std::countr_zero(x));
            while (fw == 0) fw = F[++kw];
            const std::size_t k = kw * 64 + static_cast<std::size_t>(std::countr_zero(fw));
            t += static_cast<std::uint32_t>(a[i]) != static_cast<std::uint32_t>(b[k]);
            fw &= fw - 1;
        }
    }
    return jaro_finish(m, t, la, lb);
}

// jaro_blocks with each symbol's positions in b as a sorted list instead of a row of
// masks (memory O(|b|) whatever the alphabet): pos[start[r] .. start[r + 1]) are the
// positions of symbol r, and next[r] (starting at start[r]) indexes the first of them
// not yet taken or left behind. The same merge argument applies: positions before lo
// never return to a later window, so the first listed position at or after lo is the
// scan's choice when it is at most hi. F and A as for jaro_blocks.
template <typename CharA, typename CharB, typename IdFn>
double jaro_lists(Seq<CharA> a, Seq<CharB> b, IdFn&& id, const std::size_t* start,
                  const std::uint32_t* pos, std::size_t* next, std::uint64_t* F, std::uint64_t* A) {
    const std::size_t la = a.size, lb = b.size;
    const std::size_t w = jaro_window(la, lb);
    std::uint64_t m = 0;
    for (std::size_t i = 0; i < la; ++i) {
        const std::size_t lo = i >= w ? i - w : 0;
        if (lo >= lb) break;
        const std::uint32_t r = id(a[i]);
        if (r == kNoRow) continue;
        const std::size_t hi = std::min(lb - 1, i + w);
        std::size_t x = next[r];
        const std::size_t end = start[r + 1];
        while (x < end && pos[x] < lo) ++x;
        next[r] = x;
        if (x == end || pos[x] > hi) continue;
        const std::size_t k = pos[x];
        F[k / 64] |= std::uint64_t{1} << (k % 64);
        A[i / 64] |= std::uint64_t{1} << (i % 64);
        next[r] = x + 1;
        ++m;
    }
    if (m == 0) return 0.0;
    std::uint64_t t = 0;
    std::size_t kw = 0;
    std::uint64_t fw = F[0];
    const std::size_t wa = (la + 63) / 64;
    for (std::size_t iw = 0; iw < wa; ++iw) {
        for (std::uint64_t x = A[iw]; x; x &= x - 1) {
            const std::size_t i = iw * 64 + static_cast<std::size_t>(std::countr_zero(x));
            while (fw == 0) fw = F[++kw];
            const std::size_t k = kw * 64 + static_cast<std::size_t>(std::countr_zero(fw));
            t += static_cast<std::uint32_t>(a[i]) != static_cast<std::uint32_t>(b[k]);
            fw &= fw - 1;
        }
    }
    return jaro_finish(m, t, la, lb);
}

}  // namespace tarnvel::core::detail
