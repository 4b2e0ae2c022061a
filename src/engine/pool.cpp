// The process-wide fork-join pool behind run_range() (see parallel.hpp).
//
// Design: one worker thread per processor, each with a mutex-protected deque (pieces are
// coarse: a call makes O(workers) of them, so a lock per push/pop costs nothing
// measurable). A worker that forks pushes the second half on the bottom of its own deque
// and runs the first half itself; idle workers steal from the top of other deques, then
// from the injector queue that external (Python) threads submit to. A worker joining a
// pair whose second half was stolen keeps running other pending work until that half is
// done, so nested forks never deadlock. External callers only submit and block.
//
// Sleeping: `pending_` counts queued jobs and is raised under `sleep_mu_`, so a worker
// that finds it zero under the same mutex cannot miss the wake-up of a later push.
//
// Lifetime: the pool is leaked on purpose (joinable threads at static destruction would
// terminate the process, and the interpreter may still be finalising). A forked child
// inherits no threads; an atfork handler only forgets the parent's pool, and the child
// builds a fresh one on its next parallel call.
//
// Starting: every worker prepares its thread (see prepare_thread) before it reports in,
// and the starter waits for all of them. If a thread or its memory cannot be had, the
// workers already started are stopped and joined and PoolStartError is thrown; nothing
// is published, so the next call tries again. Workers run on an explicit, modest stack
// (kWorkerStackBytes) instead of the process default of 8 MiB, so that a large
// TARNVEL_NUM_THREADS cannot take the whole address space.
#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "engine/cancel.hpp"
#include "engine/parallel.hpp"

namespace tarnvel::engine {
namespace {

constexpr int kSpinRounds = 64;
// A free block of this size lets the thread-local block (a few KiB) come from memory
// the thread just released, and is small enough to stay inside the heap.
constexpr std::size_t kProbeBytes = std::size_t{64} << 10;

struct Pool;
struct Worker;

// A queued unit of work. exec never throws; it records failures itself.
struct Job {
    void (*exec)(Job* self, Worker* runner) = nullptr;
};

struct Worker {
    Pool* pool = nullptr;
    std::size_t index = 0;
    std::mutex mu;
    std::deque<Job*> jobs;  // owner works at the back, thieves take from the front
    pthread_t thread{};
    // Stack bounds, recorded only when stack painting is on (tests).
    std::uintptr_t stack_lo = 0, stack_hi = 0;
};

// The worker the current thread is, if any.
thread_local Worker* t_worker = nullptr;

struct Pool {
    explicit Pool(std::size_t wanted) : slots(new Worker[wanted]), capacity(wanted) {}

    std::unique_ptr<Worker[]> slots;
    std::size_t capacity;
    std::atomic<std::size_t> count{0};  // workers actually started

    std::mutex inject_mu;
    std::deque<Job*> injected;

    std::mutex sleep_mu;
    std::condition_variable sleep_cv;
    std::atomic<std::int64_t> pending{0};
    std::size_t sleepers = 0;           // guarded by sleep_mu
    std::atomic<bool> stopping{false};  // set only by a start that failed

    // Start-up reports, guarded by start_mu.
    std::mutex start_mu;
    std::condition_variable start_cv;
    std::size_t reported = 0;
    bool any_failed = false;

    void announce() {
        bool wake;
        {
            const std::lock_guard<std::mutex> lock(sleep_mu);
            pending.fetch_add(1, std::memory_order_relaxed);
            wake = sleepers != 0;
        }
        if (wake) sleep_cv.notify_one();
    }

    void push_local(Worker* w, Job* job) {
        {
            const std::lock_guard<std::mutex> lock(w->mu);
            w->jobs.push_back(job);
        }
        announce();
    }

    void inject(Job* job) {
        {
            const std::lock_guard<std::mutex> lock(inject_mu);
            injected.push_back(job);
        }
        announce();
    }

    // Takes `job` back from the bottom of w's deque unless a thief got it first.
    bool take_back(Worker* w, Job* job) {
        const std::lock_guard<std::mutex> lock(w->mu);
        if (w->jobs.empty() || w->jobs.back() != job) return false;
        w->jobs.pop_back();
        pending.fetch_sub(1, std::memory_order_relaxed);
        return true;
    }

