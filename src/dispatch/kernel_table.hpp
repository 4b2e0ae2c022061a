// The kernel table: every slot that has SIMD variants, as plain function pointers.
//
// Each target translation unit (src/simd/<target>/kernels.cpp) defines one fill function
// that overwrites the slots it improves; the dispatcher (kernels.cpp) calls them in order
// from the portable one up to the active target, once per process. Every variant returns
// exactly what the portable one returns. Families add their slots in their own section;
// slots take plain pointers and sizes (no vector types cross this boundary).
#pragma once

#include <cstddef>
#include <cstdint>

#include "dispatch/targets.hpp"

namespace tarnvel::core {
struct LevPackedJob;  // core/levenshtein/levenshtein_packed.hpp
struct MyersPattern;  // core/levenshtein/myers.hpp
struct Text;          // core/common/text.hpp
}  // namespace tarnvel::core

namespace tarnvel::dispatch {

struct KernelTable {
    Target target = Target::portable;

    // --- indel / LCS (fuzzy ratios; core/fuzz/extract*) ---
    // out[i] = fuzz_ratio(query, choices[i]) for an ASCII query of query_len <= 64 bytes
    // given as its one-word match table peq[256] (rows of bytes >= 0x80 zero); choices
    // are any UTF-8 texts (core::Text).
    void (*indel_ratio_word_many)(const std::uint64_t* peq, std::size_t query_len,
                                  const core::Text* choices, std::size_t count,
                                  double* out) = nullptr;
    // The same ratios in vector lanes with the choices as the patterns
    // (simd/avx512/indel_lanes.inc): the ASCII query is given as its distinct symbols and, per
    // position, the index of its symbol among them (query_slots, query_len entries, any length).
    // indel_lanes[0] takes choices of at most 16 bytes, [1] at most 32. Null when the target has no
    // lane form.
    void (*indel_lanes[2])(const std::uint8_t* distinct, std::size_t distinct_count,
                           const std::uint8_t* query_slots, std::size_t query_len,
                           const core::Text* choices, std::size_t count, double* out) = {};

    // --- partial ratio (core/fuzz/partial.cpp, simd/generic/partial.inc) ---
    // LCS of a needle of 1..64 symbols against `count` consecutive windows of one
    // haystack, side by side in lanes of 8 << c bits (needles of at most 8 << c symbols):
    // masks is the needle's match mask of every haystack symbol, one lane-width value per
    // symbol; out[k] = LCS of the needle and the len1 symbols from first + k. Reads up to
    // 64 values past masks[first + count + len1 - 2] (callers pad with zeros). Returns the
    // largest out[k]. Null where the target has no lane form of that width.
    std::uint32_t (*partial_lanes[4])(const void* masks, std::size_t len1, std::size_t first,
                                      std::size_t count, std::uint32_t* out) = {};
    // --- end partial ratio ---

    // --- alignment (Needleman-Wunsch) ---
    // Exact global scores (striped or anti-diagonal) in 16-, 32- or 64-bit lanes; the caller
    // has proven that no value can leave the lane type. a: n symbols; rb: the m symbols of b
    // reversed; both readable 64 bytes past their end; work: nw_linear_work_cells() or
    // nw_affine_work_cells() cells (core/alignment/alignment_kernels.hpp). scores: match,
    // mismatch, gap (linear) or match, mismatch, open, extend, unreachable (affine).
    std::int16_t (*nw_linear_i16)(const std::uint16_t* a, std::size_t n, const std::uint16_t* rb,
                                  std::size_t m, const std::int16_t* scores,
                                  std::int16_t* work) = nullptr;
    std::int32_t (*nw_linear_i32)(const std::uint32_t* a, std::size_t n, const std::uint32_t* rb,
                                  std::size_t m, const std::int32_t* scores,
                                  std::int32_t* work) = nullptr;
    std::int64_t (*nw_linear_i64)(const std::uint64_t* a, std::size_t n, const std::uint64_t* rb,
                                  std::size_t m, const std::int64_t* scores,
                                  std::int64_t* work) = nullptr;
    std::int16_t (*nw_affine_i16)(const std::uint16_t* a, std::size_t n, const std::uint16_t* rb,
                                  std::size_t m, const std::int16_t* scores,
                                  std::int16_t* work) = nullptr;
    std::int32_t (*nw_affine_i32)(const std::uint32_t* a, std::size_t n, const std::uint32_t* rb,
                                  std::size_t m, const std::int32_t* scores,
                                  std::int32_t* work) = nullptr;
    std::int64_t (*nw_affine_i64)(const std::uint64_t* a, std::size_t n, const std::uint64_t* rb,
                                  std::size_t m, const std::int64_t* scores,
                                  std::int64_t* work) = nullptr;
    // One query (n symbols) against a group of `count` <= nw_group_lanes candidates, one
    // per 16-bit lane; cs: the candidates' symbols transposed (cols x nw_group_lanes,
    // cols = longest candidate); work: cols + 1 (linear) or 3 (cols + 1) vectors;
    // out[l] = score of candidate l. Null (and lanes 0) where there is no vector unit.
    std::size_t nw_group_lanes = 0;
    void (*nw_linear_group_i16)(const std::uint16_t* q, std::size_t n, const std::uint16_t* cs,
                                const std::size_t* lens, std::size_t count, std::size_t cols,
                                const std::int16_t* scores, std::int16_t* work,
                                std::int16_t* out) = nullptr;
    void (*nw_affine_group_i16)(const std::uint16_t* q, std::size_t n, const std::uint16_t* cs,
                                const std::size_t* lens, std::size_t count, std::size_t cols,
                                const std::int16_t* scores, std::int16_t* work,
                                std::int16_t* out) = nullptr;
    // --- end alignment ---

