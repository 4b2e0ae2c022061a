// Levenshtein distance (unit costs) of two texts, and its batch and cross-product forms.
//
// levenshtein(a, b): ASCII pairs run on bytes (levenshtein_bytes), others on decoded code
// points (levenshtein_codepoints). A pattern of at most 64 ASCII bytes takes the one-word
// Myers kernel; anything longer takes the blocked bit-parallel kernel (O(n*m/64)) after
// trimming the common prefix and suffix, which never changes the distance.
// Batches and cross-products give every element exactly the scalar value; which kernel
// computes it (one word, 4/8 lanes, packed short strings) depends only on the inputs and
// the SIMD level, never on the result.
// See also: myers.hpp, levenshtein_kernels.hpp, levenshtein_batch.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/common/text.hpp"
#include "engine/scratch.hpp"

namespace tarnvel::core {

std::uint32_t levenshtein_bytes(Seq<std::uint8_t> a, Seq<std::uint8_t> b);
std::uint32_t levenshtein_codepoints(Seq<std::uint32_t> a, Seq<std::uint32_t> b);
std::uint32_t levenshtein(Text a, Text b);
std::uint32_t levenshtein_myers(Text a, Text b);

// A query prepared once (one-word Myers pattern, code points, blocked pattern) and scored
// against candidates on the calling thread; shared read-only by any number of threads.
class LevenshteinQuery {
public:
    explicit LevenshteinQuery(Text query);
    // out[i] = levenshtein(query, cands[i]) for i < count.
    void score_many(const Text* cands, std::size_t count, std::uint32_t* out) const;

private:
    struct Impl;
    std::shared_ptr<const Impl> impl_;
};

// One query against every candidate; out has candidates.size() elements.
void levenshtein_batch(Text query, std::span<const Text> candidates, std::uint32_t* out);
engine::ScratchVector<std::uint32_t> levenshtein_batch(Text query,
                                                       std::span<const Text> candidates);

// Every a against every b; out is row-major with a.size() * b.size() elements.
void levenshtein_cdist(std::span<const Text> a, std::span<const Text> b, std::uint32_t* out);
// Rows as vectors; no rows at all when either list is empty.
std::vector<std::vector<std::uint32_t>> levenshtein_cdist(std::span<const Text> a,
                                                          std::span<const Text> b);

}  // namespace tarnvel::core
