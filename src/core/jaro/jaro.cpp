// Jaro and Jaro-Winkler of one pair, and the fixed-width kernels jaro_bitpar,
// jaro_4way, jaro_8way and jaro_multi.
//
// Routing of jaro(): ASCII pairs of at most 64 bytes take the one-word kernel, longer
// ASCII pairs the multi-word kernel (table on the stack up to 128 bytes); code point
// pairs of at most 128 code points each take the scan with stack flags (no allocation
// besides the decoded vectors), longer ones the multi-word kernel over a symbol map (or,
// when rows of masks for all of b's symbols would be large, over position lists).
// All of them return the scan's value bit for bit.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/common/panic.hpp"
#include "core/common/pattern.hpp"
#include "core/jaro/jaro.hpp"
#include "core/jaro/jaro_kernels.hpp"
#include "core/jaro/jaro_scalar.hpp"
#include "dispatch/kernels.hpp"

namespace tarnvel::core {
namespace {

constexpr std::size_t kStackFlags = 128;

const char* bool_word(bool v) { return v ? "true" : "false"; }

// Scan with the flag arrays on the stack (both lengths <= 128) or on the heap.
template <typename CharA, typename CharB>
double scan_with_flags(Seq<CharA> a, Seq<CharB> b) {
    const std::size_t w = jaro_window(a.size, b.size);
    if (a.size <= kStackFlags && b.size <= kStackFlags) {
        std::uint8_t fa[kStackFlags] = {};
        std::uint8_t fb[kStackFlags] = {};
        return jaro_scan(a, b, fa, fb, w);
    }
    std::vector<std::uint8_t> fa(a.size, 0), fb(b.size, 0);
    return jaro_scan(a, b, fa.data(), fb.data(), w);
}

// Bytes, both non-empty and at most 64. Only the rows of symbols that occur in a or b
// are ever read, so only those are cleared (no 2 KiB memset per pair).
double bytes_word(Seq<std::uint8_t> a, Seq<std::uint8_t> b) {
    std::uint64_t peq[256];
    for (std::size_t i = 0; i < a.size; ++i) peq[a[i]] = 0;
    for (std::size_t k = 0; k < b.size; ++k) peq[b[k]] = 0;
    for (std::size_t k = 0; k < b.size; ++k) peq[b[k]] |= std::uint64_t{1} << k;
    return detail::jaro_word(a, b, [&](std::uint8_t c) { return peq[c]; });
}

// Bytes, both non-empty, any length.
double bytes_blocks(Seq<std::uint8_t> a, Seq<std::uint8_t> b) {
    const std::size_t wb = (b.size + 63) / 64, wa = (a.size + 63) / 64;
    auto run = [&](std::uint64_t* peq, std::uint64_t* F, std::uint64_t* A) {
        std::uint32_t next[256] = {};
        for (std::size_t k = 0; k < b.size; ++k)
            peq[b[k] * wb + k / 64] |= std::uint64_t{1} << (k % 64);
        return detail::jaro_blocks(
            a, b, [](std::uint8_t c) -> std::uint32_t { return c; }, peq, next, F, A);
    };
    constexpr std::size_t kStackWords = 2;  // texts up to 128 bytes stay off the heap
    if (wb <= kStackWords && wa <= kStackWords) {
        std::uint64_t peq[256 * kStackWords];
        std::memset(peq, 0, 256 * wb * sizeof(std::uint64_t));
        std::uint64_t F[kStackWords] = {}, A[kStackWords] = {};
        return run(peq, F, A);
    }
    std::vector<std::uint64_t> peq(256 * wb, 0), F(wb, 0), A(wa, 0);
    return run(peq.data(), F.data(), A.data());
}

// Code points of any length: rows for the distinct symbols of b, found through an
// open-addressing map (code points below 256 index a dense array directly).
double cp_blocks(Seq<std::uint32_t> a, Seq<std::uint32_t> b) {
    const std::size_t wb = (b.size + 63) / 64, wa = (a.size + 63) / 64;
    std::vector<std::uint32_t> dense(256, detail::kNoRow);
    std::size_t cap = 16;
    while (cap < 2 * b.size) cap <<= 1;
    std::vector<std::uint32_t> keys(cap, 0), ids(cap, 0);  // key 0 is below 256: free slot
    auto slot = [&](std::uint32_t c) {
        return static_cast<std::size_t>(c * 0x9E3779B1u) & (cap - 1);
    };
    std::uint32_t rows = 0, wide_rows = 0;
    auto id_of = [&](std::uint32_t c, bool insert) -> std::uint32_t {
        if (c < 256) {
            if (insert && dense[c] == detail::kNoRow) dense[c] = rows++;
            return dense[c];
        }
        std::size_t h = slot(c);
        while (keys[h] != 0 && keys[h] != c) h = (h + 1) & (cap - 1);
        if (keys[h] == c) return ids[h];
        if (!insert) return detail::kNoRow;
        keys[h] = c;
        ids[h] = rows++;
        ++wide_rows;
        return ids[h];
    };
    std::vector<std::uint32_t> bid(b.size);
    for (std::size_t k = 0; k < b.size; ++k) bid[k] = id_of(b[k], true);
    if (!dense_table_fits(pattern_limits(), wide_rows, wb)) {
        // Rows of masks would grow with |b| times its alphabet: position lists instead.
        std::vector<std::size_t> start(std::size_t{rows} + 1, 0);
        for (std::size_t k = 0; k < b.size; ++k) ++start[bid[k] + 1];
        for (std::size_t r = 0; r < rows; ++r) start[r + 1] += start[r];
        std::vector<std::size_t> next(start.begin(), start.end() - 1);
        std::vector<std::uint32_t> pos(b.size);
        for (std::size_t k = 0; k < b.size; ++k)
            pos[next[bid[k]]++] = static_cast<std::uint32_t>(k);
        std::copy(start.begin(), start.end() - 1, next.begin());
        std::vector<std::uint64_t> F(wb, 0), A(wa, 0);
        return detail::jaro_lists(
            a, b, [&](std::uint32_t c) { return id_of(c, false); }, start.data(), pos.data(),
            next.data(), F.data(), A.data());
    }
    std::vector<std::uint64_t> peq(std::size_t{rows} * wb, 0), F(wb, 0), A(wa, 0);
    for (std::size_t k = 0; k < b.size; ++k)
        peq[bid[k] * wb + k / 64] |= std::uint64_t{1} << (k % 64);
    std::vector<std::uint32_t> next(rows, 0);
    return detail::jaro_blocks(
        a, b, [&](std::uint32_t c) { return id_of(c, false); }, peq.data(), next.data(), F.data(),
        A.data());
}

// Code points, both non-empty and at most 64: a 256-slot open-addressing table indexed
// by the low byte of the code point (identity for ASCII and Latin-1, and collision-free
// inside any one 256-code-point block such as Cyrillic or Greek), with occupancy bits so
// nothing needs clearing beforehand.
double cp_word(Seq<std::uint32_t> a, Seq<std::uint32_t> b) {
    constexpr std::size_t kSlots = 256;
    std::uint32_t keys[kSlots];
    std::uint64_t masks[kSlots];
    std::uint64_t used[kSlots / 64] = {};
    auto taken = [&](std::size_t h) { return (used[h / 64] >> (h % 64)) & 1; };
    for (std::size_t k = 0; k < b.size; ++k) {
        const std::uint32_t c = b[k];
        std::size_t h = c & (kSlots - 1);
        while (taken(h) && keys[h] != c) h = (h + 1) & (kSlots - 1);
        if (!taken(h)) {
            used[h / 64] |= std::uint64_t{1} << (h % 64);
            keys[h] = c;
            masks[h] = 0;
        }
        masks[h] |= std::uint64_t{1} << k;
    }
    return detail::jaro_word(a, b, [&](std::uint32_t c) -> std::uint64_t {
        for (std::size_t h = c & (kSlots - 1);; h = (h + 1) & (kSlots - 1)) {
            if (!taken(h)) return 0;
            if (keys[h] == c) return masks[h];
        }
    });
}

double code_points(Seq<std::uint32_t> a, Seq<std::uint32_t> b) {
    if (a.size == 0) return b.size == 0 ? 1.0 : 0.0;
    if (b.size == 0) return 0.0;
    if (seq_equal(a, b)) return 1.0;
    if (a.size <= 64 && b.size <= 64) return cp_word(a, b);
    if (a.size <= kStackFlags && b.size <= kStackFlags) return scan_with_flags(a, b);
    return cp_blocks(a, b);
}

bool seq_ascii(Seq<std::uint8_t> s) {
    return is_ascii(reinterpret_cast<const char*>(s.data), s.size);
}

// Decodes at most n leading code points.
std::size_t leading_code_points(Text t, std::uint32_t* out, std::size_t n) {
    const auto* s = t.bytes();
    std::size_t i = 0, k = 0;
    while (i < t.size && k < n) {
        const std::uint32_t c = s[i];
        std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (i + len > t.size) len = t.size - i;
        std::uint32_t v = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        for (std::size_t j = 1; j < len; ++j) v = (v << 6) | (s[i + j] & 0x3F);
        out[k++] = v;
        i += len;
    }
    return k;
}

}  // namespace

namespace {

// jaro_bytes() for texts already known to differ.
double bytes_distinct(Seq<std::uint8_t> a, Seq<std::uint8_t> b) {
    if (a.size == 0 || b.size == 0) return 0.0;
    if (a.size <= 64 && b.size <= 64) return bytes_word(a, b);
    return bytes_blocks(a, b);
}

// ASCII test with overlapping word loads; short texts (names) need two or three loads.
inline bool ascii_text(Text t) {
    const char* p = t.data;
    const std::size_t n = t.size;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    if (n >= 8) {
        std::uint64_t acc = 0, w;
        std::size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            std::memcpy(&w, p + i, 8);
            acc |= w;
        }
        std::memcpy(&w, p + n - 8, 8);
        return ((acc | w) & kHigh) == 0;
    }
    if (n >= 4) {
        std::uint32_t x, y;
        std::memcpy(&x, p, 4);
        std::memcpy(&y, p + n - 4, 4);
        return ((x | y) & 0x80808080u) == 0;
    }
    unsigned acc = 0;
    for (std::size_t i = 0; i < n; ++i) acc |= static_cast<unsigned char>(p[i]);
    return acc < 0x80;
}

}  // namespace

