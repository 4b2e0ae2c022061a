// AVX-512 multi-lane indel ratios: many short choices at once against one ASCII query.
//
// The indel distance is symmetric, so the roles flip: each short choice is a bit-parallel
// pattern in its own lane (16-bit lanes for choices of at most 16 bytes, 32 per vector;
// 32-bit lanes for at most 32 bytes, 16 per vector) and the query streams through all
// lanes at once. A lane's carry cannot leave the lane, exactly like a one-word pattern.
//
// Match masks are built per group straight from the choices' bytes: a masked load (which
// never touches bytes past the choice's end) puts 4 (or 2) choices in one register, and
// one byte compare per distinct query symbol yields their lane masks side by side.
// Choice bytes of 0x80 and above never equal an ASCII query symbol, so a multi-byte code
// point only adds never-matching pattern positions, which cannot change the LCS; the
// choice's code point count comes from its non-continuation bytes.
//
// A non-ASCII query symbol arrives as 0x80; it is only used with ASCII choices, which
// never hold that byte, so it matches nothing, as the decoded comparison would say.
//
// Each lane computes exactly what the portable path computes: the LCS, then
// (1 - (n + m - 2 * LCS) / (n + m)) * 100 in scalar double arithmetic.
#if defined(__x86_64__)

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "core/common/text.hpp"
#include "core/fuzz/ratio_formula.hpp"
#include "simd/kernel_table.hpp"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,bmi2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512dq,bmi2,popcnt")
#endif
// GCC 12's own widening intrinsics start from a deliberately undefined register and then
// trip -Wmaybe-uninitialized; every value here is fully defined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace tarnvel::simd::avx512 {
namespace {

constexpr std::size_t kMaxSlots = 129;  // distinct query symbols: ASCII, plus 0x80 for the rest

using core::ratio_from_lcs;

inline __mmask16 len_mask16(std::size_t len) {
    return len >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << len) - 1);
}
inline __mmask32 len_mask32(std::size_t len) {
    return len >= 32 ? __mmask32(0xFFFFFFFFu) : __mmask32((1u << len) - 1);
}

// Four choices (at most 16 bytes each) of lanes 4k..4k+3 into one register.
inline __m512i load_quad16(const core::Text* ch, std::size_t k, std::size_t cnt,
                           std::uint64_t& lens) {
    __m128i part[4];
    lens = 0;
    for (std::size_t t = 0; t < 4; ++t) {
        const std::size_t idx = 4 * k + t;
        if (idx < cnt) {
            const __mmask16 lm = len_mask16(ch[idx].size);
            part[t] = _mm_maskz_loadu_epi8(lm, ch[idx].data);
            lens |= std::uint64_t{lm} << (16 * t);
        } else {
            part[t] = _mm_setzero_si128();
        }
    }
    __m512i x = _mm512_zextsi128_si512(part[0]);
    x = _mm512_inserti32x4(x, part[1], 1);
    x = _mm512_inserti32x4(x, part[2], 2);
    x = _mm512_inserti32x4(x, part[3], 3);
    return x;
}

// Two choices (at most 32 bytes each) of lanes 2k, 2k+1 into one register.
inline __m512i load_pair32(const core::Text* ch, std::size_t k, std::size_t cnt,
                           std::uint64_t& lens) {
    __m256i part[2];
    lens = 0;
    for (std::size_t t = 0; t < 2; ++t) {
        const std::size_t idx = 2 * k + t;
        if (idx < cnt) {
            const __mmask32 lm = len_mask32(ch[idx].size);
            part[t] = _mm256_maskz_loadu_epi8(lm, ch[idx].data);
            lens |= std::uint64_t{lm} << (32 * t);
        } else {
            part[t] = _mm256_setzero_si256();
        }
    }
    // 128-bit blocks 0, 1 of the first and 0, 1 of the second (both zero-extended).
    return _mm512_shuffle_i64x2(_mm512_zextsi256_si512(part[0]), _mm512_zextsi256_si512(part[1]),
                                0x44);
}

