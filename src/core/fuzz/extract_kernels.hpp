// The hot loop of extraction: indel ratios of many choices against one short ASCII query.
//
// The query (at most 64 bytes) is the bit-parallel pattern, one 64-bit word with table
// peq[256] (rows of bytes >= 0x80 are zero); each choice streams its raw UTF-8 bytes
// through it (Hyyro's LCS step V' = (V + (V & M)) | (V & ~M)). A byte >= 0x80 has an
// empty mask and leaves V unchanged, exactly like a non-ASCII code point in the decoded
// comparison, so only the choice's code point count needs the UTF-8 structure.
//
// Four choices run interleaved: a single chain is bound by the add -> or latency, four
// independent ones keep the ALUs busy. Written once, always inlined into each target's
// entry point (simd/portable/kernels.cpp, and simd/avx2/kernels.cpp with popcnt).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/common/bitpar.hpp"
#include "core/common/text.hpp"
#include "core/fuzz/ratio_formula.hpp"

namespace tarnvel::core::detail {

template <bool kHwPopcount>
[[gnu::always_inline]] inline std::size_t popcount64(std::uint64_t x) {
    if constexpr (kHwPopcount) {
        return static_cast<std::size_t>(__builtin_popcountll(x));
    } else {
        return static_cast<std::size_t>(swar_popcount(x));
    }
}

// Code points of a text that is known to contain bytes >= 0x80.
[[gnu::always_inline]] inline std::size_t utf8_length(const std::uint8_t* s, std::size_t n) {
    std::size_t cont = 0;
    for (std::size_t i = 0; i < n; ++i) cont += (s[i] & 0xC0) == 0x80;
    return n - cont;
}

// Finishes one choice from byte `from` on and returns its ratio.
template <bool kHwPopcount>
[[gnu::always_inline]] inline double finish_word(const std::uint64_t* peq, std::size_t query_len,
                                                 std::uint64_t mask, const std::uint8_t* s,
                                                 std::size_t len, std::size_t from, std::uint64_t v,
                                                 std::uint32_t high) {
    for (std::size_t j = from; j < len; ++j) {
        high |= s[j];
        v = lcs_step(v, peq[s[j]]);
    }
    const std::size_t m = (high & 0x80) ? utf8_length(s, len) : len;
    return ratio_from_lcs(query_len, m, popcount64<kHwPopcount>(~v & mask));
}

// No lambdas here: a lambda would not inherit the target of the function this is inlined
// into.
template <bool kHwPopcount>
[[gnu::always_inline]] inline void indel_ratio_word_many_impl(const std::uint64_t* peq,
                                                              std::size_t query_len,
                                                              const Text* choices,
                                                              std::size_t count, double* out) {
    const std::uint64_t mask =
        query_len >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << query_len) - 1;
    constexpr std::size_t kAhead = 16;  // choices whose bytes are prefetched in advance
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        if (i + kAhead + 4 <= count) {
            for (std::size_t k = 0; k < 4; ++k) __builtin_prefetch(choices[i + kAhead + k].data);
        }
        const std::uint8_t* s0 = choices[i].bytes();
        const std::uint8_t* s1 = choices[i + 1].bytes();
        const std::uint8_t* s2 = choices[i + 2].bytes();
        const std::uint8_t* s3 = choices[i + 3].bytes();
        const std::size_t l0 = choices[i].size, l1 = choices[i + 1].size;
        const std::size_t l2 = choices[i + 2].size, l3 = choices[i + 3].size;
        const std::size_t lo01 = l0 < l1 ? l0 : l1, lo23 = l2 < l3 ? l2 : l3;
        const std::size_t common = lo01 < lo23 ? lo01 : lo23;
        std::uint64_t v0 = ~std::uint64_t{0}, v1 = v0, v2 = v0, v3 = v0;
        std::uint32_t h0 = 0, h1 = 0, h2 = 0, h3 = 0;  // OR of all bytes: ASCII test
        for (std::size_t j = 0; j < common; ++j) {
            const std::uint8_t b0 = s0[j], b1 = s1[j], b2 = s2[j], b3 = s3[j];
            h0 |= b0;
            h1 |= b1;
            h2 |= b2;
            h3 |= b3;
            v0 = lcs_step(v0, peq[b0]);
            v1 = lcs_step(v1, peq[b1]);
            v2 = lcs_step(v2, peq[b2]);
            v3 = lcs_step(v3, peq[b3]);
        }
        out[i] = finish_word<kHwPopcount>(peq, query_len, mask, s0, l0, common, v0, h0);
        out[i + 1] = finish_word<kHwPopcount>(peq, query_len, mask, s1, l1, common, v1, h1);
        out[i + 2] = finish_word<kHwPopcount>(peq, query_len, mask, s2, l2, common, v2, h2);
        out[i + 3] = finish_word<kHwPopcount>(peq, query_len, mask, s3, l3, common, v3, h3);
    }
    for (; i < count; ++i)
        out[i] = finish_word<kHwPopcount>(peq, query_len, mask, choices[i].bytes(), choices[i].size,
                                          0, ~std::uint64_t{0}, 0);
}

}  // namespace tarnvel::core::detail
