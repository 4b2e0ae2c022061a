// Myers/Hyyrö bit-parallel Levenshtein kernels for one pattern of 1 to 64 ASCII bytes.
//
// MyersPattern holds the 256 match masks of the pattern; myers_distance runs one text
// through it, one 64-bit word step per text byte. The group kernels run one pattern
// against 4 or 8 texts in lockstep (the kernel table's myers_lanes slot, when the active
// target has one). Every lane returns exactly what myers_distance returns for its text.
// See also: levenshtein.hpp (dispatch), simd/generic/levenshtein.inc.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/common/bitpar.hpp"

namespace tarnvel::core {

struct MyersPattern {
    std::uint64_t peq[256];
    std::uint64_t len;
    std::uint64_t mask;
    std::uint64_t last_bit;

    // Fails (Panic) unless 1 <= m <= 64 and every byte is ASCII.
    MyersPattern(const std::uint8_t* p, std::size_t m);
};

// The one-word kernel, step by step as in Hyyrö's formulation; global distance (the top
// row grows by one per text byte).
inline std::uint32_t myers_distance(const MyersPattern& p, const std::uint8_t* t, std::size_t n) {
    const std::uint64_t mask = p.mask;
    const std::uint64_t last = p.last_bit;
    std::uint64_t vp = mask, vn = 0;
    std::uint32_t score = static_cast<std::uint32_t>(p.len);
    for (std::size_t j = 0; j < n; ++j)
        score += static_cast<std::uint32_t>(myers_step(p.peq[t[j]], vp, vn, mask, last));
    return score;
}

// Group kernels: texts[i] / lens[i] for i < k, scores to out[i] in text order.
void myers_4way_scalar(const MyersPattern& p, const std::uint8_t* const* texts,
                       const std::size_t* lens, std::uint32_t* out);
void myers_4way(const MyersPattern& p, const std::uint8_t* const* texts, const std::size_t* lens,
                std::uint32_t* out);
// Eight lanes when the active target has them, else two 4-way runs.
void myers_8way(const MyersPattern& p, const std::uint8_t* const* texts, const std::size_t* lens,
                std::uint32_t* out);
// Any k: 4 and 8 as above, three or more in lane groups, fewer one by one.
void myers_multi(const MyersPattern& p, const std::uint8_t* const* texts, const std::size_t* lens,
                 std::size_t k, std::uint32_t* out);

// myers_multi for groups of exactly k texts, with the kernel picked once for a whole run
// of groups instead of once per group.
class MyersGroups {
public:
    explicit MyersGroups(std::size_t k);
    void operator()(const MyersPattern& p, const std::uint8_t* const* texts,
                    const std::size_t* lens, std::uint32_t* out) const {
        if (lanes_) return lanes_(p, texts, lens, k_, out);
        myers_multi(p, texts, lens, k_, out);
    }

private:
    void (*lanes_)(const MyersPattern&, const std::uint8_t* const*, const std::size_t*, std::size_t,
                   std::uint32_t*) = nullptr;
    std::size_t k_;
};

}  // namespace tarnvel::core
