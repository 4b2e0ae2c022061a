// The GPU-facing functions. There is no GPU back end: they validate their arguments,
// report CPU-only mode in fixed words and change nothing. None of them releases the
// interpreter lock or touches the SIMD caches.
#include "binding/functions.hpp"
#include "binding/results.hpp"
#include "binding/table.hpp"

namespace tarnvel::py {
namespace {

constexpr const char* kCpuOnlyReport = "CPU-only mode (built without gpu feature)";
constexpr const char* kWarmupMessage = "Built without GPU support (cpu-only)";

constexpr Param kCpuOnlyParams[] = {{"cpu_only", Kind::flag}};
constexpr Param kThresholdParams[] = {{"threshold", Kind::opt_u64, "None"}};

PyObject* set_cpu_only(Bound<kCpuOnlyParams>) { return to_py_none(); }
PyObject* set_gpu_threshold(Bound<kThresholdParams>) { return to_py_none(); }
PyObject* is_gpu_available() {
    Py_INCREF(Py_False);
    return Py_False;
}
PyObject* cpu_only_report() { return to_py_str(kCpuOnlyReport); }
PyObject* warmup() {
    Py_INCREF(Py_False);
    PyObject* items[] = {Py_False, PyUnicode_FromString(kWarmupMessage)};
    return tuple_of(items);
}

constexpr FuncDesc kSetCpuOnly = func<kCpuOnlyParams, &set_cpu_only>("set_cpu_only", "");
constexpr FuncDesc kSetGpuThreshold =
    func<kThresholdParams, &set_gpu_threshold>("set_gpu_threshold", "", false);
constexpr FuncDesc kIsGpuAvailable = func<&is_gpu_available>("is_gpu_available", "");
constexpr FuncDesc kWarmup = func<&warmup>("warmup", "");
constexpr FuncDesc kGpuInfo = func<&cpu_only_report>("gpu_info", "");
constexpr FuncDesc kHardwareInfo = func<&cpu_only_report>("hardware_info", "");

}  // namespace

const FuncDesc rows::set_cpu_only = kSetCpuOnly;
const FuncDesc rows::set_gpu_threshold = kSetGpuThreshold;
const FuncDesc rows::is_gpu_available = kIsGpuAvailable;
const FuncDesc rows::warmup = kWarmup;
const FuncDesc rows::gpu_info = kGpuInfo;
const FuncDesc rows::hardware_info = kHardwareInfo;

}  // namespace tarnvel::py
