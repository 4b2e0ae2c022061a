// Scorer identifiers and parameters shared by the matching shapes and the binding.
#pragma once

#include <cstdint>

namespace tarnvel::core::match {

// In the order of the companion package's scorer table; the binding maps names to these.
enum class ScorerId : std::uint8_t {
    ratio,
    qratio,
    partial_ratio,
    token_sort_ratio,
    token_set_ratio,
    token_ratio,
    partial_token_sort_ratio,
    partial_token_set_ratio,
    partial_token_ratio,
    wratio,
    damerau_ratio,
    jaro,
    jaro_winkler,
    levenshtein,
    damerau_levenshtein,
    needleman_wunsch,
    needleman_wunsch_affine,
};
inline constexpr int kScorerCount = 17;

// Scorer parameters: p for Jaro-Winkler, the costs of the alignment scores.
struct ScorerParams {
    double p = 0.1;
    std::int64_t match = 0, mismatch = 0, gap = 0, open = 0, extend = 0;
};

}  // namespace tarnvel::core::match
