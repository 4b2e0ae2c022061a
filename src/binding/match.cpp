// The private extension of the companion package (`tarnvel_match._native`).
//
// The Python package validates arguments and builds results; these functions do the
// work that must be native: collecting and processing strings into a store (a capsule
// holding a core::match::TextStore), and running the bulk shapes with the lock released,
// answering Ctrl-C and reporting progress through the calling thread's waiter.
// Every function takes plain objects; the package's wrappers are the public API.
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "binding/errors.hpp"
#include "binding/ndarray.hpp"
#include "binding/results.hpp"
#include "binding/table.hpp"
#include "core/match/shapes.hpp"
#include "core/match/store.hpp"
#include "engine/parallel.hpp"

namespace tarnvel::py {
namespace {

using core::match::TextStore;

constexpr const char* kStoreCapsule = "tarnvel_match.store";

void destroy_store(PyObject* capsule) {
    delete static_cast<TextStore*>(PyCapsule_GetPointer(capsule, kStoreCapsule));
}

PyObject* wrap_store(std::unique_ptr<TextStore> store) {
    PyObject* cap = PyCapsule_New(store.get(), kStoreCapsule, &destroy_store);
    if (!cap) throw PyError{};
    store.release();
    return cap;
}

const TextStore& store_of(PyObject* obj) {
    auto* s = static_cast<TextStore*>(PyCapsule_GetPointer(obj, kStoreCapsule));
    if (!s) throw PyError{};
    return *s;
}

bool is_missing(PyObject* item) {
    if (item == Py_None) return true;
    return PyFloat_Check(item) && std::isnan(PyFloat_AsDouble(item));
}

// The default processor on ASCII text: lower case, every other byte than a letter or
// digit becomes a space, then the spaces at both ends go. Equal to the Python definition
// for ASCII input, where lower() maps only A-Z and isalnum() holds only for letters and
// digits; other texts go through the package's Python definition.
void default_process_ascii(const char* s, std::size_t n, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        out.push_back(alnum ? static_cast<char>(c) : ' ');
    }
    std::size_t b = 0, e = out.size();
    while (b < e && out[b] == ' ') ++b;
    while (e > b && out[e - 1] == ' ') --e;
    out.erase(e);
    out.erase(0, b);
}

// Adds one str to the store after the processor (0 none, 1 default, 2 callable fn).
void add_text(TextStore& store, PyObject* item, int mode, PyObject* fn, std::string& tmp,
              Py_ssize_t index, const char* what) {
    Py_ssize_t len = 0;
    if (mode == 0) {
        const char* u = PyUnicode_AsUTF8AndSize(item, &len);
        if (!u) throw PyError{};
        store.add(u, static_cast<std::size_t>(len));
        return;
    }
    if (mode == 1) {
        const char* u = PyUnicode_AsUTF8AndSize(item, &len);
        if (!u) throw PyError{};
        if (core::is_ascii(u, static_cast<std::size_t>(len))) {
            default_process_ascii(u, static_cast<std::size_t>(len), tmp);
            store.add(tmp.data(), tmp.size());
            return;
        }
    }
    PyObject* r = PyObject_CallFunctionObjArgs(fn, item, nullptr);
    if (!r) throw PyError{};
    if (!PyUnicode_Check(r)) {
        PyErr_Format(PyExc_TypeError, "processor must return str, not %s for %s[%zd]",
                     type_qualname(r).c_str(), what, index);
        Py_DECREF(r);
        throw PyError{};
    }
    const char* u = PyUnicode_AsUTF8AndSize(r, &len);
    if (!u) {
        Py_DECREF(r);
        throw PyError{};
    }
    store.add(u, static_cast<std::size_t>(len));
    Py_DECREF(r);
}

// pack(items, mode, fn, what): items is a list or tuple; each is a str or missing.
PyObject* pack(Args& a) {
    PyObject* items = a.object(0);
    const long mode = PyLong_AsLong(a.object(1));
    if (mode == -1 && PyErr_Occurred()) throw PyError{};
    PyObject* fn = a.object(2);
    const char* what = PyUnicode_AsUTF8AndSize(a.object(3), nullptr);
    if (!what) throw PyError{};
    PyObject* seq = PySequence_Fast(items, "items must be a sequence");
    if (!seq) throw PyError{};
    struct SeqRef {
        PyObject* o;
        ~SeqRef() { Py_DECREF(o); }
    } seq_ref{seq};
    const Py_ssize_t n = PySequence_Size(seq);
    if (n < 0) throw PyError{};
    auto store = std::make_unique<TextStore>();
    store->reserve(static_cast<std::size_t>(n), static_cast<std::size_t>(n) * 16);
    std::string tmp;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_GetItem(seq, i);  // new reference
        if (!item) throw PyError{};
        try {
            if (PyUnicode_Check(item)) {
                add_text(*store, item, static_cast<int>(mode), fn, tmp, i, what);
            } else if (is_missing(item)) {
                store->add_missing();
            } else {
                PyErr_Format(PyExc_TypeError, "%s[%zd] must be str, not %s", what, i,
                             type_qualname(item).c_str());
                throw PyError{};
            }
        } catch (...) {
            Py_DECREF(item);
            throw;
        }
        Py_DECREF(item);
        // Long lists answer Ctrl-C while they are collected and processed too.
        if ((i & 0xFFFF) == 0xFFFF && PyErr_CheckSignals() < 0) throw PyError{};
    }
    store->seal();
    return wrap_store(std::move(store));
}

