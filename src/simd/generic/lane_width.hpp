// Picks the intrinsic of a lane width: TARNVEL_BY_WIDTH(L, _mm256_add_epi, , a, b) returns
// _mm256_add_epi8/16/32/64(a, b) for a lane type L of 1/2/4/8 bytes. Used by the target
// lane layers (src/simd/<target>/ops.hpp), whose intrinsics differ only in that number.
// The prefix may itself be a macro (TARNVEL_X86(add_epi)): it is expanded before pasting.
#pragma once

#define TARNVEL_PASTE3_(a, b, c) a##b##c
#define TARNVEL_PASTE3(a, b, c) TARNVEL_PASTE3_(a, b, c)

#define TARNVEL_BY_WIDTH(L, prefix, suffix, ...)                \
    if constexpr (sizeof(L) == 1)                               \
        return TARNVEL_PASTE3(prefix, 8, suffix)(__VA_ARGS__);  \
    else if constexpr (sizeof(L) == 2)                          \
        return TARNVEL_PASTE3(prefix, 16, suffix)(__VA_ARGS__); \
    else if constexpr (sizeof(L) == 4)                          \
        return TARNVEL_PASTE3(prefix, 32, suffix)(__VA_ARGS__); \
    else                                                        \
        return TARNVEL_PASTE3(prefix, 64, suffix)(__VA_ARGS__)
