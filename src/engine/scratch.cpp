// The block cache behind ScratchAllocator (see scratch.hpp).
#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "engine/scratch.hpp"

namespace tarnvel::engine {
namespace {

// A large block starts with this header; the caller's storage follows it.
constexpr std::size_t kHeader = 64;
constexpr std::size_t kSlots = 8;

struct Cache {
    std::mutex mu;
    void* block[kSlots] = {};
    std::size_t cap[kSlots] = {};
    std::size_t bytes = 0;
};

Cache& cache() {
    static Cache* c = new Cache;  // leaked: blocks may be freed during static destruction
    return *c;
}

std::size_t& capacity_of(void* block) { return *static_cast<std::size_t*>(block); }

}  // namespace

void* scratch_alloc(std::size_t bytes) {
    if (bytes < kScratchMin) return ::operator new(bytes);
    Cache& c = cache();
    void* found = nullptr;
    if (c.mu.try_lock()) {
        // Best fit, but never a block more than 4x too big for the request.
        std::size_t best = kSlots;
        for (std::size_t i = 0; i < kSlots; ++i) {
            if (c.block[i] && c.cap[i] >= bytes && c.cap[i] / 4 <= bytes &&
                (best == kSlots || c.cap[i] < c.cap[best]))
                best = i;
        }
        if (best != kSlots) {
            found = c.block[best];
            c.bytes -= c.cap[best];
            c.block[best] = nullptr;
        }
        c.mu.unlock();
    }
    if (!found) {
        if (bytes > static_cast<std::size_t>(-1) - 2 * kHeader) throw std::bad_alloc();
        found = std::aligned_alloc(kHeader, (bytes + kHeader + kHeader - 1) / kHeader * kHeader);
        if (!found) throw std::bad_alloc();
        capacity_of(found) = bytes;
    }
    return static_cast<char*>(found) + kHeader;
}

void scratch_free(void* p, std::size_t bytes) noexcept {
    if (!p) return;
    if (bytes < kScratchMin) {
        ::operator delete(p);
        return;
    }
    void* block = static_cast<char*>(p) - kHeader;
    const std::size_t cap = capacity_of(block);
    Cache& c = cache();
    if (cap <= kCacheBytes && c.mu.try_lock()) {
        // Make room by dropping smaller blocks, which serve fewer requests.
        void* drop[kSlots];
        std::size_t n_drop = 0;
        std::size_t slot = kSlots;
        for (std::size_t i = 0; i < kSlots; ++i) {
            if (!c.block[i]) slot = i;
        }
        while (slot == kSlots || c.bytes + cap > kCacheBytes) {
            std::size_t smallest = kSlots;
            for (std::size_t i = 0; i < kSlots; ++i) {
                if (c.block[i] && (smallest == kSlots || c.cap[i] < c.cap[smallest])) smallest = i;
            }
            if (smallest == kSlots || c.cap[smallest] > cap) break;
            drop[n_drop++] = c.block[smallest];
            c.bytes -= c.cap[smallest];
            c.block[smallest] = nullptr;
            slot = smallest;
        }
        const bool kept = slot != kSlots && c.bytes + cap <= kCacheBytes;
        if (kept) {
            c.block[slot] = block;
            c.cap[slot] = cap;
            c.bytes += cap;
        }
        c.mu.unlock();
        for (std::size_t i = 0; i < n_drop; ++i) std::free(drop[i]);
        if (kept) return;
    }
    std::free(block);
}

std::size_t scratch_cached_bytes() noexcept {
    Cache& c = cache();
    const std::lock_guard<std::mutex> lock(c.mu);
    return c.bytes;
}

}  // namespace tarnvel::engine