PyObject* store_info(Args& a) {
    const TextStore& s = store_of(a.object(0));
    std::size_t first_missing = s.size();
    if (s.missing_count()) {
        for (std::size_t i = 0; i < s.size(); ++i)
            if (s.missing(i)) {
                first_missing = i;
                break;
            }
    }
    PyObject* items[] = {PyLong_FromSize_t(s.size()), PyLong_FromSize_t(s.missing_count()),
                         first_missing < s.size() ? PyLong_FromSize_t(first_missing) : to_py_none()};
    return tuple_of(items);
}

// The processed string at i (None when missing).
PyObject* store_get(Args& a) {
    const TextStore& s = store_of(a.object(0));
    const Py_ssize_t i = PyLong_AsSsize_t(a.object(1));
    if (i == -1 && PyErr_Occurred()) throw PyError{};
    if (i < 0 || static_cast<std::size_t>(i) >= s.size()) {
        PyErr_SetString(PyExc_IndexError, "index out of range");
        throw PyError{};
    }
    if (s.missing(static_cast<std::size_t>(i))) return to_py_none();
    const core::Text t = s.text(static_cast<std::size_t>(i));
    return to_py_str(t.view());
}

// (buffer bytes, offsets bytes, flags bytes): the whole store, for pickling.
PyObject* store_state(Args& a) {
    const TextStore& s = store_of(a.object(0));
    const auto& off = s.offsets();
    const auto& fl = s.flags();
    PyObject* items[] = {
        PyBytes_FromStringAndSize(s.buffer().data(), static_cast<Py_ssize_t>(s.buffer().size())),
        PyBytes_FromStringAndSize(reinterpret_cast<const char*>(off.data()),
                                  static_cast<Py_ssize_t>(off.size() * sizeof(std::uint64_t))),
        PyBytes_FromStringAndSize(reinterpret_cast<const char*>(fl.data()),
                                  static_cast<Py_ssize_t>(fl.size()))};
    return tuple_of(items);
}

// Rebuilds a store from store_state's three byte strings, checking them as untrusted.
PyObject* store_from_state(Args& a) {
    char *buf, *off, *fl;
    Py_ssize_t nbuf, noff, nfl;
    if (PyBytes_AsStringAndSize(a.object(0), &buf, &nbuf) < 0 ||
        PyBytes_AsStringAndSize(a.object(1), &off, &noff) < 0 ||
        PyBytes_AsStringAndSize(a.object(2), &fl, &nfl) < 0)
        throw PyError{};
    const std::size_t n = static_cast<std::size_t>(nfl);
    auto bad = [] {
        PyErr_SetString(PyExc_ValueError, "corrupt Choices state");
        throw PyError{};
    };
    if (static_cast<std::size_t>(noff) != (n + 1) * sizeof(std::uint64_t)) bad();
    auto store = std::make_unique<TextStore>();
    store->reserve(n, static_cast<std::size_t>(nbuf));
    std::uint64_t prev = 0;
    for (std::size_t i = 0; i <= n; ++i) {
        std::uint64_t o;
        std::memcpy(&o, off + i * sizeof(std::uint64_t), sizeof o);
        if ((i == 0 && o != 0) || o < prev || o > static_cast<std::uint64_t>(nbuf)) bad();
        if (i > 0) {
            const bool missing = (static_cast<unsigned char>(fl[i - 1]) & TextStore::kMissing) != 0;
            if (missing) {
                if (o != prev) bad();
                store->add_missing();
            } else {
                // Only well-formed UTF-8 may reach the kernels.
                PyObject* check = PyUnicode_DecodeUTF8(buf + prev, static_cast<Py_ssize_t>(o - prev), "strict");
                if (!check) throw PyError{};
                Py_DECREF(check);
                store->add(buf + prev, static_cast<std::size_t>(o - prev));
            }
        }
        prev = o;
    }
    if (prev != static_cast<std::uint64_t>(nbuf)) bad();
    store->seal();
    return wrap_store(std::move(store));
}

