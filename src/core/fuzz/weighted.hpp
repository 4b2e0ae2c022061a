// Weighted ratio: the whole-text indel ratio, raised by weighted token or partial scores
// chosen by how much the two texts differ in length.
// See also: ratio.hpp, partial.hpp, token.hpp.
#pragma once

#include <cstdint>
#include <vector>

#include "core/common/text.hpp"

namespace tarnvel::core {

// weighted_ratio(): 0..100; 0.0 when either text is empty or the cutoff is above 100.
// Each later stage gets the best weighted score so far, divided by its weight, as its
// cutoff, so a stage that cannot improve the result stops early.
double weighted_ratio(Text a, Text b, double score_cutoff);

// weighted_ratio(a, b) of one text a against many b: a's symbols in both widths and whether
// it is its own sorted-token form are found once rather than once per pair.
class WeightedQuery {
public:
    explicit WeightedQuery(Text a);
    // Exactly weighted_ratio(a, b, score_cutoff).
    double score(Text b, double score_cutoff) const;

private:
    Text a_;
    bool ascii_ = false;
    bool unique_sorted_ = false;       // sorted_token_form(a, true)
    std::vector<std::uint32_t> wide_;  // a's code points
};

}  // namespace tarnvel::core
