// Every scorer of the module, in one shape: prepare the query once, then score choices.
//
// A scorer type S provides
//   using V            the value type: double (0-100 or 0-1), uint32 (distance), int64;
//   kHigher            true when larger values are better;
//   struct Prepared    the query side, built once per query and shared read-only by
//                      every worker (bit-parallel pattern, code points, lengths);
//   score_many(p, choices, n, hint, out)
//                      out[k] = the exact value of the module's scalar function for
//                      (query, choices[k]) with its default cutoff, for every pair whose
//                      value is at least as good as `hint`; a pair that is worse than
//                      `hint` may get any value that is also worse than it (kernels use
//                      it to stop early). hint = worst() asks for every value exactly;
//   bound(p, facts)    a value the pair cannot beat, from what is known of it without
//                      scoring (PairFacts: lengths, and symbol-count lower bounds), or
//                      nothing (std::nullopt) where no cheap bound exists. Each bound is
//                      proved beside it; the shapes skip a pair when its bound is worse
//                      than what it must reach;
//   kSketch            true when bound() gains from the symbol-count sketches (sketch.hpp),
//                      so the shapes refine the length facts with them.
// The generic shapes (shapes.hpp) are written once over this concept and serve every
// scorer of both modules. See also: shapes.hpp, ids.hpp.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "core/alignment/alignment.hpp"
#include "core/common/text.hpp"
#include "core/damerau/damerau.hpp"
#include "core/fuzz/extract.hpp"
#include "core/fuzz/partial.hpp"
#include "core/fuzz/ratio.hpp"
#include "core/fuzz/ratio_formula.hpp"
#include "core/fuzz/token.hpp"
#include "core/fuzz/weighted.hpp"
#include "core/jaro/jaro.hpp"
#include "core/jaro/jaro_scalar.hpp"
#include "core/levenshtein/levenshtein.hpp"
#include "core/match/ids.hpp"
#include "core/match/sketch.hpp"

