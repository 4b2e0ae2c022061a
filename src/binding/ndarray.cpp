// NumPy output arrays: validation, the process-wide borrow registry, and the writes.
//
// NumPy is never imported by us: if it is not in sys.modules yet, the object cannot be
// an ndarray. Its C API table is loaded on the first `out` that needs it (with the
// interpreter lock held). This is the only file that includes NumPy headers.
//
// The borrow registry records the byte extent of every array being written by an _into
// call and refuses any overlapping extent, whatever the arrays' base objects: two views
// of one buffer alias even when NumPy gives them different bases.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <numpy/arrayobject.h>

#include <pthread.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "binding/errors.hpp"
#include "binding/ndarray.hpp"
#include "core/common/panic.hpp"

namespace tarnvel::py {
namespace {

struct Extent {
    std::uintptr_t lo, hi;  // [lo, hi)
};

// Both leaked and rebuilt in a forked child: the threads that held borrows (or the
// mutex) do not exist there, so the child starts with an empty registry.
alignas(std::mutex) unsigned char g_registry_mutex_storage[sizeof(std::mutex)];
std::mutex* g_registry_mutex = new (g_registry_mutex_storage) std::mutex();
std::vector<Extent>* g_registry = nullptr;

void registry_after_fork_in_child() {
    g_registry_mutex = new (g_registry_mutex_storage) std::mutex();
    g_registry = nullptr;  // the parent's vector is abandoned as it is
}

// Registered at load time: a lazy registration under the registry mutex could wait for a
// fork in progress, and that child would inherit the mutex locked and never reset.
[[maybe_unused]] const bool g_registry_fork_handler =
    pthread_atfork(nullptr, nullptr, &registry_after_fork_in_child) == 0;

std::vector<Extent>& registry() {
    if (!g_registry) g_registry = new std::vector<Extent>();  // leaked: outlives teardown
    return *g_registry;
}

bool try_borrow(Extent e) {
    std::lock_guard<std::mutex> lock(*g_registry_mutex);
    auto& reg = registry();
    for (const Extent& x : reg)
        if (x.lo < e.hi && e.lo < x.hi) return false;
    reg.push_back(e);
    return true;
}

void give_back(Extent e) {
    std::lock_guard<std::mutex> lock(*g_registry_mutex);
    auto& reg = registry();
    for (std::size_t i = 0; i < reg.size(); ++i) {
        if (reg[i].lo == e.lo && reg[i].hi == e.hi) {
            reg.erase(reg.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
    }
}

// Loads NumPy's C API if NumPy is already imported. Returns 1 when usable, 0 when NumPy
// is not imported (so nothing can be an ndarray), -1 with an exception set on failure.
int numpy_api() {
    if (PyArray_API != nullptr) return 1;
    PyObject* name = PyUnicode_FromString("numpy");
    if (!name) return -1;
    PyObject* mod = PyImport_GetModule(name);
    Py_DECREF(name);
    if (!mod) return PyErr_Occurred() ? -1 : 0;
    Py_DECREF(mod);
    if (_import_array() < 0) return -1;
    return 1;
}

// Byte extent of the array's elements (handles negative and zero strides).
Extent byte_extent(PyArrayObject* arr) {
    const int nd = PyArray_NDIM(arr);
    const npy_intp* dims = PyArray_DIMS(arr);
    const npy_intp* strides = PyArray_STRIDES(arr);
    std::intptr_t lo = 0, hi = 0;
    for (int i = 0; i < nd; ++i) {
        const std::intptr_t span = static_cast<std::intptr_t>(dims[i] - 1) * strides[i];
        if (span < 0)
            lo += span;
        else
            hi += span;
    }
    const auto base = reinterpret_cast<std::intptr_t>(PyArray_DATA(arr));
    return {static_cast<std::uintptr_t>(base + lo),
            static_cast<std::uintptr_t>(base + hi + PyArray_ITEMSIZE(arr))};
}

bool contiguous_ok(PyArrayObject* arr) {
    const int f = PyArray_FLAGS(arr);
    return PyArray_DATA(arr) != nullptr && (f & NPY_ARRAY_ALIGNED) && (f & NPY_ARRAY_C_CONTIGUOUS);
}

std::string shape_text(PyArrayObject* arr) {
    std::string s = "[";
    for (int i = 0; i < PyArray_NDIM(arr); ++i) {
        if (i) s += ", ";
        s += std::to_string(PyArray_DIMS(arr)[i]);
    }
    return s + "]";
}

}  // namespace

bool validate_out(PyObject* out, bool is_f64, bool two_d, std::size_t rows, std::size_t cols,
                  OutBuffer& buf) {
    // 1. Type: an ndarray (or subclass) of the right dimension count and element type.
    const int api = numpy_api();
    if (api < 0) return false;
    bool type_ok = api == 1 && PyArray_Check(out);
    PyArrayObject* arr = reinterpret_cast<PyArrayObject*>(out);
    if (type_ok) type_ok = PyArray_NDIM(arr) == (two_d ? 2 : 1);
    if (type_ok) {
        PyArray_Descr* want = PyArray_DescrFromType(is_f64 ? NPY_FLOAT64 : NPY_UINT32);
        if (!want) return false;
        type_ok = PyArray_EquivTypes(PyArray_DESCR(arr), want);
        Py_DECREF(want);
    }
    if (!type_ok) {
        raise_not_instance(out, "ndarray");
        return false;
    }
    // 2. Writable borrow.
    const npy_intp count = PyArray_SIZE(arr);
    const bool writeable = (PyArray_FLAGS(arr) & NPY_ARRAY_WRITEABLE) != 0;
    Extent ext{0, 0};
    bool registered = false;
    if (!writeable) {
        PyErr_SetString(PyExc_BufferError, kMsgOutBorrowed);
        return false;
    }
    if (count > 0) {
        ext = byte_extent(arr);
        if (!try_borrow(ext)) {
            PyErr_SetString(PyExc_BufferError, kMsgOutBorrowed);
            return false;
        }
        registered = true;
    }
    auto fail = [&](PyObject* exc, const std::string& msg) {
        if (registered) give_back(ext);
        PyErr_SetString(exc, msg.c_str());
        return false;
    };
    const char* type_name = is_f64 ? "float64" : "uint32";
    if (!two_d) {
        // 3. Element count.
        if (static_cast<std::size_t>(count) != rows)
            return fail(PyExc_ValueError, format(kMsgOutCount, {std::to_string(rows), type_name,
                                                                std::to_string(count)}));
    } else {
        // 4. Shape.
        const npy_intp* dims = PyArray_DIMS(arr);
        if (static_cast<std::size_t>(dims[0]) != rows || static_cast<std::size_t>(dims[1]) != cols)
            return fail(PyExc_ValueError,
                        format(kMsgOutShape,
                               {std::to_string(rows), std::to_string(cols), shape_text(arr)}));
    }
    // 5./6. Contiguity, unless there is nothing to write.
    if (count > 0 && !contiguous_ok(arr)) return fail(PyExc_BufferError, kMsgOutContiguous);
    buf.attach(out, PyArray_DATA(arr), static_cast<std::size_t>(count), registered ? ext.lo : 0,
               registered ? ext.hi : 0);
    return true;
}

bool borrow_array(PyObject* out, ElemKind kind, std::size_t count, bool writable, OutBuffer& buf) {
    const int api = numpy_api();
    if (api < 0) return false;
    if (api == 0 || !PyArray_Check(out)) {
        raise_not_instance(out, "ndarray");
        return false;
    }
    PyArrayObject* arr = reinterpret_cast<PyArrayObject*>(out);
    int type = NPY_UINT32;
    switch (kind) {
        case ElemKind::u32:
            type = NPY_UINT32;
            break;
        case ElemKind::i64:
            type = NPY_INT64;
            break;
        case ElemKind::f64:
            type = NPY_FLOAT64;
            break;
        case ElemKind::f32:
            type = NPY_FLOAT32;
            break;
    }
    PyArray_Descr* want = PyArray_DescrFromType(type);
    if (!want) return false;
    const bool type_ok = PyArray_EquivTypes(PyArray_DESCR(arr), want);
    Py_DECREF(want);
    if (!type_ok || static_cast<std::size_t>(PyArray_SIZE(arr)) != count) {
        PyErr_SetString(PyExc_TypeError, "internal error: array of the wrong type or size");
        return false;
    }
    if (count > 0 && !contiguous_ok(arr)) {
        PyErr_SetString(PyExc_BufferError, kMsgOutContiguous);
        return false;
    }
    if (writable && !(PyArray_FLAGS(arr) & NPY_ARRAY_WRITEABLE)) {
        PyErr_SetString(PyExc_BufferError, kMsgOutBorrowed);
        return false;
    }
    Extent ext{0, 0};
    if (writable && count > 0) {
        ext = byte_extent(arr);
        if (!try_borrow(ext)) {
            PyErr_SetString(PyExc_BufferError, kMsgOutBorrowed);
            return false;
        }
    }
    buf.attach(out, PyArray_DATA(arr), count, ext.lo, ext.hi);
    if (!buf.pinned()) {  // these arrays are always read or written without the lock
        buf.release();
        PyErr_SetString(PyExc_BufferError, kMsgOutBorrowed);
        return false;
    }
    return true;
}

void OutBuffer::attach(PyObject* array, void* data, std::size_t count, std::uintptr_t reg_lo,
                       std::uintptr_t reg_hi) {
    Py_INCREF(array);
    array_ = array;
    data_ = data;
    count_ = count;
    reg_lo_ = reg_lo;
    reg_hi_ = reg_hi;
    auto* arr = reinterpret_cast<PyArrayObject*>(array);
    ndim_ = std::min(PyArray_NDIM(arr), 2);
    for (int i = 0; i < ndim_; ++i) {
        dims_[i] = PyArray_DIMS(arr)[i];
        strides_[i] = PyArray_STRIDES(arr)[i];
    }
    // NumPy refuses to resize an array that has weak references, even with
    // refcheck=False, so while this one lives the data cannot move or be freed under a
    // kernel that runs without the lock. Without it (never seen) writes go through the
    // checked copy instead.
    guard_ = PyWeakref_NewRef(array, nullptr);
    if (!guard_) PyErr_Clear();
}

void OutBuffer::release() {
    if (!array_) return;
    if (reg_hi_ != reg_lo_) give_back(Extent{reg_lo_, reg_hi_});
    Py_XDECREF(guard_);
    guard_ = nullptr;
    Py_DECREF(array_);
    array_ = nullptr;
    data_ = nullptr;
    count_ = 0;
    reg_lo_ = reg_hi_ = 0;
}

// Resizing or reshaping an array while a call writes into it is unsupported; the copy
// back finds out here, under the lock, rather than writing where the array no longer is.
void OutBuffer::check_unchanged() {
    auto* arr = reinterpret_cast<PyArrayObject*>(array_);
    bool same = PyArray_DATA(arr) == data_ && std::min(PyArray_NDIM(arr), 2) == ndim_ &&
                PyArray_NDIM(arr) <= 2 && static_cast<std::size_t>(PyArray_SIZE(arr)) == count_;
    for (int i = 0; same && i < ndim_; ++i)
        same = PyArray_DIMS(arr)[i] == dims_[i] && PyArray_STRIDES(arr)[i] == strides_[i];
    const char* msg = nullptr;
    if (!same)
        msg = kMsgOutChanged;
    else if (count_ > 0 && !contiguous_ok(arr))
        msg = kMsgOutContiguous;
    if (msg) {
        release();
        PyErr_SetString(PyExc_BufferError, msg);
        throw PyError{};
    }
}

void OutBuffer::finish_direct() {
    if (!array_) core::panic("output buffer written twice");
    check_unchanged();
    release();
}

void OutBuffer::write_bytes(const void* src, std::size_t count, std::size_t itemsize) {
    if (!array_) core::panic("output buffer written twice");
    if (count != count_) core::panic("output buffer size changed during the call");
    check_unchanged();
    if (count_ > 0) std::memcpy(data_, src, count * itemsize);
    release();
}

void OutBuffer::write(std::span<const std::uint32_t> v) { write_bytes(v.data(), v.size(), 4); }
void OutBuffer::write(std::span<const double> v) { write_bytes(v.data(), v.size(), 8); }

namespace {
template <typename T>
std::size_t total_size(std::span<const std::vector<T>> rows) {
    std::size_t total = 0;
    for (const auto& r : rows) total += r.size();
    return total;
}
}  // namespace

template <typename T>
void OutBuffer::write_rows_impl(std::span<const std::vector<T>> rows) {
    const std::size_t total = total_size(rows);
    if (!array_) core::panic("output buffer written twice");
    if (total != count_) core::panic("output buffer size changed during the call");
    check_unchanged();
    auto* dst = static_cast<char*>(data_);
    for (const auto& r : rows) {
        if (!r.empty()) std::memcpy(dst, r.data(), r.size() * sizeof(T));
        dst += r.size() * sizeof(T);
    }
    release();
}

void OutBuffer::write_rows(std::span<const std::vector<std::uint32_t>> rows) {
    write_rows_impl(rows);
}
void OutBuffer::write_rows(std::span<const std::vector<double>> rows) { write_rows_impl(rows); }

}  // namespace tarnvel::py
