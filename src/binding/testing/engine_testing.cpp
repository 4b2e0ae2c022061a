// Private test functions for the parallel engine: each runs one shape over n plain
// integer units with the interpreter lock released and returns what it produced, so the
// tests can check placement, division and failure handling directly.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "binding/module.hpp"
#include "binding/results.hpp"
#include "binding/table.hpp"
#include "binding/testing/rows.hpp"
#include "core/common/panic.hpp"
#include "core/fuzz/extract.hpp"
#include "engine/parallel.hpp"
#include "engine/scratch.hpp"

namespace tarnvel::py {
namespace {

constexpr Param kN[] = {{"n", Kind::u64}};
constexpr Param kNChunk[] = {{"n", Kind::u64}, {"chunk", Kind::u64, "4096", 0.0, 4096}};
constexpr Param kNEvery[] = {{"n", Kind::u64}, {"every", Kind::u64}};
constexpr Param kFail[] = {
    {"n", Kind::u64}, {"k", Kind::u64}, {"bad_alloc", Kind::flag, "False", 0.0, 0}};
constexpr Param kSpin[] = {{"n", Kind::u64}, {"serial", Kind::flag}};
constexpr Param kSection[] = {
    {"query", Kind::text}, {"choices", Kind::text_list}, {"rounds", Kind::u64, "1", 0.0, 1}};
constexpr Param kItems[] = {{"items", Kind::text_list, "()"}};
constexpr Param kPublicCall[] = {{"name", Kind::object}, {"args", Kind::object}};

PyObject* engine_map(Bound<kN> a) {
    const std::uint64_t n = a.u64<"n">();
    std::vector<std::int64_t> out;
    {
        GilRelease nogil;
        out = engine::parallel_map<std::int64_t>(
            n, [](std::size_t i) { return static_cast<std::int64_t>(i) * 3 + 1; });
    }
    return list_i64(out);
}

// Each position receives the index of the chunk that covers it (each chunk also checks
// that its slice starts at chunk * size); returns (positions, per-chunk "ran on the
// calling thread" flags).
PyObject* engine_chunks(Bound<kNChunk> a) {
    const std::uint64_t n = a.u64<"n">();
    const std::uint64_t chunk = a.u64<"chunk">();
    std::vector<std::int64_t> out(n, -1);
    std::vector<std::int64_t> on_caller;
    {
        GilRelease nogil;
        on_caller.assign(chunk ? n / chunk + (n % chunk != 0) : 0, -1);
        const std::int64_t* base = out.data();
        const auto caller = std::this_thread::get_id();
        engine::parallel_chunks(
            std::span<std::int64_t>(out), chunk, [&](std::size_t c, std::span<std::int64_t> slice) {
                TARNVEL_ASSERT(slice.data() == base + c * chunk, "chunk slice misplaced");
                for (auto& x : slice) x = static_cast<std::int64_t>(c);
                on_caller[c] = std::this_thread::get_id() == caller;
            });
    }
    PyObject* positions = list_i64(out);
    PyObject* flags;
    try {
        flags = list_i64(on_caller);
    } catch (...) {
        Py_DECREF(positions);
        throw;
    }
    PyObject* items[] = {positions, flags};
    return tuple_of(items);
}

PyObject* engine_filter(Bound<kNEvery> a) {
    const std::uint64_t n = a.u64<"n">();
    const std::uint64_t every = a.u64<"every">();
    std::vector<std::int64_t> kept;
    {
        GilRelease nogil;
        kept = engine::parallel_filter_collect<std::int64_t>(
            n, [&](std::size_t i, std::vector<std::int64_t>& out) {
                if (every && i % every == 0) out.push_back(static_cast<std::int64_t>(i));
            });
    }
    return list_i64(kept);
}

// The pieces of one division: (begin, end, ran_on_calling_thread), sorted by begin.
PyObject* engine_pieces(Bound<kN> a) {
    const std::uint64_t n = a.u64<"n">();
    std::vector<std::tuple<std::size_t, std::size_t, bool>> pieces;
    {
        GilRelease nogil;
        std::mutex mu;
        const auto caller = std::this_thread::get_id();
        engine::parallel_for(n, [&](std::size_t b, std::size_t e) {
            const std::lock_guard<std::mutex> lock(mu);
            pieces.emplace_back(b, e, std::this_thread::get_id() == caller);
        });
        std::sort(pieces.begin(), pieces.end());
    }
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(pieces.size()));
    if (!list) throw PyError{};
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const auto& [b, e, here] = pieces[i];
        PyObject* items[] = {PyLong_FromSize_t(b), PyLong_FromSize_t(e), PyBool_FromLong(here)};
        PyObject* t;
        try {
            t = tuple_of(items);
        } catch (...) {
            Py_DECREF(list);
            throw;
        }
        PyList_SetItem(list, static_cast<Py_ssize_t>(i), t);
    }
    return list;
}