double jaro_bytes(Seq<std::uint8_t> a, Seq<std::uint8_t> b) {
    if (a.size == 0) return b.size == 0 ? 1.0 : 0.0;
    if (b.size == 0) return 0.0;
    if (seq_equal(a, b)) return 1.0;
    return bytes_distinct(a, b);
}

double jaro_scalar_bytes(Seq<std::uint8_t> a, Seq<std::uint8_t> b) {
    if (a.size == 0) return b.size == 0 ? 1.0 : 0.0;
    if (b.size == 0) return 0.0;
    if (seq_equal(a, b)) return 1.0;
    return scan_with_flags(a, b);
}

double jaro(Text a, Text b) {
    if (ascii_text(a) && ascii_text(b)) return jaro_bytes(byte_seq(a), byte_seq(b));
    // Short texts decode into stack buffers (a text of n bytes has at most n code points).
    constexpr std::size_t kStackText = 256;
    if (a.size <= kStackText && b.size <= kStackText) {
        std::uint32_t ba[kStackText], bb[kStackText];
        return code_points({ba, decode_utf8_into(a, ba)}, {bb, decode_utf8_into(b, bb)});
    }
    const auto va = decode_utf8(a);
    const auto vb = decode_utf8(b);
    return code_points(cp_seq(va), cp_seq(vb));
}

