// fuzz_ratio_batch, fuzz_extract and fuzz_extract_one: one query scored against many
// choices with the indel ratio, computed without the interpreter lock.
//
// The core returns (score, index) pairs; the choice texts stay borrowed (Args holds the
// references until this impl returns) and each reported choice becomes a new str built
// from a copy of its UTF-8 bytes, so only reported choices are ever copied.
#include <cstdint>
#include <optional>
#include <vector>

#include "binding/results.hpp"
#include "binding/params.hpp"
#include "binding/table.hpp"
#include "core/fuzz/extract.hpp"

namespace tarnvel::py {
namespace {

// (choice, score, index) as a new tuple; throws PyError with the exception set.
PyObject* match_tuple(std::span<const core::Text> choices, const core::ExtractMatch& m) {
    const core::Text t = choices[m.index];
    PyObject* items[] = {PyUnicode_FromStringAndSize(t.data, static_cast<Py_ssize_t>(t.size)),
                         PyFloat_FromDouble(m.score),
                         PyLong_FromSize_t(m.index)};
    return tuple_of(items);
}

PyObject* fuzz_ratio_batch(Args& a) {
    return list_f64(without_gil_interruptible([&] { return core::ratio_batch(a.text(0), a.list(1)); }));
}

PyObject* fuzz_extract(Args& a) {
    const auto choices = a.list(1);
    std::vector<core::ExtractMatch> found;
    {
        InterruptibleGilRelease nogil;
        found = core::extract(a.text(0), choices, a.real(2), a.u64(3));
    }
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(found.size()));
    if (!list) throw PyError{};
    for (std::size_t i = 0; i < found.size(); ++i) {
        PyObject* t;
        try {
            t = match_tuple(choices, found[i]);
        } catch (...) {
            Py_DECREF(list);
            throw;
        }
        PyList_SetItem(list, static_cast<Py_ssize_t>(i), t);  // steals
    }
    return list;
}

PyObject* fuzz_extract_one(Args& a) {
    const auto choices = a.list(1);
    std::optional<core::ExtractMatch> best;
    {
        InterruptibleGilRelease nogil;
        best = core::extract_one(a.text(0), choices, a.real(2));
    }
    if (!best) return to_py_none();
    return match_tuple(choices, *best);
}

constexpr Param kExtractParams[] = {{"query", Kind::text},
                                    {"choices", Kind::text_list},
                                    {"score_cutoff", Kind::real, "0.0", 0.0},
                                    {"limit", Kind::u64, "5", 0.0, 5}};
constexpr Param kExtractOneParams[] = {{"query", Kind::text},
                                       {"choices", Kind::text_list},
                                       {"score_cutoff", Kind::real, "0.0", 0.0}};

const FuncDesc kFuzzRatioBatch{"fuzz_ratio_batch", params::kBatch, "", &fuzz_ratio_batch};
const FuncDesc kFuzzExtract{"fuzz_extract", kExtractParams, "", &fuzz_extract};
const FuncDesc kFuzzExtractOne{"fuzz_extract_one", kExtractOneParams, "", &fuzz_extract_one};

TARNVEL_REGISTER_FUNCTION(kFuzzRatioBatch);
TARNVEL_REGISTER_FUNCTION(kFuzzExtract);
TARNVEL_REGISTER_FUNCTION(kFuzzExtractOne);

}  // namespace
}  // namespace tarnvel::py
