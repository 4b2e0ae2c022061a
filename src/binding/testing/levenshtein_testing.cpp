// Private test functions of the edit-distance family: the Myers pattern and its one-word
// and group kernels, called directly so every lane can be compared with the one-word
// kernel, and the ASCII-only Damerau routine with its precondition.
#include <string>
#include <vector>

#include "binding/results.hpp"
#include "binding/table.hpp"
#include "binding/testing/rows.hpp"
#include "core/damerau/damerau.hpp"
#include "core/levenshtein/myers.hpp"

namespace tarnvel::py {
namespace {

constexpr Param kPatternOnly[] = {{"pattern", Kind::text}};
constexpr Param kPatternText[] = {{"pattern", Kind::text}, {"text", Kind::text}};
constexpr Param kPatternTexts[] = {{"pattern", Kind::text}, {"texts", Kind::text_list}};
constexpr Param kPair[] = {{"a", Kind::text}, {"b", Kind::text}};

core::MyersPattern make_pattern(core::Text t) { return core::MyersPattern(t.bytes(), t.size); }

// (len, mask, last_bit, peq as a 256-element list)
PyObject* myers_pattern_info(Bound<kPatternOnly> a) {
    const core::MyersPattern p = make_pattern(a.text<"pattern">());
    std::vector<std::uint64_t> peq(p.peq, p.peq + 256);
    PyObject* lst = PyList_New(256);
    if (!lst) throw PyError{};
    for (int c = 0; c < 256; ++c) {
        PyObject* v = PyLong_FromUnsignedLongLong(peq[c]);
        if (!v) {
            Py_DECREF(lst);
            throw PyError{};
        }
        PyList_SetItem(lst, c, v);
    }
    PyObject* items[] = {to_py_u64(p.len), to_py_u64(p.mask), to_py_u64(p.last_bit), lst};
    return tuple_of(items);
}

PyObject* myers_distance_fn(Bound<kPatternText> a) {
    const core::MyersPattern p = make_pattern(a.text<"pattern">());
    const core::Text t = a.text<"text">();
    std::uint32_t d;
    {
        GilRelease nogil;
        d = core::myers_distance(p, t.bytes(), t.size);
    }
    return to_py_u64(d);
}

// Runs one group kernel over exactly `lanes` texts.
template <void (*Kernel)(const core::MyersPattern&, const std::uint8_t* const*, const std::size_t*,
                         std::uint32_t*),
          std::size_t Lanes>
PyObject* group_fn(Bound<kPatternTexts> a) {
    const core::MyersPattern p = make_pattern(a.text<"pattern">());
    const auto texts = a.list<"texts">();
    if (texts.size() != Lanes) {
        PyErr_Format(PyExc_ValueError, "expected %d texts", static_cast<int>(Lanes));
        throw PyError{};
    }
    const std::uint8_t* ptr[Lanes];
    std::size_t len[Lanes];
    for (std::size_t i = 0; i < Lanes; ++i) {
        ptr[i] = texts[i].bytes();
        len[i] = texts[i].size;
    }
    std::uint32_t out[Lanes];
    {
        GilRelease nogil;
        Kernel(p, ptr, len, out);
    }
    return list_u32(std::span<const std::uint32_t>(out, Lanes));
}

PyObject* myers_multi_fn(Bound<kPatternTexts> a) {
    const core::MyersPattern p = make_pattern(a.text<"pattern">());
    const auto texts = a.list<"texts">();
    const std::size_t k = texts.size();
    if (k < 1 || k > 8) {
        PyErr_SetString(PyExc_ValueError, "expected 1 to 8 texts");
        throw PyError{};
    }
    const std::uint8_t* ptr[8];
    std::size_t len[8];
    for (std::size_t i = 0; i < k; ++i) {
        ptr[i] = texts[i].bytes();
        len[i] = texts[i].size;
    }
    std::uint32_t out[8];
    {
        GilRelease nogil;
        core::myers_multi(p, ptr, len, k, out);
    }
    return list_u32(std::span<const std::uint32_t>(out, k));
}

PyObject* damerau_bytes_fn(Bound<kPair> a) {
    const core::Text x = a.text<"a">(), y = a.text<"b">();
    std::uint32_t d;
    {
        GilRelease nogil;
        d = core::damerau_bytes(core::byte_seq(x), core::byte_seq(y));
    }
    return to_py_u64(d);
}

constexpr FuncDesc kInfo = func<kPatternOnly, &myers_pattern_info>("myers_pattern_info", "");
constexpr FuncDesc kOne = func<kPatternText, &myers_distance_fn>("myers_distance", "");
constexpr FuncDesc k4 = func<kPatternTexts, &group_fn<&core::myers_4way, 4>>("myers_4way", "");
constexpr FuncDesc k4s =
    func<kPatternTexts, &group_fn<&core::myers_4way_scalar, 4>>("myers_4way_scalar", "");
constexpr FuncDesc k8 = func<kPatternTexts, &group_fn<&core::myers_8way, 8>>("myers_8way", "");
constexpr FuncDesc kMulti = func<kPatternTexts, &myers_multi_fn>("myers_multi", "");
constexpr FuncDesc kDamerauBytes = func<kPair, &damerau_bytes_fn>("damerau_bytes", "");

}  // namespace

const FuncDesc rows::myers_pattern_info = kInfo;
const FuncDesc rows::myers_distance = kOne;
const FuncDesc rows::myers_4way = k4;
const FuncDesc rows::myers_4way_scalar = k4s;
const FuncDesc rows::myers_8way = k8;
const FuncDesc rows::myers_multi = kMulti;
const FuncDesc rows::damerau_bytes = kDamerauBytes;

}  // namespace tarnvel::py
