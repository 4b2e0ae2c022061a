// AVX2 variants of the Levenshtein kernels: the 4-lane Myers group kernel (one pattern,
// four texts, one 64-bit lane each; only reached after cpu_has_avx2() said yes), and the
// packed-lane kernel in 8- to 64-bit lanes, registered for the avx2 target.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "core/levenshtein/levenshtein_packed.hpp"
#include "core/levenshtein/myers.hpp"
#include "simd/kernel_table.hpp"
#include "core/levenshtein/levenshtein_simd.hpp"

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

struct Lanes4 {
    __m256i vp, vn, score;
};

// One column step for all four lanes; `live` selects the lanes whose score moves.
inline void step4(Lanes4& s, __m256i eq, __m256i live, __m256i maskv, __m256i lastv, __m128i sh) {
    const __m256i ones = _mm256_set1_epi64x(-1);
    const __m256i one = _mm256_set1_epi64x(1);
    const __m256i xv = _mm256_or_si256(eq, s.vn);
    const __m256i evp = _mm256_and_si256(eq, s.vp);
    const __m256i xh = _mm256_or_si256(_mm256_xor_si256(_mm256_add_epi64(evp, s.vp), s.vp), eq);
    __m256i ph = _mm256_or_si256(s.vn, _mm256_xor_si256(_mm256_or_si256(xh, s.vp), ones));
    __m256i mh = _mm256_and_si256(s.vp, xh);
    // Ph and Mh never share a bit, so adding one and subtracting the other is the
    // kernel's "+1 else -1".
    const __m256i up = _mm256_srl_epi64(_mm256_and_si256(ph, lastv), sh);
    const __m256i down = _mm256_srl_epi64(_mm256_and_si256(mh, lastv), sh);
    s.score = _mm256_add_epi64(s.score, _mm256_and_si256(_mm256_sub_epi64(up, down), live));
    ph = _mm256_or_si256(_mm256_slli_epi64(ph, 1), one);
    mh = _mm256_slli_epi64(mh, 1);
    s.vp = _mm256_and_si256(_mm256_or_si256(mh, _mm256_xor_si256(_mm256_or_si256(xv, ph), ones)),
                            maskv);
    s.vn = _mm256_and_si256(_mm256_and_si256(xv, ph), maskv);
}

}  // namespace

void myers_4way(const core::MyersPattern& p, const std::uint8_t* const* texts,
                const std::size_t* lens, std::uint32_t* out) {
    const std::size_t shortest = std::min(std::min(lens[0], lens[1]), std::min(lens[2], lens[3]));
    const std::size_t longest = std::max(std::max(lens[0], lens[1]), std::max(lens[2], lens[3]));
    const __m256i maskv = _mm256_set1_epi64x(static_cast<long long>(p.mask));
    const __m256i lastv = _mm256_set1_epi64x(static_cast<long long>(p.last_bit));
    const __m128i sh = _mm_cvtsi32_si128(static_cast<int>(p.len - 1));
    const __m256i all = _mm256_set1_epi64x(-1);
    Lanes4 s{maskv, _mm256_setzero_si256(), _mm256_set1_epi64x(static_cast<long long>(p.len))};
    const std::uint8_t *t0 = texts[0], *t1 = texts[1], *t2 = texts[2], *t3 = texts[3];
    const std::uint64_t* peq = p.peq;
    std::size_t j = 0;
    for (; j < shortest; ++j) {
        const __m256i eq = _mm256_set_epi64x(
            static_cast<long long>(peq[t3[j]]), static_cast<long long>(peq[t2[j]]),
            static_cast<long long>(peq[t1[j]]), static_cast<long long>(peq[t0[j]]));
        step4(s, eq, all, maskv, lastv, sh);
    }
    // Phase 2: a lane whose text has ended reads a byte >= 0x80 (match mask 0) and its
    // score stops moving.
    static const std::uint8_t pad = 0x80;
    const __m256i lenv = _mm256_set_epi64x(
        static_cast<long long>(lens[3]), static_cast<long long>(lens[2]),
        static_cast<long long>(lens[1]), static_cast<long long>(lens[0]));
    for (; j < longest; ++j) {
        const std::uint8_t* c[4];
        for (int l = 0; l < 4; ++l) c[l] = j < lens[l] ? texts[l] + j : &pad;
        const __m256i eq = _mm256_set_epi64x(
            static_cast<long long>(peq[*c[3]]), static_cast<long long>(peq[*c[2]]),
            static_cast<long long>(peq[*c[1]]), static_cast<long long>(peq[*c[0]]));
        const __m256i live = _mm256_cmpgt_epi64(lenv, _mm256_set1_epi64x(static_cast<long long>(j)));
        step4(s, eq, live, maskv, lastv, sh);
    }
    alignas(32) std::uint64_t sc[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(sc), s.score);
    for (int l = 0; l < 4; ++l) out[l] = static_cast<std::uint32_t>(sc[l]);
}


