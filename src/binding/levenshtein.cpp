// Python entry points of the Levenshtein family: the two scalar distances, the batch and
// the cross-product, each with its NumPy `_into` form. All compute without the
// interpreter lock.
#include "binding/functions.hpp"
#include "binding/params.hpp"
#include "binding/results.hpp"
#include "binding/table.hpp"
#include "core/levenshtein/levenshtein.hpp"

namespace tarnvel::py {
namespace {

PyObject* levenshtein_distance_fn(Bound<params::kPair> a) {
    return to_py_u64(without_gil_pair(a.text<"a">(), a.text<"b">(), [&] {
        return core::levenshtein(a.text<"a">(), a.text<"b">());
    }));
}

PyObject* levenshtein_myers_fn(Bound<params::kPair> a) {
    return to_py_u64(without_gil_pair(a.text<"a">(), a.text<"b">(), [&] {
        return core::levenshtein_myers(a.text<"a">(), a.text<"b">());
    }));
}

PyObject* levenshtein_batch_fn(Bound<params::kBatch> a) {
    return list_u32(without_gil_interruptible(
        [&] { return core::levenshtein_batch(a.text<"query">(), a.list<"candidates">()); }));
}

PyObject* levenshtein_batch_into_fn(Bound<params::kBatchIntoU32> a) {
    const auto r = without_gil_interruptible(
        [&] { return core::levenshtein_batch(a.text<"query">(), a.list<"candidates">()); });
    a.out().write(r);
    return to_py_none();
}

PyObject* levenshtein_cdist_fn(Bound<params::kCdist> a) {
    return matrix_u32(without_gil_interruptible(
        [&] { return core::levenshtein_cdist(a.list<"list_a">(), a.list<"list_b">()); }));
}

PyObject* levenshtein_cdist_into_fn(Bound<params::kCdistIntoU32> a) {
    const auto la = a.list<"list_a">(), lb = a.list<"list_b">();
    fill_u32_out(a.out(), [&](std::uint32_t* dst) { core::levenshtein_cdist(la, lb, dst); });
    return to_py_none();
}

constexpr FuncDesc kDistance =
    func<params::kPair, &levenshtein_distance_fn>("levenshtein_distance", "");
constexpr FuncDesc kMyers = func<params::kPair, &levenshtein_myers_fn>("levenshtein_myers", "");
constexpr FuncDesc kBatchFn = func<params::kBatch, &levenshtein_batch_fn>("levenshtein_batch", "");
constexpr FuncDesc kBatchIntoFn = func<params::kBatchIntoU32, &levenshtein_batch_into_fn>(
    "levenshtein_batch_into",
    "Zero-allocation batch: results are written into a caller-supplied writable\n"
    "buffer (numpy `uint32`, `array.array('I')`, `memoryview`, \xE2\x80\xA6) instead of\n"
    "boxing each distance as a Python int. `out` must be exactly\n"
    "`len(candidates)` elements and is validated before any compute.");
constexpr FuncDesc kCdistFn = func<params::kCdist, &levenshtein_cdist_fn>("levenshtein_cdist", "");
constexpr FuncDesc kCdistIntoFn = func<params::kCdistIntoU32, &levenshtein_cdist_into_fn>(
    "levenshtein_cdist_into",
    "Zero-allocation cross-product matrix: `out` must be a writable, contiguous\n"
    "`(len(list_a), len(list_b))` buffer of `uint32` (row-major).");

}  // namespace

const FuncDesc rows::levenshtein_distance = kDistance;
const FuncDesc rows::levenshtein_myers = kMyers;
const FuncDesc rows::levenshtein_batch = kBatchFn;
const FuncDesc rows::levenshtein_batch_into = kBatchIntoFn;
const FuncDesc rows::levenshtein_cdist = kCdistFn;
const FuncDesc rows::levenshtein_cdist_into = kCdistIntoFn;

}  // namespace tarnvel::py
