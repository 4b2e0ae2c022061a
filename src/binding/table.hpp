// The function table: one descriptor per Python function, one generic parser for all.
//
// A family declares its functions as FuncDesc rows (func<Params, &impl>) in its own
// binding file; functions.cpp lists the public ones in the order of __all__. The parser
// converts arguments in the fixed order (texts, then scalars with the range check of p,
// then text lists, then their views, then out) and hands the impl a Bound<Params> with
// every value ready, read by parameter name. The impl releases the interpreter lock (GilRelease)
// around the computation and builds its result with the helpers of results.hpp.
//
// An impl may throw: core::Panic and engine::InvariantError become PanicException, std::bad_alloc
// MemoryError, PyError (a Python exception already set) passes through. See also: args.cpp,
// module.cpp.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>
#include <vector>

#include "core/common/text.hpp"
#include "engine/cancel.hpp"
#include "engine/scratch.hpp"

namespace tarnvel::py {

enum class Kind : std::uint8_t {
    text,        // str -> core::Text (borrowed UTF-8 view)
    text_list,   // any iterable of str -> span of core::Text
    real,        // float (PyFloat_AsDouble)
    prefix_p,    // real, then checked to lie in [0.0, 0.25]
    i64,         // signed 64-bit integer
    u64,         // unsigned 64-bit integer (through __index__)
    flag,        // True/False or a NumPy bool scalar
    opt_u64,     // None/absent or an unsigned 64-bit integer
    out_u32_1d,  // NumPy uint32 array, one element per item of the first text list
    out_u32_2d,  // NumPy uint32 array of shape (len(first list), len(second list))
    out_f64_1d,
    out_f64_2d,
    object,  // no conversion: the borrowed object (private test functions only)
};

struct Param {
    const char* name;
    Kind kind;
    const char* default_text = nullptr;  // nullptr: required; else shown in the signature
    double real_default = 0.0;
    std::uint64_t int_default = 0;
};

class Args;
using Impl = PyObject* (*)(Args&);

struct FuncDesc {
    const char* name;
    std::span<const Param> params;  // empty: the function takes no arguments (METH_NOARGS)
    const char* doc_body;           // text after the signature line; "" for none
    Impl impl;
    bool trailing_slash = true;  // "/" at the end of the text signature (documentation only)
};

enum class ModuleId { public_module, testing_module, match_module };
inline constexpr int kModuleCount = 3;

// One row of a module's function table: the name and parameter count the module must
// expose, and the row that implements it (checked against each other at module start).
inline constexpr std::size_t kAnyArity = static_cast<std::size_t>(-1);  // not checked
struct TableRow {
    const char* name;
    std::size_t arity;
    const FuncDesc* desc;
};

// Thrown by binding code when a Python exception is already set.
struct PyError {};

// Releases the interpreter lock for its lifetime; re-acquires it on every exit path,
// exceptions included. No Python object may be touched while it is alive.
class GilRelease {
public:
    GilRelease() : state_(PyEval_SaveThread()) {}
    ~GilRelease() { PyEval_RestoreThread(state_); }
    GilRelease(const GilRelease&) = delete;
    GilRelease& operator=(const GilRelease&) = delete;

private:
    PyThreadState* state_;
};

// Runs pending signal handlers with the lock taken back for a moment; true when one
// raised (the exception stays set for the call to return). Only the main thread runs
// handlers, so on other threads this never cancels.
bool poll_signals(void* ctx);
inline constexpr engine::Waiter kSignalWaiter{&poll_signals, nullptr,
                                              std::chrono::milliseconds(25)};

// True on the thread that runs Python's signal handlers (the process's initial thread,
// or the thread that forked this process).
bool on_main_thread() noexcept;

// GilRelease for long work: while it is alive, pool operations started by this thread
// (and interruption points of serial work on it) answer Ctrl-C within a poll period by
// throwing engine::Cancelled, which the call boundary turns into the raised exception.
// `waiter` may add more to each poll (progress reports); it must call poll_signals.
class InterruptibleGilRelease {
public:
    // Other threads never see a signal, so they get no signal waiter at all and run
    // exactly as with GilRelease.
    explicit InterruptibleGilRelease(const engine::Waiter* waiter = &kSignalWaiter)
        : nogil_(), scope_(waiter == &kSignalWaiter && !on_main_thread() ? nullptr : waiter) {}

private:
    GilRelease nogil_;
    engine::ScopedWaiter scope_;
};

template <typename F>
auto without_gil_interruptible(F&& f) {
    InterruptibleGilRelease nogil;
    return f();
}

// without_gil for one pair of texts: interruptible when the pair is long enough for its
// quadratic work to matter (below that, no clock is read and nothing is installed).
template <typename F>
auto without_gil_pair(core::Text a, core::Text b, F&& f) {
    constexpr std::size_t kLongPair = std::size_t{1} << 22;  // bytes x bytes
    if (a.size >= kLongPair / (b.size ? b.size : 1) && a.size && b.size) {
        InterruptibleGilRelease nogil;
        return f();
    }
    GilRelease nogil;
    return f();
}

// Runs f() with the interpreter lock released and returns its result (constructed before
// the lock is taken back). f must not touch Python objects.
template <typename F>
auto without_gil(F&& f) {
    GilRelease nogil;
    return f();
}

// A validated, borrowed NumPy output array (see ndarray.cpp).
class OutBuffer {
public:
    OutBuffer() = default;
    ~OutBuffer() {
        if (array_) release();
    }
    OutBuffer(const OutBuffer&) = delete;
    OutBuffer& operator=(const OutBuffer&) = delete;

