// Python entry points of the Damerau-Levenshtein family: distance, ratio, batch and
// cross-product with their NumPy `_into` forms. All compute without the interpreter lock.
#include "binding/results.hpp"
#include "binding/table.hpp"
#include "core/damerau/damerau.hpp"

namespace tarnvel::py {
namespace {

constexpr std::size_t kDirectWrite = std::size_t{1} << 20;

PyObject* distance_fn(Args& a) {
    std::uint32_t d;
    {
        GilRelease nogil;
        d = core::damerau_levenshtein(a.text(0), a.text(1));
    }
    return to_py_u64(d);
}

PyObject* ratio_fn(Args& a) {
    double r;
    {
        GilRelease nogil;
        r = core::damerau_ratio(a.text(0), a.text(1));
    }
    return to_py_f64(r);
}

PyObject* batch_fn(Args& a) {
    std::vector<std::uint32_t> r;
    {
        GilRelease nogil;
        r = core::damerau_batch(a.text(0), a.list(1));
    }
    return list_u32(r);
}

PyObject* batch_into_fn(Args& a) {
    std::vector<std::uint32_t> r;
    {
        GilRelease nogil;
        r = core::damerau_batch(a.text(0), a.list(1));
    }
    a.out().write(r);
    return to_py_none();
}

PyObject* cdist_fn(Args& a) {
    std::vector<std::vector<std::uint32_t>> rows;
    {
        GilRelease nogil;
        rows = core::damerau_cdist(a.list(0), a.list(1));
    }
    return matrix_u32(rows);
}

PyObject* cdist_into_fn(Args& a) {
    const auto la = a.list(0), lb = a.list(1);
    OutBuffer& out = a.out();
    if (out.count() >= kDirectWrite) {
        auto* dst = static_cast<std::uint32_t*>(out.data());
        {
            GilRelease nogil;
            core::damerau_cdist(la, lb, dst);
        }
        out.release();
        return to_py_none();
    }
    std::vector<std::uint32_t> flat(la.size() * lb.size());
    {
        GilRelease nogil;
        core::damerau_cdist(la, lb, flat.data());
    }
    out.write(flat);
    return to_py_none();
}

constexpr Param kPair[] = {{"a", Kind::text}, {"b", Kind::text}};
constexpr Param kBatch[] = {{"query", Kind::text}, {"candidates", Kind::text_list}};
constexpr Param kBatchInto[] = {
    {"query", Kind::text}, {"candidates", Kind::text_list}, {"out", Kind::out_u32_1d}};
constexpr Param kCdist[] = {{"list_a", Kind::text_list}, {"list_b", Kind::text_list}};
constexpr Param kCdistInto[] = {
    {"list_a", Kind::text_list}, {"list_b", Kind::text_list}, {"out", Kind::out_u32_2d}};

const FuncDesc kDistance{"damerau_levenshtein_distance", kPair, "", &distance_fn};
const FuncDesc kRatio{"damerau_ratio", kPair, "", &ratio_fn};
const FuncDesc kBatchFn{"damerau_levenshtein_batch", kBatch, "", &batch_fn};
const FuncDesc kBatchIntoFn{
    "damerau_levenshtein_batch_into", kBatchInto,
    "Zero-allocation Damerau batch into a writable `uint32` buffer (see\n"
    "[`levenshtein_batch_into`]).",
    &batch_into_fn};
const FuncDesc kCdistFn{"damerau_levenshtein_cdist", kCdist, "", &cdist_fn};
const FuncDesc kCdistIntoFn{
    "damerau_levenshtein_cdist_into", kCdistInto,
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
