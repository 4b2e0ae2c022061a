// Match-mask tables for bit-parallel kernels (Myers/Hyyrö edit distance, LCS, Jaro).
//
// BlockPattern maps every symbol of a pattern P to ceil(|P|/64) words: bit i of word w
// of symbol c is set when P[w*64 + i] == c. Bytes index a dense 256-row table; code points
// below 256 do too, larger ones go through a small open-addressing map to extra rows,
// and symbols absent from P read as a row of zeros. Built once per query and then
// shared read-only (workers may read one pattern concurrently).
//
// A dense row per distinct symbol costs |P|/8 bytes, so a long text of mostly distinct
// code points would need memory quadratic in its length. Past a size limit (see
// PatternLimits) the pattern therefore takes the blocked form: symbols below 256, and the
// symbols present in a large share of the 64-symbol blocks, keep dense rows; every other
// symbol keeps only its nonzero words, as (block, mask) pairs in block order. Each block
// then stores at most 64 entries, so the whole table is O(|P|) for any alphabet. Readers
// (BlockPattern::Rows) assemble such a row in their own scratch by writing and later
// clearing only those words, so a kernel still reads full rows.
// See also: text.hpp.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "core/common/text.hpp"

namespace tarnvel::core {

// When a symbol table stays dense. A table is dense when its rows beyond the 257 base
// rows number at most dense_extra (then it is at most about three times the base table,
// itself 32 bytes per pattern symbol), or when it holds at most dense_words words
// (8 MiB): below that the dense rows are the fastest form and still small. In the blocked
// form a symbol present in at least words/share of the blocks keeps a dense row (at most
// 64 * share such symbols exist, so those rows are O(|P|) too; share 0 keeps none).
// force_blocked takes the blocked form whenever a symbol >= 256 exists (tests use it to
// reach that form on short inputs). Process-wide; read when a table is built.
struct PatternLimits {
    std::size_t dense_extra = 256;
    std::size_t dense_words = std::size_t{1} << 20;
    std::size_t share = 4;
    bool force_blocked = false;
};

namespace detail {
inline std::atomic<std::size_t> g_dense_extra{PatternLimits{}.dense_extra};
inline std::atomic<std::size_t> g_dense_words{PatternLimits{}.dense_words};
inline std::atomic<std::size_t> g_share{PatternLimits{}.share};
inline std::atomic<bool> g_force_blocked{false};
}  // namespace detail

inline PatternLimits pattern_limits() {
    using namespace detail;
    return {g_dense_extra.load(std::memory_order_relaxed),
            g_dense_words.load(std::memory_order_relaxed), g_share.load(std::memory_order_relaxed),
            g_force_blocked.load(std::memory_order_relaxed)};
}

inline void set_pattern_limits(const PatternLimits& l) {
    using namespace detail;
    g_dense_extra.store(l.dense_extra, std::memory_order_relaxed);
    g_dense_words.store(l.dense_words, std::memory_order_relaxed);
    g_share.store(l.share, std::memory_order_relaxed);
    g_force_blocked.store(l.force_blocked, std::memory_order_relaxed);
}

// Whether a dense table of `extra` rows beyond the base ones, `words` words each, fits.
inline bool dense_table_fits(const PatternLimits& l, std::size_t extra, std::size_t words) {
    if (l.force_blocked) return extra == 0;
    return extra <= l.dense_extra || (257 + extra) * words <= l.dense_words;
}

class BlockPattern {
public:
    BlockPattern() = default;

    template <typename CharT>
    explicit BlockPattern(Seq<CharT> p) {
        assign(p);
    }

