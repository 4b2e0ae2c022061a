// Processor features, the SIMD level and the choice of kernel target.
//
// Every value here is computed once per process, lazily and thread-safely (function-local
// statics), and then read without locking. Nothing else in the library tests CPU features.
//  - simd_lanes(): 1, 2, 4 or 8; decides how many candidates a grouped kernel takes
//    together. TARNVEL_SIMD ("portable", "neon", "avx2", "avx512", exact bytes) forces it.
//  - target_supported(t): the processor has every feature of target t (targets.hpp) and the
//    operating system saves its registers (XGETBV).
//  - cpu_has_avx2() / cpu_has_avx512f() / cpu_has_avx512bw(): single features, for reports.
//  - active_target(): the instruction set kernels may use: the forced level capped by
//    what the processor has, so forcing never executes a missing instruction.
// See also: targets.hpp, kernels.hpp.
#pragma once

#include "dispatch/targets.hpp"

namespace tarnvel::dispatch {

enum class SimdLevel { portable = 1, neon = 2, avx2 = 4, avx512 = 8 };

int simd_lanes();
bool target_supported(Target t);
bool cpu_has_avx2();
bool cpu_has_avx512f();
bool cpu_has_avx512bw();  // AVX-512F plus BW (byte and word lanes)
Target active_target();
const char* target_name(Target t);

// The forced level, or nullptr when TARNVEL_SIMD does not name one.
const SimdLevel* forced_level();

}  // namespace tarnvel::dispatch
