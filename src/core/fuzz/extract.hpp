// Extraction: one query scored against many choices with the indel ratio (fuzz_ratio).
//
// The query is prepared once per call (IndelQuery): its bit-parallel pattern, through
// which each choice streams (O(ceil(|query|/64) * |choice|) word steps, no allocation),
// and, where the processor has AVX-512, its symbol sequence for the lane kernels, which
// take short choices as 16- or 32-bit lane patterns and stream the query through 32 or 16
// of them at once. Scores are always the exact indel ratio with cutoff 0.0; the user's
// cutoff is applied afterwards as a filter (score >= cutoff; a NaN cutoff keeps nothing).
//
// Matches carry the choice's index, not a copy of its text: the caller's texts stay
// borrowed until the results are built, so only the reported choices are ever copied.
// See also: ratio.hpp (the pairwise score), engine/parallel.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/common/pattern.hpp"
#include "core/common/text.hpp"
#include "engine/scratch.hpp"

namespace tarnvel::core {

struct ExtractMatch {
    double score;
    std::size_t index;  // position in choices
};

// Serial threshold of extract(): up to this many choices run on the calling thread.
inline constexpr std::size_t kExtractSerialMax = 1000;

// The query side of the indel ratio, prepared once and shared read-only by workers.
class IndelQuery {
public:
    explicit IndelQuery(Text query);

    // fuzz_ratio(query, choice) with cutoff 0.0; identical to indel_ratio().
    double score(Text choice) const;
    // out[i] = score(choices[i]) for i < count.
    void score_many(const Text* choices, std::size_t count, double* out) const;

    std::size_t length() const { return len_; }  // code points

private:
    enum class Mode { ascii_word, ascii_block, cp_word, cp_block };

    std::size_t lcs_of(Text choice, std::size_t& choice_len) const;
    template <typename CharT>
    void prepare_lanes(Seq<CharT> query);
    void score_many_lanes(const Text* choices, std::size_t count, double* out) const;

    Mode mode_;
    std::size_t len_ = 0;
    std::uint64_t len_mask_ = 0;
    alignas(64) std::uint64_t peq_[256] = {};  // one-word match masks (symbols < 256)
    BlockPattern block_;                       // multi-word, or symbols >= 256
    std::uint64_t wide_filter_[64] = {};       // bit (c mod 4096) for query symbols >= 256
    // The query for the lane kernels: distinct symbols (non-ASCII ones as 0x80), and each
    // position's index among them.
    bool lanes_ = false;
    bool query_ascii_ = true;
    std::vector<std::uint8_t> distinct_;
    std::vector<std::uint8_t> slots_;
};

// fuzz_ratio_batch: one score per choice, in choice order (runs on the worker pool).
engine::ScratchVector<double> ratio_batch(Text query, std::span<const Text> choices);

// fuzz_extract: the best `limit` kept choices, best first; equal scores in index order.
std::vector<ExtractMatch> extract(Text query, std::span<const Text> choices, double score_cutoff,
                                  std::uint64_t limit);

// fuzz_extract_one: the first choice with the highest kept score (on the calling thread;
// stops at the first kept 100.0).
std::optional<ExtractMatch> extract_one(Text query, std::span<const Text> choices,
                                        double score_cutoff);

}  // namespace tarnvel::core
