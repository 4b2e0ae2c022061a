// Levenshtein batches and cross-products (see levenshtein.hpp).
//
// Batch: a query of 1 to 64 ASCII bytes becomes one MyersPattern shared by every worker;
// the candidates are cut into chunks of engine::kChunkSize, and inside a chunk the ASCII
// ones stream through the pattern in groups of simd_lanes() (myers_multi), ordered by
// length so a group's texts end together. Every other pair goes through a prepared query
// (decoded once, with its bit-parallel pattern) instead of redoing that work per pair.
// Cross-product: on a vector target the short strings of one list are packed many to a
// register (levenshtein_packed.hpp) and the other list streams through them; otherwise
// one row per work item as for a batch. Which route a pair takes never changes its value.
#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_map>

#include "core/common/pattern.hpp"
#include "core/levenshtein/levenshtein.hpp"
#include "core/levenshtein/levenshtein_kernels.hpp"
#include "core/levenshtein/levenshtein_packed.hpp"
#include "core/levenshtein/myers.hpp"
#include "dispatch/cpu.hpp"
#include "dispatch/kernels.hpp"
#include "engine/parallel.hpp"

namespace tarnvel::core {

namespace {

// A query prepared once and read by every worker.
struct PreparedQuery {
    Text text;
    bool ascii = false;
    std::optional<MyersPattern> word;  // ASCII, 1 to 64 bytes
    std::vector<std::uint32_t> cps;    // decoded code points (non-ASCII candidates)
    BlockPattern cp_pattern;           // over cps, when of 1 to 64 symbols

