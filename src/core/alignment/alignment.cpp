// Needleman-Wunsch entry points: shortcuts, the choice between the exact lane kernels and
// the saturating row loops, and the batches.
//
// Why the exact kernels are safe: every value the recurrence computes (each sum before a
// maximum, and each boundary product) is the score of one path through the table, plus,
// in the affine case, possibly the unreachable value NW_NEG. A path to any cell has at
// most min(n, m) pair steps and at most n + m gap characters (each of which, in the
// affine case, may also open a run), so
//   linear:  |value| <= max(|match|, |mismatch|) min(n, m) + |gap| (n + m)           = B
//   affine:  |value| <= max(|match|, |mismatch|) min(n, m) + (|open| + |extend|)(n + m) = B
// for path scores. When B is small enough for a lane type, no saturating addition of the
// definition ever clamps, so plain arithmetic in that lane type gives the same values.
// Affine in 16/32-bit lanes replaces NW_NEG (which does not fit) by -Lmax/2: with
// 4B < Lmax, any value built on it stays below -B in both representations, so it loses
// every maximum it takes part in, exactly as NW_NEG does when B < 2^60; and no maximum
// consists of such values only (the pair state M always has a real predecessor).
// 64-bit lanes keep NW_NEG itself; values then lie within 2^61 + B, so B <= 2^62 suffices.
// See also: alignment_kernels.hpp, alignment_scalar.hpp.
#include "core/alignment/alignment.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

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

Lanes linear_lanes(std::size_t n, std::size_t m, std::int64_t match, std::int64_t mismatch,
                   std::int64_t gap) {
    const u128 bound = larger(magnitude(match), magnitude(mismatch)) * (n < m ? n : m) +
                       magnitude(gap) * (static_cast<u128>(n) + m);
    if (bound <= kI16Max) return Lanes::i16;
    if (bound <= kI32Max) return Lanes::i32;
    if (bound <= kI64Max) return Lanes::i64;
    return Lanes::none;
}

Lanes affine_lanes(std::size_t n, std::size_t m, std::int64_t match, std::int64_t mismatch,
                   std::int64_t open, std::int64_t extend) {
    const u128 bound = larger(magnitude(match), magnitude(mismatch)) * (n < m ? n : m) +
                       (magnitude(open) + magnitude(extend)) * (static_cast<u128>(n) + m);
    if (4 * bound < kI16Max) return Lanes::i16;
    if (4 * bound < kI32Max) return Lanes::i32;
    if (bound <= (static_cast<u128>(1) << 62)) return Lanes::i64;
    return Lanes::none;
}

