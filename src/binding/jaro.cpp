// Jaro family entry points: the scalar similarities, the Jaro-Winkler batch and
// cross-product, and their _into forms. The parser has already converted every argument
// (and rejected a p outside [0, 0.25]) before any of these runs.
#include "binding/results.hpp"
#include "binding/params.hpp"
#include "binding/table.hpp"
#include "core/jaro/jaro.hpp"

namespace tarnvel::py {
namespace {

PyObject* jaro_similarity(Args& a) {
    return to_py_f64(without_gil_pair(a.text(0), a.text(1), [&] { return core::jaro(a.text(0), a.text(1)); }));
}

PyObject* jaro_optimized(Args& a) {
    return to_py_f64(without_gil_pair(a.text(0), a.text(1), [&] { return core::jaro_optimized(a.text(0), a.text(1)); }));
}

PyObject* jaro_winkler_similarity(Args& a) {
    return to_py_f64(without_gil_pair(a.text(0), a.text(1), 
        [&] { return core::jaro_winkler(a.text(0), a.text(1), a.real(2)); }));
}

PyObject* jaro_winkler_batch_fn(Args& a) {
    return list_f64(without_gil_interruptible(
        [&] { return core::jaro_winkler_many(a.text(0), a.list(1), a.real(2)); }));
}

PyObject* jaro_winkler_batch_into(Args& a) {
    const auto r = without_gil_interruptible(
        [&] { return core::jaro_winkler_many(a.text(0), a.list(1), a.real(3)); });
    a.out().write(std::span<const double>(r));
    return to_py_none();
}

PyObject* jaro_winkler_cdist(Args& a) {
    return matrix_f64(without_gil_interruptible(
        [&] { return core::jaro_winkler_matrix(a.list(0), a.list(1), a.real(2)); }));
}

PyObject* jaro_winkler_cdist_into(Args& a) {
    const auto rows = without_gil_interruptible(
        [&] { return core::jaro_winkler_matrix(a.list(0), a.list(1), a.real(3)); });
    a.out().write_rows(std::span<const std::vector<double>>(rows));
    return to_py_none();
}

constexpr Param kPairP[] = {{"a", Kind::text}, {"b", Kind::text}, {"p", Kind::prefix_p, "0.1", 0.1}};
constexpr Param kBatch[] = {
    {"query", Kind::text}, {"candidates", Kind::text_list}, {"p", Kind::prefix_p, "0.1", 0.1}};
constexpr Param kBatchInto[] = {{"query", Kind::text},
                                {"candidates", Kind::text_list},
                                {"out", Kind::out_f64_1d},
                                {"p", Kind::prefix_p, "0.1", 0.1}};
constexpr Param kCdist[] = {
    {"list_a", Kind::text_list}, {"list_b", Kind::text_list}, {"p", Kind::prefix_p, "0.1", 0.1}};
constexpr Param kCdistInto[] = {{"list_a", Kind::text_list},
                                {"list_b", Kind::text_list},
                                {"out", Kind::out_f64_2d},
                                {"p", Kind::prefix_p, "0.1", 0.1}};

const FuncDesc kJaroSimilarity{"jaro_similarity", params::kPair, "", &jaro_similarity};
const FuncDesc kJaroOptimized{"jaro_optimized", params::kPair, "", &jaro_optimized};
const FuncDesc kJaroWinklerSimilarity{"jaro_winkler_similarity", kPairP, "",
                                      &jaro_winkler_similarity};
const FuncDesc kJaroWinklerBatchFn{"jaro_winkler_batch_fn", kBatch, "", &jaro_winkler_batch_fn};
const FuncDesc kJaroWinklerBatchInto{
    "jaro_winkler_batch_into", kBatchInto,
    "Zero-allocation Jaro-Winkler batch into a writable `float64` buffer (see\n"
    "[`levenshtein_batch_into`]).",
    &jaro_winkler_batch_into};
const FuncDesc kJaroWinklerCdist{"jaro_winkler_cdist", kCdist, "", &jaro_winkler_cdist};
const FuncDesc kJaroWinklerCdistInto{
    "jaro_winkler_cdist_into", kCdistInto,
    "Zero-allocation Jaro-Winkler cross-product matrix into a writable,\n"
    "contiguous `(len(list_a), len(list_b))` buffer of `float64` (row-major).",
    &jaro_winkler_cdist_into};

TARNVEL_REGISTER_FUNCTION(kJaroSimilarity);
TARNVEL_REGISTER_FUNCTION(kJaroOptimized);
TARNVEL_REGISTER_FUNCTION(kJaroWinklerSimilarity);
TARNVEL_REGISTER_FUNCTION(kJaroWinklerBatchFn);
TARNVEL_REGISTER_FUNCTION(kJaroWinklerBatchInto);
TARNVEL_REGISTER_FUNCTION(kJaroWinklerCdist);
TARNVEL_REGISTER_FUNCTION(kJaroWinklerCdistInto);

}  // namespace
}  // namespace tarnvel::py