    Job* find_work(Worker* self) {
        {
            const std::lock_guard<std::mutex> lock(self->mu);
            if (!self->jobs.empty()) {
                Job* j = self->jobs.back();
                self->jobs.pop_back();
                pending.fetch_sub(1, std::memory_order_relaxed);
                return j;
            }
        }
        const std::size_t n = count.load(std::memory_order_acquire);
        for (std::size_t k = 1; k < n; ++k) {
            Worker* victim = &slots[(self->index + k) % n];
            const std::lock_guard<std::mutex> lock(victim->mu);
            if (!victim->jobs.empty()) {
                Job* j = victim->jobs.front();
                victim->jobs.pop_front();
                pending.fetch_sub(1, std::memory_order_relaxed);
                return j;
            }
        }
        const std::lock_guard<std::mutex> lock(inject_mu);
        if (!injected.empty()) {
            Job* j = injected.front();
            injected.pop_front();
            pending.fetch_sub(1, std::memory_order_relaxed);
            return j;
        }
        return nullptr;
    }

    // Runs pending work until done becomes true (a joining worker) or forever (idle).
    void work_until(Worker* self, const std::atomic<bool>* done) {
        for (;;) {
            if (done && done->load(std::memory_order_acquire)) return;
            if (!done && stopping.load(std::memory_order_acquire)) return;
            if (Job* j = find_work(self)) {
                j->exec(j, self);
                continue;
            }
            bool found = false;
            for (int r = 0; r < kSpinRounds && !found; ++r) {
                if (done && done->load(std::memory_order_acquire)) return;
                std::this_thread::yield();
                found = pending.load(std::memory_order_relaxed) > 0;
            }
            if (found) continue;
            std::unique_lock<std::mutex> lock(sleep_mu);
            ++sleepers;
            sleep_cv.wait(lock, [&] {
                return pending.load(std::memory_order_relaxed) > 0 ||
                       (done && done->load(std::memory_order_acquire)) ||
                       stopping.load(std::memory_order_acquire);
            });
            --sleepers;
        }
    }

    // Wakes every sleeper (a joiner may be waiting for the flag just set).
    void wake_all() {
        {
            const std::lock_guard<std::mutex> lock(sleep_mu);
        }
        sleep_cv.notify_all();
    }
};

// One parallel operation: the piece body and the worker count fixed at its start.
struct Task {
    void* ctx;
    RangeFn fn;
    std::size_t workers;
    const std::atomic<bool>* cancel;  // the outermost operation's flag
};

// Runs t.fn on one piece with the operation's flag visible to interruption_point().
void run_body(const Task& t, std::size_t b, std::size_t e) {
    if (t.cancel->load(std::memory_order_relaxed)) return;  // the caller throws Cancelled
    detail::ThreadCancel& tc = detail::thread_cancel();
    const std::atomic<bool>* prev = tc.flag;
    tc.flag = t.cancel;
    try {
        t.fn(t.ctx, b, e);
    } catch (...) {
        tc.flag = prev;
        throw;
    }
    tc.flag = prev;
}

// The split rule: a piece of `len` units splits when it has two or more units and the
// budget allows it. A piece taken by another worker than the one that created it may
// always split, with its budget reset to at least the worker count.
bool try_split(std::size_t len, std::size_t& budget, bool migrated, std::size_t workers) {
    if (len / 2 < 1) return false;
    if (migrated) {
        budget = std::max(budget / 2, workers);
        return true;
    }
    if (budget == 0) return false;
    budget /= 2;
    return true;
}

void run_piece(const Task& t, std::size_t b, std::size_t e, std::size_t budget, bool migrated,
               Worker* self);

// The second half of a fork-join pair, queued on its creator's deque.
struct HalfJob : Job {
    const Task* task;
    std::size_t begin, end, budget;
    Worker* owner;
    std::exception_ptr error;
    std::atomic<bool> done{false};

