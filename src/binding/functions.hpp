// The rows of the public module and of tarnvel_match's private extension, one per
// Python function, each defined beside its impl. functions.cpp puts them in order.
#pragma once

#include <span>

#include "binding/table.hpp"

namespace tarnvel::py {
namespace rows {

// binding/alignment.cpp
extern const FuncDesc needleman_wunsch_affine;
extern const FuncDesc needleman_wunsch_affine_batch;
extern const FuncDesc needleman_wunsch_batch_fn;
extern const FuncDesc needleman_wunsch_score;
extern const FuncDesc needleman_wunsch_striped;
// binding/damerau.cpp
extern const FuncDesc damerau_levenshtein_batch;
extern const FuncDesc damerau_levenshtein_batch_into;
extern const FuncDesc damerau_levenshtein_cdist;
extern const FuncDesc damerau_levenshtein_cdist_into;
extern const FuncDesc damerau_levenshtein_distance;
extern const FuncDesc damerau_ratio;
// binding/extract.cpp
extern const FuncDesc fuzz_extract;
extern const FuncDesc fuzz_extract_one;
extern const FuncDesc fuzz_ratio_batch;
// binding/fuzz_ratio.cpp
extern const FuncDesc fuzz_qratio;
extern const FuncDesc fuzz_ratio;
// binding/fuzz_scorers.cpp
extern const FuncDesc fuzz_partial_ratio;
extern const FuncDesc fuzz_partial_ratio_alignment;
extern const FuncDesc fuzz_partial_token_ratio;
extern const FuncDesc fuzz_partial_token_set_ratio;
extern const FuncDesc fuzz_partial_token_sort_ratio;
extern const FuncDesc fuzz_token_ratio;
extern const FuncDesc fuzz_token_set_ratio;
extern const FuncDesc fuzz_token_sort_ratio;
extern const FuncDesc fuzz_wratio;
// binding/jaro.cpp
extern const FuncDesc jaro_optimized;
extern const FuncDesc jaro_similarity;
extern const FuncDesc jaro_winkler_batch_fn;
extern const FuncDesc jaro_winkler_batch_into;
extern const FuncDesc jaro_winkler_cdist;
extern const FuncDesc jaro_winkler_cdist_into;
extern const FuncDesc jaro_winkler_similarity;
// binding/levenshtein.cpp
extern const FuncDesc levenshtein_batch;
extern const FuncDesc levenshtein_batch_into;
extern const FuncDesc levenshtein_cdist;
extern const FuncDesc levenshtein_cdist_into;
extern const FuncDesc levenshtein_distance;
extern const FuncDesc levenshtein_myers;
// binding/match.cpp
extern const FuncDesc cdist;
extern const FuncDesc components;
extern const FuncDesc extract;
extern const FuncDesc pack;
extern const FuncDesc pairs;
extern const FuncDesc prune_stats;
extern const FuncDesc same_items;
extern const FuncDesc store_from_state;
extern const FuncDesc store_get;
extern const FuncDesc store_info;
extern const FuncDesc store_state;
extern const FuncDesc top_k;
extern const FuncDesc worker_count;
// binding/runtime.cpp
extern const FuncDesc gpu_info;
extern const FuncDesc hardware_info;
extern const FuncDesc is_gpu_available;
extern const FuncDesc set_cpu_only;
extern const FuncDesc set_gpu_threshold;
extern const FuncDesc warmup;

}  // namespace rows

// The public module's functions in the order of __all__, and the companion module's.
std::span<const TableRow> public_table();
std::span<const TableRow> match_table();

}  // namespace tarnvel::py
