// AVX-512 window kernel of the partial ratio: eight windows per vector, each step's
// match masks fetched with one gather (the windows start at arbitrary haystack
// positions, so their masks are not contiguous); a remainder of four or more windows
// takes one AVX2 round. Returns exactly what the portable kernel (core/fuzz/partial.cpp)
// returns.
#if defined(__x86_64__)

#include <cstddef>
#include <cstdint>

#include <immintrin.h>

#include "simd/kernel_table.hpp"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx2,bmi2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx2,bmi2,popcnt")
#endif

namespace tarnvel::simd::avx512 {

static_assert(sizeof(std::size_t) == 8, "window positions are gathered as 64-bit indices");

void partial_windows_lcs(const std::uint64_t* masks, std::size_t len1, const std::size_t* pos,
                         std::size_t count, std::uint32_t* out) {
    const std::uint64_t low = len1 >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << len1) - 1;
    const auto* base = reinterpret_cast<const long long*>(masks);
    std::size_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const __m512i idx = _mm512_loadu_si512(pos + k);
        __m512i v = _mm512_set1_epi64(-1);
        for (std::size_t j = 0; j < len1; ++j) {
            const __m512i m = _mm512_mask_i64gather_epi64(_mm512_setzero_si512(), 0xFF, idx, base + j, 8);
            const __m512i u = _mm512_and_si512(v, m);
            v = _mm512_or_si512(_mm512_add_epi64(v, u), _mm512_sub_epi64(v, u));
        }
        alignas(64) std::uint64_t lanes[8];
        _mm512_store_si512(lanes, v);
        for (std::size_t l = 0; l < 8; ++l)
            out[k + l] = static_cast<std::uint32_t>(_mm_popcnt_u64(~lanes[l] & low));
    }
    for (; k + 4 <= count; k += 4) {
        const __m256i idx = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pos + k));
        __m256i v = _mm256_set1_epi64x(-1);
        for (std::size_t j = 0; j < len1; ++j) {
            const __m256i m = _mm256_i64gather_epi64(base + j, idx, 8);
            const __m256i u = _mm256_and_si256(v, m);
            v = _mm256_or_si256(_mm256_add_epi64(v, u), _mm256_sub_epi64(v, u));
        }
        alignas(32) std::uint64_t lanes[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
        for (std::size_t l = 0; l < 4; ++l)
            out[k + l] = static_cast<std::uint32_t>(_mm_popcnt_u64(~lanes[l] & low));
    }
    for (; k < count; ++k) {
        const std::uint64_t* m = masks + pos[k];
        std::uint64_t v = ~std::uint64_t{0};
        for (std::size_t j = 0; j < len1; ++j) {
            const std::uint64_t u = v & m[j];
            v = (v + u) | (v - u);
        }
        out[k] = static_cast<std::uint32_t>(_mm_popcnt_u64(~v & low));
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

void fill_partial(simd::KernelTable& t) { t.partial_windows_lcs = &partial_windows_lcs; }

const simd::KernelFiller reg(dispatch::Target::avx512, &fill_partial);

}  // namespace
}  // namespace tarnvel::simd::avx512

#endif  // __x86_64__
