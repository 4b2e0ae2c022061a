// Saturating signed 64-bit arithmetic and the plain row-by-row Needleman-Wunsch loops.
//
// These loops are the definition every faster path must reproduce; they run whenever the
// scores and lengths do not prove that all values stay far from the 64-bit limits.
// See also: alignment_kernels.hpp (exact anti-diagonal kernels), alignment.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/alignment/alignment.hpp"
#include "core/common/text.hpp"
#include "engine/cancel.hpp"

namespace tarnvel::core::detail {

inline constexpr std::int64_t kI64Max = std::numeric_limits<std::int64_t>::max();
inline constexpr std::int64_t kI64Min = std::numeric_limits<std::int64_t>::min();

// x + y, clamped; an overflow can only happen when both have the sign of x.
inline std::int64_t sat_add(std::int64_t x, std::int64_t y) {
    std::int64_t r;
    if (__builtin_add_overflow(x, y, &r)) return x > 0 ? kI64Max : kI64Min;
    return r;
}

// x * k for a length or index k >= 0, clamped in the direction of the sign of x.
inline std::int64_t sat_mul(std::int64_t x, std::size_t k) {
    if (x == 0 || k == 0) return 0;
    std::int64_t r;
    if (k > static_cast<std::size_t>(kI64Max) ||
        __builtin_mul_overflow(x, static_cast<std::int64_t>(k), &r))
        return x > 0 ? kI64Max : kI64Min;
    return r;
}

inline std::int64_t max3(std::int64_t x, std::int64_t y, std::int64_t z) {
    const std::int64_t t = x < y ? y : x;
    return t < z ? z : t;
}

// One row of m + 1 cells, rows over a, columns over b.
template <typename CharA, typename CharB>
std::int64_t nw_linear_rows(Seq<CharA> a, Seq<CharB> b, std::int64_t match, std::int64_t mismatch,
                            std::int64_t gap) {
    const std::size_t n = a.size, m = b.size;
    std::vector<std::int64_t> row(m + 1);
    for (std::size_t k = 0; k <= m; ++k) row[k] = sat_mul(gap, k);
    engine::StepCheck check(m);
    for (std::size_t i = 1; i <= n; ++i) {
        check();
        const std::uint32_t c = a[i - 1];
        std::int64_t diag = row[0];
        row[0] = sat_mul(gap, i);
        for (std::size_t k = 1; k <= m; ++k) {
            const std::int64_t s = c == static_cast<std::uint32_t>(b[k - 1]) ? match : mismatch;
            const std::int64_t up = row[k];
            row[k] = max3(sat_add(diag, s), sat_add(up, gap), sat_add(row[k - 1], gap));
            diag = up;
        }
    }
    return row[m];
}

// Gotoh's three states in three rows; row i is written over row i - 1 from left to right.
template <typename CharA, typename CharB>
std::int64_t nw_affine_rows(Seq<CharA> a, Seq<CharB> b, std::int64_t match, std::int64_t mismatch,
                            std::int64_t open, std::int64_t extend) {
    const std::size_t n = a.size, m = b.size;
    std::vector<std::int64_t> mrow(m + 1, NW_NEG), xrow(m + 1, NW_NEG), yrow(m + 1, NW_NEG);
    const auto gap_run = [&](std::size_t k) { return sat_add(open, sat_mul(extend, k)); };
    mrow[0] = 0;
    for (std::size_t j = 1; j <= m; ++j) mrow[j] = yrow[j] = gap_run(j);
    engine::StepCheck check(m);
    for (std::size_t i = 1; i <= n; ++i) {
        check();
        const std::uint32_t c = a[i - 1];
        // Diagonal predecessors of column 1: the previous row's column 0.
        std::int64_t dm = mrow[0], dx = xrow[0], dy = yrow[0];
        mrow[0] = xrow[0] = gap_run(i);
        yrow[0] = NW_NEG;
        for (std::size_t j = 1; j <= m; ++j) {
            const std::int64_t s = c == static_cast<std::uint32_t>(b[j - 1]) ? match : mismatch;
            const std::int64_t um = mrow[j], ux = xrow[j], uy = yrow[j];
            const std::int64_t lm = mrow[j - 1], lx = xrow[j - 1], ly = yrow[j - 1];
            mrow[j] = sat_add(max3(dm, dx, dy), s);
            xrow[j] = max3(sat_add(ux, extend), sat_add(sat_add(um, open), extend),
                           sat_add(sat_add(uy, open), extend));
            yrow[j] = max3(sat_add(ly, extend), sat_add(sat_add(lm, open), extend),
                           sat_add(sat_add(lx, open), extend));
            dm = um;
            dx = ux;
            dy = uy;
        }
    }
    return max3(mrow[m], xrow[m], yrow[m]);
}

}  // namespace tarnvel::core::detail
