// The weighted ratio's two branches (token scores for similar lengths, partial scores
// for different lengths) and the cutoff handed from stage to stage.
// See also: weighted.hpp.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>

#include "core/fuzz/partial.hpp"
#include "core/fuzz/ratio.hpp"
#include "core/fuzz/token.hpp"
#include "core/fuzz/token_form.hpp"
#include "core/fuzz/weighted.hpp"

namespace tarnvel::core {
namespace {

constexpr double kTokenModeRatio = 1.5;  // length ratio below it: token branch
constexpr double kLongScaleRatio = 8.0;  // length ratio above it: partial scale 0.6
constexpr double kTokenScale = 0.95;
constexpr double kPartialScale = 0.9;
constexpr double kLongPartialScale = 0.6;

// Whether two texts in sorted-token form have a token in common (a merge of their sorted tokens).
template <typename CharT>
bool share_token(Seq<CharT> a, Seq<CharT> b) {
    std::size_t ta = 0, tb = 0;  // start of the current token of each text
    auto token_at = [](Seq<CharT> s, std::size_t start) {
        std::size_t end = start;
        while (end < s.size && s[end] != static_cast<CharT>(' ')) ++end;
        return s.sub(start, end - start);
    };
    while (ta < a.size && tb < b.size) {
        const Seq<CharT> x = token_at(a, ta), y = token_at(b, tb);
        const int c = compare_tokens(x, y);
        if (c == 0) return true;
        if (c < 0)
            ta += x.size + 1;
        else
            tb += y.size + 1;
    }
    return false;
}

// a_unique_sorted is sorted_token_form(a, true) when the caller knows it.
template <typename CharT>
double weighted(Seq<CharT> a, Seq<CharT> b, double score_cutoff,
                std::optional<bool> a_unique_sorted) {
    const std::size_t len1 = a.size;
    const std::size_t len2 = b.size;
    if (len1 == 0 || len2 == 0) return 0.0;

    const double len_ratio =
        static_cast<double>(std::max(len1, len2)) / static_cast<double>(std::min(len1, len2));
    double end = indel_ratio(a, b, score_cutoff);
    // Two texts that are each their own sorted and unique-token form (single words among
    // them, sorted_token_form(s, true)) without a shared token skip the token scorers, whose terms
    // cannot win here. Their token sets share nothing, so the token ratio is the larger of their
    // indel ratio and the same ratio through the set comparison's formula (within ulps of the same
    // value, or 0 below its cutoff), and its 0.95 share stays below `end` (or both are 0).
    // The partial token ratio is the partial ratio of the same two texts (no shared or
    // repeated token) at a higher cutoff, so (q * 0.95) * scale never beats p * scale. The
    // result is the same, bit for bit. A NaN cutoff is left to the full path: it zeroes
    // `end` but hands the stages a cutoff of 0.
    const bool words = !std::isnan(score_cutoff) &&
                       (a_unique_sorted ? *a_unique_sorted : sorted_token_form(a, true)) &&
                       sorted_token_form(b, true) && !share_token(a, b);

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
    return with_symbols(
        a, b, [&](auto sa, auto sb) { return weighted(sa, sb, score_cutoff, std::nullopt); });
}

WeightedQuery::WeightedQuery(Text a) : a_(a), ascii_(is_ascii(a)) {
    decode_utf8(a, wide_);
    unique_sorted_ = sorted_token_form(Seq<std::uint32_t>{wide_.data(), wide_.size()}, true);
}

double WeightedQuery::score(Text b, double score_cutoff) const {
    if (score_cutoff > 100.0) return 0.0;
    if (a_.empty() || b.empty()) return 0.0;
    // The same symbols as with_symbols() gives: bytes when both are ASCII, else code points.
    if (ascii_ && is_ascii(b))
        return weighted(byte_seq(a_), byte_seq(b), score_cutoff, unique_sorted_);
    const CodePoints cb(b);
    return weighted(Seq<std::uint32_t>{wide_.data(), wide_.size()}, cb.seq(), score_cutoff,
                    unique_sorted_);
}

}  // namespace tarnvel::core
