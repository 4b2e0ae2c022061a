// The portable target: plain C++ on one 64-bit word, for every processor. Slots it leaves
// empty have no portable lane form worth having (one partial-ratio window per word would
// evaluate every window, where the breadth-first search evaluates a fraction of them);
// their callers run the scalar code.
#include <bit>
#include <cstddef>
#include <cstdint>

#include "core/alignment/alignment_kernels.hpp"
#include "core/common/text.hpp"
#include "core/fuzz/extract_kernels.hpp"
#include "dispatch/kernel_table.hpp"
#include "simd/portable/ops.hpp"

namespace tarnvel::simd::portable {
namespace {
#include "simd/generic/jaro.inc"

// Portable instantiations of the exact kernels (the compiler may still vectorise them
// for the baseline instruction set).
struct PortableTag {};

std::int16_t linear_i16(const std::uint16_t* a, std::size_t n, const std::uint16_t* rb,
                        std::size_t m, const std::int16_t* s, std::int16_t* w) {
    return core::detail::nw_linear_diagonals<PortableTag>(a, n, rb, m, s, w);
}
std::int32_t linear_i32(const std::uint32_t* a, std::size_t n, const std::uint32_t* rb,
                        std::size_t m, const std::int32_t* s, std::int32_t* w) {
    return core::detail::nw_linear_diagonals<PortableTag>(a, n, rb, m, s, w);
}
std::int64_t linear_i64(const std::uint64_t* a, std::size_t n, const std::uint64_t* rb,
                        std::size_t m, const std::int64_t* s, std::int64_t* w) {
    return core::detail::nw_linear_diagonals<PortableTag>(a, n, rb, m, s, w);
}
std::int16_t affine_i16(const std::uint16_t* a, std::size_t n, const std::uint16_t* rb,
                        std::size_t m, const std::int16_t* s, std::int16_t* w) {
    return core::detail::nw_affine_diagonals<PortableTag>(a, n, rb, m, s, w);
}
std::int32_t affine_i32(const std::uint32_t* a, std::size_t n, const std::uint32_t* rb,
                        std::size_t m, const std::int32_t* s, std::int32_t* w) {
    return core::detail::nw_affine_diagonals<PortableTag>(a, n, rb, m, s, w);
}
std::int64_t affine_i64(const std::uint64_t* a, std::size_t n, const std::uint64_t* rb,
                        std::size_t m, const std::int64_t* s, std::int64_t* w) {
    return core::detail::nw_affine_diagonals<PortableTag>(a, n, rb, m, s, w);
}

void fill_alignment_portable(dispatch::KernelTable& t) {
    t.nw_linear_i16 = &linear_i16;
    t.nw_linear_i32 = &linear_i32;
    t.nw_linear_i64 = &linear_i64;
    t.nw_affine_i16 = &affine_i16;
    t.nw_affine_i32 = &affine_i32;
    t.nw_affine_i64 = &affine_i64;
}

}  // namespace
}  // namespace tarnvel::simd::portable

void tarnvel::dispatch::fill_kernels_portable(KernelTable& t) {
    t.indel_ratio_word_many = [](const std::uint64_t* peq, std::size_t query_len,
                                 const core::Text* choices, std::size_t count, double* out) {
        core::detail::indel_ratio_word_many_impl<false>(peq, query_len, choices, count, out);
    };
    // One 64-bit lane: the batches pack one candidate per word.
    t.jaro_vec_bytes = 8;
    t.jaro_lanes[3] = &simd::portable::jaro_lanes_impl<simd::portable::Ops<std::uint64_t>>;
    simd::portable::fill_alignment_portable(t);
}
