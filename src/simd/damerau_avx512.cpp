// AVX-512 row passes of the Damerau-Levenshtein scan (sixteen columns per vector; see
// damerau_avx2.cpp for the scheme). The tails use masked loads and stores.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "core/damerau/damerau_simd.hpp"
#include "simd/kernel_table.hpp"

#if defined(__x86_64__)
#include <immintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx2,bmi2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx2,bmi2,popcnt")
#endif

namespace tarnvel::simd::avx512 {

void dl_row_base(const std::uint32_t* r1, const std::uint32_t* bid, std::uint32_t ai,
                 std::uint32_t* w, std::size_t m) {
    const __m512i one = _mm512_set1_epi32(1);
    const __m512i aiv = _mm512_set1_epi32(static_cast<int>(ai));
    for (std::size_t j = 1; j <= m; j += 16) {
        const std::size_t left = m + 1 - j;
        const __mmask16 k = left >= 16 ? static_cast<__mmask16>(0xFFFF)
                                       : static_cast<__mmask16>((1u << left) - 1);
        const __m512i diag = _mm512_maskz_loadu_epi32(k, r1 + j - 1);
        const __m512i up = _mm512_maskz_loadu_epi32(k, r1 + j);
        const __m512i sym = _mm512_maskz_loadu_epi32(k, bid + j - 1);
        const __mmask16 differ = _mm512_cmpneq_epi32_mask(sym, aiv);
        const __m512i sub = _mm512_mask_add_epi32(diag, differ, diag, one);
        _mm512_mask_storeu_epi32(w + j, k, _mm512_min_epu32(sub, _mm512_add_epi32(up, one)));
    }
}

void dl_row_scan(const std::uint32_t* w, std::uint32_t* r0, std::size_t m, std::uint32_t start) {
    const __m512i iota = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512i inf = _mm512_set1_epi32(0x7FFFFFFF);
    r0[0] = start;
    std::uint32_t carry = start;
    for (std::size_t j = 1; j <= m; j += 16) {
        const std::size_t left = m + 1 - j;
        const std::size_t cnt = left < 16 ? left : 16;
        const __mmask16 k = cnt == 16 ? static_cast<__mmask16>(0xFFFF)
                                      : static_cast<__mmask16>((1u << cnt) - 1);
        __m512i u = _mm512_sub_epi32(_mm512_mask_loadu_epi32(inf, k, w + j), iota);
        u = _mm512_min_epi32(u, _mm512_alignr_epi32(u, inf, 15));
        u = _mm512_min_epi32(u, _mm512_alignr_epi32(u, inf, 14));
        u = _mm512_min_epi32(u, _mm512_alignr_epi32(u, inf, 12));
        u = _mm512_min_epi32(u, _mm512_alignr_epi32(u, inf, 8));
        u = _mm512_min_epi32(u, _mm512_set1_epi32(static_cast<int>(carry + 1)));
        _mm512_mask_storeu_epi32(r0 + j, k, _mm512_add_epi32(u, iota));
        carry = r0[j + cnt - 1];
    }
}

}  // namespace tarnvel::simd::avx512

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace tarnvel::simd::avx512 {
namespace {

void fill(simd::KernelTable& t) {
    t.dl_row_base = &dl_row_base;
    t.dl_row_scan = &dl_row_scan;
}

const simd::KernelFiller reg(dispatch::Target::avx512, &fill);

}  // namespace
}  // namespace tarnvel::simd::avx512
#endif