namespace tarnvel::core::match {

// The query of one call: its text and its length in code points.
struct Query {
    Text text;
    std::size_t len = 0;
};

// What is known of a (query, choice) pair before it is scored: n and m code points, and
// lower bounds on `over`, the symbols of the query the choice lacks, and `under`, those of
// the choice the query lacks, counted per symbol bucket (sketch.hpp). over - under = n - m
// holds for the true counts, so each bound also bounds the other.
// `spaced` is false only when both texts are known to be single words (non-empty, no
// white space), whose token forms are the texts themselves.
struct PairFacts {
    std::size_t n = 0, m = 0;
    std::size_t over = 0, under = 0;
    bool spaced = true;
};

// The facts of lengths alone: over >= n - m and under >= m - n.
inline PairFacts length_facts(std::size_t n, std::size_t m) {
    return PairFacts{n, m, n > m ? n - m : 0, m > n ? m - n : 0};
}

// Length facts refined by sketch lower bounds o and u of over and under.
inline PairFacts sketch_facts(std::size_t n, std::size_t m, std::size_t o, std::size_t u) {
    PairFacts f = length_facts(n, m);
    // over = under + (n - m): a lower bound of either gives one of the other.
    const std::size_t over = std::max(o, n >= m ? u + (n - m) : (u > m - n ? u - (m - n) : 0));
    f.over = std::max(f.over, over);
    f.under = f.over + m - n;  // exact given over: both now consistent
    return f;
}

namespace detail {

// (1 - d / total) * 100 is non-increasing in d for a fixed total: d / total is a
// correctly rounded quotient (monotone in d), and 1 - x and x * 100 are monotone too. So
// evaluating the formula at the smallest possible distance bounds every pair from above,
// bit for bit, without any slack.
// An insertion or deletion moves over or under by one (sketch.hpp), and indel must bring
// both to zero, so the indel distance is at least over + under (>= |n - m|).
inline double ratio_bound(const PairFacts& f) {
    const std::uint64_t total = std::uint64_t{f.n} + f.m;
    if (total == 0) return 100.0;
    return ratio_from_distance(std::uint64_t{f.over} + f.under, total);
}

// Scalar fuzz scorer over whole texts, with the scalar function's own cutoff as the hint
// (the module's scorers return the exact score when it reaches the cutoff, else 0.0).
template <double (*F)(Text, Text, double)>
struct ScalarFuzz {
    using V = double;
    static constexpr bool kHigher = true;
    static constexpr V kPerfect = 100.0;  // no pair scores better
    struct Prepared {
        Query q;
        Prepared(Query query, const ScorerParams&) : q(query) {}
    };
    static void score_many(const Prepared& p, const Text* c, std::size_t n, double hint,
                           double* out) {
        const double cut = hint > 0.0 ? hint : 0.0;
        for (std::size_t k = 0; k < n; ++k) out[k] = F(p.q.text, c[k], cut);
    }
    static constexpr bool kSketch = false;
    static std::optional<double> bound(const Prepared&, const PairFacts&) { return std::nullopt; }
};

// An edit moves over and under by at most one each, a transposition neither, and both
// end at zero: Levenshtein and Damerau-Levenshtein distances are >= max(over, under)
// (which is >= |n - m|).
inline std::size_t edit_floor(const PairFacts& f) { return std::max(f.over, f.under); }

inline std::uint32_t edit_gap(const PairFacts& f) {
    return static_cast<std::uint32_t>(std::min<std::size_t>(edit_floor(f), 0xFFFFFFFFu));
}

}  // namespace detail

// fuzz_ratio: the query's bit-parallel pattern streams every choice.
struct RatioScorer {
    using V = double;
    static constexpr bool kHigher = true;
    static constexpr V kPerfect = 100.0;  // no pair scores better
    struct Prepared {
        Query q;
        IndelQuery iq;
        Prepared(Query query, const ScorerParams&) : q(query), iq(query.text) {}
    };
    static void score_many(const Prepared& p, const Text* c, std::size_t n, double, double* out) {
        p.iq.score_many(c, n, out);
    }
    static constexpr bool kSketch = true;
    static std::optional<double> bound(const Prepared&, const PairFacts& f) {
        return detail::ratio_bound(f);
    }
};

// fuzz_qratio: 0.0 when either text is empty, else the indel ratio.
struct QRatioScorer {
    using V = double;
    static constexpr bool kHigher = true;
    static constexpr V kPerfect = 100.0;  // no pair scores better
    using Prepared = RatioScorer::Prepared;
    static void score_many(const Prepared& p, const Text* c, std::size_t n, double, double* out) {
        if (p.q.text.empty()) {
            for (std::size_t k = 0; k < n; ++k) out[k] = 0.0;
            return;
        }
        p.iq.score_many(c, n, out);
        for (std::size_t k = 0; k < n; ++k)
            if (c[k].empty()) out[k] = 0.0;
    }
    static constexpr bool kSketch = true;
    static std::optional<double> bound(const Prepared&, const PairFacts& f) {
        if (f.n == 0 || f.m == 0) return 0.0;
        return detail::ratio_bound(f);
    }
};

namespace detail {

// fuzz_partial_ratio: the best window of the longer text against the shorter one (s
// symbols). A window of L <= s symbols holds at most min(L, M) symbols of a common
// subsequence, M being the symbols the two texts share (M <= n - over = m - under), so its
// ratio 2 LCS / (s + L) is at most 2 M / (s + M) in exact arithmetic, the value of a
// window of M symbols all shared (the expression grows with L up to M, then falls). A
// computed ratio is within a few ulps of its exact value, so the formula at (s - M, s + M)
// plus a margin far above that (1e-9) bounds every window, and the final score, which is
// one window's or 0. A shorter text with no symbol shared scores exactly 0.
inline double partial_bound(const PairFacts& f) {
    if (f.n == 0 || f.m == 0) return f.n == f.m ? 100.0 : 0.0;
    const std::size_t s = std::min(f.n, f.m);
    const std::size_t most = std::min(f.n - std::min(f.over, f.n), f.m - std::min(f.under, f.m));
    if (most >= s) return 100.0;
    if (most == 0) return 0.0;
    return std::min(100.0, ratio_from_distance(s - most, s + most) + 1e-9);
}

// Two single words are their own token lists, joined and sorted: the token sort ratio is
// their indel ratio, and their token sets share nothing unless the words are equal (then
// every token scorer gives 100, as does the ratio bound), so the set comparison is the
// indel ratio of the two words through its own formula (100 - d * 100 / total), within
// a few ulps of the same exact value. The ratio bound plus 1e-9 bounds all three.
inline double word_ratio_bound(const PairFacts& f) {
    if (f.spaced) return 100.0;
    return std::min(100.0, ratio_bound(f) + 1e-9);
}

// The partial token scorers of two different single words are partial ratios of the
// words themselves (no shared token, no repeated one).
inline double word_partial_bound(const PairFacts& f) { return f.spaced ? 100.0 : partial_bound(f); }

template <double (*F)(Text, Text, double), double (*B)(const PairFacts&)>
struct BoundedFuzz : ScalarFuzz<F> {
    using Prepared = typename ScalarFuzz<F>::Prepared;
    static constexpr bool kSketch = true;
    static std::optional<double> bound(const Prepared&, const PairFacts& f) { return B(f); }
};

// fuzz_wratio: max(end, t * 0.95) for similar lengths, else max(end, p * scale,
// (q * 0.95) * scale), with end the indel ratio, t the token ratio, p the partial ratio
// and q the partial token ratio, in the code's order of operations. Every product is
// monotone in its factor under rounding, so bounds of end, t, p and q (from 100 down to
// the bounds above) bound the result bit for bit. The length ratio is computed as the
// scorer computes it, so the branch is the scorer's own.
inline double wratio_bound(const PairFacts& f) {
    if (f.n == 0 || f.m == 0) return 0.0;
    const double len_ratio =
        static_cast<double>(std::max(f.n, f.m)) / static_cast<double>(std::min(f.n, f.m));
    const double end = ratio_bound(f);
    if (len_ratio < 1.5) return std::max(end, word_ratio_bound(f) * 0.95);
    const double scale = len_ratio > 8.0 ? 0.6 : 0.9;
    const double p = partial_bound(f) * scale;
    const double q = (word_partial_bound(f) * 0.95) * scale;
    return std::max({end, p, q});
}

}  // namespace detail

using PartialRatioScorer = detail::BoundedFuzz<&partial_ratio, &detail::partial_bound>;
using TokenSortRatioScorer = detail::BoundedFuzz<&token_sort_ratio, &detail::word_ratio_bound>;
using TokenSetRatioScorer = detail::BoundedFuzz<&token_set_ratio, &detail::word_ratio_bound>;
using TokenRatioScorer = detail::BoundedFuzz<&token_ratio, &detail::word_ratio_bound>;
using PartialTokenSortRatioScorer =
    detail::BoundedFuzz<&partial_token_sort_ratio, &detail::word_partial_bound>;
using PartialTokenSetRatioScorer =
    detail::BoundedFuzz<&partial_token_set_ratio, &detail::word_partial_bound>;
using PartialTokenRatioScorer =
    detail::BoundedFuzz<&partial_token_ratio, &detail::word_partial_bound>;

// fuzz_wratio, with the query's symbols and token shape found once per query.
struct WRatioScorer : detail::BoundedFuzz<&weighted_ratio, &detail::wratio_bound> {
    struct Prepared {
        Query q;
        WeightedQuery wq;
        Prepared(Query query, const ScorerParams&) : q(query), wq(query.text) {}
    };
    static void score_many(const Prepared& p, const Text* c, std::size_t n, double hint,
                           double* out) {
        const double cut = hint > 0.0 ? hint : 0.0;
        for (std::size_t k = 0; k < n; ++k) out[k] = p.wq.score(c[k], cut);
    }
    static std::optional<double> bound(const Prepared&, const PairFacts& f) {
        return detail::wratio_bound(f);
    }
};

// damerau_ratio: 100 * (total - d) / total in the module's order of operations.
struct DamerauRatioScorer {
    using V = double;
    static constexpr bool kHigher = true;
    static constexpr V kPerfect = 100.0;  // no pair scores better
    struct Prepared {
        Query q;
        Prepared(Query query, const ScorerParams&) : q(query) {}
    };
    static void score_many(const Prepared& p, const Text* c, std::size_t n, double, double* out) {
        for (std::size_t k = 0; k < n; ++k) out[k] = damerau_ratio(p.q.text, c[k]);
    }
    // d >= max(over, under) (edit_floor), and ((l - d) / l) * 100 is non-increasing in d
    // under correct rounding, so the formula at that floor bounds every pair from above.
    static constexpr bool kSketch = true;
    static std::optional<double> bound(const Prepared&, const PairFacts& f) {
        const std::uint64_t total = std::uint64_t{f.n} + f.m;
        if (total == 0) return 100.0;
        return ratio_from_remaining(detail::edit_floor(f), total);
    }
};

// Jaro: m matches and h transpositions give ((M - h) / M + (M / la + M / lb)) / 3 with
// M = m. With h = 0 the first quotient is exactly 1, the largest it can be, and every
// other operation is monotone in M, so any M >= m bounds the pair, bit for bit. A match
// pairs equal symbols, so per bucket at most min(a, b) of them: m <= n - over = m - under
// (<= min(n, m)). No match at all gives exactly 0.
inline double jaro_bound(const PairFacts& f) {
    if (f.n == 0 || f.m == 0) return f.n == f.m ? 1.0 : 0.0;
    const std::size_t most = std::min(f.n - std::min(f.over, f.n), f.m - std::min(f.under, f.m));
    if (most == 0) return 0.0;
    return jaro_finish(most, 0, f.n, f.m);
}

// Jaro is Jaro-Winkler with p = 0: the boost j + (1 - j) * l * 0 adds an exact zero, so
// the lane kernels of the batch give jaro()'s bits.
struct JaroScorer {
    using V = double;
    static constexpr bool kHigher = true;
    static constexpr V kPerfect = 1.0;  // no pair scores better
    struct Prepared {
        Query q;
        JaroWinklerQuery jw;
        Prepared(Query query, const ScorerParams&) : q(query), jw(query.text, 0.0) {}
    };
    static void score_many(const Prepared& p, const Text* c, std::size_t n, double, double* out) {
        p.jw.score_many(c, n, out);
    }
    static constexpr bool kSketch = true;
    static std::optional<double> bound(const Prepared&, const PairFacts& f) {
        return jaro_bound(f);
    }
};

struct JaroWinklerScorer {
    using V = double;
    static constexpr bool kHigher = true;
    static constexpr V kPerfect = 1.0;  // no pair scores better
    struct Prepared {
        Query q;
        double p;
        JaroWinklerQuery jw;
        Prepared(Query query, const ScorerParams& sp) : q(query), p(sp.p), jw(query.text, sp.p) {}
    };
    static void score_many(const Prepared& p, const Text* c, std::size_t n, double, double* out) {
        p.jw.score_many(c, n, out);
    }
    // The boost j + (1 - j) * l * p is non-decreasing in j and l in exact arithmetic and
    // the Jaro value is bounded as above; the prefix is at most 4. Rounding of the three
    // boost operations can move the computed value by a few ulps, so the bound carries a
    // margin far above that (1e-9) and stays provably above every computed value.
    static constexpr bool kSketch = true;
    static std::optional<double> bound(const Prepared& p, const PairFacts& f) {
        const double j = jaro_bound(f);
        const std::size_t l = std::min<std::size_t>({4, f.n, f.m});
        return std::min(1.0, winkler_boost(j, l, clamp_prefix_scale(p.p)) + 1e-9);
    }
};

struct LevenshteinScorer {
    using V = std::uint32_t;
    static constexpr bool kHigher = false;
    static constexpr V kPerfect = 0u;  // no pair scores better
    struct Prepared {
        Query q;
        LevenshteinQuery lq;
        Prepared(Query query, const ScorerParams&) : q(query), lq(query.text) {}
    };
    static void score_many(const Prepared& p, const Text* c, std::size_t n, std::uint32_t,
                           std::uint32_t* out) {
        p.lq.score_many(c, n, out);
    }
    static constexpr bool kSketch = true;
    static std::optional<std::uint32_t> bound(const Prepared&, const PairFacts& f) {
        return detail::edit_gap(f);
    }
};

struct DamerauScorer {
    using V = std::uint32_t;
    static constexpr bool kHigher = false;
    static constexpr V kPerfect = 0u;  // no pair scores better
    struct Prepared {
        Query q;
        Prepared(Query query, const ScorerParams&) : q(query) {}
    };
    static void score_many(const Prepared& p, const Text* c, std::size_t n, std::uint32_t,
                           std::uint32_t* out) {
        for (std::size_t k = 0; k < n; ++k) out[k] = damerau_levenshtein(p.q.text, c[k]);
    }
    static constexpr bool kSketch = true;
    static std::optional<std::uint32_t> bound(const Prepared&, const PairFacts& f) {
        return detail::edit_gap(f);
    }
};

struct NeedlemanWunschScorer {
    using V = std::int64_t;
    static constexpr bool kHigher = true;
    struct Prepared {
        Query q;
        ScorerParams s;
        Prepared(Query query, const ScorerParams& sp) : q(query), s(sp) {}
    };
    static void score_many(const Prepared& p, const Text* c, std::size_t n, std::int64_t,
                           std::int64_t* out) {
        for (std::size_t k = 0; k < n; ++k)
            out[k] = nw_linear(p.q.text, c[k], p.s.match, p.s.mismatch, p.s.gap);
    }
    static constexpr bool kSketch = false;
    static std::optional<std::int64_t> bound(const Prepared&, const PairFacts&) {
        return std::nullopt;
    }
};

struct NeedlemanWunschAffineScorer {
    using V = std::int64_t;
    static constexpr bool kHigher = true;
    using Prepared = NeedlemanWunschScorer::Prepared;
    static void score_many(const Prepared& p, const Text* c, std::size_t n, std::int64_t,
                           std::int64_t* out) {
        for (std::size_t k = 0; k < n; ++k)
            out[k] = nw_affine(p.q.text, c[k], p.s.match, p.s.mismatch, p.s.open, p.s.extend);
    }
    static constexpr bool kSketch = false;
    static std::optional<std::int64_t> bound(const Prepared&, const PairFacts&) {
        return std::nullopt;
    }
};

// Calls f.template operator()<S>() with the scorer type of id.
template <typename F>
decltype(auto) with_scorer(ScorerId id, F&& f) {
    switch (id) {
        case ScorerId::ratio:
            return f.template operator()<RatioScorer>();
        case ScorerId::qratio:
            return f.template operator()<QRatioScorer>();
        case ScorerId::partial_ratio:
            return f.template operator()<PartialRatioScorer>();
        case ScorerId::token_sort_ratio:
            return f.template operator()<TokenSortRatioScorer>();
        case ScorerId::token_set_ratio:
            return f.template operator()<TokenSetRatioScorer>();
        case ScorerId::token_ratio:
            return f.template operator()<TokenRatioScorer>();
        case ScorerId::partial_token_sort_ratio:
            return f.template operator()<PartialTokenSortRatioScorer>();
        case ScorerId::partial_token_set_ratio:
            return f.template operator()<PartialTokenSetRatioScorer>();
        case ScorerId::partial_token_ratio:
            return f.template operator()<PartialTokenRatioScorer>();
        case ScorerId::wratio:
            return f.template operator()<WRatioScorer>();
        case ScorerId::damerau_ratio:
            return f.template operator()<DamerauRatioScorer>();
        case ScorerId::jaro:
            return f.template operator()<JaroScorer>();
        case ScorerId::jaro_winkler:
            return f.template operator()<JaroWinklerScorer>();
        case ScorerId::levenshtein:
            return f.template operator()<LevenshteinScorer>();
        case ScorerId::damerau_levenshtein:
            return f.template operator()<DamerauScorer>();
        case ScorerId::needleman_wunsch:
            return f.template operator()<NeedlemanWunschScorer>();
        case ScorerId::needleman_wunsch_affine:
            return f.template operator()<NeedlemanWunschAffineScorer>();
    }
    panic("unknown scorer id");
}

}  // namespace tarnvel::core::match