    explicit PreparedQuery(Text q) : text(q), ascii(is_ascii(q)) {
        if (ascii && q.size >= 1 && q.size <= 64) word.emplace(q.bytes(), q.size);
    }
    // Code-point form, needed once a non-ASCII text meets this query. Only a query of at
    // most 64 symbols reads cp_pattern (longer ones build a pattern per pair, on the
    // shorter side), so only such a query builds it.
    void prepare_codepoints() {
        decode_utf8(text, cps);
        if (!cps.empty() && cps.size() <= 64) cp_pattern.assign(cp_seq(cps));
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
    if (n <= 64) return myers_blocked(q.cp_pattern, cp_seq(s.cps), s.work);
    // A long query: the scalar routine picks the shorter pattern, trims, bands and
    // vectorises; building a pattern per pair costs little next to that work.
    return levenshtein_codepoints(cp_seq(q.cps), cp_seq(s.cps));
}

// The grouped Myers route over ASCII texts: k at a time through myers_multi, the
// remainder one by one.
void myers_grouped(const MyersPattern& p, const Text* texts, std::size_t count, std::size_t k,
                   std::uint32_t* out) {
    std::size_t i = 0;
    const std::uint8_t* ptr[8];
    std::size_t len[8];
    const MyersGroups group(k);
    for (; k > 1 && i + k <= count; i += k) {
        for (std::size_t l = 0; l < k; ++l) {
            ptr[l] = texts[i + l].bytes();
            len[l] = texts[i + l].size;
        }
        group(p, ptr, len, out + i);
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

namespace {

// One chunk of a batch with a one-word query pattern: the ASCII candidates go through
// myers_multi k at a time, ordered by length so that the texts of a group end together
// (the order decides only which lanes run together, never a value); the others take the
// prepared-query path.
void batch_chunk(const PreparedQuery& q, const Text* cands, const std::uint8_t* flags,
                 std::size_t count, std::size_t k, std::uint32_t* out, Scratch& s) {
    constexpr std::size_t kBuckets = 66;  // lengths 0..64, then everything longer
    std::size_t start[kBuckets + 1] = {};
    for (std::size_t i = 0; i < count; ++i)
        if (flags[i]) ++start[std::min(cands[i].size, kBuckets - 1) + 1];
    for (std::size_t b = 0; b < kBuckets; ++b) start[b + 1] += start[b];
    const std::size_t ascii_count = start[kBuckets];
    std::vector<std::uint32_t> order(ascii_count);
    for (std::size_t i = 0; i < count; ++i) {
        if (flags[i])
            order[start[std::min(cands[i].size, kBuckets - 1)]++] = static_cast<std::uint32_t>(i);
        else
            out[i] = distance_to(q, cands[i], false, s);
    }
    const std::uint8_t* ptr[8];
    std::size_t len[8];
    std::uint32_t res[8];
    std::size_t g = 0;
    const MyersGroups group(k);
    for (; k > 1 && g + k <= ascii_count; g += k) {
        for (std::size_t l = 0; l < k; ++l) {
            ptr[l] = cands[order[g + l]].bytes();
            len[l] = cands[order[g + l]].size;
        }
        group(*q.word, ptr, len, res);
        for (std::size_t l = 0; l < k; ++l) out[order[g + l]] = res[l];
    }
    for (; g < ascii_count; ++g) {
        const Text c = cands[order[g]];
        out[order[g]] = myers_distance(*q.word, c.bytes(), c.size);
    }
}

// One chunk of at most kChunkSize candidates, serially.
void score_chunk(const PreparedQuery& q, const Text* cands, std::size_t count, std::size_t k,
                 std::uint32_t* out) {
    std::uint8_t flags[engine::kChunkSize];
    for (std::size_t i = 0; i < count; ++i) flags[i] = is_ascii(cands[i]);
    Scratch s;
    if (q.word) {
        batch_chunk(q, cands, flags, count, k, out, s);
        return;
    }
    for (std::size_t i = 0; i < count; ++i) out[i] = distance_to(q, cands[i], flags[i], s);
}

}  // namespace

struct LevenshteinQuery::Impl {
    PreparedQuery q;
    std::size_t k;
    explicit Impl(Text query) : q(query), k(static_cast<std::size_t>(dispatch::simd_lanes())) {
        q.prepare_codepoints();  // cheap, and lets every chunk test its own candidates
    }
};

LevenshteinQuery::LevenshteinQuery(Text query) : impl_(std::make_shared<const Impl>(query)) {}

void LevenshteinQuery::score_many(const Text* cands, std::size_t count, std::uint32_t* out) const {
    for (std::size_t lo = 0; lo < count; lo += engine::kChunkSize)
        score_chunk(impl_->q, cands + lo, std::min(engine::kChunkSize, count - lo), impl_->k,
                    out + lo);
}

void levenshtein_batch(Text query, std::span<const Text> candidates, std::uint32_t* out) {
    const std::size_t n = candidates.size();
    if (n == 0) return;
    const LevenshteinQuery q(query);
    engine::parallel_chunks(std::span<std::uint32_t>(out, n), engine::kChunkSize,
                            [&](std::size_t chunk, std::span<std::uint32_t> slice) {
                                q.score_many(candidates.data() + chunk * engine::kChunkSize,
                                             slice.size(), slice.data());
                            });
}

engine::ScratchVector<std::uint32_t> levenshtein_batch(Text query,
                                                       std::span<const Text> candidates) {
    engine::ScratchVector<std::uint32_t> out(candidates.size());
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
            engine::interruption_point();
            PreparedQuery q(a[i]);
            row_against(q, b, flags, all_ascii, k, row_out(i), s);
        }
    });
}

}  // namespace

namespace {

// The cross-product on the packed-lane kernel: list_a (or list_b, when list_a is too short
// to fill vectors) goes into the lanes, in groups of short strings of one lane width, and
// the other list streams through every group; writing a group's rows keeps the stores on
// a few sequential streams. Patterns longer than 64 symbols take the prepared-query path.
// False when the target has no such kernel.
bool cdist_packed(std::span<const Text> a, std::span<const Text> b, std::uint32_t* out) {
    const dispatch::KernelTable& kt = dispatch::kernels();
    if (kt.lev_packed[0] == nullptr || kt.lev_vec_bytes == 0) return false;
    if (a.size() * b.size() < 256) return false;  // setting up the groups would dominate
    const bool pack_b = a.size() < 64 && b.size() > a.size();
    const std::span<const Text> pats = pack_b ? b : a, texts = pack_b ? a : b;
    const std::size_t cols = b.size();
    const std::size_t np = pats.size(), nt = texts.size();
    // Output offsets: a pattern of list a is a row, of list b a column.
    auto pat_off = [&](std::size_t i) { return pack_b ? i : i * cols; };
    std::vector<std::size_t> text_off(nt);
    for (std::size_t t = 0; t < nt; ++t) text_off[t] = pack_b ? t * cols : t;
    std::vector<Text> shorts;
    std::vector<std::size_t> short_off, longs;
    for (std::size_t i = 0; i < np; ++i) {
        if (count_code_points(pats[i].data, pats[i].size) <= 64) {
            shorts.push_back(pats[i]);
            short_off.push_back(pat_off(i));
        } else {
            longs.push_back(i);
        }
    }
    if (!packed_cross(shorts, short_off.data(), texts, text_off.data(), PackedValue::levenshtein,
                      out, true, nullptr))
        return false;
    if (longs.empty()) return true;
    std::vector<std::uint8_t> text_ascii(nt);
    for (std::size_t t = 0; t < nt; ++t) text_ascii[t] = is_ascii(texts[t]);
    engine::parallel_for(longs.size(), [&](std::size_t lo, std::size_t hi) {
        Scratch s;
        for (std::size_t u = lo; u < hi; ++u) {
            engine::interruption_point();
            const std::size_t i = longs[u];
            PreparedQuery q(pats[i]);
            q.prepare_codepoints();
            const std::size_t off = pat_off(i);
            // A row of long texts can take a second: stop between its pairs too.
            for (std::size_t t = 0; t < nt; ++t) {
                if (t != 0) engine::interruption_point();
                out[off + text_off[t]] = distance_to(q, texts[t], text_ascii[t], s);
            }
        }
    });
    return true;
}

}  // namespace

void levenshtein_cdist(std::span<const Text> a, std::span<const Text> b, std::uint32_t* out) {
    if (a.empty() || b.empty()) return;
    if (cdist_packed(a, b, out)) return;
    const std::size_t cols = b.size();
    cdist_rows(a, b, [&](std::size_t i) { return out + i * cols; });
}

std::vector<std::vector<std::uint32_t>> levenshtein_cdist(std::span<const Text> a,
                                                          std::span<const Text> b) {
    std::vector<std::vector<std::uint32_t>> rows;
    if (a.empty() || b.empty()) return rows;
    rows.resize(a.size());
    for (auto& r : rows) r.resize(b.size());
    if (dispatch::kernels().lev_packed[0] != nullptr && a.size() * b.size() >= 256) {
        std::vector<std::uint32_t> flat(a.size() * b.size());
        if (cdist_packed(a, b, flat.data())) {
            for (std::size_t i = 0; i < a.size(); ++i)
                std::copy_n(flat.data() + i * b.size(), b.size(), rows[i].data());
            return rows;
        }
    }
    cdist_rows(a, b, [&](std::size_t i) { return rows[i].data(); });
    return rows;
}

}  // namespace tarnvel::core
