// Module definition, the function registry and the entry points of every function.
//
// Each module's table is a list of rows (functions.cpp, init_testing.cpp). The exec slot
// checks every row, then adds each function in order as a built-in bound to the module;
// the private test module sorts its rows by name.
// Every call goes through one boundary (call_impl) that turns C++ failures into Python
// exceptions: Panic and engine::InvariantError -> PanicException, bad_alloc -> MemoryError.
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <deque>
#include <new>
#include <stdexcept>
#include <string>
#include <sys/syscall.h>
#include <utility>
#include <vector>

#include "binding/args_internal.hpp"
#include "binding/errors.hpp"
#include "binding/functions.hpp"
#include "binding/module.hpp"
#include "core/common/panic.hpp"
#include "engine/cancel.hpp"
#include "engine/error.hpp"
#include "engine/parallel.hpp"

namespace tarnvel::py {
namespace {

constexpr std::size_t kMaxFunctions = 128;
constexpr std::size_t kMaxParams = 8;

struct ModuleTable {
    std::span<const TableRow> rows;  // as given to module_def
    std::array<PyMethodDef, kMaxFunctions> defs{};
    std::deque<std::string> docs;  // stable storage for docstrings
    std::size_t count = 0;
    bool built = false;
};

// What an entry point needs on every call, by entry index: plain arrays, constant
// initialised, so a call reads them without a guard.
const FuncDesc* g_slots[kModuleCount][kMaxFunctions] = {};
CallPlan g_plans[kModuleCount][kMaxFunctions] = {};

ModuleTable& table_of(ModuleId id) {
    static ModuleTable tables[kModuleCount];
    return tables[static_cast<int>(id)];
}

PyObject* call_impl(const FuncDesc& d, const CallPlan& plan, PyObject* const* argv,
                    Py_ssize_t nargs, PyObject* kwnames) {
    // Before anything on this thread may throw or touch a thread-local (see prepare_thread).
    if (!engine::prepare_thread()) [[unlikely]]
        return PyErr_NoMemory();
    try {
        Args args;
        if (!parse_and_convert(d, plan, argv, nargs, kwnames, args)) return nullptr;
        return d.impl(args);
    } catch (const PyError&) {
        return nullptr;
    } catch (const engine::Cancelled&) {
        // The waiter cancelled because a signal handler (or a progress callback) raised:
        // that exception is already set and is the call's result.
        if (PyErr_Occurred()) return nullptr;
        PyErr_SetString(PyExc_SystemError, "internal error: cancelled without exception");
        return nullptr;
    } catch (const engine::PoolStartError& e) {
        PyErr_SetString(e.out_of_memory() ? PyExc_MemoryError : PyExc_RuntimeError, e.what());
    } catch (const core::Panic& p) {
        raise_panic(p.message());
    } catch (const engine::InvariantError& e) {
        raise_panic(e.message());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::length_error&) {
        PyErr_NoMemory();  // a size beyond what the allocator can ever give
    } catch (const std::exception& e) {
        raise_panic(e.what());
    } catch (...) {
        raise_panic("unknown internal failure");
    }
    if (!PyErr_Occurred())
        PyErr_SetString(PyExc_SystemError, "internal error: failure without exception");
    return nullptr;
}

template <ModuleId M, std::size_t I>
PyObject* fast_entry(PyObject*, PyObject* const* argv, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr int m = static_cast<int>(M);
    return call_impl(*g_slots[m][I], g_plans[m][I], argv, nargs, kwnames);
}

template <ModuleId M, std::size_t I>
PyObject* noargs_entry(PyObject*, PyObject*) {
    constexpr int m = static_cast<int>(M);
    return call_impl(*g_slots[m][I], g_plans[m][I], nullptr, 0, nullptr);
}

using FastFn = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
using NoArgsFn = PyObject* (*)(PyObject*, PyObject*);

template <ModuleId M, std::size_t... I>
constexpr std::array<FastFn, sizeof...(I)> fast_entries(std::index_sequence<I...>) {
    return {&fast_entry<M, I>...};
}
template <ModuleId M, std::size_t... I>
constexpr std::array<NoArgsFn, sizeof...(I)> noargs_entries(std::index_sequence<I...>) {
    return {&noargs_entry<M, I>...};
}

template <ModuleId M>
FastFn fast_entry_at(std::size_t i) {
    static constexpr auto v = fast_entries<M>(std::make_index_sequence<kMaxFunctions>{});
    return v[i];
}
template <ModuleId M>
NoArgsFn noargs_entry_at(std::size_t i) {
    static constexpr auto v = noargs_entries<M>(std::make_index_sequence<kMaxFunctions>{});
    return v[i];
}

FastFn fast_entry_for(ModuleId id, std::size_t i) {
    switch (id) {
        case ModuleId::public_module:
            return fast_entry_at<ModuleId::public_module>(i);
        case ModuleId::testing_module:
            return fast_entry_at<ModuleId::testing_module>(i);
        case ModuleId::match_module:
            return fast_entry_at<ModuleId::match_module>(i);
    }
    return nullptr;
}
NoArgsFn noargs_entry_for(ModuleId id, std::size_t i) {
    switch (id) {
        case ModuleId::public_module:
            return noargs_entry_at<ModuleId::public_module>(i);
        case ModuleId::testing_module:
            return noargs_entry_at<ModuleId::testing_module>(i);
        case ModuleId::match_module:
            return noargs_entry_at<ModuleId::match_module>(i);
    }
    return nullptr;
}

std::string signature_of(const FuncDesc& d) {
    std::string s = std::string(d.name) + "(";
    for (std::size_t i = 0; i < d.params.size(); ++i) {
        if (i) s += ", ";
        s += d.params[i].name;
        if (d.params[i].default_text) {
            s += "=";
            s += d.params[i].default_text;
        }
    }
    if (!d.params.empty() && d.trailing_slash) s += ", /";
    return s + ")";
}

// Rejects a malformed table row loudly instead of misparsing calls.
bool check_row(const FuncDesc& d) {
    const char* problem = nullptr;
    if (d.params.size() > kMaxParams) problem = "too many parameters";
    bool seen_default = false;
    std::size_t lists = 0, outs = 0;
    for (std::size_t i = 0; i < d.params.size() && !problem; ++i) {
        const Param& p = d.params[i];
        if (p.default_text)
            seen_default = true;
        else if (seen_default)
            problem = "required parameter after an optional one";
        for (std::size_t j = 0; j < i; ++j)
            if (std::strcmp(d.params[j].name, p.name) == 0) problem = "duplicate parameter name";
        if (p.kind == Kind::text_list) ++lists;
        if (p.kind >= Kind::out_u32_1d && p.kind <= Kind::out_f64_2d) ++outs;
        if (p.kind == Kind::text && p.default_text) problem = "texts cannot have defaults";
    }
    if (!problem && lists > 2) problem = "more than two text lists";
    if (!problem && outs > 1) problem = "more than one output buffer";
    if (problem) {
        PyErr_Format(PyExc_SystemError, "internal error: function table row %s: %s", d.name,
                     problem);
        return false;
    }
    return true;
}

// The row as the module must expose it: its name and parameter count.
bool check_listed(const TableRow& r, std::span<const TableRow> rows, std::size_t i) {
    const char* problem = nullptr;
    if (!r.desc)
        problem = "no function";
    else if (std::strcmp(r.name, r.desc->name) != 0)
        problem = "listed under another name";
    else if (r.arity != kAnyArity && r.arity != r.desc->params.size())
        problem = "parameter count differs";
    for (std::size_t j = 0; j < i && !problem; ++j)
        if (std::strcmp(rows[j].name, r.name) == 0) problem = "listed twice";
    if (problem) {
        PyErr_Format(PyExc_SystemError, "internal error: function table row %s: %s", r.name,
                     problem);
        return false;
    }
    return true;
}

}  // namespace

bool check_table(std::span<const TableRow> rows) {
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (!check_listed(rows[i], rows, i)) return false;
    return true;
}

namespace {

bool build_table(ModuleId id) {
    ModuleTable& t = table_of(id);
    if (t.built) return true;
    if (!check_table(t.rows)) return false;
    std::vector<const FuncDesc*> order;
    for (const TableRow& r : t.rows) order.push_back(r.desc);
    if (id == ModuleId::testing_module)
        std::sort(order.begin(), order.end(), [](const FuncDesc* a, const FuncDesc* b) {
            return std::strcmp(a->name, b->name) < 0;
        });
    if (order.size() > kMaxFunctions) {
        PyErr_SetString(PyExc_SystemError, "internal error: too many functions");
        return false;
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        const FuncDesc& d = *order[i];
        if (!check_row(d)) return false;
        g_slots[static_cast<int>(id)][i] = &d;
        g_plans[static_cast<int>(id)][i] = make_plan(d);
        t.docs.push_back(signature_of(d) + "\n--\n\n" + d.doc_body);
        PyMethodDef& def = t.defs[i];
        def.ml_name = d.name;
        def.ml_doc = t.docs.back().c_str();
        if (d.params.empty()) {
            def.ml_meth = noargs_entry_for(id, i);
            def.ml_flags = METH_NOARGS;
        } else {
            FastFn f = fast_entry_for(id, i);
            def.ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f));
            def.ml_flags = METH_FASTCALL | METH_KEYWORDS;
        }
    }
    t.count = order.size();
    t.built = true;
    return true;
}

