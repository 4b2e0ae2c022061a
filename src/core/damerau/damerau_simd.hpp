// Vector forms of the two row passes of the Damerau-Levenshtein scan (damerau.cpp), defined
// in simd/damerau_avx2.cpp and simd/damerau_avx512.cpp and reached through the kernel table.
// Cell values must stay below 2^30 (the caller checks n + m).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__)
namespace tarnvel::simd::avx2 {
void dl_row_base(const std::uint32_t* r1, const std::uint32_t* bid, std::uint32_t ai,
                 std::uint32_t* w, std::size_t m);
void dl_row_scan(const std::uint32_t* w, std::uint32_t* r0, std::size_t m, std::uint32_t start);
}  // namespace tarnvel::simd::avx2
namespace tarnvel::simd::avx512 {
void dl_row_base(const std::uint32_t* r1, const std::uint32_t* bid, std::uint32_t ai,
                 std::uint32_t* w, std::size_t m);
void dl_row_scan(const std::uint32_t* w, std::uint32_t* r0, std::size_t m, std::uint32_t start);
}  // namespace tarnvel::simd::avx512
#endif