// --- running the shapes ------------------------------------------------------------------

// The calling thread's poll: signal handlers first, then (at most every 100 ms) the
// progress callback. Either raising cancels the call with that exception.
struct MatchWaiter {
    engine::Waiter w;
    std::atomic<std::uint64_t> done{0};
    std::uint64_t total = 0;
    PyObject* progress = nullptr;
    std::chrono::steady_clock::time_point next_report{};

    static bool poll(void* ctx) {
        auto* self = static_cast<MatchWaiter*>(ctx);
        const PyGILState_STATE g = PyGILState_Ensure();
        bool cancel = PyErr_CheckSignals() != 0;
        if (!cancel && self->progress) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= self->next_report) {
                self->next_report = now + std::chrono::milliseconds(100);
                PyObject* r = PyObject_CallFunction(self->progress, "KK",
                    static_cast<unsigned long long>(self->done.load(std::memory_order_relaxed)),
                    static_cast<unsigned long long>(self->total));
                if (!r) cancel = true;
                Py_XDECREF(r);
            }
        }
        PyGILState_Release(g);
        return cancel;
    }
};

struct RunSpec {
    core::match::RunOptions opt;
    PyObject* progress = nullptr;
};

// run = (parallel: bool, progress: callable or None, prune: bool)
RunSpec run_spec(PyObject* run) {
    if (!PyTuple_Check(run) || PyTuple_Size(run) != 3) {
        PyErr_SetString(PyExc_TypeError, "internal error: run must be a 3-tuple");
        throw PyError{};
    }
    RunSpec r;
    r.opt.parallel = PyObject_IsTrue(PyTuple_GetItem(run, 0)) == 1;
    PyObject* p = PyTuple_GetItem(run, 1);
    r.progress = p == Py_None ? nullptr : p;
    r.opt.prune = PyObject_IsTrue(PyTuple_GetItem(run, 2)) == 1;
    return r;
}

// scorer_args = (scorer id, p, match, mismatch, gap, open, extend)
struct ScorerArgs {
    core::match::ScorerId id;
    core::match::ScorerParams params;
};

ScorerArgs scorer_args(PyObject* tuple) {
    if (!PyTuple_Check(tuple) || PyTuple_Size(tuple) != 7) {
        PyErr_SetString(PyExc_TypeError, "internal error: scorer arguments must be a 7-tuple");
        throw PyError{};
    }
    ScorerArgs s;
    const long id = PyLong_AsLong(PyTuple_GetItem(tuple, 0));
    if (id < 0 || id >= core::match::kScorerCount) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "internal error: scorer id");
        throw PyError{};
    }
    s.id = static_cast<core::match::ScorerId>(id);
    s.params.p = PyFloat_AsDouble(PyTuple_GetItem(tuple, 1));
    std::int64_t* ints[] = {&s.params.match, &s.params.mismatch, &s.params.gap, &s.params.open,
                            &s.params.extend};
    for (int k = 0; k < 5; ++k) *ints[k] = PyLong_AsLongLong(PyTuple_GetItem(tuple, 2 + k));
    if (PyErr_Occurred()) throw PyError{};
    return s;
}

core::match::Cutoff cutoff_of(PyObject* o) {
    core::match::Cutoff c;
    if (o == Py_None) return c;
    c.set = true;
    c.value = PyFloat_AsDouble(o);
    if (c.value == -1.0 && PyErr_Occurred()) throw PyError{};
    return c;
}

// Runs f() without the lock, with Ctrl-C and progress answered on this thread.
template <typename F>
void run_released(const RunSpec& rs, std::uint64_t total, F&& f) {
    MatchWaiter mw;
    mw.w = engine::Waiter{&MatchWaiter::poll, &mw, std::chrono::milliseconds(25)};
    mw.total = total;
    mw.progress = rs.progress;
    mw.next_report = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    core::match::RunOptions opt = rs.opt;
    opt.progress = &mw.done;
    InterruptibleGilRelease nogil(&mw.w);
    f(opt);
}

