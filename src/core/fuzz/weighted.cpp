// The weighted ratio's two branches (token scores for similar lengths, partial scores
// for different lengths) and the cutoff handed from stage to stage.
// See also: weighted.hpp.
#include "core/fuzz/weighted.hpp"

#include <algorithm>
#include <cstddef>

#include "core/fuzz/partial.hpp"
#include "core/fuzz/ratio.hpp"
#include "core/fuzz/token.hpp"

namespace tarnvel::core {
namespace {

constexpr double kTokenModeRatio = 1.5;   // length ratio below it: token branch
constexpr double kLongScaleRatio = 8.0;   // length ratio above it: partial scale 0.6
constexpr double kTokenScale = 0.95;
constexpr double kPartialScale = 0.9;
constexpr double kLongPartialScale = 0.6;

template <typename CharT>
double weighted(Seq<CharT> a, Seq<CharT> b, double score_cutoff) {
    const std::size_t len1 = a.size;
    const std::size_t len2 = b.size;
    if (len1 == 0 || len2 == 0) return 0.0;

    const double len_ratio =
        static_cast<double>(std::max(len1, len2)) / static_cast<double>(std::min(len1, len2));
    double end = indel_ratio(a, b, score_cutoff);

    if (len_ratio < kTokenModeRatio) {
        const double cutoff = larger_of(score_cutoff, end) / kTokenScale;
        const double t = token_ratio(a, b, cutoff);
        return larger_of(end, t * kTokenScale);
    }

    const double scale = len_ratio > kLongScaleRatio ? kLongPartialScale : kPartialScale;
    const double cutoff = larger_of(score_cutoff, end) / scale;
    const double p = partial_ratio(a, b, cutoff);
    end = larger_of(end, p * scale);
    const double token_cutoff = larger_of(cutoff, end) / kTokenScale;
    const double q = partial_token_ratio(a, b, token_cutoff);
    return larger_of(end, (q * kTokenScale) * scale);
}

}  // namespace

double weighted_ratio(Text a, Text b, double score_cutoff) {
    if (score_cutoff > 100.0) return 0.0;
    if (a.empty() || b.empty()) return 0.0;
    return with_symbols(a, b, [&](auto sa, auto sb) { return weighted(sa, sb, score_cutoff); });
}

}  // namespace tarnvel::core