// Blocked Myers with four pattern blocks per vector along an anti-diagonal (see the
// eight-lane form in levenshtein_avx512.cpp): lane l holds block 4s + l and works on text
// column tau - l at step tau.
std::uint32_t lev_blocked(const std::uint64_t* rows, const std::uint64_t* rev_rows, std::size_t n,
                          std::size_t words, std::size_t m, std::uint8_t* hbuf) {
    const __m256i lane_ids = _mm256_set_epi64x(3, 2, 1, 0);
    const __m256i lane_bits = _mm256_set_epi64x(8, 4, 2, 1);
    const __m256i one = _mm256_set1_epi64x(1);
    const __m256i ones = _mm256_set1_epi64x(-1);
    std::int64_t sum = static_cast<std::int64_t>(n);
    for (std::size_t first = 0; first < words; first += 4) {
        const std::size_t real = words - first < 4 ? words - first : 4;
        const unsigned real_mask = (1u << real) - 1;
        const __m256i offs = _mm256_add_epi64(lane_ids, _mm256_set1_epi64x(static_cast<long long>(first)));
        __m256i vp = ones, vn = _mm256_setzero_si256();
        const bool top = first == 0;
        __m256i hin = _mm256_set_epi64x(0, 0, 0, top ? 1 : hbuf[0]);
        const std::size_t steps = n + 3;
        for (std::size_t tau = 0; tau < steps; ++tau) {
            unsigned valid = tau >= 3 ? 0xFu : (1u << (tau + 1)) - 1;
            if (tau + 1 > n) valid &= ~((1u << (tau + 1 - n)) - 1) & 0xFu;
            valid &= real_mask;
            const __m256i live = _mm256_cmpeq_epi64(
                _mm256_and_si256(_mm256_set1_epi64x(static_cast<long long>(valid)), lane_bits), lane_bits);
            const __m256i idx = _mm256_add_epi64(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rev_rows + (n + 6 - tau))), offs);
            const __m256i eq0 = _mm256_mask_i64gather_epi64(
                _mm256_setzero_si256(), reinterpret_cast<const long long*>(rows), idx, live, 8);
            const __m256i hp_in = _mm256_and_si256(hin, one);
            const __m256i hn_in = _mm256_srli_epi64(hin, 1);
            const __m256i xv = _mm256_or_si256(eq0, vn);
            const __m256i eq = _mm256_or_si256(eq0, hn_in);
            const __m256i xh = _mm256_or_si256(
                _mm256_xor_si256(_mm256_add_epi64(_mm256_and_si256(eq, vp), vp), vp), eq);
            const __m256i ph = _mm256_or_si256(vn, _mm256_xor_si256(_mm256_or_si256(xh, vp), ones));
            const __m256i mh = _mm256_and_si256(vp, xh);
            const __m256i hout = _mm256_or_si256(_mm256_srli_epi64(ph, 63),
                                                 _mm256_slli_epi64(_mm256_srli_epi64(mh, 63), 1));
            const __m256i phs = _mm256_or_si256(_mm256_slli_epi64(ph, 1), hp_in);
            const __m256i mhs = _mm256_or_si256(_mm256_slli_epi64(mh, 1), hn_in);
            const __m256i nvp = _mm256_or_si256(mhs, _mm256_xor_si256(_mm256_or_si256(xv, phs), ones));
            const __m256i nvn = _mm256_and_si256(phs, xv);
            vp = _mm256_blendv_epi8(vp, nvp, live);
            vn = _mm256_blendv_epi8(vn, nvn, live);
            if (tau >= 3 && tau - 3 < n)
                hbuf[tau - 3] = static_cast<std::uint8_t>(_mm256_extract_epi64(hout, 3));
            const std::uint64_t next = top ? 1 : (tau + 1 < n ? hbuf[tau + 1] : 0);
            hin = _mm256_blend_epi32(_mm256_permute4x64_epi64(hout, 0x93),
                                     _mm256_set1_epi64x(static_cast<long long>(next)), 0x03);
        }
        alignas(32) std::uint64_t pv[4], nv[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(pv), vp);
        _mm256_store_si256(reinterpret_cast<__m256i*>(nv), vn);
        for (std::size_t l = 0; l < real; ++l) {
            std::uint64_t mask = ~std::uint64_t{0};
            if (first + l == words - 1 && m % 64 != 0) mask = (std::uint64_t{1} << (m % 64)) - 1;
            sum += __builtin_popcountll(pv[l] & mask) - __builtin_popcountll(nv[l] & mask);
        }
    }
    return static_cast<std::uint32_t>(sum);
}

