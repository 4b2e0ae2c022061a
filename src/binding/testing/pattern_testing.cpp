// Private test functions of the match-mask tables: the dense/blocked limits of this
// extension's copy of the core (so the blocked form can be reached on short texts), the
// shape and rows of one table, the multi-word kernels over it, and every scorer that
// builds such tables, all computed by this same copy.
#include <string>
#include <vector>

#include "binding/results.hpp"
#include "binding/table.hpp"
#include "binding/testing/rows.hpp"
#include "core/common/pattern.hpp"
#include "core/common/text.hpp"
#include "core/fuzz/extract.hpp"
#include "core/fuzz/indel.hpp"
#include "core/fuzz/partial.hpp"
#include "core/fuzz/ratio.hpp"
#include "core/fuzz/token.hpp"
#include "core/jaro/jaro.hpp"
#include "core/levenshtein/levenshtein.hpp"
#include "core/levenshtein/levenshtein_kernels.hpp"

namespace tarnvel::py {
namespace {

constexpr Param kLimitParams[] = {{"dense_extra", Kind::u64},
                                  {"dense_words", Kind::u64},
                                  {"share", Kind::u64},
                                  {"force_blocked", Kind::flag, "False", 0.0, 0}};
constexpr Param kTextParam[] = {{"text", Kind::text}};
constexpr Param kRowParams[] = {{"text", Kind::text}, {"symbol", Kind::u64}, {"before", Kind::u64}};
constexpr Param kKernelParams[] = {{"a", Kind::text}, {"b", Kind::text}, {"k", Kind::u64}};
constexpr Param kPairParams[] = {{"a", Kind::text}, {"b", Kind::text}};

PyObject* list_u64(const std::vector<std::uint64_t>& v) {
    PyObject* lst = PyList_New(static_cast<Py_ssize_t>(v.size()));
    if (!lst) throw PyError{};
    for (std::size_t i = 0; i < v.size(); ++i) {
        PyObject* x = PyLong_FromUnsignedLongLong(v[i]);
        if (!x) {
            Py_DECREF(lst);
            throw PyError{};
        }
        PyList_SetItem(lst, static_cast<Py_ssize_t>(i), x);
    }
    return lst;
}

PyObject* limits_tuple(const core::PatternLimits& l) {
    PyObject* items[] = {to_py_u64(l.dense_extra), to_py_u64(l.dense_words), to_py_u64(l.share),
                         PyBool_FromLong(l.force_blocked)};
    return tuple_of(items);
}

// Sets the limits; returns the previous ones as (dense_extra, dense_words, share, force).
PyObject* set_pattern_limits_fn(Bound<kLimitParams> a) {
    const core::PatternLimits old = core::pattern_limits();
    core::PatternLimits l;
    l.dense_extra = a.u64<"dense_extra">();
    l.dense_words = a.u64<"dense_words">();
    l.share = a.u64<"share">();
    l.force_blocked = a.flag<"force_blocked">();
    core::set_pattern_limits(l);
    return limits_tuple(old);
}

PyObject* pattern_limits_fn() { return limits_tuple(core::pattern_limits()); }

// The table of a text's code points: (words, blocked, dense rows, block entries).
PyObject* block_pattern_info(Bound<kTextParam> a) {
    const auto cps = core::decode_utf8(a.text<"text">());
    const core::BlockPattern p(core::cp_seq(cps));
    PyObject* items[] = {to_py_u64(p.words()), PyBool_FromLong(p.blocked()),
                         to_py_u64(p.dense_rows()), to_py_u64(p.block_entries())};
    return tuple_of(items);
}

// Symbol c's row read three ways: (through a reader, word by word with get(), contains).
// The reader is first used for another symbol, so a stale row would show.
PyObject* block_pattern_row(Bound<kRowParams> a) {
    const auto cps = core::decode_utf8(a.text<"text">());
    const auto c = static_cast<std::uint32_t>(a.u64<"symbol">());
    const auto before = static_cast<std::uint32_t>(a.u64<"before">());
    const core::BlockPattern p(core::cp_seq(cps));
    core::BlockPattern::Rows rows(p);
    rows(before);
    const std::uint64_t* r = rows(c);
    std::vector<std::uint64_t> via_rows(r, r + p.words()), via_get(p.words());
    for (std::size_t w = 0; w < p.words(); ++w) via_get[w] = p.get(w, c);
    PyObject* items[] = {list_u64(via_rows), list_u64(via_get), PyBool_FromLong(p.contains(c))};
    return tuple_of(items);
}

// The multi-word kernels with a's code points as the pattern, b as the text:
// (whole-matrix Myers, Myers in a band of k, LCS). a non-empty, |a| <= |b| <= |a| + k.
PyObject* block_kernels(Bound<kKernelParams> a) {
    const auto pa = core::decode_utf8(a.text<"a">());
    const auto tb = core::decode_utf8(a.text<"b">());
    const std::uint64_t k = a.u64<"k">();
    if (pa.empty() || pa.size() > tb.size() || tb.size() - pa.size() > k) {
        PyErr_SetString(PyExc_ValueError, "need 1 <= len(a) <= len(b) <= len(a) + k");
        throw PyError{};
    }
    std::uint64_t full, banded, lcs;
    {
        GilRelease nogil;
        const core::BlockPattern p(core::cp_seq(pa));
        std::vector<std::uint64_t> work;
        full = core::myers_blocked(p, core::cp_seq(tb), work);
        banded = core::myers_banded(p, core::cp_seq(tb), static_cast<std::size_t>(k), work);
        lcs = core::lcs_blocked(p, core::cp_seq(tb));
    }
    PyObject* items[] = {to_py_u64(full), to_py_u64(banded), to_py_u64(lcs)};
    return tuple_of(items);
}

// Every scorer that builds match tables, for one pair: (levenshtein, indel distance,
// ratio, partial ratio, token sort ratio, token set ratio, jaro, jaro-winkler (p = 0.1),
// levenshtein via a prepared query, ratio via a prepared query, jaro-winkler via a
// prepared query).
PyObject* pattern_scores(Bound<kPairParams> a) {
    const core::Text x = a.text<"a">(), y = a.text<"b">();
    std::uint32_t lev, lev_q;
    std::uint64_t indel;
    double ratio, partial, tsort, tset, jaro, jw, ratio_q, jw_q;
    {
        GilRelease nogil;
        lev = core::levenshtein(x, y);
        indel = core::indel_distance(x, y);
        ratio = core::indel_ratio(x, y, 0.0);
        partial = core::partial_ratio(x, y, 0.0);
        tsort = core::token_sort_ratio(x, y, 0.0);
        tset = core::token_set_ratio(x, y, 0.0);
        jaro = core::jaro(x, y);
        jw = core::jaro_winkler(x, y, 0.1);
        core::LevenshteinQuery(x).score_many(&y, 1, &lev_q);
        core::IndelQuery(x).score_many(&y, 1, &ratio_q);
        core::JaroWinklerQuery(x, 0.1).score_many(&y, 1, &jw_q);
    }
    PyObject* items[] = {to_py_u64(lev),   to_py_u64(indel),   to_py_f64(ratio), to_py_f64(partial),
                         to_py_f64(tsort), to_py_f64(tset),    to_py_f64(jaro),  to_py_f64(jw),
                         to_py_u64(lev_q), to_py_f64(ratio_q), to_py_f64(jw_q)};
    return tuple_of(items);
}

constexpr FuncDesc kSetLimits =
    func<kLimitParams, &set_pattern_limits_fn>("set_pattern_limits", "");
constexpr FuncDesc kLimits = func<&pattern_limits_fn>("pattern_limits", "");
constexpr FuncDesc kInfo = func<kTextParam, &block_pattern_info>("block_pattern_info", "");
constexpr FuncDesc kRow = func<kRowParams, &block_pattern_row>("block_pattern_row", "");
constexpr FuncDesc kKernels = func<kKernelParams, &block_kernels>("block_kernels", "");
constexpr FuncDesc kScores = func<kPairParams, &pattern_scores>("pattern_scores", "");

}  // namespace

const FuncDesc rows::set_pattern_limits = kSetLimits;
const FuncDesc rows::pattern_limits = kLimits;
const FuncDesc rows::block_pattern_info = kInfo;
const FuncDesc rows::block_pattern_row = kRow;
const FuncDesc rows::block_kernels = kKernels;
const FuncDesc rows::pattern_scores = kScores;

}  // namespace tarnvel::py
