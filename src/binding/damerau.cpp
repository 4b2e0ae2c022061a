// Python entry points of the Damerau-Levenshtein family: distance, ratio, batch and
// cross-product with their NumPy `_into` forms. All compute without the interpreter lock.
#include "binding/functions.hpp"
#include "binding/params.hpp"
#include "binding/results.hpp"
#include "binding/table.hpp"
#include "core/damerau/damerau.hpp"

namespace tarnvel::py {
namespace {

PyObject* distance_fn(Bound<params::kPair> a) {
    return to_py_u64(without_gil_pair(a.text<"a">(), a.text<"b">(), [&] {
        return core::damerau_levenshtein(a.text<"a">(), a.text<"b">());
    }));
}

PyObject* ratio_fn(Bound<params::kPair> a) {
    return to_py_f64(without_gil_pair(a.text<"a">(), a.text<"b">(), [&] {
        return core::damerau_ratio(a.text<"a">(), a.text<"b">());
    }));
}

PyObject* batch_fn(Bound<params::kBatch> a) {
    return list_u32(without_gil_interruptible(
        [&] { return core::damerau_batch(a.text<"query">(), a.list<"candidates">()); }));
}

PyObject* batch_into_fn(Bound<params::kBatchIntoU32> a) {
    const auto r = without_gil_interruptible(
        [&] { return core::damerau_batch(a.text<"query">(), a.list<"candidates">()); });
    a.out().write(r);
    return to_py_none();
}

PyObject* cdist_fn(Bound<params::kCdist> a) {
    return matrix_u32(without_gil_interruptible(
        [&] { return core::damerau_cdist(a.list<"list_a">(), a.list<"list_b">()); }));
}

PyObject* cdist_into_fn(Bound<params::kCdistIntoU32> a) {
    const auto la = a.list<"list_a">(), lb = a.list<"list_b">();
    fill_u32_out(a.out(), [&](std::uint32_t* dst) { core::damerau_cdist(la, lb, dst); });
    return to_py_none();
}

constexpr FuncDesc kDistance =
    func<params::kPair, &distance_fn>("damerau_levenshtein_distance", "");
constexpr FuncDesc kRatio = func<params::kPair, &ratio_fn>("damerau_ratio", "");
constexpr FuncDesc kBatchFn = func<params::kBatch, &batch_fn>("damerau_levenshtein_batch", "");
constexpr FuncDesc kBatchIntoFn = func<params::kBatchIntoU32, &batch_into_fn>(
    "damerau_levenshtein_batch_into",
    "Zero-allocation Damerau batch into a writable `uint32` buffer (see\n"
    "[`levenshtein_batch_into`]).");
constexpr FuncDesc kCdistFn = func<params::kCdist, &cdist_fn>("damerau_levenshtein_cdist", "");
constexpr FuncDesc kCdistIntoFn = func<params::kCdistIntoU32, &cdist_into_fn>(
    "damerau_levenshtein_cdist_into",
    "Zero-allocation Damerau cross-product matrix into a writable, contiguous\n"
    "`(len(list_a), len(list_b))` buffer of `uint32` (row-major).");

}  // namespace

const FuncDesc rows::damerau_levenshtein_distance = kDistance;
const FuncDesc rows::damerau_ratio = kRatio;
const FuncDesc rows::damerau_levenshtein_batch = kBatchFn;
const FuncDesc rows::damerau_levenshtein_batch_into = kBatchIntoFn;
const FuncDesc rows::damerau_levenshtein_cdist = kCdistFn;
const FuncDesc rows::damerau_levenshtein_cdist_into = kCdistIntoFn;

}  // namespace tarnvel::py