    // --- Jaro (core/jaro/jaro_batch.cpp, core/jaro/jaro.cpp, simd/generic/jaro.inc) ---
    // Packed-lane Jaro of one query (1 to 64 symbols) against the candidates of one group:
    // entry e of `table` (jaro_vec_bytes bytes) holds in lane l the match mask of candidate
    // l for one symbol; qidx[i] is the entry of query position i; win[l] the window of lane
    // l. Writes per lane the match count m and the mismatched pairs t. jaro_lanes[c] takes
    // lanes of 8 << c bits (candidates of at most that many symbols); null when absent.
    std::size_t jaro_vec_bytes = 8;
    void (*jaro_lanes[4])(const void* table, const std::uint16_t* qidx, std::size_t qlen,
                          const std::uint8_t* win, std::uint8_t* m_out, std::uint8_t* t_out) = {};
    // --- end Jaro ---

    // --- edit distances (core/levenshtein/*, simd/generic/levenshtein.inc, damerau.inc) ---
    // One Myers pattern (1..64 ASCII bytes) against count <= myers_width texts, one per
    // 64-bit lane: out[i] = myers_distance(p, texts[i], lens[i]). Null when absent.
    std::size_t myers_width = 0;
    void (*myers_lanes)(const core::MyersPattern& p, const std::uint8_t* const* texts,
                        const std::size_t* lens, std::size_t count, std::uint32_t* out) = nullptr;
    // Packed-lane Myers: many patterns of at most 8 << c symbols side by side in one vector
    // (lanes of 8 << c bits), texts streamed through; lev_packed[c] runs one group of the
    // job (see LevPackedJob). Null when the target has no vector form.
    void (*lev_packed[4])(const core::LevPackedJob& job) = {};
    // The same packing for LCS lengths (the indel ratios): out holds each pair's LCS.
    void (*lcs_packed[4])(const core::LevPackedJob& job) = {};
    std::size_t lev_vec_bytes = 0;  // vector width of lev_packed (lanes = bytes / (1 << c))
    // Blocked Myers over the whole matrix with the pattern's blocks in vector lanes along
    // an anti-diagonal: rows = the pattern's match table (words per symbol), rev_rows[y] =
    // offset of the row of text symbol n + 6 - y (0 outside the text; n + 14 entries),
    // hbuf: n bytes of scratch. Returns the distance.
    std::uint32_t (*lev_blocked)(const std::uint64_t* rows, const std::uint64_t* rev_rows,
                                 std::size_t n, std::size_t words, std::size_t m,
                                 std::uint8_t* hbuf) = nullptr;
    // Damerau-Levenshtein rows (core/damerau/damerau.cpp): w[j] = min(r1[j-1] + (bid[j-1] !=
    // ai), r1[j] + 1) for j = 1..m; then r0[0] = start, r0[j] = min(w[j], r0[j-1] + 1).
    void (*dl_row_base)(const std::uint32_t* r1, const std::uint32_t* bid, std::uint32_t ai,
                        std::uint32_t* w, std::size_t m) = nullptr;
    void (*dl_row_scan)(const std::uint32_t* w, std::uint32_t* r0, std::size_t m,
                        std::uint32_t start) = nullptr;
    // --- end edit distances ---
};

// The target fill functions, called explicitly by kernels(), in this order, each only up
// to active_target(). Defined in src/simd/<target>/kernels.cpp; on a processor family
// without the target they leave the table as it is.
void fill_kernels_portable(KernelTable& t);
void fill_kernels_avx2(KernelTable& t);
void fill_kernels_avx512(KernelTable& t);

using FillFn = void (*)(KernelTable&);

}  // namespace tarnvel::dispatch
