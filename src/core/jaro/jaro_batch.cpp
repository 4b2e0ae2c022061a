// Jaro-Winkler batches (one query against many candidates) and cross-products.
//
// The fast path packs short candidates into vector lanes (the packed-lane kernel,
// simd/generic/jaro.inc): every candidate of 1 to 64 code points goes to the narrowest lane
// that holds it (8, 16, 32 or 64 bits; only 64 on the portable target), so a vector
// carries 4 to 64 candidates at once. The mask table of a group has one entry per distinct
// query symbol only, so building it costs one lookup per candidate symbol and works for
// bytes and code points alike. Candidates the lanes cannot take (empty, longer than 64
// code points) and queries longer than 64 code points take the scalar jaro_winkler.
// Every value equals jaro_winkler() of the pair bit for bit; grouping changes no value.
// See also: jaro.hpp, jaro_scalar.hpp, dispatch/kernels.hpp (jaro_lanes slots).
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "core/jaro/jaro.hpp"
#include "core/jaro/jaro_scalar.hpp"
#include "dispatch/cpu.hpp"
#include "dispatch/kernels.hpp"
#include "engine/parallel.hpp"

namespace tarnvel::core {

namespace {

constexpr std::uint8_t kNoEntry = 0xFF;
constexpr std::size_t kMaxLaneText = 64;

// Calls f(position, code point) for every code point of t (bytes when ascii).
template <typename F>
inline void for_each_symbol(Text t, bool ascii, F&& f) {
    const auto* s = t.bytes();
    const std::size_t n = t.size;
    if (ascii) {
        for (std::size_t i = 0; i < n; ++i) f(i, std::uint32_t{s[i]});
        return;
    }
    std::size_t k = 0;
    for (std::size_t i = 0; i < n; ++k) f(k, next_code_point(s, i));
}

// The query as table entries: one entry per distinct symbol.
struct QueryMap {
    std::uint8_t ascii[128];
    std::uint32_t big[kMaxLaneText];  // distinct symbols >= 128
    std::uint8_t big_entry[kMaxLaneText];
    std::size_t nbig = 0;
    std::size_t entries = 0;
    std::uint16_t qidx[kMaxLaneText];
    std::uint32_t head[kMaxWinklerPrefix];  // leading symbols, for the prefix
    std::size_t len = 0;

    // False when the query does not suit the lanes (empty or longer than 64).
    bool assign(Text q) {
        const bool ascii_q = is_ascii(q);
        len = ascii_q ? q.size : count_code_points(q);
        if (len == 0 || len > kMaxLaneText) return false;
        std::memset(ascii, kNoEntry, sizeof(ascii));
        nbig = entries = 0;
        for_each_symbol(q, ascii_q, [&](std::size_t i, std::uint32_t c) {
            std::uint8_t e = lookup(c);
            if (e == kNoEntry) {
                e = static_cast<std::uint8_t>(entries++);
                if (c < 128) {
                    ascii[c] = e;
                } else {
                    big[nbig] = c;
                    big_entry[nbig++] = e;
                }
            }
            qidx[i] = e;
            if (i < kMaxWinklerPrefix) head[i] = c;
        });
        return true;
    }

