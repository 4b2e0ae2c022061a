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

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/common/pattern.hpp"
#include "core/common/text.hpp"
#include "engine/cancel.hpp"

namespace tarnvel::core {

namespace detail {

// One block of one column (Myers' block step): updates the block's vertical deltas,
// passes the horizontal delta at its bottom on through hp/hn, and returns the block's
// Ph/Mh before the shift (their bit at the block's last row moves that row's score).
struct BlockStep {
    std::uint64_t ph, mh;
};
inline BlockStep advance_block(std::uint64_t eq, std::uint64_t& pv, std::uint64_t& mv,
                               std::uint64_t& hp, std::uint64_t& hn) {
    const std::uint64_t xv = eq | mv;
    eq |= hn;
    const std::uint64_t xh = (((eq & pv) + pv) ^ pv) | eq;
    const std::uint64_t ph = mv | ~(xh | pv);
    const std::uint64_t mh = pv & xh;
    const std::uint64_t phs = (ph << 1) | hp;
    const std::uint64_t mhs = (mh << 1) | hn;
    hp = ph >> 63;
    hn = mh >> 63;
    pv = mhs | ~(xv | phs);
    mv = phs & xv;
    return {ph, mh};
}

}  // namespace detail

// Distance between the pattern of p (length >= 1) and text t over the whole matrix.
// Two text symbols are processed per sweep, the second one word behind the first, so the
// two carry chains through the blocks overlap.
namespace detail {

// myers_blocked over rows given by row_a / row_b (one reader per row held at once).
template <typename CharT, typename RowA, typename RowB>
std::uint32_t myers_blocked_rows(const BlockPattern& p, Seq<CharT> t,
                                 std::vector<std::uint64_t>& work, RowA&& row_a, RowB&& row_b) {
    const std::size_t words = p.words();
    const std::size_t m = p.size();
    work.assign(2 * words, 0);
    std::uint64_t* vp = work.data();
    std::uint64_t* vn = vp + words;
    for (std::size_t w = 0; w < words; ++w) vp[w] = ~std::uint64_t{0};
    const std::uint64_t last = std::uint64_t{1} << ((m - 1) % 64);
    const std::size_t lw = words - 1;
    std::uint64_t score = m;
    std::size_t j = 0;
    engine::StepCheck check(2 * words);
    for (; j + 1 < t.size; j += 2) {
        check();
        const std::uint64_t* ra = row_a(static_cast<std::uint32_t>(t[j]));
        const std::uint64_t* rb = row_b(static_cast<std::uint32_t>(t[j + 1]));
        std::uint64_t hpa = 1, hna = 0, hpb = 1, hnb = 0;  // row 0 grows by one per symbol
        detail::BlockStep sa = advance_block(ra[0], vp[0], vn[0], hpa, hna), sb{0, 0};
        for (std::size_t w = 1; w < words; ++w) {
            sa = advance_block(ra[w], vp[w], vn[w], hpa, hna);
            sb = advance_block(rb[w - 1], vp[w - 1], vn[w - 1], hpb, hnb);
        }
        score += (sa.ph & last) != 0;
        score -= (sa.mh & last) != 0;
        sb = advance_block(rb[lw], vp[lw], vn[lw], hpb, hnb);
        score += (sb.ph & last) != 0;
        score -= (sb.mh & last) != 0;
    }
    if (j < t.size) {
        const std::uint64_t* ra = row_a(static_cast<std::uint32_t>(t[j]));
        std::uint64_t hp = 1, hn = 0;
        detail::BlockStep sa{0, 0};
        for (std::size_t w = 0; w < words; ++w) sa = advance_block(ra[w], vp[w], vn[w], hp, hn);
        score += (sa.ph & last) != 0;
        score -= (sa.mh & last) != 0;
    }
    return static_cast<std::uint32_t>(score);
}

}  // namespace detail

template <typename CharT>
std::uint32_t myers_blocked(const BlockPattern& p, Seq<CharT> t, std::vector<std::uint64_t>& work) {
    if (!p.blocked()) {
        auto row = [&](std::uint32_t c) { return p.row(c); };
        return detail::myers_blocked_rows(p, t, work, row, row);
    }
    BlockPattern::Rows ra(p), rb(p);
    return detail::myers_blocked_rows(p, t, work, ra, rb);
}

// The same recurrence restricted to the diagonal band that a path of cost <= k can use
// (Ukkonen): with D = |t| - |p| >= 0, row i of column c is needed only when
// c - (D+k)/2 <= i <= c + (k-D)/2. Blocks entering the band at the bottom start from
// vertical deltas of +1 and the top block of the band takes a horizontal delta of +1 from
// above; both can only overestimate, so the result is never below the distance, and it
// is the distance whenever that is <= k (an optimal path then stays inside the band).
namespace detail {

template <typename CharT, typename Row>
std::uint64_t myers_banded_rows(const BlockPattern& p, Seq<CharT> t, std::size_t k,
                                std::vector<std::uint64_t>& work, Row&& row_of) {
    const std::size_t words = p.words();
    const std::size_t m = p.size();
    const std::size_t n = t.size;
    const std::size_t d = n - m;  // callers pass the shorter string as the pattern, k >= d
    const std::size_t lo_off = (d + k) / 2 + 1, hi_off = (k - d) / 2 + 1;
    work.assign(3 * words, 0);
    std::uint64_t* vp = work.data();
    std::uint64_t* vn = vp + words;
    std::uint64_t* score = vn + words;  // value at each block's last row
    auto bottom = [&](std::size_t b) { return b == words - 1 ? m : 64 * (b + 1); };
    auto block_of = [&](std::size_t row) {
        return row <= 1 ? std::size_t{0} : std::min(words - 1, (row - 1) / 64);
    };
    const std::uint64_t final_bit = std::uint64_t{1} << ((m - 1) % 64);
    std::size_t first = 0, last = block_of(hi_off);
    for (std::size_t b = 0; b <= last; ++b) {
        vp[b] = ~std::uint64_t{0};
        score[b] = bottom(b);
    }
    engine::StepCheck check(last - first + 1);
    for (std::size_t c = 1; c <= n; ++c) {
        check();
        const std::size_t new_last = block_of(c + hi_off);
        while (last < new_last) {
            ++last;
            vp[last] = ~std::uint64_t{0};
            vn[last] = 0;
            score[last] = score[last - 1] + (bottom(last) - 64 * last);
        }
        if (c > lo_off) first = std::max(first, block_of(c - lo_off));
        const std::uint64_t* row = row_of(static_cast<std::uint32_t>(t[c - 1]));
        std::uint64_t hp = 1, hn = 0;
        const std::size_t full_end = last < words - 1 ? last + 1 : words - 1;
        std::size_t b = first;
        for (; b < full_end; ++b) {
            const detail::BlockStep s = advance_block(row[b], vp[b], vn[b], hp, hn);
            score[b] += (s.ph >> 63) - (s.mh >> 63);
        }
        if (b == words - 1 && b <= last) {
            const detail::BlockStep s = advance_block(row[b], vp[b], vn[b], hp, hn);
            score[b] += ((s.ph & final_bit) != 0);
            score[b] -= ((s.mh & final_bit) != 0);
        }
    }
    return score[words - 1];
}

}  // namespace detail

template <typename CharT>
std::uint64_t myers_banded(const BlockPattern& p, Seq<CharT> t, std::size_t k,
                           std::vector<std::uint64_t>& work) {
    if (!p.blocked())
        return detail::myers_banded_rows(p, t, k, work, [&](std::uint32_t c) { return p.row(c); });
    BlockPattern::Rows rows(p);
    return detail::myers_banded_rows(p, t, k, work, rows);
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
