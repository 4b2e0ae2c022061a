// fuzz_ratio and fuzz_qratio: the indel ratio of two texts, computed without the
// interpreter lock.
#include "binding/functions.hpp"
#include "binding/params.hpp"
#include "binding/results.hpp"
#include "binding/table.hpp"
#include "core/fuzz/ratio.hpp"

namespace tarnvel::py {
namespace {

PyObject* fuzz_ratio(Bound<params::kPairCutoff> a) {
    return to_py_f64(without_gil_pair(a.text<"a">(), a.text<"b">(), [&] {
        return core::indel_ratio(a.text<"a">(), a.text<"b">(), a.real<"score_cutoff">());
    }));
}

PyObject* fuzz_qratio(Bound<params::kPairCutoff> a) {
    return to_py_f64(without_gil_pair(a.text<"a">(), a.text<"b">(), [&] {
        return core::quick_ratio(a.text<"a">(), a.text<"b">(), a.real<"score_cutoff">());
    }));
}

constexpr FuncDesc kFuzzRatio = func<params::kPairCutoff, &fuzz_ratio>("fuzz_ratio", "");
constexpr FuncDesc kFuzzQratio = func<params::kPairCutoff, &fuzz_qratio>("fuzz_qratio", "");

}  // namespace

const FuncDesc rows::fuzz_ratio = kFuzzRatio;
const FuncDesc rows::fuzz_qratio = kFuzzQratio;

}  // namespace tarnvel::py
