// Needleman-Wunsch functions: linear and affine global scores, their batches and the
// unrolled ("striped") linear entry point. Every score is a signed 64-bit integer; the
// computation runs without the interpreter lock, batches on the pool.
#include <cstdint>
#include <vector>

#include "binding/results.hpp"
#include "binding/table.hpp"
#include "core/alignment/alignment.hpp"

namespace tarnvel::py {
namespace {

PyObject* nw_score(Args& a) {
    return to_py_i64(without_gil_pair(a.text(0), a.text(1), 
        [&] { return core::nw_linear(a.text(0), a.text(1), a.i64(2), a.i64(3), a.i64(4)); }));
}

PyObject* nw_batch(Args& a) {
    return list_i64(without_gil_interruptible(
        [&] { return core::nw_linear_batch(a.text(0), a.list(1), a.i64(2), a.i64(3), a.i64(4)); }));
}

PyObject* nw_affine_score(Args& a) {
    return to_py_i64(without_gil_pair(a.text(0), a.text(1), 
        [&] { return core::nw_affine(a.text(0), a.text(1), a.i64(2), a.i64(3), a.i64(4), a.i64(5)); }));
}

PyObject* nw_affine_batch(Args& a) {
    return list_i64(without_gil_interruptible(
        [&] { return core::nw_affine_batch(a.text(0), a.list(1), a.i64(2), a.i64(3), a.i64(4),
                                  a.i64(5)); }));
}

PyObject* nw_striped_score(Args& a) {
    return to_py_i64(without_gil_pair(a.text(0), a.text(1), 
        [&] { return core::nw_striped(a.text(0), a.text(1), a.i64(2), a.i64(3), a.i64(4)); }));
}

constexpr Param kPair[] = {{"a", Kind::text},
                           {"b", Kind::text},
                           {"match_score", Kind::i64},
                           {"mismatch_score", Kind::i64},
                           {"gap_penalty", Kind::i64}};
constexpr Param kBatch[] = {{"query", Kind::text},
                            {"candidates", Kind::text_list},
                            {"match_score", Kind::i64},
                            {"mismatch_score", Kind::i64},
                            {"gap_penalty", Kind::i64}};
constexpr Param kAffinePair[] = {{"a", Kind::text},
                                 {"b", Kind::text},
                                 {"match_score", Kind::i64},
                                 {"mismatch_score", Kind::i64},
                                 {"gap_open", Kind::i64},
                                 {"gap_extend", Kind::i64}};
constexpr Param kAffineBatch[] = {{"query", Kind::text},
                                  {"candidates", Kind::text_list},
                                  {"match_score", Kind::i64},
                                  {"mismatch_score", Kind::i64},
                                  {"gap_open", Kind::i64},
                                  {"gap_extend", Kind::i64}};

const FuncDesc kScore{"needleman_wunsch_score", kPair, "", &nw_score};
const FuncDesc kBatchFn{"needleman_wunsch_batch_fn", kBatch, "", &nw_batch};
const FuncDesc kAffine{"needleman_wunsch_affine", kAffinePair, "", &nw_affine_score};
const FuncDesc kAffineBatchFn{"needleman_wunsch_affine_batch", kAffineBatch, "",
                              &nw_affine_batch};
const FuncDesc kStriped{"needleman_wunsch_striped", kPair, "", &nw_striped_score};

TARNVEL_REGISTER_FUNCTION(kScore);
TARNVEL_REGISTER_FUNCTION(kBatchFn);
TARNVEL_REGISTER_FUNCTION(kAffine);
TARNVEL_REGISTER_FUNCTION(kAffineBatchFn);
TARNVEL_REGISTER_FUNCTION(kStriped);

}  // namespace
}  // namespace tarnvel::py