// Appends name to the module's __all__ (created on first use), then sets the attribute.
int add_exported(PyObject* module, PyObject* name, PyObject* value) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        all = PyList_New(0);
        if (!all || PyObject_SetAttrString(module, "__all__", all) < 0) {
            Py_XDECREF(all);
            return -1;
        }
    }
    if (!PyList_Check(all)) {
        raise_not_instance(all, "list");
        Py_DECREF(all);
        return -1;
    }
    const int rc = PyList_Append(all, name);
    Py_DECREF(all);
    if (rc < 0) return -1;
    return PyObject_SetAttr(module, name, value);
}

int exec_module(PyObject* module, ModuleId id) {
    if (!engine::prepare_thread()) {
        PyErr_NoMemory();
        return -1;
    }
    if (!PyModule_Check(module)) {
        raise_not_instance(module, "module");
        return -1;
    }
    if (!build_table(id)) return -1;
    ModuleTable& t = table_of(id);
    PyObject* modname = PyModule_GetNameObject(module);
    if (!modname) return -1;
    for (std::size_t i = 0; i < t.count; ++i) {
        PyObject* fn = PyCMethod_New(&t.defs[i], module, modname, nullptr);
        if (!fn) {
            Py_DECREF(modname);
            return -1;
        }
        PyObject* name = PyObject_GetAttrString(fn, "__name__");
        int rc = -1;
        if (name && !PyUnicode_Check(name))
            raise_not_instance(name, "str");
        else if (name)
            rc = add_exported(module, name, fn);
        Py_XDECREF(name);
        Py_DECREF(fn);
        if (rc < 0) {
            Py_DECREF(modname);
            return -1;
        }
    }
    Py_DECREF(modname);
    if (id == ModuleId::public_module) {
        PyObject* name = PyUnicode_FromString("__version__");
        PyObject* version = PyUnicode_FromString(kVersion);
        const int rc = (name && version) ? add_exported(module, name, version) : -1;
        Py_XDECREF(name);
        Py_XDECREF(version);
        if (rc < 0) return -1;
    }
    return 0;
}

