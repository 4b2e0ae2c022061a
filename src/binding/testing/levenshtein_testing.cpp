// Private test functions of the edit-distance family: the Myers pattern and its one-word
// and group kernels, called directly so every lane can be compared with the one-word
// kernel, and the ASCII-only Damerau routine with its precondition.
#include <string>
#include <vector>

#include "binding/results.hpp"
#include "binding/table.hpp"
#include "core/damerau/damerau.hpp"
#include "core/levenshtein/myers.hpp"

namespace tarnvel::py {
namespace {

core::MyersPattern make_pattern(core::Text t) { return core::MyersPattern(t.bytes(), t.size); }

// (len, mask, last_bit, peq as a 256-element list)
PyObject* myers_pattern_info(Args& a) {
    const core::MyersPattern p = make_pattern(a.text(0));
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

PyObject* myers_distance_fn(Args& a) {
    const core::MyersPattern p = make_pattern(a.text(0));
    const core::Text t = a.text(1);
    std::uint32_t d;
    {
        GilRelease nogil;
        d = core::myers_distance(p, t.bytes(), t.size);
    }
    return to_py_u64(d);
}

// Runs one group kernel over exactly `lanes` texts.
template <void (*Kernel)(const core::MyersPattern&, const std::uint8_t* const*,
                         const std::size_t*, std::uint32_t*),
          std::size_t Lanes>
PyObject* group_fn(Args& a) {
    const core::MyersPattern p = make_pattern(a.text(0));
    const auto texts = a.list(1);
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

PyObject* myers_multi_fn(Args& a) {
    const core::MyersPattern p = make_pattern(a.text(0));
    const auto texts = a.list(1);
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

PyObject* damerau_bytes_fn(Args& a) {
    const core::Text x = a.text(0), y = a.text(1);
    std::uint32_t d;
    {
        GilRelease nogil;
        d = core::damerau_bytes(core::byte_seq(x), core::byte_seq(y));
    }
    return to_py_u64(d);
}

constexpr Param kPatternOnly[] = {{"pattern", Kind::text}};
constexpr Param kPatternText[] = {{"pattern", Kind::text}, {"text", Kind::text}};
constexpr Param kPatternTexts[] = {{"pattern", Kind::text}, {"texts", Kind::text_list}};
constexpr Param kPair[] = {{"a", Kind::text}, {"b", Kind::text}};

const FuncDesc kInfo{"myers_pattern_info", kPatternOnly, "", &myers_pattern_info};
const FuncDesc kOne{"myers_distance", kPatternText, "", &myers_distance_fn};
const FuncDesc k4{"myers_4way", kPatternTexts, "", &group_fn<&core::myers_4way, 4>};
const FuncDesc k4s{"myers_4way_scalar", kPatternTexts, "", &group_fn<&core::myers_4way_scalar, 4>};
const FuncDesc k8{"myers_8way", kPatternTexts, "", &group_fn<&core::myers_8way, 8>};
const FuncDesc kMulti{"myers_multi", kPatternTexts, "", &myers_multi_fn};
const FuncDesc kDamerauBytes{"damerau_bytes", kPair, "", &damerau_bytes_fn};

TARNVEL_REGISTER_TEST_FUNCTION(kInfo);
TARNVEL_REGISTER_TEST_FUNCTION(kOne);
TARNVEL_REGISTER_TEST_FUNCTION(k4);
TARNVEL_REGISTER_TEST_FUNCTION(k4s);
TARNVEL_REGISTER_TEST_FUNCTION(k8);
TARNVEL_REGISTER_TEST_FUNCTION(kMulti);
TARNVEL_REGISTER_TEST_FUNCTION(kDamerauBytes);

}  // namespace
}  // namespace tarnvel::py
