#include "dispatch/kernels.hpp"

#include <vector>

#include "dispatch/cpu.hpp"

namespace tarnvel::dispatch {
namespace {

struct Filler {
    Target target;
    FillFn fn;
};

// Function-local so that registrations from other translation units' static
// initialisers never see it unconstructed.
std::vector<Filler>& fillers() {
    static std::vector<Filler> v;
    return v;
}

KernelTable build() {
    KernelTable t;
    t.target = active_target();
    constexpr FillFn kFill[] = {&fill_kernels_portable, &fill_kernels_avx2, &fill_kernels_avx512};
    for (const TargetDef& def : kTargets) {
        if (def.target > t.target) break;
        kFill[static_cast<int>(def.target)](t);
        for (const Filler& f : fillers())
            if (f.target == def.target) f.fn(t);
    }
    return t;
}

}  // namespace

const KernelTable& kernels() {
    static const KernelTable t = build();
    return t;
}

// Runs during static initialisation, before any call can build the table.
KernelFiller::KernelFiller(Target target, FillFn fn) { fillers().push_back({target, fn}); }

}  // namespace tarnvel::dispatch
