// AVX2 instantiations of the exact anti-diagonal Needleman-Wunsch kernels.
//
// The kernels are the generic loops of alignment_kernels.hpp; compiled under this target
// the compiler turns each anti-diagonal into avx2 vector code. They are used only for pairs
// whose scores prove that no value can saturate (see alignment.cpp), so they return
// exactly the portable result. Only reached after the processor reported avx2.
// See also: alignment_avx512.cpp, src/core/alignment/alignment.cpp.
#include <cstddef>
#include <cstdint>

#include "core/alignment/alignment_kernels.hpp"
#include "dispatch/kernels.hpp"

#if defined(__x86_64__)

#pragma GCC push_options
#pragma GCC target("avx2,bmi2,popcnt")

namespace tarnvel::simd::avx2 {
namespace {

struct Tag {};

std::int16_t linear_i16(const std::uint16_t* a, std::size_t n, const std::uint16_t* rb,
                        std::size_t m, const std::int16_t* s, std::int16_t* w) {
    return core::detail::nw_linear_diagonals<Tag>(a, n, rb, m, s, w);
}
std::int32_t linear_i32(const std::uint32_t* a, std::size_t n, const std::uint32_t* rb,
                        std::size_t m, const std::int32_t* s, std::int32_t* w) {
    return core::detail::nw_linear_diagonals<Tag>(a, n, rb, m, s, w);
}
std::int64_t linear_i64(const std::uint64_t* a, std::size_t n, const std::uint64_t* rb,
                        std::size_t m, const std::int64_t* s, std::int64_t* w) {
    return core::detail::nw_linear_diagonals<Tag>(a, n, rb, m, s, w);
}
std::int16_t affine_i16(const std::uint16_t* a, std::size_t n, const std::uint16_t* rb,
                        std::size_t m, const std::int16_t* s, std::int16_t* w) {
    return core::detail::nw_affine_diagonals<Tag>(a, n, rb, m, s, w);
}
std::int32_t affine_i32(const std::uint32_t* a, std::size_t n, const std::uint32_t* rb,
                        std::size_t m, const std::int32_t* s, std::int32_t* w) {
    return core::detail::nw_affine_diagonals<Tag>(a, n, rb, m, s, w);
}
std::int64_t affine_i64(const std::uint64_t* a, std::size_t n, const std::uint64_t* rb,
                        std::size_t m, const std::int64_t* s, std::int64_t* w) {
    return core::detail::nw_affine_diagonals<Tag>(a, n, rb, m, s, w);
}

}  // namespace

#pragma GCC pop_options

void fill_alignment_avx2(dispatch::KernelTable& t) {
    t.nw_linear_i16 = &linear_i16;
    t.nw_linear_i32 = &linear_i32;
    t.nw_linear_i64 = &linear_i64;
    t.nw_affine_i16 = &affine_i16;
    t.nw_affine_i32 = &affine_i32;
    t.nw_affine_i64 = &affine_i64;
}

namespace {
const dispatch::KernelFiller kRegister(dispatch::Target::avx2, &fill_alignment_avx2);
}  // namespace

}  // namespace tarnvel::simd::avx2

#endif  // __x86_64__
