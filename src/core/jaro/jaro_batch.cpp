// Jaro-Winkler batches (one query against many candidates) and cross-products.
//
// The fast path packs short candidates into vector lanes (the packed-lane kernel,
// jaro_lanes_body.inc): every candidate of 1 to 64 code points goes to the narrowest lane
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
#include <span>
#include <vector>

#include "core/jaro/jaro.hpp"
#include "core/jaro/jaro_scalar.hpp"
#include "dispatch/cpu.hpp"
#include "dispatch/kernels.hpp"
#include "engine/parallel.hpp"

namespace tarnvel::core {

namespace portable {
namespace {

struct Ops {
    using V = std::uint64_t;
    using Lane = std::uint64_t;
    static constexpr std::size_t kLanes = 1;
    static V zero() { return 0; }
    static V set1(Lane x) { return x; }
    static V load(const void* p) {
        V v;
        std::memcpy(&v, p, sizeof(v));
        return v;
    }
    static void store(void* p, V v) { std::memcpy(p, &v, sizeof(v)); }
    static V and_(V a, V b) { return a & b; }
    static V or_(V a, V b) { return a | b; }
    static V xor_(V a, V b) { return a ^ b; }
    static V andnot(V a, V b) { return ~a & b; }
    static V add(V a, V b) { return a + b; }
    static V sub(V a, V b) { return a - b; }
    static V cmpgt(V a, V b) {
        return static_cast<std::int64_t>(a) > static_cast<std::int64_t>(b) ? ~V{0} : 0;
    }
    static V cmpeq(V a, V b) { return a == b ? ~V{0} : 0; }
};

#include "core/jaro/jaro_lanes_body.inc"

void lanes64(const void* t, const std::uint16_t* q, std::size_t n, const std::uint8_t* w,
             std::uint8_t* m, std::uint8_t* tr) {
    jaro_lanes_impl<Ops>(t, q, n, w, m, tr);
}

void fill(dispatch::KernelTable& k) {
    k.jaro_vec_bytes = 8;
    k.jaro_lanes[0] = k.jaro_lanes[1] = k.jaro_lanes[2] = nullptr;
    k.jaro_lanes[3] = &lanes64;
}

const dispatch::KernelFiller reg(dispatch::Target::portable, &fill);

}  // namespace
}  // namespace portable

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
    for (std::size_t i = 0; i < n; ++k) {
        const std::uint32_t c = s[i];
        if (c < 0x80) {
            f(k, c);
            i += 1;
        } else if (c < 0xE0) {
            f(k, ((c & 0x1F) << 6) | (s[i + 1] & 0x3Fu));
            i += 2;
        } else if (c < 0xF0) {
            f(k, ((c & 0x0F) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu));
            i += 3;
        } else {
            f(k, ((c & 0x07) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) |
                     (s[i + 3] & 0x3Fu));
            i += 4;
        }
    }
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

struct Cand {
    Text text;
    bool ascii;
    std::uint8_t len;  // code points, 1..64
    std::uint32_t pos;  // where the value goes
};

// Runs the lane kernel over groups of one lane class; writes out[c.pos].
template <typename Lane>
void run_class(const QueryMap& q, std::span<const Cand> cands, double p, double* out,
               void (*kernel)(const void*, const std::uint16_t*, std::size_t,
                              const std::uint8_t*, std::uint8_t*, std::uint8_t*),
               std::size_t vec_bytes) {
    const std::size_t lanes = vec_bytes / sizeof(Lane);
    alignas(64) Lane table[kMaxLaneText * 64 / sizeof(Lane)];
    std::uint8_t win[64], m[64], t[64], pref[64];
    const std::size_t table_bytes = q.entries * vec_bytes;
    for (std::size_t g = 0; g < cands.size(); g += lanes) {
        const std::size_t cnt = std::min(lanes, cands.size() - g);
        std::memset(table, 0, table_bytes);
        for (std::size_t l = 0; l < cnt; ++l) {
            const Cand& c = cands[g + l];
            std::size_t pl = 0;
            for_each_symbol(c.text, c.ascii, [&](std::size_t k, std::uint32_t s) {
                const std::uint8_t e = q.lookup(s);
                if (e != kNoEntry) table[e * lanes + l] |= static_cast<Lane>(Lane{1} << k);
                if (k == pl && k < kMaxWinklerPrefix && k < q.len && s == q.head[k]) ++pl;
            });
            win[l] = static_cast<std::uint8_t>(jaro_window(q.len, c.len));
            pref[l] = static_cast<std::uint8_t>(pl);
        }
        for (std::size_t l = cnt; l < lanes; ++l) win[l] = 0;
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
    std::vector<std::uint32_t> others;
};

void classify(std::span<const Text> cands, std::size_t begin, std::size_t end,
              const dispatch::KernelTable& k, Classified& cl) {
    for (auto& v : cl.by_class) v.clear();
    cl.others.clear();
    for (std::size_t i = begin; i < end; ++i) {
        const Text t = cands[i];
        const bool ascii = is_ascii(t);
        const std::size_t len = ascii ? t.size : count_code_points(t);
        const int c = (len == 0 || len > kMaxLaneText) ? -1 : lane_class(len, k);
        if (c < 0) {
            cl.others.push_back(static_cast<std::uint32_t>(i));
        } else {
            cl.by_class[c].push_back({t, ascii, static_cast<std::uint8_t>(len),
                                      static_cast<std::uint32_t>(i)});
        }
    }
}

void run_classified(const QueryMap& q, Text query, std::span<const Text> cands,
                    const Classified& cl, double p, double* out, const dispatch::KernelTable& k) {
    const std::size_t vb = k.jaro_vec_bytes;
    if (!cl.by_class[0].empty()) run_class<std::uint8_t>(q, cl.by_class[0], p, out, k.jaro_lanes[0], vb);
    if (!cl.by_class[1].empty()) run_class<std::uint16_t>(q, cl.by_class[1], p, out, k.jaro_lanes[1], vb);
    if (!cl.by_class[2].empty()) run_class<std::uint32_t>(q, cl.by_class[2], p, out, k.jaro_lanes[2], vb);
    if (!cl.by_class[3].empty()) run_class<std::uint64_t>(q, cl.by_class[3], p, out, k.jaro_lanes[3], vb);
    for (std::uint32_t i : cl.others) out[i] = jaro_winkler(query, cands[i], p);
}

}  // namespace

std::vector<double> jaro_winkler_many(Text query, std::span<const Text> candidates, double p) {
    p = clamp_prefix_scale(p);
    const std::size_t n = candidates.size();
    std::vector<double> out(n);
    QueryMap q;
    if (!q.assign(query)) {
        engine::parallel_map(std::span<double>(out), [&](std::size_t i) {
            return jaro_winkler(query, candidates[i], p);
        });
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

std::vector<std::vector<double>> jaro_winkler_matrix(std::span<const Text> list_a,
                                                     std::span<const Text> list_b, double p) {
    std::vector<std::vector<double>> rows;
    if (list_a.empty() || list_b.empty()) return rows;
    p = clamp_prefix_scale(p);
    rows.resize(list_a.size());
    const dispatch::KernelTable& k = dispatch::kernels();
    Classified cl;  // the columns, classified once and shared read-only by the rows
    classify(list_b, 0, list_b.size(), k, cl);
    engine::parallel_for(list_a.size(), [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) {
            std::vector<double> row(list_b.size());
            QueryMap q;
            if (q.assign(list_a[i])) {
                run_classified(q, list_a[i], list_b, cl, p, row.data(), k);
            } else {
                for (std::size_t j = 0; j < list_b.size(); ++j)
                    row[j] = jaro_winkler(list_a[i], list_b[j], p);
            }
            rows[i] = std::move(row);
        }
    });
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
        engine::parallel_map(std::span<double>(out), [&](std::size_t i) {
            return jaro_winkler(query, candidates[i], p);
        });
        return out;
    }
    const std::size_t L = static_cast<std::size_t>(dispatch::simd_lanes());
    const Seq<std::uint8_t> a = byte_seq(query);
    engine::parallel_chunks(std::span<double>(out), engine::kChunkSize,
                            [&](std::size_t c, std::span<double> slice) {
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
