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
    std::vector<std::uint32_t> cps;     // decoded code points (non-ASCII candidates)
    BlockPattern cp_pattern;            // over cps, when of 1 to 64 symbols

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
        if (flags[i]) order[start[std::min(cands[i].size, kBuckets - 1)]++] = static_cast<std::uint32_t>(i);
        else out[i] = distance_to(q, cands[i], false, s);
    }
    const std::uint8_t* ptr[8];
    std::size_t len[8];
    std::uint32_t res[8];
    std::size_t g = 0;
    for (; k > 1 && g + k <= ascii_count; g += k) {
        for (std::size_t l = 0; l < k; ++l) {
            ptr[l] = cands[order[g + l]].bytes();
            len[l] = cands[order[g + l]].size;
        }
        myers_multi(*q.word, ptr, len, k, res);
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
        score_chunk(impl_->q, cands + lo, std::min(engine::kChunkSize, count - lo), impl_->k, out + lo);
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

engine::ScratchVector<std::uint32_t> levenshtein_batch(Text query, std::span<const Text> candidates) {
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

// Both lists as symbol ids: ASCII bytes keep their value, every other code point gets
// the next id from 128 up (the same id in both lists).
struct IdLists {
    std::vector<std::uint32_t> ids;
    std::vector<const std::uint32_t*> ptr;
    std::vector<std::uint32_t> len;
    std::size_t symbols = 128;
};

IdLists to_ids(std::span<const Text> x, std::span<const Text> y) {
    IdLists r;
    const std::size_t count = x.size() + y.size();
    std::size_t total = 0;
    for (const Text& t : x) total += t.size;
    for (const Text& t : y) total += t.size;
    r.ids.reserve(total);
    r.len.resize(count);
    std::vector<std::size_t> start(count);
    std::unordered_map<std::uint32_t, std::uint32_t> map;
    std::vector<std::uint32_t> cps;
    for (std::size_t i = 0; i < count; ++i) {
        const Text t = i < x.size() ? x[i] : y[i - x.size()];
        start[i] = r.ids.size();
        if (is_ascii(t)) {
            for (std::size_t k = 0; k < t.size; ++k) r.ids.push_back(t.bytes()[k]);
        } else {
            decode_utf8(t, cps);
            for (std::uint32_t c : cps) {
                if (c < 128) {
                    r.ids.push_back(c);
                    continue;
                }
                auto [it, fresh] = map.try_emplace(c, static_cast<std::uint32_t>(128 + map.size()));
                r.ids.push_back(it->second);
            }
        }
        r.len[i] = static_cast<std::uint32_t>(r.ids.size() - start[i]);
    }
    r.symbols = 128 + map.size();
    r.ptr.resize(count);
    for (std::size_t i = 0; i < count; ++i) r.ptr[i] = r.ids.data() + start[i];
    return r;
}

// A zeroed, 64-byte aligned match table of one vector per symbol id.
struct Table {
    std::unique_ptr<unsigned char[]> raw;
    void* data = nullptr;
    Table(std::size_t symbols, std::size_t vec_bytes) : raw(new unsigned char[symbols * vec_bytes + 64]()) {
        auto p = reinterpret_cast<std::uintptr_t>(raw.get());
        data = reinterpret_cast<void*>((p + 63) & ~std::uintptr_t{63});
    }
};

// Above this many distinct symbols the per-worker match table (one vector per symbol)
// would grow past a few megabytes; such lists take the per-pair path.
constexpr std::size_t kMaxPackedSymbols = std::size_t{1} << 16;

// The cross-product on the packed-lane kernel: list_a (or list_b, when list_a is too short
// to fill vectors) is cut into groups of short strings of one lane width; the other list
// streams through every group. Packing the rows keeps the writes of a group on a few
// sequential row streams. Patterns longer
// than 64 symbols take the prepared-query path. False when the target has no such kernel.
bool cdist_packed(std::span<const Text> a, std::span<const Text> b, std::uint32_t* out) {
    const dispatch::KernelTable& kt = dispatch::kernels();
    if (kt.lev_packed[0] == nullptr || kt.lev_vec_bytes == 0) return false;
    if (a.size() * b.size() < 256) return false;  // setting up the groups would dominate
    const bool pack_b = a.size() < 64 && b.size() > a.size();
    const std::span<const Text> pats = pack_b ? b : a, texts = pack_b ? a : b;
    const std::size_t cols = b.size();
    IdLists ids = to_ids(pats, texts);
    if (ids.symbols > kMaxPackedSymbols) return false;
    const std::size_t np = pats.size(), nt = texts.size();
    // Output offsets: a pattern of list a is a row, of list b a column.
    auto pat_off = [&](std::size_t i) { return pack_b ? i : i * cols; };
    std::vector<std::size_t> text_off(nt);
    for (std::size_t t = 0; t < nt; ++t) text_off[t] = pack_b ? t * cols : t;

    // Bucket the patterns by lane width (8 << c bits), keeping list order inside a bucket.
    std::vector<std::size_t> order[4], longs;
    for (std::size_t i = 0; i < np; ++i) {
        const std::uint32_t m = ids.len[i];
        if (m <= 8) order[0].push_back(i);
        else if (m <= 16) order[1].push_back(i);
        else if (m <= 32) order[2].push_back(i);
        else if (m <= 64) order[3].push_back(i);
        else longs.push_back(i);
    }
    struct Group {
        int cls;
        std::size_t first, count;  // positions in the flat pattern arrays
    };
    std::vector<const std::uint32_t*> gp_ptr;
    std::vector<std::uint32_t> gp_len;
    std::vector<std::size_t> gp_off;
    std::vector<Group> groups;
    for (int c = 0; c < 4; ++c) {
        const std::size_t lanes = kt.lev_vec_bytes / (std::size_t{1} << c);
        for (std::size_t k = 0; k < order[c].size(); k += lanes) {
            const std::size_t cnt = std::min(lanes, order[c].size() - k);
            groups.push_back({c, gp_ptr.size(), cnt});
            for (std::size_t q = k; q < k + cnt; ++q) {
                const std::size_t i = order[c][q];
                gp_ptr.push_back(ids.ptr[i]);
                gp_len.push_back(ids.len[i]);
                gp_off.push_back(pat_off(i));
            }
        }
    }
    const std::uint32_t* const* text_ptr = ids.ptr.data() + np;
    const std::uint32_t* text_len = ids.len.data() + np;
    std::vector<std::uint8_t> text_ascii;
    if (!longs.empty()) {
        text_ascii.resize(nt);
        for (std::size_t t = 0; t < nt; ++t) text_ascii[t] = is_ascii(texts[t]);
    }
    const std::size_t units = groups.size() + longs.size();
    engine::parallel_for(units, [&](std::size_t lo, std::size_t hi) {
        std::optional<Table> table;
        Scratch s;
        for (std::size_t u = lo; u < hi; ++u) {
            engine::interruption_point();
            if (u < groups.size()) {
                if (!table) table.emplace(ids.symbols, kt.lev_vec_bytes);
                const Group& g = groups[u];
                const LevPackedJob job{gp_ptr.data() + g.first, gp_len.data() + g.first,
                                       gp_off.data() + g.first, g.count, text_ptr, text_len,
                                       text_off.data(), nt, table->data, out};
                kt.lev_packed[g.cls](job);
            } else {
                const std::size_t i = longs[u - groups.size()];
                PreparedQuery q(pats[i]);
                q.prepare_codepoints();
                const std::size_t off = pat_off(i);
                for (std::size_t t = 0; t < nt; ++t)
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
