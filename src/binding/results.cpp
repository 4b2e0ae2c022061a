#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "binding/results.hpp"
#include "binding/table.hpp"

namespace tarnvel::py {
namespace {

PyObject* check(PyObject* o) {
    if (!o) throw PyError{};
    return o;
}

template <typename T, typename Make>
PyObject* build_list(std::span<const T> v, Make make) {
    PyObject* list = check(PyList_New(static_cast<Py_ssize_t>(v.size())));
    for (std::size_t i = 0; i < v.size(); ++i) {
        PyObject* item = make(v[i]);
        if (!item) {
            Py_DECREF(list);
            throw PyError{};
        }
        PyList_SetItem(list, static_cast<Py_ssize_t>(i), item);  // steals
    }
    return list;
}

// Keeps the cyclic garbage collector from running while a matrix is built. Every row is
// a new container, so a large matrix would set off collections that walk all the rows
// built so far, again and again; none of them can be garbage. The previous state comes
// back afterwards (no other Python code runs meanwhile: the lock is held).
class GcPause {
public:
    GcPause() : was_enabled_(PyGC_Disable() != 0) {}
    ~GcPause() {
        if (was_enabled_) PyGC_Enable();
    }
    GcPause(const GcPause&) = delete;
    GcPause& operator=(const GcPause&) = delete;

private:
    bool was_enabled_;
};

template <typename T, typename Make>
PyObject* build_matrix(std::span<const std::vector<T>> rows, Make make) {
    const GcPause no_collections;
    PyObject* outer = check(PyList_New(static_cast<Py_ssize_t>(rows.size())));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        PyObject* row;
        try {
            row = build_list(std::span<const T>(rows[i]), make);
        } catch (...) {
            Py_DECREF(outer);
            throw;
        }
        PyList_SetItem(outer, static_cast<Py_ssize_t>(i), row);
    }
    return outer;
}

// Small distances and scores are the interpreter's shared small ints; taking them from a
// table filled once per result skips a library call per element.
class SmallInts {
public:
    SmallInts() = default;
    ~SmallInts() {
        for (PyObject* o : table_) Py_XDECREF(o);
    }
    SmallInts(const SmallInts&) = delete;
    SmallInts& operator=(const SmallInts&) = delete;

    // A new reference, or nullptr with the Python error set.
    PyObject* operator()(std::uint32_t v) {
        if (v >= kCount) return PyLong_FromUnsignedLong(v);
        return cached(v);
    }
    PyObject* operator()(std::int64_t v) {
        if (v < 0 || v >= static_cast<std::int64_t>(kCount)) return PyLong_FromLongLong(v);
        return cached(static_cast<std::size_t>(v));
    }

private:
    static constexpr std::size_t kCount = 257;  // 0..256
    PyObject* cached(std::size_t v) {
        PyObject*& slot = table_[v];
        if (!slot && !(slot = PyLong_FromSize_t(v))) return nullptr;
        Py_INCREF(slot);
        return slot;
    }
    PyObject* table_[kCount] = {};
};

// Within one result, equal scores share one float object. Scores take few distinct
// values (ratios of small integers), so this replaces most allocations by a reference
// (a 5,000 x 20,000 cross-product would otherwise hold 100 million float objects);
// floats are immutable, so the sharing is invisible to callers.
class FloatCache {
public:
    FloatCache() : slots_(kSlots, Slot{0, nullptr}) {}
    ~FloatCache() {
        for (Slot& s : slots_) Py_XDECREF(s.obj);
    }
    FloatCache(const FloatCache&) = delete;
    FloatCache& operator=(const FloatCache&) = delete;

    // A new reference, or nullptr with the Python error set.
    PyObject* operator()(double v) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);  // by bits: -0.0 and NaNs stay distinct
        Slot& slot = slots_[(bits * 0x9E3779B97F4A7C15ull) >> (64 - kBits)];
        if (slot.obj == nullptr || slot.bits != bits) {
            PyObject* fresh = PyFloat_FromDouble(v);
            if (!fresh) return nullptr;
            Py_XDECREF(slot.obj);  // a colliding value simply takes the slot over
            slot = Slot{bits, fresh};
        }
        Py_INCREF(slot.obj);
        return slot.obj;
    }

private:
    static constexpr unsigned kBits = 10;
    static constexpr std::size_t kSlots = std::size_t{1} << kBits;
    struct Slot {
        std::uint64_t bits;
        PyObject* obj;
    };
    std::vector<Slot> slots_;
};

}  // namespace

PyObject* to_py_u64(std::uint64_t v) { return check(PyLong_FromUnsignedLongLong(v)); }
PyObject* to_py_i64(std::int64_t v) { return check(PyLong_FromLongLong(v)); }
PyObject* to_py_f64(double v) { return check(PyFloat_FromDouble(v)); }
PyObject* to_py_str(std::string_view s) {
    return check(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}
PyObject* to_py_none() {
    Py_INCREF(Py_None);
    return Py_None;
}

PyObject* list_u32(std::span<const std::uint32_t> v) {
    SmallInts ints;
    return build_list(v, std::ref(ints));
}
PyObject* list_i64(std::span<const std::int64_t> v) {
    SmallInts ints;
    return build_list(v, std::ref(ints));
}
PyObject* list_f64(std::span<const double> v) {
    FloatCache floats;
    return build_list(v, std::ref(floats));
}
PyObject* matrix_u32(std::span<const std::vector<std::uint32_t>> rows) {
    SmallInts ints;  // shared by all rows
    return build_matrix(rows, std::ref(ints));
}
PyObject* matrix_f64(std::span<const std::vector<double>> rows) {
    FloatCache floats;  // shared by all rows
    return build_matrix(rows, std::ref(floats));
}

PyObject* tuple_of(std::span<PyObject* const> items) {
    PyObject* t = PyTuple_New(static_cast<Py_ssize_t>(items.size()));
    bool ok = t != nullptr;
    for (PyObject* o : items) ok = ok && o != nullptr;
    if (!ok) {
        Py_XDECREF(t);
        for (PyObject* o : items) Py_XDECREF(o);
        throw PyError{};
    }
    for (std::size_t i = 0; i < items.size(); ++i)
        PyTuple_SetItem(t, static_cast<Py_ssize_t>(i), items[i]);
    return t;
}

}  // namespace tarnvel::py
