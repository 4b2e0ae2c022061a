// Jaro family entry points: the scalar similarities, the Jaro-Winkler batch and
// cross-product, and their _into forms. The parser has already converted every argument
// (and rejected a p outside [0, 0.25]) before any of these runs.
#include "binding/functions.hpp"
#include "binding/params.hpp"
#include "binding/results.hpp"
#include "binding/table.hpp"
#include "core/jaro/jaro.hpp"

namespace tarnvel::py {
namespace {

constexpr Param kPairP[] = {
    {"a", Kind::text}, {"b", Kind::text}, {"p", Kind::prefix_p, "0.1", 0.1}};
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

PyObject* jaro_similarity(Bound<params::kPair> a) {
    return to_py_f64(without_gil_pair(a.text<"a">(), a.text<"b">(),
                                      [&] { return core::jaro(a.text<"a">(), a.text<"b">()); }));
}

PyObject* jaro_optimized(Bound<params::kPair> a) {
    return to_py_f64(without_gil_pair(a.text<"a">(), a.text<"b">(), [&] {
        return core::jaro_optimized(a.text<"a">(), a.text<"b">());
    }));
}

PyObject* jaro_winkler_similarity(Bound<kPairP> a) {
    return to_py_f64(without_gil_pair(a.text<"a">(), a.text<"b">(), [&] {
        return core::jaro_winkler(a.text<"a">(), a.text<"b">(), a.real<"p">());
    }));
}

PyObject* jaro_winkler_batch_fn(Bound<kBatch> a) {
    return list_f64(without_gil_interruptible([&] {
        return core::jaro_winkler_many(a.text<"query">(), a.list<"candidates">(), a.real<"p">());
    }));
}

PyObject* jaro_winkler_batch_into(Bound<kBatchInto> a) {
    const auto r = without_gil_interruptible([&] {
        return core::jaro_winkler_many(a.text<"query">(), a.list<"candidates">(), a.real<"p">());
    });
    a.out().write(std::span<const double>(r));
    return to_py_none();
}

PyObject* jaro_winkler_cdist(Bound<kCdist> a) {
    return matrix_f64(without_gil_interruptible([&] {
        return core::jaro_winkler_matrix(a.list<"list_a">(), a.list<"list_b">(), a.real<"p">());
    }));
}

PyObject* jaro_winkler_cdist_into(Bound<kCdistInto> a) {
    const auto rows = without_gil_interruptible([&] {
        return core::jaro_winkler_matrix(a.list<"list_a">(), a.list<"list_b">(), a.real<"p">());
    });
    a.out().write_rows(std::span<const std::vector<double>>(rows));
    return to_py_none();
}

constexpr FuncDesc kJaroSimilarity = func<params::kPair, &jaro_similarity>("jaro_similarity", "");
constexpr FuncDesc kJaroOptimized = func<params::kPair, &jaro_optimized>("jaro_optimized", "");
constexpr FuncDesc kJaroWinklerSimilarity =
    func<kPairP, &jaro_winkler_similarity>("jaro_winkler_similarity", "");
constexpr FuncDesc kJaroWinklerBatchFn =
    func<kBatch, &jaro_winkler_batch_fn>("jaro_winkler_batch_fn", "");
constexpr FuncDesc kJaroWinklerBatchInto = func<kBatchInto, &jaro_winkler_batch_into>(
    "jaro_winkler_batch_into",
    "Zero-allocation Jaro-Winkler batch into a writable `float64` buffer (see\n"
    "[`levenshtein_batch_into`]).");
constexpr FuncDesc kJaroWinklerCdist = func<kCdist, &jaro_winkler_cdist>("jaro_winkler_cdist", "");
constexpr FuncDesc kJaroWinklerCdistInto = func<kCdistInto, &jaro_winkler_cdist_into>(
    "jaro_winkler_cdist_into",
    "Zero-allocation Jaro-Winkler cross-product matrix into a writable,\n"
    "contiguous `(len(list_a), len(list_b))` buffer of `float64` (row-major).");

}  // namespace

const FuncDesc rows::jaro_similarity = kJaroSimilarity;
const FuncDesc rows::jaro_optimized = kJaroOptimized;
const FuncDesc rows::jaro_winkler_similarity = kJaroWinklerSimilarity;
const FuncDesc rows::jaro_winkler_batch_fn = kJaroWinklerBatchFn;
const FuncDesc rows::jaro_winkler_batch_into = kJaroWinklerBatchInto;
const FuncDesc rows::jaro_winkler_cdist = kJaroWinklerCdist;
const FuncDesc rows::jaro_winkler_cdist_into = kJaroWinklerCdistInto;

}  // namespace tarnvel::py