double jaro_optimized(Text a, Text b) {
    if (is_ascii(a) && is_ascii(b)) return jaro_scalar_bytes(byte_seq(a), byte_seq(b));
    return jaro(a, b);
}

std::size_t winkler_prefix(Text a, Text b) {
    if (is_ascii(a) && is_ascii(b)) {
        const std::size_t n = std::min({kMaxWinklerPrefix, a.size, b.size});
        std::size_t l = 0;
        while (l < n && a.data[l] == b.data[l]) ++l;
        return l;
    }
    std::uint32_t ca[kMaxWinklerPrefix], cb[kMaxWinklerPrefix];
    const std::size_t na = leading_code_points(a, ca, kMaxWinklerPrefix);
    const std::size_t nb = leading_code_points(b, cb, kMaxWinklerPrefix);
    const std::size_t n = std::min(na, nb);
    std::size_t l = 0;
    while (l < n && ca[l] == cb[l]) ++l;
    return l;
}

double jaro_winkler(Text a, Text b, double p) {
    if (bytes_equal(a, b)) return 1.0;
    if (ascii_text(a) && ascii_text(b)) {
        const double j = bytes_distinct(byte_seq(a), byte_seq(b));
        if (j < kWinklerThreshold) return j;
        const std::size_t n = std::min({kMaxWinklerPrefix, a.size, b.size});
        std::size_t l = 0;
        while (l < n && a.data[l] == b.data[l]) ++l;
        return winkler_boost(j, l, clamp_prefix_scale(p));
    }
    constexpr std::size_t kStackText = 256;
    if (a.size > kStackText || b.size > kStackText) {
        const double j = jaro(a, b);
        if (j < kWinklerThreshold) return j;
        return winkler_boost(j, winkler_prefix(a, b), clamp_prefix_scale(p));
    }
    std::uint32_t ba[kStackText], bb[kStackText];  // decoded once for both steps
    const Seq<std::uint32_t> sa{ba, decode_utf8_into(a, ba)}, sb{bb, decode_utf8_into(b, bb)};
    const double j = code_points(sa, sb);
    if (j < kWinklerThreshold) return j;
    const std::size_t n = std::min({kMaxWinklerPrefix, sa.size, sb.size});
    std::size_t l = 0;
    while (l < n && sa[l] == sb[l]) ++l;
    return winkler_boost(j, l, clamp_prefix_scale(p));
}

