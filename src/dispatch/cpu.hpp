// Processor features, the SIMD level and the choice of kernel target.
//
// Every value here is computed once per process, lazily and thread-safely (function-local
// statics), and then read without locking. Nothing else in the library tests CPU features.
//  - simd_lanes(): 1, 2, 4 or 8; decides how many candidates a grouped kernel takes
//    together. TARNVEL_SIMD ("portable", "neon", "avx2", "avx512", exact bytes) forces it.
//  - cpu_has_avx2() / cpu_has_avx512f() / cpu_has_avx512bw(): what the processor and the
//    operating system really support (CPUID leaf 7 plus XGETBV).
//  - active_target(): the instruction set kernels may use: the forced level capped by
//    what the processor has, so forcing never executes a missing instruction.
// See also: kernels.hpp, targets.md.
#pragma once

namespace tarnvel::dispatch {

enum class SimdLevel { portable = 1, neon = 2, avx2 = 4, avx512 = 8 };
enum class Target { portable = 0, avx2 = 1, avx512 = 2 };

int simd_lanes();
bool cpu_has_avx2();
bool cpu_has_avx512f();
bool cpu_has_avx512bw();  // AVX-512F plus BW (byte and word lanes)
Target active_target();
const char* target_name(Target t);

// The forced level, or nullptr when TARNVEL_SIMD does not name one.
const SimdLevel* forced_level();

}  // namespace tarnvel::dispatch
