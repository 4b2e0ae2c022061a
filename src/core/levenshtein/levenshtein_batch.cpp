// Levenshtein batches and cross-products (see levenshtein.hpp).
//
// A query of 1 to 64 ASCII bytes becomes one MyersPattern shared by every worker; ASCII
// candidates stream through it in groups of simd_lanes() (myers_multi), in chunks of
// engine::kChunkSize. Everything else goes through a prepared query (decoded once, with
// its bit-parallel pattern) instead of redoing that work per pair. Which route a pair
// takes never changes its value.
#include <algorithm>
#include <memory>
#include <optional>

#include "core/common/pattern.hpp"
#include "core/levenshtein/levenshtein.hpp"
#include "core/levenshtein/levenshtein_kernels.hpp"
#include "core/levenshtein/myers.hpp"
#include "dispatch/cpu.hpp"
#include "engine/parallel.hpp"

namespace tarnvel::core {

namespace {

// A query prepared once and read by every worker.
struct PreparedQuery {
    Text text;
    bool ascii = false;
    std::optional<MyersPattern> word;  // ASCII, 1 to 64 bytes
    std::vector<std::uint32_t> cps;     // decoded code points (non-ASCII candidates)
    BlockPattern cp_pattern;            // over cps, when non-empty

    explicit PreparedQuery(Text q) : text(q), ascii(is_ascii(q)) {
        if (ascii && q.size >= 1 && q.size <= 64) word.emplace(q.bytes(), q.size);
    }
    // Code-point form, needed once a non-ASCII text meets this query.
    void prepare_codepoints() {
        decode_utf8(text, cps);
        if (!cps.empty()) cp_pattern.assign(cp_seq(cps));
    }
};

// Per-worker scratch.
struct Scratch {
    std::vector<std::uint32_t> cps;
    std::vector<std::uint64_t> work;
};

// levenshtein(q, c), using what the query has prepared.
std::uint32_t distance_to(const PreparedQuery& q, Text c, bool c_ascii, Scratch& s) {
    if (q.ascii && c_ascii) {
        if (q.word) return myers_distance(*q.word, c.bytes(), c.size);
        return levenshtein_bytes(byte_seq(q.text), byte_seq(c));
    }
    decode_utf8(c, s.cps);
    const std::size_t n = q.cps.size(), m = s.cps.size();
    if (n == 0) return static_cast<std::uint32_t>(m);
    if (m == 0) return static_cast<std::uint32_t>(n);
    if (n <= 64 || m > 64) return myers_blocked(q.cp_pattern, cp_seq(s.cps), s.work);
    // A long query against a short candidate: the candidate is the cheaper pattern.
    return levenshtein_codepoints(cp_seq(q.cps), cp_seq(s.cps));
}

// The grouped Myers route over ASCII texts: k at a time through myers_multi, the
// remainder one by one.
void myers_grouped(const MyersPattern& p, const Text* texts, std::size_t count, std::size_t k,
                   std::uint32_t* out) {
    std::size_t i = 0;
    const std::uint8_t* ptr[8];
    std::size_t len[8];
    for (; k > 1 && i + k <= count; i += k) {
        for (std::size_t l = 0; l < k; ++l) {
            ptr[l] = texts[i + l].bytes();
            len[l] = texts[i + l].size;
        }
        myers_multi(p, ptr, len, k, out + i);
    }
    for (; i < count; ++i) out[i] = myers_distance(p, texts[i].bytes(), texts[i].size);
}

std::vector<std::uint8_t> ascii_flags(std::span<const Text> texts, bool& all_ascii) {
    std::vector<std::uint8_t> f(texts.size());
    all_ascii = true;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        f[i] = is_ascii(texts[i]);
        all_ascii = all_ascii && f[i];
    }
    return f;
}

// One row: q against every text of b.
void row_against(PreparedQuery& q, std::span<const Text> b, const std::vector<std::uint8_t>& flags,
                 bool all_ascii, std::size_t k, std::uint32_t* out, Scratch& s) {
    if (q.word && all_ascii) return myers_grouped(*q.word, b.data(), b.size(), k, out);
    if (!all_ascii || !q.ascii) q.prepare_codepoints();
    for (std::size_t j = 0; j < b.size(); ++j) out[j] = distance_to(q, b[j], flags[j], s);
}

}  // namespace

void levenshtein_batch(Text query, std::span<const Text> candidates, std::uint32_t* out) {
    const std::size_t n = candidates.size();
    if (n == 0) return;
    bool all_ascii = false;
    const auto flags = ascii_flags(candidates, all_ascii);
    PreparedQuery q(query);
    if (q.word && all_ascii) {
        const std::size_t k = static_cast<std::size_t>(dispatch::simd_lanes());
        engine::parallel_chunks(std::span<std::uint32_t>(out, n), engine::kChunkSize,
                                [&](std::size_t chunk, std::span<std::uint32_t> slice) {
                                    const std::size_t lo = chunk * engine::kChunkSize;
                                    myers_grouped(*q.word, candidates.data() + lo, slice.size(), k,
                                                  slice.data());
                                });
        return;
    }
    q.prepare_codepoints();
    engine::parallel_for(n, [&](std::size_t lo, std::size_t hi) {
        Scratch s;
        for (std::size_t i = lo; i < hi; ++i) out[i] = distance_to(q, candidates[i], flags[i], s);
    });
}

std::vector<std::uint32_t> levenshtein_batch(Text query, std::span<const Text> candidates) {
    std::vector<std::uint32_t> out(candidates.size());
    levenshtein_batch(query, candidates, out.data());
    return out;
}

namespace {

template <typename RowOut>
void cdist_rows(std::span<const Text> a, std::span<const Text> b, RowOut&& row_out) {
    bool all_ascii = false;
    const auto flags = ascii_flags(b, all_ascii);
    const std::size_t k = static_cast<std::size_t>(dispatch::simd_lanes());
    engine::parallel_for(a.size(), [&](std::size_t lo, std::size_t hi) {
        Scratch s;
        for (std::size_t i = lo; i < hi; ++i) {
            PreparedQuery q(a[i]);
            row_against(q, b, flags, all_ascii, k, row_out(i), s);
        }
    });
}

}  // namespace

void levenshtein_cdist(std::span<const Text> a, std::span<const Text> b, std::uint32_t* out) {
    if (a.empty() || b.empty()) return;
    const std::size_t cols = b.size();
    cdist_rows(a, b, [&](std::size_t i) { return out + i * cols; });
}

std::vector<std::vector<std::uint32_t>> levenshtein_cdist(std::span<const Text> a,
                                                          std::span<const Text> b) {
    std::vector<std::vector<std::uint32_t>> rows;
    if (a.empty() || b.empty()) return rows;
    rows.resize(a.size());
    for (auto& r : rows) r.resize(b.size());
    cdist_rows(a, b, [&](std::size_t i) { return rows[i].data(); });
    return rows;
}

}  // namespace tarnvel::core
