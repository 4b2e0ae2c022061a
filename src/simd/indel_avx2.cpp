// AVX2-level build of the extraction hot loop (core/fuzz/extract_kernels.hpp): the same
// scalar code with hardware popcnt and the wider instruction set available to the
// compiler. Returns exactly what the portable build returns.
#if defined(__x86_64__)

#include <cstddef>
#include <cstdint>

#include "core/common/text.hpp"
#include "core/fuzz/extract_kernels.hpp"
#include "simd/kernel_table.hpp"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi2,popcnt")
#endif

namespace tarnvel::simd::avx2 {

void indel_ratio_word_many(const std::uint64_t* peq, std::size_t query_len,
                           const core::Text* choices, std::size_t count, double* out) {
    core::detail::indel_ratio_word_many_impl<true>(peq, query_len, choices, count, out);
}

}  // namespace tarnvel::simd::avx2

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace tarnvel::simd::avx2 {
namespace {

void fill_indel(simd::KernelTable& t) { t.indel_ratio_word_many = &indel_ratio_word_many; }

const simd::KernelFiller reg(dispatch::Target::avx2, &fill_indel);

}  // namespace
}  // namespace tarnvel::simd::avx2

#endif  // __x86_64__