    static void run(Job* j, Worker* runner) {
        auto* h = static_cast<HalfJob*>(j);
        const bool migrated = runner != h->owner;
        try {
            run_piece(*h->task, h->begin, h->end, h->budget, migrated, runner);
        } catch (...) {
            h->error = std::current_exception();
        }
        Pool* pool = runner->pool;
        // After this store the owner may return and destroy *h: touch it no more.
        h->done.store(true, std::memory_order_release);
        if (migrated) pool->wake_all();
    }
};

// Runs [b, mid) here and [mid, e) as a stealable half; returns when both have finished
// and rethrows the first half's failure, else the second's.
void fork_join(const Task& t, std::size_t b, std::size_t mid, std::size_t e, std::size_t budget,
               bool first_migrated, Worker* self) {
    HalfJob second;
    second.exec = &HalfJob::run;
    second.task = &t;
    second.begin = mid;
    second.end = e;
    second.budget = budget;
    second.owner = self;
    Pool* pool = self->pool;
    pool->push_local(self, &second);

    std::exception_ptr first_error;
    try {
        run_piece(t, b, mid, budget, first_migrated, self);
    } catch (...) {
        first_error = std::current_exception();
    }
    if (pool->take_back(self, &second)) {
        try {
            run_piece(t, mid, e, budget, false, self);
        } catch (...) {
            second.error = std::current_exception();
        }
    } else {
        pool->work_until(self, &second.done);
    }
    if (first_error) std::rethrow_exception(first_error);
    if (second.error) std::rethrow_exception(second.error);
}

void run_piece(const Task& t, std::size_t b, std::size_t e, std::size_t budget, bool migrated,
               Worker* self) {
    if (try_split(e - b, budget, migrated, t.workers)) {
        fork_join(t, b, b + (e - b) / 2, e, budget, false, self);
    } else {
        run_body(t, b, e);
    }
}

// The whole operation as submitted by an external thread: the first fork-join pair,
// run by whichever worker takes it. The submitter waits on `mu`/`cv`.
struct RootJob : Job {
    const Task* task;
    std::size_t mid, end, budget;
    std::exception_ptr error;
    std::mutex mu;
    std::condition_variable cv;
    bool finished = false;

    static void run(Job* j, Worker* runner) {
        auto* r = static_cast<RootJob*>(j);
        try {
            // The first half was created by the submitting thread and runs on a worker.
            fork_join(*r->task, 0, r->mid, r->end, r->budget, true, runner);
        } catch (...) {
            r->error = std::current_exception();
        }
        // Notify while holding the lock: the waiter may destroy *r as soon as it sees
        // `finished`, and it can only see it after this block releases the mutex.
        const std::lock_guard<std::mutex> lock(r->mu);
        r->finished = true;
        r->cv.notify_one();
    }
};

std::atomic<bool> g_paint_stacks{false};
constexpr std::uint64_t kPaint = 0x5eed5eed5eed5eedULL;

// Fills the unused part of this thread's stack with kPaint (tests measure how deep the
// kernels reach by finding the lowest overwritten word).
[[gnu::noinline]] void paint_stack(Worker* self) {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* addr = nullptr;
    std::size_t size = 0;
    const bool ok = pthread_attr_getstack(&attr, &addr, &size) == 0;
    pthread_attr_destroy(&attr);
    if (!ok) return;
    const auto lo = reinterpret_cast<std::uintptr_t>(addr);
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    // Leave this frame and the red zone alone; skip the lowest page (guard side).
    auto* p = reinterpret_cast<volatile std::uint64_t*>((lo + 4096 + 7) & ~std::uintptr_t{7});
    auto* end = reinterpret_cast<volatile std::uint64_t*>((here - 1024) & ~std::uintptr_t{7});
    for (; p < end; ++p) *p = kPaint;
    self->stack_lo = lo + 4096;
    self->stack_hi = lo + size;
}

void* worker_main(void* arg) {
    auto* self = static_cast<Worker*>(arg);
    Pool* pool = self->pool;
    // Signals belong to the Python threads; workers never handle them.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    const bool ready = prepare_thread();
    if (ready) t_worker = self;
    if (ready && g_paint_stacks.load(std::memory_order_relaxed)) paint_stack(self);
    {
        const std::lock_guard<std::mutex> lock(pool->start_mu);
        ++pool->reported;
        if (!ready) pool->any_failed = true;
        pool->start_cv.notify_all();
    }
    if (ready) pool->work_until(self, nullptr);
    return nullptr;
}

std::size_t processors_available() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<std::size_t>(n);
    }
    const unsigned hc = std::thread::hardware_concurrency();
    return hc ? hc : 1;
}

