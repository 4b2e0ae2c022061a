// Picks the intrinsic of a lane width: TARNVEL_BY_WIDTH(L, _mm256_add_epi, , a, b) returns
// _mm256_add_epi8/16/32/64(a, b) for a lane type L of 1/2/4/8 bytes. Used by the target
// lane layers (src/simd/<target>/ops.hpp), whose intrinsics differ only in that number.
#pragma once

#define TARNVEL_BY_WIDTH(L, prefix, suffix, ...) \
    if constexpr (sizeof(L) == 1)                \
        return prefix##8##suffix(__VA_ARGS__);   \
    else if constexpr (sizeof(L) == 2)           \
        return prefix##16##suffix(__VA_ARGS__);  \
    else if constexpr (sizeof(L) == 4)           \
        return prefix##32##suffix(__VA_ARGS__);  \
    else                                         \
        return prefix##64##suffix(__VA_ARGS__)
