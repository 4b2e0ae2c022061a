// Symbol-count sketches: for each text, how many of its code points fall in each of 32
// buckets, saturating at 255. Two sketches give, in a few vector instructions, lower
// bounds on how many symbols one text has that the other lacks, from which the shapes
// bound Levenshtein, indel (the ratios), Damerau-Levenshtein and Jaro without scoring.
//
// Why the bounds hold. Map every code point to its bucket: an edit script between two
// texts is also one between their bucket strings, so no distance grows. For bucket
// strings with counts a and b, let over = sum max(a - b, 0) and under = sum max(b - a, 0),
// so over - under = |a| - |b|. An insertion, deletion or substitution moves over and under
// by at most one each, and a transposition moves neither. Saturating the larger count of
// a bucket only lowers its term, and if both saturate the term becomes 0, so the sketch
// values are lower bounds of over and under. See scorers.hpp for each bound built on them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/common/text.hpp"
#include "core/fuzz/token.hpp"

namespace tarnvel::core::match {

// No member initialiser, so that the array of a store's sketches is not zeroed before
// every entry is written anyway; Sketch{} is the zero sketch.
struct Sketch {
    alignas(32) std::uint8_t count[32];
};

// Letters fill 26 buckets whatever their case, digits share 5 and everything else
// ASCII the last one; other code points are spread by a multiplicative hash.
constexpr unsigned sketch_bucket(std::uint32_t c) {
    if (c < 0x80) {
        const std::uint32_t lower = c | 0x20;
        if (lower >= 'a' && lower <= 'z') return lower - 'a';
        if (c >= '0' && c <= '9') return 26 + (c - '0') % 5;
        return 31;
    }
    return (c * 0x9E3779B1u) >> 27;
}

// Also tells, through one_word, whether the text is a single word: non-empty and free of
// white space (the token scorers' definition), so its token forms are the text itself.
// Counts in place: a sketch counted in a local and then copied out is read back as a
// vector right after its byte stores, which the processor cannot forward, and stalls.
inline void sketch_into(Text t, Sketch& s, bool* one_word = nullptr) {
    s = Sketch{};
    bool spaced = t.size == 0;
    const std::uint8_t* b = t.bytes();
    for (std::size_t i = 0; i < t.size;) {
        const std::uint32_t c = next_code_point(b, i);
        spaced = spaced || is_white_space(c);
        const unsigned k = sketch_bucket(c);
        if (s.count[k] != 255) ++s.count[k];
    }
    if (one_word) *one_word = !spaced;
}

inline Sketch sketch_of(Text t, bool* one_word = nullptr) {
    Sketch s;
    sketch_into(t, s, one_word);
    return s;
}

// The bucket and the white-space test of every ASCII byte, for texts known to be ASCII.
struct AsciiSketchTable {
    std::uint8_t bucket[128] = {};
    bool space[128] = {};
    constexpr AsciiSketchTable() {
        for (std::uint32_t c = 0; c < 128; ++c) {
            bucket[c] = static_cast<std::uint8_t>(sketch_bucket(c));
            space[c] = is_white_space(c);
        }
    }
};
inline constexpr AsciiSketchTable kAsciiSketch{};

// sketch_into for a text known to be ASCII (every byte a code point): a table lookup per
// byte instead of decoding, and no saturation test where no count can reach 255.
inline void sketch_into_ascii(Text t, Sketch& s, bool* one_word = nullptr) {
    s = Sketch{};
    bool spaced = t.size == 0;
    const std::uint8_t* b = t.bytes();
    if (t.size < 255) {
        for (std::size_t i = 0; i < t.size; ++i) {
            spaced |= kAsciiSketch.space[b[i]];
            ++s.count[kAsciiSketch.bucket[b[i]]];
        }
    } else {
        for (std::size_t i = 0; i < t.size; ++i) {
            spaced |= kAsciiSketch.space[b[i]];
            std::uint8_t& n = s.count[kAsciiSketch.bucket[b[i]]];
            if (n != 255) ++n;
        }
    }
    if (one_word) *one_word = !spaced;
}

// sum over buckets of max(a - b, 0), on the saturated counts (a loop the compiler turns
// into saturating subtractions and sums of absolute differences).
inline std::uint32_t sketch_excess(const Sketch& a, const Sketch& b) {
    std::uint32_t sum = 0;
    for (int k = 0; k < 32; ++k) {
        const std::uint8_t x = a.count[k], y = b.count[k];
        sum += static_cast<std::uint8_t>(x > y ? x - y : 0);
    }
    return sum;
}

}  // namespace tarnvel::core::match
