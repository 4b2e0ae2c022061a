// The parallel shapes every batch, cross-product and large extraction runs on.
//
// Knows nothing of strings, kernels or Python. All shapes go through run_range(), which
// divides [0, units) among the process-wide fork-join pool (pool.cpp):
//  - a range of one unit (or none) runs directly on the calling thread;
//  - otherwise the calling thread hands the whole operation to the pool and blocks,
//    doing no share of the work; pieces halve at L/2 under a split budget that starts
//    at the worker count, so a call makes roughly one piece per worker (more only when
//    idle workers take halves);
//  - a piece that does not split runs its units in increasing order on one thread.
// Results are placed by position, so they never depend on scheduling or on the number of
// workers. A failure (any C++ exception) inside a piece is rethrown on the calling thread
// once both halves of every fork-join pair above it have finished; the pool stays usable.
//
// The pool is created by the first call that reaches the division step and is never
// destroyed. Its size is the number of processors the process may run on, or the
// positive integer in the environment variable TARNVEL_NUM_THREADS, read at creation;
// either is clamped to kMaxWorkers. If the pool cannot start (no thread or no memory to
// be had), run_range throws PoolStartError and the next call tries again.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "engine/cancel.hpp"
#include "engine/error.hpp"

namespace tarnvel::engine {

// Most workers a pool has: more than this gives no speed on any machine we know of, and
// each one costs a stack and a share of the heap.
inline constexpr std::size_t kMaxWorkers = 256;

// Stack of each worker. The deepest kernel needs a small fraction of it (a test measures
// it); the default of 8 MiB per thread is what let many workers exhaust an address space.
inline constexpr std::size_t kWorkerStackBytes = std::size_t{512} << 10;

// The pool could not start; error() is the errno value of the cause.
class PoolStartError final : public std::exception {
public:
    explicit PoolStartError(int error);
    const char* what() const noexcept override { return what_; }
    int error() const noexcept { return error_; }
    bool out_of_memory() const noexcept;  // threads or memory could not be had

private:
    int error_;
    char what_[128];
};

// Makes every later use of the engine's and the C++ runtime's per-thread state on this
// thread free of lazy allocations: the C library allocates a thread's block of a shared
// library's thread-local variables on first touch and aborts the process if it cannot.
// Here the first touch happens right after a checked allocation of comfortably more
// than that block. False when the memory could not be had (nothing touched then). Cheap
// once it has succeeded on a thread. Pool workers call it when they start; callers
// should call it before their first use of the engine on each thread.
bool prepare_thread() noexcept;

// Tests only: workers started after set_stack_painting(true) fill their free stack with
// a pattern, and worker_stack_high_water() returns the most stack any of them has used.
void set_stack_painting(bool on) noexcept;
std::size_t worker_stack_high_water() noexcept;

// Body of one piece: processes units [begin, end) in increasing order.
using RangeFn = void (*)(void* ctx, std::size_t begin, std::size_t end);

// Divides [0, units) among the workers and calls fn on every resulting piece; blocks
// until all pieces have finished. Rethrows the first failure of any piece.
void run_range(std::size_t units, void* ctx, RangeFn fn);

// Number of workers: the live pool's, or the number a pool created now would have
// (creating nothing).
std::size_t worker_count();

// True once this process has a live pool (a forked child starts without one).
bool pool_started();

template <typename F>
void parallel_for(std::size_t units, F&& body) {  // body(begin, end)
    using Fn = std::remove_reference_t<F>;
    run_range(units, const_cast<void*>(static_cast<const void*>(&body)),
              [](void* ctx, std::size_t b, std::size_t e) { (*static_cast<Fn*>(ctx))(b, e); });
}

// Items between two interruption points of the shapes below: enough to make the check's
// cost vanish beside even the cheapest kernel, few enough that a slow item type still
// answers a cancellation within a fraction of a second.
inline constexpr std::size_t kItemsPerCheck = 8;

// out[i] = f(i) for every i.
template <typename T, typename F>
void parallel_map(std::span<T> out, F&& f) {
    std::atomic<std::size_t> written{0};
    parallel_for(out.size(), [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) {
            if ((i - b) % kItemsPerCheck == kItemsPerCheck - 1) interruption_point();
            out[i] = f(i);
        }
        written.fetch_add(e - b, std::memory_order_relaxed);
    });
    if (written.load(std::memory_order_relaxed) != out.size())
        fail_invariant("parallel_map: result count differs from item count");
}

template <typename T, typename F>
std::vector<T> parallel_map(std::size_t n, F&& f) {
    std::vector<T> out(n);
    parallel_map(std::span<T>(out), std::forward<F>(f));
    return out;
}

inline constexpr std::size_t kChunkSize = 4096;

// f(chunk_index, slice) for every chunk of `chunk` consecutive positions of out; the
// chunks are the units of the division.
template <typename T, typename F>
void parallel_chunks(std::span<T> out, std::size_t chunk, F&& f) {
    if (chunk == 0) fail_invariant("parallel_chunks: chunk size 0");
    const std::size_t n = out.size();
    const std::size_t chunks = n / chunk + (n % chunk != 0);
    parallel_for(chunks, [&](std::size_t b, std::size_t e) {
        for (std::size_t c = b; c < e; ++c) {
            if (c != b) interruption_point();
            const std::size_t lo = c * chunk;
            const std::size_t hi = n - lo > chunk ? lo + chunk : n;
            f(c, out.subspan(lo, hi - lo));
        }
    });
}

// Filter-collect over pieces: body(begin, end, kept) appends the kept results of items
// [begin, end) in input order; the pieces' vectors are joined in input order, so the
// result equals a serial filter.
template <typename T, typename F>
std::vector<T> parallel_filter_collect_ranges(std::size_t n, F&& body) {
    struct Part {
        std::size_t begin;
        std::vector<T> kept;
    };
    std::mutex mu;
    std::vector<Part> parts;
    parallel_for(n, [&](std::size_t b, std::size_t e) {
        std::vector<T> local;
        body(b, e, local);
        const std::lock_guard<std::mutex> lock(mu);  // once per piece, never per item
        parts.push_back(Part{b, std::move(local)});
    });
    std::sort(parts.begin(), parts.end(),
              [](const Part& x, const Part& y) { return x.begin < y.begin; });
    if (parts.size() == 1) return std::move(parts.front().kept);
    std::size_t total = 0;
    for (const Part& p : parts) total += p.kept.size();
    std::vector<T> kept;
    kept.reserve(total);
    for (Part& p : parts)
        for (T& v : p.kept) kept.push_back(std::move(v));
    return kept;
}

// Keeps, in input order, what keep(i, kept) appends for every item i.
template <typename T, typename F>
std::vector<T> parallel_filter_collect(std::size_t n, F&& keep) {
    return parallel_filter_collect_ranges<T>(
        n, [&](std::size_t b, std::size_t e, std::vector<T>& kept) {
            for (std::size_t i = b; i < e; ++i) {
                if ((i - b) % kItemsPerCheck == kItemsPerCheck - 1) interruption_point();
                keep(i, kept);
            }
        });
}

}  // namespace tarnvel::engine
