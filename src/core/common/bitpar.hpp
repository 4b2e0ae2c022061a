// The one-word bit-parallel primitives every scalar kernel shares: the LCS step, the
// Myers step and a library-free bit count. Always inlined, so a kernel built for a wider
// target (src/simd) gets them compiled for that target.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnvel::core {

// Hyyro's LCS step V' = (V + (V & M)) | (V - (V & M)); the LCS is the number of zero bits
// left among the pattern's bits.
[[gnu::always_inline]] inline std::uint64_t lcs_step(std::uint64_t v, std::uint64_t m) {
    const std::uint64_t u = v & m;
    return (v + u) | (v - u);
}

// One text symbol (match mask eq) through Myers/Hyyro's Levenshtein step for a pattern of
// mask's bits whose top bit is last: updates vp / vn and returns the change of the
// pattern's last-row score (+1, 0 or -1).
[[gnu::always_inline]] inline int myers_step(std::uint64_t eq, std::uint64_t& vp, std::uint64_t& vn,
                                             std::uint64_t mask, std::uint64_t last) {
    const std::uint64_t xv = eq | vn;
    const std::uint64_t xh = (((eq & vp) + vp) ^ vp) | eq;
    std::uint64_t ph = vn | ~(xh | vp);
    std::uint64_t mh = vp & xh;
    const int delta = static_cast<int>((ph & last) != 0) - static_cast<int>((mh & last) != 0);
    ph = (ph << 1) | 1;
    mh <<= 1;
    vp = (mh | ~(xv | ph)) & mask;
    vn = (xv & ph) & mask;
    return delta;
}

// Bit count without a library call (the baseline x86-64 target has no popcnt
// instruction, and std::popcount then calls into libgcc).
[[gnu::always_inline]] inline std::size_t swar_popcount(std::uint64_t x) {
    x = x - ((x >> 1) & 0x5555555555555555ull);
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<std::size_t>((x * 0x0101010101010101ull) >> 56);
}

}  // namespace tarnvel::core
