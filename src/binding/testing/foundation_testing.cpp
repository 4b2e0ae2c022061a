// Private test functions for the binding layer, the dispatch caches and the indel core.
#include <new>

#include "binding/results.hpp"
#include "binding/table.hpp"
#include "core/common/panic.hpp"
#include "core/fuzz/indel.hpp"
#include "dispatch/cpu.hpp"
#include "dispatch/kernels.hpp"

namespace tarnvel::py {
namespace {

PyObject* raise_panic_fn(Args& a) {
    const core::Text msg = a.text(0);
    core::panic(std::string(msg.data, msg.size));
}

PyObject* raise_panic_nogil(Args& a) {
    const core::Text msg = a.text(0);
    GilRelease nogil;
    core::panic(std::string(msg.data, msg.size));
}

PyObject* raise_bad_alloc(Args&) { throw std::bad_alloc(); }

// Echoes every converted kind so the parser can be tested as a whole.
PyObject* probe_kinds(Args& a) {
    const core::Text t = a.text(0);
    const auto list = a.list(6);
    PyObject* items_list = PyList_New(static_cast<Py_ssize_t>(list.size()));
    if (!items_list) throw PyError{};
    for (std::size_t i = 0; i < list.size(); ++i) {
        PyObject* s = PyUnicode_FromStringAndSize(list[i].data, static_cast<Py_ssize_t>(list[i].size));
        if (!s) {
            Py_DECREF(items_list);
            throw PyError{};
        }
        PyList_SetItem(items_list, static_cast<Py_ssize_t>(i), s);
    }
    const auto opt = a.opt_u64(5);
    PyObject* opt_obj = opt ? PyLong_FromUnsignedLongLong(*opt) : (Py_INCREF(Py_None), Py_None);
    PyObject* flag = a.flag(4) ? Py_True : Py_False;
    Py_INCREF(flag);
    PyObject* items[] = {PyUnicode_FromStringAndSize(t.data, static_cast<Py_ssize_t>(t.size)),
                         PyFloat_FromDouble(a.real(1)),
                         PyLong_FromLongLong(a.i64(2)),
                         PyLong_FromUnsignedLongLong(a.u64(3)),
                         flag,
                         opt_obj,
                         items_list,
                         PyFloat_FromDouble(a.real(7))};
    return tuple_of(items);
}

PyObject* indel_distance_fn(Args& a) {
    std::uint64_t d;
    {
        GilRelease nogil;
        d = core::indel_distance(a.text(0), a.text(1));
    }
    return to_py_u64(d);
}

PyObject* simd_info(Args&) {
    const int lanes = dispatch::simd_lanes();
    PyObject* items[] = {PyLong_FromLong(lanes), PyBool_FromLong(dispatch::cpu_has_avx2()),
                         PyBool_FromLong(dispatch::cpu_has_avx512f()),
                         PyUnicode_FromString(dispatch::target_name(dispatch::kernels().target))};
    return tuple_of(items);
}

constexpr Param kMsgParam[] = {{"message", Kind::text}};
constexpr Param kProbeParams[] = {
    {"text", Kind::text},
    {"real", Kind::real},
    {"signed", Kind::i64},
    {"unsigned", Kind::u64, "7", 0.0, 7},
    {"flag", Kind::flag, "False", 0.0, 0},
    {"threshold", Kind::opt_u64, "None"},
    {"items", Kind::text_list, "()"},
    {"p", Kind::prefix_p, "0.1", 0.1},
};
constexpr Param kPair[] = {{"a", Kind::text}, {"b", Kind::text}};

const FuncDesc kPanic{"raise_panic", kMsgParam, "", &raise_panic_fn};
const FuncDesc kPanicNogil{"raise_panic_nogil", kMsgParam, "", &raise_panic_nogil};
const FuncDesc kBadAlloc{"raise_bad_alloc", {}, "", &raise_bad_alloc};
const FuncDesc kProbe{"probe_kinds", kProbeParams, "", &probe_kinds};
const FuncDesc kIndel{"indel_distance", kPair, "", &indel_distance_fn};
const FuncDesc kSimdInfo{"simd_info", {}, "", &simd_info};

TARNVEL_REGISTER_TEST_FUNCTION(kPanic);
TARNVEL_REGISTER_TEST_FUNCTION(kPanicNogil);
TARNVEL_REGISTER_TEST_FUNCTION(kBadAlloc);
TARNVEL_REGISTER_TEST_FUNCTION(kProbe);
TARNVEL_REGISTER_TEST_FUNCTION(kIndel);
TARNVEL_REGISTER_TEST_FUNCTION(kSimdInfo);

}  // namespace
}  // namespace tarnvel::py
