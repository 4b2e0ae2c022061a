// AVX-512 Jaro kernels: jaro_8way (eight 64-bit lanes, AVX-512F only) and the packed-lane
// kernels of the batches (8/16/32/64-bit lanes, 64/32/16/8 candidates per vector; the
// byte and word lanes need AVX-512BW, which the avx512 target guarantees).
// See also: core/jaro/jaro_lanes_body.inc, jaro_avx2.cpp, core/jaro/jaro.cpp.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/jaro/jaro_scalar.hpp"
#include "core/jaro/jaro_simd.hpp"
#include "simd/kernel_table.hpp"

#if defined(__x86_64__)
// GCC 12 reports false "may be used uninitialized" warnings from its AVX-512 headers
// (GCC bug 105593); they concern the headers' own temporaries.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx2,bmi,bmi2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx2,bmi,bmi2,popcnt")
#endif

namespace tarnvel::simd::avx512 {
namespace {

template <typename L>
struct Ops;

#define TARNVEL_JARO_AVX512_OPS(L, W, CT)                                                  \
    template <>                                                                            \
    struct Ops<L> {                                                                        \
        using V = __m512i;                                                                 \
        using Lane = L;                                                                    \
        static constexpr std::size_t kLanes = 64 / sizeof(L);                              \
        static V zero() { return _mm512_setzero_si512(); }                                 \
        static V set1(L x) { return _mm512_set1_epi##W(static_cast<CT>(x)); }              \
        static V load(const void* p) { return _mm512_loadu_si512(p); }                     \
        static void store(void* p, V v) { _mm512_storeu_si512(p, v); }                     \
        static V and_(V a, V b) { return _mm512_and_si512(a, b); }                         \
        static V or_(V a, V b) { return _mm512_or_si512(a, b); }                           \
        static V xor_(V a, V b) { return _mm512_xor_si512(a, b); }                         \
        static V andnot(V a, V b) { return _mm512_andnot_si512(a, b); }                    \
        static V add(V a, V b) { return _mm512_add_epi##W(a, b); }                         \
        static V sub(V a, V b) { return _mm512_sub_epi##W(a, b); }                         \
        static V cmpgt(V a, V b) {                                                         \
            return _mm512_maskz_set1_epi##W(_mm512_cmpgt_epi##W##_mask(a, b), static_cast<CT>(-1));     \
        }                                                                                  \
        static V cmpeq(V a, V b) {                                                         \
            return _mm512_maskz_set1_epi##W(_mm512_cmpeq_epi##W##_mask(a, b), static_cast<CT>(-1));     \
        }                                                                                  \
    };

TARNVEL_JARO_AVX512_OPS(std::uint8_t, 8, char)
TARNVEL_JARO_AVX512_OPS(std::uint16_t, 16, short)
TARNVEL_JARO_AVX512_OPS(std::uint32_t, 32, int)
TARNVEL_JARO_AVX512_OPS(std::uint64_t, 64, long long)
#undef TARNVEL_JARO_AVX512_OPS

#include "core/jaro/jaro_lanes_body.inc"

void lanes8(const void* t, const std::uint16_t* q, std::size_t n, const std::uint8_t* w,
            std::uint8_t* m, std::uint8_t* tr) {
    jaro_lanes_impl<Ops<std::uint8_t>>(t, q, n, w, m, tr);
}
void lanes16(const void* t, const std::uint16_t* q, std::size_t n, const std::uint8_t* w,
             std::uint8_t* m, std::uint8_t* tr) {
    jaro_lanes_impl<Ops<std::uint16_t>>(t, q, n, w, m, tr);
}
void lanes32(const void* t, const std::uint16_t* q, std::size_t n, const std::uint8_t* w,
             std::uint8_t* m, std::uint8_t* tr) {
    jaro_lanes_impl<Ops<std::uint32_t>>(t, q, n, w, m, tr);
}
void lanes64(const void* t, const std::uint16_t* q, std::size_t n, const std::uint8_t* w,
             std::uint8_t* m, std::uint8_t* tr) {
    jaro_lanes_impl<Ops<std::uint64_t>>(t, q, n, w, m, tr);
}

void fill(simd::KernelTable& k) {
    k.jaro_vec_bytes = 64;
    k.jaro_lanes[0] = &lanes8;
    k.jaro_lanes[1] = &lanes16;
    k.jaro_lanes[2] = &lanes32;
    k.jaro_lanes[3] = &lanes64;
}

const simd::KernelFiller reg(dispatch::Target::avx512, &fill);

}  // namespace

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,popcnt,bmi"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,popcnt,bmi")
#endif

// Eight 64-bit lanes with AVX-512F instructions only; table[c][l] as in jaro_4way.
void jaro_8way_kernel(const std::uint8_t* a, std::size_t la, const std::uint8_t* const* c,
                      const std::size_t* lc, double* out) {
    alignas(64) std::uint64_t table[256][8];
    std::memset(table, 0, sizeof(table));
    alignas(64) std::uint64_t wl[8], last[8], lenmask[8];
    for (int l = 0; l < 8; ++l) {
        for (std::size_t k = 0; k < lc[l]; ++k) table[c[l][k]][l] |= std::uint64_t{1} << k;
        wl[l] = core::jaro_window(la, lc[l]);
        last[l] = lc[l] == 0 ? 0 : lc[l] - 1;
        lenmask[l] = lc[l] >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << lc[l]) - 1;
    }
    const __m512i w = _mm512_load_si512(wl);
    const __m512i lastv = _mm512_load_si512(last);
    const __m512i lm = _mm512_load_si512(lenmask);
    const __m512i ones = _mm512_set1_epi64(-1);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i one = _mm512_set1_epi64(1);
    __m512i F = zero, A = zero, M = zero;
    for (std::size_t i = 0; i < la; ++i) {
        const __m512i iv = _mm512_set1_epi64(static_cast<long long>(i));
        const __m512i lo = _mm512_max_epi64(_mm512_sub_epi64(iv, w), zero);
        const __m512i hi = _mm512_min_epu64(_mm512_add_epi64(iv, w), lastv);
        const __m512i below = _mm512_andnot_si512(_mm512_sllv_epi64(ones, _mm512_add_epi64(hi, one)), ones);
        const __m512i R = _mm512_and_si512(_mm512_and_si512(lm, _mm512_sllv_epi64(ones, lo)), below);
        const __m512i C = _mm512_and_si512(_mm512_load_si512(table[a[i]]), R);
        const __m512i N = _mm512_andnot_si512(F, C);
        const __mmask8 hit = _mm512_test_epi64_mask(N, N);
        F = _mm512_or_si512(F, _mm512_and_si512(N, _mm512_sub_epi64(zero, N)));
        A = _mm512_mask_or_epi64(A, hit, A, _mm512_set1_epi64(static_cast<long long>(std::uint64_t{1} << i)));
        M = _mm512_mask_add_epi64(M, hit, M, one);
    }
    alignas(64) std::uint64_t fs[8], as[8], ms[8];
    _mm512_store_si512(fs, F);
    _mm512_store_si512(as, A);
    _mm512_store_si512(ms, M);
    for (int l = 0; l < 8; ++l) {
        if (ms[l] == 0) {
            out[l] = 0.0;
            continue;
        }
        std::uint64_t t = 0, x = as[l], y = fs[l];
        while (x) {
            t += a[std::countr_zero(x)] != c[l][std::countr_zero(y)];
            x &= x - 1;
            y &= y - 1;
        }
        out[l] = core::jaro_finish(ms[l], t, la, lc[l]);
    }
}

}  // namespace tarnvel::simd::avx512

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
