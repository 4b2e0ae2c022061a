// The partial, token and weighted fuzzy scorers: each converts two texts and a cutoff,
// computes without the interpreter lock and returns a float (or the alignment tuple).
#include "binding/results.hpp"
#include "binding/params.hpp"
#include "binding/table.hpp"
#include "core/fuzz/partial.hpp"
#include "core/fuzz/token.hpp"
#include "core/fuzz/weighted.hpp"

namespace tarnvel::py {
namespace {

using Scorer = double (*)(core::Text, core::Text, double);

template <Scorer kScorer>
PyObject* score_pair(Args& a) {
    return to_py_f64(without_gil_pair(a.text(0), a.text(1), [&] { return kScorer(a.text(0), a.text(1), a.real(2)); }));
}

PyObject* fuzz_partial_ratio_alignment(Args& a) {
    core::PartialAlignment r;
    {
        GilRelease nogil;
        r = core::partial_ratio_alignment(a.text(0), a.text(1), a.real(2));
    }
    // tuple_of takes ownership of all five and raises if any of them failed.
    PyObject* const items[5] = {PyFloat_FromDouble(r.score), PyLong_FromUnsignedLongLong(r.src_start),
                                PyLong_FromUnsignedLongLong(r.src_end),
                                PyLong_FromUnsignedLongLong(r.dest_start),
                                PyLong_FromUnsignedLongLong(r.dest_end)};
    return tuple_of(items);
}


constexpr const char* kAlignmentDoc =
    "Returns the best match of the shorter text in the longer one as the tuple\n"
    "(score, src_start, src_end, dest_start, dest_end). `src_start`/`src_end`\n"
    "are relative to the FIRST argument, `dest_start`/`dest_end` to the second.";

const FuncDesc kPartialRatio{"fuzz_partial_ratio", params::kPairCutoff, "", &score_pair<core::partial_ratio>};
const FuncDesc kPartialRatioAlignment{"fuzz_partial_ratio_alignment", params::kPairCutoff, kAlignmentDoc,
                                      &fuzz_partial_ratio_alignment};
const FuncDesc kTokenSortRatio{"fuzz_token_sort_ratio", params::kPairCutoff, "",
                               &score_pair<core::token_sort_ratio>};
const FuncDesc kTokenSetRatio{"fuzz_token_set_ratio", params::kPairCutoff, "", &score_pair<core::token_set_ratio>};
const FuncDesc kTokenRatio{"fuzz_token_ratio", params::kPairCutoff, "", &score_pair<core::token_ratio>};
const FuncDesc kWratio{"fuzz_wratio", params::kPairCutoff, "", &score_pair<core::weighted_ratio>};
const FuncDesc kPartialTokenSortRatio{"fuzz_partial_token_sort_ratio", params::kPairCutoff, "",
                                      &score_pair<core::partial_token_sort_ratio>};
const FuncDesc kPartialTokenSetRatio{"fuzz_partial_token_set_ratio", params::kPairCutoff, "",
                                     &score_pair<core::partial_token_set_ratio>};
const FuncDesc kPartialTokenRatio{"fuzz_partial_token_ratio", params::kPairCutoff, "",
                                  &score_pair<core::partial_token_ratio>};

TARNVEL_REGISTER_FUNCTION(kPartialRatio);
TARNVEL_REGISTER_FUNCTION(kPartialRatioAlignment);
TARNVEL_REGISTER_FUNCTION(kTokenSortRatio);
TARNVEL_REGISTER_FUNCTION(kTokenSetRatio);
TARNVEL_REGISTER_FUNCTION(kTokenRatio);
TARNVEL_REGISTER_FUNCTION(kWratio);
TARNVEL_REGISTER_FUNCTION(kPartialTokenSortRatio);
TARNVEL_REGISTER_FUNCTION(kPartialTokenSetRatio);
TARNVEL_REGISTER_FUNCTION(kPartialTokenRatio);

}  // namespace
}  // namespace tarnvel::py
