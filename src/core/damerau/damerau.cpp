// Linear-memory Damerau-Levenshtein (see damerau.hpp) and its batch forms.
#include <algorithm>
#include <unordered_map>

#include "core/common/panic.hpp"
#include "core/damerau/damerau.hpp"
#include "core/fuzz/ratio_formula.hpp"
#include "core/levenshtein/levenshtein_kernels.hpp"
#include "dispatch/kernels.hpp"
#include "engine/parallel.hpp"

namespace tarnvel::core {

namespace {

// Rows of 64 columns and more take a second formulation of the same recurrence. The
// insertion term is the only one that reads the current row, and min is associative, so
// a row is computed as (1) w[j] = min(substitution, deletion) for every column at once,
// (2) the transposition terms, which exist only where b holds a[i] or a[i-1] and are
// visited through per-symbol occurrence lists of b, and (3) the prefix scan r[j] =
// min(w[j], r[j-1] + 1). Steps (1) and (3) run on vectors where the target allows.
struct ScanScratch {
    std::vector<std::uint32_t> bid, aid, occ_start, occ, cells;
    std::unordered_map<std::uint32_t, std::uint32_t> ids;
};

constexpr std::uint32_t kNoSymbol = 0xFFFFFFFFu;

void row_base_scalar(const std::uint32_t* r1, const std::uint32_t* bid, std::uint32_t ai,
                     std::uint32_t* w, std::size_t m) {
    for (std::size_t j = 1; j <= m; ++j) w[j] = std::min(r1[j - 1] + (bid[j - 1] != ai), r1[j] + 1);
}

void row_scan_scalar(const std::uint32_t* w, std::uint32_t* r0, std::size_t m,
                     std::uint32_t start) {
    std::uint32_t left = start;
    r0[0] = start;
    for (std::size_t j = 1; j <= m; ++j) {
        left = std::min(w[j], left + 1);
        r0[j] = left;
    }
}

template <typename CharT>
std::uint32_t damerau_scan(Seq<CharT> a, Seq<CharT> b, ScanScratch& s) {
    const std::size_t n = a.size, m = b.size;
    // Dense symbol ids of b; a's symbols that b lacks get kNoSymbol.
    s.bid.resize(m);
    s.aid.resize(n);
    std::size_t sigma = 256;
    if constexpr (sizeof(CharT) == 1) {
        for (std::size_t j = 0; j < m; ++j) s.bid[j] = b[j];
        for (std::size_t i = 0; i < n; ++i) s.aid[i] = a[i];
    } else {
        s.ids.clear();
        for (std::size_t j = 0; j < m; ++j)
            s.bid[j] =
                s.ids.try_emplace(b[j], static_cast<std::uint32_t>(s.ids.size())).first->second;
        for (std::size_t i = 0; i < n; ++i) {
            const auto it = s.ids.find(a[i]);
            s.aid[i] = it == s.ids.end() ? kNoSymbol : it->second;
        }
        sigma = s.ids.size();
    }
    // Occurrence lists (1-based columns, ascending) per symbol id.
    s.occ_start.assign(sigma + 1, 0);
    for (std::size_t j = 0; j < m; ++j) ++s.occ_start[s.bid[j] + 1];
    for (std::size_t c = 0; c < sigma; ++c) s.occ_start[c + 1] += s.occ_start[c];
    s.occ.resize(m);
    {
        std::vector<std::uint32_t> fill(s.occ_start.begin(), s.occ_start.end() - 1);
        for (std::size_t j = 0; j < m; ++j)
            s.occ[fill[s.bid[j]]++] = static_cast<std::uint32_t>(j + 1);
    }
    const std::size_t w_ = m + 1;
    s.cells.assign(6 * w_, 0);
    std::uint32_t* r2 = s.cells.data();
    std::uint32_t* r1 = r2 + w_;
    std::uint32_t* r0 = r1 + w_;
    std::uint32_t* w = r0 + w_;
    std::uint32_t* jump = w + w_;
    std::uint32_t* krow = jump + w_;
    for (std::size_t j = 0; j <= m; ++j) r1[j] = static_cast<std::uint32_t>(j);
    const dispatch::KernelTable& kt = dispatch::kernels();
    // The vector passes keep cells in signed 32-bit lanes with a sentinel above 2^30.
    const bool vector = kt.dl_row_base && kt.dl_row_scan && n + m < (std::size_t{1} << 30);
    const auto base = vector ? kt.dl_row_base : &row_base_scalar;
    const auto scan = vector ? kt.dl_row_scan : &row_scan_scalar;
    const std::uint32_t* occ = s.occ.data();
    engine::StepCheck check(m);
    for (std::size_t i = 1; i <= n; ++i) {
        check();
        const std::uint32_t ii = static_cast<std::uint32_t>(i);
        const std::uint32_t ai = s.aid[i - 1];
        const std::uint32_t ap = i >= 2 ? s.aid[i - 2] : kNoSymbol;
        base(r1, s.bid.data(), ai, w, m);
        if (ai != kNoSymbol) {
            const std::uint32_t* pa = occ + s.occ_start[ai];
            const std::uint32_t* pa_end = occ + s.occ_start[ai + 1];
            // b[j-1] == a[i]: the last match before j is j-1; jump back to the last row k
            // with a[k] == b[j].
            for (const std::uint32_t* p = pa; p != pa_end; ++p) {
                const std::uint32_t j = *p + 1;
                if (j <= m && krow[j] != 0) w[j] = std::min(w[j], jump[j] + (ii - krow[j]));
            }
            // a[i-1] == b[j]: k = i-1; the last match db of a[i] before column j.
            if (ap != kNoSymbol) {
                const std::uint32_t* q = occ + s.occ_start[ap];
                const std::uint32_t* q_end = occ + s.occ_start[ap + 1];
                const std::uint32_t* p = pa;
                std::uint32_t db = 0;
                for (; q != q_end; ++q) {
                    const std::uint32_t j = *q;
                    while (p != pa_end && *p < j) db = *p++;
                    if (db != 0) w[j] = std::min(w[j], r2[db - 1] + (j - db));
                }
            }
            for (const std::uint32_t* p = pa; p != pa_end; ++p) {
                const std::uint32_t j = *p;
                jump[j] = j >= 2 ? r1[j - 2] : 0;
                krow[j] = ii;
            }
        }
        scan(w, r0, m, ii);
        std::uint32_t* t = r2;
        r2 = r1;
        r1 = r0;
        r0 = t;
    }
    return r1[m];
}

constexpr std::size_t kScanColumns = 64;

// Scratch rows reused across the pairs of one worker's range.
struct DamerauScratch {
    ScanScratch scan;
    std::vector<std::uint32_t> buf;
    std::uint32_t small[5 * 65];  // short texts stay off the heap
    std::uint32_t* rows(std::size_t cells) {
        if (cells <= sizeof(small) / sizeof(small[0])) return small;
        buf.resize(cells);
        return buf.data();
    }
};

// Lowrance-Wagner values, rows of b's length + 1. Row indices are 1-based as in the matrix
// recurrence (row i holds the distances of a's first i symbols).
template <typename CharT>
std::uint32_t damerau_linear(Seq<CharT> a, Seq<CharT> b, DamerauScratch& s) {
    if (a.empty()) return static_cast<std::uint32_t>(b.size);
    if (b.empty()) return static_cast<std::uint32_t>(a.size);
    if (seq_equal(a, b)) return 0;
    // A common prefix or suffix never takes part in a cheaper edit script, so dropping it
    // leaves the distance unchanged (checked against the full matrix in the tests).
    trim_affix(a, b);
    const std::size_t n = a.size, m = b.size;
    if (n == 0) return static_cast<std::uint32_t>(m);
    if (m == 0) return static_cast<std::uint32_t>(n);
    if (m >= kScanColumns) return damerau_scan(a, b, s.scan);
    const std::size_t w = m + 1;
    std::uint32_t* r2 = s.rows(5 * w);  // row i-2
    std::uint32_t* r1 = r2 + w;         // row i-1
    std::uint32_t* r0 = r1 + w;         // row i
    std::uint32_t* jump =
        r0 + w;  // per column j: row k-1 at column j-2, k the last row with a[k] == b[j]
    std::uint32_t* krow = jump + w;  // that k (0: none yet)
    for (std::size_t j = 0; j <= m; ++j) {
        r1[j] = static_cast<std::uint32_t>(j);
        krow[j] = 0;
    }
    engine::StepCheck check(m);
    for (std::size_t i = 1; i <= n; ++i) {
        check();
        const CharT ai = a[i - 1];
        const bool has_prev = i >= 2;
        const CharT aprev = has_prev ? a[i - 2] : CharT{};
        const std::uint32_t ii = static_cast<std::uint32_t>(i);
        r0[0] = ii;
        std::uint32_t db = 0;  // last column < j of this row where b matched a[i]
        std::uint32_t left = ii;
        std::uint32_t diag = r1[0];
        for (std::size_t j = 1; j <= m; ++j) {
            const CharT bj = b[j - 1];
            const std::uint32_t up = r1[j];
            std::uint32_t v = diag + (ai != bj);
            v = std::min(v, left + 1);
            v = std::min(v, up + 1);
            if (db != 0) {
                const std::uint32_t jj = static_cast<std::uint32_t>(j);
                if (has_prev && aprev == bj) v = std::min(v, r2[db - 1] + (jj - db));
                if (db == jj - 1 && krow[j] != 0) v = std::min(v, jump[j] + (ii - krow[j]));
            }
            r0[j] = v;
            if (ai == bj) {
                jump[j] = j >= 2 ? r1[j - 2] : 0;  // column 1 never jumps (needs db >= 1)
                krow[j] = ii;
                db = static_cast<std::uint32_t>(j);
            }
            left = v;
            diag = up;
        }
        std::uint32_t* t = r2;
        r2 = r1;
        r1 = r0;
        r0 = t;
    }
    return r1[m];
}

std::uint32_t damerau_text(Text a, Text b, DamerauScratch& s, std::vector<std::uint32_t>& va,
                           std::vector<std::uint32_t>& vb) {
    if (is_ascii(a) && is_ascii(b)) return damerau_linear(byte_seq(a), byte_seq(b), s);
    decode_utf8(a, va);
    decode_utf8(b, vb);
    return damerau_linear(cp_seq(va), cp_seq(vb), s);
}

struct Worker {
    DamerauScratch s;
    std::vector<std::uint32_t> va, vb;
    std::uint32_t operator()(Text a, Text b) { return damerau_text(a, b, s, va, vb); }
};

}  // namespace

std::uint32_t damerau_bytes(Seq<std::uint8_t> a, Seq<std::uint8_t> b) {
    TARNVEL_ASSERT(is_ascii(reinterpret_cast<const char*>(a.data), a.size) &&
                       is_ascii(reinterpret_cast<const char*>(b.data), b.size),
                   "damerau_bytes requires ASCII inputs");
    DamerauScratch s;
    return damerau_linear(a, b, s);
}

std::uint32_t damerau_codepoints(Seq<std::uint32_t> a, Seq<std::uint32_t> b) {
    DamerauScratch s;
    return damerau_linear(a, b, s);
}

std::uint32_t damerau_levenshtein(Text a, Text b) {
    Worker w;
    return w(a, b);
}

double damerau_ratio(Text a, Text b) {
    const std::uint64_t total =
        static_cast<std::uint64_t>(count_code_points(a)) + count_code_points(b);
    if (total == 0) return 100.0;
    return ratio_from_remaining(damerau_levenshtein(a, b), total);
}

void damerau_batch(Text query, std::span<const Text> candidates, std::uint32_t* out) {
    engine::parallel_for(candidates.size(), [&](std::size_t lo, std::size_t hi) {
        Worker w;
        for (std::size_t i = lo; i < hi; ++i) {
            if ((i - lo) % engine::kItemsPerCheck == engine::kItemsPerCheck - 1)
                engine::interruption_point();
            out[i] = w(query, candidates[i]);
        }
    });
}

engine::ScratchVector<std::uint32_t> damerau_batch(Text query, std::span<const Text> candidates) {
    engine::ScratchVector<std::uint32_t> out(candidates.size());
    damerau_batch(query, candidates, out.data());
    return out;
}

void damerau_cdist(std::span<const Text> a, std::span<const Text> b, std::uint32_t* out) {
    if (a.empty() || b.empty()) return;
    const std::size_t cols = b.size();
    engine::parallel_for(a.size(), [&](std::size_t lo, std::size_t hi) {
        Worker w;
        for (std::size_t i = lo; i < hi; ++i) {
            engine::interruption_point();
            for (std::size_t j = 0; j < cols; ++j) out[i * cols + j] = w(a[i], b[j]);
        }
    });
}

std::vector<std::vector<std::uint32_t>> damerau_cdist(std::span<const Text> a,
                                                      std::span<const Text> b) {
    std::vector<std::vector<std::uint32_t>> rows;
    if (a.empty() || b.empty()) return rows;
    // Every row before any work, so an impossible size fails at once.
    rows.resize(a.size());
    for (auto& r : rows) r.resize(b.size());
    engine::parallel_for(a.size(), [&](std::size_t lo, std::size_t hi) {
        Worker w;
        for (std::size_t i = lo; i < hi; ++i) {
            engine::interruption_point();
            for (std::size_t j = 0; j < b.size(); ++j) rows[i][j] = w(a[i], b[j]);
        }
    });
    return rows;
}

}  // namespace tarnvel::core
