// The six token scorers: tokenising, sorting, the token sets and the set comparison.
//
// Both texts are turned into symbols once (bytes when both are ASCII, else code points),
// tokens are slices of those symbols, and every list and joined text is carved from one
// arena that starts on the stack, so short texts allocate nothing. Sorting compares a
// packed key of each token's first symbols before falling back to a full comparison.
// The set comparison needs one distance (the words only in a against the words only in
// b); the two ratios against the shared words follow from the lengths alone, because the
// shared prefix cancels out of their indel distances.
// See also: token.hpp, partial.cpp, ratio.hpp.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory_resource>
#include <string>
#include <string_view>
#include <vector>

#include "core/fuzz/indel.hpp"
#include "core/fuzz/partial.hpp"
#include "core/fuzz/ratio.hpp"
#include "core/fuzz/token.hpp"

namespace tarnvel::core {
namespace {

template <typename CharT>
struct Token {
    std::uint64_t key;  // leading symbols, packed so that integer order is text order
    const CharT* data;
    std::size_t size;
};

// Packs the first 8 bytes (or 3 code points of 21 bits) big-end first, zero padded. Two
// different keys order their tokens exactly; equal keys need the full comparison (the
// padding cannot tell "ab" from "ab\0").
template <typename CharT>
std::uint64_t sort_key(const CharT* p, std::size_t n) {
    std::uint64_t k = 0;
    if constexpr (sizeof(CharT) == 1) {
        if (n >= 8 && std::endian::native == std::endian::little) {
            std::memcpy(&k, p, 8);
            return __builtin_bswap64(k);
        }
        for (std::size_t i = 0; i < n && i < 8; ++i) k |= std::uint64_t{p[i]} << (56 - 8 * i);
    } else {
        for (std::size_t i = 0; i < n && i < 3; ++i) k |= std::uint64_t{p[i]} << (42 - 21 * i);
    }
    return k;
}

// Symbols held in full by the key: tokens no longer than this compare by key and length.
template <typename CharT>
constexpr std::size_t kKeySymbols = sizeof(CharT) == 1 ? 8 : 3;

template <typename CharT>
bool operator<(const Token<CharT>& a, const Token<CharT>& b) {
    if (a.key != b.key) return a.key < b.key;
    // Equal keys: the shorter token is a prefix of the longer one as far as the key
    // reaches, so short tokens are ordered by length alone.
    if (a.size <= kKeySymbols<CharT> || b.size <= kKeySymbols<CharT>) return a.size < b.size;
    const std::size_t n = std::min(a.size, b.size);
    if constexpr (sizeof(CharT) == 1) {
        const int r = std::memcmp(a.data, b.data, n);
        if (r != 0) return r < 0;
    } else {
        for (std::size_t i = 0; i < n; ++i)
            if (a.data[i] != b.data[i]) return a.data[i] < b.data[i];
    }
    return a.size < b.size;
}

template <typename CharT>
bool operator==(const Token<CharT>& a, const Token<CharT>& b) {
    return a.key == b.key && a.size == b.size &&
           (a.size <= kKeySymbols<CharT> ||
            std::memcmp(a.data, b.data, a.size * sizeof(CharT)) == 0);
}

template <typename CharT>
using TokenList = std::pmr::vector<Token<CharT>>;

// Working state of one call: sorted token lists of both texts and, on demand, the sets.
template <typename CharT>
class Work {
public:
    Work(Seq<CharT> a, Seq<CharT> b)
        : arena_(stack_, sizeof(stack_)),
          ta(&arena_),
          tb(&arena_),
          both(&arena_),
          a_only(&arena_),
          b_only(&arena_),
          a_(a),
          b_(b),
          a_is_form_(sorted_tokens(a, ta)),
          b_is_form_(sorted_tokens(b, tb)) {}
    Work(const Work&) = delete;
    Work& operator=(const Work&) = delete;

    // Intersection and the two differences, each side's repeats dropped, in order.
    void make_sets() {
        std::size_t i = 0, j = 0;
        while (i < ta.size() && j < tb.size()) {
            if (ta[i] < tb[j]) {
                a_only.push_back(ta[i]);
                i = skip_run(ta, i);
            } else if (tb[j] < ta[i]) {
                b_only.push_back(tb[j]);
                j = skip_run(tb, j);
            } else {
                both.push_back(ta[i]);
                i = skip_run(ta, i);
                j = skip_run(tb, j);
            }
        }
        for (; i < ta.size(); i = skip_run(ta, i)) a_only.push_back(ta[i]);
        for (; j < tb.size(); j = skip_run(tb, j)) b_only.push_back(tb[j]);
    }

    // The tokens joined with one space, carved from the arena.
    Seq<CharT> join(const TokenList<CharT>& list) {
        if (list.empty()) return {};
        const std::size_t n = joined_length(list);
        auto* out = static_cast<CharT*>(arena_.allocate(n * sizeof(CharT), alignof(CharT)));
        CharT* p = out;
        for (std::size_t k = 0; k < list.size(); ++k) {
            if (k) *p++ = static_cast<CharT>(' ');
            std::memcpy(p, list[k].data, list[k].size * sizeof(CharT));
            p += list[k].size;
        }
        return {out, n};
    }

