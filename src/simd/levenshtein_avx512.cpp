// AVX-512F variants of the Levenshtein kernels: the 8-lane Myers group kernel (one
// pattern, eight texts, one 64-bit lane each; only reached after cpu_has_avx512f()) and
// the packed-lane kernel in 8- to 64-bit lanes (registered for the avx512 target, which
// implies AVX-512BW).
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
#pragma clang attribute push(__attribute__((target("avx512f,avx2,bmi2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx2,bmi2,popcnt")
#endif

namespace tarnvel::simd::avx512 {

namespace {

struct Lanes8 {
    __m512i vp, vn, score;
};

inline void step8(Lanes8& s, __m512i eq, __mmask8 live, __m512i maskv, __m512i lastv, __m128i sh) {
    const __m512i one = _mm512_set1_epi64(1);
    const __m512i xv = _mm512_or_si512(eq, s.vn);
    const __m512i evp = _mm512_and_si512(eq, s.vp);
    const __m512i xh = _mm512_or_si512(_mm512_xor_si512(_mm512_add_epi64(evp, s.vp), s.vp), eq);
    // ph = vn | ~(xh | vp)
    __m512i ph = _mm512_ternarylogic_epi64(s.vn, xh, s.vp, 0xF1);
    __m512i mh = _mm512_and_si512(s.vp, xh);
    const __m512i up = _mm512_srl_epi64(_mm512_and_si512(ph, lastv), sh);
    const __m512i down = _mm512_srl_epi64(_mm512_and_si512(mh, lastv), sh);
    s.score = _mm512_mask_add_epi64(s.score, live, s.score, _mm512_sub_epi64(up, down));
    ph = _mm512_or_si512(_mm512_slli_epi64(ph, 1), one);
    mh = _mm512_slli_epi64(mh, 1);
    // vp = (mh | ~(xv | ph)) & mask
    s.vp = _mm512_and_si512(_mm512_ternarylogic_epi64(mh, xv, ph, 0xF1), maskv);
    s.vn = _mm512_and_si512(_mm512_and_si512(xv, ph), maskv);
}

}  // namespace

void myers_8way(const core::MyersPattern& p, const std::uint8_t* const* texts,
                const std::size_t* lens, std::uint32_t* out) {
    std::size_t shortest = lens[0], longest = lens[0];
    for (int l = 1; l < 8; ++l) {
        shortest = std::min(shortest, lens[l]);
        longest = std::max(longest, lens[l]);
    }
    const __m512i maskv = _mm512_set1_epi64(static_cast<long long>(p.mask));
    const __m512i lastv = _mm512_set1_epi64(static_cast<long long>(p.last_bit));
    const __m128i sh = _mm_cvtsi32_si128(static_cast<int>(p.len - 1));
    Lanes8 s{maskv, _mm512_setzero_si512(), _mm512_set1_epi64(static_cast<long long>(p.len))};
    const std::uint64_t* peq = p.peq;
    std::size_t j = 0;
    for (; j < shortest; ++j) {
        const __m512i eq = _mm512_set_epi64(
            static_cast<long long>(peq[texts[7][j]]), static_cast<long long>(peq[texts[6][j]]),
            static_cast<long long>(peq[texts[5][j]]), static_cast<long long>(peq[texts[4][j]]),
            static_cast<long long>(peq[texts[3][j]]), static_cast<long long>(peq[texts[2][j]]),
            static_cast<long long>(peq[texts[1][j]]), static_cast<long long>(peq[texts[0][j]]));
        step8(s, eq, 0xFF, maskv, lastv, sh);
    }
    // Phase 2: a lane whose text has ended reads a byte >= 0x80 (match mask 0) and its
    // score stops moving.
    static const std::uint8_t pad = 0x80;
    const __m512i lenv = _mm512_set_epi64(
        static_cast<long long>(lens[7]), static_cast<long long>(lens[6]),
        static_cast<long long>(lens[5]), static_cast<long long>(lens[4]),
        static_cast<long long>(lens[3]), static_cast<long long>(lens[2]),
        static_cast<long long>(lens[1]), static_cast<long long>(lens[0]));
    for (; j < longest; ++j) {
        const std::uint8_t* c[8];
        for (int l = 0; l < 8; ++l) c[l] = j < lens[l] ? texts[l] + j : &pad;
        const __m512i eq = _mm512_set_epi64(
            static_cast<long long>(peq[*c[7]]), static_cast<long long>(peq[*c[6]]),
            static_cast<long long>(peq[*c[5]]), static_cast<long long>(peq[*c[4]]),
            static_cast<long long>(peq[*c[3]]), static_cast<long long>(peq[*c[2]]),
            static_cast<long long>(peq[*c[1]]), static_cast<long long>(peq[*c[0]]));
        const __mmask8 live =
            _mm512_cmpgt_epu64_mask(lenv, _mm512_set1_epi64(static_cast<long long>(j)));
        step8(s, eq, live, maskv, lastv, sh);
    }
    alignas(64) std::uint64_t sc[8];
    _mm512_store_si512(sc, s.score);
    for (int l = 0; l < 8; ++l) out[l] = static_cast<std::uint32_t>(sc[l]);
}


// Blocked Myers with eight pattern blocks per vector: lane l holds block 8s + l of stripe
// s and, at step tau, works on text column tau - l, so the horizontal delta leaving lane
// l - 1 at one step is exactly what lane l needs at the next. The delta leaving the
// stripe's bottom lane is kept per column (hbuf) for the next stripe. After the last
// column the distance is n plus the sum of the vertical deltas of all rows.
std::uint32_t lev_blocked(const std::uint64_t* rows, const std::uint64_t* rev_rows, std::size_t n,
                          std::size_t words, std::size_t m, std::uint8_t* hbuf) {
    const __m512i lane_ids = _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0);
    const __m512i one = _mm512_set1_epi64(1);
    std::int64_t sum = static_cast<std::int64_t>(n);
    for (std::size_t first = 0; first < words; first += 8) {
        const std::size_t real = words - first < 8 ? words - first : 8;
        const __mmask8 real_mask = static_cast<__mmask8>((1u << real) - 1);
        const __m512i offs = _mm512_add_epi64(lane_ids, _mm512_set1_epi64(static_cast<long long>(first)));
        __m512i vp = _mm512_set1_epi64(-1), vn = _mm512_setzero_si512();
        const bool top = first == 0;
        __m512i hin = _mm512_maskz_mov_epi64(1, _mm512_set1_epi64(top ? 1 : hbuf[0]));
        const std::size_t steps = n + 7;
        for (std::size_t tau = 0; tau < steps; ++tau) {
            // lanes l with 0 <= tau - l < n
            unsigned valid = tau >= 7 ? 0xFFu : (1u << (tau + 1)) - 1;
            if (tau + 1 > n) valid &= ~((1u << (tau + 1 - n)) - 1) & 0xFFu;
            const __mmask8 live = static_cast<__mmask8>(valid) & real_mask;
            const __m512i idx = _mm512_add_epi64(
                _mm512_loadu_si512(rev_rows + (n + 6 - tau)), offs);
            const __m512i eq0 = _mm512_mask_i64gather_epi64(_mm512_setzero_si512(), live, idx,
                                                            reinterpret_cast<const long long*>(rows), 8);
            const __m512i hp_in = _mm512_and_si512(hin, one);
            const __m512i hn_in = _mm512_srli_epi64(hin, 1);
            const __m512i xv = _mm512_or_si512(eq0, vn);
            const __m512i eq = _mm512_or_si512(eq0, hn_in);
            const __m512i xh = _mm512_or_si512(
                _mm512_xor_si512(_mm512_add_epi64(_mm512_and_si512(eq, vp), vp), vp), eq);
            const __m512i ph = _mm512_ternarylogic_epi64(vn, xh, vp, 0xF1);  // vn | ~(xh | vp)
            const __m512i mh = _mm512_and_si512(vp, xh);
            const __m512i hout = _mm512_or_si512(_mm512_srli_epi64(ph, 63),
                                                 _mm512_slli_epi64(_mm512_srli_epi64(mh, 63), 1));
            const __m512i phs = _mm512_or_si512(_mm512_slli_epi64(ph, 1), hp_in);
            const __m512i mhs = _mm512_or_si512(_mm512_slli_epi64(mh, 1), hn_in);
            vp = _mm512_mask_mov_epi64(vp, live, _mm512_ternarylogic_epi64(mhs, xv, phs, 0xF1));
            vn = _mm512_mask_mov_epi64(vn, live, _mm512_and_si512(phs, xv));
            if (tau >= 7 && tau - 7 < n)
                hbuf[tau - 7] = static_cast<std::uint8_t>(
                    _mm256_extract_epi64(_mm512_extracti64x4_epi64(hout, 1), 3));
            const std::uint64_t next = top ? 1 : (tau + 1 < n ? hbuf[tau + 1] : 0);
            hin = _mm512_alignr_epi64(hout, _mm512_set1_epi64(static_cast<long long>(next)), 7);
        }
        alignas(64) std::uint64_t pv[8], nv[8];
        _mm512_store_si512(pv, vp);
        _mm512_store_si512(nv, vn);
        for (std::size_t l = 0; l < real; ++l) {
            std::uint64_t mask = ~std::uint64_t{0};
            if (first + l == words - 1 && m % 64 != 0) mask = (std::uint64_t{1} << (m % 64)) - 1;
            sum += __builtin_popcountll(pv[l] & mask) - __builtin_popcountll(nv[l] & mask);
        }
    }
    return static_cast<std::uint32_t>(sum);
}
}  // namespace tarnvel::simd::avx512

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

