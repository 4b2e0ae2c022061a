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
//   bound(p, choice_len)
//                      a value no pair with a choice of that many code points can beat,
//                      or nothing (std::nullopt) where no cheap bound exists. Each bound
//                      is proved beside it; the shapes skip a pair when its bound is
//                      worse than what it must reach.
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
#include "core/fuzz/token.hpp"
#include "core/fuzz/weighted.hpp"
#include "core/jaro/jaro.hpp"
#include "core/jaro/jaro_scalar.hpp"
#include "core/levenshtein/levenshtein.hpp"
#include "core/match/ids.hpp"

namespace tarnvel::core::match {

// The query of one call: its text and its length in code points.
struct Query {
    Text text;
    std::size_t len = 0;
};

namespace detail {

// (1 - d / total) * 100 is non-increasing in d for a fixed total: d / total is a
// correctly rounded quotient (monotone in d), and 1 - x and x * 100 are monotone too. So
// evaluating the formula at the smallest possible distance bounds every pair from above,
// bit for bit, without any slack.
inline double ratio_bound(std::size_t n, std::size_t m) {
    const std::uint64_t total = std::uint64_t{n} + m;
    if (total == 0) return 100.0;
    const std::uint64_t dmin = n > m ? n - m : m - n;  // indel distance >= |n - m|
    return ratio_from_distance(dmin, total);
}

// Scalar fuzz scorer over whole texts, with the scalar function's own cutoff as the hint
// (the module's scorers return the exact score when it reaches the cutoff, else 0.0).
template <double (*F)(Text, Text, double)>
struct ScalarFuzz {
    using V = double;
    static constexpr bool kHigher = true;
    struct Prepared {
        Query q;
        Prepared(Query query, const ScorerParams&) : q(query) {}
    };
    static void score_many(const Prepared& p, const Text* c, std::size_t n, double hint, double* out) {
        const double cut = hint > 0.0 ? hint : 0.0;
        for (std::size_t k = 0; k < n; ++k) out[k] = F(p.q.text, c[k], cut);
    }
    static std::optional<double> bound(const Prepared&, std::size_t) { return std::nullopt; }
};

// Each edit (and a transposition) changes the length by at most one: d >= |n - m|.
inline std::uint32_t length_gap(std::size_t n, std::size_t m) {
    const std::size_t d = n > m ? n - m : m - n;
    return static_cast<std::uint32_t>(std::min<std::size_t>(d, 0xFFFFFFFFu));
}

}  // namespace detail

// fuzz_ratio: the query's bit-parallel pattern streams every choice.
struct RatioScorer {
    using V = double;
    static constexpr bool kHigher = true;
    struct Prepared {
        Query q;
        IndelQuery iq;
        Prepared(Query query, const ScorerParams&) : q(query), iq(query.text) {}
    };
    static void score_many(const Prepared& p, const Text* c, std::size_t n, double, double* out) {
        p.iq.score_many(c, n, out);
    }
    static std::optional<double> bound(const Prepared& p, std::size_t m) {
        return detail::ratio_bound(p.q.len, m);
    }
};

// fuzz_qratio: 0.0 when either text is empty, else the indel ratio.
struct QRatioScorer {
    using V = double;
    static constexpr bool kHigher = true;
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
    static std::optional<double> bound(const Prepared& p, std::size_t m) {
        if (p.q.len == 0 || m == 0) return 0.0;
        return detail::ratio_bound(p.q.len, m);
    }
};

using PartialRatioScorer = detail::ScalarFuzz<&partial_ratio>;
using TokenSortRatioScorer = detail::ScalarFuzz<&token_sort_ratio>;
using TokenSetRatioScorer = detail::ScalarFuzz<&token_set_ratio>;
using TokenRatioScorer = detail::ScalarFuzz<&token_ratio>;
using PartialTokenSortRatioScorer = detail::ScalarFuzz<&partial_token_sort_ratio>;
using PartialTokenSetRatioScorer = detail::ScalarFuzz<&partial_token_set_ratio>;
using PartialTokenRatioScorer = detail::ScalarFuzz<&partial_token_ratio>;
using WRatioScorer = detail::ScalarFuzz<&weighted_ratio>;

// damerau_ratio: 100 * (total - d) / total in the module's order of operations.
struct DamerauRatioScorer {
    using V = double;
    static constexpr bool kHigher = true;
    struct Prepared {
        Query q;
        Prepared(Query query, const ScorerParams&) : q(query) {}
    };
    static void score_many(const Prepared& p, const Text* c, std::size_t n, double, double* out) {
        for (std::size_t k = 0; k < n; ++k) out[k] = damerau_ratio(p.q.text, c[k]);
    }
    // d >= |n - m| (every edit changes the length by at most one), and ((l - d) / l) * 100
    // is non-increasing in d under correct rounding, so the formula at d = |n - m| bounds
    // every pair from above.
    static std::optional<double> bound(const Prepared& p, std::size_t m) {
        const std::uint64_t total = std::uint64_t{p.q.len} + m;
        if (total == 0) return 100.0;
        const std::size_t dmin = p.q.len > m ? p.q.len - m : m - p.q.len;
        const double l = static_cast<double>(total);
        return ((l - static_cast<double>(dmin)) / l) * 100.0;
    }
};

// Jaro: m matches and h transpositions give ((M - h) / M + (M / la + M / lb)) / 3 with
// M = m. With h = 0 the first quotient is exactly 1, the largest it can be, and every
// other operation is monotone in M, so M = min(la, lb) bounds every pair, bit for bit.
inline double jaro_bound(std::size_t la, std::size_t lb) {
    if (la == 0 || lb == 0) return la == lb ? 1.0 : 0.0;
    return jaro_finish(std::min(la, lb), 0, la, lb);
}

// Jaro is Jaro-Winkler with p = 0: the boost j + (1 - j) * l * 0 adds an exact zero, so
// the lane kernels of the batch give jaro()'s bits.
struct JaroScorer {
    using V = double;
    static constexpr bool kHigher = true;
    struct Prepared {
        Query q;
        JaroWinklerQuery jw;
        Prepared(Query query, const ScorerParams&) : q(query), jw(query.text, 0.0) {}
    };
    static void score_many(const Prepared& p, const Text* c, std::size_t n, double, double* out) {
        p.jw.score_many(c, n, out);
    }
    static std::optional<double> bound(const Prepared& p, std::size_t m) {
        return jaro_bound(p.q.len, m);
    }
};

struct JaroWinklerScorer {
    using V = double;
    static constexpr bool kHigher = true;
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
    static std::optional<double> bound(const Prepared& p, std::size_t m) {
        const double j = jaro_bound(p.q.len, m);
        const std::size_t l = std::min<std::size_t>({4, p.q.len, m});
        return std::min(1.0, winkler_boost(j, l, clamp_prefix_scale(p.p)) + 1e-9);
    }
};

struct LevenshteinScorer {
    using V = std::uint32_t;
    static constexpr bool kHigher = false;
    struct Prepared {
        Query q;
        LevenshteinQuery lq;
        Prepared(Query query, const ScorerParams&) : q(query), lq(query.text) {}
    };
    static void score_many(const Prepared& p, const Text* c, std::size_t n, std::uint32_t,
                           std::uint32_t* out) {
        p.lq.score_many(c, n, out);
    }
    // Each edit changes the length by at most one: d >= |n - m|.
    static std::optional<std::uint32_t> bound(const Prepared& p, std::size_t m) {
        return detail::length_gap(p.q.len, m);
    }
};

struct DamerauScorer {
    using V = std::uint32_t;
    static constexpr bool kHigher = false;
    struct Prepared {
        Query q;
        Prepared(Query query, const ScorerParams&) : q(query) {}
    };
    static void score_many(const Prepared& p, const Text* c, std::size_t n, std::uint32_t,
                           std::uint32_t* out) {
        for (std::size_t k = 0; k < n; ++k) out[k] = damerau_levenshtein(p.q.text, c[k]);
    }
    // A transposition also keeps the length: d >= |n - m| as for Levenshtein.
    static std::optional<std::uint32_t> bound(const Prepared& p, std::size_t m) {
        return detail::length_gap(p.q.len, m);
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
    static std::optional<std::int64_t> bound(const Prepared&, std::size_t) { return std::nullopt; }
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
    static std::optional<std::int64_t> bound(const Prepared&, std::size_t) { return std::nullopt; }
};

// Calls f.template operator()<S>() with the scorer type of id.
template <typename F>
decltype(auto) with_scorer(ScorerId id, F&& f) {
    switch (id) {
        case ScorerId::ratio: return f.template operator()<RatioScorer>();
        case ScorerId::qratio: return f.template operator()<QRatioScorer>();
        case ScorerId::partial_ratio: return f.template operator()<PartialRatioScorer>();
        case ScorerId::token_sort_ratio: return f.template operator()<TokenSortRatioScorer>();
        case ScorerId::token_set_ratio: return f.template operator()<TokenSetRatioScorer>();
        case ScorerId::token_ratio: return f.template operator()<TokenRatioScorer>();
        case ScorerId::partial_token_sort_ratio:
            return f.template operator()<PartialTokenSortRatioScorer>();
        case ScorerId::partial_token_set_ratio:
            return f.template operator()<PartialTokenSetRatioScorer>();
        case ScorerId::partial_token_ratio: return f.template operator()<PartialTokenRatioScorer>();
        case ScorerId::wratio: return f.template operator()<WRatioScorer>();
        case ScorerId::damerau_ratio: return f.template operator()<DamerauRatioScorer>();
        case ScorerId::jaro: return f.template operator()<JaroScorer>();
        case ScorerId::jaro_winkler: return f.template operator()<JaroWinklerScorer>();
        case ScorerId::levenshtein: return f.template operator()<LevenshteinScorer>();
        case ScorerId::damerau_levenshtein: return f.template operator()<DamerauScorer>();
        case ScorerId::needleman_wunsch: return f.template operator()<NeedlemanWunschScorer>();
        case ScorerId::needleman_wunsch_affine:
            return f.template operator()<NeedlemanWunschAffineScorer>();
    }
    panic("unknown scorer id");
}

}  // namespace tarnvel::core::match