    std::uint8_t lookup(std::uint32_t c) const {
        if (c < 128) return ascii[c];
        for (std::size_t j = 0; j < nbig; ++j)
            if (big[j] == c) return big_entry[j];
        return kNoEntry;
    }
};

using LanesFn = void (*)(const void*, const std::uint16_t*, std::size_t, const std::uint8_t*,
                         std::uint8_t*, std::uint8_t*);

struct Cand {
    Text text;
    bool ascii;
    std::uint8_t len;  // code points, 1..64
    std::size_t pos;   // where the value goes
};

// Runs the lane kernel over groups of one lane class; writes out[c.pos]. Symbols the
// query lacks go to a scratch entry (index q.entries) that no query position reads, so
// the ASCII loop has no branch.
template <typename Lane, std::size_t VB>
void run_class(const QueryMap& q, std::span<const Cand> cands, double p, double* out,
               LanesFn kernel) {
    constexpr std::size_t kLanes = VB / sizeof(Lane);
    alignas(64) Lane table[(kMaxLaneText + 1) * kLanes];
    std::uint8_t win[kLanes], m[kLanes], t[kLanes], pref[kLanes];
    std::uint8_t full[128];  // ASCII byte -> entry, scratch when absent
    for (std::size_t c = 0; c < 128; ++c)
        full[c] = q.ascii[c] == kNoEntry ? static_cast<std::uint8_t>(q.entries) : q.ascii[c];
    const std::size_t table_bytes = (q.entries + 1) * VB;
    std::uint32_t cps[kMaxLaneText];
    for (std::size_t g = 0; g < cands.size(); g += kLanes) {
        const std::size_t cnt = std::min(kLanes, cands.size() - g);
        // The texts lie scattered in memory: fetch the next group's while this one runs.
        for (std::size_t l = g + kLanes; l < std::min(cands.size(), g + 2 * kLanes); ++l)
            __builtin_prefetch(cands[l].text.data);
        std::memset(table, 0, table_bytes);
        for (std::size_t l = 0; l < cnt; ++l) {
            const Cand& c = cands[g + l];
            const std::size_t lim = std::min({kMaxWinklerPrefix, q.len, std::size_t{c.len}});
            std::size_t pl = 0;
            if (c.ascii) {
                const std::uint8_t* s = c.text.bytes();
                for (std::size_t k = 0; k < c.len; ++k)
                    table[full[s[k]] * kLanes + l] |= static_cast<Lane>(Lane{1} << k);
                while (pl < lim && s[pl] == q.head[pl]) ++pl;
            } else if (q.nbig == 0) {
                // The query is ASCII, so only the ASCII code points of c can match: walk
                // the bytes, counting code points at lead bytes; other bytes land in the
                // scratch entry.
                const std::uint8_t* s = c.text.bytes();
                std::size_t k = 0;
                for (std::size_t i = 0; i < c.text.size; ++i) {
                    const std::uint8_t byte = s[i];
                    const bool lead = (byte & 0xC0) != 0x80;
                    k += lead;
                    const std::size_t idx = byte < 0x80 ? full[byte] : q.entries;
                    table[idx * kLanes + l] |= static_cast<Lane>(Lane{1} << (k - 1));
                }
                while (pl < lim && s[pl] < 0x80 && s[pl] == q.head[pl]) ++pl;
            } else {
                for_each_symbol(c.text, false,
                                [&](std::size_t k, std::uint32_t sym) { cps[k] = sym; });
                for (std::size_t k = 0; k < c.len; ++k) {
                    const std::uint8_t e = q.lookup(cps[k]);
                    const std::size_t idx = e == kNoEntry ? q.entries : e;
                    table[idx * kLanes + l] |= static_cast<Lane>(Lane{1} << k);
                }
                while (pl < lim && cps[pl] == q.head[pl]) ++pl;
            }
            win[l] = static_cast<std::uint8_t>(jaro_window(q.len, c.len));
            pref[l] = static_cast<std::uint8_t>(pl);
        }
        for (std::size_t l = cnt; l < kLanes; ++l) win[l] = 0;
        kernel(table, q.qidx, q.len, win, m, t);
        for (std::size_t l = 0; l < cnt; ++l) {
            const Cand& c = cands[g + l];
            out[c.pos] = winkler_boost(jaro_finish_small(m[l], t[l], q.len, c.len), pref[l], p);
        }
    }
}

int lane_class(std::size_t len, const dispatch::KernelTable& k) {
    for (int c = 0; c < 4; ++c)
        if (k.jaro_lanes[c] && len <= (std::size_t{8} << c)) return c;
    return -1;
}

// Values for candidates [begin, end) of the list, written to out[begin..end).
struct Classified {
    std::vector<Cand> by_class[4];
    std::vector<std::size_t> others;
};

void classify(std::span<const Text> cands, std::size_t begin, std::size_t end,
              const dispatch::KernelTable& k, Classified& cl) {
    for (auto& v : cl.by_class) v.clear();
    cl.others.clear();
    // Candidates are scattered through memory (one allocation each): keep several loads
    // in flight ahead of the scan.
    constexpr std::size_t kAhead = 16;
    for (std::size_t i = begin; i < std::min(end, begin + kAhead); ++i)
        __builtin_prefetch(cands[i].data);
    for (std::size_t i = begin; i < end; ++i) {
        if (i + kAhead < end) __builtin_prefetch(cands[i + kAhead].data);
        const Text t = cands[i];
        const bool ascii = is_ascii(t);
        const std::size_t len = ascii ? t.size : count_code_points(t);
        const int c = (len == 0 || len > kMaxLaneText) ? -1 : lane_class(len, k);
        if (c < 0) {
            cl.others.push_back(i);
        } else {
            cl.by_class[c].push_back({t, ascii, static_cast<std::uint8_t>(len), i});
        }
    }
}

template <std::size_t VB>
void run_classified_vb(const QueryMap& q, Text query, std::span<const Text> cands,
                       const Classified& cl, double p, double* out,
                       const dispatch::KernelTable& k) {
    if (!cl.by_class[0].empty())
        run_class<std::uint8_t, VB>(q, cl.by_class[0], p, out, k.jaro_lanes[0]);
    if (!cl.by_class[1].empty())
        run_class<std::uint16_t, VB>(q, cl.by_class[1], p, out, k.jaro_lanes[1]);
    if (!cl.by_class[2].empty())
        run_class<std::uint32_t, VB>(q, cl.by_class[2], p, out, k.jaro_lanes[2]);
    if (!cl.by_class[3].empty())
        run_class<std::uint64_t, VB>(q, cl.by_class[3], p, out, k.jaro_lanes[3]);
    for (std::size_t i : cl.others) out[i] = jaro_winkler(query, cands[i], p);
}

void run_classified(const QueryMap& q, Text query, std::span<const Text> cands,
                    const Classified& cl, double p, double* out, const dispatch::KernelTable& k) {
    switch (k.jaro_vec_bytes) {
        case 64:
            run_classified_vb<64>(q, query, cands, cl, p, out, k);
            break;
        case 32:
            run_classified_vb<32>(q, query, cands, cl, p, out, k);
            break;
        default:
            run_classified_vb<8>(q, query, cands, cl, p, out, k);
            break;
    }
}

}  // namespace

struct JaroWinklerQuery::Impl {
    Text query;
    double p;
    bool lanes;
    QueryMap q;
    Impl(Text text, double scale) : query(text), p(clamp_prefix_scale(scale)) {
        lanes = q.assign(text);
    }
};

JaroWinklerQuery::JaroWinklerQuery(Text query, double p)
    : impl_(std::make_shared<const Impl>(query, p)) {}

void JaroWinklerQuery::score_many(const Text* cands, std::size_t count, double* out) const {
    const Impl& im = *impl_;
    if (!im.lanes) {
        for (std::size_t i = 0; i < count; ++i) out[i] = jaro_winkler(im.query, cands[i], im.p);
        return;
    }
    const dispatch::KernelTable& k = dispatch::kernels();
    const std::span<const Text> all(cands, count);
    Classified cl;
    for (std::size_t lo = 0; lo < count; lo += engine::kChunkSize) {
        classify(all, lo, std::min(count, lo + engine::kChunkSize), k, cl);
        run_classified(im.q, im.query, all, cl, im.p, out, k);
    }
}

engine::ScratchVector<double> jaro_winkler_many(Text query, std::span<const Text> candidates,
                                                double p) {
    p = clamp_prefix_scale(p);
    const std::size_t n = candidates.size();
    engine::ScratchVector<double> out(n);
    QueryMap q;
    if (!q.assign(query)) {
        engine::parallel_map(std::span<double>(out),
                             [&](std::size_t i) { return jaro_winkler(query, candidates[i], p); });
        return out;
    }
    const dispatch::KernelTable& k = dispatch::kernels();
    double* base = out.data();
    engine::parallel_chunks(std::span<double>(out), engine::kChunkSize,
                            [&](std::size_t c, std::span<double>) {
                                const std::size_t begin = c * engine::kChunkSize;
                                const std::size_t end = std::min(n, begin + engine::kChunkSize);
                                Classified cl;
                                classify(candidates, begin, end, k, cl);
                                run_classified(q, query, candidates, cl, p, base, k);
                            });
    return out;
}

namespace {

// Cross-products pack the rows (list_a) into lanes instead: Jaro is symmetric bit for bit
// (per symbol, the greedy matching of a into b and of b into a is the same two-pointer
// merge of the two position lists, so both texts end with the same matched positions;
// the transposition count depends only on those, and M/|a| + M/|b| is one commutative
// addition). A group table keyed by symbol (128 ASCII entries, then the group's other
// symbols, then one zero entry) is built once and every column is streamed through it.

// The first four symbols of a text, two per word, for the Winkler prefix of a pair.
struct Head {
    std::uint64_t w0, w1;
};

Head make_head(const std::uint32_t* s, std::size_t n, std::uint32_t pad) {
    std::uint32_t h[4] = {pad, pad, pad, pad};
    for (std::size_t i = 0; i < n && i < 4; ++i) h[i] = s[i];
    return {h[0] | (std::uint64_t{h[1]} << 32), h[2] | (std::uint64_t{h[3]} << 32)};
}

// Common prefix (up to 4) of two heads whose pads differ, so it stops at the shorter text.
inline std::size_t head_prefix(Head a, Head b) {
    const std::uint64_t x0 = a.w0 ^ b.w0;
    if (x0) return static_cast<std::size_t>(std::countr_zero(x0)) / 32;
    const std::uint64_t x1 = a.w1 ^ b.w1;
    if (x1) return 2 + static_cast<std::size_t>(std::countr_zero(x1)) / 32;
    return 4;
}

// A list decoded once: code points (flat), and per text its offset, length and head.
struct Decoded {
    std::vector<std::uint32_t> sym;
    std::vector<std::size_t> off;
    std::vector<std::size_t> len;  // code points
    std::vector<std::uint8_t> ascii;
    std::vector<Head> head;

