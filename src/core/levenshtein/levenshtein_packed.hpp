// Packed-lane Myers kernel: many short patterns side by side in one vector register.
//
// Every pattern of a group (at most 8, 16, 32 or 64 symbols) owns one lane of as many
// bits, so the lane-wise addition confines each pattern's carry exactly as a 64-bit word
// does for one pattern (Hyyrö, Fredriksson & Navarro's packing, one lane per string).
// The texts stream through the whole group: per text symbol one vector load from the
// group's match table gives every lane its match mask. Symbols are small integer ids
// (ASCII bytes keep their value, other code points get ids from 128 up), so the table has
// one row per id. After a text, a lane's distance is the text length plus the sum of its
// vertical deltas: n + popcount(VP) - popcount(VN) over the pattern's bits; bits above a
// short pattern hold garbage that only ever flows towards higher bits, so they are masked
// only at the end.
//
// The kernel itself, packed_group<Ops, kLcs> (simd/generic/levenshtein.inc), is
// included by each target's translation unit inside its target region (a template defined
// outside the region would not get the target); V supplies the vector operations.
// See also: levenshtein_batch.cpp.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/common/text.hpp"

namespace tarnvel::core {

struct LevPackedJob {
    const std::uint32_t* const* pat;  // the group's patterns (ids), npat of them
    const std::uint32_t* pat_len;
    const std::size_t* pat_off;        // output offset of each pattern
    std::size_t npat;                  // at most the lane count
    const std::uint32_t* const* text;  // every text (ids)
    const std::uint32_t* text_len;
    const std::size_t* text_off;  // output offset of each text
    std::size_t ntext;
    void* table;         // one zeroed vector per id, 64-byte aligned; left zeroed
    std::uint32_t* out;  // out[text_off[t] + pat_off[l]]
};

// What a packed cross-product computes per pair; both are symmetric in the two texts, so
// either list may be the one in the lanes.
enum class PackedValue : std::uint8_t { levenshtein, lcs };

// Every pattern against every text on the packed-lane kernels: out[pat_off[i] +
// text_off[t]] = the value of (pats[i], texts[t]). Every pattern has at most 64 code
// points. Patterns are grouped by lane width in list order; each unit of work is one group
// against one block of texts, run on the pool (or here when `parallel` is false), and
// adds its pair count to `progress` (when given) as it ends. Returns false, writing
// nothing, when the target has no packed kernels or the lists hold too many distinct
// symbols for the match tables.
bool packed_cross(std::span<const Text> pats, const std::size_t* pat_off,
                  std::span<const Text> texts, const std::size_t* text_off, PackedValue value,
                  std::uint32_t* out, bool parallel, std::atomic<std::uint64_t>* progress);

}  // namespace tarnvel::core
