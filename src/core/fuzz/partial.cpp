// The partial-ratio search: full windows by breadth-first subdivision with a distance
// bound, then the windows that overhang the haystack's start and end.
//
// Every window distance is needle length + window length - 2 * LCS, with the LCS taken
// bit-parallel (Hyyro 2004) against match masks of the needle built once per search.
// The full windows of one subdivision level are known before any of them is visited, so
// their distances are computed up front and then taken in the exact visiting order.
// Where the target has lane kernels and the haystack has many windows, every full window
// is evaluated instead, consecutive windows side by side in vector lanes
// (simd/generic/partial.inc), and the window the subdivision would settle on is derived
// from the distances (full_windows_lanes); blocks of windows whose symbols hold too few
// of the needle's to matter are skipped. The prefix windows
// s2[0..j) are the successive states of one forward scan, and the suffix windows
// s2[i..len2) those of one backward scan against the reversed needle (LCS is unchanged
// by reversing both sides), so the overhanging windows cost O(len1) steps instead of
// O(len1^2). No allocation happens per window.
// See also: partial.hpp, indel.hpp.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <memory_resource>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/common/bitpar.hpp"
#include "core/common/pattern.hpp"
#include "core/fuzz/indel.hpp"
#include "core/fuzz/partial.hpp"
#include "core/fuzz/ratio.hpp"
#include "core/fuzz/ratio_formula.hpp"
#include "dispatch/kernels.hpp"

namespace tarnvel::core {
namespace {

// Best distance of a full-window phase that has recorded nothing yet.
constexpr std::uint64_t kNotComputed = ~std::uint64_t{0};

// From this many full windows on, a search looks up the haystack's match masks once and
// evaluates blocks of consecutive windows in vector lanes. Below it the lookups per
// window cost less than the mask array.
constexpr std::size_t kManyWindows = 32;
// Windows per lane block: four AVX-512 vectors of 8-bit lanes (needles of up to 8
// symbols), several rounds of four vectors for wider lanes. Blocks are the unit of
// skipping, so they stay short.
constexpr std::size_t kBlock = 256;
// Zero masks after the haystack: a kernel's last vector reads past the last window.
constexpr std::size_t kMaskPad = 64;

struct Found {
    double score;
    std::size_t start;
    std::size_t end;
};

inline std::uint64_t low_mask(std::size_t len) {
    return len >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << len) - 1;
}

// Bit count without a library call (see core/common/bitpar.hpp).
inline std::size_t bit_count(std::uint64_t x) { return swar_popcount(x); }

// Dense match masks per thread, all zero between searches. Setting and then clearing only
// a needle's entries costs a few stores; zeroing a table per search was a fifth of a short
// search's time. `busy` sends a search that starts while another is using it (none does
// today) to a table of its own.
struct DenseScratch {
    std::uint64_t masks[256];
    bool busy;
};

inline DenseScratch* dense_scratch() {
    thread_local DenseScratch s{};
    return detail::pinned(&s);
}

// Match masks of a needle of 1..64 symbols, one word per symbol. Bytes (always ASCII:
// the byte path is taken only for ASCII pairs) and code points below 256 index a dense
// table; larger code points go through a small open-addressing map (at most 64 keys in
// 128 slots), on the stack.
template <typename CharT>
class WordMasks {
public:
    static constexpr bool kWide = sizeof(CharT) > 1;

    WordMasks() = default;
    WordMasks(const WordMasks&) = delete;
    WordMasks& operator=(const WordMasks&) = delete;
    ~WordMasks() { release(); }

    void assign(const CharT* p, std::size_t n) {
        release();
        DenseScratch* s = dense_scratch();
        if (!s->busy) {
            s->busy = true;
            scratch_ = s;
            dense_ = s->masks;
        } else {
            std::memset(own_, 0, sizeof(own_));
            dense_ = own_;
        }
        needle_ = p;
        len_ = n;
        if constexpr (kWide) {
            has_big_ = false;
            for (std::size_t i = 0; i < n; ++i) has_big_ |= static_cast<std::uint32_t>(p[i]) >= 256;
            if (has_big_) std::memset(keys_, 0xFF, sizeof(keys_));
        }
        for (std::size_t i = 0; i < n; ++i)
            *slot(static_cast<std::uint32_t>(p[i])) |= std::uint64_t{1} << i;
    }

