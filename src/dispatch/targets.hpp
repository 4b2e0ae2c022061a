// The kernel targets: per target its name, the compiler region its kernels are built in,
// and the exact processor features that region lets the compiler use. Detection
// (cpu.cpp) enables a target only when the processor has every one of its features and
// the operating system saves the registers they need (XGETBV). Both the region string
// and the feature list come from here, so the two cannot drift apart.
// To add a target: an entry here, a src/simd/<target>/ops.hpp lane layer, and a
// src/simd/<target>/kernels.cpp defining fill_kernels_<target>() (called in kernels.cpp).
#pragma once

#include <cstdint>

namespace tarnvel::dispatch {

enum class Target { portable = 0, avx2 = 1, avx512 = 2 };

// Processor features a target may require; os_ymm / os_zmm: the OS saves the AVX / AVX-512
// register state.
enum Feature : std::uint32_t {
    kPopcnt = 1u << 0,
    kLzcnt = 1u << 1,
    kBmi1 = 1u << 2,
    kBmi2 = 1u << 3,
    kAvx2 = 1u << 4,
    kAvx512f = 1u << 5,
    kAvx512bw = 1u << 6,
    kAvx512vl = 1u << 7,
    kAvx512dq = 1u << 8,
    kOsYmm = 1u << 9,
    kOsZmm = 1u << 10,
};

// Region strings, as macros because the target pragmas take literals.
#define TARNVEL_REGION_AVX2 "avx2,bmi,bmi2,popcnt,lzcnt"
#define TARNVEL_REGION_AVX512 "avx512f,avx512bw,avx512vl,avx512dq,avx2,bmi,bmi2,popcnt,lzcnt"

struct TargetDef {
    Target target;
    const char* name;
    const char* region;  // empty: baseline code
    std::uint32_t features;
};

inline constexpr std::uint32_t kAvx2Features = kAvx2 | kBmi1 | kBmi2 | kPopcnt | kLzcnt | kOsYmm;
inline constexpr std::uint32_t kAvx512Features =
    kAvx2Features | kAvx512f | kAvx512bw | kAvx512vl | kAvx512dq | kOsZmm;

// Ordered from the baseline up; each target's features include those of the one before.
inline constexpr TargetDef kTargets[] = {
    {Target::portable, "portable", "", 0},
    {Target::avx2, "avx2", TARNVEL_REGION_AVX2, kAvx2Features},
    {Target::avx512, "avx512", TARNVEL_REGION_AVX512, kAvx512Features},
};

constexpr const TargetDef& target_def(Target t) { return kTargets[static_cast<int>(t)]; }

}  // namespace tarnvel::dispatch

// Opens / closes a target region in a src/simd/<target>/kernels.cpp: every function
// defined in between is compiled for that target's features only.
#define TARNVEL_PRAGMA(x) _Pragma(#x)
#if defined(__clang__)
#define TARNVEL_REGION_BEGIN(region) \
    TARNVEL_PRAGMA(clang attribute push(__attribute__((target(region))), apply_to = function))
#define TARNVEL_REGION_END() TARNVEL_PRAGMA(clang attribute pop)
#else
#define TARNVEL_REGION_BEGIN(region) \
    TARNVEL_PRAGMA(GCC push_options) TARNVEL_PRAGMA(GCC target(region))
#define TARNVEL_REGION_END() TARNVEL_PRAGMA(GCC pop_options)
#endif