// Fails item k (a Panic, or std::bad_alloc when bad_alloc is set) in a parallel_map over n items.
// Before the failure is passed on, checks that no piece is still running (both halves of every
// fork-join pair finished first).
PyObject* engine_fail(Bound<kFail> a) {
    const std::uint64_t n = a.u64<"n">();
    const std::uint64_t k = a.u64<"k">();
    const bool bad_alloc = a.flag<"bad_alloc">();
    GilRelease nogil;
    std::atomic<long> active{0};
    struct Active {
        std::atomic<long>& c;
        explicit Active(std::atomic<long>& x) : c(x) { c.fetch_add(1); }
        ~Active() { c.fetch_sub(1); }
    };
    try {
        engine::parallel_for(n, [&](std::size_t b, std::size_t e) {
            const Active guard(active);
            for (std::size_t i = b; i < e; ++i) {
                if (i == k) {
                    if (bad_alloc) throw std::bad_alloc();
                    core::panic("item " + std::to_string(i) + " failed");
                }
                // Some work per item, so that other pieces would still be running if a
                // failure were passed on before its fork-join pairs had finished.
                volatile unsigned sink = 0;
                for (unsigned spin = 0; spin < 3000; ++spin) sink = sink + spin;
            }
        });
    } catch (...) {
        TARNVEL_ASSERT(active.load() == 0, "a piece was still running when the failure arrived");
        throw;
    }
    core::panic("no failure raised");
}

// Spins through n items of about a microsecond each, on the pool (serial when `serial`),
// with Ctrl-C enabled; returns the number of items run, so a test can tell a call that
// was stopped early from one that ran to the end.
PyObject* engine_spin(Bound<kSpin> a) {
    const std::uint64_t n = a.u64<"n">();
    const bool serial = a.flag<"serial">();
    std::atomic<std::uint64_t> ran{0};
    without_gil_interruptible([&] {
        auto body = [&](std::size_t b, std::size_t e) {
            for (std::size_t i = b; i < e; ++i) {
                engine::interruption_point();
                volatile unsigned sink = 0;
                for (unsigned spin = 0; spin < 1000; ++spin) sink = sink + spin;
                ran.fetch_add(1, std::memory_order_relaxed);
            }
        };
        if (serial)
            body(0, n);
        else
            engine::parallel_for(n, body);
    });
    return PyLong_FromUnsignedLongLong(ran.load());
}

PyObject* engine_info() {
    PyObject* items[] = {PyLong_FromSize_t(engine::worker_count()),
                         PyBool_FromLong(engine::pool_started())};
    return tuple_of(items);
}

// Bytes in the block cache of this module's copy of the engine, after scoring `items`
// against "abc" the way fuzz_ratio_batch does (the result block is freed before the
// count; the collected list's blocks are still in use).
PyObject* engine_scratch_cached(Bound<kItems> a) {
    const std::size_t cached = without_gil([&] {
        {
            const auto scores = core::ratio_batch(core::Text("abc", 3), a.list<"items">());
        }
        return engine::scratch_cached_bytes();
    });
    return to_py_u64(cached);
}