    // Each text's sorted-token form: the text itself where it already is one, else joined.
    Seq<CharT> sorted_a() { return a_is_form_ ? a_ : join(ta); }
    Seq<CharT> sorted_b() { return b_is_form_ ? b_ : join(tb); }

    static std::size_t joined_length(const TokenList<CharT>& list) {
        if (list.empty()) return 0;
        std::size_t n = list.size() - 1;
        for (const auto& t : list) n += t.size;
        return n;
    }

private:
    // Splits s at white space into out, sorted. True when s is its own sorted-token form
    // (the tokens already in order, one U+0020 between neighbours, none before the first
    // or after the last), found in the same pass, so such a text is neither sorted nor joined.
    bool sorted_tokens(Seq<CharT> s, TokenList<CharT>& out) {
        out.reserve(s.size / 2 + 1);
        bool spaced = true, ordered = true;
        auto add = [&](std::size_t from, std::size_t to) {
            const Token<CharT> tok = make_token(s.data + from, to - from);
            if (!out.empty() && tok < out.back()) ordered = false;
            out.push_back(tok);
        };
        std::size_t start = 0;
        for (std::size_t i = 0; i < s.size; ++i) {
            const auto c = static_cast<std::uint32_t>(s[i]);
            if (!is_white_space(c)) continue;
            if (i > start)
                add(start, i);
            else
                spaced = false;  // white space first, or a run of it
            if (c != 0x20) spaced = false;
            start = i + 1;
        }
        if (s.size > start)
            add(start, s.size);
        else if (s.size > 0)
            spaced = false;  // white space last
        if (!ordered) std::sort(out.begin(), out.end());
        return spaced && ordered;
    }

    static Token<CharT> make_token(const CharT* p, std::size_t n) { return {sort_key(p, n), p, n}; }

    static std::size_t skip_run(const TokenList<CharT>& list, std::size_t k) {
        const Token<CharT> tok = list[k];
        while (k < list.size() && list[k] == tok) ++k;
        return k;
    }