// The packed-lane kernel needs byte and word lanes (AVX-512BW).
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx2,bmi2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx2,bmi2,popcnt")
#endif

namespace tarnvel::simd::avx512 {

namespace {

// Vector operations for the packed-lane kernel (levenshtein_packed.hpp).
struct Ops {
    using Vec = __m512i;
    static Vec load(const void* p) { return _mm512_load_si512(static_cast<const Vec*>(p)); }
    static void store(void* p, Vec v) { _mm512_store_si512(static_cast<Vec*>(p), v); }
    static Vec zero() { return _mm512_setzero_si512(); }
    static Vec all_ones() { return _mm512_set1_epi32(-1); }
    static Vec and_(Vec a, Vec b) { return _mm512_and_si512(a, b); }
    static Vec or_(Vec a, Vec b) { return _mm512_or_si512(a, b); }
    static Vec xor_(Vec a, Vec b) { return _mm512_xor_si512(a, b); }
    template <class Lane>
    static Vec add(Vec a, Vec b) {
        if constexpr (sizeof(Lane) == 1) return _mm512_add_epi8(a, b);
        else if constexpr (sizeof(Lane) == 2) return _mm512_add_epi16(a, b);
        else if constexpr (sizeof(Lane) == 4) return _mm512_add_epi32(a, b);
        else return _mm512_add_epi64(a, b);
    }
    template <class Lane>
    static Vec set1(Lane v) {
        if constexpr (sizeof(Lane) == 1) return _mm512_set1_epi8(static_cast<char>(v));
        else if constexpr (sizeof(Lane) == 2) return _mm512_set1_epi16(static_cast<short>(v));
        else if constexpr (sizeof(Lane) == 4) return _mm512_set1_epi32(static_cast<int>(v));
        else return _mm512_set1_epi64(static_cast<long long>(v));
    }
};

}  // namespace

}  // namespace tarnvel::simd::avx512