// Best-of-`rounds` seconds of fuzz_ratio_batch's lock-free section alone (query
// preparation and the parallel scoring), for the worker-scaling benchmark: the whole
// call also holds the lock to collect the list and build the result, which no number of
// workers shortens.
PyObject* ratio_batch_section_seconds(Bound<kSection> a) {
    const double best = without_gil([&] {
        double b = 1e300;
        for (std::uint64_t r = 0; r < std::max<std::uint64_t>(a.u64<"rounds">(), 1); ++r) {
            const auto t0 = std::chrono::steady_clock::now();
            const auto scores = core::ratio_batch(a.text<"query">(), a.list<"choices">());
            const std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
            b = std::min(b, d.count());
        }
        return b;
    });
    return to_py_f64(best);
}

// Workers started after this fill their free stack with a pattern (see
// engine_stack_high_water); call before this module's pool starts.
PyObject* engine_paint_stacks() {
    engine::set_stack_painting(true);
    return to_py_none();
}

// (most stack any worker of this module's pool has used, the stack each worker has)
PyObject* engine_stack_high_water() {
    PyObject* items[] = {PyLong_FromSize_t(engine::worker_stack_high_water()),
                         PyLong_FromSize_t(engine::kWorkerStackBytes)};
    return tuple_of(items);
}

// public_call(name, args): the public function `name` called with the tuple args, run on
// this module's copy of the engine (whose workers a test can inspect).
PyObject* public_call(Bound<kPublicCall> a) {
    PyObject* name = a.object<"name">();
    PyObject* args = a.object<"args">();
    if (!PyUnicode_Check(name) || !PyTuple_Check(args)) {
        PyErr_SetString(PyExc_TypeError, "public_call(name: str, args: tuple)");
        throw PyError{};
    }
    const char* n = PyUnicode_AsUTF8AndSize(name, nullptr);
    if (!n) throw PyError{};
    const Py_ssize_t nargs = PyTuple_Size(args);
    std::vector<PyObject*> argv(static_cast<std::size_t>(nargs));
    for (Py_ssize_t i = 0; i < nargs; ++i)
        argv[static_cast<std::size_t>(i)] = PyTuple_GetItem(args, i);
    PyObject* r = call_registered(ModuleId::public_module, n, argv.data(), nargs);
    if (!r) throw PyError{};
    return r;
}

constexpr FuncDesc kMap = func<kN, &engine_map>("engine_map", "");
constexpr FuncDesc kChunks = func<kNChunk, &engine_chunks>("engine_chunks", "");
constexpr FuncDesc kFilter = func<kNEvery, &engine_filter>("engine_filter", "");
constexpr FuncDesc kPieces = func<kN, &engine_pieces>("engine_pieces", "");
constexpr FuncDesc kFailDesc = func<kFail, &engine_fail>("engine_fail", "");
constexpr FuncDesc kInfo = func<&engine_info>("engine_info", "");
constexpr FuncDesc kSpinDesc = func<kSpin, &engine_spin>("engine_spin", "");
constexpr FuncDesc kScratch = func<kItems, &engine_scratch_cached>("engine_scratch_cached", "");

constexpr FuncDesc kSectionDesc =
    func<kSection, &ratio_batch_section_seconds>("ratio_batch_section_seconds", "");
constexpr FuncDesc kPaint = func<&engine_paint_stacks>("engine_paint_stacks", "");
constexpr FuncDesc kHighWater = func<&engine_stack_high_water>("engine_stack_high_water", "");
constexpr FuncDesc kPublicCallDesc = func<kPublicCall, &public_call>("public_call", "");

}  // namespace

const FuncDesc rows::engine_map = kMap;
const FuncDesc rows::engine_chunks = kChunks;
const FuncDesc rows::engine_filter = kFilter;
const FuncDesc rows::engine_pieces = kPieces;
const FuncDesc rows::engine_fail = kFailDesc;
const FuncDesc rows::engine_info = kInfo;
const FuncDesc rows::engine_spin = kSpinDesc;
const FuncDesc rows::engine_scratch_cached = kScratch;
const FuncDesc rows::ratio_batch_section_seconds = kSectionDesc;
const FuncDesc rows::engine_paint_stacks = kPaint;
const FuncDesc rows::engine_stack_high_water = kHighWater;
const FuncDesc rows::public_call = kPublicCallDesc;

}  // namespace tarnvel::py
