// The ratio formulas, the one definition every scorer and kernel uses (vector
// kernels include it inside their target regions; it is plain scalar code).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnvel::core {

// (1 - dist / total) * 100, in that order.
[[gnu::always_inline]] inline double ratio_from_distance(std::uint64_t dist, std::uint64_t total) {
    const double q = static_cast<double>(dist) / static_cast<double>(total);
    return (1.0 - q) * 100.0;
}

// ((total - dist) / total) * 100, in that order: the Damerau-Levenshtein ratio.
[[gnu::always_inline]] inline double ratio_from_remaining(std::uint64_t dist, std::uint64_t total) {
    const double l = static_cast<double>(total);
    return ((l - static_cast<double>(dist)) / l) * 100.0;
}

// The indel ratio of texts of n and m symbols from their LCS length (indel distance
// n + m - 2 lcs), before any cutoff; 100.0 for two empty texts.
[[gnu::always_inline]] inline double ratio_from_lcs(std::size_t n, std::size_t m, std::size_t lcs) {
    const std::uint64_t total = std::uint64_t{n} + m;
    if (total == 0) return 100.0;
    return ratio_from_distance(total - 2 * std::uint64_t{lcs}, total);
}

}  // namespace tarnvel::core
