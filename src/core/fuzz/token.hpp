// Token ratios: texts compared as collections of white-space separated words.
//
// A token is a maximal run of code points outside the 25 Unicode White_Space code
// points, kept as a slice of the input (never copied, lower-cased or normalised).
// Sorted token lists order tokens by their UTF-8 bytes, which is code point order;
// joined texts put one U+0020 between neighbours. Every scorer returns 0..100 with the
// usual cutoff rule and returns 0.0 at once for a cutoff above 100.
// See also: ratio.hpp (indel ratio), partial.hpp (partial ratio core), weighted.hpp.
#pragma once

#include <cstdint>
#include <string>

#include "core/common/text.hpp"

namespace tarnvel::core {

// True for the 25 White_Space code points (U+0009..U+000D, U+0020, U+0085, U+00A0,
// U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000).
constexpr bool is_white_space(std::uint32_t c) {
    if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    if (c < 0x85) return false;
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

double token_sort_ratio(Text a, Text b, double score_cutoff);
double token_set_ratio(Text a, Text b, double score_cutoff);
double token_ratio(Text a, Text b, double score_cutoff);
double partial_token_sort_ratio(Text a, Text b, double score_cutoff);
double partial_token_set_ratio(Text a, Text b, double score_cutoff);
double partial_token_ratio(Text a, Text b, double score_cutoff);

// A text's sorted-token form, in UTF-8: its tokens in code point order joined with one
// U+0020. token_sort_ratio(a, b) is the indel ratio of the two forms, and
// partial_token_sort_ratio(a, b) their partial ratio, each form made from one text alone,
// so bulk callers make each form once rather than once per pair.
std::string sorted_token_text(Text s);

// The same on symbol sequences (bytes when both texts are ASCII, else code points);
// instantiated for std::uint8_t and std::uint32_t.
template <typename CharT>
double token_ratio(Seq<CharT> a, Seq<CharT> b, double score_cutoff);
template <typename CharT>
double partial_token_ratio(Seq<CharT> a, Seq<CharT> b, double score_cutoff);

}  // namespace tarnvel::core