// TARNVEL_NUM_THREADS: a positive decimal integer, clamped to kMaxWorkers; anything else
// is ignored.
std::size_t wanted_workers() {
    if (const char* s = std::getenv("TARNVEL_NUM_THREADS")) {
        std::size_t v = 0;
        bool ok = *s != '\0';
        for (const char* p = s; *p && ok; ++p) {
            if (*p < '0' || *p > '9')
                ok = false;
            else
                v = std::min<std::size_t>(v * 10 + static_cast<std::size_t>(*p - '0'), kMaxWorkers);
        }
        if (ok && v > 0) return v;
    }
    return std::min(processors_available(), kMaxWorkers);
}

std::atomic<Pool*> g_pool{nullptr};
alignas(std::mutex) unsigned char g_create_mu_storage[sizeof(std::mutex)];
std::mutex* g_create_mu = new (g_create_mu_storage) std::mutex();

void after_fork_in_child() {
    // Only the forking thread exists now; the parent's pool (threads, possibly held
    // mutexes) is abandoned as it is and a new one is built on demand.
    g_pool.store(nullptr, std::memory_order_relaxed);
    g_create_mu = new (g_create_mu_storage) std::mutex();
}

// Registered when the library loads, never lazily: registering under g_create_mu could
// block on a fork in progress (glibc holds its handler list during fork), and the child
// would then inherit the mutex locked with no handler to reset it.
[[maybe_unused]] const bool g_fork_handler_registered =
    pthread_atfork(nullptr, nullptr, &after_fork_in_child) == 0;

// Stops and joins the first `started` workers of a pool that failed to start, then frees it.
void abandon(Pool* p, std::size_t started) {
    p->stopping.store(true, std::memory_order_release);
    p->wake_all();
    for (std::size_t i = 0; i < started; ++i) pthread_join(p->slots[i].thread, nullptr);
    delete p;
}

Pool* start_pool() {
    const std::size_t wanted = wanted_workers();
    Pool* p = new Pool(wanted);
    for (std::size_t i = 0; i < wanted; ++i) {
        Worker* w = &p->slots[i];
        w->pool = p;
        w->index = i;
    }
    pthread_attr_t attr;
    int rc = pthread_attr_init(&attr);
    if (rc != 0) {
        delete p;
        throw PoolStartError(rc);
    }
    rc = pthread_attr_setstacksize(&attr, kWorkerStackBytes);
    std::size_t started = 0;
    for (; rc == 0 && started < wanted; ++started) {
        rc = pthread_create(&p->slots[started].thread, &attr, &worker_main, &p->slots[started]);
        if (rc != 0) break;
    }
    pthread_attr_destroy(&attr);
    bool failed;
    {
        std::unique_lock<std::mutex> lock(p->start_mu);
        p->start_cv.wait(lock, [&] { return p->reported == started; });
        failed = p->any_failed;
    }
    if (rc != 0 || failed) {
        abandon(p, started);
        throw PoolStartError(rc != 0 ? rc : ENOMEM);
    }
    for (std::size_t i = 0; i < started; ++i) pthread_detach(p->slots[i].thread);
    p->count.store(started, std::memory_order_release);
    return p;
}

Pool* get_pool() {
    Pool* p = g_pool.load(std::memory_order_acquire);
    if (p) return p;
    const std::lock_guard<std::mutex> lock(*g_create_mu);
    p = g_pool.load(std::memory_order_acquire);
    if (p) return p;
    p = start_pool();  // leaked on purpose
    g_pool.store(p, std::memory_order_release);
    return p;
}

}  // namespace

