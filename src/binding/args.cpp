// The one argument parser and the conversions of every parameter kind.
//
// parse_and_convert() fills Args for a FuncDesc from a fast-call vector in the fixed
// order: plain texts, then scalars (p range-checked right after its conversion), then
// text lists (each fully collected), then their UTF-8 views, then out. It stops at the
// first failure with a Python exception set; Args releases what it holds either way.
#include <algorithm>
#include <cstring>
#include <string>

#include "binding/args_internal.hpp"
#include "binding/errors.hpp"
#include "binding/ndarray.hpp"

namespace tarnvel::py {

// How many list items ahead the string headers are prefetched (see collect_list()); 16
// beat 8, 32 and 64 on 150,000 city names.
constexpr std::size_t kAhead = 16;

void Args::release_lists() {
    for (std::size_t li = 0; li < nlists_; ++li) {
        const RefList& refs = list_refs_[li];
        for (std::size_t i = 0; i < refs.size(); ++i) {
            if (i + kAhead < refs.size()) __builtin_prefetch(refs[i + kAhead], 1);
            Py_DECREF(refs[i]);
        }
    }
}

namespace {

bool is_number(Kind k) {
    return k == Kind::real || k == Kind::prefix_p || k == Kind::i64 || k == Kind::u64 ||
           k == Kind::flag || k == Kind::opt_u64;
}
bool is_out(Kind k) {
    return k == Kind::out_u32_1d || k == Kind::out_u32_2d || k == Kind::out_f64_1d ||
           k == Kind::out_f64_2d;
}

std::string quoted_list(const std::vector<const char*>& names) {
    std::string s;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() > 2) s += ",";
            s += " ";
            if (i + 1 == names.size()) s += "and ";
        }
        s += "'";
        s += names[i];
        s += "'";
    }
    return s;
}

std::size_t required_count(const FuncDesc& d) {
    std::size_t r = 0;
    while (r < d.params.size() && d.params[r].default_text == nullptr) ++r;
    return r;
}

bool parse_vector(const FuncDesc& d, std::size_t req, PyObject* const* argv, Py_ssize_t nargs,
                  PyObject* kwnames, Args& a) {
    const std::size_t np = d.params.size();
    // Built only for a message: this function runs on every call.
    auto fname = [&] { return std::string(d.name) + "()"; };
    if (static_cast<std::size_t>(nargs) > np) {
        const std::string given = std::to_string(nargs);
        const char* verb = nargs == 1 ? "was" : "were";
        const std::string msg =
            req == np ? format(kMsgTooManyPositional, {fname(), std::to_string(np), given, verb})
                      : format(kMsgTooManyPositionalRange,
                               {fname(), std::to_string(req), std::to_string(np), given, verb});
        PyErr_SetString(PyExc_TypeError, msg.c_str());
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) a.slots_[i].obj = argv[i];
    for (std::size_t i = static_cast<std::size_t>(nargs); i < np; ++i) a.slots_[i].obj = nullptr;
    if (kwnames) {
        const Py_ssize_t nkw = PyTuple_Size(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject* key = PyTuple_GetItem(kwnames, k);
            if (!key) return false;
            if (!PyUnicode_Check(key)) {
                PyErr_SetString(PyExc_TypeError, (fname() + " keywords must be strings").c_str());
                return false;
            }
            Py_ssize_t klen = 0;
            const char* kname = PyUnicode_AsUTF8AndSize(key, &klen);
            if (!kname) return false;
            std::size_t idx = np;
            for (std::size_t p = 0; p < np; ++p) {
                if (std::strlen(d.params[p].name) == static_cast<std::size_t>(klen) &&
                    std::memcmp(d.params[p].name, kname, static_cast<std::size_t>(klen)) == 0) {
                    idx = p;
                    break;
                }
            }
            if (idx == np) {
                const std::string msg =
                    format(kMsgUnexpectedKeyword,
                           {fname(), std::string_view(kname, static_cast<std::size_t>(klen))});
                PyErr_SetString(PyExc_TypeError, msg.c_str());
                return false;
            }
            if (a.slots_[idx].obj) {
                const std::string msg = format(kMsgMultipleValues, {fname(), d.params[idx].name});
                PyErr_SetString(PyExc_TypeError, msg.c_str());
                return false;
            }
            a.slots_[idx].obj = argv[nargs + k];
        }
    }
    if (static_cast<std::size_t>(nargs) >= req) return true;
    std::vector<const char*> missing;
    for (std::size_t p = 0; p < req; ++p)
        if (!a.slots_[p].obj) missing.push_back(d.params[p].name);
    if (!missing.empty()) {
        std::string msg =
            format(kMsgMissing, {fname(), std::to_string(missing.size()), "positional",
                                 missing.size() == 1 ? "argument" : "arguments"});
        msg += quoted_list(missing);
        PyErr_SetString(PyExc_TypeError, msg.c_str());
        return false;
    }
    return true;
}

