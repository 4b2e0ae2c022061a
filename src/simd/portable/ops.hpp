// Portable lane layer: Ops<std::uint64_t> is one 64-bit "vector" of a single lane, in plain
// C++, for the generic bodies that make sense on one word (src/simd/generic/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tarnvel::simd::portable {

template <class L>
struct Ops;

template <>
struct Ops<std::uint64_t> {
    using V = std::uint64_t;
    using Lane = std::uint64_t;
    static constexpr std::size_t kLanes = 1;

    static V zero() { return 0; }
    static V ones() { return ~V{0}; }
    static V set1(Lane x) { return x; }
    static V load(const void* p) {
        V v;
        std::memcpy(&v, p, sizeof(v));
        return v;
    }
    static void store(void* p, V v) { std::memcpy(p, &v, sizeof(v)); }
    static V and_(V a, V b) { return a & b; }
    static V or_(V a, V b) { return a | b; }
    static V xor_(V a, V b) { return a ^ b; }
    static V andnot(V a, V b) { return ~a & b; }
    static V add(V a, V b) { return a + b; }
    static V sub(V a, V b) { return a - b; }
    static V cmpgt(V a, V b) {
        return static_cast<std::int64_t>(a) > static_cast<std::int64_t>(b) ? ~V{0} : 0;
    }
    static V cmpeq(V a, V b) { return a == b ? ~V{0} : 0; }
};

}  // namespace tarnvel::simd::portable
