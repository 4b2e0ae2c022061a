// The reference position scan of Jaro and the shared arithmetic of the whole family.
//
// jaro_finish() is the only place where a Jaro value is formed from (m, t, |a|, |b|);
// winkler_boost() the only place where the Winkler step is applied. Every kernel ends in
// these two, so the operation order (and therefore every bit) is the same everywhere.
// The quotient table holds x / y for x, y <= 64, the same correctly rounded divisions
// the formula performs, so the packed lane engine can look them up.
// See also: jaro.hpp, jaro_kernels.hpp.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "core/common/text.hpp"

namespace tarnvel::core {

// floor(max(|a|, |b|) / 2) - 1, and 0 when that half is 0.
inline std::size_t jaro_window(std::size_t la, std::size_t lb) {
    const std::size_t half = std::max(la, lb) / 2;
    return half == 0 ? 0 : half - 1;
}

// m matches (m > 0), t mismatched pairs, lengths la and lb.
inline double jaro_finish(std::uint64_t m, std::uint64_t t, std::size_t la, std::size_t lb) {
    const std::uint64_t h = t / 2;  // integer halving: three mismatches are one transposition
    const double M = static_cast<double>(m);
    const double q1 = (M - static_cast<double>(h)) / M;
    const double q2 = M / static_cast<double>(la);
    const double q3 = M / static_cast<double>(lb);
    const double s = q2 + q3;
    return (q1 + s) / 3.0;
}

inline double jaro_or_zero(std::uint64_t m, std::uint64_t t, std::size_t la, std::size_t lb) {
    return m == 0 ? 0.0 : jaro_finish(m, t, la, lb);
}

// Jaro-Winkler from a Jaro value j, the common prefix length l (<= 4) and a clamped p.
inline double winkler_boost(double j, std::size_t l, double p) {
    if (j < 0.7) return j;
    const double x = static_cast<double>(l) * p;
    const double y = (1.0 - j) * x;
    const double r = y + j;
    return std::min(r, 1.0);
}

inline double clamp_prefix_scale(double p) { return std::min(0.25, std::max(0.0, p)); }

// x / y for 0 <= x, y <= 64 (row y = 0 unused), built from the very same divisions.
struct QuotientTable {
    std::array<double, 65 * 65> q{};
    constexpr QuotientTable() {
        for (int x = 0; x <= 64; ++x)
            for (int y = 1; y <= 64; ++y)
                q[x * 65 + y] = static_cast<double>(x) / static_cast<double>(y);
    }
    double operator()(std::size_t x, std::size_t y) const { return q[x * 65 + y]; }
};
inline constexpr QuotientTable kQuot{};

// jaro_finish() for lengths of at most 64, with the three ratios looked up.
inline double jaro_finish_small(std::uint32_t m, std::uint32_t t, std::size_t la, std::size_t lb) {
    if (m == 0) return 0.0;
    const std::uint32_t h = t / 2;
    const double q1 = kQuot(m - h, m);
    const double s = kQuot(m, la) + kQuot(m, lb);
    return (q1 + s) / 3.0;
}

// The matching scan over non-empty sequences, with zeroed flags of at least |a| and |b|
// bytes: each position of a takes the lowest free equal position of b in its window.
template <typename CharA, typename CharB>
double jaro_scan(Seq<CharA> a, Seq<CharB> b, std::uint8_t* flags_a, std::uint8_t* flags_b,
                 std::size_t w) {
    const std::size_t la = a.size, lb = b.size;
    std::uint32_t m = 0;
    for (std::size_t j = 0; j < la; ++j) {
        const std::size_t lo = j >= w ? j - w : 0;
        const std::size_t hi = std::min(lb, j + w + 1);
        const auto c = static_cast<std::uint32_t>(a[j]);
        for (std::size_t k = lo; k < hi; ++k) {
            if (flags_b[k] == 0 && c == static_cast<std::uint32_t>(b[k])) {
                flags_a[j] = 1;
                flags_b[k] = 1;
                ++m;
                break;
            }
        }
    }
    if (m == 0) return 0.0;
    std::uint64_t t = 0;
    std::size_t k = 0;
    for (std::size_t j = 0; j < la; ++j) {
        if (!flags_a[j]) continue;
        while (!flags_b[k]) ++k;
        t += static_cast<std::uint32_t>(a[j]) != static_cast<std::uint32_t>(b[k]);
        ++k;
    }
    return jaro_finish(m, t, la, lb);
}

}  // namespace tarnvel::core