double jaro_bitpar(Seq<std::uint8_t> a, Seq<std::uint8_t> b) {
    const bool aa = seq_ascii(a), ab = seq_ascii(b);
    TARNVEL_ASSERT(a.size <= 64 && b.size <= 64 && aa && ab,
                   "jaro_bitpar: inputs must be ASCII \u2264 64 bytes (got a=" +
                       std::to_string(a.size) + " bytes ascii=" + bool_word(aa) +
                       ", b=" + std::to_string(b.size) + " bytes ascii=" + bool_word(ab) + ")");
    if (a.size == 0) return b.size == 0 ? 1.0 : 0.0;
    if (b.size == 0) return 0.0;
    if (seq_equal(a, b)) return 1.0;
    return bytes_word(a, b);
}

namespace {

void check_query(const char* who, Seq<std::uint8_t> a) {
    const bool aa = seq_ascii(a);
    TARNVEL_ASSERT(a.size <= 64 && aa,
                   std::string(who) + ": first argument must be ASCII \u2264 64 bytes (got " +
                       std::to_string(a.size) + " bytes, ascii=" + bool_word(aa) + ")");
}

// The 64-bit lanes of the active target (4 or 8), or 0 when it has fewer than four.
std::size_t word_lanes(const dispatch::KernelTable& kt) {
    const std::size_t lanes = kt.jaro_vec_bytes / 8;
    return kt.jaro_lanes[3] && lanes >= 4 ? lanes : 0;
}

// The kernel reads only the table entries of the query's bytes, all cleared below; the
// compiler cannot see that through the function pointer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// count (1 to the target's 64-bit lanes) candidates, each 1 to 64 ASCII bytes, against the
// query a, through the packed-lane kernel: the mask table has one entry per byte value
// the query or a candidate uses, cleared before use, so the whole table is never cleared.
void lanes_group(const dispatch::KernelTable& kt, Seq<std::uint8_t> a, const Seq<std::uint8_t>* c,
                 std::size_t count, double* out) {
    constexpr std::size_t kMaxLanes = 8;
    const std::size_t vb = kt.jaro_vec_bytes;
    alignas(64) std::uint64_t table[256 * kMaxLanes];
    auto entry = [&](std::uint8_t sym) { return table + std::size_t{sym} * (vb / 8); };
    for (std::size_t i = 0; i < a.size; ++i) std::memset(entry(a.data[i]), 0, vb);
    for (std::size_t l = 0; l < count; ++l)
        for (std::size_t k = 0; k < c[l].size; ++k) std::memset(entry(c[l].data[k]), 0, vb);
    std::uint8_t win[kMaxLanes] = {};
    for (std::size_t l = 0; l < count; ++l) {
        for (std::size_t k = 0; k < c[l].size; ++k) entry(c[l].data[k])[l] |= std::uint64_t{1} << k;
        win[l] = static_cast<std::uint8_t>(jaro_window(a.size, c[l].size));
    }
    std::uint16_t qidx[64] = {};
    for (std::size_t i = 0; i < a.size; ++i) qidx[i] = a.data[i];
    std::uint8_t m[kMaxLanes], t[kMaxLanes];
    kt.jaro_lanes[3](table, qidx, a.size, win, m, t);
    for (std::size_t l = 0; l < count; ++l)
        out[l] = m[l] == 0 ? 0.0 : jaro_finish(m[l], t[l], a.size, c[l].size);
}
#pragma GCC diagnostic pop

// Candidates in groups of the target's lanes; jaro_bitpar where there are none.
void grouped(Seq<std::uint8_t> a, const Seq<std::uint8_t>* c, std::size_t count, double* out) {
    const dispatch::KernelTable& kt = dispatch::kernels();
    const std::size_t lanes = word_lanes(kt);
    if (lanes == 0) {
        for (std::size_t i = 0; i < count; ++i) out[i] = jaro_bitpar(a, c[i]);
        return;
    }
    for (std::size_t i = 0; i < count; i += lanes)
        lanes_group(kt, a, c + i, std::min(lanes, count - i), out + i);
}

bool lane_candidate(Seq<std::uint8_t> c) { return c.size > 0 && c.size <= 64 && seq_ascii(c); }

}  // namespace

void jaro_4way(Seq<std::uint8_t> a, const Seq<std::uint8_t>* c, double* out) {
    check_query("jaro_4way", a);
    grouped(a, c, 4, out);
}

void jaro_8way(Seq<std::uint8_t> a, const Seq<std::uint8_t>* c, double* out) {
    check_query("jaro_8way", a);
    grouped(a, c, 8, out);
}

std::vector<double> jaro_multi(Seq<std::uint8_t> a, std::span<const Seq<std::uint8_t>> group) {
    const std::size_t L = group.size();
    std::vector<double> out(L);
    if (L == 4) {
        jaro_4way(a, group.data(), out.data());
    } else if (L == 8) {
        jaro_8way(a, group.data(), out.data());
    } else if (L >= 3 && a.size <= 64 && seq_ascii(a) &&
               std::all_of(group.begin(), group.end(), lane_candidate)) {
        // Other groups of three or more valid inputs share the lanes too; anything else
        // goes through jaro_bitpar, which checks its inputs.
        grouped(a, group.data(), L, out.data());
    } else {
        for (std::size_t i = 0; i < L; ++i) out[i] = jaro_bitpar(a, group[i]);
    }
    return out;
}

}  // namespace tarnvel::core
