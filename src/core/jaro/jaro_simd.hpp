// Entry points of the Jaro vector kernels in the target translation units
// (src/simd/jaro_avx2.cpp, jaro_avx512.cpp). Internal: callers check the processor
// flags (dispatch/cpu.hpp) before calling, and pass only plain pointers and sizes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnvel::simd {

#if defined(__x86_64__)
namespace avx2 {
// Four candidates c[0..3] (lengths lc[0..3], each 1 to 64 ASCII bytes) against query a.
void jaro_4way_kernel(const std::uint8_t* a, std::size_t la, const std::uint8_t* const* c,
                      const std::size_t* lc, double* out);
}  // namespace avx2
namespace avx512 {
void jaro_8way_kernel(const std::uint8_t* a, std::size_t la, const std::uint8_t* const* c,
                      const std::size_t* lc, double* out);
}  // namespace avx512
#endif

}  // namespace tarnvel::simd
