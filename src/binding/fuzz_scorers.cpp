// The partial, token and weighted fuzzy scorers: each converts two texts and a cutoff,
// computes without the interpreter lock and returns a float (or the alignment tuple).
#include "binding/functions.hpp"
#include "binding/params.hpp"
#include "binding/results.hpp"
#include "binding/table.hpp"
#include "core/fuzz/partial.hpp"
#include "core/fuzz/token.hpp"
#include "core/fuzz/weighted.hpp"

namespace tarnvel::py {
namespace {

using Scorer = double (*)(core::Text, core::Text, double);

template <Scorer kScorer>
PyObject* score_pair(Bound<params::kPairCutoff> a) {
    return to_py_f64(without_gil_pair(a.text<"a">(), a.text<"b">(), [&] {
        return kScorer(a.text<"a">(), a.text<"b">(), a.real<"score_cutoff">());
    }));
}

PyObject* fuzz_partial_ratio_alignment(Bound<params::kPairCutoff> a) {
    core::PartialAlignment r;
    {
        GilRelease nogil;
        r = core::partial_ratio_alignment(a.text<"a">(), a.text<"b">(), a.real<"score_cutoff">());
    }
    // tuple_of takes ownership of all five and raises if any of them failed.
    PyObject* const items[5] = {
        PyFloat_FromDouble(r.score), PyLong_FromUnsignedLongLong(r.src_start),
        PyLong_FromUnsignedLongLong(r.src_end), PyLong_FromUnsignedLongLong(r.dest_start),
        PyLong_FromUnsignedLongLong(r.dest_end)};
    return tuple_of(items);
}

constexpr const char* kAlignmentDoc =
    "Returns the best match of the shorter text in the longer one as the tuple\n"
    "(score, src_start, src_end, dest_start, dest_end). `src_start`/`src_end`\n"
    "are relative to the FIRST argument, `dest_start`/`dest_end` to the second.";

constexpr FuncDesc kPartialRatio =
    func<params::kPairCutoff, &score_pair<core::partial_ratio>>("fuzz_partial_ratio", "");
constexpr FuncDesc kPartialRatioAlignment =
    func<params::kPairCutoff, &fuzz_partial_ratio_alignment>("fuzz_partial_ratio_alignment",
                                                             kAlignmentDoc);
constexpr FuncDesc kTokenSortRatio =
    func<params::kPairCutoff, &score_pair<core::token_sort_ratio>>("fuzz_token_sort_ratio", "");
constexpr FuncDesc kTokenSetRatio =
    func<params::kPairCutoff, &score_pair<core::token_set_ratio>>("fuzz_token_set_ratio", "");
constexpr FuncDesc kTokenRatio =
    func<params::kPairCutoff, &score_pair<core::token_ratio>>("fuzz_token_ratio", "");
constexpr FuncDesc kWratio =
    func<params::kPairCutoff, &score_pair<core::weighted_ratio>>("fuzz_wratio", "");
constexpr FuncDesc kPartialTokenSortRatio =
    func<params::kPairCutoff, &score_pair<core::partial_token_sort_ratio>>(
        "fuzz_partial_token_sort_ratio", "");
constexpr FuncDesc kPartialTokenSetRatio =
    func<params::kPairCutoff, &score_pair<core::partial_token_set_ratio>>(
        "fuzz_partial_token_set_ratio", "");
constexpr FuncDesc kPartialTokenRatio =
    func<params::kPairCutoff, &score_pair<core::partial_token_ratio>>("fuzz_partial_token_ratio",
                                                                      "");

}  // namespace

const FuncDesc rows::fuzz_partial_ratio = kPartialRatio;
const FuncDesc rows::fuzz_partial_ratio_alignment = kPartialRatioAlignment;
const FuncDesc rows::fuzz_token_sort_ratio = kTokenSortRatio;
const FuncDesc rows::fuzz_token_set_ratio = kTokenSetRatio;
const FuncDesc rows::fuzz_token_ratio = kTokenRatio;
const FuncDesc rows::fuzz_wratio = kWratio;
const FuncDesc rows::fuzz_partial_token_sort_ratio = kPartialTokenSortRatio;
const FuncDesc rows::fuzz_partial_token_set_ratio = kPartialTokenSetRatio;
const FuncDesc rows::fuzz_partial_token_ratio = kPartialTokenRatio;

}  // namespace tarnvel::py
