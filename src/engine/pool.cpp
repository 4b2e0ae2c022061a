// Serial placeholder of the pool entry point (see parallel.hpp).
#include "engine/parallel.hpp"

namespace tarnvel::engine {

void run_range(std::size_t units, void* ctx, RangeFn fn) {
    if (units) fn(ctx, 0, units);
}

std::size_t worker_count() { return 1; }

}  // namespace tarnvel::engine
