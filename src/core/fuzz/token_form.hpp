// Whether a text is already its own sorted-token form, so that the weighted ratio can tell
// without splitting it that the token stages cannot win. The token scorers find the same
// while they split (token.cpp).
// See also: token.hpp (the forms), weighted.cpp (the shortcut).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "core/common/text.hpp"
#include "core/fuzz/token.hpp"

namespace tarnvel::core {

// Lexicographic symbol order, shorter prefix first: the token scorers' sort order.
template <typename CharT>
int compare_tokens(Seq<CharT> x, Seq<CharT> y) {
    const std::size_t n = std::min(x.size, y.size);
    for (std::size_t i = 0; i < n; ++i)
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    return x.size < y.size ? -1 : (x.size > y.size ? 1 : 0);
}

// The end of the word starting at i: the first white space from i on, or the text's end.
template <typename CharT>
std::size_t word_end(Seq<CharT> s, std::size_t i) {
    for (; i < s.size; ++i) {
        const auto c = static_cast<std::uint32_t>(s[i]);
        if (c - 0x21 < 0x64) continue;  // '!' to U+0084: never white space
        if (is_white_space(c)) break;
    }
    return i;
}

// True for a text that is its own sorted-token form (tokens in order, one U+0020 between
// neighbours, no white space before the first or after the last; the empty text is too) and,
// with `unique`, also its own unique-token form (no token repeated). Single words always are.
template <typename CharT>
bool sorted_token_form(Seq<CharT> s, bool unique) {
    if (s.size == 0) return true;
    Seq<CharT> prev{};
    for (std::size_t start = 0;;) {
        const std::size_t end = word_end(s, start);
        if (end == start) return false;  // white space first or last, or a run of it
        const Seq<CharT> tok = s.sub(start, end - start);
        if (prev.data != nullptr) {
            const int order = compare_tokens(prev, tok);
            if (order > 0 || (unique && order == 0)) return false;
        }
        if (end == s.size) return true;
        if (s[end] != static_cast<CharT>(' ')) return false;  // other white space
        prev = tok;
        start = end + 1;
    }
}

}  // namespace tarnvel::core
