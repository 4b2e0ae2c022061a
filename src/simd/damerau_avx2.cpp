// AVX2 row passes of the Damerau-Levenshtein scan: the substitution/deletion minimum of
// eight columns at once, and the insertion prefix scan r[j] = min(w[j], r[j-1] + 1) as a
// prefix minimum of w[k] - k inside each vector (three shift-and-min steps) plus the
// carry from the vector before.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "core/damerau/damerau_simd.hpp"
#include "simd/kernel_table.hpp"

#if defined(__x86_64__)
#include <immintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi2,popcnt")
#endif

namespace tarnvel::simd::avx2 {

void dl_row_base(const std::uint32_t* r1, const std::uint32_t* bid, std::uint32_t ai,
                 std::uint32_t* w, std::size_t m) {
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i aiv = _mm256_set1_epi32(static_cast<int>(ai));
    std::size_t j = 1;
    for (; j + 8 <= m + 1; j += 8) {
        const __m256i diag = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r1 + j - 1));
        const __m256i up = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r1 + j));
        const __m256i sym = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bid + j - 1));
        // diag + 1, minus one where the symbols match (cmpeq gives -1 there)
        const __m256i sub = _mm256_add_epi32(_mm256_add_epi32(diag, one), _mm256_cmpeq_epi32(sym, aiv));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(w + j),
                            _mm256_min_epu32(sub, _mm256_add_epi32(up, one)));
    }
    for (; j <= m; ++j) w[j] = std::min(r1[j - 1] + (bid[j - 1] != ai), r1[j] + 1);
}

void dl_row_scan(const std::uint32_t* w, std::uint32_t* r0, std::size_t m, std::uint32_t start) {
    const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i inf = _mm256_set1_epi32(0x7FFFFFFF);
    const __m256i sh1 = _mm256_setr_epi32(0, 0, 1, 2, 3, 4, 5, 6);
    const __m256i sh2 = _mm256_setr_epi32(0, 0, 0, 1, 2, 3, 4, 5);
    const __m256i sh4 = _mm256_setr_epi32(0, 0, 0, 0, 0, 1, 2, 3);
    r0[0] = start;
    std::uint32_t carry = start;
    std::size_t j = 1;
    for (; j + 8 <= m + 1; j += 8) {
        __m256i u = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + j)), iota);
        u = _mm256_min_epi32(u, _mm256_blend_epi32(_mm256_permutevar8x32_epi32(u, sh1), inf, 0x01));
        u = _mm256_min_epi32(u, _mm256_blend_epi32(_mm256_permutevar8x32_epi32(u, sh2), inf, 0x03));
        u = _mm256_min_epi32(u, _mm256_blend_epi32(_mm256_permutevar8x32_epi32(u, sh4), inf, 0x0F));
        u = _mm256_min_epi32(u, _mm256_set1_epi32(static_cast<int>(carry + 1)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(r0 + j), _mm256_add_epi32(u, iota));
        carry = r0[j + 7];
    }
    for (; j <= m; ++j) {
        carry = std::min(w[j], carry + 1);
        r0[j] = carry;
    }
}

}  // namespace tarnvel::simd::avx2

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace tarnvel::simd::avx2 {
namespace {

void fill(simd::KernelTable& t) {
    t.dl_row_base = &dl_row_base;
    t.dl_row_scan = &dl_row_scan;
}

const simd::KernelFiller reg(dispatch::Target::avx2, &fill);

}  // namespace
}  // namespace tarnvel::simd::avx2
#endif