void run_range(std::size_t units, void* ctx, RangeFn fn) {
    Pool* pool = get_pool();
    const std::size_t workers = pool->count.load(std::memory_order_acquire);
    if (workers == 0) {  // no thread could be started: serial, rather than failing
        if (units) fn(ctx, 0, units);
        return;
    }
    std::atomic<bool> cancel{false};
    detail::ThreadCancel& tc = detail::thread_cancel();
    Task task{ctx, fn, workers, tc.flag ? tc.flag : &cancel};
    if (Worker* self = t_worker; self && self->pool == pool) {
        // Called from inside a piece: divide right here, this worker joins like any other;
        // the outer operation's flag stops this one too.
        run_piece(task, 0, units, workers, false, self);
        return;
    }
    std::size_t budget = workers;
    if (!try_split(units, budget, false, workers)) {
        if (units) fn(ctx, 0, units);
        return;
    }
    RootJob root;
    root.exec = &RootJob::run;
    root.task = &task;
    root.mid = units / 2;
    root.end = units;
    root.budget = budget;
    pool->inject(&root);
    const Waiter* waiter = tc.flag ? nullptr : tc.waiter;
    {
        std::unique_lock<std::mutex> lock(root.mu);
        if (!waiter) {
            root.cv.wait(lock, [&] { return root.finished; });
        } else {
            // Wake every period to run the waiter; once it cancels, keep waiting (without
            // polling again) until every piece has stopped, since they use this frame.
            bool asked = tc.cancelled;
            if (asked) cancel.store(true, std::memory_order_relaxed);
            while (!root.cv.wait_for(lock, waiter->period, [&] { return root.finished; })) {
                if (asked) continue;
                lock.unlock();
                asked = waiter->poll(waiter->ctx);
                lock.lock();
                if (asked) {
                    tc.cancelled = true;
                    cancel.store(true, std::memory_order_relaxed);
                }
            }
        }
    }
    if (cancel.load(std::memory_order_relaxed)) throw Cancelled();
    if (root.error) std::rethrow_exception(root.error);
}

std::size_t worker_count() {
    if (Pool* p = g_pool.load(std::memory_order_acquire))
        return p->count.load(std::memory_order_acquire);
    return wanted_workers();
}

bool pool_started() { return g_pool.load(std::memory_order_acquire) != nullptr; }

PoolStartError::PoolStartError(int error) : error_(error) {
    std::snprintf(what_, sizeof what_, "cannot start the worker threads: %s", std::strerror(error));
}

bool PoolStartError::out_of_memory() const noexcept { return error_ == EAGAIN || error_ == ENOMEM; }

namespace {
// The thread that prepared itself most recently (most programs call from one thread):
// its check is a compare, without the key lookup. A thread forgets it at exit, before
// its descriptor (and so its pthread_t) can be reused by a new, unprepared thread.
std::atomic<pthread_t> g_recent{};

void forget_thread(void* mark) {
    pthread_t self = pthread_self();
    g_recent.compare_exchange_strong(self, pthread_t{});
    ::operator delete(mark);
}

pthread_key_t g_ready_key;
// 1: the key exists; -1: it could not be created (every call then prepares afresh).
// A forked child may reuse the descriptors of the parent's other threads, so it starts
// with no recent thread.
int g_key_state = [] {
    pthread_atfork(nullptr, nullptr,
                   [] { g_recent.store(pthread_t{}, std::memory_order_relaxed); });
    return pthread_key_create(&g_ready_key, &forget_thread) == 0 ? 1 : -1;
}();

// The C++ runtime keeps its per-thread exception state in this library's thread-local
// block too (libstdc++ is linked in statically). Throwing once, after the probe, makes
// every later throw on this thread free of allocations that could abort.
[[gnu::noinline]] void throw_once() { throw Cancelled(); }

bool touch_thread_locals() noexcept {
    void* probe = std::malloc(kProbeBytes);
    if (!probe) return false;
    static_cast<volatile char*>(probe)[0] = 0;
    std::free(probe);
    // Any access allocates the whole block; these are all of the engine's.
    detail::ThreadCancel& tc = detail::thread_cancel();
    asm volatile("" : : "r"(&tc), "r"(&t_worker) : "memory");
    try {
        throw_once();
    } catch (const Cancelled&) {
    }
    return true;
}
}  // namespace

