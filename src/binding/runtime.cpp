// The GPU-facing functions. There is no GPU back end: they validate their arguments,
// report CPU-only mode in fixed words and change nothing. None of them releases the
// interpreter lock or touches the SIMD caches.
#include "binding/results.hpp"
#include "binding/table.hpp"

namespace tarnvel::py {
namespace {

constexpr const char* kCpuOnlyReport = "CPU-only mode (built without gpu feature)";
constexpr const char* kWarmupMessage = "Built without GPU support (cpu-only)";

PyObject* set_cpu_only(Args&) { return to_py_none(); }
PyObject* set_gpu_threshold(Args&) { return to_py_none(); }
PyObject* is_gpu_available(Args&) {
    Py_INCREF(Py_False);
    return Py_False;
}
PyObject* cpu_only_report(Args&) { return to_py_str(kCpuOnlyReport); }
PyObject* warmup(Args&) {
    Py_INCREF(Py_False);
    PyObject* items[] = {Py_False, PyUnicode_FromString(kWarmupMessage)};
    return tuple_of(items);
}

constexpr Param kCpuOnlyParams[] = {{"cpu_only", Kind::flag}};
constexpr Param kThresholdParams[] = {{"threshold", Kind::opt_u64, "None"}};

const FuncDesc kSetCpuOnly{"set_cpu_only", kCpuOnlyParams, "", &set_cpu_only};
const FuncDesc kSetGpuThreshold{"set_gpu_threshold", kThresholdParams, "", &set_gpu_threshold, false};
const FuncDesc kIsGpuAvailable{"is_gpu_available", {}, "", &is_gpu_available};
const FuncDesc kWarmup{"warmup", {}, "", &warmup};
const FuncDesc kGpuInfo{"gpu_info", {}, "", &cpu_only_report};
const FuncDesc kHardwareInfo{"hardware_info", {}, "", &cpu_only_report};

TARNVEL_REGISTER_FUNCTION(kSetCpuOnly);
TARNVEL_REGISTER_FUNCTION(kSetGpuThreshold);
TARNVEL_REGISTER_FUNCTION(kIsGpuAvailable);
TARNVEL_REGISTER_FUNCTION(kWarmup);
TARNVEL_REGISTER_FUNCTION(kGpuInfo);
TARNVEL_REGISTER_FUNCTION(kHardwareInfo);

}  // namespace
}  // namespace tarnvel::py
