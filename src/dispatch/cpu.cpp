#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "dispatch/cpu.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define TARNVEL_X86 1
#endif

namespace tarnvel::dispatch {
namespace {

#ifdef TARNVEL_X86
std::uint64_t read_xcr0() {
    std::uint32_t lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (std::uint64_t{hi} << 32) | lo;
}
#endif

// The feature bits of targets.hpp this processor and operating system have.
std::uint32_t detect() {
    std::uint32_t f = 0;
#ifdef TARNVEL_X86
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
    if ((c >> 23) & 1) f |= kPopcnt;
    const bool osxsave = (c >> 27) & 1;
    const bool avx = (c >> 28) & 1;
    if (osxsave && avx) {
        const std::uint64_t xcr0 = read_xcr0();
        if ((xcr0 & 0x06) == 0x06) {  // SSE and AVX registers saved
            f |= kOsYmm;
            if ((xcr0 & 0xE0) == 0xE0) f |= kOsZmm;  // opmask, ZMM_Hi256, Hi16_ZMM
        }
    }
    a = b = c = d = 0;
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
        if ((b >> 3) & 1) f |= kBmi1;
        if ((b >> 5) & 1) f |= kAvx2;
        if ((b >> 8) & 1) f |= kBmi2;
        if ((b >> 16) & 1) f |= kAvx512f;
        if ((b >> 17) & 1) f |= kAvx512dq;
        if ((b >> 30) & 1) f |= kAvx512bw;
        if ((b >> 31) & 1) f |= kAvx512vl;
    }
    a = b = c = d = 0;
    if (__get_cpuid(0x80000001u, &a, &b, &c, &d) && ((c >> 5) & 1)) f |= kLzcnt;
#endif
    return f;
}

std::uint32_t features() {
    static const std::uint32_t f = detect();
    return f;
}

bool has(std::uint32_t want) { return (features() & want) == want; }

const SimdLevel* read_forced() {
    const char* v = std::getenv("TARNVEL_SIMD");
    if (!v) return nullptr;
    static const SimdLevel levels[] = {SimdLevel::portable, SimdLevel::neon, SimdLevel::avx2,
                                       SimdLevel::avx512};
    if (std::strcmp(v, "portable") == 0) return &levels[0];
    if (std::strcmp(v, "neon") == 0) return &levels[1];
    if (std::strcmp(v, "avx2") == 0) return &levels[2];
    if (std::strcmp(v, "avx512") == 0) return &levels[3];
    return nullptr;
}

Target choose_target() {
    const SimdLevel* forced = forced_level();
    Target cap = Target::avx512;
    if (forced) {
        switch (*forced) {
            case SimdLevel::portable:
            case SimdLevel::neon:
                cap = Target::portable;
                break;
            case SimdLevel::avx2:
                cap = Target::avx2;
                break;
            case SimdLevel::avx512:
                cap = Target::avx512;
                break;
        }
    }
    for (int t = static_cast<int>(cap); t > 0; --t)
        if (target_supported(static_cast<Target>(t))) return static_cast<Target>(t);
    return Target::portable;
}

}  // namespace

const SimdLevel* forced_level() {
    static const SimdLevel* const forced = read_forced();
    return forced;
}

bool target_supported(Target t) { return has(target_def(t).features); }
bool cpu_has_avx2() { return has(kAvx2 | kOsYmm); }
bool cpu_has_avx512f() { return has(kAvx512f | kOsZmm); }
bool cpu_has_avx512bw() { return has(kAvx512f | kAvx512bw | kOsZmm); }

// The lanes follow the same target definitions as the kernel table.
int simd_lanes() {
    if (const SimdLevel* f = forced_level()) return static_cast<int>(*f);
    if (target_supported(Target::avx512)) return 8;
    return target_supported(Target::avx2) ? 4 : 1;
}

Target active_target() {
    static const Target t = choose_target();
    return t;
}

const char* target_name(Target t) { return target_def(t).name; }

}  // namespace tarnvel::dispatch