    template <typename CharT>
    void assign(Seq<CharT> p) {
        len_ = p.size;
        words_ = (len_ + 63) / 64;
        if (words_ == 0) words_ = 1;
        rows_.assign((256 + 1) * words_, 0);  // row 256 is the shared zero row
        keys_.clear();
        slots_.clear();
        sp_start_.clear();
        sp_block_.clear();
        sp_mask_.clear();
        extra_ = 0;
        blocked_ = false;
        if constexpr (sizeof(CharT) > 1) {
            std::size_t big = 0;
            for (std::size_t i = 0; i < p.size; ++i) big += static_cast<std::uint32_t>(p[i]) >= 256;
            if (big) {
                std::size_t cap = 16;
                while (cap < 2 * big) cap <<= 1;
                keys_.assign(cap, kEmpty);
                slots_.assign(cap, 0);
                const PatternLimits limits = pattern_limits();
                for (std::size_t i = 0; i < p.size; ++i) {
                    const auto c = static_cast<std::uint32_t>(p[i]);
                    const std::uint64_t bit = std::uint64_t{1} << (i % 64);
                    if (c < 256) {
                        rows_[std::size_t{c} * words_ + i / 64] |= bit;
                        continue;
                    }
                    std::uint64_t* row = wide_row_for_insert(c, limits);
                    if (row == nullptr) {
                        assign_blocked(p, limits);
                        return;
                    }
                    row[i / 64] |= bit;
                }
                return;
            }
        }
        for (std::size_t i = 0; i < p.size; ++i) {
            std::uint64_t* row =
                rows_.data() + std::size_t{static_cast<std::uint32_t>(p[i])} * words_;
            row[i / 64] |= std::uint64_t{1} << (i % 64);
        }
    }

    std::size_t size() const { return len_; }
    std::size_t words() const { return words_; }
    // True in the blocked form: some rows exist only through a Rows reader.
    bool blocked() const { return blocked_; }
    std::size_t dense_rows() const { return 257 + extra_; }
    std::size_t block_entries() const { return sp_block_.size(); }

    // The words of symbol c (a pointer to words() consecutive masks). Dense form only
    // (blocked() false); a blocked pattern is read through Rows.
    const std::uint64_t* row(std::uint32_t c) const {
        if (c < 256) return rows_.data() + std::size_t{c} * words_;
        if (keys_.empty()) return rows_.data() + 256 * words_;
        const std::size_t mask = keys_.size() - 1;
        for (std::size_t h = hash(c) & mask;; h = (h + 1) & mask) {
            if (keys_[h] == c) return rows_.data() + slots_[h] * words_;
            if (keys_[h] == kEmpty) return rows_.data() + 256 * words_;
        }
    }

    // Word `word` of symbol c, in either form.
    std::uint64_t get(std::size_t word, std::uint32_t c) const {
        const std::size_t s = slot_of(c);
        if (!(s & kBlockedSlot)) return rows_[s * words_ + word];
        const std::size_t id = s & ~kBlockedSlot;
        for (std::size_t k = sp_start_[id]; k < sp_start_[id + 1]; ++k)
            if (sp_block_[k] == word) return sp_mask_[k];
        return 0;
    }

    // Whether c occurs in the pattern.
    bool contains(std::uint32_t c) const {
        const std::size_t s = slot_of(c);
        if (s & kBlockedSlot) return true;  // blocked symbols have at least one entry
        const std::uint64_t* r = rows_.data() + s * words_;
        for (std::size_t w = 0; w < words_; ++w)
            if (r[w] != 0) return true;
        return false;
    }

    // Full rows of a pattern in either form. The pointer returned for c stays valid until
    // the next call on the same reader (a kernel that holds two rows at once uses two
    // readers). A reader belongs to one thread; the pattern it reads may be shared.
    class Rows {
    public:
        explicit Rows(const BlockPattern& p) : p_(&p) {
            if (p.blocked_) scratch_.assign(p.words_, 0);
        }
        const std::uint64_t* operator()(std::uint32_t c) {
            const BlockPattern& p = *p_;
            for (std::size_t k = filled_begin_; k < filled_end_; ++k) scratch_[p.sp_block_[k]] = 0;
            filled_begin_ = filled_end_ = 0;
            const std::size_t s = p.slot_of(c);
            if (!(s & kBlockedSlot)) return p.rows_.data() + s * p.words_;
            const std::size_t id = s & ~kBlockedSlot;
            filled_begin_ = p.sp_start_[id];
            filled_end_ = p.sp_start_[id + 1];
            for (std::size_t k = filled_begin_; k < filled_end_; ++k)
                scratch_[p.sp_block_[k]] = p.sp_mask_[k];
            return scratch_.data();
        }

