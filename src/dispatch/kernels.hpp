// The one kernel table: every slot that has SIMD variants, filled once per process.
//
// kernels() starts from the portable implementations and lets each target translation
// unit (src/simd/*_avx2.cpp, *_avx512.cpp) overwrite the slots it improves, up to
// active_target() (cpu.hpp). Every variant returns exactly what the portable one returns.
// Families add their slots in their own section; slots take plain pointers and sizes
// (no vector types cross this boundary).
#pragma once

#include <cstddef>
#include <cstdint>

#include "dispatch/cpu.hpp"

namespace tarnvel::dispatch {

struct KernelTable {
    Target target = Target::portable;

    // --- indel / LCS (fuzzy ratios) ---
    // LCS lengths of many short byte texts (each at most 64 bytes, ASCII) against one
    // byte text s: out[i] = lcs(texts[i], s). Texts are given as pointers and lengths.
    void (*lcs_short_many)(const std::uint8_t* const* texts, const std::size_t* lens,
                           std::size_t count, const std::uint8_t* s, std::size_t s_len,
                           std::uint32_t* out) = nullptr;
};

const KernelTable& kernels();

// Each translation unit that provides slots registers a filler for its target at static
// initialisation:  static const KernelFiller reg(Target::avx2, &fill_my_family_avx2);
// kernels() applies the portable fillers, then the avx2 ones, then the avx512 ones,
// each only up to active_target().
using FillFn = void (*)(KernelTable&);
struct KernelFiller {
    KernelFiller(Target target, FillFn fn);
};

}  // namespace tarnvel::dispatch