core::match::OutKind out_kind_of(ElemKind k) {
    switch (k) {
        case ElemKind::f64: return core::match::OutKind::f64;
        case ElemKind::f32: return core::match::OutKind::f32;
        case ElemKind::u32: return core::match::OutKind::u32;
        case ElemKind::i64: return core::match::OutKind::i64;
    }
    return core::match::OutKind::f64;
}

ElemKind elem_of(core::match::OutKind k) {
    switch (k) {
        case core::match::OutKind::f64: return ElemKind::f64;
        case core::match::OutKind::f32: return ElemKind::f32;
        case core::match::OutKind::u32: return ElemKind::u32;
        case core::match::OutKind::i64: return ElemKind::i64;
    }
    return ElemKind::f64;
}

// cdist(queries, choices, scorer_args, cutoff, out, out_kind, run): fills out in place.
PyObject* m_cdist(Args& a) {
    const TextStore& q = store_of(a.object(0));
    const TextStore& c = store_of(a.object(1));
    const ScorerArgs sp = scorer_args(a.object(2));
    const core::match::Cutoff cut = cutoff_of(a.object(3));
    const long kind = PyLong_AsLong(a.object(5));
    if (kind < 0 || kind > 3) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "internal error: out kind");
        throw PyError{};
    }
    const auto ek = static_cast<ElemKind>(kind);
    const RunSpec rs = run_spec(a.object(6));
    OutBuffer out;
    if (!borrow_array(a.object(4), ek, q.size() * c.size(), true, out)) throw PyError{};
    void* data = out.data();
    run_released(rs, std::uint64_t{q.size()} * c.size(), [&](const core::match::RunOptions& opt) {
        core::match::cdist(q, c, sp.id, sp.params, cut, data, out_kind_of(ek), opt);
    });
    return to_py_none();
}

PyObject* match_value(core::match::OutKind kind, const core::match::Match& m) {
    switch (kind) {
        case core::match::OutKind::u32: return to_py_u64(m.u);
        case core::match::OutKind::i64: return to_py_i64(m.i);
        default: return to_py_f64(m.f);
    }
}

// extract(query_store, choices, scorer_args, cutoff, limit or None, run) -> [(index, value)]
PyObject* m_extract(Args& a) {
    const TextStore& q = store_of(a.object(0));
    const TextStore& c = store_of(a.object(1));
    const ScorerArgs sp = scorer_args(a.object(2));
    const core::match::Cutoff cut = cutoff_of(a.object(3));
    std::size_t limit = SIZE_MAX;
    if (a.object(4) != Py_None) {
        limit = PyLong_AsSize_t(a.object(4));
        if (limit == static_cast<std::size_t>(-1) && PyErr_Occurred()) throw PyError{};
    }
    const RunSpec rs = run_spec(a.object(5));
    if (q.size() != 1) {
        PyErr_SetString(PyExc_ValueError, "internal error: one query expected");
        throw PyError{};
    }
    std::vector<core::match::Match> ms;
    run_released(rs, c.size(), [&](const core::match::RunOptions& opt) {
        ms = core::match::extract(q, 0, c, sp.id, sp.params, cut, limit, opt);
    });
    const auto kind = core::match::value_kind(sp.id);
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(ms.size()));
    if (!list) throw PyError{};
    for (std::size_t i = 0; i < ms.size(); ++i) {
        PyObject* items[] = {PyLong_FromSize_t(ms[i].index), match_value(kind, ms[i])};
        PyObject* t;
        try {
            t = tuple_of(items);
        } catch (...) {
            Py_DECREF(list);
            throw;
        }
        PyList_SetItem(list, static_cast<Py_ssize_t>(i), t);
    }
    return list;
}