    private:
        const BlockPattern* p_;
        std::vector<std::uint64_t> scratch_;
        std::size_t filled_begin_ = 0, filled_end_ = 0;
    };

private:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
    // Marks a slot value as the index of a blocked symbol's entries (sp_start_).
    static constexpr std::size_t kBlockedSlot = std::size_t{1} << (sizeof(std::size_t) * 8 - 1);
    static std::size_t hash(std::uint32_t c) { return (c * 0x9E3779B1u) >> 7; }

    // The dense row index of c (256, the zero row, when absent), or kBlockedSlot | id.
    std::size_t slot_of(std::uint32_t c) const {
        if (c < 256) return c;
        if (keys_.empty()) return 256;
        const std::size_t mask = keys_.size() - 1;
        for (std::size_t h = hash(c) & mask;; h = (h + 1) & mask) {
            if (keys_[h] == c) return slots_[h];
            if (keys_[h] == kEmpty) return 256;
        }
    }

    // The row of c >= 256; null when a new row would make the dense table too large.
    std::uint64_t* wide_row_for_insert(std::uint32_t c, const PatternLimits& limits) {
        const std::size_t mask = keys_.size() - 1;
        for (std::size_t h = hash(c) & mask;; h = (h + 1) & mask) {
            if (keys_[h] == c) return rows_.data() + slots_[h] * words_;
            if (keys_[h] == kEmpty) {
                if (!dense_table_fits(limits, extra_ + 1, words_)) return nullptr;
                keys_[h] = c;
                slots_[h] = 257 + extra_++;
                rows_.resize((257 + extra_) * words_, 0);
                return rows_.data() + slots_[h] * words_;
            }
        }
    }

    // The blocked form (keys_ and slots_ already sized for p's symbols >= 256).
    // Rare and costly next to the dense build: kept out of line so assign() stays small.
    template <typename CharT>
    [[gnu::noinline, gnu::cold]] void assign_blocked(Seq<CharT> p, const PatternLimits& limits) {
        blocked_ = true;
        extra_ = 0;
        std::fill(keys_.begin(), keys_.end(), kEmpty);
        const std::size_t mask = keys_.size() - 1;
        // Distinct symbols >= 256 get ids in order of appearance; count each one's blocks.
        std::vector<std::uint32_t> blocks, last;
        for (std::size_t i = 0; i < p.size; ++i) {
            const auto c = static_cast<std::uint32_t>(p[i]);
            if (c < 256) continue;
            std::size_t h = hash(c) & mask;
            while (keys_[h] != c && keys_[h] != kEmpty) h = (h + 1) & mask;
            if (keys_[h] == kEmpty) {
                keys_[h] = c;
                slots_[h] = blocks.size();
                blocks.push_back(0);
                last.push_back(0xFFFFFFFFu);
            }
            const std::size_t id = slots_[h];
            const auto b = static_cast<std::uint32_t>(i / 64);
            if (last[id] != b) {
                last[id] = b;
                ++blocks[id];
            }
        }
        // Dense rows for the widespread symbols; entry ranges for the others.
        std::vector<std::size_t> code(blocks.size());
        std::size_t entries = 0, sparse = 0;
        for (std::size_t id = 0; id < blocks.size(); ++id) {
            if (limits.share != 0 && blocks[id] * limits.share >= words_) {
                code[id] = 257 + extra_++;
            } else {
                code[id] = kBlockedSlot | sparse++;
                entries += blocks[id];
            }
        }
        sp_start_.resize(sparse + 1);
        sp_start_[0] = 0;
        for (std::size_t id = 0, s = 0; id < blocks.size(); ++id)
            if (code[id] & kBlockedSlot) {
                sp_start_[s + 1] = sp_start_[s] + blocks[id];
                ++s;
            }
        std::vector<std::uint32_t>().swap(blocks);
        std::vector<std::uint32_t>().swap(last);
        for (std::size_t h = 0; h <= mask; ++h)
            if (keys_[h] != kEmpty) slots_[h] = code[slots_[h]];
        std::vector<std::size_t>().swap(code);
        rows_.assign((257 + extra_) * words_, 0);
        sp_block_.assign(entries, 0);
        sp_mask_.assign(entries, 0);
        std::vector<std::size_t> fill(sp_start_.begin(), sp_start_.end() - 1);
        for (std::size_t i = 0; i < p.size; ++i) {
            const std::size_t s = slot_of(static_cast<std::uint32_t>(p[i]));
            const std::uint64_t bit = std::uint64_t{1} << (i % 64);
            const auto b = static_cast<std::uint32_t>(i / 64);
            if (!(s & kBlockedSlot)) {
                rows_[s * words_ + b] |= bit;
                continue;
            }
            const std::size_t id = s & ~kBlockedSlot;
            std::size_t& f = fill[id];
            if (f == sp_start_[id] || sp_block_[f - 1] != b) {
                sp_block_[f] = b;
                ++f;
            }
            sp_mask_[f - 1] |= bit;
        }
    }