namespace {

// Vector operations for the packed-lane kernel (levenshtein_packed.hpp).
struct Ops {
    using Vec = __m256i;
    static Vec load(const void* p) { return _mm256_load_si256(static_cast<const Vec*>(p)); }
    static void store(void* p, Vec v) { _mm256_store_si256(static_cast<Vec*>(p), v); }
    static Vec zero() { return _mm256_setzero_si256(); }
    static Vec all_ones() { return _mm256_set1_epi32(-1); }
    static Vec and_(Vec a, Vec b) { return _mm256_and_si256(a, b); }
    static Vec or_(Vec a, Vec b) { return _mm256_or_si256(a, b); }
    static Vec xor_(Vec a, Vec b) { return _mm256_xor_si256(a, b); }
    template <class Lane>
    static Vec add(Vec a, Vec b) {
        if constexpr (sizeof(Lane) == 1) return _mm256_add_epi8(a, b);
        else if constexpr (sizeof(Lane) == 2) return _mm256_add_epi16(a, b);
        else if constexpr (sizeof(Lane) == 4) return _mm256_add_epi32(a, b);
        else return _mm256_add_epi64(a, b);
    }
    template <class Lane>
    static Vec set1(Lane v) {
        if constexpr (sizeof(Lane) == 1) return _mm256_set1_epi8(static_cast<char>(v));
        else if constexpr (sizeof(Lane) == 2) return _mm256_set1_epi16(static_cast<short>(v));
        else if constexpr (sizeof(Lane) == 4) return _mm256_set1_epi32(static_cast<int>(v));
        else return _mm256_set1_epi64x(static_cast<long long>(v));
    }
};

}  // namespace

}  // namespace tarnvel::simd::avx2

namespace tarnvel::core {
#include "core/levenshtein/levenshtein_packed_kernel.inc"
}  // namespace tarnvel::core

namespace tarnvel::simd::avx2 {

void lev_packed8(const core::LevPackedJob& job) { core::lev_packed_group<Ops, std::uint8_t>(job); }
void lev_packed16(const core::LevPackedJob& job) { core::lev_packed_group<Ops, std::uint16_t>(job); }
void lev_packed32(const core::LevPackedJob& job) { core::lev_packed_group<Ops, std::uint32_t>(job); }
void lev_packed64(const core::LevPackedJob& job) { core::lev_packed_group<Ops, std::uint64_t>(job); }
void lcs_packed8(const core::LevPackedJob& job) { core::lcs_packed_group<Ops, std::uint8_t>(job); }
void lcs_packed16(const core::LevPackedJob& job) { core::lcs_packed_group<Ops, std::uint16_t>(job); }
void lcs_packed32(const core::LevPackedJob& job) { core::lcs_packed_group<Ops, std::uint32_t>(job); }
void lcs_packed64(const core::LevPackedJob& job) { core::lcs_packed_group<Ops, std::uint64_t>(job); }


}  // namespace tarnvel::simd::avx2

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif


// Registration runs at load time on any processor, so it stays outside the target region.
namespace tarnvel::simd::avx2 {
namespace {

void fill(simd::KernelTable& t) {
    t.lev_packed[0] = &lev_packed8;
    t.lev_packed[1] = &lev_packed16;
    t.lev_packed[2] = &lev_packed32;
    t.lev_packed[3] = &lev_packed64;
    t.lcs_packed[0] = &lcs_packed8;
    t.lcs_packed[1] = &lcs_packed16;
    t.lcs_packed[2] = &lcs_packed32;
    t.lcs_packed[3] = &lcs_packed64;
    t.lev_vec_bytes = 32;
    t.lev_blocked = &lev_blocked;
}

const simd::KernelFiller reg(dispatch::Target::avx2, &fill);

}  // namespace
}  // namespace tarnvel::simd::avx2
#endif
