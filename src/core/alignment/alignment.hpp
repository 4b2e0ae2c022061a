// Needleman-Wunsch global alignment scores: linear gap cost, affine gap cost (Gotoh), and
// the one-query-many-candidates batches.
//
// Scores and results are signed 64-bit values; every addition and every multiplication by
// a length saturates (to INT64_MAX when the true value is positive, INT64_MIN when it is
// negative). Scores are added as given: costs are negative numbers, nothing is validated.
// Lengths are code points; an ASCII pair is processed on its bytes (an exact shortcut).
//
// The results always equal the plain row-by-row saturating recurrence. Internally a pair
// whose scores and lengths prove that no value can saturate runs an exact kernel in 16-,
// 32- or 64-bit lanes (striped or anti-diagonal vector kernels, see alignment_kernels.hpp
// and src/simd/generic/alignment.inc); every other pair runs the plain saturating loop
// (alignment_scalar.hpp).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/common/text.hpp"
#include "engine/scratch.hpp"

namespace tarnvel::core {

// The "minus infinity" of the affine states: an ordinary finite value (-2^61) that takes
// part in saturating sums like any other.
inline constexpr std::int64_t NW_NEG = -(std::int64_t{1} << 61);

// nw_linear(): best global score with match, mismatch and a per-character gap score.
// Shortcuts: an empty text scores gap x (other length); equal texts score match x n even
// when another alignment would score higher.
std::int64_t nw_linear(Text a, Text b, std::int64_t match, std::int64_t mismatch, std::int64_t gap);

// nw_affine(): best global score where a gap run of k characters scores open + k x extend.
// Shortcuts: two empty texts 0; one empty text open + extend x (other length); equal
// texts match x n.
std::int64_t nw_affine(Text a, Text b, std::int64_t match, std::int64_t mismatch,
                       std::int64_t gap_open, std::int64_t gap_extend);

// nw_linear_unrolled(): nw_linear() for two ASCII byte strings, with the saturating row
// loop updating eight columns per step.
std::int64_t nw_linear_unrolled(Seq<std::uint8_t> a, Seq<std::uint8_t> b, std::int64_t match,
                                std::int64_t mismatch, std::int64_t gap);

// nw_striped(): nw_linear_unrolled() when both texts are ASCII, else nw_linear().
std::int64_t nw_striped(Text a, Text b, std::int64_t match, std::int64_t mismatch,
                        std::int64_t gap);

// The query as a, each candidate as b; results in candidate order, computed on the pool.
engine::ScratchVector<std::int64_t> nw_linear_batch(Text query, std::span<const Text> candidates,
                                                    std::int64_t match, std::int64_t mismatch,
                                                    std::int64_t gap);
engine::ScratchVector<std::int64_t> nw_affine_batch(Text query, std::span<const Text> candidates,
                                                    std::int64_t match, std::int64_t mismatch,
                                                    std::int64_t gap_open, std::int64_t gap_extend);

}  // namespace tarnvel::core
