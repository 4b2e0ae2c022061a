#include "dispatch/cpu.hpp"
#include "dispatch/kernels.hpp"

namespace tarnvel::dispatch {
namespace {

KernelTable build() {
    KernelTable t;
    t.target = active_target();
    constexpr FillFn kFill[] = {&fill_kernels_portable, &fill_kernels_avx2, &fill_kernels_avx512};
    for (const TargetDef& def : kTargets) {
        if (def.target > t.target) break;
        kFill[static_cast<int>(def.target)](t);
    }
    return t;
}

}  // namespace

const KernelTable& kernels() {
    static const KernelTable t = build();
    return t;
}

}  // namespace tarnvel::dispatch
