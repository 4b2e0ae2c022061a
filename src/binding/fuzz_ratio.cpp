// fuzz_ratio and fuzz_qratio: the indel ratio of two texts, computed without the
// interpreter lock.
#include "binding/results.hpp"
#include "binding/params.hpp"
#include "binding/table.hpp"
#include "core/fuzz/ratio.hpp"

namespace tarnvel::py {
namespace {

PyObject* fuzz_ratio(Args& a) {
    return to_py_f64(without_gil_pair(a.text(0), a.text(1), 
        [&] { return core::indel_ratio(a.text(0), a.text(1), a.real(2)); }));
}

PyObject* fuzz_qratio(Args& a) {
    return to_py_f64(without_gil_pair(a.text(0), a.text(1), 
        [&] { return core::quick_ratio(a.text(0), a.text(1), a.real(2)); }));
}


const FuncDesc kFuzzRatio{"fuzz_ratio", params::kPairCutoff, "", &fuzz_ratio};
const FuncDesc kFuzzQratio{"fuzz_qratio", params::kPairCutoff, "", &fuzz_qratio};

TARNVEL_REGISTER_FUNCTION(kFuzzRatio);
TARNVEL_REGISTER_FUNCTION(kFuzzQratio);

}  // namespace
}  // namespace tarnvel::py
