// The avx2 target: the generic kernel bodies over the AVX2 lane layer.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "core/alignment/alignment_kernels.hpp"
#include "core/common/text.hpp"
#include "core/fuzz/extract_kernels.hpp"
#include "core/levenshtein/levenshtein_packed.hpp"
#include "core/levenshtein/myers.hpp"
#include "dispatch/kernel_table.hpp"

#if defined(__x86_64__)
#include <immintrin.h>

TARNVEL_REGION_BEGIN(TARNVEL_REGION_AVX2)

#include "simd/avx2/ops.hpp"

namespace tarnvel::simd::avx2 {
namespace {
#include "simd/generic/bodies.inc"

// The scalar extraction loop, built with hardware popcnt and the wider instruction set.
void fill_own(dispatch::KernelTable& t) {
    t.indel_ratio_word_many = [](const std::uint64_t* peq, std::size_t query_len,
                                 const core::Text* choices, std::size_t count, double* out) {
        core::detail::indel_ratio_word_many_impl<true>(peq, query_len, choices, count, out);
    };
}
}  // namespace
}  // namespace tarnvel::simd::avx2

// Only called once the processor is known to have every avx2 feature.
TARNVEL_DEFINE_FILL(avx2)

TARNVEL_REGION_END()

#endif
