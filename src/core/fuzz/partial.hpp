// Partial ratio: the best indel ratio of the shorter text against any stretch of the
// longer one, with the stretch's position.
//
// partial_ratio_alignment() orients the pair (the needle is the shorter text, or the
// first one when the lengths are equal), searches the haystack and, for equal lengths,
// searches once more with the roles exchanged. Positions are code point indices into the
// arguments as the caller passed them. The token scorers (token.hpp) and the weighted
// ratio (weighted.hpp) call the same core for the score alone.
// See also: ratio.hpp (indel ratio and cutoff conventions), partial.cpp (the search).
#pragma once

#include <cstdint>

#include "core/common/text.hpp"

namespace tarnvel::core {

// Score and the two half-open ranges: src in the first argument, dest in the second.
struct PartialAlignment {
    double score = 0.0;
    std::uint64_t src_start = 0;
    std::uint64_t src_end = 0;
    std::uint64_t dest_start = 0;
    std::uint64_t dest_end = 0;
};

// partial_ratio_alignment(): score 0..100 (0.0 when below score_cutoff; a cutoff above
// 100 returns at once with the ranges (0, k) and (0, k), k the shorter length). Two
// empty texts score 100.0, one empty text 0.0, all positions 0.
PartialAlignment partial_ratio_alignment(Text a, Text b, double score_cutoff);

// The same on symbol sequences (bytes when both texts are ASCII, else code points).
PartialAlignment partial_ratio_alignment(Seq<std::uint8_t> a, Seq<std::uint8_t> b,
                                         double score_cutoff);
PartialAlignment partial_ratio_alignment(Seq<std::uint32_t> a, Seq<std::uint32_t> b,
                                         double score_cutoff);

// partial_ratio(): the score of partial_ratio_alignment().
inline double partial_ratio(Text a, Text b, double score_cutoff) {
    return partial_ratio_alignment(a, b, score_cutoff).score;
}
template <typename CharT>
double partial_ratio(Seq<CharT> a, Seq<CharT> b, double score_cutoff) {
    return partial_ratio_alignment(a, b, score_cutoff).score;
}

}  // namespace tarnvel::core
