// Multi-word (blocked) Myers/Hyyrö Levenshtein kernel for patterns of any length, on
// bytes or code points, plus the common-affix trim that long pairs start with.
//
// The pattern's column is split into 64-bit blocks; per text symbol each block passes
// its horizontal delta (+1/-1 out of its top bit) to the next one, as in Myers (1999,
// section 4). Costs ceil(m/64) word steps per text symbol instead of m cell updates.
// Bits above the pattern's last position in the last block hold garbage that can only
// flow upwards (to higher bits), so the score read at the last position is exact.
// See also: myers.hpp (one word, ASCII), core/common/pattern.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/common/pattern.hpp"
#include "core/common/text.hpp"

namespace tarnvel::core {

// Distance between the pattern of p (length >= 1) and text t. `work` is scratch space.
template <typename CharT>
std::uint32_t myers_blocked(const BlockPattern& p, Seq<CharT> t, std::vector<std::uint64_t>& work) {
    const std::size_t words = p.words();
    const std::size_t m = p.size();
    work.assign(2 * words, 0);
    std::uint64_t* vp = work.data();
    std::uint64_t* vn = vp + words;
    for (std::size_t w = 0; w < words; ++w) vp[w] = ~std::uint64_t{0};
    const std::uint64_t last = std::uint64_t{1} << ((m - 1) % 64);
    const std::size_t lw = words - 1;
    std::uint64_t score = m;
    for (std::size_t j = 0; j < t.size; ++j) {
        const std::uint64_t* row = p.row(static_cast<std::uint32_t>(t[j]));
        std::uint64_t hp_in = 1, hn_in = 0;  // row 0 grows by one per text symbol
        std::uint64_t ph = 0, mh = 0;
        for (std::size_t w = 0; w < words; ++w) {
            std::uint64_t eq = row[w];
            const std::uint64_t pv = vp[w], mv = vn[w];
            const std::uint64_t xv = eq | mv;
            eq |= hn_in;
            const std::uint64_t xh = (((eq & pv) + pv) ^ pv) | eq;
            ph = mv | ~(xh | pv);
            mh = pv & xh;
            const std::uint64_t hp_out = ph >> 63, hn_out = mh >> 63;
            const std::uint64_t phs = (ph << 1) | hp_in;
            const std::uint64_t mhs = (mh << 1) | hn_in;
            vp[w] = mhs | ~(xv | phs);
            vn[w] = phs & xv;
            if (w != lw) {
                hp_in = hp_out;
                hn_in = hn_out;
            }
        }
        score += (ph & last) != 0;
        score -= (mh & last) != 0;
    }
    return static_cast<std::uint32_t>(score);
}

// Lengths of the common prefix and (of what remains) the common suffix.
template <typename CharT>
inline void trim_affix(Seq<CharT>& a, Seq<CharT>& b) {
    std::size_t pre = 0;
    const std::size_t lim = a.size < b.size ? a.size : b.size;
    while (pre < lim && a[pre] == b[pre]) ++pre;
    a = a.sub(pre, a.size - pre);
    b = b.sub(pre, b.size - pre);
    std::size_t suf = 0;
    const std::size_t lim2 = a.size < b.size ? a.size : b.size;
    while (suf < lim2 && a[a.size - 1 - suf] == b[b.size - 1 - suf]) ++suf;
    a.size -= suf;
    b.size -= suf;
}

}  // namespace tarnvel::core