// One group of at most 32 (kLaneBytes 16) or 16 (kLaneBytes 32) choices.
template <int kLaneBytes>
void run_group(const std::uint8_t* distinct, std::size_t d, const std::uint8_t* qslots,
               std::size_t n, const core::Text* ch, std::size_t cnt, double* out,
               std::uint64_t* masks /* d * 8 words */) {
    constexpr std::size_t kLanes = 512 / kLaneBytes;
    constexpr std::size_t kPerLoad = 64 / kLaneBytes;
    const __m512i hi2 = _mm512_set1_epi8(static_cast<char>(0xC0));
    const __m512i cont = _mm512_set1_epi8(static_cast<char>(0x80));
    std::size_t code_points[kLanes];
    for (std::size_t k = 0; k < 8; ++k) {
        std::uint64_t lens;
        const __m512i x = kLaneBytes == 16 ? load_quad16(ch, k, cnt, lens)
                                           : load_pair32(ch, k, cnt, lens);
        const std::uint64_t lead =
            _mm512_cmpneq_epi8_mask(_mm512_and_si512(x, hi2), cont) & lens;
        for (std::size_t t = 0; t < kPerLoad; ++t) {
            const std::uint64_t bits = (lead >> (kLaneBytes * t)) &
                                       (kLaneBytes == 16 ? 0xFFFFull : 0xFFFFFFFFull);
            code_points[kPerLoad * k + t] = static_cast<std::size_t>(_mm_popcnt_u64(bits));
        }
        for (std::size_t s = 0; s < d; ++s) {
            const __m512i sym = _mm512_set1_epi8(static_cast<char>(distinct[s]));
            masks[s * 8 + k] = _mm512_cmpeq_epi8_mask(x, sym) & lens;
        }
    }
    __m512i v = _mm512_set1_epi32(-1);
    for (std::size_t j = 0; j < n; ++j) {
        const __m512i m = _mm512_load_si512(masks + std::size_t{qslots[j]} * 8);
        const __m512i u = _mm512_and_si512(v, m);
        if constexpr (kLaneBytes == 16) {
            v = _mm512_or_si512(_mm512_add_epi16(v, u), _mm512_sub_epi16(v, u));
        } else {
            v = _mm512_or_si512(_mm512_add_epi32(v, u), _mm512_sub_epi32(v, u));
        }
    }
    alignas(64) std::uint64_t words[8];
    _mm512_store_si512(words, _mm512_xor_si512(v, _mm512_set1_epi32(-1)));
    for (std::size_t i = 0; i < cnt; ++i) {
        const std::size_t len = ch[i].size;
        std::uint64_t zeros;
        if constexpr (kLaneBytes == 16) {
            zeros = (words[i / 4] >> (16 * (i % 4))) & 0xFFFFu;
        } else {
            zeros = (words[i / 2] >> (32 * (i % 2))) & 0xFFFFFFFFu;
        }
        if (len < static_cast<std::size_t>(kLaneBytes)) zeros &= (std::uint64_t{1} << len) - 1;
        out[i] = ratio_from_lcs(n, code_points[i], static_cast<std::size_t>(_mm_popcnt_u64(zeros)));
    }
}

template <int kLaneBytes>
void run_lanes(const std::uint8_t* distinct, std::size_t d, const std::uint8_t* qslots,
               std::size_t n, const core::Text* choices, std::size_t count, double* out) {
    constexpr std::size_t kLanes = 512 / kLaneBytes;
    alignas(64) std::uint64_t masks[kMaxSlots * 8];
    for (std::size_t g = 0; g < count; g += kLanes) {
        const std::size_t cnt = count - g < kLanes ? count - g : kLanes;
        run_group<kLaneBytes>(distinct, d, qslots, n, choices + g, cnt, out + g, masks);
    }
}

}  // namespace

void indel_lanes16(const std::uint8_t* distinct, std::size_t d, const std::uint8_t* qslots,
                   std::size_t n, const core::Text* choices, std::size_t count, double* out) {
    run_lanes<16>(distinct, d, qslots, n, choices, count, out);
}

void indel_lanes32(const std::uint8_t* distinct, std::size_t d, const std::uint8_t* qslots,
                   std::size_t n, const core::Text* choices, std::size_t count, double* out) {
    run_lanes<32>(distinct, d, qslots, n, choices, count, out);
}

}  // namespace tarnvel::simd::avx512

#pragma GCC diagnostic pop
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace tarnvel::simd::avx512 {
namespace {

void fill_indel(simd::KernelTable& t) {
    // Needs byte lanes and masked byte loads (BW, VL) besides AVX-512F.
    if (!dispatch::cpu_has_avx512bw()) return;
    t.indel_lanes[0] = &indel_lanes16;
    t.indel_lanes[1] = &indel_lanes32;
}

const simd::KernelFiller reg(dispatch::Target::avx512, &fill_indel);

}  // namespace
}  // namespace tarnvel::simd::avx512

#endif  // __x86_64__
