// Python entry points of the Levenshtein family: the two scalar distances, the batch and
// the cross-product, each with its NumPy `_into` form. All compute without the
// interpreter lock.
#include "binding/results.hpp"
#include "binding/params.hpp"
#include "binding/table.hpp"
#include "core/levenshtein/levenshtein.hpp"

namespace tarnvel::py {
namespace {


PyObject* levenshtein_distance_fn(Args& a) {
    return to_py_u64(without_gil_pair(a.text(0), a.text(1), [&] { return core::levenshtein(a.text(0), a.text(1)); }));
}

PyObject* levenshtein_myers_fn(Args& a) {
    return to_py_u64(without_gil_pair(a.text(0), a.text(1), [&] { return core::levenshtein_myers(a.text(0), a.text(1)); }));
}

PyObject* levenshtein_batch_fn(Args& a) {
    return list_u32(without_gil_interruptible([&] { return core::levenshtein_batch(a.text(0), a.list(1)); }));
}

PyObject* levenshtein_batch_into_fn(Args& a) {
    const auto r = without_gil_interruptible([&] { return core::levenshtein_batch(a.text(0), a.list(1)); });
    a.out().write(r);
    return to_py_none();
}

PyObject* levenshtein_cdist_fn(Args& a) {
    return matrix_u32(without_gil_interruptible([&] { return core::levenshtein_cdist(a.list(0), a.list(1)); }));
}

PyObject* levenshtein_cdist_into_fn(Args& a) {
    const auto la = a.list(0), lb = a.list(1);
    fill_u32_out(a.out(), [&](std::uint32_t* dst) { core::levenshtein_cdist(la, lb, dst); });
    return to_py_none();
}


const FuncDesc kDistance{"levenshtein_distance", params::kPair, "", &levenshtein_distance_fn};
const FuncDesc kMyers{"levenshtein_myers", params::kPair, "", &levenshtein_myers_fn};
const FuncDesc kBatchFn{"levenshtein_batch", params::kBatch, "", &levenshtein_batch_fn};
const FuncDesc kBatchIntoFn{
    "levenshtein_batch_into", params::kBatchIntoU32,
    "Zero-allocation batch: results are written into a caller-supplied writable\n"
    "buffer (numpy `uint32`, `array.array('I')`, `memoryview`, \xE2\x80\xA6) instead of\n"
    "boxing each distance as a Python int. `out` must be exactly\n"
    "`len(candidates)` elements and is validated before any compute.",
    &levenshtein_batch_into_fn};
const FuncDesc kCdistFn{"levenshtein_cdist", params::kCdist, "", &levenshtein_cdist_fn};
const FuncDesc kCdistIntoFn{
    "levenshtein_cdist_into", params::kCdistIntoU32,
    "Zero-allocation cross-product matrix: `out` must be a writable, contiguous\n"
    "`(len(list_a), len(list_b))` buffer of `uint32` (row-major).",
    &levenshtein_cdist_into_fn};

TARNVEL_REGISTER_FUNCTION(kDistance);
TARNVEL_REGISTER_FUNCTION(kMyers);
TARNVEL_REGISTER_FUNCTION(kBatchFn);
TARNVEL_REGISTER_FUNCTION(kBatchIntoFn);
TARNVEL_REGISTER_FUNCTION(kCdistFn);
TARNVEL_REGISTER_FUNCTION(kCdistIntoFn);

}  // namespace
}  // namespace tarnvel::py
