// Vector variants of the Levenshtein kernels (defined in simd/levenshtein_avx2.cpp and
// levenshtein_avx512.cpp). Callers check the processor flags first; the signatures take
// plain pointers so no vector type crosses into generic code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/levenshtein/levenshtein_packed.hpp"
#include "core/levenshtein/myers.hpp"

#if defined(__x86_64__)
namespace tarnvel::simd::avx2 {
void myers_4way(const core::MyersPattern& p, const std::uint8_t* const* texts,
                const std::size_t* lens, std::uint32_t* out);
std::uint32_t lev_blocked(const std::uint64_t* rows, const std::uint64_t* rev_rows, std::size_t n,
                          std::size_t words, std::size_t m, std::uint8_t* hbuf);
void lev_packed8(const core::LevPackedJob& job);
void lev_packed16(const core::LevPackedJob& job);
void lev_packed32(const core::LevPackedJob& job);
void lev_packed64(const core::LevPackedJob& job);
}  // namespace tarnvel::simd::avx2
namespace tarnvel::simd::avx512 {
void myers_8way(const core::MyersPattern& p, const std::uint8_t* const* texts,
                const std::size_t* lens, std::uint32_t* out);
std::uint32_t lev_blocked(const std::uint64_t* rows, const std::uint64_t* rev_rows, std::size_t n,
                          std::size_t words, std::size_t m, std::uint8_t* hbuf);
void lev_packed8(const core::LevPackedJob& job);
void lev_packed16(const core::LevPackedJob& job);
void lev_packed32(const core::LevPackedJob& job);
void lev_packed64(const core::LevPackedJob& job);
}  // namespace tarnvel::simd::avx512
#endif
