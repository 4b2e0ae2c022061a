// AVX-512 (F, BW, VL, DQ) Needleman-Wunsch kernels: the exact striped and anti-diagonal
// sweeps of simd/generic/alignment.inc,
// on 512-bit vectors of 16-, 32- and 64-bit lanes.
//
// Used only for pairs whose scores prove that no value can saturate (see
// core/alignment/alignment.cpp), so they return exactly the portable result. Only reached
// after the processor reported AVX-512 (F, BW, VL, DQ).
// See also: avx2/alignment.cpp, simd/generic/alignment.inc.
#include <cstddef>
#include <cstdint>

#include "core/alignment/alignment_kernels.hpp"
#include "dispatch/kernel_table.hpp"

#if defined(__x86_64__)
#include <immintrin.h>

// GCC 12 reports false "may be used uninitialized" warnings from its AVX-512 headers
// (bug 105593).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#if defined(__clang__)
#pragma clang attribute push(                                                       \
    __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,avx2,bmi2,popcnt"))), \
    apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512dq,avx2,bmi2,popcnt")
#endif

namespace tarnvel::simd::avx512 {
namespace {

inline __m512i loadv(const void* p) { return _mm512_loadu_si512(p); }
inline void storev(void* p, __m512i v) { _mm512_storeu_si512(p, v); }

template <class TT, class SS>
struct OpsBase {
    using T = TT;
    using S = SS;
    using V = __m512i;
    static constexpr std::size_t L = 64 / sizeof(T);
    static V load(const T* p) { return loadv(p); }
    static void store(T* p, V v) { storev(p, v); }
    static V steps(T x) {
        alignas(64) T tmp[L];
        for (std::size_t j = 0; j < L; ++j)
            tmp[j] = static_cast<T>(static_cast<std::int64_t>(x) * static_cast<std::int64_t>(j));
        return loadv(tmp);
    }
};

struct Ops16 : OpsBase<std::int16_t, std::uint16_t> {
    static V set1(T x) { return _mm512_set1_epi16(x); }
    static V add(V x, V y) { return _mm512_add_epi16(x, y); }
    static V max(V x, V y) { return _mm512_max_epi16(x, y); }
    static V select_eq(const S* a, const S* b, V eq, V ne) {
        return _mm512_mask_blend_epi16(_mm512_cmpeq_epi16_mask(loadv(a), loadv(b)), ne, eq);
    }
    // Lane 0 from lane 31 of prev, lane j from lane j - 1 of cur (indices >= 32 pick cur).
    static V shift_in(V prev, V cur) {
        const V idx =
            _mm512_set_epi16(62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45,
                             44, 43, 42, 41, 40, 39, 38, 37, 36, 35, 34, 33, 32, 31);
        return _mm512_permutex2var_epi16(prev, idx, cur);
    }
    static V load_sym(const S* p) { return loadv(p); }
    static V eq_select(V x, V y, V eq, V ne) {
        return _mm512_mask_blend_epi16(_mm512_cmpeq_epi16_mask(x, y), ne, eq);
    }
    static V blend_from(V rows, T d, V x, V y) {
        return _mm512_mask_blend_epi16(_mm512_cmpge_epi16_mask(rows, set1(d)), y, x);
    }
    static bool any_gt(V x, V y) { return _mm512_cmpgt_epi16_mask(x, y) != 0; }
};

struct Ops32 : OpsBase<std::int32_t, std::uint32_t> {
    static V set1(T x) { return _mm512_set1_epi32(x); }
    static V add(V x, V y) { return _mm512_add_epi32(x, y); }
    static V max(V x, V y) { return _mm512_max_epi32(x, y); }
    static V select_eq(const S* a, const S* b, V eq, V ne) {
        return _mm512_mask_blend_epi32(_mm512_cmpeq_epi32_mask(loadv(a), loadv(b)), ne, eq);
    }
    static V shift_in(V prev, V cur) { return _mm512_alignr_epi32(cur, prev, 15); }
    static V blend_from(V rows, T d, V x, V y) {
        return _mm512_mask_blend_epi32(_mm512_cmpge_epi32_mask(rows, set1(d)), y, x);
    }
    static V load_sym(const S* p) { return loadv(p); }
    static V eq_select(V x, V y, V eq, V ne) {
        return _mm512_mask_blend_epi32(_mm512_cmpeq_epi32_mask(x, y), ne, eq);
    }
    static bool any_gt(V x, V y) { return _mm512_cmpgt_epi32_mask(x, y) != 0; }
};

struct Ops64 : OpsBase<std::int64_t, std::uint64_t> {
    static V set1(T x) { return _mm512_set1_epi64(x); }
    static V add(V x, V y) { return _mm512_add_epi64(x, y); }
    static V max(V x, V y) { return _mm512_max_epi64(x, y); }
    static V select_eq(const S* a, const S* b, V eq, V ne) {
        return _mm512_mask_blend_epi64(_mm512_cmpeq_epi64_mask(loadv(a), loadv(b)), ne, eq);
    }
    static V shift_in(V prev, V cur) { return _mm512_alignr_epi64(cur, prev, 7); }
    static V blend_from(V rows, T d, V x, V y) {
        return _mm512_mask_blend_epi64(_mm512_cmpge_epi64_mask(rows, set1(d)), y, x);
    }
    static V load_sym(const S* p) { return loadv(p); }
    static V eq_select(V x, V y, V eq, V ne) {
        return _mm512_mask_blend_epi64(_mm512_cmpeq_epi64_mask(x, y), ne, eq);
    }
    static bool any_gt(V x, V y) { return _mm512_cmpgt_epi64_mask(x, y) != 0; }
};

#include "simd/generic/alignment.inc"

}  // namespace

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#pragma GCC diagnostic pop

void fill_alignment_avx512(dispatch::KernelTable& t) { fill_alignment_slots(t); }

}  // namespace tarnvel::simd::avx512

#endif  // __x86_64__
