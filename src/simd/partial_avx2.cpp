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

template <typename L>
struct PartialOps;

#define TARNVEL_PARTIAL_AVX2_OPS(L, W)                                                        \
    template <>                                                                               \
    struct PartialOps<L> {                                                                    \
        using V = __m256i;                                                                    \
        using Lane = L;                                                                       \
        static constexpr std::size_t kLanes = 32 / sizeof(L);                                 \
        static V ones() { return _mm256_set1_epi32(-1); }                                     \
        static V load(const void* p) { return _mm256_loadu_si256(static_cast<const V*>(p)); } \
        static void store(void* p, V v) { _mm256_store_si256(static_cast<V*>(p), v); }        \
        static V and_(V a, V b) { return _mm256_and_si256(a, b); }                            \
        static V or_(V a, V b) { return _mm256_or_si256(a, b); }                              \
        static V add(V a, V b) { return _mm256_add_epi##W(a, b); }                            \
        static V sub(V a, V b) { return _mm256_sub_epi##W(a, b); }                            \
        static unsigned popcount(L x) { return static_cast<unsigned>(_mm_popcnt_u64(x)); }    \
    };

TARNVEL_PARTIAL_AVX2_OPS(std::uint8_t, 8)
TARNVEL_PARTIAL_AVX2_OPS(std::uint16_t, 16)
TARNVEL_PARTIAL_AVX2_OPS(std::uint32_t, 32)
TARNVEL_PARTIAL_AVX2_OPS(std::uint64_t, 64)
#undef TARNVEL_PARTIAL_AVX2_OPS

#include "core/fuzz/partial_lanes_body.inc"

void lanes8(const void* m, std::size_t n, std::size_t first, std::size_t count, std::uint32_t* out) {
    partial_lanes_impl<PartialOps<std::uint8_t>>(m, n, first, count, out);
}
void lanes16(const void* m, std::size_t n, std::size_t first, std::size_t count, std::uint32_t* out) {
    partial_lanes_impl<PartialOps<std::uint16_t>>(m, n, first, count, out);
}
void lanes32(const void* m, std::size_t n, std::size_t first, std::size_t count, std::uint32_t* out) {
    partial_lanes_impl<PartialOps<std::uint32_t>>(m, n, first, count, out);
}
void lanes64(const void* m, std::size_t n, std::size_t first, std::size_t count, std::uint32_t* out) {
    partial_lanes_impl<PartialOps<std::uint64_t>>(m, n, first, count, out);
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
