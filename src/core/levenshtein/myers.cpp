// MyersPattern construction and the group-kernel dispatch (see myers.hpp).
#include <algorithm>
#include <cstring>
#include <string>

#include "core/common/panic.hpp"
#include "core/common/text.hpp"
#include "core/levenshtein/myers.hpp"
#include "dispatch/kernels.hpp"

namespace tarnvel::core {

MyersPattern::MyersPattern(const std::uint8_t* p, std::size_t m) {
    const bool ascii = is_ascii(reinterpret_cast<const char*>(p), m);
    if (m == 0 || m > 64 || !ascii)
        panic("MyersPattern: pattern must be non-empty ASCII \xE2\x89\xA4 64 bytes (got " +
              std::to_string(m) + " bytes, ascii=" + (ascii ? "true" : "false") + ")");
    std::memset(peq, 0, sizeof(peq));
    for (std::size_t i = 0; i < m; ++i) peq[p[i]] |= std::uint64_t{1} << i;
    len = m;
    mask = m == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << m) - 1;
    last_bit = std::uint64_t{1} << (m - 1);
}

void myers_4way_scalar(const MyersPattern& p, const std::uint8_t* const* texts,
                       const std::size_t* lens, std::uint32_t* out) {
    const std::uint64_t mask = p.mask, last = p.last_bit;
    std::uint64_t vp[4], vn[4];
    std::uint32_t score[4];
    std::size_t longest = 0;
    for (int l = 0; l < 4; ++l) {
        vp[l] = mask;
        vn[l] = 0;
        score[l] = static_cast<std::uint32_t>(p.len);
        longest = std::max(longest, lens[l]);
    }
    // A lane whose text has ended sees no match and keeps its score.
    for (std::size_t j = 0; j < longest; ++j) {
        for (int l = 0; l < 4; ++l) {
            const bool live = j < lens[l];
            const int d = myers_step(live ? p.peq[texts[l][j]] : 0, vp[l], vn[l], mask, last);
            if (live) score[l] += static_cast<std::uint32_t>(d);
        }
    }
    for (int l = 0; l < 4; ++l) out[l] = score[l];
}

void myers_4way(const MyersPattern& p, const std::uint8_t* const* texts, const std::size_t* lens,
                std::uint32_t* out) {
    const dispatch::KernelTable& kt = dispatch::kernels();
    if (kt.myers_lanes && kt.myers_width >= 4) return kt.myers_lanes(p, texts, lens, 4, out);
    myers_4way_scalar(p, texts, lens, out);
}

void myers_8way(const MyersPattern& p, const std::uint8_t* const* texts, const std::size_t* lens,
                std::uint32_t* out) {
    const dispatch::KernelTable& kt = dispatch::kernels();
    if (kt.myers_lanes && kt.myers_width >= 8) return kt.myers_lanes(p, texts, lens, 8, out);
    myers_4way(p, texts, lens, out);
    myers_4way(p, texts + 4, lens + 4, out + 4);
}

void myers_multi(const MyersPattern& p, const std::uint8_t* const* texts, const std::size_t* lens,
                 std::size_t k, std::uint32_t* out) {
    switch (k) {
        case 4:
            return myers_4way(p, texts, lens, out);
        case 8:
            return myers_8way(p, texts, lens, out);
        default:
            break;
    }
    // Other group sizes: the lanes in groups of at most their width when three or more
    // texts share a call (fewer are cheaper one by one).
    const dispatch::KernelTable& kt = dispatch::kernels();
    std::size_t i = 0;
    if (kt.myers_lanes && k >= 3) {
        for (; i + 3 <= k; i += kt.myers_width) {
            const std::size_t n = std::min(kt.myers_width, k - i);
            kt.myers_lanes(p, texts + i, lens + i, n, out + i);
        }
    }
    for (; i < k; ++i) out[i] = myers_distance(p, texts[i], lens[i]);
}

MyersGroups::MyersGroups(std::size_t k) : k_(k) {
    const dispatch::KernelTable& kt = dispatch::kernels();
    if (kt.myers_lanes && kt.myers_width == k) lanes_ = kt.myers_lanes;
}

}  // namespace tarnvel::core
