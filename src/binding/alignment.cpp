// Needleman-Wunsch functions: linear and affine global scores, their batches and the
// unrolled ("striped") linear entry point. Every score is a signed 64-bit integer; the
// computation runs without the interpreter lock, batches on the pool.
#include <cstdint>
#include <vector>

#include "binding/functions.hpp"
#include "binding/results.hpp"
#include "binding/table.hpp"
#include "core/alignment/alignment.hpp"

namespace tarnvel::py {
namespace {

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
constexpr Param kAffinePair[] = {{"a", Kind::text},          {"b", Kind::text},
                                 {"match_score", Kind::i64}, {"mismatch_score", Kind::i64},
                                 {"gap_open", Kind::i64},    {"gap_extend", Kind::i64}};
constexpr Param kAffineBatch[] = {{"query", Kind::text},      {"candidates", Kind::text_list},
                                  {"match_score", Kind::i64}, {"mismatch_score", Kind::i64},
                                  {"gap_open", Kind::i64},    {"gap_extend", Kind::i64}};

PyObject* nw_score(Bound<kPair> a) {
    return to_py_i64(without_gil_pair(a.text<"a">(), a.text<"b">(), [&] {
        return core::nw_linear(a.text<"a">(), a.text<"b">(), a.i64<"match_score">(),
                               a.i64<"mismatch_score">(), a.i64<"gap_penalty">());
    }));
}

PyObject* nw_batch(Bound<kBatch> a) {
    return list_i64(without_gil_interruptible([&] {
        return core::nw_linear_batch(a.text<"query">(), a.list<"candidates">(),
                                     a.i64<"match_score">(), a.i64<"mismatch_score">(),
                                     a.i64<"gap_penalty">());
    }));
}

PyObject* nw_affine_score(Bound<kAffinePair> a) {
    return to_py_i64(without_gil_pair(a.text<"a">(), a.text<"b">(), [&] {
        return core::nw_affine(a.text<"a">(), a.text<"b">(), a.i64<"match_score">(),
                               a.i64<"mismatch_score">(), a.i64<"gap_open">(),
                               a.i64<"gap_extend">());
    }));
}

PyObject* nw_affine_batch(Bound<kAffineBatch> a) {
    return list_i64(without_gil_interruptible([&] {
        return core::nw_affine_batch(a.text<"query">(), a.list<"candidates">(),
                                     a.i64<"match_score">(), a.i64<"mismatch_score">(),
                                     a.i64<"gap_open">(), a.i64<"gap_extend">());
    }));
}

PyObject* nw_striped_score(Bound<kPair> a) {
    return to_py_i64(without_gil_pair(a.text<"a">(), a.text<"b">(), [&] {
        return core::nw_striped(a.text<"a">(), a.text<"b">(), a.i64<"match_score">(),
                                a.i64<"mismatch_score">(), a.i64<"gap_penalty">());
    }));
}

constexpr FuncDesc kScore = func<kPair, &nw_score>("needleman_wunsch_score", "");
constexpr FuncDesc kBatchFn = func<kBatch, &nw_batch>("needleman_wunsch_batch_fn", "");
constexpr FuncDesc kAffine = func<kAffinePair, &nw_affine_score>("needleman_wunsch_affine", "");
constexpr FuncDesc kAffineBatchFn =
    func<kAffineBatch, &nw_affine_batch>("needleman_wunsch_affine_batch", "");
constexpr FuncDesc kStriped = func<kPair, &nw_striped_score>("needleman_wunsch_striped", "");

}  // namespace

const FuncDesc rows::needleman_wunsch_score = kScore;
const FuncDesc rows::needleman_wunsch_batch_fn = kBatchFn;
const FuncDesc rows::needleman_wunsch_affine = kAffine;
const FuncDesc rows::needleman_wunsch_affine_batch = kAffineBatchFn;
const FuncDesc rows::needleman_wunsch_striped = kStriped;

}  // namespace tarnvel::py
