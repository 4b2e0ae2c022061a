// AVX2 lane layer: Ops<Lane> is one 256-bit vector of Lane-wide lanes (8 to 64 bits) with
// the operations the generic kernel bodies (src/simd/generic/) use; Ops<std::uint32_t> and
// Ops<std::uint64_t> add what only those widths need. Included by avx2/kernels.cpp inside
// its target region, after <immintrin.h>. Masks are vectors here: all-ones lanes where true.
#pragma once

#include "simd/generic/lane_width.hpp"

namespace tarnvel::simd::avx2 {

template <class L>
struct OpsAll {
#define TARNVEL_X86_BITS 256
#include "simd/generic/x86_lanes.inc"
#undef TARNVEL_X86_BITS

    static V nor_or(V a, V b, V c) { return or_(a, xor_(or_(b, c), ones())); }  // a | ~(b | c)

    // Signed compares; all-ones lanes where true.
    static V cmpgt(V a, V b) { TARNVEL_BY_WIDTH(L, _mm256_cmpgt_epi, , a, b); }
    static V cmpeq(V a, V b) { TARNVEL_BY_WIDTH(L, _mm256_cmpeq_epi, , a, b); }

    // Signed maximum; AVX2 has none for 64-bit lanes, so a compare and a blend.
    static V max_s(V a, V b)
        requires(sizeof(L) >= 2)
    {
        if constexpr (sizeof(L) == 8)
            return _mm256_blendv_epi8(a, b, _mm256_cmpgt_epi64(b, a));
        else
            TARNVEL_BY_WIDTH(L, _mm256_max_epi, , a, b);
    }
    // eq where x == y, else ne; x where a > b (signed), else y; whether some lane of a > b.
    static V select_eq(V x, V y, V eq, V ne) { return _mm256_blendv_epi8(ne, eq, cmpeq(x, y)); }
    static V select_gt(V a, V b, V x, V y) { return _mm256_blendv_epi8(y, x, cmpgt(a, b)); }
    static bool any_gt(V a, V b) { return _mm256_movemask_epi8(cmpgt(a, b)) != 0; }
    // Lane 0 from the last lane of prev, lane j from lane j - 1 of cur.
    static V shift_in(V prev, V cur)
        requires(sizeof(L) >= 2)
    {
        return _mm256_alignr_epi8(cur, _mm256_permute2x128_si256(prev, cur, 0x21),
                                  16 - static_cast<int>(sizeof(L)));
    }
    static V select(M m, V if_false, V if_true) { return _mm256_blendv_epi8(if_false, if_true, m); }
    static V add_masked(V a, M m, V b) { return add(a, _mm256_and_si256(b, m)); }
};

template <class L>
struct Ops : OpsAll<L> {};

// 32-bit lanes add a lane shift across the two 128-bit halves (a permute and a blend):
// lanes moved up by S (lane i takes lane i - S), the lowest S lanes taking `fill`.
template <>
struct Ops<std::uint32_t> : OpsAll<std::uint32_t> {
    template <int S>
    static V shift_up(V v, V fill) {
        constexpr auto src = [](int i) { return i >= S ? i - S : 0; };
        const V idx =
            _mm256_setr_epi32(src(0), src(1), src(2), src(3), src(4), src(5), src(6), src(7));
        return _mm256_blend_epi32(_mm256_permutevar8x32_epi32(v, idx), fill, (1 << S) - 1);
    }
};

// 64-bit lanes: building from scalars, masks, gathers.
template <>
struct Ops<std::uint64_t> : OpsAll<std::uint64_t> {
    static V from_lanes(const std::uint64_t* e) {
        return _mm256_set_epi64x(static_cast<long long>(e[3]), static_cast<long long>(e[2]),
                                 static_cast<long long>(e[1]), static_cast<long long>(e[0]));
    }
    static V iota() { return _mm256_set_epi64x(3, 2, 1, 0); }
    static V lane0(std::uint64_t x) {
        return _mm256_set_epi64x(0, 0, 0, static_cast<long long>(x));
    }
    static std::uint64_t last_lane(V v) {
        return static_cast<std::uint64_t>(_mm256_extract_epi64(v, 3));
    }
    // Lanes moved up by one; lane 0 takes x.
    static V rotate_in(V v, std::uint64_t x) {
        return _mm256_blend_epi32(_mm256_permute4x64_epi64(v, 0x93),
                                  _mm256_set1_epi64x(static_cast<long long>(x)), 0x03);
    }
    static M mask_bits(unsigned bits) {
        const V lane_bits = _mm256_set_epi64x(8, 4, 2, 1);
        return _mm256_cmpeq_epi64(
            _mm256_and_si256(_mm256_set1_epi64x(static_cast<long long>(bits)), lane_bits),
            lane_bits);
    }
    static M gt_mask(V a, V b) { return _mm256_cmpgt_epi64(a, b); }
    // base[idx[l]] where m is set, 0 elsewhere.
    static V gather(const std::uint64_t* base, V idx, M m) {
        return _mm256_mask_i64gather_epi64(_mm256_setzero_si256(),
                                           reinterpret_cast<const long long*>(base), idx, m, 8);
    }
};

}  // namespace tarnvel::simd::avx2
