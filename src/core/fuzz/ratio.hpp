// The 0-100 indel ratio and the score-cutoff conventions shared by every fuzzy scorer.
//
// Scores are doubles computed with separately rounded operations in a fixed order
// (the build uses -ffp-contract=off); they are never rounded for output.
// A score s is reported when cutoff <= s, else 0.0: a NaN cutoff suppresses every
// score it filters and a negative one suppresses none.
// See also: indel.hpp.
#pragma once

#include <cmath>
#include <cstdint>

#include "core/common/text.hpp"
#include "core/fuzz/indel.hpp"
#include "core/fuzz/ratio_formula.hpp"

namespace tarnvel::core {

inline double apply_cutoff(double score, double cutoff) { return cutoff <= score ? score : 0.0; }

// "The larger of x and y": y when x is NaN, x when y is NaN, else the maximum.
inline double larger_of(double x, double y) {
    if (std::isnan(x)) return y;
    if (std::isnan(y)) return x;
    return x < y ? y : x;
}

// NaN and negatives to 0, 2^64 and above to 2^64 - 1, otherwise truncation toward zero.
inline std::uint64_t saturating_to_u64(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 18446744073709551616.0) return ~std::uint64_t{0};
    return static_cast<std::uint64_t>(v);
}

// The indel ratio of two symbol sequences, cutoff applied.
template <typename CharA, typename CharB>
double indel_ratio(Seq<CharA> a, Seq<CharB> b, double score_cutoff) {
    const std::uint64_t total = std::uint64_t{a.size} + b.size;
    const double score = total == 0 ? 100.0 : ratio_from_distance(indel_distance(a, b), total);
    return apply_cutoff(score, score_cutoff);
}

// fuzz_ratio: the indel ratio of two texts, cutoff applied.
inline double indel_ratio(Text a, Text b, double score_cutoff) {
    return with_symbols(a, b, [&](auto sa, auto sb) { return indel_ratio(sa, sb, score_cutoff); });
}

// fuzz_qratio: 0.0 when either text is empty, else the indel ratio.
inline double quick_ratio(Text a, Text b, double score_cutoff) {
    if (a.empty() || b.empty()) return 0.0;
    return indel_ratio(a, b, score_cutoff);
}

}  // namespace tarnvel::core