int exec_public(PyObject* m) { return exec_module(m, ModuleId::public_module); }
int exec_testing(PyObject* m) { return exec_module(m, ModuleId::testing_module); }
int exec_match(PyObject* m) { return exec_module(m, ModuleId::match_module); }

PyModuleDef_Slot g_public_slots[] = {{Py_mod_exec, reinterpret_cast<void*>(&exec_public)},
                                     {0, nullptr}};
PyModuleDef_Slot g_testing_slots[] = {{Py_mod_exec, reinterpret_cast<void*>(&exec_testing)},
                                      {0, nullptr}};
PyModuleDef_Slot g_match_slots[] = {{Py_mod_exec, reinterpret_cast<void*>(&exec_match)},
                                    {0, nullptr}};

PyModuleDef g_public_def = {PyModuleDef_HEAD_INIT, "tarnvel", "",      0,      nullptr,
                            g_public_slots,        nullptr,   nullptr, nullptr};
PyModuleDef g_testing_def = {PyModuleDef_HEAD_INIT,
                             "_tarnvel_testing",
                             "",
                             0,
                             nullptr,
                             g_testing_slots,
                             nullptr,
                             nullptr,
                             nullptr};
PyModuleDef g_match_def = {PyModuleDef_HEAD_INIT,
                           "tarnvel_match._native",
                           "",
                           0,
                           nullptr,
                           g_match_slots,
                           nullptr,
                           nullptr,
                           nullptr};

}  // namespace

