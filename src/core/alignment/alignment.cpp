// Needleman-Wunsch entry points: shortcuts, the choice between the exact lane kernels and
// the saturating row loops, and the batches.
//
// Why the exact kernels are safe: every value the recurrence computes (each sum before a
// maximum, each partial sum x + open, and each boundary product) is the score of part of
// one path through the table, or, in the affine case, NW_NEG plus such a score. A path
// with d pair steps has n + m - 2d gap characters at most, each of which may (affine)
// also open a run, so with g = |gap| (linear) or |open| + |extend| (affine)
//   |path score| <= B = max over d in [0, min(n, m)] of
//                       max(|match|, |mismatch|) d + g (n + m - 2d)      (path_bound)
// When B fits a lane type, no saturating addition of the definition ever clamps, and
// plain arithmetic in that lane type gives the same values. The vector kernels also form
// values the definition does not (the striped kernels' lower bounds and partial maxima),
// but each is again the score of one path, or of a path to a cell plus at most two steps,
// so the same bounds hold for them. 16- and 32-bit lanes use the
// tighter value_bound(), which bounds the maxima themselves and the sums formed from them.
// Affine in 16/32-bit lanes replaces NW_NEG (which does not fit) by neg = -(B + |extend|
// + 1); see affine_lanes(). 64-bit lanes keep NW_NEG itself: values then lie within
// 2^61 + B, so B <= 2^62 suffices. Anything else runs the saturating row loop.
// See also: alignment_kernels.hpp, alignment_scalar.hpp.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "core/alignment/alignment.hpp"
#include "core/alignment/alignment_kernels.hpp"
#include "core/alignment/alignment_scalar.hpp"
#include "dispatch/kernels.hpp"
#include "engine/parallel.hpp"

