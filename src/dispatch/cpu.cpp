#include "dispatch/cpu.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define TARNVEL_X86 1
#endif

namespace tarnvel::dispatch {
namespace {

struct Features {
    bool avx2 = false;
    bool avx512f = false;
    bool avx512bw = false;
};

#ifdef TARNVEL_X86
std::uint64_t read_xcr0() {
    std::uint32_t lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (std::uint64_t{hi} << 32) | lo;
}
#endif

Features detect() {
    Features f;
#ifdef TARNVEL_X86
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
    const bool osxsave = (c >> 27) & 1;
    if (!osxsave) return f;
    const std::uint64_t xcr0 = read_xcr0();
    const bool avx_state = (xcr0 & 0x06) == 0x06;             // SSE and AVX registers saved
    const bool zmm_state = avx_state && (xcr0 & 0xE0) == 0xE0;  // opmask, ZMM_Hi256, Hi16_ZMM
    a = b = c = d = 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return f;
    f.avx2 = avx_state && ((b >> 5) & 1);
    f.avx512f = zmm_state && ((b >> 16) & 1);
    f.avx512bw = f.avx512f && ((b >> 30) & 1);
#endif
    return f;
}

const Features& features() {
    static const Features f = detect();
    return f;
}

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
            case SimdLevel::neon: cap = Target::portable; break;
            case SimdLevel::avx2: cap = Target::avx2; break;
            case SimdLevel::avx512: cap = Target::avx512; break;
        }
    }
    if (cap == Target::avx512 && cpu_has_avx512bw()) return Target::avx512;
    if (cap != Target::portable && cpu_has_avx2()) return Target::avx2;
    return Target::portable;
}

}  // namespace

const SimdLevel* forced_level() {
    static const SimdLevel* const forced = read_forced();
    return forced;
}

bool cpu_has_avx2() { return features().avx2; }
bool cpu_has_avx512f() { return features().avx512f; }
bool cpu_has_avx512bw() { return features().avx512bw; }

int simd_lanes() {
    if (const SimdLevel* f = forced_level()) return static_cast<int>(*f);
    if (cpu_has_avx512f()) return 8;
    return cpu_has_avx2() ? 4 : 1;
}

Target active_target() {
    static const Target t = choose_target();
    return t;
}

const char* target_name(Target t) {
    switch (t) {
        case Target::avx2: return "avx2";
        case Target::avx512: return "avx512";
        default: return "portable";
    }
}

}  // namespace tarnvel::dispatch