// Exact str first: under the limited API PyUnicode_Check is a function call.
inline bool is_str(PyObject* o) { return Py_IS_TYPE(o, &PyUnicode_Type) || PyUnicode_Check(o); }

bool convert_text(PyObject* o, core::Text& out) {
    if (!is_str(o)) {
        raise_not_instance(o, "str");
        return false;
    }
    Py_ssize_t len = 0;
    const char* s = PyUnicode_AsUTF8AndSize(o, &len);
    if (!s) return false;
    out = core::Text(s, static_cast<std::size_t>(len));
    return true;
}

bool convert_real(PyObject* o, double& out) {
    const double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) return false;
    out = v;
    return true;
}

bool convert_i64(PyObject* o, std::int64_t& out) {
    const long long v = PyLong_AsLongLong(o);
    if (v == -1 && PyErr_Occurred()) return false;
    out = v;
    return true;
}

bool convert_u64(PyObject* o, std::uint64_t& out) {
    unsigned long long v;
    if (PyLong_Check(o)) {
        v = PyLong_AsUnsignedLongLong(o);
    } else {
        PyObject* idx = PyNumber_Index(o);
        if (!idx) return false;
        v = PyLong_AsUnsignedLongLong(idx);
        Py_DECREF(idx);
    }
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = v;
    return true;
}

// True for NumPy's boolean scalar type (named bool_ or bool in the module numpy).
bool is_numpy_bool(PyObject* o) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(o));
    PyObject* mod = PyObject_GetAttrString(type, "__module__");
    PyObject* name = mod ? PyObject_GetAttrString(type, "__name__") : nullptr;
    bool yes = false;
    if (mod && name && PyUnicode_Check(mod) && PyUnicode_Check(name)) {
        yes = PyUnicode_CompareWithASCIIString(mod, "numpy") == 0 &&
              (PyUnicode_CompareWithASCIIString(name, "bool_") == 0 ||
               PyUnicode_CompareWithASCIIString(name, "bool") == 0);
    }
    Py_XDECREF(mod);
    Py_XDECREF(name);
    PyErr_Clear();
    return yes;
}

bool convert_flag(PyObject* o, bool& out) {
    if (o == Py_True || o == Py_False) {
        out = o == Py_True;
        return true;
    }
    if (is_numpy_bool(o)) {
        const int t = PyObject_IsTrue(o);
        if (t < 0) return false;
        out = t != 0;
        return true;
    }
    raise_not_instance(o, "bool");
    return false;
}

// Takes the UTF-8 view of one collected item, in the pass that takes its reference. An item
// that cannot be encoded gets a null view here and its error is raised later by
// list_views(), so a type error in a later list still wins, as the conversion order asks.
inline void take_view(PyObject* item, Args::TextList& views) {
    Py_ssize_t len = 0;
    const char* s = PyUnicode_AsUTF8AndSize(item, &len);
    if (!s) {
        PyErr_Clear();
        views.emplace_back(nullptr, 0);
    } else {
        views.emplace_back(s, static_cast<std::size_t>(len));
    }
}

constexpr std::size_t kMaxHintedItems = std::size_t{1} << 16;

// Collects any iterable of str into owned references plus their views.
bool collect_list(PyObject* o, Args::RefList& refs, Args::TextList& views) {
    // Lists and tuples are read by index: the same items in the same order as iteration
    // (no Python code runs meanwhile), without the iterator protocol per item.
    if (PyList_CheckExact(o) || PyTuple_CheckExact(o)) {
        const bool is_list = PyList_CheckExact(o);
        const Py_ssize_t n = is_list ? PyList_Size(o) : PyTuple_Size(o);
        // The strings of a long list lie scattered over the heap and each header read is
        // a cache miss, which made collection the largest serial cost of a batch. So the
        // borrowed pointers are gathered first (this touches only the list), then the
        // headers are prefetched a few items ahead of the pass that takes them.
        refs.reserve(static_cast<std::size_t>(n));
        views.reserve(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* item = is_list ? PyList_GetItem(o, i) : PyTuple_GetItem(o, i);
            if (!item) {
                refs.clear();  // borrowed so far, none to release
                return false;
            }
            refs.push_back(item);
        }
        for (std::size_t i = 0; i < refs.size(); ++i) {
            if (i + kAhead < refs.size()) {
                const char* ahead = reinterpret_cast<const char*>(refs[i + kAhead]);
                __builtin_prefetch(ahead, 1);       // the reference count is written
                __builtin_prefetch(ahead + 63, 1);  // the header may span two lines
            }
            PyObject* item = refs[i];
            if (!is_str(item)) {
                refs.resize(i);  // only the items before it hold a reference
                raise_not_instance(item, "str");
                return false;
            }
            Py_INCREF(item);
            take_view(item, views);
        }
        return true;
    }
    // A length is only a hint (it may lie, or the iterator may stop early): reserve at
    // most kMaxHintedItems up front and let the vectors grow past that.
    const Py_ssize_t hint = PyObject_Size(o);
    if (hint < 0) {
        PyErr_Clear();
    } else {
        const std::size_t n = std::min(static_cast<std::size_t>(hint), kMaxHintedItems);
        refs.reserve(n);
        views.reserve(n);
    }
    PyObject* it = PyObject_GetIter(o);
    if (!it) return false;
    while (PyObject* item = PyIter_Next(it)) {
        if (!is_str(item)) {
            raise_not_instance(item, "str");
            Py_DECREF(item);
            Py_DECREF(it);
            return false;
        }
        refs.push_back(item);
        take_view(item, views);
    }
    Py_DECREF(it);
    return !PyErr_Occurred();
}

