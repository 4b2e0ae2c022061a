// Exact Needleman-Wunsch kernels along anti-diagonals, generic over the lane type: the
// portable kernels, and the sizes and layout shared with the vector kernels.
//
// Cells with i + k = d do not depend on each other, so a whole anti-diagonal is one loop
// without a carried dependency (Wozniak 1997), which the compiler vectorises for the
// baseline instruction set. The arithmetic is plain: the caller must have proven
// (alignment.cpp, linear_lanes() / affine_lanes()) that no value of the recurrence can
// leave the range of T, in which case it equals the saturating recurrence value for value.
//
// The Tag parameter keeps each instantiation a distinct symbol, so that a copy compiled
// for another target can never be picked by the linker for a baseline caller.
// Layout: diagonals are indexed by the row i (0..n); three diagonals rotate in `work`.
// a holds the n symbols of a; rb holds the m symbols of b in reverse order, so that cell
// (i, d - i) compares a[i - 1] with rb[m - d + i], both increasing with i. Both arrays
// must be readable lane_pad<T>() symbols past their end, and rb as many before its start.
// See also: alignment_scalar.hpp (the definition), src/simd/generic/alignment.inc (AVX2 and
// AVX-512 kernels on the same layout).
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace tarnvel::core::detail {

// Stretches are processed in whole blocks of lane_pad<T>() cells (one 512-bit vector),
// so no diagonal ends in a scalar remainder loop. The extra cells past the end of a
// stretch compute garbage from padding: they lie beyond the last valid row of their
// diagonal, where no valid cell ever reads them (the boundary cell at row d is written
// after the stretch), and their additions wrap (wrap_add) instead of overflowing.
template <class T>
constexpr std::size_t lane_pad() {
    return 64 / sizeof(T);
}

template <class T>
inline T wrap_add(T x, T y) {
    using U = std::make_unsigned_t<T>;
    return static_cast<T>(static_cast<U>(static_cast<U>(x) + static_cast<U>(y)));
}

// One stretch of an anti-diagonal: cell t has diagonal predecessor diag[t], upper
// up[t] and left up[t + 1]. The restrict parameters let the compiler vectorise without
// run-time overlap checks.
template <class Tag, class T, class S>
inline void linear_cells(const S* __restrict ai, const S* __restrict bi, const T* __restrict diag,
                         const T* __restrict up, T* __restrict out, std::size_t len, T match,
                         T mismatch, T gap) {
    constexpr std::size_t kBlock = lane_pad<T>();
    for (std::size_t base = 0; base < len; base += kBlock) {
        for (std::size_t u = 0; u < kBlock; ++u) {
            const std::size_t t = base + u;
            const T s = ai[t] == bi[t] ? match : mismatch;
            const T x = wrap_add(diag[t], s);
            const T ul = up[t] < up[t + 1] ? up[t + 1] : up[t];
            const T y = wrap_add(ul, gap);
            out[t] = x < y ? y : x;
        }
    }
}

// Affine stretch: d* are the three states at the diagonal predecessor, u*[t] at the upper
// and u*[t + 1] at the left neighbour.
template <class Tag, class T, class S>
inline void affine_cells(const S* __restrict ai, const S* __restrict bi, const T* __restrict dm,
                         const T* __restrict dx, const T* __restrict dy, const T* __restrict um,
                         const T* __restrict ux, const T* __restrict uy, T* __restrict om,
                         T* __restrict ox, T* __restrict oy, std::size_t len, T match, T mismatch,
                         T extend, T open_extend) {
    constexpr std::size_t kBlock = lane_pad<T>();
    for (std::size_t base = 0; base < len; base += kBlock) {
        for (std::size_t u = 0; u < kBlock; ++u) {
            const std::size_t t = base + u;
            const T s = ai[t] == bi[t] ? match : mismatch;
            T best = dm[t] < dx[t] ? dx[t] : dm[t];
            best = best < dy[t] ? dy[t] : best;
            om[t] = wrap_add(best, s);
            const T vx = wrap_add(ux[t], extend);
            const T vmy = um[t] < uy[t] ? uy[t] : um[t];
            const T vo = wrap_add(vmy, open_extend);
            ox[t] = vx < vo ? vo : vx;
            const T hy = wrap_add(uy[t + 1], extend);
            const T hmx = um[t + 1] < ux[t + 1] ? ux[t + 1] : um[t + 1];
            const T ho = wrap_add(hmx, open_extend);
            oy[t] = hy < ho ? ho : hy;
        }
    }
}

// Rows of a per stripe: the table is swept in horizontal stripes of this many rows so
// that the three (or nine) diagonal arrays stay in the first-level cache; a stripe hands
// its last row to the next one through a row of m + 1 cells per state.
template <class T>
constexpr std::size_t stripe_rows() {
    return 2048 / sizeof(T);
}

// Cells between two diagonal arrays for stripes of at most h rows: room for the rows
// 0..h plus one padding vector, in whole cache lines, plus one more line so that the
// arrays do not sit a multiple of 4 KiB apart (loads would falsely wait on stores to
// another array at the same offset within a page). With `work` 64-byte aligned,
// diagonal_base() puts row 1, where the vector blocks start, on a cache-line boundary.
template <class T>
constexpr std::size_t diagonal_stride(std::size_t h) {
    constexpr std::size_t line = 64 / sizeof(T);
    return (h + 1 + lane_pad<T>() + line) / line * line + line;
}
template <class T>
constexpr std::size_t diagonal_base() {
    return 64 / sizeof(T) - 1;
}

// The striped vector kernels (src/simd/generic/alignment.inc) keep one column of a stripe of
// the longer text per array: at most stripe_rows<T>() positions (a multiple of every lane
// count), so that a stripe's arrays stay in the first-level cache. An array holds the
// padded stripe (whole vectors of up to lane_pad<T>() lanes) plus one cache line, so that
// arrays do not sit a multiple of 4 KiB apart.
template <class T>
constexpr std::size_t striped_rows(std::size_t q_len) {
    return q_len < stripe_rows<T>() ? q_len : stripe_rows<T>();
}
template <class T>
constexpr std::size_t striped_array_cells(std::size_t rows) {
    return (rows + lane_pad<T>() - 1) / lane_pad<T>() * lane_pad<T>() + lane_pad<T>();
}
// Distinct query symbols that get a row of precomputed scores; a query with more
// compares symbols instead. DNA and protein texts fit.
inline constexpr std::size_t kProfileSymbols = 32;
// The striped query symbols and up to kProfileSymbols + 1 profile rows.
template <class T>
constexpr std::size_t striped_query_cells(std::size_t rows) {
    return (kProfileSymbols + 2) * striped_array_cells<T>(rows);
}

// Cells of work space the kernels need for a table of n x m: enough for the
// anti-diagonal sweeps and for the striped ones (two column arrays linear, six affine,
// and two edge rows over the shorter text).
template <class T>
std::size_t striped_work_cells(std::size_t n, std::size_t m, std::size_t arrays) {
    const std::size_t q = n < m ? m : n, c = n < m ? n : m;
    const std::size_t rows = striped_rows<T>(q);
    return striped_query_cells<T>(rows) + arrays * striped_array_cells<T>(rows) + 2 * (c + 1);
}
template <class T>
std::size_t nw_linear_work_cells(std::size_t n, std::size_t m) {
    const std::size_t h = n < stripe_rows<T>() ? n : stripe_rows<T>();
    // The anti-diagonal kernels keep four arrays.
    const std::size_t diagonals = 4 * diagonal_stride<T>(h) + (m + 1);
    const std::size_t striped = striped_work_cells<T>(n, m, 2);
    return diagonals < striped ? striped : diagonals;
}
template <class T>
std::size_t nw_affine_work_cells(std::size_t n, std::size_t m) {
    const std::size_t h = n < stripe_rows<T>() ? n : stripe_rows<T>();
    // The anti-diagonal vector kernels keep five arrays per diagonal.
    const std::size_t diagonals = 15 * diagonal_stride<T>(h) + 3 * (m + 1);
    const std::size_t striped = striped_work_cells<T>(n, m, 6);
    return diagonals < striped ? striped : diagonals;
}

// scores: match, mismatch, gap. Inside a stripe of rows i0 + 1 .. i0 + h, diagonal d
// holds the cells (r, d - r) for local rows r; r = 0 is the stripe's top row (the
// previous stripe's bottom row, kept in `row`), column 0 is the global left boundary.
template <class Tag, class T, class S>
T nw_linear_diagonals(const S* __restrict a, std::size_t n, const S* __restrict rb, std::size_t m,
                      const T* scores, T* __restrict work) {
    const T match = scores[0], mismatch = scores[1], gap = scores[2];
    const std::size_t hmax = n < stripe_rows<T>() ? n : stripe_rows<T>();
    const std::size_t w = diagonal_stride<T>(hmax);
    T* __restrict row = work + 3 * w;
    for (std::size_t k = 0; k <= m; ++k)
        row[k] = static_cast<T>(static_cast<std::int64_t>(gap) * static_cast<std::int64_t>(k));
    for (std::size_t i0 = 0; i0 < n; i0 += hmax) {
        const std::size_t h = n - i0 < hmax ? n - i0 : hmax;
        const S* __restrict as = a + i0;
        T* __restrict p2 = work;      // diagonal d - 2
        T* __restrict p1 = work + w;  // diagonal d - 1
        T* __restrict cur = work + 2 * w;
        p1[0] = row[0];
        for (std::size_t d = 1; d <= h + m; ++d) {
            const std::size_t lo = d > m ? d - m : 1;
            const std::size_t hi = d - 1 < h ? d - 1 : h;
            if (lo <= hi)
                linear_cells<Tag>(as + lo - 1, rb + (m + lo - d), p2 + lo - 1, p1 + lo - 1,
                                  cur + lo, hi - lo + 1, match, mismatch, gap);
            if (d <= m) cur[0] = row[d];
            if (d <= h)
                cur[d] = static_cast<T>(static_cast<std::int64_t>(gap) *
                                        static_cast<std::int64_t>(i0 + d));
            if (d >= h) row[d - h] = cur[h];
            T* t = p2;
            p2 = p1;
            p1 = cur;
            cur = t;
        }
    }
    return row[m];
}

// scores: match, mismatch, open, extend, neg (the value of an unreachable state).
// Gotoh's states per cell: M ends in a pair, X in a gap consuming a, Y in a gap
// consuming b. X(i, k) reads diagonal d - 1 at r - 1, Y(i, k) at r, M diagonal d - 2.
// Stripes as in nw_linear_diagonals, with one boundary row per state.
template <class Tag, class T, class S>
T nw_affine_diagonals(const S* __restrict a, std::size_t n, const S* __restrict rb, std::size_t m,
                      const T* scores, T* __restrict work) {
    const T match = scores[0], mismatch = scores[1], open = scores[2], extend = scores[3],
            neg = scores[4];
    const T open_extend = static_cast<T>(open + extend);
    const auto gap_run = [open, extend](std::size_t k) {
        return static_cast<T>(static_cast<std::int64_t>(open) +
                              static_cast<std::int64_t>(extend) * static_cast<std::int64_t>(k));
    };
    const std::size_t hmax = n < stripe_rows<T>() ? n : stripe_rows<T>();
    const std::size_t w = diagonal_stride<T>(hmax);
    T* __restrict rm = work + 9 * w;
    T* __restrict rx = rm + (m + 1);
    T* __restrict ry = rx + (m + 1);
    rm[0] = 0;
    rx[0] = neg;
    ry[0] = neg;
    for (std::size_t k = 1; k <= m; ++k) {
        rm[k] = ry[k] = gap_run(k);
        rx[k] = neg;
    }
    for (std::size_t i0 = 0; i0 < n; i0 += hmax) {
        const std::size_t h = n - i0 < hmax ? n - i0 : hmax;
        const S* __restrict as = a + i0;
        T* __restrict m2 = work;
        T* __restrict x2 = work + w;
        T* __restrict y2 = work + 2 * w;
        T* __restrict m1 = work + 3 * w;
        T* __restrict x1 = work + 4 * w;
        T* __restrict y1 = work + 5 * w;
        T* __restrict m0 = work + 6 * w;
        T* __restrict x0 = work + 7 * w;
        T* __restrict y0 = work + 8 * w;
        m1[0] = rm[0];
        x1[0] = rx[0];
        y1[0] = ry[0];
        for (std::size_t d = 1; d <= h + m; ++d) {
            const std::size_t lo = d > m ? d - m : 1;
            const std::size_t hi = d - 1 < h ? d - 1 : h;
            if (lo <= hi)
                affine_cells<Tag>(as + lo - 1, rb + (m + lo - d), m2 + lo - 1, x2 + lo - 1,
                                  y2 + lo - 1, m1 + lo - 1, x1 + lo - 1, y1 + lo - 1, m0 + lo,
                                  x0 + lo, y0 + lo, hi - lo + 1, match, mismatch, extend,
                                  open_extend);
            if (d <= m) {
                m0[0] = rm[d];
                x0[0] = rx[d];
                y0[0] = ry[d];
            }
            if (d <= h) {
                m0[d] = x0[d] = gap_run(i0 + d);
                y0[d] = neg;
            }
            if (d >= h) {
                rm[d - h] = m0[h];
                rx[d - h] = x0[h];
                ry[d - h] = y0[h];
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
    }
    T best = rm[m] < rx[m] ? rx[m] : rm[m];
    return best < ry[m] ? ry[m] : best;
}

}  // namespace tarnvel::core::detail