// Symbols of a, then those of b reversed, widened to the lane width.
template <class U, class CharA, class CharB>
std::vector<U> lane_symbols(Seq<CharA> a, Seq<CharB> b) {
    std::vector<U> v(a.size + b.size);
    for (std::size_t i = 0; i < a.size; ++i) v[i] = static_cast<U>(a[i]);
    for (std::size_t k = 0; k < b.size; ++k) v[a.size + k] = static_cast<U>(b[b.size - 1 - k]);
    return v;
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

template <class T, class U, class CharA, class CharB, class Kernel>
std::int64_t run_exact(Seq<CharA> a, Seq<CharB> b, const T* scores, std::size_t cells,
                       Kernel kernel) {
    const std::vector<U> syms = lane_symbols<U>(a, b);
    std::vector<T> work(cells);
    return kernel(syms.data(), a.size, syms.data() + a.size, b.size, scores, work.data());
}

// Both texts non-empty and not equal.
template <class CharT>
std::int64_t linear_general(Seq<CharT> a, Seq<CharT> b, std::int64_t match,
                            std::int64_t mismatch, std::int64_t gap) {
    const std::size_t n = a.size, m = b.size;
    const auto& k = dispatch::kernels();
    const std::size_t cells = detail::nw_linear_work_cells(n);
    Lanes lanes = linear_lanes(n, m, match, mismatch, gap);
    if (lanes == Lanes::i16 && !(fits_u16(a) && fits_u16(b))) lanes = Lanes::i32;
    switch (lanes) {
        case Lanes::i16: {
            const std::int16_t s[3] = {static_cast<std::int16_t>(match),
                                       static_cast<std::int16_t>(mismatch),
                                       static_cast<std::int16_t>(gap)};
            return run_exact<std::int16_t, std::uint16_t>(a, b, s, cells, k.nw_linear_i16);
        }
        case Lanes::i32: {
            const std::int32_t s[3] = {static_cast<std::int32_t>(match),
                                       static_cast<std::int32_t>(mismatch),
                                       static_cast<std::int32_t>(gap)};
            return run_exact<std::int32_t, std::uint32_t>(a, b, s, cells, k.nw_linear_i32);
        }
        case Lanes::i64: {
            const std::int64_t s[3] = {match, mismatch, gap};
            return run_exact<std::int64_t, std::uint64_t>(a, b, s, cells, k.nw_linear_i64);
        }
        case Lanes::none: break;
    }
    return detail::nw_linear_rows(a, b, match, mismatch, gap);
}

template <class CharT>
std::int64_t affine_general(Seq<CharT> a, Seq<CharT> b, std::int64_t match,
                            std::int64_t mismatch, std::int64_t open, std::int64_t extend) {
    const std::size_t n = a.size, m = b.size;
    const auto& k = dispatch::kernels();
    const std::size_t cells = detail::nw_affine_work_cells(n);
    Lanes lanes = affine_lanes(n, m, match, mismatch, open, extend);
    if (lanes == Lanes::i16 && !(fits_u16(a) && fits_u16(b))) lanes = Lanes::i32;
    switch (lanes) {
        case Lanes::i16: {
            const std::int16_t s[5] = {
                static_cast<std::int16_t>(match), static_cast<std::int16_t>(mismatch),
                static_cast<std::int16_t>(open), static_cast<std::int16_t>(extend),
                static_cast<std::int16_t>(-static_cast<std::int64_t>(kI16Max / 2))};
            return run_exact<std::int16_t, std::uint16_t>(a, b, s, cells, k.nw_affine_i16);
        }
        case Lanes::i32: {
            const std::int32_t s[5] = {
                static_cast<std::int32_t>(match), static_cast<std::int32_t>(mismatch),
                static_cast<std::int32_t>(open), static_cast<std::int32_t>(extend),
                static_cast<std::int32_t>(-static_cast<std::int64_t>(kI32Max / 2))};
            return run_exact<std::int32_t, std::uint32_t>(a, b, s, cells, k.nw_affine_i32);
        }
        case Lanes::i64: {
            const std::int64_t s[5] = {match, mismatch, open, extend, NW_NEG};
            return run_exact<std::int64_t, std::uint64_t>(a, b, s, cells, k.nw_affine_i64);
        }
        case Lanes::none: break;
    }
    return detail::nw_affine_rows(a, b, match, mismatch, open, extend);
}

// The saturating row loop with eight columns per step; left and diag are carried through
// the block, so every cell gets the value (and the order of updates) of nw_linear_rows.
std::int64_t linear_rows_unrolled(Seq<std::uint8_t> a, Seq<std::uint8_t> b,
                                  std::int64_t match, std::int64_t mismatch,
                                  std::int64_t gap) {
    const std::size_t n = a.size, m = b.size;
    std::vector<std::int64_t> row(m + 1);
    for (std::size_t k = 0; k <= m; ++k) row[k] = sat_mul(gap, k);
    for (std::size_t i = 1; i <= n; ++i) {
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

// Portable instantiations of the exact kernels (the compiler may still vectorise them
// for the baseline instruction set).
struct PortableTag {};

std::int16_t linear_i16(const std::uint16_t* a, std::size_t n, const std::uint16_t* rb,
                        std::size_t m, const std::int16_t* s, std::int16_t* w) {
    return detail::nw_linear_diagonals<PortableTag>(a, n, rb, m, s, w);
}
std::int32_t linear_i32(const std::uint32_t* a, std::size_t n, const std::uint32_t* rb,
                        std::size_t m, const std::int32_t* s, std::int32_t* w) {
    return detail::nw_linear_diagonals<PortableTag>(a, n, rb, m, s, w);
}
std::int64_t linear_i64(const std::uint64_t* a, std::size_t n, const std::uint64_t* rb,
                        std::size_t m, const std::int64_t* s, std::int64_t* w) {
    return detail::nw_linear_diagonals<PortableTag>(a, n, rb, m, s, w);
}
std::int16_t affine_i16(const std::uint16_t* a, std::size_t n, const std::uint16_t* rb,
                        std::size_t m, const std::int16_t* s, std::int16_t* w) {
    return detail::nw_affine_diagonals<PortableTag>(a, n, rb, m, s, w);
}
std::int32_t affine_i32(const std::uint32_t* a, std::size_t n, const std::uint32_t* rb,
                        std::size_t m, const std::int32_t* s, std::int32_t* w) {
    return detail::nw_affine_diagonals<PortableTag>(a, n, rb, m, s, w);
}
std::int64_t affine_i64(const std::uint64_t* a, std::size_t n, const std::uint64_t* rb,
                        std::size_t m, const std::int64_t* s, std::int64_t* w) {
    return detail::nw_affine_diagonals<PortableTag>(a, n, rb, m, s, w);
}

void fill_alignment_portable(dispatch::KernelTable& t) {
    t.nw_linear_i16 = &linear_i16;
    t.nw_linear_i32 = &linear_i32;
    t.nw_linear_i64 = &linear_i64;
    t.nw_affine_i16 = &affine_i16;
    t.nw_affine_i32 = &affine_i32;
    t.nw_affine_i64 = &affine_i64;
}
const dispatch::KernelFiller kRegisterPortable(dispatch::Target::portable,
                                               &fill_alignment_portable);

}  // namespace

std::int64_t nw_linear(Text a, Text b, std::int64_t match, std::int64_t mismatch,
                       std::int64_t gap) {
    if (a.empty()) return sat_mul(gap, count_code_points(b));
    if (b.empty()) return sat_mul(gap, count_code_points(a));
    // Well-formed UTF-8 is equal byte for byte exactly when the code points are equal.
    if (bytes_equal(a, b)) return sat_mul(match, count_code_points(a));
    return with_symbols(a, b, [&](auto sa, auto sb) {
        return linear_general(sa, sb, match, mismatch, gap);
    });
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

std::vector<std::int64_t> nw_linear_batch(Text query, std::span<const Text> candidates,
                                          std::int64_t match, std::int64_t mismatch,
                                          std::int64_t gap) {
    return engine::parallel_map<std::int64_t>(candidates.size(), [&](std::size_t i) {
        return nw_linear(query, candidates[i], match, mismatch, gap);
    });
}

std::vector<std::int64_t> nw_affine_batch(Text query, std::span<const Text> candidates,
                                          std::int64_t match, std::int64_t mismatch,
                                          std::int64_t gap_open, std::int64_t gap_extend) {
    return engine::parallel_map<std::int64_t>(candidates.size(), [&](std::size_t i) {
        return nw_affine(query, candidates[i], match, mismatch, gap_open, gap_extend);
    });
}

}  // namespace tarnvel::core
