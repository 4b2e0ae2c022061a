#include "dispatch/cpu.hpp"
#include "dispatch/kernels.hpp"

namespace tarnvel::dispatch {

#if !defined(__x86_64__)
// The vector targets are built for x86-64 only; elsewhere they add no kernels.
void fill_kernels_avx2(KernelTable&) {}
void fill_kernels_avx512(KernelTable&) {}
#endif

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
