// Match-mask tables for bit-parallel kernels (Myers/Hyyrö edit distance, LCS, Jaro).
//
// BlockPattern maps every symbol of a pattern P to ceil(|P|/64) words: bit i of word w
// of symbol c is set when P[w*64 + i] == c. Bytes index a dense 256-row table; code points
// below 256 do too, larger ones go through a small open-addressing map to extra rows,
// and symbols absent from P read as a row of zeros. Built once per query and then
// shared read-only (workers may read one pattern concurrently).
// See also: text.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "core/common/text.hpp"

namespace tarnvel::core {

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
        extra_ = 0;
        if constexpr (sizeof(CharT) > 1) {
            std::size_t big = 0;
            for (std::size_t i = 0; i < p.size; ++i) big += static_cast<std::uint32_t>(p[i]) >= 256;
            if (big) {
                std::size_t cap = 16;
                while (cap < 2 * big) cap <<= 1;
                keys_.assign(cap, kEmpty);
                slots_.assign(cap, 0);
            }
        }
        for (std::size_t i = 0; i < p.size; ++i) {
            std::uint64_t* row = row_for_insert(static_cast<std::uint32_t>(p[i]));
            row[i / 64] |= std::uint64_t{1} << (i % 64);
        }
    }

    std::size_t size() const { return len_; }
    std::size_t words() const { return words_; }

    // The words of symbol c (a pointer to words() consecutive masks).
    const std::uint64_t* row(std::uint32_t c) const {
        if (c < 256) return rows_.data() + std::size_t{c} * words_;
        if (keys_.empty()) return rows_.data() + 256 * words_;
        const std::size_t mask = keys_.size() - 1;
        for (std::size_t h = hash(c) & mask;; h = (h + 1) & mask) {
            if (keys_[h] == c) return rows_.data() + slots_[h] * words_;
            if (keys_[h] == kEmpty) return rows_.data() + 256 * words_;
        }
    }
    std::uint64_t get(std::size_t word, std::uint32_t c) const { return row(c)[word]; }

private:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
    static std::size_t hash(std::uint32_t c) { return (c * 0x9E3779B1u) >> 7; }

    std::uint64_t* row_for_insert(std::uint32_t c) {
        if (c < 256) return rows_.data() + std::size_t{c} * words_;
        const std::size_t mask = keys_.size() - 1;
        for (std::size_t h = hash(c) & mask;; h = (h + 1) & mask) {
            if (keys_[h] == c) return rows_.data() + slots_[h] * words_;
            if (keys_[h] == kEmpty) {
                keys_[h] = c;
                slots_[h] = 257 + extra_++;
                rows_.resize((257 + extra_) * words_, 0);
                return rows_.data() + slots_[h] * words_;
            }
        }
    }

    std::size_t len_ = 0;
    std::size_t words_ = 1;
    std::size_t extra_ = 0;
    std::vector<std::uint64_t> rows_;
    std::vector<std::uint32_t> keys_;
    std::vector<std::size_t> slots_;
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
