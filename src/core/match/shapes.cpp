// The bulk matching shapes over the scorer concept (see shapes.hpp).
#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <numeric>
#include <optional>
#include <queue>
#include <string>
#include <type_traits>
#include <unordered_set>

#include "core/common/panic.hpp"
#include "core/fuzz/ratio_formula.hpp"
#include "core/fuzz/token.hpp"
#include "core/levenshtein/levenshtein_packed.hpp"
#include "core/match/scorers.hpp"
#include "core/match/shapes.hpp"
#include "dispatch/kernels.hpp"
#include "engine/cancel.hpp"
#include "engine/parallel.hpp"

namespace tarnvel::core::match {
namespace {

// Choices scored per kernel call: large enough for the lane kernels to fill their
// registers, small enough for the scores to stay in L1 and for a cancellation to be seen
// within microseconds.
constexpr std::size_t kSub = 256;
// Choices per unit of a cross-product or top-k row split.
constexpr std::size_t kColumnBlock = 4096;

std::atomic<std::uint64_t> g_checked{0}, g_by_length{0}, g_by_sketch{0};

// The cutoff as a keep test on one value type.
template <typename V, bool Higher>
struct Threshold;

template <bool Higher>
struct Threshold<double, Higher> {
    bool none = false, all = true;
    double t = 0.0;
    explicit Threshold(Cutoff c) {
        if (!c.set) return;
        all = false;
        t = c.value;
        none = std::isnan(t);
    }
    bool keep(double v) const { return all || v >= t; }
    double hint() const { return all || none ? 0.0 : t; }
};

template <>
struct Threshold<std::uint32_t, false> {
    bool none = false, all = true;
    std::uint64_t t = 0;  // keep v <= t
    explicit Threshold(Cutoff c) {
        if (!c.set) return;
        all = false;
        if (std::isnan(c.value) || c.value < 0.0) {
            none = true;
            return;
        }
        t = c.value >= 4294967295.0 ? 4294967295u : static_cast<std::uint64_t>(std::floor(c.value));
    }
    bool keep(std::uint32_t v) const { return all || v <= t; }
    std::uint32_t hint() const { return all || none ? 0xFFFFFFFFu : static_cast<std::uint32_t>(t); }
    // What a pair that misses the cutoff holds in a matrix.
    std::uint32_t miss() const {
        return t >= 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(t + 1);
    }
};

template <>
struct Threshold<std::int64_t, true> {
    bool none = false, all = true;
    std::int64_t t = 0;  // keep v >= t
    explicit Threshold(Cutoff c) {
        if (!c.set) return;
        all = false;
        const double v = c.value;
        if (std::isnan(v) || v > 9223372036854775807.0) {
            none = true;
            return;
        }
        if (v <= -9223372036854775808.0) {
            all = true;
            return;
        }
        t = static_cast<std::int64_t>(std::ceil(v));
    }
    bool keep(std::int64_t v) const { return all || v >= t; }
    std::int64_t hint() const { return std::numeric_limits<std::int64_t>::min(); }
};

// a better than b (values only).
template <typename S>
bool better(typename S::V a, typename S::V b) {
    if constexpr (S::kHigher)
        return a > b;
    else
        return a < b;
}

template <typename V>
V& value_at(void* base, std::size_t i) {
    return static_cast<V*>(base)[i];
}

// Scores choices [b, e) of `choices` against a prepared query; calls on(j, v) in index
// order for every pair that is neither missing, nor the excluded index, nor pruned by
// the scorer's bound against need() (which may tighten as results arrive). The bound is
// tried on the lengths first, then, where the scorer gains from them, on the sketches.
template <typename S, typename Need, typename On>
void scan(const typename S::Prepared& p, const TextStore& choices, std::size_t b, std::size_t e,
          std::size_t exclude, bool prune, Need&& need, On&& on, bool use_sketches = true) {
    using V = typename S::V;
    Text texts[kSub];
    std::uint32_t where[kSub];
    V vals[kSub];
    std::uint64_t checked = 0, by_length = 0, by_sketch = 0;
    const Sketch* sketches = nullptr;
    const std::uint8_t* words = nullptr;
    Sketch qs{};
    bool q_word = false;
    if constexpr (S::kSketch) {
        if (prune && use_sketches) {
            sketches = choices.sketches();
            words = choices.one_words();
            qs = sketch_of(p.q.text, &q_word);
        }
    }
    const std::size_t n = p.q.len;
    for (std::size_t lo = b; lo < e; lo += kSub) {
        engine::interruption_point();
        if (prune && need.done()) break;
        const std::size_t hi = std::min(e, lo + kSub);
        const auto [active, hint] = need();
        std::size_t kept = 0;
        for (std::size_t j = lo; j < hi; ++j) {
            if (choices.missing(j) || j == exclude) continue;
            if (prune && active) {
                const std::size_t m = choices.length(j);
                if (const std::optional<V> bnd = S::bound(p, length_facts(n, m))) {
                    ++checked;
                    // Skip when even the bound cannot do better than what must be beaten
                    // (or, for a cutoff, reach it).
                    if (!active(*bnd)) {
                        ++by_length;
                        continue;
                    }
                    if (sketches) {
                        PairFacts f = sketch_facts(n, m, sketch_excess(qs, sketches[j]),
                                                   sketch_excess(sketches[j], qs));
                        f.spaced = !(q_word && words[j]);
                        if (!active(*S::bound(p, f))) {
                            ++by_sketch;
                            continue;
                        }
                    }
                }
            }
            texts[kept] = choices.text(j);
            where[kept++] = static_cast<std::uint32_t>(j - lo);
        }
        if (kept == 0) continue;
        S::score_many(p, texts, kept, hint, vals);
        for (std::size_t k = 0; k < kept; ++k) on(lo + where[k], vals[k]);
    }
    if (checked) {
        g_checked.fetch_add(checked, std::memory_order_relaxed);
        g_by_length.fetch_add(by_length, std::memory_order_relaxed);
        g_by_sketch.fetch_add(by_sketch, std::memory_order_relaxed);
    }
}

// Scorers whose pair costs about as little as a sketch comparison (bit-parallel rows).
template <typename S>
constexpr bool kCheapPair = std::is_same_v<S, RatioScorer> || std::is_same_v<S, QRatioScorer> ||
                            std::is_same_v<S, JaroScorer> || std::is_same_v<S, JaroWinklerScorer> ||
                            std::is_same_v<S, LevenshteinScorer>;

// Builds the choices' sketches on the calling thread before the workers need them.
template <typename S>
void prepare_sketches(const TextStore& choices, const RunOptions& opt) {
    if constexpr (S::kSketch) {
        if (opt.prune) (void)choices.sketches();
    }
}

// Runs body(unit) for every unit, on the pool or here.
template <typename F>
void for_units(std::size_t units, const RunOptions& opt, F&& body) {
    if (!opt.parallel) {
        for (std::size_t u = 0; u < units; ++u) body(u);
        return;
    }
    engine::parallel_for(units, [&](std::size_t b, std::size_t e) {
        for (std::size_t u = b; u < e; ++u) body(u);
    });
}

void add_progress(const RunOptions& opt, std::uint64_t pairs) {
    if (opt.progress) opt.progress->fetch_add(pairs, std::memory_order_relaxed);
}

Query query_of(const TextStore& s, std::size_t i) { return Query{s.text(i), s.length(i)}; }

// The k best (value, index) so far; worst on top. "Better" is the value order, then the
// lower index.
template <typename S>
class Best {
public:
    using V = typename S::V;
    struct Item {
        V v;
        std::size_t j;
    };
    explicit Best(std::size_t k) : k_(k) {}
    bool full() const { return heap_.size() >= k_; }
    const Item& worst() const { return heap_.front(); }
    // Whether (v, j) would enter.
    bool admits(V v, std::size_t j) const {
        if (!full()) return true;
        const Item& w = worst();
        return better<S>(v, w.v) || (v == w.v && j < w.j);
    }
    void push(V v, std::size_t j) {
        if (k_ == 0) return;
        if (!full()) {
            heap_.push_back({v, j});
            std::push_heap(heap_.begin(), heap_.end(), worse_on_top);
        } else if (admits(v, j)) {
            std::pop_heap(heap_.begin(), heap_.end(), worse_on_top);
            heap_.back() = {v, j};
            std::push_heap(heap_.begin(), heap_.end(), worse_on_top);
        }
    }
    // Best first.
    std::vector<Item> sorted() && {
        std::sort(heap_.begin(), heap_.end(), first_is_better);
        return std::move(heap_);
    }
    static bool first_is_better(const Item& a, const Item& b) {
        if (a.v != b.v) return better<S>(a.v, b.v);
        return a.j < b.j;
    }

private:
    static bool worse_on_top(const Item& a, const Item& b) { return first_is_better(a, b); }
    std::size_t k_;
    std::vector<Item> heap_;
};

template <typename S>
Match to_match(std::size_t j, typename S::V v) {
    Match m;
    m.index = j;
    if constexpr (std::is_same_v<typename S::V, double>)
        m.f = v;
    else if constexpr (std::is_same_v<typename S::V, std::uint32_t>)
        m.u = v;
    else
        m.i = v;
    return m;
}

// The best value a scorer can give (100, 1 or distance 0), where it has one.
template <typename S>
constexpr std::optional<typename S::V> perfect_of() {
    if constexpr (requires { S::kPerfect; })
        return S::kPerfect;
    else
        return std::nullopt;
}

// Lowers `at` to `unit` unless it already holds a lower one.
inline void lower_to(std::atomic<std::size_t>& at, std::size_t unit) {
    std::size_t cur = at.load(std::memory_order_relaxed);
    while (unit < cur && !at.compare_exchange_weak(cur, unit, std::memory_order_relaxed)) {
    }
}

// The condition a bound must meet, and the kernel hint, for a scan filling `best`.
// Once `best` holds k perfect values nothing later in index order can enter (ties go to
// the lower index), so the scan stops; with `stop` shared by the units of one result,
// such a unit also ends every unit after it.
template <typename S, typename Th>
struct BestNeed {
    using V = typename S::V;
    const Best<S>* best;
    const Th* th;
    std::atomic<std::size_t>* stop = nullptr;
    std::size_t unit = 0;
    bool done() const {
        if constexpr (perfect_of<S>().has_value()) {
            if (best->full() && !better<S>(*perfect_of<S>(), best->worst().v)) {
                if (stop) lower_to(*stop, unit);
                return true;
            }
        }
        return stop && stop->load(std::memory_order_relaxed) < unit;
    }
    struct Test {
        const BestNeed* n;
        V worst;
        bool full;
        explicit operator bool() const { return true; }
        bool operator()(V bnd) const {
            if (full) return better<S>(bnd, worst);  // an equal value has a later index
            return n->th->keep(bnd);
        }
    };
    std::pair<Test, V> operator()() const {
        if (best->full()) {
            const V w = best->worst().v;
            return {Test{this, w, true}, w};
        }
        return {Test{this, V{}, false}, th->hint()};
    }
};

template <typename S, typename Th>
struct KeepNeed {
    using V = typename S::V;
    const Th* th;
    struct Test {
        const Th* th;
        explicit operator bool() const { return !th->all; }
        bool operator()(V bnd) const { return th->keep(bnd); }
    };
    std::pair<Test, V> operator()() const { return {Test{th}, th->hint()}; }
    bool done() const { return false; }
};

template <typename S>
struct NoNeed {
    using V = typename S::V;
    struct Test {
        explicit operator bool() const { return false; }
        bool operator()(V) const { return true; }
    };
    V hint;
    std::pair<Test, V> operator()() const { return {Test{}, hint}; }
    bool done() const { return false; }
};

template <typename S>
using ThresholdOf = Threshold<typename S::V, S::kHigher>;

// ---------------------------------------------------------------------------------------

// One cell of a cross-product: the value, or what a pair that misses the cutoff holds.
template <typename S>
void put_cell(const ThresholdOf<S>& th, void* out, OutKind kind, std::size_t at, typename S::V v) {
    using V = typename S::V;
    V kept;
    if (th.none || !th.keep(v)) {
        if constexpr (std::is_same_v<V, std::uint32_t>)
            kept = th.miss();
        else
            kept = V{0};
    } else {
        kept = v;
    }
    if constexpr (std::is_same_v<V, double>) {
        if (kind == OutKind::f32)
            value_at<float>(out, at) = static_cast<float>(kept);
        else
            value_at<double>(out, at) = kept;
    } else {
        value_at<V>(out, at) = kept;
    }
}

// Scorers whose many-query shapes run on lane kernels that put many query rows in one
// vector register and stream the choices through them, so that one vector step serves a
// whole group of pairs where the per-row path serves one query: the indel ratios (from LCS
// lengths) and Levenshtein on the packed-lane kernels (levenshtein_packed.hpp), Jaro and
// Jaro-Winkler on the module's matrix kernel (Jaro is Jaro-Winkler with p = 0 bit for
// bit: the boost adds an exact zero).
template <typename S>
constexpr bool kPackedLcs = std::is_same_v<S, RatioScorer> || std::is_same_v<S, QRatioScorer>;
template <typename S>
constexpr bool kPackedLev = std::is_same_v<S, LevenshteinScorer>;
template <typename S>
constexpr bool kJaroLanes = std::is_same_v<S, JaroScorer> || std::is_same_v<S, JaroWinklerScorer>;
template <typename S>
constexpr bool kLanes = kPackedLcs<S> || kPackedLev<S> || kJaroLanes<S>;

// Whether the packed tables can hold every symbol of both stores (ids from 128 up for the
// code points above ASCII), so that no round of lane_rounds can fail midway.
bool packed_symbols_fit(const TextStore& a, const TextStore& b) {
    constexpr std::size_t kMaxWide = (std::size_t{1} << 16) - 128;
    std::unordered_set<std::uint32_t> wide;
    for (const TextStore* st : {&a, &b}) {
        for (std::size_t i = 0; i < st->size(); ++i) {
            if (st->missing(i) || (st->flags()[i] & TextStore::kAscii)) continue;
            const Text t = st->text(i);
            for (std::size_t k = 0; k < t.size;) {
                if (t.bytes()[k] < 0x80) {
                    ++k;
                    continue;
                }
                wide.insert(next_code_point(t.bytes(), k));
                if (wide.size() > kMaxWide) return false;
            }
        }
    }
    return true;
}

// Runs the lane kernels of S over the query rows they serve (not missing; at most 64 code
// points for the packed kernels), in rounds of rows x columns that bound the values held
// at once (at most 32 MiB). For each round, sink(r, c0, width, vals) runs once per row r
// of the round, on the pool with rows in parallel, with vals[j] the value of (r, c0 + j);
// a row's rounds come in column order. With `upper`, only columns above a round's first
// row are scored (self-joins need j > i only). Returns a flag per row it served, or an
// empty vector when it served none (too few queries to fill lanes, or no kernel).
template <typename S, typename Sink>
std::vector<std::uint8_t> lane_rounds(const TextStore& qs, const TextStore& cs,
                                      const ScorerParams& sp, bool upper, const RunOptions& opt,
                                      Sink&& sink) {
    using V = typename S::V;
    const std::size_t rows = qs.size(), cols = cs.size();
    std::vector<std::uint8_t> done;
    const dispatch::KernelTable& kt = dispatch::kernels();
    constexpr bool packed = kPackedLcs<S> || kPackedLev<S>;
    if constexpr (packed) {
        if ((kPackedLcs<S> ? kt.lcs_packed[0] : kt.lev_packed[0]) == nullptr) return done;
    } else {
        if (!opt.parallel) return done;  // the matrix kernel runs on the pool
    }
    std::vector<std::size_t> served;
    for (std::size_t i = 0; i < rows; ++i)
        if (!qs.missing(i) && (!packed || qs.length(i) <= 64)) served.push_back(i);
    if (served.size() < 64 || cols < 8) return done;
    if (packed && !packed_symbols_fit(qs, cs)) return done;
    constexpr std::size_t kRoundRows = 1024, kRoundCols = packed ? 8192 : 4096;
    const PackedValue value = kPackedLcs<S> ? PackedValue::lcs : PackedValue::levenshtein;
    const double p = std::is_same_v<S, JaroScorer> ? 0.0 : sp.p;
    std::vector<std::size_t> text_off(std::min(cols, kRoundCols));
    std::iota(text_off.begin(), text_off.end(), std::size_t{0});
    std::vector<Text> pats;
    std::vector<std::size_t> pat_off;
    std::vector<std::uint32_t> raw;
    std::vector<double> vals;
    std::vector<double*> ptr;
    for (std::size_t b = 0; b < served.size(); b += kRoundRows) {
        const std::size_t cnt = std::min(kRoundRows, served.size() - b);
        const std::size_t from = upper ? std::min(cols, served[b] + 1) : 0;
        for (std::size_t c0 = from; c0 < cols; c0 += kRoundCols) {
            const std::size_t width = std::min(kRoundCols, cols - c0);
            const std::span<const Text> texts(cs.texts() + c0, width);
            pats.clear();
            for (std::size_t k = 0; k < cnt; ++k) pats.push_back(qs.text(served[b + k]));
            if constexpr (packed) {
                pat_off.clear();
                for (std::size_t k = 0; k < cnt; ++k) pat_off.push_back(k * width);
                raw.resize(cnt * width);
                if (!packed_cross(pats, pat_off.data(), texts, text_off.data(), value, raw.data(),
                                  opt.parallel, opt.progress))
                    panic("packed cross-product refused after its symbols were checked");
            } else {
                vals.resize(cnt * width);
                ptr.resize(cnt);
                for (std::size_t k = 0; k < cnt; ++k) ptr[k] = vals.data() + k * width;
                jaro_winkler_cdist_rows(pats, texts, p, ptr.data());
                add_progress(opt, cnt * width);
            }
            for_units(cnt, opt, [&](std::size_t k) {
                const std::size_t r = served[b + k];
                if constexpr (packed) {
                    std::vector<V> row(width);
                    const std::uint32_t* src = raw.data() + k * width;
                    const std::size_t n = qs.length(r);
                    for (std::size_t j = 0; j < width; ++j) {
                        if constexpr (kPackedLcs<S>) {
                            const std::size_t m = cs.length(c0 + j);
                            if (std::is_same_v<S, QRatioScorer> && (n == 0 || m == 0))
                                row[j] = 0.0;
                            else
                                row[j] = ratio_from_lcs(n, m, src[j]);
                        } else {
                            row[j] = src[j];
                        }
                    }
                    sink(r, c0, width, static_cast<const V*>(row.data()));
                } else {
                    sink(r, c0, width, static_cast<const V*>(ptr[k]));
                }
            });
        }
    }
    done.assign(rows, 0);
    for (const std::size_t r : served) done[r] = 1;
    return done;
}

template <typename S>
void cdist_impl(const TextStore& qs, const TextStore& cs, const ScorerParams& sp, Cutoff cutoff,
                void* out, OutKind kind, const RunOptions& opt) {
    using V = typename S::V;
    const ThresholdOf<S> th(cutoff);
    const std::size_t rows = qs.size(), cols = cs.size();
    if (rows == 0 || cols == 0) return;
    std::vector<std::uint8_t> done;
    if constexpr (kLanes<S>) {
        done = lane_rounds<S>(qs, cs, sp, false, opt,
                              [&](std::size_t r, std::size_t c0, std::size_t width, const V* vals) {
                                  const std::size_t base = r * cols + c0;
                                  for (std::size_t j = 0; j < width; ++j)
                                      put_cell<S>(th, out, kind, base + j, vals[j]);
                              });
    }
    const std::size_t blocks = (cols + kColumnBlock - 1) / kColumnBlock;
    // Rows first, so a unit's prepared query serves a whole block of columns.
    for_units(rows * blocks, opt, [&](std::size_t u) {
        const std::size_t r = u / blocks, blk = u % blocks;
        if (!done.empty() && done[r]) return;
        const std::size_t b = blk * kColumnBlock, e = std::min(cols, b + kColumnBlock);
        const typename S::Prepared p(query_of(qs, r), sp);
        const std::size_t base = r * cols;
        NoNeed<S> need{th.hint()};
        scan<S>(p, cs, b, e, SIZE_MAX, false, need,
                [&](std::size_t j, V v) { put_cell<S>(th, out, kind, base + j, v); });
        add_progress(opt, e - b);
    });
}

template <typename S>
std::vector<Match> extract_impl(const TextStore& qs, std::size_t qi, const TextStore& cs,
                                const ScorerParams& sp, Cutoff cutoff, std::size_t limit,
                                const RunOptions& opt) {
    using V = typename S::V;
    const ThresholdOf<S> th(cutoff);
    std::vector<Match> result;
    const std::size_t n = cs.size();
    if (th.none || limit == 0 || n == 0) {
        add_progress(opt, n);
        return result;
    }
    const typename S::Prepared p(query_of(qs, qi), sp);
    // One query against choices packed for this call alone: sketching every choice costs
    // about what the bit-parallel scorers spend on a pair, so they skip it unless the
    // store is being reused (a prepared set of choices, from its second query on).
    const bool sketch = !kCheapPair<S> || cs.reused();
    if (sketch) prepare_sketches<S>(cs, opt);
    const std::size_t cap = std::min(limit, n);
    const std::size_t blocks = (n + kColumnBlock - 1) / kColumnBlock;
    std::vector<std::vector<typename Best<S>::Item>> parts(blocks);
    std::atomic<std::size_t> stop{SIZE_MAX};
    for_units(blocks, opt, [&](std::size_t blk) {
        const std::size_t b = blk * kColumnBlock, e = std::min(n, b + kColumnBlock);
        Best<S> best(cap);
        const BestNeed<S, ThresholdOf<S>> need{&best, &th, &stop, blk};
        scan<S>(
            p, cs, b, e, SIZE_MAX, opt.prune, need,
            [&](std::size_t j, V v) {
                // Most values cannot enter a full heap: tested inline, before the call.
                if (th.keep(v) && best.admits(v, j)) best.push(v, j);
            },
            sketch);
        parts[blk] = std::move(best).sorted();
        add_progress(opt, e - b);
    });
    Best<S> all(cap);
    for (const auto& part : parts)
        for (const auto& it : part) all.push(it.v, it.j);
    for (const auto& it : std::move(all).sorted()) result.push_back(to_match<S>(it.j, it.v));
    return result;
}

template <typename S>
void top_k_impl(const TextStore& qs, const TextStore* cs_or_self, const ScorerParams& sp,
                Cutoff cutoff, std::size_t k, std::int64_t* indices, void* values,
                const RunOptions& opt) {
    using V = typename S::V;
    const ThresholdOf<S> th(cutoff);
    const bool self = cs_or_self == nullptr;
    const TextStore& cs = self ? qs : *cs_or_self;
    const std::size_t rows = qs.size(), n = cs.size();
    V pad;
    if constexpr (std::is_same_v<V, double>)
        pad = std::numeric_limits<double>::quiet_NaN();
    else if constexpr (std::is_same_v<V, std::uint32_t>)
        pad = 0xFFFFFFFFu;
    else
        pad = std::numeric_limits<std::int64_t>::min();
    for (std::size_t i = 0; i < rows * k; ++i) {
        indices[i] = -1;
        value_at<V>(values, i) = pad;
    }
    if (rows == 0 || k == 0 || n == 0 || th.none) {
        add_progress(opt, rows * n);
        return;
    }
    const std::size_t cap = std::min(k, n);
    prepare_sketches<S>(cs, opt);
    // Few rows: split each row's choices too, so that every worker has work; the parts
    // are merged per row. Memory stays O(rows * k) plus the parts of those few rows.
    const std::size_t workers = opt.parallel ? engine::worker_count() : 1;
    std::size_t split = 1;
    if (rows < 4 * workers) {
        split = std::min((n + kColumnBlock - 1) / kColumnBlock, (4 * workers + rows - 1) / rows);
        split = std::max<std::size_t>(split, 1);
    }
    const std::size_t per = (n + split - 1) / split;
    std::vector<std::vector<typename Best<S>::Item>> parts(split > 1 ? rows * split : 0);
    std::unique_ptr<std::atomic<std::size_t>[]> stops;
    if (split > 1) {
        stops = std::make_unique<std::atomic<std::size_t>[]>(rows);
        for (std::size_t r = 0; r < rows; ++r) stops[r].store(SIZE_MAX, std::memory_order_relaxed);
    }
    auto write_row = [&](std::size_t r, const std::vector<typename Best<S>::Item>& items) {
        for (std::size_t t = 0; t < items.size() && t < k; ++t) {
            indices[r * k + t] = static_cast<std::int64_t>(items[t].j);
            value_at<V>(values, r * k + t) = items[t].v;
        }
    };
    std::vector<std::uint8_t> done;
    if constexpr (kLanes<S>) {
        // Each served row keeps its k best across the column rounds (O(rows * k)).
        std::vector<std::unique_ptr<Best<S>>> bests(rows);
        done = lane_rounds<S>(qs, cs, sp, false, opt,
                              [&](std::size_t r, std::size_t c0, std::size_t width, const V* vals) {
                                  if (!bests[r]) bests[r] = std::make_unique<Best<S>>(cap);
                                  Best<S>& best = *bests[r];
                                  for (std::size_t j = c0; j < c0 + width; ++j) {
                                      const V v = vals[j - c0];
                                      if (cs.missing(j) || (self && j == r) || !th.keep(v))
                                          continue;
                                      best.push(v, j);
                                  }
                              });
        for (std::size_t r = 0; r < rows; ++r)
            if (bests[r]) write_row(r, std::move(*bests[r]).sorted());
    }
    for_units(rows * split, opt, [&](std::size_t u) {
        const std::size_t r = u / split, part = u % split;
        if (!done.empty() && done[r]) return;
        const std::size_t b = part * per, e = std::min(n, b + per);
        if (qs.missing(r) || b >= e) {
            add_progress(opt, e > b ? e - b : 0);
            return;
        }
        const typename S::Prepared p(query_of(qs, r), sp);
        Best<S> best(cap);
        const BestNeed<S, ThresholdOf<S>> need{&best, &th, stops ? &stops[r] : nullptr, part};
        scan<S>(p, cs, b, e, self ? r : SIZE_MAX, opt.prune, need, [&](std::size_t j, V v) {
            if (th.keep(v) && best.admits(v, j)) best.push(v, j);
        });
        if (split == 1)
            write_row(r, std::move(best).sorted());
        else
            parts[u] = std::move(best).sorted();
        add_progress(opt, e - b);
    });
    if (split > 1) {
        for (std::size_t r = 0; r < rows; ++r) {
            if (!done.empty() && done[r]) continue;
            Best<S> merged(cap);
            for (std::size_t part = 0; part < split; ++part)
                for (const auto& it : parts[r * split + part]) merged.push(it.v, it.j);
            write_row(r, std::move(merged).sorted());
        }
    }
}

template <typename S>
PairsResult pairs_impl(const TextStore& qs, const TextStore* cs_or_self, const ScorerParams& sp,
                       Cutoff cutoff, const RunOptions& opt) {
    using V = typename S::V;
    const ThresholdOf<S> th(cutoff);
    const bool self = cs_or_self == nullptr;
    const TextStore& cs = self ? qs : *cs_or_self;
    const std::size_t rows = qs.size(), n = cs.size();
    PairsResult res;
    if (rows == 0 || n == 0 || th.none) return res;
    struct Hit {
        std::size_t i, j;
        V v;
    };
    prepare_sketches<S>(cs, opt);
    std::vector<std::uint8_t> done;
    std::vector<std::vector<Hit>> lane_hits;
    if constexpr (kLanes<S>) {
        lane_hits.resize(rows);
        done = lane_rounds<S>(qs, cs, sp, self, opt,
                              [&](std::size_t r, std::size_t c0, std::size_t width, const V* vals) {
                                  std::vector<Hit>& kept = lane_hits[r];
                                  for (std::size_t j = std::max(c0, self ? r + 1 : 0);
                                       j < c0 + width; ++j) {
                                      const V v = vals[j - c0];
                                      if (!cs.missing(j) && th.keep(v))
                                          kept.push_back(Hit{r, j, v});
                                  }
                              });
    }
    auto row = [&](std::size_t r, std::vector<Hit>& kept) {
        if (!done.empty() && done[r]) return;
        const std::size_t lo = self ? r + 1 : 0;
        if (qs.missing(r) || lo >= n) {
            add_progress(opt, n > lo ? n - lo : 0);
            return;
        }
        const typename S::Prepared p(query_of(qs, r), sp);
        const KeepNeed<S, ThresholdOf<S>> need{&th};
        scan<S>(p, cs, lo, n, SIZE_MAX, opt.prune, need, [&](std::size_t j, V v) {
            if (th.keep(v)) kept.push_back(Hit{r, j, v});
        });
        add_progress(opt, n - lo);
    };
    // One unit per query row; the collected hits come back in row order, each row's in
    // column order, so the result is sorted by (i, j) without a sort.
    std::vector<Hit> hits;
    if (opt.parallel) {
        hits = engine::parallel_filter_collect_ranges<Hit>(
            rows, [&](std::size_t b, std::size_t e, std::vector<Hit>& kept) {
                for (std::size_t r = b; r < e; ++r) row(r, kept);
            });
    } else {
        for (std::size_t r = 0; r < rows; ++r) row(r, hits);
    }
    std::size_t total = hits.size();
    for (const auto& lh : lane_hits) total += lh.size();
    res.i.reserve(total);
    res.j.reserve(total);
    auto emit = [&](const Hit& h) {
        res.i.push_back(static_cast<std::int64_t>(h.i));
        res.j.push_back(static_cast<std::int64_t>(h.j));
        if constexpr (std::is_same_v<V, double>)
            res.f.push_back(h.v);
        else if constexpr (std::is_same_v<V, std::uint32_t>)
            res.u.push_back(h.v);
        else
            res.s.push_back(h.v);
    };
    // Rows in order, each from whichever path served it: still sorted by (i, j).
    std::size_t h = 0;
    for (std::size_t r = 0; r < rows; ++r) {
        if (!done.empty() && done[r]) {
            for (const Hit& x : lane_hits[r]) emit(x);
            std::vector<Hit>().swap(lane_hits[r]);
        } else {
            for (; h < hits.size() && hits[h].i == r; ++h) emit(hits[h]);
        }
    }
    return res;
}

// The sorted-token scorers are the ratio and the partial ratio of each text's
// sorted-token form (token.hpp); the forms are made once per call, not once per pair.
bool sorted_form_of(ScorerId id, ScorerId& as) {
    if (id == ScorerId::token_sort_ratio)
        as = ScorerId::ratio;
    else if (id == ScorerId::partial_token_sort_ratio)
        as = ScorerId::partial_ratio;
    else
        return false;
    return true;
}

void sorted_forms(const TextStore& in, TextStore& out, const RunOptions& opt) {
    const std::size_t n = in.size();
    std::vector<std::string> forms(n);
    for_units((n + 1023) / 1024, opt, [&](std::size_t u) {
        engine::interruption_point();
        for (std::size_t i = u * 1024; i < std::min(n, (u + 1) * 1024); ++i)
            if (!in.missing(i)) forms[i] = sorted_token_text(in.text(i));
    });
    std::size_t bytes = 0;
    for (const std::string& f : forms) bytes += f.size();
    out.reserve(n, bytes);
    for (std::size_t i = 0; i < n; ++i) {
        if (in.missing(i))
            out.add_missing();
        else
            out.add(forms[i].data(), forms[i].size());
    }
    out.seal();
}

}  // namespace

OutKind value_kind(ScorerId id) {
    return with_scorer(id, []<typename S>() {
        if constexpr (std::is_same_v<typename S::V, double>)
            return OutKind::f64;
        else if constexpr (std::is_same_v<typename S::V, std::uint32_t>)
            return OutKind::u32;
        else
            return OutKind::i64;
    });
}

bool higher_is_better(ScorerId id) {
    return with_scorer(id, []<typename S>() { return S::kHigher; });
}

void cdist(const TextStore& queries, const TextStore& choices, ScorerId id, const ScorerParams& sp,
           Cutoff cutoff, void* out, OutKind kind, const RunOptions& opt) {
    if (ScorerId as; sorted_form_of(id, as) && !queries.empty_store() && !choices.empty_store()) {
        TextStore fq, fc;
        sorted_forms(queries, fq, opt);
        sorted_forms(choices, fc, opt);
        return cdist(fq, fc, as, sp, cutoff, out, kind, opt);
    }
    with_scorer(id,
                [&]<typename S>() { cdist_impl<S>(queries, choices, sp, cutoff, out, kind, opt); });
}

std::vector<Match> extract(const TextStore& query, std::size_t qi, const TextStore& choices,
                           ScorerId id, const ScorerParams& sp, Cutoff cutoff, std::size_t limit,
                           const RunOptions& opt) {
    // Choices searched again by a sorted-token scorer keep their sorted forms: each later
    // search is then the ratio or partial ratio of forms, with the bounds those allow.
    if (ScorerId as; sorted_form_of(id, as) && !choices.empty_store()) {
        if (const TextStore* forms =
                choices.sorted_forms([&](TextStore& out) { sorted_forms(choices, out, opt); })) {
            TextStore fq;
            const std::string form = sorted_token_text(query.text(qi));
            fq.add(form.data(), form.size());
            fq.seal();
            return extract(fq, 0, *forms, as, sp, cutoff, limit, opt);
        }
    }
    return with_scorer(id, [&]<typename S>() {
        return extract_impl<S>(query, qi, choices, sp, cutoff, limit, opt);
    });
}

void top_k(const TextStore& queries, const TextStore* choices, ScorerId id, const ScorerParams& sp,
           Cutoff cutoff, std::size_t k, std::int64_t* indices, void* values,
           const RunOptions& opt) {
    if (ScorerId as; sorted_form_of(id, as) && !queries.empty_store()) {
        TextStore fq, fc;
        sorted_forms(queries, fq, opt);
        if (choices) sorted_forms(*choices, fc, opt);
        return top_k(fq, choices ? &fc : nullptr, as, sp, cutoff, k, indices, values, opt);
    }
    with_scorer(id, [&]<typename S>() {
        top_k_impl<S>(queries, choices, sp, cutoff, k, indices, values, opt);
    });
}

PairsResult pairs(const TextStore& queries, const TextStore* choices, ScorerId id,
                  const ScorerParams& sp, Cutoff cutoff, const RunOptions& opt) {
    if (ScorerId as; sorted_form_of(id, as) && !queries.empty_store()) {
        TextStore fq, fc;
        sorted_forms(queries, fq, opt);
        if (choices) sorted_forms(*choices, fc, opt);
        return pairs(fq, choices ? &fc : nullptr, as, sp, cutoff, opt);
    }
    return with_scorer(
        id, [&]<typename S>() { return pairs_impl<S>(queries, choices, sp, cutoff, opt); });
}

std::vector<std::int64_t> components(std::size_t n, const std::int64_t* i, const std::int64_t* j,
                                     std::size_t edges) {
    // Union by smaller index: every root is its component's smallest member, so the root
    // is the label. Path halving keeps the finds short.
    std::vector<std::int64_t> parent(n);
    std::iota(parent.begin(), parent.end(), std::int64_t{0});
    auto find = [&](std::int64_t x) {
        while (parent[static_cast<std::size_t>(x)] != x) {
            auto& px = parent[static_cast<std::size_t>(x)];
            px = parent[static_cast<std::size_t>(px)];
            x = px;
        }
        return x;
    };
    for (std::size_t e = 0; e < edges; ++e) {
        if ((e & 0xFFFF) == 0xFFFF) engine::interruption_point();
        const std::int64_t a = find(i[e]), b = find(j[e]);
        if (a == b) continue;
        if (a < b)
            parent[static_cast<std::size_t>(b)] = a;
        else
            parent[static_cast<std::size_t>(a)] = b;
    }
    for (std::size_t x = 0; x < n; ++x) parent[x] = find(static_cast<std::int64_t>(x));
    return parent;
}

PruneStats prune_stats_and_reset() {
    PruneStats s;
    s.checked = g_checked.exchange(0, std::memory_order_relaxed);
    s.by_length = g_by_length.exchange(0, std::memory_order_relaxed);
    s.by_sketch = g_by_sketch.exchange(0, std::memory_order_relaxed);
    return s;
}

}  // namespace tarnvel::core::match
