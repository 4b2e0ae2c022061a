// Unrestricted Damerau-Levenshtein distance (Lowrance-Wagner values) and damerau_ratio,
// with batch and cross-product forms.
//
// The values are those of the (n+2) x (m+2) Lowrance-Wagner matrix with a last-occurrence
// table, but computed in linear memory (Zhao & Sahni 2020): with unit costs a transposition
// whose two gaps both hold symbols never beats the substitution/indel path around it, so
// only transpositions from the previous row (k = i-1) or the previous column (l = j-1)
// are evaluated. That needs the rows i-2, i-1 and i, plus per column the value to jump
// back to and the row it came from. Memory is O(m), time O(n*m). Rows of 64 columns and
// more are computed in three passes (substitution/deletion for all columns, the sparse
// transposition terms, the insertion prefix scan), the first and last on vectors.
// See also: damerau.cpp, tests/test_damerau.py.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/common/text.hpp"
#include "engine/scratch.hpp"

namespace tarnvel::core {

std::uint32_t damerau_bytes(Seq<std::uint8_t> a, Seq<std::uint8_t> b);  // both ASCII
std::uint32_t damerau_codepoints(Seq<std::uint32_t> a, Seq<std::uint32_t> b);
std::uint32_t damerau_levenshtein(Text a, Text b);
double damerau_ratio(Text a, Text b);

void damerau_batch(Text query, std::span<const Text> candidates, std::uint32_t* out);
engine::ScratchVector<std::uint32_t> damerau_batch(Text query, std::span<const Text> candidates);
void damerau_cdist(std::span<const Text> a, std::span<const Text> b, std::uint32_t* out);
std::vector<std::vector<std::uint32_t>> damerau_cdist(std::span<const Text> a,
                                                      std::span<const Text> b);

}  // namespace tarnvel::core
