// Private test functions for the binding layer, the dispatch caches and the indel core.
#include <deque>
#include <new>
#include <string>
#include <vector>

#include "binding/functions.hpp"
#include "binding/module.hpp"
#include "binding/results.hpp"
#include "binding/table.hpp"
#include "binding/testing/rows.hpp"
#include "core/common/panic.hpp"
#include "core/fuzz/indel.hpp"
#include "dispatch/cpu.hpp"
#include "dispatch/kernels.hpp"

namespace tarnvel::py {
namespace {

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
constexpr Param kRowsParam[] = {{"rows", Kind::object}};

// Runs the module-start check of a function table on rows made from a list of
// (listed name, parameter count, name of the public function it points to or None).
PyObject* check_table_rows(Bound<kRowsParam> a) {
    PyObject* list = a.object<"rows">();
    const Py_ssize_t n = PyList_Size(list);
    if (n < 0) throw PyError{};
    std::deque<std::string> names;
    std::vector<TableRow> rows;
    for (Py_ssize_t i = 0; i < n; ++i) {
        const char* listed = nullptr;
        const char* target = nullptr;
        Py_ssize_t arity = 0;
        if (!PyArg_ParseTuple(PyList_GetItem(list, i), "snz", &listed, &arity, &target))
            throw PyError{};
        const FuncDesc* desc = nullptr;
        for (const TableRow& r : public_table())
            if (target && std::string(r.desc->name) == target) desc = r.desc;
        names.emplace_back(listed);
        rows.push_back({names.back().c_str(), static_cast<std::size_t>(arity), desc});
    }
    if (!check_table(rows)) return nullptr;
    return to_py_none();
}

PyObject* raise_panic_fn(Bound<kMsgParam> a) {
    const core::Text msg = a.text<"message">();
    core::panic(std::string(msg.data, msg.size));
}

PyObject* raise_panic_nogil(Bound<kMsgParam> a) {
    const core::Text msg = a.text<"message">();
    GilRelease nogil;
    core::panic(std::string(msg.data, msg.size));
}

PyObject* raise_bad_alloc() { throw std::bad_alloc(); }

// Echoes every converted kind so the parser can be tested as a whole.
PyObject* probe_kinds(Bound<kProbeParams> a) {
    const core::Text t = a.text<"text">();
    const auto list = a.list<"items">();
    PyObject* items_list = PyList_New(static_cast<Py_ssize_t>(list.size()));
    if (!items_list) throw PyError{};
    for (std::size_t i = 0; i < list.size(); ++i) {
        PyObject* s =
            PyUnicode_FromStringAndSize(list[i].data, static_cast<Py_ssize_t>(list[i].size));
        if (!s) {
            Py_DECREF(items_list);
            throw PyError{};
        }
        PyList_SetItem(items_list, static_cast<Py_ssize_t>(i), s);
    }
    const auto opt = a.opt_u64<"threshold">();
    PyObject* opt_obj = opt ? PyLong_FromUnsignedLongLong(*opt) : (Py_INCREF(Py_None), Py_None);
    PyObject* flag = a.flag<"flag">() ? Py_True : Py_False;
    Py_INCREF(flag);
    PyObject* items[] = {PyUnicode_FromStringAndSize(t.data, static_cast<Py_ssize_t>(t.size)),
                         PyFloat_FromDouble(a.real<"real">()),
                         PyLong_FromLongLong(a.i64<"signed">()),
                         PyLong_FromUnsignedLongLong(a.u64<"unsigned">()),
                         flag,
                         opt_obj,
                         items_list,
                         PyFloat_FromDouble(a.real<"p">())};
    return tuple_of(items);
}

PyObject* indel_distance_fn(Bound<kPair> a) {
    std::uint64_t d;
    {
        GilRelease nogil;
        d = core::indel_distance(a.text<"a">(), a.text<"b">());
    }
    return to_py_u64(d);
}

PyObject* simd_info() {
    const int lanes = dispatch::simd_lanes();
    PyObject* items[] = {PyLong_FromLong(lanes), PyBool_FromLong(dispatch::cpu_has_avx2()),
                         PyBool_FromLong(dispatch::cpu_has_avx512f()),
                         PyUnicode_FromString(dispatch::target_name(dispatch::kernels().target))};
    return tuple_of(items);
}

constexpr FuncDesc kPanic = func<kMsgParam, &raise_panic_fn>("raise_panic", "");
constexpr FuncDesc kPanicNogil = func<kMsgParam, &raise_panic_nogil>("raise_panic_nogil", "");
constexpr FuncDesc kBadAlloc = func<&raise_bad_alloc>("raise_bad_alloc", "");
constexpr FuncDesc kProbe = func<kProbeParams, &probe_kinds>("probe_kinds", "");
constexpr FuncDesc kIndel = func<kPair, &indel_distance_fn>("indel_distance", "");
constexpr FuncDesc kCheckTable = func<kRowsParam, &check_table_rows>("check_table_rows", "");
constexpr FuncDesc kSimdInfo = func<&simd_info>("simd_info", "");

}  // namespace

const FuncDesc rows::raise_panic = kPanic;
const FuncDesc rows::raise_panic_nogil = kPanicNogil;
const FuncDesc rows::raise_bad_alloc = kBadAlloc;
const FuncDesc rows::probe_kinds = kProbe;
const FuncDesc rows::indel_distance = kIndel;
const FuncDesc rows::simd_info = kSimdInfo;
const FuncDesc rows::check_table_rows = kCheckTable;

}  // namespace tarnvel::py