    // Copies the values (exactly the element count) in order, then gives the borrow
    // back. Call with the interpreter lock held, after the computation.
    void write(std::span<const std::uint32_t> values);
    void write(std::span<const double> values);
    void write_rows(std::span<const std::vector<std::uint32_t>> rows);
    void write_rows(std::span<const std::vector<double>> rows);

    // Direct access for kernels that fill the caller's memory while the lock is
    // released; valid only between validation and release.
    void* data() const { return data_; }
    std::size_t count() const { return count_; }

    // True when the array cannot be reallocated until release (see attach): only then may
    // data() be written without the lock.
    bool pinned() const { return guard_ != nullptr; }

    // After a direct fill through data(): gives the borrow back, raising BufferError (and
    // throwing PyError) if the array was reshaped meanwhile. Lock held.
    void finish_direct();

    // Internal: set by validation; release() gives the borrow back (idempotent).
    void attach(PyObject* array, void* data, std::size_t count, std::uintptr_t reg_lo,
                std::uintptr_t reg_hi);
    void release();

private:
    void write_bytes(const void* src, std::size_t count, std::size_t itemsize);
    template <typename T>
    void write_rows_impl(std::span<const std::vector<T>> rows);
    void check_unchanged();
    PyObject* array_ = nullptr;
    PyObject* guard_ = nullptr;  // a weak reference: NumPy will not reallocate the array
    void* data_ = nullptr;
    std::size_t count_ = 0;
    std::uintptr_t reg_lo_ = 0, reg_hi_ = 0;  // registry extent; empty when not registered
    int ndim_ = 0;                            // the layout that was validated
    std::intptr_t dims_[2] = {}, strides_[2] = {};
};

// Converted arguments of one call, indexed like FuncDesc::params (impls read them by
// name through Bound, below).
class Args {
public:
    core::Text text(std::size_t i) const { return slots_[i].text; }
    std::span<const core::Text> list(std::size_t i) const { return lists_[slots_[i].list]; }
    double real(std::size_t i) const { return slots_[i].real; }
    std::int64_t i64(std::size_t i) const { return slots_[i].i64; }
    std::uint64_t u64(std::size_t i) const { return slots_[i].u64; }
    bool flag(std::size_t i) const { return slots_[i].flag; }
    std::optional<std::uint64_t> opt_u64(std::size_t i) const {
        return slots_[i].has_value ? std::optional<std::uint64_t>(slots_[i].u64) : std::nullopt;
    }
    OutBuffer& out() { return out_; }
    PyObject* object(std::size_t i) const { return slots_[i].obj; }

    // Internal (parser).
    // Left uninitialised on purpose (this runs on every call): the parser sets obj for
    // every parameter and each conversion sets the fields its kind reads.
    struct Slot {
        PyObject* obj;  // borrowed argument or nullptr when absent
        core::Text text;
        double real;
        std::int64_t i64;
        std::uint64_t u64;
        bool flag;
        bool has_value;
        std::size_t list;
    };
    Slot slots_[8];
    using TextList = engine::ScratchVector<core::Text>;
    using RefList = engine::ScratchVector<PyObject*>;
    TextList lists_[2];
    RefList list_refs_[2];  // owned references, released by ~Args
    std::size_t nlists_ = 0;
    OutBuffer out_;

