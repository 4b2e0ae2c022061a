// AVX-512 (F, BW, VL, DQ) lane layer: Ops<Lane> is one 512-bit vector of Lane-wide lanes
// (8 to 64 bits) with the operations the generic kernel bodies (src/simd/generic/) use.
// Ops<std::uint32_t> and Ops<std::uint64_t> add what only those widths need. Included by
// avx512/kernels.cpp inside its target region, after <immintrin.h>. Compares return
// all-ones lanes like AVX2; M is the native lane mask.
#pragma once

#include "simd/generic/lane_width.hpp"

namespace tarnvel::simd::avx512 {

template <class L>
struct OpsAll {
#define TARNVEL_X86_BITS 512
#include "simd/generic/x86_lanes.inc"
#undef TARNVEL_X86_BITS

    static V nor_or(V a, V b, V c) {
        return _mm512_ternarylogic_epi64(a, b, c, 0xF1);
    }  // a | ~(b | c)

    // Signed compares, widened from the lane mask to all-ones lanes where true.
    template <class K>
    static V widen(K k) {
        TARNVEL_BY_WIDTH(L, _mm512_movm_epi, , k);
    }
    static V cmpgt(V a, V b) { return widen(gt_bits(a, b)); }
    static V cmpeq(V a, V b) { return widen(eq_bits(a, b)); }
    static auto gt_bits(V a, V b) { TARNVEL_BY_WIDTH(L, _mm512_cmpgt_epi, _mask, a, b); }
    static auto eq_bits(V a, V b) { TARNVEL_BY_WIDTH(L, _mm512_cmpeq_epi, _mask, a, b); }

    static V max_s(V a, V b) { TARNVEL_BY_WIDTH(L, _mm512_max_epi, , a, b); }
    // eq where x == y, else ne; x where a > b (signed), else y; whether some lane of a > b.
    static V select_eq(V x, V y, V eq, V ne) {
        TARNVEL_BY_WIDTH(L, _mm512_mask_blend_epi, , eq_bits(x, y), ne, eq);
    }
    static V select_gt(V a, V b, V x, V y) {
        TARNVEL_BY_WIDTH(L, _mm512_mask_blend_epi, , gt_bits(a, b), y, x);
    }
    static bool any_gt(V a, V b) { return gt_bits(a, b) != 0; }
    // Lane 0 from the last lane of prev, lane j from lane j - 1 of cur.
    static V shift_in(V prev, V cur)
        requires(sizeof(L) >= 2)
    {
        if constexpr (sizeof(L) == 2) {
            // Indices >= 32 pick cur.
            const V idx =
                _mm512_set_epi16(62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46,
                                 45, 44, 43, 42, 41, 40, 39, 38, 37, 36, 35, 34, 33, 32, 31);
            return _mm512_permutex2var_epi16(prev, idx, cur);
        } else if constexpr (sizeof(L) == 4) {
            return _mm512_alignr_epi32(cur, prev, 15);
        } else {
            return _mm512_alignr_epi64(cur, prev, 7);
        }
    }
};

template <class L>
struct Ops : OpsAll<L> {};

// 32-bit lanes add the masked loads and stores that finish a row (kMaskedTail) and a lane
// shift.
template <>
struct Ops<std::uint32_t> : OpsAll<std::uint32_t> {
    // The first n (< kLanes) lanes from p, `fill` in the others; never reads past them.
    static V load_first(const void* p, std::size_t n, V fill) {
        return _mm512_mask_loadu_epi32(fill, static_cast<__mmask16>((1u << n) - 1), p);
    }
    static void store_first(void* p, V v, std::size_t n) {
        _mm512_mask_storeu_epi32(p, static_cast<__mmask16>((1u << n) - 1), v);
    }
    // Lanes moved up by S (lane i takes lane i - S); the lowest S lanes take `fill`.
    template <int S>
    static V shift_up(V v, V fill) {
        return _mm512_alignr_epi32(v, fill, 16 - S);
    }
};

// 64-bit lanes: building from scalars, masks, gathers.
template <>
struct Ops<std::uint64_t> : OpsAll<std::uint64_t> {
    static V from_lanes(const std::uint64_t* e) {
        return _mm512_set_epi64(static_cast<long long>(e[7]), static_cast<long long>(e[6]),
                                static_cast<long long>(e[5]), static_cast<long long>(e[4]),
                                static_cast<long long>(e[3]), static_cast<long long>(e[2]),
                                static_cast<long long>(e[1]), static_cast<long long>(e[0]));
    }
    static V iota() { return _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0); }
    static V lane0(std::uint64_t x) {
        return _mm512_maskz_mov_epi64(1, _mm512_set1_epi64(static_cast<long long>(x)));
    }
    static std::uint64_t last_lane(V v) {
        return static_cast<std::uint64_t>(_mm256_extract_epi64(_mm512_extracti64x4_epi64(v, 1), 3));
    }
    // Lanes moved up by one; lane 0 takes x.
    static V rotate_in(V v, std::uint64_t x) {
        return _mm512_alignr_epi64(v, _mm512_set1_epi64(static_cast<long long>(x)), 7);
    }
    static M mask_bits(unsigned bits) { return static_cast<M>(bits); }
    static M gt_mask(V a, V b) { return _mm512_cmpgt_epu64_mask(a, b); }
    static V select(M m, V if_false, V if_true) {
        return _mm512_mask_mov_epi64(if_false, m, if_true);
    }
    static V add_masked(V a, M m, V b) { return _mm512_mask_add_epi64(a, m, a, b); }
    // base[idx[l]] where m is set, 0 elsewhere.
    static V gather(const std::uint64_t* base, V idx, M m) {
        return _mm512_mask_i64gather_epi64(_mm512_setzero_si512(), m, idx,
                                           reinterpret_cast<const long long*>(base), 8);
    }
};

}  // namespace tarnvel::simd::avx512
