// Python entry points of the Damerau-Levenshtein family: distance, ratio, batch and
// cross-product with their NumPy `_into` forms. All compute without the interpreter lock.
#include "binding/results.hpp"
#include "binding/params.hpp"
#include "binding/table.hpp"
#include "core/damerau/damerau.hpp"

namespace tarnvel::py {
namespace {

PyObject* distance_fn(Args& a) {
    return to_py_u64(without_gil_pair(a.text(0), a.text(1), [&] { return core::damerau_levenshtein(a.text(0), a.text(1)); }));
}

PyObject* ratio_fn(Args& a) {
    return to_py_f64(without_gil_pair(a.text(0), a.text(1), [&] { return core::damerau_ratio(a.text(0), a.text(1)); }));
}

PyObject* batch_fn(Args& a) {
    return list_u32(without_gil_interruptible([&] { return core::damerau_batch(a.text(0), a.list(1)); }));
}

PyObject* batch_into_fn(Args& a) {
    const auto r = without_gil_interruptible([&] { return core::damerau_batch(a.text(0), a.list(1)); });
    a.out().write(r);
    return to_py_none();
}

PyObject* cdist_fn(Args& a) {
    return matrix_u32(without_gil_interruptible([&] { return core::damerau_cdist(a.list(0), a.list(1)); }));
}

PyObject* cdist_into_fn(Args& a) {
    const auto la = a.list(0), lb = a.list(1);
    fill_u32_out(a.out(), [&](std::uint32_t* dst) { core::damerau_cdist(la, lb, dst); });
    return to_py_none();
}


const FuncDesc kDistance{"damerau_levenshtein_distance", params::kPair, "", &distance_fn};
const FuncDesc kRatio{"damerau_ratio", params::kPair, "", &ratio_fn};
const FuncDesc kBatchFn{"damerau_levenshtein_batch", params::kBatch, "", &batch_fn};
const FuncDesc kBatchIntoFn{
    "damerau_levenshtein_batch_into", params::kBatchIntoU32,
    "Zero-allocation Damerau batch into a writable `uint32` buffer (see\n"
    "[`levenshtein_batch_into`]).",
    &batch_into_fn};
const FuncDesc kCdistFn{"damerau_levenshtein_cdist", params::kCdist, "", &cdist_fn};
const FuncDesc kCdistIntoFn{
    "damerau_levenshtein_cdist_into", params::kCdistIntoU32,
    "Zero-allocation Damerau cross-product matrix into a writable, contiguous\n"
    "`(len(list_a), len(list_b))` buffer of `uint32` (row-major).",
    &cdist_into_fn};

TARNVEL_REGISTER_FUNCTION(kDistance);
TARNVEL_REGISTER_FUNCTION(kRatio);
TARNVEL_REGISTER_FUNCTION(kBatchFn);
TARNVEL_REGISTER_FUNCTION(kBatchIntoFn);
TARNVEL_REGISTER_FUNCTION(kCdistFn);
TARNVEL_REGISTER_FUNCTION(kCdistIntoFn);

}  // namespace
}  // namespace tarnvel::py
