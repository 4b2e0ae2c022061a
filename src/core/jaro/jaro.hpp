// Jaro and Jaro-Winkler similarity: the public core API of the family.
//
// All results are doubles in [0, 1] built from separately rounded operations in one
// fixed order (jaro_finish in jaro_scalar.hpp), so every kernel - the position scan, the
// one-word and multi-word bit-parallel forms, the 4/8-lane vector kernels and the packed
// lane engine of the batches - returns the same bits for the same pair.
// Texts are compared in code points; ASCII pairs run on their bytes (an exact shortcut).
// See also: jaro_scalar.hpp (reference scan), jaro_kernels.hpp (bit-parallel forms),
// jaro_batch.cpp (batches and cross-products), src/simd/jaro_avx2.cpp, jaro_avx512.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/common/text.hpp"
#include "engine/scratch.hpp"

namespace tarnvel::core {

inline constexpr double kWinklerThreshold = 0.7;
inline constexpr double kDefaultPrefixScale = 0.1;
inline constexpr double kMaxPrefixScale = 0.25;
inline constexpr std::size_t kMaxWinklerPrefix = 4;

// jaro(): code points; ASCII pairs go to jaro_bytes.
double jaro(Text a, Text b);

// jaro_bytes(): ASCII bytes; one-word bit-parallel kernel when both are at most 64
// bytes, the multi-word one otherwise (same values as the scan).
double jaro_bytes(Seq<std::uint8_t> a, Seq<std::uint8_t> b);

// jaro_scalar_bytes(): ASCII bytes, always the position scan (jaro_optimized).
double jaro_scalar_bytes(Seq<std::uint8_t> a, Seq<std::uint8_t> b);

// jaro_optimized(): jaro_scalar_bytes for ASCII pairs, jaro otherwise.
double jaro_optimized(Text a, Text b);

// winkler_prefix(): common prefix length in code points, capped at 4.
std::size_t winkler_prefix(Text a, Text b);

// jaro_winkler(): p is clamped to [0, 0.25] (the Python wrapper rejects other values).
double jaro_winkler(Text a, Text b, double p);

// One-word bit-parallel Jaro of two ASCII byte strings of at most 64 bytes; any other
// input is an internal assertion failure (Panic).
double jaro_bitpar(Seq<std::uint8_t> a, Seq<std::uint8_t> b);

// One query (ASCII, at most 64 bytes; checked) against 4 or 8 candidates (non-empty,
// ASCII, at most 64 bytes; not checked). jaro_8way needs AVX-512F.
void jaro_4way(Seq<std::uint8_t> a, const Seq<std::uint8_t>* c, double* out);
void jaro_8way(Seq<std::uint8_t> a, const Seq<std::uint8_t>* c, double* out);

// One query against a group of L candidates, grouped by lane count (1, 2, 4, 8, other).
std::vector<double> jaro_multi(Seq<std::uint8_t> a, std::span<const Seq<std::uint8_t>> group);

// A query prepared once for the batch's lane kernels and scored on the calling thread:
// out[i] = jaro_winkler(query, cands[i], p). Shared read-only by any number of threads.
class JaroWinklerQuery {
public:
    JaroWinklerQuery(Text query, double p);
    void score_many(const Text* cands, std::size_t count, double* out) const;

private:
    struct Impl;
    std::shared_ptr<const Impl> impl_;
};
// Batch and cross-product forms (run on the worker pool).
engine::ScratchVector<double> jaro_winkler_many(Text query, std::span<const Text> candidates,
                                                double p);
std::vector<std::vector<double>> jaro_winkler_matrix(std::span<const Text> list_a,
                                                     std::span<const Text> list_b, double p);
// The same into caller rows: rows[i][j] = jaro_winkler(list_a[i], list_b[j], p).
void jaro_winkler_cdist_rows(std::span<const Text> list_a, std::span<const Text> list_b, double p,
                             double* const* rows);

// The literal grouped fast path (jaro_multi in groups of simd_lanes() within chunks of
// 4096); the values equal jaro_winkler_many. Kept as a reference for the tests.
std::vector<double> jaro_winkler_many_grouped(Text query, std::span<const Text> candidates,
                                              double p);

}  // namespace tarnvel::core