// Raises the encoding error of the first item whose view could not be taken.
bool list_views(const Args::RefList& refs, const Args::TextList& views) {
    for (std::size_t i = 0; i < refs.size(); ++i) {
        if (views[i].data == nullptr) {
            Py_ssize_t len = 0;
            if (!PyUnicode_AsUTF8AndSize(refs[i], &len)) return false;
        }
    }
    return true;
}

bool convert_scalar(const Param& p, Args::Slot& s) {
    PyObject* o = s.obj;
    switch (p.kind) {
        case Kind::real:
        case Kind::prefix_p:
            if (!o) {
                s.real = p.real_default;
                return true;
            }
            return convert_real(o, s.real);
        case Kind::i64:
            if (!o) {
                s.i64 = static_cast<std::int64_t>(p.int_default);
                return true;
            }
            return convert_i64(o, s.i64);
        case Kind::u64:
            if (!o) {
                s.u64 = p.int_default;
                return true;
            }
            return convert_u64(o, s.u64);
        case Kind::flag:
            if (!o) {
                s.flag = p.int_default != 0;
                return true;
            }
            return convert_flag(o, s.flag);
        case Kind::opt_u64:
            if (!o || o == Py_None) {
                s.has_value = false;
                return true;
            }
            s.has_value = true;
            return convert_u64(o, s.u64);
        default:
            return true;
    }
}

}  // namespace

CallPlan make_plan(const FuncDesc& d) {
    CallPlan plan;
    plan.required = static_cast<std::uint8_t>(required_count(d));
    for (std::size_t i = 0; i < d.params.size(); ++i) {
        const auto idx = static_cast<std::uint8_t>(i);
        const Kind k = d.params[i].kind;
        if (k == Kind::text)
            plan.text[plan.n_text++] = idx;
        else if (is_number(k))
            plan.scalar[plan.n_scalar++] = idx;
        else if (k == Kind::text_list)
            plan.list[plan.n_list++] = idx;
        else if (is_out(k))
            plan.out = static_cast<std::int8_t>(i);
    }
    return plan;
}

bool parse_and_convert(const FuncDesc& d, const CallPlan& plan, PyObject* const* argv,
                       Py_ssize_t nargs, PyObject* kwnames, Args& a) {
    if (!parse_vector(d, plan.required, argv, nargs, kwnames, a)) return false;

    for (std::size_t k = 0; k < plan.n_text; ++k) {
        Args::Slot& slot = a.slots_[plan.text[k]];
        if (slot.obj && !convert_text(slot.obj, slot.text)) {
            annotate_current_error(d.params[plan.text[k]].name);
            return false;
        }
    }
    for (std::size_t k = 0; k < plan.n_scalar; ++k) {
        const Param& p = d.params[plan.scalar[k]];
        Args::Slot& slot = a.slots_[plan.scalar[k]];
        if (!convert_scalar(p, slot)) {
            annotate_current_error(p.name);
            return false;
        }
        if (p.kind == Kind::prefix_p && !(slot.real >= 0.0 && slot.real <= 0.25)) {
            PyErr_SetString(PyExc_ValueError, kMsgPrefixScale);
            return false;
        }
    }
    for (std::size_t k = 0; k < plan.n_list; ++k) {
        Args::Slot& slot = a.slots_[plan.list[k]];
        const std::size_t li = a.nlists_++;
        slot.list = li;
        // An absent optional list (only private test rows have one) is empty.
        if (slot.obj && !collect_list(slot.obj, a.list_refs_[li], a.lists_[li])) return false;
    }
    for (std::size_t li = 0; li < a.nlists_; ++li) {
        if (!list_views(a.list_refs_[li], a.lists_[li])) return false;
    }
    if (plan.out >= 0) {
        const Kind k = d.params[static_cast<std::size_t>(plan.out)].kind;
        const std::size_t rows = a.nlists_ > 0 ? a.lists_[0].size() : 0;
        const std::size_t cols = a.nlists_ > 1 ? a.lists_[1].size() : 0;
        const bool is_f64 = k == Kind::out_f64_1d || k == Kind::out_f64_2d;
        const bool two_d = k == Kind::out_u32_2d || k == Kind::out_f64_2d;
        if (!validate_out(a.slots_[plan.out].obj, is_f64, two_d, rows, cols, a.out_)) return false;
    }
    return true;
}

}  // namespace tarnvel::py