    std::uint64_t get(CharT ch) const {
        const auto c = static_cast<std::uint32_t>(ch);
        if constexpr (!kWide) {
            return dense_[c & 0x7F];
        } else {
            if (c < 256) return dense_[c];
            if (!has_big_) return 0;
            for (std::size_t h = hash(c);; h = (h + 1) & (kSlots - 1)) {
                if (keys_[h] == c) return big_[h];
                if (keys_[h] == kEmpty) return 0;
            }
        }
    }

private:
    static constexpr std::size_t kSlots = 128;
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
    static std::size_t hash(std::uint32_t c) { return (c * 0x9E3779B1u) >> 25; }

    // Hands the per-thread table back all zero.
    void release() {
        if (scratch_ == nullptr) return;
        for (std::size_t i = 0; i < len_; ++i) {
            const auto c = static_cast<std::uint32_t>(needle_[i]);
            if (!kWide)
                dense_[c & 0x7F] = 0;
            else if (c < 256)
                dense_[c] = 0;
        }
        scratch_->busy = false;
        scratch_ = nullptr;
    }

    std::uint64_t* slot(std::uint32_t c) {
        if (!kWide) return &dense_[c & 0x7F];
        if (c < 256) return &dense_[c];
        for (std::size_t h = hash(c);; h = (h + 1) & (kSlots - 1)) {
            if (keys_[h] == c) return &big_[h];
            if (keys_[h] == kEmpty) {
                keys_[h] = c;
                big_[h] = 0;
                return &big_[h];
            }
        }
    }