bool prepare_thread() noexcept {
    const pthread_t self = pthread_self();
    if (g_recent.load(std::memory_order_relaxed) == self) [[likely]]
        return true;
    if (g_key_state == 1 && pthread_getspecific(g_ready_key) != nullptr) {
        g_recent.store(self, std::memory_order_relaxed);
        return true;
    }
    if (!touch_thread_locals()) return false;
    if (g_key_state != 1) return true;
    // The marker is a small heap record, owned by the thread and freed at its exit.
    void* mark = ::operator new(sizeof(void*), std::nothrow);
    if (!mark) return true;  // prepared now; the next call simply checks again
    if (pthread_setspecific(g_ready_key, mark) != 0) {
        ::operator delete(mark);
        return true;
    }
    g_recent.store(self, std::memory_order_relaxed);
    return true;
}

void set_stack_painting(bool on) noexcept { g_paint_stacks.store(on, std::memory_order_relaxed); }

std::size_t worker_stack_high_water() noexcept {
    Pool* p = g_pool.load(std::memory_order_acquire);
    if (!p) return 0;
    std::size_t deepest = 0;
    const std::size_t n = p->count.load(std::memory_order_acquire);
    for (std::size_t i = 0; i < n; ++i) {
        const Worker& w = p->slots[i];
        if (!w.stack_lo) continue;
        auto* q =
            reinterpret_cast<const volatile std::uint64_t*>((w.stack_lo + 7) & ~std::uintptr_t{7});
        auto* end = reinterpret_cast<const volatile std::uint64_t*>(w.stack_hi);
        while (q < end && *q == kPaint) ++q;
        deepest = std::max(
            deepest, static_cast<std::size_t>(w.stack_hi - reinterpret_cast<std::uintptr_t>(q)));
    }
    return deepest;
}

namespace detail {

ThreadCancel& thread_cancel() noexcept {
    thread_local ThreadCancel tc;
    return tc;
}

void throw_cancelled() { throw Cancelled(); }

void poll_caller(ThreadCancel& tc) {
    if (tc.cancelled) throw Cancelled();
    const auto now = std::chrono::steady_clock::now();
    if (tc.next_poll == std::chrono::steady_clock::time_point{}) {
        // First check since the waiter was installed (the install reads no clock).
        tc.next_poll = now + tc.waiter->period;
        return;
    }
    if (now < tc.next_poll) return;
    tc.next_poll = now + tc.waiter->period;
    if (tc.waiter->poll(tc.waiter->ctx)) {
        tc.cancelled = true;
        throw Cancelled();
    }
}

}  // namespace detail

ScopedWaiter::ScopedWaiter(const Waiter* w) noexcept {
    detail::ThreadCancel& tc = detail::thread_cancel();
    prev_ = tc.waiter;
    tc.waiter = w;
    if (!prev_) {
        tc.cancelled = false;
        tc.next_poll = {};  // set by the first check: short calls never read the clock
    }
}

ScopedWaiter::~ScopedWaiter() {
    detail::ThreadCancel& tc = detail::thread_cancel();
    tc.waiter = prev_;
    if (!prev_) tc.cancelled = false;
}

bool cancel_requested() noexcept {
    const detail::ThreadCancel& tc = detail::thread_cancel();
    if (tc.flag) return tc.flag->load(std::memory_order_relaxed);
    return tc.cancelled;
}

void poll_now() {
    detail::ThreadCancel& tc = detail::thread_cancel();
    if (tc.flag || !tc.waiter) return;
    if (tc.cancelled) throw Cancelled();
    tc.next_poll = std::chrono::steady_clock::now() + tc.waiter->period;
    if (tc.waiter->poll(tc.waiter->ctx)) {
        tc.cancelled = true;
        throw Cancelled();
    }
}

void fail_invariant(const char* what) { throw InvariantError(what); }

}  // namespace tarnvel::engine
