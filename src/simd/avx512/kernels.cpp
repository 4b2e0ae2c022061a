// The avx512 target (AVX-512 F, BW, VL, DQ): the generic kernel bodies over the AVX-512
// lane layer, and the indel lanes, which only this target has.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "core/alignment/alignment_kernels.hpp"
#include "core/common/text.hpp"
#include "core/fuzz/ratio_formula.hpp"
#include "core/levenshtein/levenshtein_packed.hpp"
#include "core/levenshtein/myers.hpp"
#include "dispatch/kernel_table.hpp"

#if defined(__x86_64__)
// GCC 12 reports false "may be used uninitialized" warnings from its AVX-512 headers
// (GCC bug 105593); they concern the headers' own temporaries.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>

TARNVEL_REGION_BEGIN(TARNVEL_REGION_AVX512)

#include "simd/avx512/ops.hpp"

namespace tarnvel::simd::avx512 {
namespace {
#include "simd/generic/bodies.inc"
// After the bodies: the indel lanes use their lcs_step.
#include "simd/avx512/indel_lanes.inc"

void fill_own(dispatch::KernelTable& t) {
    t.indel_lanes[0] = &run_lanes<16>;
    t.indel_lanes[1] = &run_lanes<32>;
}
}  // namespace
}  // namespace tarnvel::simd::avx512

// Only called once the processor is known to have every avx512 feature.
TARNVEL_DEFINE_FILL(avx512)

TARNVEL_REGION_END()

#endif