    // Enough for the lists and joined texts of two texts of a few hundred symbols.
    alignas(std::max_align_t) std::byte stack_[6144];
    std::pmr::monotonic_buffer_resource arena_;

public:
    TokenList<CharT> ta, tb;                // sorted tokens, repeats kept
    TokenList<CharT> both, a_only, b_only;  // the token sets

private:
    Seq<CharT> a_, b_;
    bool a_is_form_, b_is_form_;  // the text is its own sorted-token form
};

// The ratio 100 - d * 100 / len of the set comparison (not the indel ratio's form).
double form_ratio(std::uint64_t dist, std::uint64_t len) {
    if (len == 0) return 100.0;
    return 100.0 - (static_cast<double>(dist) * 100.0) / static_cast<double>(len);
}

// Token set comparison: the words only in a against the words only in b, and the shared
// words against "shared + space + only in a" and "shared + space + only in b"; result is
// the larger of start and these three, each filtered by the cutoff.
template <typename CharT>
double compare_sets(Work<CharT>& w, double cutoff, double start) {
    const Seq<CharT> ab = w.join(w.a_only);
    const Seq<CharT> ba = w.join(w.b_only);
    const std::uint64_t ab_len = ab.size;
    const std::uint64_t ba_len = ba.size;
    const std::uint64_t sect_len = Work<CharT>::joined_length(w.both);
    const std::uint64_t sep = sect_len > 0 ? 1 : 0;
    const std::uint64_t sect_ab_len = sect_len + sep + ab_len;
    const std::uint64_t sect_ba_len = sect_len + sep + ba_len;
    const std::uint64_t total = sect_ab_len + sect_ba_len;

    double result = start;
    const std::uint64_t dist = indel_distance(ab, ba);
    const std::uint64_t max_dist =
        saturating_to_u64(std::ceil((cutoff / -100.0 + 1.0) * static_cast<double>(total)));
    if (dist <= max_dist) result = larger_of(result, apply_cutoff(form_ratio(dist, total), cutoff));

    if (sect_len > 0) {
        const double sect_ab = apply_cutoff(form_ratio(ab_len + 1, sect_len + sect_ab_len), cutoff);
        const double sect_ba = apply_cutoff(form_ratio(ba_len + 1, sect_len + sect_ba_len), cutoff);
        result = larger_of(larger_of(result, sect_ab), sect_ba);
    }
    return result;
}

template <typename CharT>
double sort_ratio(Seq<CharT> a, Seq<CharT> b, double cutoff) {
    if (cutoff > 100.0) return 0.0;
    Work<CharT> w(a, b);
    return indel_ratio(w.sorted_a(), w.sorted_b(), cutoff);
}

template <typename CharT>
double partial_sort_ratio(Seq<CharT> a, Seq<CharT> b, double cutoff) {
    if (cutoff > 100.0) return 0.0;
    Work<CharT> w(a, b);
    return partial_ratio(w.sorted_a(), w.sorted_b(), cutoff);
}

template <typename CharT>
double set_scorer(Seq<CharT> a, Seq<CharT> b, double cutoff) {
    if (cutoff > 100.0) return 0.0;
    Work<CharT> w(a, b);
    if (w.ta.empty() || w.tb.empty()) return 0.0;
    w.make_sets();
    if (!w.both.empty() && (w.a_only.empty() || w.b_only.empty())) return 100.0;
    return compare_sets(w, cutoff, 0.0);
}

template <typename CharT>
double partial_set_ratio(Seq<CharT> a, Seq<CharT> b, double cutoff) {
    if (cutoff > 100.0) return 0.0;
    Work<CharT> w(a, b);
    if (w.ta.empty() || w.tb.empty()) return 0.0;
    w.make_sets();
    if (!w.both.empty()) return 100.0;
    return partial_ratio(w.join(w.a_only), w.join(w.b_only), cutoff);
}

}  // namespace

template <typename CharT>
double token_ratio(Seq<CharT> a, Seq<CharT> b, double score_cutoff) {
    if (score_cutoff > 100.0) return 0.0;
    Work<CharT> w(a, b);
    w.make_sets();
    if (!w.both.empty() && (w.a_only.empty() || w.b_only.empty())) return 100.0;
    const double sort_score = indel_ratio(w.sorted_a(), w.sorted_b(), score_cutoff);
    return compare_sets(w, score_cutoff, sort_score);
}

template <typename CharT>
double partial_token_ratio(Seq<CharT> a, Seq<CharT> b, double score_cutoff) {
    if (score_cutoff > 100.0) return 0.0;
    Work<CharT> w(a, b);
    w.make_sets();
    if (!w.both.empty()) return 100.0;
    const double whole = partial_ratio(w.sorted_a(), w.sorted_b(), score_cutoff);
    // Without repeated tokens the unique-word texts are the sorted texts themselves.
    if (w.ta.size() == w.a_only.size() && w.tb.size() == w.b_only.size()) return whole;
    const double unique =
        partial_ratio(w.join(w.a_only), w.join(w.b_only), larger_of(score_cutoff, whole));
    return larger_of(whole, unique);
}

template double token_ratio(Seq<std::uint8_t>, Seq<std::uint8_t>, double);
template double token_ratio(Seq<std::uint32_t>, Seq<std::uint32_t>, double);
template double partial_token_ratio(Seq<std::uint8_t>, Seq<std::uint8_t>, double);
template double partial_token_ratio(Seq<std::uint32_t>, Seq<std::uint32_t>, double);

std::string sorted_token_text(Text s) {
    // Tokens are compared as UTF-8 bytes, which orders them as their code points, shorter
    // prefix first: the order of the sorted token lists above.
    std::vector<std::string_view> tokens;
    const std::uint8_t* b = s.bytes();
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size;) {
        const std::size_t at = i;
        const std::uint32_t c = b[i] < 0x80 ? b[i++] : next_code_point(b, i);
        if (!is_white_space(c)) continue;
        if (at > start) tokens.emplace_back(s.data + start, at - start);
        start = i;
    }
    if (s.size > start) tokens.emplace_back(s.data + start, s.size - start);
    std::sort(tokens.begin(), tokens.end());
    std::string out;
    for (std::size_t k = 0; k < tokens.size(); ++k) {
        if (k) out.push_back(' ');
        out.append(tokens[k]);
    }
    return out;
}

double token_sort_ratio(Text a, Text b, double score_cutoff) {
    if (score_cutoff > 100.0) return 0.0;
    return with_symbols(a, b, [&](auto sa, auto sb) { return sort_ratio(sa, sb, score_cutoff); });
}

double partial_token_sort_ratio(Text a, Text b, double score_cutoff) {
    if (score_cutoff > 100.0) return 0.0;
    return with_symbols(a, b,
                        [&](auto sa, auto sb) { return partial_sort_ratio(sa, sb, score_cutoff); });
}

double token_set_ratio(Text a, Text b, double score_cutoff) {
    if (score_cutoff > 100.0) return 0.0;
    return with_symbols(a, b, [&](auto sa, auto sb) { return set_scorer(sa, sb, score_cutoff); });
}

double token_ratio(Text a, Text b, double score_cutoff) {
    if (score_cutoff > 100.0) return 0.0;
    return with_symbols(a, b, [&](auto sa, auto sb) { return token_ratio(sa, sb, score_cutoff); });
}

double partial_token_set_ratio(Text a, Text b, double score_cutoff) {
    if (score_cutoff > 100.0) return 0.0;
    return with_symbols(a, b,
                        [&](auto sa, auto sb) { return partial_set_ratio(sa, sb, score_cutoff); });
}

double partial_token_ratio(Text a, Text b, double score_cutoff) {
    if (score_cutoff > 100.0) return 0.0;
    return with_symbols(
        a, b, [&](auto sa, auto sb) { return partial_token_ratio(sa, sb, score_cutoff); });
}

}  // namespace tarnvel::core
