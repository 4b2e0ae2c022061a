// AVX2 window kernels of the partial ratio: consecutive windows in 8-, 16-, 32- or 64-bit
// lanes (32, 16, 8 or 4 windows per vector), the lane width the narrowest that holds the
// needle. Returns exactly what the portable kernel (core/fuzz/partial.cpp) returns.
// See also: core/fuzz/partial_lanes_body.inc, partial_avx512.cpp.
#if defined(__x86_64__)

#include <cstddef>
#include <cstdint>

#include <immintrin.h>

#include "simd/kernel_table.hpp"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi2,popcnt")
#endif

namespace tarnvel::simd::avx2 {
namespace {

// Per-byte bit counts by table lookup on each nibble (no vector popcount in AVX2).
inline __m256i byte_popcount(__m256i x) {
    const __m256i table = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4,
                                           0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
    const __m256i nib = _mm256_set1_epi8(0x0F);
    const __m256i lo = _mm256_shuffle_epi8(table, _mm256_and_si256(x, nib));
    const __m256i hi = _mm256_shuffle_epi8(table, _mm256_and_si256(_mm256_srli_epi16(x, 4), nib));
    return _mm256_add_epi8(lo, hi);
}

struct OpsBase {
    using V = __m256i;
    static V ones() { return _mm256_set1_epi32(-1); }
    static V load(const void* p) { return _mm256_loadu_si256(static_cast<const V*>(p)); }
    static void store(void* p, V v) { _mm256_store_si256(static_cast<V*>(p), v); }
    static V and_(V a, V b) { return _mm256_and_si256(a, b); }
    static V andnot(V a, V b) { return _mm256_andnot_si256(a, b); }
    static V or_(V a, V b) { return _mm256_or_si256(a, b); }
};

template <typename L>
struct PartialOps;

template <>
struct PartialOps<std::uint8_t> : OpsBase {
    using Lane = std::uint8_t;
    static constexpr std::size_t kLanes = 32;
    static V set1(Lane x) { return _mm256_set1_epi8(static_cast<char>(x)); }
    static V add(V a, V b) { return _mm256_add_epi8(a, b); }
    static V sub(V a, V b) { return _mm256_sub_epi8(a, b); }
    static V lane_popcount(V x) { return byte_popcount(x); }
};

template <>
struct PartialOps<std::uint16_t> : OpsBase {
    using Lane = std::uint16_t;
    static constexpr std::size_t kLanes = 16;
    static V set1(Lane x) { return _mm256_set1_epi16(static_cast<short>(x)); }
    static V add(V a, V b) { return _mm256_add_epi16(a, b); }
    static V sub(V a, V b) { return _mm256_sub_epi16(a, b); }
    static V lane_popcount(V x) {
        const V c = byte_popcount(x);
        return _mm256_add_epi16(_mm256_and_si256(c, _mm256_set1_epi16(0xFF)), _mm256_srli_epi16(c, 8));
    }
};

template <>
struct PartialOps<std::uint32_t> : OpsBase {
    using Lane = std::uint32_t;
    static constexpr std::size_t kLanes = 8;
    static V set1(Lane x) { return _mm256_set1_epi32(static_cast<int>(x)); }
    static V add(V a, V b) { return _mm256_add_epi32(a, b); }
    static V sub(V a, V b) { return _mm256_sub_epi32(a, b); }
    static V lane_popcount(V x) {
        // Byte counts summed in pairs (to 16 bits), then pairs of those (to 32 bits).
        const V pairs = _mm256_maddubs_epi16(byte_popcount(x), _mm256_set1_epi8(1));
        return _mm256_madd_epi16(pairs, _mm256_set1_epi16(1));
    }
};

template <>
struct PartialOps<std::uint64_t> : OpsBase {
    using Lane = std::uint64_t;
    static constexpr std::size_t kLanes = 4;
    static V set1(Lane x) { return _mm256_set1_epi64x(static_cast<long long>(x)); }
    static V add(V a, V b) { return _mm256_add_epi64(a, b); }
    static V sub(V a, V b) { return _mm256_sub_epi64(a, b); }
    static V lane_popcount(V x) { return _mm256_sad_epu8(byte_popcount(x), _mm256_setzero_si256()); }
};

#include "core/fuzz/partial_lanes_body.inc"

std::uint32_t lanes8(const void* m, std::size_t n, std::size_t first, std::size_t count, std::uint32_t* out) {
    return partial_lanes_impl<PartialOps<std::uint8_t>>(m, n, first, count, out);
}
std::uint32_t lanes16(const void* m, std::size_t n, std::size_t first, std::size_t count, std::uint32_t* out) {
    return partial_lanes_impl<PartialOps<std::uint16_t>>(m, n, first, count, out);
}
std::uint32_t lanes32(const void* m, std::size_t n, std::size_t first, std::size_t count, std::uint32_t* out) {
    return partial_lanes_impl<PartialOps<std::uint32_t>>(m, n, first, count, out);
}
std::uint32_t lanes64(const void* m, std::size_t n, std::size_t first, std::size_t count, std::uint32_t* out) {
    return partial_lanes_impl<PartialOps<std::uint64_t>>(m, n, first, count, out);
}

}  // namespace
}  // namespace tarnvel::simd::avx2

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace tarnvel::simd::avx2 {
namespace {

void fill_partial(simd::KernelTable& t) {
    t.partial_lanes[0] = &lanes8;
    t.partial_lanes[1] = &lanes16;
    t.partial_lanes[2] = &lanes32;
    t.partial_lanes[3] = &lanes64;
}

const simd::KernelFiller reg(dispatch::Target::avx2, &fill_partial);

}  // namespace
}  // namespace tarnvel::simd::avx2

#endif  // __x86_64__