namespace tarnvel::core {
namespace {

using detail::sat_add;
using detail::sat_mul;
using u128 = unsigned __int128;

enum class Lanes { i16, i32, i64, none };

u128 magnitude(std::int64_t x) {
    return x < 0 ? static_cast<u128>(-(x + 1)) + 1 : static_cast<u128>(x);
}
u128 larger(u128 x, u128 y) { return x < y ? y : x; }

constexpr u128 kI16Max = 32767;
constexpr u128 kI32Max = 2147483647;
constexpr u128 kI64Max = 9223372036854775807ull;

// The largest magnitude of a path score: d pair steps and n + m - 2d gap characters,
// the worst over d = 0 .. min(n, m), which is at one of the two ends. `per_gap` is |gap|
// (linear) or |open| + |extend| (affine: a gap character may also open a run).
u128 path_bound(std::size_t n, std::size_t m, std::int64_t match, std::int64_t mismatch,
                u128 per_gap) {
    const u128 pairs = n < m ? n : m;
    const u128 all_gaps = per_gap * (static_cast<u128>(n) + m);
    const u128 most_pairs = larger(magnitude(match), magnitude(mismatch)) * pairs +
                            per_gap * (static_cast<u128>(n) + m - 2 * pairs);
    return larger(all_gaps, most_pairs);
}

u128 positive_part(std::int64_t x) { return x > 0 ? static_cast<u128>(x) : 0; }

// A tighter bound on the values themselves (not on every path), used for 16/32-bit lanes:
// each value is a maximum over paths, so it is at least the score of one particular path
// (pairs along the diagonal, then one gap run), which costs at most
// max(|match|, |mismatch|, |gap or extend|) x max(i, k) (+ |open|); each candidate sum
// before a maximum is such a value plus at most a step or two. From above, no value
// exceeds the best conceivable path: positive pair scores on min(n, m) pairs plus positive
// gap scores on n + m gap characters. `step` covers the largest single step of a
// candidate (match or mismatch, gap, or open + extend).
u128 value_bound(std::size_t n, std::size_t m, std::int64_t match, std::int64_t mismatch,
                 u128 open_mag, u128 per_char_mag, u128 positive_gap) {
    const u128 pair_mag = larger(magnitude(match), magnitude(mismatch));
    const u128 longer = n < m ? m : n;
    const u128 step = pair_mag + open_mag + per_char_mag;
    const u128 low = larger(pair_mag, per_char_mag) * longer + open_mag + 3 * step;
    const u128 high = larger(positive_part(match), positive_part(mismatch)) * (n < m ? n : m) +
                      positive_gap * (static_cast<u128>(n) + m) + step;
    return larger(low, high);
}

Lanes linear_lanes(std::size_t n, std::size_t m, std::int64_t match, std::int64_t mismatch,
                   std::int64_t gap) {
    const u128 narrow = value_bound(n, m, match, mismatch, 0, magnitude(gap), positive_part(gap));
    if (narrow <= kI16Max) return Lanes::i16;
    if (narrow <= kI32Max) return Lanes::i32;
    if (path_bound(n, m, match, mismatch, magnitude(gap)) <= kI64Max) return Lanes::i64;
    return Lanes::none;
}

struct AffineLanes {
    Lanes lanes;
    std::int64_t neg;  // stands for NW_NEG in the lanes
};

// In 16/32-bit lanes the only values built on the unreachable value are neg + extend
// (X on row 0, Y on column 0, extended once; every other maximum has a real candidate).
// neg = -(B + |extend| + 1) keeps them below every real value (>= -B) and inside the lane.
AffineLanes affine_lanes(std::size_t n, std::size_t m, std::int64_t match, std::int64_t mismatch,
                         std::int64_t open, std::int64_t extend) {
    const u128 bound = value_bound(n, m, match, mismatch, magnitude(open), magnitude(extend),
                                   positive_part(open) + positive_part(extend));
    const u128 low = bound + 2 * magnitude(extend) + 1;  // magnitude of neg - |extend|
    const auto neg = [&] { return -static_cast<std::int64_t>(bound + magnitude(extend) + 1); };
    if (low <= kI16Max) return {Lanes::i16, neg()};
    if (low <= kI32Max) return {Lanes::i32, neg()};
    const u128 paths = path_bound(n, m, match, mismatch, magnitude(open) + magnitude(extend));
    if (paths <= (static_cast<u128>(1) << 62)) return {Lanes::i64, NW_NEG};
    return {Lanes::none, NW_NEG};
}

template <class CharT>
bool fits_u16(Seq<CharT> s) {
    if constexpr (sizeof(CharT) <= 2) {
        return true;
    } else {
        std::uint32_t acc = 0;
        for (std::size_t i = 0; i < s.size; ++i) acc |= s[i];
        return acc < 0x10000;
    }
}

std::size_t round_up64(std::size_t bytes) { return (bytes + 63) & ~std::size_t{63}; }

// Lays out the symbols (a, padding, b reversed, padding) and the kernel's work cells in
// one block, on the stack when small, and runs the kernel.
template <class T, class U, class CharA, class CharB, class Kernel>
std::int64_t run_exact(Seq<CharA> a, Seq<CharB> b, const T* scores, bool affine, Kernel kernel) {
    const std::size_t pad = detail::lane_pad<T>();
    const std::size_t nsym = a.size + b.size + 2 * pad;
    const std::size_t ncell = affine ? detail::nw_affine_work_cells<T>(a.size, b.size)
                                     : detail::nw_linear_work_cells<T>(a.size, b.size);
    const std::size_t sym_bytes = round_up64(nsym * sizeof(U));
    const std::size_t bytes = sym_bytes + ncell * sizeof(T);
    alignas(64) std::byte local[16384];
    std::unique_ptr<std::byte[]> heap;
    std::byte* mem = local;
    if (bytes > sizeof local) {
        // The kernels want 64-byte aligned work (see diagonal_base()).
        heap.reset(new std::byte[bytes + 64]);
        const auto addr = reinterpret_cast<std::uintptr_t>(heap.get());
        mem = heap.get() + ((64 - addr % 64) % 64);
    }
    std::memset(mem, 0, bytes);
    U* syms = reinterpret_cast<U*>(mem);
    T* work = reinterpret_cast<T*>(mem + sym_bytes);
    for (std::size_t i = 0; i < a.size; ++i) syms[i] = static_cast<U>(a[i]);
    U* rb = syms + a.size + pad;
    for (std::size_t k = 0; k < b.size; ++k) rb[k] = static_cast<U>(b[b.size - 1 - k]);
    return kernel(syms, a.size, rb, b.size, scores, work);
}

// Both texts non-empty and not equal.
template <class CharT>
std::int64_t linear_general(Seq<CharT> a, Seq<CharT> b, std::int64_t match, std::int64_t mismatch,
                            std::int64_t gap) {
    const std::size_t n = a.size, m = b.size;
    const auto& k = dispatch::kernels();
    Lanes lanes = linear_lanes(n, m, match, mismatch, gap);
    if (lanes == Lanes::i16 && !(fits_u16(a) && fits_u16(b))) lanes = Lanes::i32;
    switch (lanes) {
        case Lanes::i16: {
            const std::int16_t s[3] = {static_cast<std::int16_t>(match),
                                       static_cast<std::int16_t>(mismatch),
                                       static_cast<std::int16_t>(gap)};
            return run_exact<std::int16_t, std::uint16_t>(a, b, s, false, k.nw_linear_i16);
        }
        case Lanes::i32: {
            const std::int32_t s[3] = {static_cast<std::int32_t>(match),
                                       static_cast<std::int32_t>(mismatch),
                                       static_cast<std::int32_t>(gap)};
            return run_exact<std::int32_t, std::uint32_t>(a, b, s, false, k.nw_linear_i32);
        }
        case Lanes::i64: {
            const std::int64_t s[3] = {match, mismatch, gap};
            return run_exact<std::int64_t, std::uint64_t>(a, b, s, false, k.nw_linear_i64);
        }
        case Lanes::none:
            break;
    }
    return detail::nw_linear_rows(a, b, match, mismatch, gap);
}

template <class CharT>
std::int64_t affine_general(Seq<CharT> a, Seq<CharT> b, std::int64_t match, std::int64_t mismatch,
                            std::int64_t open, std::int64_t extend) {
    const std::size_t n = a.size, m = b.size;
    const auto& k = dispatch::kernels();
    const AffineLanes choice = affine_lanes(n, m, match, mismatch, open, extend);
    Lanes lanes = choice.lanes;
    if (lanes == Lanes::i16 && !(fits_u16(a) && fits_u16(b))) lanes = Lanes::i32;
    switch (lanes) {
        case Lanes::i16: {
            const std::int16_t s[5] = {
                static_cast<std::int16_t>(match), static_cast<std::int16_t>(mismatch),
                static_cast<std::int16_t>(open), static_cast<std::int16_t>(extend),
                static_cast<std::int16_t>(choice.neg)};
            return run_exact<std::int16_t, std::uint16_t>(a, b, s, true, k.nw_affine_i16);
        }
        case Lanes::i32: {
            const std::int32_t s[5] = {
                static_cast<std::int32_t>(match), static_cast<std::int32_t>(mismatch),
                static_cast<std::int32_t>(open), static_cast<std::int32_t>(extend),
                static_cast<std::int32_t>(choice.neg)};
            return run_exact<std::int32_t, std::uint32_t>(a, b, s, true, k.nw_affine_i32);
        }
        case Lanes::i64: {
            const std::int64_t s[5] = {match, mismatch, open, extend, NW_NEG};
            return run_exact<std::int64_t, std::uint64_t>(a, b, s, true, k.nw_affine_i64);
        }
        case Lanes::none:
            break;
    }
    return detail::nw_affine_rows(a, b, match, mismatch, open, extend);
}

// The saturating row loop with eight columns per step; left and diag are carried through
// the block, so every cell gets the value (and the order of updates) of nw_linear_rows.
std::int64_t linear_rows_unrolled(Seq<std::uint8_t> a, Seq<std::uint8_t> b, std::int64_t match,
                                  std::int64_t mismatch, std::int64_t gap) {
    const std::size_t n = a.size, m = b.size;
    std::vector<std::int64_t> row(m + 1);
    for (std::size_t k = 0; k <= m; ++k) row[k] = sat_mul(gap, k);
    engine::StepCheck check(m);
    for (std::size_t i = 1; i <= n; ++i) {
        check();
        const std::uint8_t c = a[i - 1];
        std::int64_t diag = row[0];
        row[0] = sat_mul(gap, i);
        std::int64_t left = row[0];
        std::size_t k = 1;
        const auto cell = [&](std::size_t col) {
            const std::int64_t s = c == b[col - 1] ? match : mismatch;
            const std::int64_t up = row[col];
            left = detail::max3(sat_add(diag, s), sat_add(up, gap), sat_add(left, gap));
            row[col] = left;
            diag = up;
        };
        if (m >= 8) {
            for (; k + 7 <= m; k += 8) {
#pragma GCC unroll 8
                for (std::size_t u = 0; u < 8; ++u) cell(k + u);
            }
        }
        for (; k <= m; ++k) cell(k);
    }
    return row[m];
}

}  // namespace

std::int64_t nw_linear(Text a, Text b, std::int64_t match, std::int64_t mismatch,
                       std::int64_t gap) {
    if (a.empty()) return sat_mul(gap, count_code_points(b));
    if (b.empty()) return sat_mul(gap, count_code_points(a));
    // Well-formed UTF-8 is equal byte for byte exactly when the code points are equal.
    if (bytes_equal(a, b)) return sat_mul(match, count_code_points(a));
    return with_symbols(
        a, b, [&](auto sa, auto sb) { return linear_general(sa, sb, match, mismatch, gap); });
}

std::int64_t nw_affine(Text a, Text b, std::int64_t match, std::int64_t mismatch,
                       std::int64_t gap_open, std::int64_t gap_extend) {
    if (a.empty() && b.empty()) return 0;
    if (a.empty()) return sat_add(gap_open, sat_mul(gap_extend, count_code_points(b)));
    if (b.empty()) return sat_add(gap_open, sat_mul(gap_extend, count_code_points(a)));
    if (bytes_equal(a, b)) return sat_mul(match, count_code_points(a));
    return with_symbols(a, b, [&](auto sa, auto sb) {
        return affine_general(sa, sb, match, mismatch, gap_open, gap_extend);
    });
}

std::int64_t nw_linear_unrolled(Seq<std::uint8_t> a, Seq<std::uint8_t> b, std::int64_t match,
                                std::int64_t mismatch, std::int64_t gap) {
    if (a.empty()) return sat_mul(gap, b.size);
    if (b.empty()) return sat_mul(gap, a.size);
    if (seq_equal(a, b)) return sat_mul(match, a.size);
    if (linear_lanes(a.size, b.size, match, mismatch, gap) != Lanes::none)
        return linear_general(a, b, match, mismatch, gap);
    return linear_rows_unrolled(a, b, match, mismatch, gap);
}

std::int64_t nw_striped(Text a, Text b, std::int64_t match, std::int64_t mismatch,
                        std::int64_t gap) {
    if (is_ascii(a) && is_ascii(b))
        return nw_linear_unrolled(byte_seq(a), byte_seq(b), match, mismatch, gap);
    return nw_linear(a, b, match, mismatch, gap);
}

namespace {

// Longest candidate taken into a lane group: its work is 3 (cols + 1) vectors.
constexpr std::size_t kGroupMaxLen = 2048;

// Batches: ASCII candidates are scored one per 16-bit lane in groups (sorted by length,
// so that a group's lanes have similar lengths) whenever the scores prove the 16-bit
// bound for the query and the group's longest candidate; every other candidate (and
// every candidate without a vector unit) takes the single-pair routine.
template <bool kAffine>
engine::ScratchVector<std::int64_t> batch(Text query, std::span<const Text> candidates,
                                          const std::int64_t* sc) {
    const auto single = [&](Text c) {
        return kAffine ? nw_affine(query, c, sc[0], sc[1], sc[2], sc[3])
                       : nw_linear(query, c, sc[0], sc[1], sc[2]);
    };
    const auto& k = dispatch::kernels();
    const auto group_fn = kAffine ? k.nw_affine_group_i16 : k.nw_linear_group_i16;
    const std::size_t lanes = k.nw_group_lanes;
    std::vector<std::size_t> eligible;
    if (group_fn != nullptr && lanes > 0 && !query.empty() && is_ascii(query) &&
        candidates.size() >= lanes / 2) {
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            const Text c = candidates[i];
            if (!c.empty() && c.size <= kGroupMaxLen && !bytes_equal(query, c) && is_ascii(c))
                eligible.push_back(i);
        }
        std::stable_sort(eligible.begin(), eligible.end(), [&](std::size_t x, std::size_t y) {
            return candidates[x].size < candidates[y].size;
        });
    }
    // Units: [0, groups) are lane groups of `eligible`, the rest single candidates.
    std::vector<std::size_t> group_starts;
    std::vector<std::int16_t> group_neg;
    std::vector<bool> grouped(candidates.size(), false);
    const std::size_t n = query.size;
    for (std::size_t g = 0; g < eligible.size(); g += lanes) {
        const std::size_t end = g + lanes < eligible.size() ? g + lanes : eligible.size();
        // Half-empty groups waste most of their lanes; the pair kernel does better there.
        if (end - g < lanes / 2) break;
        const std::size_t cols = candidates[eligible[end - 1]].size;
        std::int16_t neg = 0;
        if constexpr (kAffine) {
            const AffineLanes choice = affine_lanes(n, cols, sc[0], sc[1], sc[2], sc[3]);
            if (choice.lanes != Lanes::i16) break;  // longer groups follow: no better
            neg = static_cast<std::int16_t>(choice.neg);
        } else {
            if (linear_lanes(n, cols, sc[0], sc[1], sc[2]) != Lanes::i16) break;
        }
        group_starts.push_back(g);
        group_neg.push_back(neg);
        for (std::size_t e = g; e < end; ++e) grouped[eligible[e]] = true;
    }
    std::vector<std::size_t> singles;
    for (std::size_t i = 0; i < candidates.size(); ++i)
        if (!grouped[i]) singles.push_back(i);
    engine::ScratchVector<std::int64_t> out(candidates.size());
    const std::size_t units = group_starts.size() + singles.size();
    engine::parallel_for(units, [&](std::size_t begin, std::size_t end) {
        std::vector<std::uint16_t> q16;
        std::vector<std::uint16_t> cs;
        std::vector<std::int16_t> work;
        std::vector<std::size_t> lens(lanes);
        std::vector<std::int16_t> res(lanes);
        for (std::size_t u = begin; u < end; ++u) {
            if ((u - begin) % engine::kItemsPerCheck == engine::kItemsPerCheck - 1)
                engine::interruption_point();
            if (u >= group_starts.size()) {
                const std::size_t i = singles[u - group_starts.size()];
                out[i] = single(candidates[i]);
                continue;
            }
            if (q16.empty()) q16.assign(query.bytes(), query.bytes() + n);
            const std::size_t g = group_starts[u];
            const std::size_t count = g + lanes < eligible.size() ? lanes : eligible.size() - g;
            const std::size_t cols = candidates[eligible[g + count - 1]].size;
            cs.assign(cols * lanes, 0);
            for (std::size_t l = 0; l < count; ++l) {
                const Text c = candidates[eligible[g + l]];
                lens[l] = c.size;
                for (std::size_t j = 0; j < c.size; ++j) cs[j * lanes + l] = c.bytes()[j];
            }
            work.assign((kAffine ? 3 : 1) * (cols + 1) * lanes, 0);
            std::int16_t s16[5] = {static_cast<std::int16_t>(sc[0]),
                                   static_cast<std::int16_t>(sc[1]),
                                   static_cast<std::int16_t>(sc[2]),
                                   static_cast<std::int16_t>(kAffine ? sc[3] : 0), group_neg[u]};
            group_fn(q16.data(), n, cs.data(), lens.data(), count, cols, s16, work.data(),
                     res.data());
            for (std::size_t l = 0; l < count; ++l) out[eligible[g + l]] = res[l];
        }
    });
    return out;
}

}  // namespace

engine::ScratchVector<std::int64_t> nw_linear_batch(Text query, std::span<const Text> candidates,
                                                    std::int64_t match, std::int64_t mismatch,
                                                    std::int64_t gap) {
    const std::int64_t sc[3] = {match, mismatch, gap};
    return batch<false>(query, candidates, sc);
}

engine::ScratchVector<std::int64_t> nw_affine_batch(Text query, std::span<const Text> candidates,
                                                    std::int64_t match, std::int64_t mismatch,
                                                    std::int64_t gap_open,
                                                    std::int64_t gap_extend) {
    const std::int64_t sc[4] = {match, mismatch, gap_open, gap_extend};
    return batch<true>(query, candidates, sc);
}

}  // namespace tarnvel::core