PyObject* call_registered(ModuleId id, const char* name, PyObject* const* argv, Py_ssize_t nargs) {
    // The public and companion tables are in every library copy; the test table only here.
    const std::span<const TableRow> rows = id == ModuleId::public_module  ? public_table()
                                           : id == ModuleId::match_module ? match_table()
                                                                          : table_of(id).rows;
    for (const TableRow& r : rows) {
        if (!r.desc || std::strcmp(r.desc->name, name) != 0) continue;
        const CallPlan plan = make_plan(*r.desc);
        return call_impl(*r.desc, plan, argv, nargs, nullptr);
    }
    PyErr_Format(PyExc_LookupError, "no function %s", name);
    return nullptr;
}

PyModuleDef* module_def(ModuleId id, std::span<const TableRow> rows) {
    table_of(id).rows = rows;
    switch (id) {
        case ModuleId::public_module:
            return &g_public_def;
        case ModuleId::testing_module:
            return &g_testing_def;
        case ModuleId::match_module:
            return &g_match_def;
    }
    return nullptr;
}

}  // namespace tarnvel::py

namespace tarnvel::py {

namespace {
// Which thread is the main one, cached per thread for the process it was computed in: a
// forked child (where the forking thread becomes the main one) bumps the generation.
std::atomic<unsigned> g_fork_generation{1};
struct MainThreadCache {
    unsigned generation;  // 0: not known yet
    bool main;
};
thread_local MainThreadCache t_main_thread{0, false};
void note_fork_in_child() { g_fork_generation.fetch_add(1, std::memory_order_relaxed); }
// At load time: a function-local static registered lazily could be mid-initialisation in
// another thread at the fork, and the child would then wait on its guard forever.
[[maybe_unused]] const bool g_fork_note_registered =
    pthread_atfork(nullptr, nullptr, &note_fork_in_child) == 0;
}  // namespace

bool on_main_thread() noexcept {
    const unsigned gen = g_fork_generation.load(std::memory_order_relaxed);
    MainThreadCache& c = t_main_thread;
    if (c.generation != gen) {
        c.main = static_cast<pid_t>(syscall(SYS_gettid)) == getpid();
        c.generation = gen;
    }
    return c.main;
}

bool poll_signals(void*) {
    if (!on_main_thread()) return false;  // handlers run on the main thread only
    const PyGILState_STATE g = PyGILState_Ensure();
    const bool raised = PyErr_CheckSignals() != 0;
    PyGILState_Release(g);
    return raised;
}

}  // namespace tarnvel::py