namespace tarnvel::core {
#include "core/levenshtein/levenshtein_packed_kernel.inc"
}  // namespace tarnvel::core

namespace tarnvel::simd::avx512 {

void lev_packed8(const core::LevPackedJob& job) { core::lev_packed_group<Ops, std::uint8_t>(job); }
void lev_packed16(const core::LevPackedJob& job) { core::lev_packed_group<Ops, std::uint16_t>(job); }
void lev_packed32(const core::LevPackedJob& job) { core::lev_packed_group<Ops, std::uint32_t>(job); }
void lev_packed64(const core::LevPackedJob& job) { core::lev_packed_group<Ops, std::uint64_t>(job); }
void lcs_packed8(const core::LevPackedJob& job) { core::lcs_packed_group<Ops, std::uint8_t>(job); }
void lcs_packed16(const core::LevPackedJob& job) { core::lcs_packed_group<Ops, std::uint16_t>(job); }
void lcs_packed32(const core::LevPackedJob& job) { core::lcs_packed_group<Ops, std::uint32_t>(job); }
void lcs_packed64(const core::LevPackedJob& job) { core::lcs_packed_group<Ops, std::uint64_t>(job); }


}  // namespace tarnvel::simd::avx512

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif


// Registration runs at load time on any processor, so it stays outside the target region.
namespace tarnvel::simd::avx512 {
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
    t.lev_vec_bytes = 64;
    t.lev_blocked = &lev_blocked;
}

const simd::KernelFiller reg(dispatch::Target::avx512, &fill);

}  // namespace
}  // namespace tarnvel::simd::avx512
#endif
