// Storage for the large per-call arrays of a batch (the collected views and references of
// a long list, result vectors).
//
// glibc returns blocks of this size to the kernel when they are freed, so every call of a
// batch over 150,000 strings took about 1,200 fresh pages, one page fault each, with the
// interpreter lock held for most of them: a sizeable share of the call. ScratchAllocator
// keeps a few freed large blocks in a small process-wide cache for the next call instead.
// Small requests go straight to operator new. The cache is bounded (kCacheBytes) and
// never blocks: a thread that finds it busy allocates or frees directly, so a process
// forked while another thread held its lock simply does without it.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace tarnvel::engine {

// Blocks at least this large go through the cache.
inline constexpr std::size_t kScratchMin = std::size_t{256} << 10;
// The cache holds at most this many bytes in all.
inline constexpr std::size_t kCacheBytes = std::size_t{32} << 20;

// At least `bytes` bytes, aligned to 64; throws std::bad_alloc.
void* scratch_alloc(std::size_t bytes);
// Frees a block from scratch_alloc(bytes) (the same `bytes`).
void scratch_free(void* p, std::size_t bytes) noexcept;
// Bytes the cache holds now (for tests).
std::size_t scratch_cached_bytes() noexcept;

template <typename T>
struct ScratchAllocator {
    using value_type = T;
    ScratchAllocator() noexcept = default;
    template <typename U>
    ScratchAllocator(const ScratchAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(scratch_alloc(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { scratch_free(p, n * sizeof(T)); }

    // A sized ScratchVector leaves its elements default-initialised (indeterminate for
    // numbers): result vectors are written in full by the workers, and zeroing them
    // first would touch every page on the calling thread.
    template <typename U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... A>
    void construct(U* p, A&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(args)...);
    }

    template <typename U>
    bool operator==(const ScratchAllocator<U>&) const noexcept {
        return true;
    }
};

template <typename T>
using ScratchVector = std::vector<T, ScratchAllocator<T>>;

}  // namespace tarnvel::engine
