// Text views and UTF-8 helpers shared by every algorithm family.
//
// A Text is a borrowed, read-only view of well-formed UTF-8 bytes (the binding layer
// guarantees well-formedness: it takes the interpreter's own UTF-8 form of a str).
// Lengths and positions in results are always code points; when both texts of a pair
// are ASCII the algorithms run on the raw bytes, which is an exact shortcut.
// See also: pattern.hpp (bit-parallel match masks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace tarnvel::core {

struct Text {
    const char* data = nullptr;
    std::size_t size = 0;  // bytes

    constexpr Text() = default;
    constexpr Text(const char* d, std::size_t n) : data(d), size(n) {}
    Text(std::string_view s) : data(s.data()), size(s.size()) {}  // NOLINT: implicit on purpose

    const std::uint8_t* bytes() const { return reinterpret_cast<const std::uint8_t*>(data); }
    bool empty() const { return size == 0; }
    std::string_view view() const { return {data, size}; }
};

inline bool bytes_equal(Text a, Text b) {
    return a.size == b.size && (a.size == 0 || std::memcmp(a.data, b.data, a.size) == 0);
}

// ASCII test: eight bytes at a time against the high-bit mask.
inline bool is_ascii(const char* p, std::size_t n) {
    std::size_t i = 0;
    std::uint64_t acc = 0;
    for (; i + 32 <= n; i += 32) {
        std::uint64_t w[4];
        std::memcpy(w, p + i, 32);
        acc |= w[0] | w[1] | w[2] | w[3];
        if (acc & 0x8080808080808080ull) return false;
    }
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        acc |= w;
    }
    if (acc & 0x8080808080808080ull) return false;
    for (; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) & 0x80) return false;
    return true;
}
inline bool is_ascii(Text t) { return is_ascii(t.data, t.size); }

// Number of code points: bytes that are not continuation bytes (10xxxxxx).
inline std::size_t count_code_points(const char* p, std::size_t n) {
    std::size_t cont = 0;
    for (std::size_t i = 0; i < n; ++i) cont += (static_cast<unsigned char>(p[i]) & 0xC0) == 0x80;
    return n - cont;
}
inline std::size_t count_code_points(Text t) { return count_code_points(t.data, t.size); }

// Next code point of well-formed UTF-8 at s[i]; advances i past it. The one decoder of
// the library: every code-point path goes through it.
inline std::uint32_t next_code_point(const std::uint8_t* s, std::size_t& i) {
    const std::uint32_t c = s[i];
    if (c < 0x80) {
        i += 1;
        return c;
    }
    if (c < 0xE0) {
        const std::uint32_t r = ((c & 0x1F) << 6) | (s[i + 1] & 0x3Fu);
        i += 2;
        return r;
    }
    if (c < 0xF0) {
        const std::uint32_t r = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu);
        i += 3;
        return r;
    }
    const std::uint32_t r = ((c & 0x07) << 18) | ((s[i + 1] & 0x3Fu) << 12) |
                            ((s[i + 2] & 0x3Fu) << 6) | (s[i + 3] & 0x3Fu);
    i += 4;
    return r;
}

// Decodes t into out, which has room for t.size code points; returns the count.
inline std::size_t decode_utf8_into(Text t, std::uint32_t* out) {
    const auto* s = t.bytes();
    std::size_t i = 0, k = 0;
    while (i < t.size) out[k++] = next_code_point(s, i);
    return k;
}

// Decodes well-formed UTF-8 into code points (replacing the contents of out).
inline void decode_utf8(Text t, std::vector<std::uint32_t>& out) {
    out.resize(t.size);
    out.resize(decode_utf8_into(t, out.data()));
}
inline std::vector<std::uint32_t> decode_utf8(Text t) {
    std::vector<std::uint32_t> v;
    decode_utf8(t, v);
    return v;
}

// A sequence of symbols of one width: bytes for ASCII texts, code points otherwise.
template <typename CharT>
struct Seq {
    const CharT* data = nullptr;
    std::size_t size = 0;
    const CharT& operator[](std::size_t i) const { return data[i]; }
    const CharT* begin() const { return data; }
    const CharT* end() const { return data + size; }
    bool empty() const { return size == 0; }
    Seq sub(std::size_t pos, std::size_t len) const { return {data + pos, len}; }
};

template <typename CharA, typename CharB>
inline bool seq_equal(Seq<CharA> a, Seq<CharB> b) {
    if (a.size != b.size) return false;
    if constexpr (sizeof(CharA) == sizeof(CharB)) {
        return a.size == 0 || std::memcmp(a.data, b.data, a.size * sizeof(CharA)) == 0;
    } else {
        for (std::size_t i = 0; i < a.size; ++i)
            if (static_cast<std::uint32_t>(a[i]) != static_cast<std::uint32_t>(b[i])) return false;
        return true;
    }
}

inline Seq<std::uint8_t> byte_seq(Text t) { return {t.bytes(), t.size}; }
inline Seq<std::uint32_t> cp_seq(const std::vector<std::uint32_t>& v) {
    return {v.data(), v.size()};
}

// Decoded code points of one text: on the stack for short texts (a text of n bytes has
// at most n code points), on the heap otherwise.
class CodePoints {
public:
    explicit CodePoints(Text t) {
        if (t.size <= kLocal) {
            size_ = decode_utf8_into(t, local_);
            data_ = local_;
        } else {
            decode_utf8(t, heap_);
            data_ = heap_.data();
            size_ = heap_.size();
        }
    }
    CodePoints(const CodePoints&) = delete;
    CodePoints& operator=(const CodePoints&) = delete;
    Seq<std::uint32_t> seq() const { return {data_, size_}; }

private:
    static constexpr std::size_t kLocal = 128;
    std::uint32_t local_[kLocal];
    std::vector<std::uint32_t> heap_;
    const std::uint32_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Runs f(seq_a, seq_b) on bytes when both texts are ASCII, else on decoded code points,
// which live only for the duration of the call.
template <typename F>
decltype(auto) with_symbols(Text a, Text b, F&& f) {
    if (is_ascii(a) && is_ascii(b)) return f(byte_seq(a), byte_seq(b));
    const CodePoints ca(a);
    const CodePoints cb(b);
    return f(ca.seq(), cb.seq());
}

}  // namespace tarnvel::core
