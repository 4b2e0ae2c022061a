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

// The exact alignment kernels instantiated here (the compiler may still vectorise them for
// the baseline instruction set).
struct PortableTag {};

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
    using core::detail::nw_affine_diagonals;
    using core::detail::nw_linear_diagonals;
    using simd::portable::PortableTag;
    t.nw_linear_i16 = &nw_linear_diagonals<PortableTag>;
    t.nw_linear_i32 = &nw_linear_diagonals<PortableTag>;
    t.nw_linear_i64 = &nw_linear_diagonals<PortableTag>;
    t.nw_affine_i16 = &nw_affine_diagonals<PortableTag>;
    t.nw_affine_i32 = &nw_affine_diagonals<PortableTag>;
    t.nw_affine_i64 = &nw_affine_diagonals<PortableTag>;
}
