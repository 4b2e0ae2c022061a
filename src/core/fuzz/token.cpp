// The six token scorers: tokenising, sorting, the token sets and the set comparison.
//
// Tokens are string_views into the caller's text; the only allocations are the token
// lists and the joined texts. The set comparison needs one distance (the words only in
// a against the words only in b); the two ratios against the shared words follow from
// the lengths alone, because the shared prefix cancels out of every indel distance.
// See also: token.hpp, partial.cpp, ratio.hpp.
#include "core/fuzz/token.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>

#include "core/fuzz/partial.hpp"
#include "core/fuzz/ratio.hpp"

namespace tarnvel::core {
namespace {

// Lead-byte classes: 1 = ASCII white space, 2 = lead byte of a possible multi-byte
// White_Space code point (U+0085, U+00A0, U+1680, U+2000..U+3000).
constexpr std::array<std::uint8_t, 256> kLeadClass = [] {
    std::array<std::uint8_t, 256> t{};
    for (int c = 0x09; c <= 0x0D; ++c) t[c] = 1;
    t[0x20] = 1;
    t[0xC2] = t[0xE1] = t[0xE2] = t[0xE3] = 2;
    return t;
}();

using Tokens = std::vector<std::string_view>;

void sorted_tokens(Text t, Tokens& out) {
    tokenize(t, out);
    std::sort(out.begin(), out.end());  // char_traits<char> compares bytes as unsigned
}

// Code point length of the joined text of a list.
std::uint64_t joined_length(const Tokens& list) {
    if (list.empty()) return 0;
    std::uint64_t n = list.size() - 1;
    for (const auto tok : list) n += count_code_points(tok.data(), tok.size());
    return n;
}

void join(const Tokens& list, std::string& out) {
    out.clear();
    if (list.empty()) return;
    std::size_t bytes = list.size() - 1;
    for (const auto tok : list) bytes += tok.size();
    out.reserve(bytes);
    out.append(list[0]);
    for (std::size_t i = 1; i < list.size(); ++i) {
        out.push_back(' ');
        out.append(list[i]);
    }
}

std::string joined(const Tokens& list) {
    std::string s;
    join(list, s);
    return s;
}

struct TokenSets {
    Tokens both;    // in both texts
    Tokens a_only;  // in a, not in b
    Tokens b_only;  // in b, not in a
};

// Index past the run of tokens equal to list[k].
std::size_t skip_run(const Tokens& list, std::size_t k) {
    const std::string_view tok = list[k];
    while (k < list.size() && list[k] == tok) ++k;
    return k;
}

// Merges two sorted lists, each side's repeats dropped.
void token_sets(const Tokens& ta, const Tokens& tb, TokenSets& out) {
    std::size_t i = 0, j = 0;
    while (i < ta.size() && j < tb.size()) {
        if (ta[i] < tb[j]) {
            out.a_only.push_back(ta[i]);
            i = skip_run(ta, i);
        } else if (tb[j] < ta[i]) {
            out.b_only.push_back(tb[j]);
            j = skip_run(tb, j);
        } else {
            out.both.push_back(ta[i]);
            i = skip_run(ta, i);
            j = skip_run(tb, j);
        }
    }
    for (; i < ta.size(); i = skip_run(ta, i)) out.a_only.push_back(ta[i]);
    for (; j < tb.size(); j = skip_run(tb, j)) out.b_only.push_back(tb[j]);
}

// The ratio 100 - d * 100 / len of this comparison (not the indel ratio's form).
double set_ratio(std::uint64_t dist, std::uint64_t len) {
    if (len == 0) return 100.0;
    return 100.0 - (static_cast<double>(dist) * 100.0) / static_cast<double>(len);
}

// Token set comparison: the words only in a against the words only in b, and the shared
// words against "shared + space + only in a" and "shared + space + only in b"; result is
// the larger of start and these three, each filtered by the cutoff.
double compare_sets(const TokenSets& sets, double cutoff, double start) {
    const std::string ab = joined(sets.a_only);
    const std::string ba = joined(sets.b_only);
    const std::uint64_t ab_len = count_code_points(ab.data(), ab.size());
    const std::uint64_t ba_len = count_code_points(ba.data(), ba.size());
    const std::uint64_t sect_len = joined_length(sets.both);
    const std::uint64_t sep = sect_len > 0 ? 1 : 0;
    const std::uint64_t sect_ab_len = sect_len + sep + ab_len;
    const std::uint64_t sect_ba_len = sect_len + sep + ba_len;
    const std::uint64_t total = sect_ab_len + sect_ba_len;

    double result = start;
    const std::uint64_t dist = indel_distance(Text(ab), Text(ba));
    const std::uint64_t max_dist =
        saturating_to_u64(std::ceil((cutoff / -100.0 + 1.0) * static_cast<double>(total)));
    if (dist <= max_dist) result = larger_of(result, apply_cutoff(set_ratio(dist, total), cutoff));

    if (sect_len > 0) {
        const double sect_ab = apply_cutoff(set_ratio(ab_len + 1, sect_len + sect_ab_len), cutoff);
        const double sect_ba = apply_cutoff(set_ratio(ba_len + 1, sect_len + sect_ba_len), cutoff);
        result = larger_of(larger_of(result, sect_ab), sect_ba);
    }
    return result;
}

double indel_ratio_of_joined(const Tokens& ta, const Tokens& tb, double cutoff) {
    const std::string ja = joined(ta);
    const std::string jb = joined(tb);
    return indel_ratio(Text(ja), Text(jb), cutoff);
}

double partial_of_joined(const Tokens& ta, const Tokens& tb, double cutoff) {
    const std::string ja = joined(ta);
    const std::string jb = joined(tb);
    return partial_ratio(Text(ja), Text(jb), cutoff);
}

}  // namespace

std::size_t white_space_length(const std::uint8_t* p) {
    switch (kLeadClass[p[0]]) {
        case 1:
            return 1;
        case 2:
            break;
        default:
            return 0;
    }
    const std::uint8_t c1 = p[1];
    switch (p[0]) {
        case 0xC2:  // U+0085, U+00A0
            return c1 == 0x85 || c1 == 0xA0 ? 2 : 0;
        case 0xE1:  // U+1680
            return c1 == 0x9A && p[2] == 0x80 ? 3 : 0;
        case 0xE2:
            if (c1 == 0x80) {  // U+2000..U+200A, U+2028, U+2029, U+202F
                const std::uint8_t c2 = p[2];
                return (c2 >= 0x80 && c2 <= 0x8A) || c2 == 0xA8 || c2 == 0xA9 || c2 == 0xAF ? 3 : 0;
            }
            return c1 == 0x81 && p[2] == 0x9F ? 3 : 0;  // U+205F
        default:  // 0xE3: U+3000
            return c1 == 0x80 && p[2] == 0x80 ? 3 : 0;
    }
}

void tokenize(Text t, std::vector<std::string_view>& out) {
    out.clear();
    const std::uint8_t* s = t.bytes();
    const std::size_t n = t.size;
    std::size_t start = 0;  // start of the current token
    std::size_t i = 0;
    while (i < n) {
        // Continuation bytes never look like a white-space lead byte, so stepping one
        // byte at a time through a token is safe.
        const std::size_t ws = kLeadClass[s[i]] == 0 ? 0 : white_space_length(s + i);
        if (ws == 0) {
            ++i;
            continue;
        }
        if (i > start) out.emplace_back(t.data + start, i - start);
        i += ws;
        start = i;
    }
    if (n > start) out.emplace_back(t.data + start, n - start);
}

double token_sort_ratio(Text a, Text b, double score_cutoff) {
    if (score_cutoff > 100.0) return 0.0;
    Tokens ta, tb;
    sorted_tokens(a, ta);
    sorted_tokens(b, tb);
    return indel_ratio_of_joined(ta, tb, score_cutoff);
}

double partial_token_sort_ratio(Text a, Text b, double score_cutoff) {
    if (score_cutoff > 100.0) return 0.0;
    Tokens ta, tb;
    sorted_tokens(a, ta);
    sorted_tokens(b, tb);
    return partial_of_joined(ta, tb, score_cutoff);
}

double token_set_ratio(Text a, Text b, double score_cutoff) {
    if (score_cutoff > 100.0) return 0.0;
    Tokens ta, tb;
    sorted_tokens(a, ta);
    sorted_tokens(b, tb);
    if (ta.empty() || tb.empty()) return 0.0;
    TokenSets sets;
    token_sets(ta, tb, sets);
    if (!sets.both.empty() && (sets.a_only.empty() || sets.b_only.empty())) return 100.0;
    return compare_sets(sets, score_cutoff, 0.0);
}

double token_ratio(Text a, Text b, double score_cutoff) {
    if (score_cutoff > 100.0) return 0.0;
    Tokens ta, tb;
    sorted_tokens(a, ta);
    sorted_tokens(b, tb);
    TokenSets sets;
    token_sets(ta, tb, sets);
    if (!sets.both.empty() && (sets.a_only.empty() || sets.b_only.empty())) return 100.0;
    const double sort_score = indel_ratio_of_joined(ta, tb, score_cutoff);
    return compare_sets(sets, score_cutoff, sort_score);
}

double partial_token_set_ratio(Text a, Text b, double score_cutoff) {
    if (score_cutoff > 100.0) return 0.0;
    Tokens ta, tb;
    sorted_tokens(a, ta);
    sorted_tokens(b, tb);
    if (ta.empty() || tb.empty()) return 0.0;
    TokenSets sets;
    token_sets(ta, tb, sets);
    if (!sets.both.empty()) return 100.0;
    return partial_of_joined(sets.a_only, sets.b_only, score_cutoff);
}

double partial_token_ratio(Text a, Text b, double score_cutoff) {
    if (score_cutoff > 100.0) return 0.0;
    Tokens ta, tb;
    sorted_tokens(a, ta);
    sorted_tokens(b, tb);
    TokenSets sets;
    token_sets(ta, tb, sets);
    if (!sets.both.empty()) return 100.0;
    const double whole = partial_of_joined(ta, tb, score_cutoff);
    // Without repeated tokens the unique-word texts are the sorted texts themselves.
    if (ta.size() == sets.a_only.size() && tb.size() == sets.b_only.size()) return whole;
    const double unique = partial_of_joined(sets.a_only, sets.b_only, larger_of(score_cutoff, whole));
    return larger_of(whole, unique);
}

}  // namespace tarnvel::core