// top_k(queries, choices or None, scorer_args, cutoff, k, indices_out, values_out, run)
PyObject* m_top_k(Args& a) {
    const TextStore& q = store_of(a.object(0));
    const TextStore* c = a.object(1) == Py_None ? nullptr : &store_of(a.object(1));
    const ScorerArgs sp = scorer_args(a.object(2));
    const core::match::Cutoff cut = cutoff_of(a.object(3));
    const std::size_t k = PyLong_AsSize_t(a.object(4));
    if (k == static_cast<std::size_t>(-1) && PyErr_Occurred()) throw PyError{};
    const RunSpec rs = run_spec(a.object(7));
    OutBuffer idx, vals;
    if (!borrow_array(a.object(5), ElemKind::i64, q.size() * k, true, idx)) throw PyError{};
    if (!borrow_array(a.object(6), elem_of(core::match::value_kind(sp.id)), q.size() * k, true, vals))
        throw PyError{};
    auto* ip = static_cast<std::int64_t*>(idx.data());
    void* vp = vals.data();
    const std::uint64_t n = c ? c->size() : q.size();
    run_released(rs, std::uint64_t{q.size()} * n, [&](const core::match::RunOptions& opt) {
        core::match::top_k(q, c, sp.id, sp.params, cut, k, ip, vp, opt);
    });
    return to_py_none();
}

PyObject* bytes_of(const void* p, std::size_t bytes) {
    PyObject* b = PyByteArray_FromStringAndSize(static_cast<const char*>(p), static_cast<Py_ssize_t>(bytes));
    if (!b) throw PyError{};
    return b;
}

// pairs(queries, choices or None, scorer_args, cutoff, run) -> (i bytes, j bytes, values bytes)
PyObject* m_pairs(Args& a) {
    const TextStore& q = store_of(a.object(0));
    const TextStore* c = a.object(1) == Py_None ? nullptr : &store_of(a.object(1));
    const ScorerArgs sp = scorer_args(a.object(2));
    const core::match::Cutoff cut = cutoff_of(a.object(3));
    const RunSpec rs = run_spec(a.object(4));
    core::match::PairsResult r;
    const std::uint64_t n = c ? c->size() : q.size();
    const std::uint64_t total = c ? std::uint64_t{q.size()} * n : n * (n ? n - 1 : 0) / 2;
    run_released(rs, total, [&](const core::match::RunOptions& opt) {
        r = core::match::pairs(q, c, sp.id, sp.params, cut, opt);
    });
    PyObject* vals;
    switch (core::match::value_kind(sp.id)) {
        case core::match::OutKind::u32: vals = bytes_of(r.u.data(), r.u.size() * 4); break;
        case core::match::OutKind::i64: vals = bytes_of(r.s.data(), r.s.size() * 8); break;
        default: vals = bytes_of(r.f.data(), r.f.size() * 8); break;
    }
    PyObject* bi = PyByteArray_FromStringAndSize(reinterpret_cast<const char*>(r.i.data()),
                                                 static_cast<Py_ssize_t>(r.i.size() * 8));
    PyObject* bj = PyByteArray_FromStringAndSize(reinterpret_cast<const char*>(r.j.data()),
                                                 static_cast<Py_ssize_t>(r.j.size() * 8));
    PyObject* items[] = {bi, bj, vals};
    return tuple_of(items);
}

// components(n, i int64 array, j int64 array) -> labels bytes (int64)
PyObject* m_components(Args& a) {
    const std::size_t n = PyLong_AsSize_t(a.object(0));
    if (n == static_cast<std::size_t>(-1) && PyErr_Occurred()) throw PyError{};
    PyObject* ia = a.object(1);
    PyObject* ja = a.object(2);
    const Py_ssize_t edges = PyObject_Length(ia);
    if (edges < 0) throw PyError{};
    OutBuffer ib, jb;
    if (!borrow_array(ia, ElemKind::i64, static_cast<std::size_t>(edges), false, ib) ||
        !borrow_array(ja, ElemKind::i64, static_cast<std::size_t>(edges), false, jb))
        throw PyError{};
    const auto* ip = static_cast<const std::int64_t*>(ib.data());
    const auto* jp = static_cast<const std::int64_t*>(jb.data());
    for (Py_ssize_t e = 0; e < edges; ++e) {
        if (ip[e] < 0 || jp[e] < 0 || static_cast<std::size_t>(ip[e]) >= n ||
            static_cast<std::size_t>(jp[e]) >= n) {
            PyErr_SetString(PyExc_ValueError, "edge index out of range");
            throw PyError{};
        }
    }
    std::vector<std::int64_t> labels;
    RunSpec rs;
    rs.opt.parallel = false;
    run_released(rs, 0, [&](const core::match::RunOptions&) {
        labels = core::match::components(n, ip, jp, static_cast<std::size_t>(edges));
    });
    return bytes_of(labels.data(), labels.size() * 8);
}

