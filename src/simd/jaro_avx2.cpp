// AVX2 Jaro kernels: the four-lane jaro_4way kernel (four 64-bit lanes, one 256-entry
// mask table per lane) and the packed-lane kernels of the batches (8/16/32/64-bit lanes,
// 32/16/8/4 candidates per vector).
// See also: core/jaro/jaro_lanes_body.inc, jaro_avx512.cpp, core/jaro/jaro.cpp.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/jaro/jaro_scalar.hpp"
#include "core/jaro/jaro_simd.hpp"
#include "simd/kernel_table.hpp"

#if defined(__x86_64__)
#include <immintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi,bmi2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi,bmi2,popcnt")
#endif

namespace tarnvel::simd::avx2 {
namespace {

template <typename L>
struct Ops;

#define TARNVEL_JARO_AVX2_OPS(L, W, S, CT)                                                 \
    template <>                                                                            \
    struct Ops<L> {                                                                        \
        using V = __m256i;                                                                 \
        using Lane = L;                                                                    \
        static constexpr std::size_t kLanes = 32 / sizeof(L);                              \
        static V zero() { return _mm256_setzero_si256(); }                                 \
        static V set1(L x) { return _mm256_set1_epi##S(static_cast<CT>(x)); }              \
        static V load(const void* p) { return _mm256_loadu_si256(static_cast<const V*>(p)); } \
        static void store(void* p, V v) { _mm256_storeu_si256(static_cast<V*>(p), v); }    \
        static V and_(V a, V b) { return _mm256_and_si256(a, b); }                         \
        static V or_(V a, V b) { return _mm256_or_si256(a, b); }                           \
        static V xor_(V a, V b) { return _mm256_xor_si256(a, b); }                         \
        static V andnot(V a, V b) { return _mm256_andnot_si256(a, b); }                    \
        static V add(V a, V b) { return _mm256_add_epi##W(a, b); }                         \
        static V sub(V a, V b) { return _mm256_sub_epi##W(a, b); }                         \
        static V cmpgt(V a, V b) { return _mm256_cmpgt_epi##W(a, b); }                     \
        static V cmpeq(V a, V b) { return _mm256_cmpeq_epi##W(a, b); }                     \
    };

TARNVEL_JARO_AVX2_OPS(std::uint8_t, 8, 8, char)
TARNVEL_JARO_AVX2_OPS(std::uint16_t, 16, 16, short)
TARNVEL_JARO_AVX2_OPS(std::uint32_t, 32, 32, int)
TARNVEL_JARO_AVX2_OPS(std::uint64_t, 64, 64x, long long)
#undef TARNVEL_JARO_AVX2_OPS

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
    k.jaro_vec_bytes = 32;
    k.jaro_lanes[0] = &lanes8;
    k.jaro_lanes[1] = &lanes16;
    k.jaro_lanes[2] = &lanes32;
    k.jaro_lanes[3] = &lanes64;
}

const simd::KernelFiller reg(dispatch::Target::avx2, &fill);

}  // namespace

// Four 64-bit lanes; the table of lane l is table[c][l], so one load gives the four
// masks of query byte c.
void jaro_4way_kernel(const std::uint8_t* a, std::size_t la, const std::uint8_t* const* c,
                      const std::size_t* lc, double* out) {
    alignas(32) std::uint64_t table[256][4];
    std::memset(table, 0, sizeof(table));
    alignas(32) std::int64_t wl[4], last[4], lenmask[4];
    for (int l = 0; l < 4; ++l) {
        for (std::size_t k = 0; k < lc[l]; ++k) table[c[l][k]][l] |= std::uint64_t{1} << k;
        wl[l] = static_cast<std::int64_t>(core::jaro_window(la, lc[l]));
        last[l] = static_cast<std::int64_t>(lc[l] == 0 ? 0 : lc[l] - 1);
        lenmask[l] = lc[l] >= 64 ? -1 : static_cast<std::int64_t>((std::uint64_t{1} << lc[l]) - 1);
    }
    const __m256i w = _mm256_load_si256(reinterpret_cast<const __m256i*>(wl));
    const __m256i lastv = _mm256_load_si256(reinterpret_cast<const __m256i*>(last));
    const __m256i lm = _mm256_load_si256(reinterpret_cast<const __m256i*>(lenmask));
    const __m256i ones = _mm256_set1_epi64x(-1);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i one = _mm256_set1_epi64x(1);
    __m256i F = zero, A = zero, M = zero;
    for (std::size_t i = 0; i < la; ++i) {
        const __m256i iv = _mm256_set1_epi64x(static_cast<long long>(i));
        __m256i lo = _mm256_sub_epi64(iv, w);
        lo = _mm256_and_si256(lo, _mm256_cmpgt_epi64(lo, zero));  // max(0, i - w)
        const __m256i up = _mm256_add_epi64(iv, w);
        const __m256i hi = _mm256_blendv_epi8(up, lastv, _mm256_cmpgt_epi64(up, lastv));
        const __m256i hi1 = _mm256_add_epi64(hi, one);  // 1..64; a shift by 64 gives 0
        const __m256i below = _mm256_andnot_si256(_mm256_sllv_epi64(ones, hi1), ones);
        __m256i R = _mm256_and_si256(lm, _mm256_sllv_epi64(ones, lo));
        R = _mm256_and_si256(R, below);
        const __m256i C = _mm256_and_si256(
            _mm256_load_si256(reinterpret_cast<const __m256i*>(table[a[i]])), R);
        const __m256i N = _mm256_andnot_si256(F, C);
        F = _mm256_or_si256(F, _mm256_and_si256(N, _mm256_sub_epi64(zero, N)));
        const __m256i hit = _mm256_andnot_si256(_mm256_cmpeq_epi64(N, zero), ones);
        A = _mm256_or_si256(A, _mm256_and_si256(hit, _mm256_set1_epi64x(static_cast<long long>(std::uint64_t{1} << i))));
        M = _mm256_sub_epi64(M, hit);
    }
    alignas(32) std::uint64_t fs[4], as[4], ms[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(fs), F);
    _mm256_store_si256(reinterpret_cast<__m256i*>(as), A);
    _mm256_store_si256(reinterpret_cast<__m256i*>(ms), M);
    for (int l = 0; l < 4; ++l) {
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

}  // namespace tarnvel::simd::avx2

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
