// fuzz_ratio_batch, fuzz_extract and fuzz_extract_one: one query scored against many
// choices with the indel ratio, computed without the interpreter lock.
//
// The core returns (score, index) pairs; the choice texts stay borrowed (Args holds the
// references until this impl returns) and each reported choice becomes a new str built
// from a copy of its UTF-8 bytes, so only reported choices are ever copied.
#include <cstdint>
#include <optional>
#include <vector>

#include "binding/functions.hpp"
#include "binding/params.hpp"
#include "binding/results.hpp"
#include "binding/table.hpp"
#include "core/fuzz/extract.hpp"

namespace tarnvel::py {
namespace {

constexpr Param kExtractParams[] = {{"query", Kind::text},
                                    {"choices", Kind::text_list},
                                    {"score_cutoff", Kind::real, "0.0", 0.0},
                                    {"limit", Kind::u64, "5", 0.0, 5}};
constexpr Param kExtractOneParams[] = {
    {"query", Kind::text}, {"choices", Kind::text_list}, {"score_cutoff", Kind::real, "0.0", 0.0}};

// (choice, score, index) as a new tuple; throws PyError with the exception set.
PyObject* match_tuple(std::span<const core::Text> choices, const core::ExtractMatch& m) {
    const core::Text t = choices[m.index];
    PyObject* items[] = {PyUnicode_FromStringAndSize(t.data, static_cast<Py_ssize_t>(t.size)),
                         PyFloat_FromDouble(m.score), PyLong_FromSize_t(m.index)};
    return tuple_of(items);
}

PyObject* fuzz_ratio_batch(Bound<params::kBatch> a) {
    return list_f64(without_gil_interruptible(
        [&] { return core::ratio_batch(a.text<"query">(), a.list<"candidates">()); }));
}

PyObject* fuzz_extract(Bound<kExtractParams> a) {
    const auto choices = a.list<"choices">();
    std::vector<core::ExtractMatch> found;
    {
        InterruptibleGilRelease nogil;
        found =
            core::extract(a.text<"query">(), choices, a.real<"score_cutoff">(), a.u64<"limit">());
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

PyObject* fuzz_extract_one(Bound<kExtractOneParams> a) {
    const auto choices = a.list<"choices">();
    std::optional<core::ExtractMatch> best;
    {
        InterruptibleGilRelease nogil;
        best = core::extract_one(a.text<"query">(), choices, a.real<"score_cutoff">());
    }
    if (!best) return to_py_none();
    return match_tuple(choices, *best);
}

constexpr FuncDesc kFuzzRatioBatch =
    func<params::kBatch, &fuzz_ratio_batch>("fuzz_ratio_batch", "");
constexpr FuncDesc kFuzzExtract = func<kExtractParams, &fuzz_extract>("fuzz_extract", "");
constexpr FuncDesc kFuzzExtractOne =
    func<kExtractOneParams, &fuzz_extract_one>("fuzz_extract_one", "");

}  // namespace

const FuncDesc rows::fuzz_ratio_batch = kFuzzRatioBatch;
const FuncDesc rows::fuzz_extract = kFuzzExtract;
const FuncDesc rows::fuzz_extract_one = kFuzzExtractOne;

}  // namespace tarnvel::py