    void assign(std::span<const Text> list, std::uint32_t pad) {
        const std::size_t n = list.size();
        off.resize(n + 1);
        len.resize(n);
        ascii.resize(n);
        head.resize(n);
        std::size_t total = 0;
        for (const Text& t : list) total += t.size;
        sym.resize(total);
        std::size_t o = 0;
        for (std::size_t i = 0; i < n; ++i) {
            off[i] = o;
            const bool asc = is_ascii(list[i]);
            ascii[i] = asc;
            std::uint32_t* dst = sym.data() + o;
            std::size_t k = 0;
            for_each_symbol(list[i], asc, [&](std::size_t, std::uint32_t c) { dst[k++] = c; });
            len[i] = k;
            head[i] = make_head(dst, k, pad);
            o += k;
        }
        off[n] = o;
    }
    const std::uint32_t* data(std::size_t i) const { return sym.data() + off[i]; }
};

// Symbols >= 128 of one row group, mapped to table entries 128, 129, ...
struct BigMap {
    static constexpr std::size_t kSlots = 512;
    std::uint32_t key[kSlots];
    std::uint16_t entry[kSlots];
    std::size_t count = 0;
    void clear() {
        std::fill(std::begin(key), std::end(key), 0u);
        count = 0;
    }
    static std::size_t slot(std::uint32_t c) { return (c * 0x9E3779B1u) >> 23; }  // 9 bits
    // Entry of c, or `none` when absent. Code point 0 is ASCII, so 0 marks a free slot.
    std::uint16_t find(std::uint32_t c, std::uint16_t none) const {
        for (std::size_t h = slot(c);; h = (h + 1) % kSlots) {
            if (key[h] == c) return entry[h];
            if (key[h] == 0) return none;
        }
    }
    bool insert(std::uint32_t c, std::uint16_t e) {  // false when full
        for (std::size_t h = slot(c);; h = (h + 1) % kSlots) {
            if (key[h] == c) return true;
            if (key[h] == 0) {
                if (count + 1 >= kSlots / 2) return false;
                key[h] = c;
                entry[h] = e;
                ++count;
                return true;
            }
        }
    }
};

template <typename Lane, std::size_t VB>
void matrix_group(const Decoded& rows, const std::size_t* members, std::size_t cnt,
                  const Decoded& cols, std::span<const Text> list_a, std::span<const Text> list_b,
                  double p, LanesFn kernel, double* const* out) {
    constexpr std::size_t kLanes = VB / sizeof(Lane);
    BigMap big;
    big.clear();
    std::size_t entries = 128;
    for (std::size_t l = 0; l < cnt; ++l) {
        const std::uint32_t* s = rows.data(members[l]);
        for (std::size_t k = 0; k < rows.len[members[l]]; ++k)
            if (s[k] >= 128 && big.find(s[k], 0xFFFF) == 0xFFFF) {
                if (!big.insert(s[k], static_cast<std::uint16_t>(entries))) {
                    // Too many distinct symbols for one table: score these rows one by one.
                    for (std::size_t r = 0; r < cnt; ++r)
                        for (std::size_t j = 0; j < list_b.size(); ++j)
                            out[members[r]][j] = jaro_winkler(list_a[members[r]], list_b[j], p);
                    return;
                }
                ++entries;
            }
    }
    const std::uint16_t zero_entry = static_cast<std::uint16_t>(entries++);
    std::vector<Lane> table(entries * kLanes, 0);
    for (std::size_t l = 0; l < cnt; ++l) {
        const std::uint32_t* s = rows.data(members[l]);
        for (std::size_t k = 0; k < rows.len[members[l]]; ++k) {
            const std::size_t e = s[k] < 128 ? s[k] : big.find(s[k], zero_entry);
            table[e * kLanes + l] |= static_cast<Lane>(Lane{1} << k);
        }
    }
    std::uint8_t win[kLanes], m[kLanes], t[kLanes];
    std::uint16_t qidx[kMaxLaneText];
    double* dst[kLanes];
    std::size_t la[kLanes];
    for (std::size_t l = 0; l < kLanes; ++l) {
        la[l] = l < cnt ? rows.len[members[l]] : 0;
        dst[l] = l < cnt ? out[members[l]] : nullptr;
    }
    for (std::size_t j = 0; j < list_b.size(); ++j) {
        if (j % 1024 == 1023) engine::interruption_point();
        const std::size_t lb = cols.len[j];
        if (lb == 0 || lb > kMaxLaneText) {
            for (std::size_t l = 0; l < cnt; ++l)
                dst[l][j] = jaro_winkler(list_a[members[l]], list_b[j], p);
            continue;
        }
        const std::uint32_t* s = cols.data(j);
        if (cols.ascii[j]) {
            for (std::size_t k = 0; k < lb; ++k) qidx[k] = static_cast<std::uint16_t>(s[k]);
        } else {
            for (std::size_t k = 0; k < lb; ++k)
                qidx[k] =
                    s[k] < 128 ? static_cast<std::uint16_t>(s[k]) : big.find(s[k], zero_entry);
        }
        for (std::size_t l = 0; l < kLanes; ++l)
            win[l] = static_cast<std::uint8_t>(jaro_window(la[l], lb));
        kernel(table.data(), qidx, lb, win, m, t);
        const Head hb = cols.head[j];
        for (std::size_t l = 0; l < cnt; ++l) {
            const double jv = jaro_finish_small(m[l], t[l], la[l], lb);
            dst[l][j] = jv < kWinklerThreshold
                            ? jv
                            : winkler_boost(jv, head_prefix(rows.head[members[l]], hb), p);
        }
    }
}

template <std::size_t VB>
void matrix_lanes(const Decoded& rows, const Decoded& cols, std::span<const Text> list_a,
                  std::span<const Text> list_b, double p, const dispatch::KernelTable& k,
                  double* const* out) {
    // Rows by lane class; each group of rows is one unit of parallel work.
    std::vector<std::size_t> by_class[4], scalar_rows;
    for (std::size_t i = 0; i < list_a.size(); ++i) {
        const std::size_t n = rows.len[i];
        const int c = (n == 0 || n > kMaxLaneText) ? -1 : lane_class(n, k);
        (c < 0 ? scalar_rows : by_class[c]).push_back(i);
    }
    struct Unit {
        int cls;  // -1: one scalar row
        std::size_t begin, count;
    };
    std::vector<Unit> units;
    for (int c = 0; c < 4; ++c) {
        const std::size_t lanes = VB / (std::size_t{1} << c);
        for (std::size_t g = 0; g < by_class[c].size(); g += lanes)
            units.push_back({c, g, std::min(lanes, by_class[c].size() - g)});
    }
    for (std::size_t i = 0; i < scalar_rows.size(); ++i) units.push_back({-1, i, 1});
    engine::parallel_for(units.size(), [&](std::size_t b, std::size_t e) {
        for (std::size_t u = b; u < e; ++u) {
            engine::interruption_point();
            const Unit& un = units[u];
            if (un.cls < 0) {
                const std::size_t r = scalar_rows[un.begin];
                for (std::size_t j = 0; j < list_b.size(); ++j)
                    out[r][j] = jaro_winkler(list_a[r], list_b[j], p);
                continue;
            }
            const std::size_t* members = by_class[un.cls].data() + un.begin;
            const LanesFn fn = k.jaro_lanes[un.cls];
            switch (un.cls) {
                case 0:
                    matrix_group<std::uint8_t, VB>(rows, members, un.count, cols, list_a, list_b, p,
                                                   fn, out);
                    break;
                case 1:
                    matrix_group<std::uint16_t, VB>(rows, members, un.count, cols, list_a, list_b,
                                                    p, fn, out);
                    break;
                case 2:
                    matrix_group<std::uint32_t, VB>(rows, members, un.count, cols, list_a, list_b,
                                                    p, fn, out);
                    break;
                default:
                    matrix_group<std::uint64_t, VB>(rows, members, un.count, cols, list_a, list_b,
                                                    p, fn, out);
                    break;
            }
        }
    });
}

}  // namespace

void jaro_winkler_cdist_rows(std::span<const Text> list_a, std::span<const Text> list_b, double p,
                             double* const* rows) {
    if (list_a.empty() || list_b.empty()) return;
    p = clamp_prefix_scale(p);
    Decoded da, db;
    // Pads beyond the end differ between the two sides, so a prefix never runs past the
    // shorter text.
    da.assign(list_a, 0xFFFFFFFFu);
    db.assign(list_b, 0xFFFFFFFEu);
    const dispatch::KernelTable& k = dispatch::kernels();
    switch (k.jaro_vec_bytes) {
        case 64:
            matrix_lanes<64>(da, db, list_a, list_b, p, k, rows);
            break;
        case 32:
            matrix_lanes<32>(da, db, list_a, list_b, p, k, rows);
            break;
        default:
            matrix_lanes<8>(da, db, list_a, list_b, p, k, rows);
            break;
    }
}

std::vector<std::vector<double>> jaro_winkler_matrix(std::span<const Text> list_a,
                                                     std::span<const Text> list_b, double p) {
    std::vector<std::vector<double>> rows;
    if (list_a.empty() || list_b.empty()) return rows;
    rows.resize(list_a.size());
    engine::parallel_for(list_a.size(), [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) rows[i].resize(list_b.size());
    });
    std::vector<double*> ptr(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) ptr[i] = rows[i].data();
    jaro_winkler_cdist_rows(list_a, list_b, p, ptr.data());
    return rows;
}

