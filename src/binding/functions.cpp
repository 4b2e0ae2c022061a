// The public module's function table: every function in the order of __all__, with the
// name and the parameter count it must have. Module start checks each row against the
// row it points to (see build_table in module.cpp), so a renamed, dropped or reordered
// function fails the import instead of changing the module.
#include "binding/functions.hpp"

namespace tarnvel::py {
namespace {

constexpr TableRow kPublic[] = {
    {"levenshtein_distance", 2, &rows::levenshtein_distance},
    {"levenshtein_batch", 2, &rows::levenshtein_batch},
    {"levenshtein_batch_into", 3, &rows::levenshtein_batch_into},
    {"levenshtein_cdist", 2, &rows::levenshtein_cdist},
    {"levenshtein_cdist_into", 3, &rows::levenshtein_cdist_into},
    {"damerau_levenshtein_distance", 2, &rows::damerau_levenshtein_distance},
    {"damerau_levenshtein_batch", 2, &rows::damerau_levenshtein_batch},
    {"damerau_levenshtein_batch_into", 3, &rows::damerau_levenshtein_batch_into},
    {"damerau_levenshtein_cdist", 2, &rows::damerau_levenshtein_cdist},
    {"damerau_levenshtein_cdist_into", 3, &rows::damerau_levenshtein_cdist_into},
    {"damerau_ratio", 2, &rows::damerau_ratio},
    {"needleman_wunsch_score", 5, &rows::needleman_wunsch_score},
    {"needleman_wunsch_batch_fn", 5, &rows::needleman_wunsch_batch_fn},
    {"needleman_wunsch_affine", 6, &rows::needleman_wunsch_affine},
    {"needleman_wunsch_affine_batch", 6, &rows::needleman_wunsch_affine_batch},
    {"jaro_similarity", 2, &rows::jaro_similarity},
    {"jaro_winkler_similarity", 3, &rows::jaro_winkler_similarity},
    {"jaro_winkler_batch_fn", 3, &rows::jaro_winkler_batch_fn},
    {"jaro_winkler_batch_into", 4, &rows::jaro_winkler_batch_into},
    {"jaro_winkler_cdist", 3, &rows::jaro_winkler_cdist},
    {"jaro_winkler_cdist_into", 4, &rows::jaro_winkler_cdist_into},
    {"fuzz_ratio", 3, &rows::fuzz_ratio},
    {"fuzz_partial_ratio", 3, &rows::fuzz_partial_ratio},
    {"fuzz_partial_ratio_alignment", 3, &rows::fuzz_partial_ratio_alignment},
    {"fuzz_token_sort_ratio", 3, &rows::fuzz_token_sort_ratio},
    {"fuzz_token_set_ratio", 3, &rows::fuzz_token_set_ratio},
    {"fuzz_token_ratio", 3, &rows::fuzz_token_ratio},
    {"fuzz_wratio", 3, &rows::fuzz_wratio},
    {"fuzz_ratio_batch", 2, &rows::fuzz_ratio_batch},
    {"fuzz_extract", 4, &rows::fuzz_extract},
    {"fuzz_extract_one", 3, &rows::fuzz_extract_one},
    {"fuzz_partial_token_sort_ratio", 3, &rows::fuzz_partial_token_sort_ratio},
    {"fuzz_partial_token_set_ratio", 3, &rows::fuzz_partial_token_set_ratio},
    {"fuzz_partial_token_ratio", 3, &rows::fuzz_partial_token_ratio},
    {"fuzz_qratio", 3, &rows::fuzz_qratio},
    {"levenshtein_myers", 2, &rows::levenshtein_myers},
    {"needleman_wunsch_striped", 5, &rows::needleman_wunsch_striped},
    {"jaro_optimized", 2, &rows::jaro_optimized},
    {"set_cpu_only", 1, &rows::set_cpu_only},
    {"set_gpu_threshold", 1, &rows::set_gpu_threshold},
    {"is_gpu_available", 0, &rows::is_gpu_available},
    {"warmup", 0, &rows::warmup},
    {"gpu_info", 0, &rows::gpu_info},
    {"hardware_info", 0, &rows::hardware_info},
};
static_assert(std::size(kPublic) == 44, "the public module has 44 functions");

constexpr TableRow kMatch[] = {
    {"cdist", 7, &rows::cdist},
    {"components", 3, &rows::components},
    {"extract", 6, &rows::extract},
    {"pack", 4, &rows::pack},
    {"pairs", 5, &rows::pairs},
    {"prune_stats", 0, &rows::prune_stats},
    {"same_items", 2, &rows::same_items},
    {"store_from_state", 3, &rows::store_from_state},
    {"store_get", 2, &rows::store_get},
    {"store_info", 1, &rows::store_info},
    {"store_state", 1, &rows::store_state},
    {"top_k", 8, &rows::top_k},
    {"worker_count", 0, &rows::worker_count},
};

}  // namespace

std::span<const TableRow> public_table() { return kPublic; }
std::span<const TableRow> match_table() { return kMatch; }

}  // namespace tarnvel::py