PyObject* m_prune_stats(Args&) {
    const auto s = core::match::prune_stats_and_reset();
    PyObject* items[] = {PyLong_FromUnsignedLongLong(s.checked), PyLong_FromUnsignedLongLong(s.skipped)};
    return tuple_of(items);
}

PyObject* m_worker_count(Args&) { return PyLong_FromSize_t(engine::worker_count()); }

constexpr Param kPack[] = {{"items", Kind::object}, {"mode", Kind::object}, {"fn", Kind::object},
                           {"what", Kind::object}};
constexpr Param kOne[] = {{"store", Kind::object}};
constexpr Param kGet[] = {{"store", Kind::object}, {"index", Kind::object}};
constexpr Param kState[] = {{"buffer", Kind::object}, {"offsets", Kind::object}, {"flags", Kind::object}};
constexpr Param kCdist[] = {{"queries", Kind::object}, {"choices", Kind::object}, {"scorer_args", Kind::object},
                            {"cutoff", Kind::object}, {"out", Kind::object}, {"kind", Kind::object},
                            {"run", Kind::object}};
constexpr Param kExtract[] = {{"query", Kind::object}, {"choices", Kind::object}, {"scorer_args", Kind::object},
                              {"cutoff", Kind::object}, {"limit", Kind::object}, {"run", Kind::object}};
constexpr Param kTopK[] = {{"queries", Kind::object}, {"choices", Kind::object}, {"scorer_args", Kind::object},
                           {"cutoff", Kind::object}, {"k", Kind::object}, {"indices", Kind::object},
                           {"values", Kind::object}, {"run", Kind::object}};
constexpr Param kPairs[] = {{"queries", Kind::object}, {"choices", Kind::object}, {"scorer_args", Kind::object},
                            {"cutoff", Kind::object}, {"run", Kind::object}};
constexpr Param kComponents[] = {{"n", Kind::object}, {"i", Kind::object}, {"j", Kind::object}};

const FuncDesc kPackDesc{"pack", kPack, "Collects and processes strings into a store.", &pack};
const FuncDesc kInfoDesc{"store_info", kOne, "(size, missing count, first missing index or None)", &store_info};
const FuncDesc kGetDesc{"store_get", kGet, "The processed string at index (None when missing).", &store_get};
const FuncDesc kStateDesc{"store_state", kOne, "The store as three byte strings.", &store_state};
const FuncDesc kFromStateDesc{"store_from_state", kState, "A store from store_state's output.", &store_from_state};
const FuncDesc kCdistDesc{"cdist", kCdist, "Fills a score matrix.", &m_cdist};
const FuncDesc kExtractDesc{"extract", kExtract, "Best kept choices of one query.", &m_extract};
const FuncDesc kTopKDesc{"top_k", kTopK, "The k best choices of every query.", &m_top_k};
const FuncDesc kPairsDesc{"pairs", kPairs, "Every pair that meets the cutoff.", &m_pairs};
const FuncDesc kComponentsDesc{"components", kComponents, "Smallest-index labels of connected components.",
                               &m_components};
const FuncDesc kPruneDesc{"prune_stats", {}, "(checked, skipped) pairs since the last call.", &m_prune_stats};
const FuncDesc kWorkersDesc{"worker_count", {}, "Number of pool workers.", &m_worker_count};

TARNVEL_REGISTER_MATCH_FUNCTION(kPackDesc);
TARNVEL_REGISTER_MATCH_FUNCTION(kInfoDesc);
TARNVEL_REGISTER_MATCH_FUNCTION(kGetDesc);
TARNVEL_REGISTER_MATCH_FUNCTION(kStateDesc);
TARNVEL_REGISTER_MATCH_FUNCTION(kFromStateDesc);
TARNVEL_REGISTER_MATCH_FUNCTION(kCdistDesc);
TARNVEL_REGISTER_MATCH_FUNCTION(kExtractDesc);
TARNVEL_REGISTER_MATCH_FUNCTION(kTopKDesc);
TARNVEL_REGISTER_MATCH_FUNCTION(kPairsDesc);
TARNVEL_REGISTER_MATCH_FUNCTION(kComponentsDesc);
TARNVEL_REGISTER_MATCH_FUNCTION(kPruneDesc);
TARNVEL_REGISTER_MATCH_FUNCTION(kWorkersDesc);

}  // namespace
}  // namespace tarnvel::py
