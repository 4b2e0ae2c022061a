// Token ratios: texts compared as collections of white-space separated words.
//
// A token is a maximal run of code points outside the 25 Unicode White_Space code
// points, kept as a borrowed slice of the input (never copied or normalised). Sorted
// token lists order tokens by their UTF-8 bytes (which is code point order); joined texts
// put one U+0020 between neighbours. Every scorer returns 0..100 with the usual cutoff
// rule and returns 0.0 at once for a cutoff above 100.
// See also: ratio.hpp (indel ratio), partial.hpp (partial ratio core), weighted.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/common/text.hpp"

namespace tarnvel::core {

// Byte length of the White_Space code point starting at p (0 when there is none).
// p points into well-formed UTF-8 with at least one byte left.
std::size_t white_space_length(const std::uint8_t* p);

// tokenize(): the tokens of t in text order (appended to out after clearing it).
void tokenize(Text t, std::vector<std::string_view>& out);

double token_sort_ratio(Text a, Text b, double score_cutoff);
double token_set_ratio(Text a, Text b, double score_cutoff);
double token_ratio(Text a, Text b, double score_cutoff);
double partial_token_sort_ratio(Text a, Text b, double score_cutoff);
double partial_token_set_ratio(Text a, Text b, double score_cutoff);
double partial_token_ratio(Text a, Text b, double score_cutoff);

}  // namespace tarnvel::core