    std::size_t len_ = 0;
    std::size_t words_ = 1;
    std::size_t extra_ = 0;
    bool blocked_ = false;
    std::vector<std::uint64_t> rows_;
    std::vector<std::uint32_t> keys_;
    std::vector<std::size_t> slots_;
    // Blocked form: entries sp_start_[id] .. sp_start_[id + 1] of blocked symbol id, in
    // increasing block order.
    std::vector<std::size_t> sp_start_;
    std::vector<std::uint32_t> sp_block_;
    std::vector<std::uint64_t> sp_mask_;
};

// Single-word table for patterns of at most 64 bytes, kept on the stack.
struct BytePattern64 {
    std::uint64_t peq[256];
    std::size_t len;

    template <typename CharT>
    void assign(Seq<CharT> p) {  // every symbol of p must be below 256
        std::memset(peq, 0, sizeof(peq));
        len = p.size;
        for (std::size_t i = 0; i < p.size; ++i)
            peq[static_cast<std::uint8_t>(p[i])] |= std::uint64_t{1} << i;
    }
};

// Single-word table for patterns of at most 64 symbols of any width: symbols below 256
// index a dense table, larger code points a 128-slot open-addressing map (at most 64
// distinct keys, so it never fills). set() requires an all-zero table and unset()
// restores one by clearing only the pattern's entries, so a long-lived (per-thread) table
// costs O(|pattern|) per use instead of a 3 KiB clear.
struct SymbolPattern64 {
    std::uint64_t low[256];
    std::uint32_t keys[128];  // 0 marks an empty slot; only code points >= 256 are stored
    std::uint64_t masks[128];
    std::uint32_t map_size;

    template <typename CharT>
    void set(Seq<CharT> p) {
        for (std::size_t i = 0; i < p.size; ++i) {
            const auto c = static_cast<std::uint32_t>(p[i]);
            const std::uint64_t bit = std::uint64_t{1} << i;
            if (c < 256) {
                low[c] |= bit;
                continue;
            }
            std::size_t h = slot(c);
            while (keys[h] != 0 && keys[h] != c) h = (h + 1) & 127;
            if (keys[h] == 0) {
                keys[h] = c;
                masks[h] = 0;
                ++map_size;
            }
            masks[h] |= bit;
        }
    }

    template <typename CharT>
    void unset(Seq<CharT> p) {
        for (std::size_t i = 0; i < p.size; ++i) {
            const auto c = static_cast<std::uint32_t>(p[i]);
            if (c < 256) low[c] = 0;
        }
        if (map_size) {
            std::memset(keys, 0, sizeof(keys));
            map_size = 0;
        }
    }

    std::uint64_t get(std::uint32_t c) const {
        if (c < 256) return low[c];
        if (!map_size) return 0;
        for (std::size_t h = slot(c);; h = (h + 1) & 127) {
            if (keys[h] == c) return masks[h];
            if (keys[h] == 0) return 0;
        }
    }

private:
    static std::size_t slot(std::uint32_t c) { return (c * 0x9E3779B1u) >> 25; }
};

}  // namespace tarnvel::core
