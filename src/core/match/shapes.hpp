// Bulk matching over prepared strings: cross-product matrices, extraction, exact top-k,
// threshold joins. Written once over the scorer concept (scorers.hpp), for every scorer.
//
// Every value is exactly what the module's scalar function returns for (query, choice)
// in that order. Work is divided into units of (query, block of choices) on the pool
// (or run on the calling thread when `parallel` is false); each unit adds its pair count
// to `progress` when it ends and stops at an interruption point when cancelled. Results
// never depend on the division: ties always go to the lower choice index.
// See also: scorers.hpp (the scorer concept and each bound), store.hpp.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/match/ids.hpp"
#include "core/match/store.hpp"

namespace tarnvel::core::match {

// The user's cutoff. Float scorers keep v >= value, distances v <= value, alignment
// scores v >= value; `none` keeps nothing (a NaN cutoff), `set == false` keeps all.
struct Cutoff {
    bool set = false;
    double value = 0.0;
};

enum class OutKind : std::uint8_t { f64, f32, u32, i64 };

struct RunOptions {
    bool parallel = true;
    bool prune = true;  // length and bound pruning (a private switch turns it off for tests)
    std::atomic<std::uint64_t>* progress = nullptr;  // pairs done
};

// The value kind of a scorer's results: f64 for 0-100 and 0-1 scores, u32 for
// distances, i64 for alignment scores.
OutKind value_kind(ScorerId id);
bool higher_is_better(ScorerId id);

// Row-major (queries x choices) matrix into out (of `kind`, which must be the scorer's
// value kind, or f32 for float scorers). Pairs that miss the cutoff hold 0 (distances:
// floor(cutoff) + 1, saturated). No entry of either store may be missing.
void cdist(const TextStore& queries, const TextStore& choices, ScorerId id, const ScorerParams& sp,
           Cutoff cutoff, void* out, OutKind kind, const RunOptions& opt);

// One kept match: its choice index and value (stored as the scorer's value kind).
struct Match {
    std::size_t index;
    union {
        double f;
        std::uint32_t u;
        std::int64_t i;
    };
};

// The best `limit` kept choices (all of them when limit is SIZE_MAX), best first, ties in
// index order; missing choices are never kept.
std::vector<Match> extract(const TextStore& query, std::size_t qi, const TextStore& choices,
                           ScorerId id, const ScorerParams& sp, Cutoff cutoff, std::size_t limit,
                           const RunOptions& opt);

// For every query row i: the k best kept choices into indices[i*k ...] and values (of the
// scorer's value kind) best first; rows with fewer are padded with index -1 and `pad`.
// choices == nullptr is self mode: the queries against themselves, never a row's own index.
void top_k(const TextStore& queries, const TextStore* choices, ScorerId id, const ScorerParams& sp,
           Cutoff cutoff, std::size_t k, std::int64_t* indices, void* values,
           const RunOptions& opt);

// Every kept pair, sorted by (i, j); self mode (choices == nullptr) keeps i < j only.
struct PairsResult {
    std::vector<std::int64_t> i, j;
    std::vector<double> f;
    std::vector<std::uint32_t> u;
    std::vector<std::int64_t> s;
};
PairsResult pairs(const TextStore& queries, const TextStore* choices, ScorerId id,
                  const ScorerParams& sp, Cutoff cutoff, const RunOptions& opt);

// Connected components of the graph on n nodes with edges (i[e], j[e]): each node's label
// is the smallest node index of its component.
std::vector<std::int64_t> components(std::size_t n, const std::int64_t* i, const std::int64_t* j,
                                     std::size_t edges);

// Pruning statistics of the last bound checks on this thread (for the benchmarks):
// pairs whose bound was checked, and pairs it skipped.
// Pairs whose bound was tried, and those it skipped on the lengths alone or then on the
// symbol-count sketches.
struct PruneStats {
    std::uint64_t checked = 0, by_length = 0, by_sketch = 0;
};
PruneStats prune_stats_and_reset();

}  // namespace tarnvel::core::match
