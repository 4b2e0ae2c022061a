// The weighted ratio's two branches (token scores for similar lengths, partial scores
// for different lengths) and the cutoff handed from stage to stage.
// See also: weighted.hpp.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "core/fuzz/partial.hpp"
#include "core/fuzz/ratio.hpp"
#include "core/fuzz/token.hpp"
#include "core/fuzz/weighted.hpp"

namespace tarnvel::core {
namespace {

constexpr double kTokenModeRatio = 1.5;  // length ratio below it: token branch
constexpr double kLongScaleRatio = 8.0;  // length ratio above it: partial scale 0.6
constexpr double kTokenScale = 0.95;
constexpr double kPartialScale = 0.9;
constexpr double kLongPartialScale = 0.6;

// A non-empty text without white space: one token, its own sorted and joined form.
template <typename CharT>
bool one_word(Seq<CharT> s) {
    for (std::size_t i = 0; i < s.size; ++i)
        if (is_white_space(static_cast<std::uint32_t>(s[i]))) return false;
    return s.size > 0;
}

template <typename CharT>
double weighted(Seq<CharT> a, Seq<CharT> b, double score_cutoff) {
    const std::size_t len1 = a.size;
    const std::size_t len2 = b.size;
    if (len1 == 0 || len2 == 0) return 0.0;

    const double len_ratio =
        static_cast<double>(std::max(len1, len2)) / static_cast<double>(std::min(len1, len2));
    double end = indel_ratio(a, b, score_cutoff);
    // Two single words skip the token scorers, whose terms cannot win here: different
    // words share no token, so the token ratio is their indel ratio again (through the set
    // comparison's formula, within ulps of the same value, or 0 below its cutoff) and its
    // 0.95 share stays below `end` (or both are 0); equal words give end = 100. The
    // partial token ratio is the partial ratio again (no shared or repeated token), so
    // (q * 0.95) * scale never beats p * scale. The result is the same, bit for bit. A NaN
    // cutoff is left to the full path: it zeroes `end` but hands the stages a cutoff of 0.
    const bool words = !std::isnan(score_cutoff) && one_word(a) && one_word(b);

    if (len_ratio < kTokenModeRatio) {
        if (words) return end;
        const double cutoff = larger_of(score_cutoff, end) / kTokenScale;
        const double t = token_ratio(a, b, cutoff);
        return larger_of(end, t * kTokenScale);
    }

    const double scale = len_ratio > kLongScaleRatio ? kLongPartialScale : kPartialScale;
    const double cutoff = larger_of(score_cutoff, end) / scale;
    const double p = partial_ratio(a, b, cutoff);
    end = larger_of(end, p * scale);
    if (words) return end;
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