    Args() = default;
    ~Args() {
        if (nlists_) release_lists();
    }
    void release_lists();
    Args(const Args&) = delete;
    Args& operator=(const Args&) = delete;
};

// A parameter name as a template argument (Bound's accessors take it).
template <std::size_t N>
struct ParamName {
    char text[N];
    consteval ParamName(const char (&s)[N]) {
        for (std::size_t i = 0; i < N; ++i) text[i] = s[i];
    }
};

namespace detail {
// Called only when a lookup below fails: not constexpr, so the failing accessor does not
// compile and the diagnostic names the reason.
void no_parameter_of_that_name_and_kind();

consteval bool same_name(const char* a, const char* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

template <const auto& Ps, ParamName N, Kind... Ks>
consteval std::size_t slot_of() {
    for (std::size_t i = 0; i < std::size(Ps); ++i)
        if (same_name(Ps[i].name, N.text) && ((Ps[i].kind == Ks) || ...)) return i;
    no_parameter_of_that_name_and_kind();
    return 0;
}

template <const auto& Ps>
consteval bool has_out() {
    for (const Param& p : Ps)
        if (p.kind >= Kind::out_u32_1d && p.kind <= Kind::out_f64_2d) return true;
    return false;
}
}  // namespace detail

// The converted arguments of one call, read by parameter name: each accessor finds its
// slot in the row's parameter list Ps at compile time and checks the kind there, so a
// reordered, renamed or retyped row cannot make an impl read the wrong slot.
template <const auto& Ps>
class Bound {
public:
    explicit Bound(Args& a) : a_(a) {}

    template <ParamName N>
    core::Text text() const {
        return a_.text(detail::slot_of<Ps, N, Kind::text>());
    }
    template <ParamName N>
    std::span<const core::Text> list() const {
        return a_.list(detail::slot_of<Ps, N, Kind::text_list>());
    }
    template <ParamName N>
    double real() const {
        return a_.real(detail::slot_of<Ps, N, Kind::real, Kind::prefix_p>());
    }
    template <ParamName N>
    std::int64_t i64() const {
        return a_.i64(detail::slot_of<Ps, N, Kind::i64>());
    }
    template <ParamName N>
    std::uint64_t u64() const {
        return a_.u64(detail::slot_of<Ps, N, Kind::u64>());
    }
    template <ParamName N>
    bool flag() const {
        return a_.flag(detail::slot_of<Ps, N, Kind::flag>());
    }
    template <ParamName N>
    std::optional<std::uint64_t> opt_u64() const {
        return a_.opt_u64(detail::slot_of<Ps, N, Kind::opt_u64>());
    }
    template <ParamName N>
    PyObject* object() const {
        return a_.object(detail::slot_of<Ps, N, Kind::object>());
    }
    OutBuffer& out() const
        requires(detail::has_out<Ps>())
    {
        return a_.out();
    }

private:
    Args& a_;
};

template <const auto& Ps, PyObject* (*F)(Bound<Ps>)>
PyObject* bound_impl(Args& a) {
    return F(Bound<Ps>(a));
}

// A table row whose impl reads its arguments through Bound<Ps>: the row's parameter list
// and the one the impl was compiled against are the same object.
template <const auto& Ps, PyObject* (*F)(Bound<Ps>)>
consteval FuncDesc func(const char* name, const char* doc_body, bool trailing_slash = true) {
    return FuncDesc{name, Ps, doc_body, &bound_impl<Ps, F>, trailing_slash};
}

// A row for a function without parameters.
template <PyObject* (*F)()>
PyObject* noargs_impl(Args&) {
    return F();
}
template <PyObject* (*F)()>
consteval FuncDesc func(const char* name, const char* doc_body) {
    return FuncDesc{name, {}, doc_body, &noargs_impl<F>};
}

// Fills a validated uint32 `out` through fill(dst), without the interpreter lock and
// interruptibly. Large matrices are written straight into the caller's array (the array
// stays borrowed and referenced until then, and fill allocates nothing after its first
// write), so an interrupted call may leave partial results there; smaller ones go through
// a native buffer and the checked copy of OutBuffer::write, and stay untouched.
template <typename Fill>
void fill_u32_out(OutBuffer& out, Fill&& fill) {
    constexpr std::size_t kDirectWrite = std::size_t{1} << 20;  // elements
    if (out.count() >= kDirectWrite && out.pinned()) {
        auto* dst = static_cast<std::uint32_t*>(out.data());
        without_gil_interruptible([&] {
            fill(dst);
            return 0;
        });
        out.finish_direct();
        return;
    }
    engine::ScratchVector<std::uint32_t> flat(out.count());  // fill writes every element
    without_gil_interruptible([&] {
        fill(flat.data());
        return 0;
    });
    out.write(std::span<const std::uint32_t>(flat));
}

}  // namespace tarnvel::py
