// Exact Needleman-Wunsch kernels along anti-diagonals, generic over the lane type.
//
// Cells with i + k = d do not depend on each other, so a whole anti-diagonal is one loop
// without a carried dependency (Wozniak 1997); the compiler vectorises it for the target
// of the translation unit that instantiates it. The arithmetic is plain: the caller must
// have proven (alignment.cpp, exact_lanes()) that no value of the recurrence can leave
// the range of T, in which case it equals the saturating recurrence value for value.
//
// Each target instantiates these with its own Tag type, so the instantiations are
// distinct symbols and the linker can never hand a baseline caller an AVX copy.
// Layout: diagonals are indexed by the row i (0..n); three diagonals rotate in `work`.
// a holds the n symbols of a; rb holds the m symbols of b in reverse order, so that cell
// (i, d - i) compares a[i - 1] with rb[m - d + i], both increasing with i.
// See also: alignment_scalar.hpp (the definition), src/simd/alignment_avx2.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnvel::core::detail {

// Cells of work space the kernels need for a of length n.
inline std::size_t nw_linear_work_cells(std::size_t n) { return 3 * (n + 1); }
inline std::size_t nw_affine_work_cells(std::size_t n) { return 9 * (n + 1); }

// One stretch of an anti-diagonal: cell t has diagonal predecessor diag[t], upper
// up[t] and left up[t + 1]. The restrict parameters let the compiler vectorise without
// run-time overlap checks.
template <class Tag, class T, class S>
inline void linear_cells(const S* __restrict ai, const S* __restrict bi,
                         const T* __restrict diag, const T* __restrict up, T* __restrict out,
                         std::size_t len, T match, T mismatch, T gap) {
    for (std::size_t t = 0; t < len; ++t) {
        const T s = ai[t] == bi[t] ? match : mismatch;
        const T x = static_cast<T>(diag[t] + s);
        const T ul = up[t] < up[t + 1] ? up[t + 1] : up[t];
        const T y = static_cast<T>(ul + gap);
        out[t] = x < y ? y : x;
    }
}

// Affine stretch: d* are the three states at the diagonal predecessor, u*[t] at the upper
// and u*[t + 1] at the left neighbour.
template <class Tag, class T, class S>
inline void affine_cells(const S* __restrict ai, const S* __restrict bi,
                         const T* __restrict dm, const T* __restrict dx, const T* __restrict dy,
                         const T* __restrict um, const T* __restrict ux,
                         const T* __restrict uy, T* __restrict om, T* __restrict ox,
                         T* __restrict oy, std::size_t len, T match, T mismatch, T extend,
                         T open_extend) {
    for (std::size_t t = 0; t < len; ++t) {
        const T s = ai[t] == bi[t] ? match : mismatch;
        T best = dm[t] < dx[t] ? dx[t] : dm[t];
        best = best < dy[t] ? dy[t] : best;
        om[t] = static_cast<T>(best + s);
        const T vx = static_cast<T>(ux[t] + extend);
        const T vmy = um[t] < uy[t] ? uy[t] : um[t];
        const T vo = static_cast<T>(vmy + open_extend);
        ox[t] = vx < vo ? vo : vx;
        const T hy = static_cast<T>(uy[t + 1] + extend);
        const T hmx = um[t + 1] < ux[t + 1] ? ux[t + 1] : um[t + 1];
        const T ho = static_cast<T>(hmx + open_extend);
        oy[t] = hy < ho ? ho : hy;
    }
}

// scores: match, mismatch, gap.
template <class Tag, class T, class S>
T nw_linear_diagonals(const S* __restrict a, std::size_t n, const S* __restrict rb,
                      std::size_t m, const T* scores, T* __restrict work) {
    const T match = scores[0], mismatch = scores[1], gap = scores[2];
    const std::size_t w = n + 1;
    T* __restrict p2 = work;  // diagonal d - 2
    T* __restrict p1 = work + w;  // diagonal d - 1
    T* __restrict cur = work + 2 * w;
    p1[0] = 0;
    for (std::size_t d = 1; d <= n + m; ++d) {
        const std::size_t lo = d > m ? d - m : 1;
        const std::size_t hi = d - 1 < n ? d - 1 : n;
        if (lo <= hi)
            linear_cells<Tag>(a + lo - 1, rb + (m + lo - d), p2 + lo - 1, p1 + lo - 1, cur + lo,
                              hi - lo + 1, match, mismatch, gap);
        const T edge = static_cast<T>(static_cast<std::int64_t>(gap) * static_cast<std::int64_t>(d));
        if (d <= m) cur[0] = edge;
        if (d <= n) cur[d] = edge;
        T* t = p2;
        p2 = p1;
        p1 = cur;
        cur = t;
    }
    return p1[n];
}

// scores: match, mismatch, open, extend, neg (the value of an unreachable state).
// Gotoh's states per cell: M ends in a pair, X in a gap consuming a, Y in a gap
// consuming b. X(i, k) reads diagonal d - 1 at i - 1, Y(i, k) at i, M diagonal d - 2.
template <class Tag, class T, class S>
T nw_affine_diagonals(const S* __restrict a, std::size_t n, const S* __restrict rb,
                      std::size_t m, const T* scores, T* __restrict work) {
    const T match = scores[0], mismatch = scores[1], open = scores[2], extend = scores[3],
            neg = scores[4];
    const T open_extend = static_cast<T>(open + extend);
    const std::size_t w = n + 1;
    T* __restrict m2 = work;
    T* __restrict x2 = work + w;
    T* __restrict y2 = work + 2 * w;
    T* __restrict m1 = work + 3 * w;
    T* __restrict x1 = work + 4 * w;
    T* __restrict y1 = work + 5 * w;
    T* __restrict m0 = work + 6 * w;
    T* __restrict x0 = work + 7 * w;
    T* __restrict y0 = work + 8 * w;
    m1[0] = 0;
    x1[0] = neg;
    y1[0] = neg;
    for (std::size_t d = 1; d <= n + m; ++d) {
        const std::size_t lo = d > m ? d - m : 1;
        const std::size_t hi = d - 1 < n ? d - 1 : n;
        if (lo <= hi)
            affine_cells<Tag>(a + lo - 1, rb + (m + lo - d), m2 + lo - 1, x2 + lo - 1,
                              y2 + lo - 1, m1 + lo - 1, x1 + lo - 1, y1 + lo - 1, m0 + lo,
                              x0 + lo, y0 + lo, hi - lo + 1, match, mismatch, extend,
                              open_extend);
        const T edge = static_cast<T>(static_cast<std::int64_t>(open) +
                                      static_cast<std::int64_t>(extend) * static_cast<std::int64_t>(d));
        if (d <= m) {
            m0[0] = edge;
            x0[0] = neg;
            y0[0] = edge;
        }
        if (d <= n) {
            m0[d] = edge;
            x0[d] = edge;
            y0[d] = neg;
        }
        T* t = m2;
        m2 = m1;
        m1 = m0;
        m0 = t;
        t = x2;
        x2 = x1;
        x1 = x0;
        x0 = t;
        t = y2;
        y2 = y1;
        y1 = y0;
        y0 = t;
    }
    T best = m1[n] < x1[n] ? x1[n] : m1[n];
    return best < y1[n] ? y1[n] : best;
}

}  // namespace tarnvel::core::detail
