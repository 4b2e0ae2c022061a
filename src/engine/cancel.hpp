// Cooperative cancellation of long operations, and the calling thread's wait hook.
//
// A thread that blocks in run_range() (or runs long serial work) may install a Waiter:
// every `period` it calls poll(ctx) on that thread (the binding uses it to run signal
// handlers and progress callbacks). When poll returns true the operation is cancelled:
// its flag is raised, every piece stops at its next interruption_point(), and run_range
// throws Cancelled on the calling thread once all pieces have stopped.
//
// Work never checks a clock or a flag per item: call interruption_point() at chunk or row
// boundaries, where the work between two calls is at least a microsecond or so. On a pool
// worker it is one relaxed load; on the calling thread it also polls the waiter when the
// period has passed. Knows nothing of Python.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>

namespace tarnvel::engine {

// The operation was cancelled by the waiter (the binding has the reason, e.g. a raised
// KeyboardInterrupt, already recorded).
class Cancelled final : public std::exception {
public:
    const char* what() const noexcept override { return "operation cancelled"; }
};

struct Waiter {
    bool (*poll)(void* ctx) = nullptr;  // true: cancel
    void* ctx = nullptr;
    std::chrono::steady_clock::duration period = std::chrono::milliseconds(25);
};

// Installs a waiter for the current thread for its lifetime; nests (restores the previous).
class ScopedWaiter {
public:
    explicit ScopedWaiter(const Waiter* w) noexcept;
    ~ScopedWaiter();
    ScopedWaiter(const ScopedWaiter&) = delete;
    ScopedWaiter& operator=(const ScopedWaiter&) = delete;

private:
    const Waiter* prev_;
};

namespace detail {
struct ThreadCancel {
    const std::atomic<bool>* flag = nullptr;  // the operation a worker runs a piece of
    const Waiter* waiter = nullptr;           // the calling thread's hook
    std::chrono::steady_clock::time_point next_poll{};
    bool cancelled = false;  // the calling thread's own serial work
};
ThreadCancel& thread_cancel() noexcept;
[[noreturn]] void throw_cancelled();
void poll_caller(ThreadCancel& tc);  // may throw Cancelled
}  // namespace detail

// Throws Cancelled when the operation the current thread works for has been cancelled.
inline void interruption_point() {
    detail::ThreadCancel& tc = detail::thread_cancel();
    if (tc.flag) {
        if (tc.flag->load(std::memory_order_relaxed)) [[unlikely]]
            detail::throw_cancelled();
        return;
    }
    if (tc.waiter) detail::poll_caller(tc);
}

// Interruption point for a loop whose iterations each cost about `units` basic steps
// (cells, word operations): checks about once per 2^18 steps, a fraction of a
// millisecond, so long serial kernels answer within a poll period at no measurable cost.
class StepCheck {
public:
    explicit StepCheck(std::size_t units_per_iteration) noexcept
        : every_(units_per_iteration >= kSteps
                     ? 1
                     : kSteps / (units_per_iteration ? units_per_iteration : 1)),
          left_(every_) {}
    void operator()() {
        if (--left_ == 0) [[unlikely]] {
            left_ = every_;
            interruption_point();
        }
    }

private:
    static constexpr std::size_t kSteps = std::size_t{1} << 18;
    std::size_t every_, left_;
};

// True when interruption_point() would throw (for kernels that unwind by returning).
bool cancel_requested() noexcept;

// Polls the waiter now (if any) regardless of the period; throws Cancelled if it asks.
void poll_now();

}  // namespace tarnvel::engine
