#include "dispatch/kernels.hpp"

#include <vector>

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
    for (Target level : {Target::portable, Target::avx2, Target::avx512}) {
        if (level > t.target) break;
        for (const Filler& f : fillers())
            if (f.target == level) f.fn(t);
    }
    return t;
}

}  // namespace

const KernelTable& kernels() {
    static const KernelTable t = build();
    return t;
}

}  // namespace tarnvel::dispatch

namespace tarnvel::simd {

// Runs during static initialisation, before any call can build the table.
KernelFiller::KernelFiller(Target target, FillFn fn) { dispatch::fillers().push_back({target, fn}); }

}  // namespace tarnvel::simd