std::vector<double> jaro_winkler_many_grouped(Text query, std::span<const Text> candidates,
                                              double p) {
    p = clamp_prefix_scale(p);
    const std::size_t n = candidates.size();
    std::vector<double> out(n);
    bool fast = !query.empty() && query.size <= 64 && is_ascii(query);
    for (std::size_t i = 0; fast && i < n; ++i) {
        const Text c = candidates[i];
        fast = !c.empty() && c.size <= 64 && is_ascii(c);
    }
    if (!fast) {
        engine::parallel_map(std::span<double>(out),
                             [&](std::size_t i) { return jaro_winkler(query, candidates[i], p); });
        return out;
    }
    const std::size_t L = static_cast<std::size_t>(dispatch::simd_lanes());
    const Seq<std::uint8_t> a = byte_seq(query);
    engine::parallel_chunks(
        std::span<double>(out), engine::kChunkSize, [&](std::size_t c, std::span<double> slice) {
            const std::size_t base = c * engine::kChunkSize;
            std::vector<Seq<std::uint8_t>> group(L);
            std::size_t o = 0;
            for (; o + L <= slice.size(); o += L) {
                for (std::size_t l = 0; l < L; ++l) group[l] = byte_seq(candidates[base + o + l]);
                const std::vector<double> js = jaro_multi(a, group);
                for (std::size_t l = 0; l < L; ++l) {
                    const Seq<std::uint8_t> b = group[l];
                    const std::size_t lim = std::min({kMaxWinklerPrefix, a.size, b.size});
                    std::size_t pl = 0;
                    while (pl < lim && a[pl] == b[pl]) ++pl;
                    slice[o + l] = winkler_boost(js[l], pl, p);
                }
            }
            for (; o < slice.size(); ++o) slice[o] = jaro_winkler(query, candidates[base + o], p);
        });
    return out;
}

}  // namespace tarnvel::core
