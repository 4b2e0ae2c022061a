// AVX2 Needleman-Wunsch kernels: the exact striped and anti-diagonal sweeps of
// simd/generic/alignment.inc,
// on 256-bit vectors of 16-, 32- and 64-bit lanes.
//
// Used only for pairs whose scores prove that no value can saturate (see
// core/alignment/alignment.cpp), so they return exactly the portable result. Only reached
// after the processor reported AVX2.
// See also: avx512/alignment.cpp, simd/generic/alignment.inc.
#include <cstddef>
#include <cstdint>

#include "core/alignment/alignment_kernels.hpp"
#include "dispatch/kernel_table.hpp"

#if defined(__x86_64__)
#include <immintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi2,popcnt")
#endif

namespace tarnvel::simd::avx2 {
namespace {

inline __m256i loadv(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
inline void storev(void* p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }

template <class TT, class SS>
struct OpsBase {
    using T = TT;
    using S = SS;
    using V = __m256i;
    static constexpr std::size_t L = 32 / sizeof(T);
    static V load(const T* p) { return loadv(p); }
    static void store(T* p, V v) { storev(p, v); }
    static V steps(T x) {
        alignas(32) T tmp[L];
        for (std::size_t j = 0; j < L; ++j)
            tmp[j] = static_cast<T>(static_cast<std::int64_t>(x) * static_cast<std::int64_t>(j));
        return loadv(tmp);
    }
};

struct Ops16 : OpsBase<std::int16_t, std::uint16_t> {
    static V set1(T x) { return _mm256_set1_epi16(x); }
    static V add(V x, V y) { return _mm256_add_epi16(x, y); }
    static V max(V x, V y) { return _mm256_max_epi16(x, y); }
    static V select_eq(const S* a, const S* b, V eq, V ne) {
        return _mm256_blendv_epi8(ne, eq, _mm256_cmpeq_epi16(loadv(a), loadv(b)));
    }
    static V shift_in(V prev, V cur) {
        return _mm256_alignr_epi8(cur, _mm256_permute2x128_si256(prev, cur, 0x21), 14);
    }
    static V load_sym(const S* p) { return loadv(p); }
    static V eq_select(V x, V y, V eq, V ne) {
        return _mm256_blendv_epi8(ne, eq, _mm256_cmpeq_epi16(x, y));
    }
    static V blend_from(V rows, T d, V x, V y) {
        return _mm256_blendv_epi8(y, x, _mm256_cmpgt_epi16(rows, set1(static_cast<T>(d - 1))));
    }
    static bool any_gt(V x, V y) { return _mm256_movemask_epi8(_mm256_cmpgt_epi16(x, y)) != 0; }
};

struct Ops32 : OpsBase<std::int32_t, std::uint32_t> {
    static V set1(T x) { return _mm256_set1_epi32(x); }
    static V add(V x, V y) { return _mm256_add_epi32(x, y); }
    static V max(V x, V y) { return _mm256_max_epi32(x, y); }
    static V select_eq(const S* a, const S* b, V eq, V ne) {
        return _mm256_blendv_epi8(ne, eq, _mm256_cmpeq_epi32(loadv(a), loadv(b)));
    }
    static V shift_in(V prev, V cur) {
        return _mm256_alignr_epi8(cur, _mm256_permute2x128_si256(prev, cur, 0x21), 12);
    }
    static V blend_from(V rows, T d, V x, V y) {
        return _mm256_blendv_epi8(y, x, _mm256_cmpgt_epi32(rows, set1(d - 1)));
    }
    static V load_sym(const S* p) { return loadv(p); }
    static V eq_select(V x, V y, V eq, V ne) {
        return _mm256_blendv_epi8(ne, eq, _mm256_cmpeq_epi32(x, y));
    }
    static bool any_gt(V x, V y) { return _mm256_movemask_epi8(_mm256_cmpgt_epi32(x, y)) != 0; }
};

struct Ops64 : OpsBase<std::int64_t, std::uint64_t> {
    static V set1(T x) { return _mm256_set1_epi64x(x); }
    static V add(V x, V y) { return _mm256_add_epi64(x, y); }
    static V max(V x, V y) { return _mm256_blendv_epi8(x, y, _mm256_cmpgt_epi64(y, x)); }
    static V select_eq(const S* a, const S* b, V eq, V ne) {
        return _mm256_blendv_epi8(ne, eq, _mm256_cmpeq_epi64(loadv(a), loadv(b)));
    }
    static V shift_in(V prev, V cur) {
        return _mm256_alignr_epi8(cur, _mm256_permute2x128_si256(prev, cur, 0x21), 8);
    }
    static V blend_from(V rows, T d, V x, V y) {
        return _mm256_blendv_epi8(y, x, _mm256_cmpgt_epi64(rows, set1(d - 1)));
    }
    static V load_sym(const S* p) { return loadv(p); }
    static V eq_select(V x, V y, V eq, V ne) {
        return _mm256_blendv_epi8(ne, eq, _mm256_cmpeq_epi64(x, y));
    }
    static bool any_gt(V x, V y) { return _mm256_movemask_epi8(_mm256_cmpgt_epi64(x, y)) != 0; }
};

#include "simd/generic/alignment.inc"

}  // namespace

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

void fill_alignment_avx2(dispatch::KernelTable& t) { fill_alignment_slots(t); }

}  // namespace tarnvel::simd::avx2

#endif  // __x86_64__