    std::uint64_t* dense_ = nullptr;
    DenseScratch* scratch_ = nullptr;
    const CharT* needle_ = nullptr;
    std::size_t len_ = 0;
    std::uint64_t own_[256];  // only when the thread's table is in use
    std::uint32_t keys_[kWide ? kSlots : 1];
    std::uint64_t big_[kWide ? kSlots : 1];
    bool has_big_ = false;
};

inline std::uint64_t reverse_bits(std::uint64_t x) {
    x = __builtin_bswap64(x);
    x = ((x >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((x & 0x0F0F0F0F0F0F0F0Full) << 4);
    x = ((x >> 2) & 0x3333333333333333ull) | ((x & 0x3333333333333333ull) << 2);
    x = ((x >> 1) & 0x5555555555555555ull) | ((x & 0x5555555555555555ull) << 1);
    return x;
}

// Needle of 1..64 symbols: one 64-bit state per scan.
template <typename CharT>
class WordNeedle {
public:
    using Lcs = std::uint32_t;

    explicit WordNeedle(Seq<CharT> needle) : len_(needle.size), mask_(low_mask(needle.size)) {
        masks_.assign(needle.data, needle.size);
    }

    // For many windows: the match mask of every haystack symbol in the narrowest lane
    // width the target offers for this needle, zero-padded, and per symbol the count of
    // earlier symbols the needle holds (to skip blocks without any).
    bool prepare(Seq<CharT> hay) {
        const dispatch::KernelTable& k = dispatch::kernels();
        for (int c = 0; c < 4; ++c)
            if (k.partial_lanes[c] != nullptr && len_ <= (std::size_t{8} << c)) {
                kernel_ = k.partial_lanes[c];
                switch (c) {
                    case 0:
                        fill_masks<std::uint8_t>(hay);
                        break;
                    case 1:
                        fill_masks<std::uint16_t>(hay);
                        break;
                    case 2:
                        fill_masks<std::uint32_t>(hay);
                        break;
                    default:
                        fill_masks<std::uint64_t>(hay);
                        break;
                }
                return true;
            }
        return false;
    }

    // out[k] = lcs of the window starting at first + k, k < count (after prepare()).
    // Returns the largest of them.
    std::uint32_t block_lcs(std::size_t first, std::size_t count, Lcs* out) const {
        return kernel_(lane_masks_.get(), len_, first, count, out);
    }

    // At least as many as of the n haystack symbols from `first` occur in the needle
    // (counted per stretch of 64 symbols, widened to whole stretches).
    std::size_t present(std::size_t first, std::size_t n) const {
        const std::size_t hi = std::min((first + n + 63) / 64, present_.size() - 1);
        return present_[hi] - present_[first / 64];
    }

    bool contains(CharT c) const { return masks_.get(c) != 0; }

    std::size_t window_lcs(const CharT* s, std::size_t n) const {
        std::uint64_t v = ~std::uint64_t{0};
        for (std::size_t j = 0; j < n; ++j) v = lcs_step(v, masks_.get(s[j]));
        return bit_count(~v & mask_);
    }

    // out[k] = lcs of the window s[pos[k] .. pos[k] + n) for k < count. Four windows run
    // interleaved: each step is a 3-operation dependency chain, so independent chains
    // fill the otherwise idle execution ports.
    void windows_lcs(const CharT* s, std::size_t n, const std::size_t* pos, std::size_t count,
                     Lcs* out) const {
        std::size_t k = 0;
        for (; k + 4 <= count; k += 4) {
            const CharT* s0 = s + pos[k];
            const CharT* s1 = s + pos[k + 1];
            const CharT* s2 = s + pos[k + 2];
            const CharT* s3 = s + pos[k + 3];
            std::uint64_t v0 = ~std::uint64_t{0}, v1 = v0, v2 = v0, v3 = v0;
            for (std::size_t j = 0; j < n; ++j) {
                v0 = lcs_step(v0, masks_.get(s0[j]));
                v1 = lcs_step(v1, masks_.get(s1[j]));
                v2 = lcs_step(v2, masks_.get(s2[j]));
                v3 = lcs_step(v3, masks_.get(s3[j]));
            }
            out[k] = static_cast<Lcs>(bit_count(~v0 & mask_));
            out[k + 1] = static_cast<Lcs>(bit_count(~v1 & mask_));
            out[k + 2] = static_cast<Lcs>(bit_count(~v2 & mask_));
            out[k + 3] = static_cast<Lcs>(bit_count(~v3 & mask_));
        }
        for (; k < count; ++k) out[k] = static_cast<Lcs>(window_lcs(s + pos[k], n));
    }

    // f(j, lcs of s[0..j)) for j = 1..n, called only when s[j-1] occurs in the needle.
    template <typename F>
    bool scan_prefixes(const CharT* s, std::size_t n, F&& f) const {
        std::uint64_t v = ~std::uint64_t{0};
        for (std::size_t j = 0; j < n; ++j) {
            const std::uint64_t m = masks_.get(s[j]);
            v = lcs_step(v, m);
            if (m != 0 && f(j + 1, bit_count(~v & mask_))) return true;
        }
        return false;
    }

    // out[k] = lcs of the suffix s[n-k..n) for k = 1..n (n at most the needle length).
    // The reversed needle's mask of a symbol is its forward mask with the bits reversed.
    void suffix_lcs(const CharT* s, std::size_t n, std::size_t* out) const {
        const unsigned shift = static_cast<unsigned>(64 - len_);
        std::uint64_t v = ~std::uint64_t{0};
        for (std::size_t k = 1; k <= n; ++k) {
            std::uint64_t m = masks_.get(s[n - k]);
            if (m != 0) m = reverse_bits(m) >> shift;
            v = lcs_step(v, m);
            out[k] = bit_count(~v & mask_);
        }
    }

private:
    std::size_t len_;
    std::uint64_t mask_;
    WordMasks<CharT> masks_;
    template <typename Lane>
    void fill_masks(Seq<CharT> hay) {
        // Not value-initialised: every byte is written below.
        lane_masks_.reset(new unsigned char[(hay.size + kMaskPad) * sizeof(Lane)]);
        unsigned char* out = lane_masks_.get();
        present_.resize((hay.size + 63) / 64 + 1);
        present_[0] = 0;
        std::uint32_t seen = 0;
        for (std::size_t i = 0; i < hay.size;) {
            const std::size_t end = std::min(hay.size, i + 64);
            for (; i < end; ++i) {
                const Lane lane = static_cast<Lane>(masks_.get(hay[i]));
                seen += lane != 0;
                std::memcpy(out + i * sizeof(Lane), &lane, sizeof(Lane));
            }
            present_[(i + 63) / 64] = seen;
        }
        std::memset(out + hay.size * sizeof(Lane), 0, kMaskPad * sizeof(Lane));
    }

    std::unique_ptr<unsigned char[]> lane_masks_;
    std::vector<std::uint32_t> present_;  // [k]: symbols in the needle among the first 64 k
    std::remove_reference_t<decltype(dispatch::KernelTable::partial_lanes[0])> kernel_ = nullptr;
};

// Needle of any length: ceil(len/64) words per state; only the addition carry crosses
// words.
template <typename CharT>
class BlockNeedle {
public:
    using Lcs = std::size_t;

    bool prepare(Seq<CharT>) { return false; }
    std::uint32_t block_lcs(std::size_t, std::size_t, std::uint32_t*) const { return 0; }
    std::size_t present(std::size_t, std::size_t) const { return 0; }
    explicit BlockNeedle(Seq<CharT> needle)
        : needle_(needle), fwd_(needle), words_(fwd_.words()), v_(words_) {}

    bool contains(CharT c) const { return fwd_.contains(static_cast<std::uint32_t>(c)); }

    std::size_t window_lcs(const CharT* s, std::size_t n) {
        return lcs_blocked(fwd_, Seq<CharT>{s, n}, v_);
    }

    void windows_lcs(const CharT* s, std::size_t n, const std::size_t* pos, std::size_t count,
                     std::size_t* out) {
        for (std::size_t k = 0; k < count; ++k) out[k] = window_lcs(s + pos[k], n);
    }

    template <typename F>
    bool scan_prefixes(const CharT* s, std::size_t n, F&& f) {
        std::fill(v_.begin(), v_.end(), ~std::uint64_t{0});
        BlockPattern::Rows rows(fwd_);
        for (std::size_t j = 0; j < n; ++j) {
            step(rows(static_cast<std::uint32_t>(s[j])));
            if (contains(s[j]) && f(j + 1, count())) return true;
        }
        return false;
    }

    void suffix_lcs(const CharT* s, std::size_t n, std::size_t* out) {
        std::vector<CharT> reversed(needle_.begin(), needle_.end());
        std::reverse(reversed.begin(), reversed.end());
        const BlockPattern rev(Seq<CharT>{reversed.data(), reversed.size()});
        BlockPattern::Rows rows(rev);
        std::fill(v_.begin(), v_.end(), ~std::uint64_t{0});
        for (std::size_t k = 1; k <= n; ++k) {
            step(rows(static_cast<std::uint32_t>(s[n - k])));
            out[k] = count();
        }
    }

private:
    void step(const std::uint64_t* row) {
        std::uint64_t carry = 0;
        for (std::size_t w = 0; w < words_; ++w) {
            const std::uint64_t x = v_[w];
            const std::uint64_t u = x & row[w];
            v_[w] = detail::add_carry(x, u, carry, carry) | (x - u);
        }
    }

    std::size_t count() const {
        std::size_t lcs = 0;
        for (std::size_t w = 0; w < words_; ++w) {
            std::uint64_t zeros = ~v_[w];
            const std::size_t bits = needle_.size - w * 64;
            if (bits < 64) zeros &= (std::uint64_t{1} << bits) - 1;
            lcs += bit_count(zeros);
        }
        return lcs;
    }

    Seq<CharT> needle_;
    BlockPattern fwd_;
    std::size_t words_;
    std::vector<std::uint64_t> v_;
};

// Subdivision depth of start position p: the level at which the breadth-first search over
// the starts 0..last (below) first visits p, when no range above it is pruned.
inline std::size_t visit_depth(std::size_t p, std::size_t last) {
    std::size_t lo = 0, hi = last, depth = 0;
    if (p == lo || p == hi) return 0;
    for (;;) {
        const std::size_t mid = lo + ((hi - lo) >> 1);
        ++depth;
        if (p == mid) return depth;
        (p < mid ? hi : lo) = mid;
    }
}

// The full windows of full_windows() below, every one evaluated in vector lanes, with the
// breadth-first search's answer derived instead of replayed. That search visits starts in
// order of (depth, position), and its pruning is exact: a range is dropped only when no
// window inside can beat the bound. Until it has visited a window of the minimum distance
// its bound stays above that minimum, so it splits every range holding one; the first
// such window in (depth, position) order is therefore visited, recorded, and never beaten
// or replaced (later windows need a strictly smaller distance). Blocks whose symbols hold
// too few of the needle's to reach the best distance so far (ties included) are skipped.
template <typename CharT, typename Needle>
bool full_windows_lanes(Needle& needle, std::size_t len1, Seq<CharT> s2, std::uint64_t bound,
                        double& cutoff, double& best_score, std::size_t& best_start, Found* hit) {
    const std::size_t count = s2.size - len1;
    const std::uint64_t len_sum = 2 * std::uint64_t{len1};
    std::uint64_t best = bound;  // only distances below the starting bound are recorded
    std::size_t best_pos = 0;
    std::size_t best_depth = 0;
    alignas(64) std::uint32_t lcs[kBlock];
    for (std::size_t first = 0; first < count; first += kBlock) {
        const std::size_t n = std::min(kBlock, count - first);
        const std::uint64_t most =
            std::min<std::uint64_t>(needle.present(first, n + len1 - 1), len1);
        const std::uint64_t least = len_sum - 2 * most;
        if (least > best || least >= bound) continue;
        const std::uint32_t top = needle.block_lcs(first, n, lcs);
        const std::uint64_t block_best = len_sum - 2 * std::uint64_t{top};
        if (block_best > best || block_best >= bound) continue;
        for (std::size_t k = 0; k < n; ++k) {
            if (lcs[k] != top) continue;
            const std::uint64_t d = block_best;
            const std::size_t depth = visit_depth(first + k, count - 1);
            if (d < best || depth < best_depth) {
                best = d;
                best_pos = first + k;
                best_depth = depth;
            }
        }
    }
    best_start = best_pos;
    if (best == bound) return false;  // nothing recorded: score and cutoff stay
    if (best == 0) {
        *hit = Found{100.0, best_pos, best_pos + len1};
        return true;
    }
    const double score = ratio_from_distance(best, len_sum);
    if (cutoff <= score) {
        cutoff = score;
        best_score = score;
    }
    return false;
}

// Full windows s2[p .. p + len1) for p = 0 .. len2 - len1 - 1, evaluated breadth-first
// over a subdivision of the start positions. Windows whose starts differ by k differ in
// distance by at most 2k, so a range is split only while a window inside it could still
// beat the bound. Returns true (with *hit set) when a window matches exactly.
// Dist is the cache's cell type: 32 bits whenever distances (at most 2 * len1) fit below
// its top bit, which halves the cache's footprint; the values are the same.
template <typename Dist, typename CharT, typename Needle>
bool full_windows(Needle& needle, std::size_t len1, Seq<CharT> s2, double& cutoff,
                  double& best_score, std::size_t& best_start, Found* hit) {
    constexpr Dist kUnset = static_cast<Dist>(~Dist{0});
    // Set on a distance computed in the level's batch but not yet visited.
    constexpr Dist kPending = static_cast<Dist>(Dist{1} << (8 * sizeof(Dist) - 1));

    const std::size_t len2 = s2.size;
    const std::size_t count = len2 - len1;
    const std::uint64_t len_sum = 2 * std::uint64_t{len1};
    double factor = cutoff / -100.0 + 1.0 + 1e-5;
    factor = factor < 1.0 ? factor : 1.0;  // NaN takes the cap
    std::uint64_t bound = saturating_to_u64(std::ceil(factor * static_cast<double>(len_sum)));
    if (count >= kManyWindows && needle.prepare(s2))
        return full_windows_lanes(needle, len1, s2, bound, cutoff, best_score, best_start, hit);

    // Short haystacks keep every buffer on the stack; long ones use the ordinary heap
    // (whose freed blocks the next call reuses).
    alignas(std::max_align_t) std::byte stack[4096];
    std::pmr::monotonic_buffer_resource arena(stack, sizeof(stack));
    std::pmr::memory_resource* mem = count <= 128 ? static_cast<std::pmr::memory_resource*>(&arena)
                                                  : std::pmr::new_delete_resource();
    std::pmr::vector<Dist> cache(count, kUnset, mem);
    std::uint64_t best_dist = kNotComputed;
    best_start = 0;

    using Range = std::pair<std::size_t, std::size_t>;
    std::pmr::vector<Range> level(mem);
    std::pmr::vector<Range> next(mem);
    std::pmr::vector<std::size_t> batch(mem);
    std::pmr::vector<typename Needle::Lcs> lcs(mem);
    level.reserve(64);
    next.reserve(64);
    batch.reserve(128);
    lcs.reserve(128);
    level.emplace_back(0, count - 1);

    // The windows a level visits are fixed when the level starts, and a distance does
    // not depend on the bound, so each level's new distances are computed up front as
    // one batch (marked pending) and then taken in the exact visiting order.
    auto visit = [&](std::size_t pos) -> bool {
        if (!(cache[pos] & kPending)) return false;
        const std::uint64_t d = cache[pos] & ~kPending;
        cache[pos] = static_cast<Dist>(d);
        if (d < bound) {
            if (d == 0) {
                *hit = Found{100.0, pos, pos + len1};
                return true;
            }
            best_dist = bound = d;
            best_start = pos;
        }
        return false;
    };

    while (!level.empty()) {
        batch.clear();
        for (const auto& [lo, hi] : level) {
            if (cache[lo] == kUnset) {
                cache[lo] = kPending;
                batch.push_back(lo);
            }
            if (cache[hi] == kUnset) {
                cache[hi] = kPending;
                batch.push_back(hi);
            }
        }
        lcs.resize(batch.size());
        needle.windows_lcs(s2.data, len1, batch.data(), batch.size(), lcs.data());
        for (std::size_t k = 0; k < batch.size(); ++k)
            cache[batch[k]] = static_cast<Dist>(kPending | (len_sum - 2 * std::uint64_t{lcs[k]}));

        for (const auto& [lo, hi] : level) {
            if (visit(lo) || visit(hi)) return true;
            if (hi - lo == 1) continue;
            const std::uint64_t dl = cache[lo];
            const std::uint64_t dh = cache[hi];
            const std::uint64_t diff = dl > dh ? dl - dh : dh - dl;
            const std::uint64_t width = std::uint64_t{hi} - lo;
            const std::uint64_t lower =
                std::min(dl, dh) - ((width - (diff >> 1)) & ~std::uint64_t{1});
            if (static_cast<std::int64_t>(lower) < static_cast<std::int64_t>(bound)) {
                const std::size_t mid = lo + ((hi - lo) >> 1);
                next.emplace_back(lo, mid);
                next.emplace_back(mid, hi);
            }
        }
        level.swap(next);
        next.clear();
    }

    // A phase that recorded nothing leaves the running score at 0.0 and the cutoff as it
    // was (the plain formula would turn the 2^64 - 1 marker into a huge negative score).
    if (best_dist == kNotComputed) return false;
    const double score = ratio_from_distance(best_dist, len_sum);
    if (cutoff <= score) {
        cutoff = score;
        best_score = score;
    }
    return false;
}

// The best window of needle s1 (1 <= len1 <= len2) in haystack s2.
template <typename CharT, typename Needle>
Found partial_search(Needle& needle, Seq<CharT> s1, Seq<CharT> s2, double cutoff) {
    const std::size_t len1 = s1.size;
    const std::size_t len2 = s2.size;
    double best_score = 0.0;
    std::size_t best_start = 0;
    std::size_t best_end = len1;

    if (len1 < len2) {
        Found hit{};
        const bool perfect = len1 < (std::size_t{1} << 30)
                                 ? full_windows<std::uint32_t>(needle, len1, s2, cutoff, best_score,
                                                               best_start, &hit)
                                 : full_windows<std::uint64_t>(needle, len1, s2, cutoff, best_score,
                                                               best_start, &hit);
        if (perfect) return hit;
        best_end = best_start + len1;
    }

    // Scores one overhanging window; true when it is perfect (the search ends).
    auto consider = [&](std::size_t start, std::size_t end, std::size_t lcs) -> bool {
        const std::uint64_t total = std::uint64_t{len1} + (end - start);
        double r = ratio_from_distance(total - 2 * std::uint64_t{lcs}, total);
        r = apply_cutoff(r, cutoff);
        if (r > best_score) {
            best_score = cutoff = r;
            best_start = start;
            best_end = end;
            if (r == 100.0) return true;
        }
        return false;
    };

    if (needle.scan_prefixes(s2.data, len1 - 1,
                             [&](std::size_t j, std::size_t lcs) { return consider(0, j, lcs); }))
        return {best_score, best_start, best_end};

    // Suffixes s2[i .. len2) for i = len2 - len1 .. len2 - 1, longest first.
    const std::size_t first = len2 - len1;
    bool any = false;
    for (std::size_t i = first; i < len2 && !any; ++i) any = needle.contains(s2[i]);
    if (any) {
        std::size_t small[65];
        std::vector<std::size_t> large;
        std::size_t* lcs = small;
        if (len1 >= 65) {
            large.resize(len1 + 1);
            lcs = large.data();
        }
        needle.suffix_lcs(s2.data + first, len1, lcs);
        for (std::size_t i = first; i < len2; ++i) {
            if (!needle.contains(s2[i])) continue;
            if (consider(i, len2, lcs[len2 - i])) break;
        }
    }
    return {best_score, best_start, best_end};
}

template <typename CharT>
Found search(Seq<CharT> s1, Seq<CharT> s2, double cutoff) {
    if (s1.size <= 64) {
        WordNeedle<CharT> needle(s1);
        return partial_search(needle, s1, s2, cutoff);
    }
    BlockNeedle<CharT> needle(s1);
    return partial_search(needle, s1, s2, cutoff);
}

template <typename CharT>
PartialAlignment align(Seq<CharT> a, Seq<CharT> b, double cutoff) {
    const std::size_t n = a.size;
    const std::size_t m = b.size;
    if (m < n) {
        const PartialAlignment r = align(b, a, cutoff);
        return {r.score, r.dest_start, r.dest_end, r.src_start, r.src_end};
    }
    if (cutoff > 100.0) return {0.0, 0, n, 0, n};
    if (n == 0) return {m == 0 ? 100.0 : 0.0, 0, 0, 0, 0};

    const Found first = search(a, b, cutoff);
    const PartialAlignment rec{first.score, 0, n, first.start, first.end};
    if (n != m || first.score == 100.0) return rec;

    // Equal lengths: the second text may hold a better window of the first.
    const Found second = search(b, a, larger_of(cutoff, first.score));
    if (second.score > first.score) return {second.score, second.start, second.end, 0, n};
    return rec;
}

}  // namespace

PartialAlignment partial_ratio_alignment(Text a, Text b, double score_cutoff) {
    return with_symbols(a, b, [&](auto sa, auto sb) { return align(sa, sb, score_cutoff); });
}

PartialAlignment partial_ratio_alignment(Seq<std::uint8_t> a, Seq<std::uint8_t> b,
                                         double score_cutoff) {
    return align(a, b, score_cutoff);
}

PartialAlignment partial_ratio_alignment(Seq<std::uint32_t> a, Seq<std::uint32_t> b,
                                         double score_cutoff) {
    return align(a, b, score_cutoff);
}

}  // namespace tarnvel::core
