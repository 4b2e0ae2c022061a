// The private extension of the companion package (`tarnvel_match._native`).
//
// The Python package validates arguments and builds results; these functions do the
// work that must be native: collecting and processing strings into a store (a capsule
// holding a core::match::TextStore), and running the bulk shapes with the lock released,
// answering Ctrl-C and reporting progress through the calling thread's waiter.
// Every function takes plain objects; the package's wrappers are the public API.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/errors.hpp"
#include "binding/functions.hpp"
#include "binding/ndarray.hpp"
#include "binding/results.hpp"
#include "binding/table.hpp"
#include "core/match/shapes.hpp"
#include "core/match/store.hpp"
#include "engine/parallel.hpp"

namespace tarnvel::py {
namespace {

constexpr Param kPack[] = {
    {"items", Kind::object}, {"mode", Kind::object}, {"fn", Kind::object}, {"what", Kind::object}};
constexpr Param kOne[] = {{"store", Kind::object}};
constexpr Param kGet[] = {{"store", Kind::object}, {"index", Kind::object}};
constexpr Param kTwo[] = {{"a", Kind::object}, {"b", Kind::object}};
constexpr Param kState[] = {
    {"buffer", Kind::object}, {"offsets", Kind::object}, {"flags", Kind::object}};
constexpr Param kCdist[] = {{"queries", Kind::object},     {"choices", Kind::object},
                            {"scorer_args", Kind::object}, {"cutoff", Kind::object},
                            {"out", Kind::object},         {"kind", Kind::object},
                            {"run", Kind::object}};
constexpr Param kExtract[] = {{"query", Kind::object},       {"choices", Kind::object},
                              {"scorer_args", Kind::object}, {"cutoff", Kind::object},
                              {"limit", Kind::object},       {"run", Kind::object}};
constexpr Param kTopK[] = {{"queries", Kind::object},     {"choices", Kind::object},
                           {"scorer_args", Kind::object}, {"cutoff", Kind::object},
                           {"k", Kind::object},           {"indices", Kind::object},
                           {"values", Kind::object},      {"run", Kind::object}};
constexpr Param kPairs[] = {{"queries", Kind::object},
                            {"choices", Kind::object},
                            {"scorer_args", Kind::object},
                            {"cutoff", Kind::object},
                            {"run", Kind::object}};
constexpr Param kComponents[] = {{"n", Kind::object}, {"i", Kind::object}, {"j", Kind::object}};

using core::match::TextStore;

constexpr const char* kStoreCapsule = "tarnvel_match.store";

// One emptied store kept from the last one freed, so that a call packing a list as long
// as the previous call's reuses its memory: fresh arrays of that size cost more in page
// faults than packing itself. Bounded, so that an idle process holds little.
constexpr std::size_t kSpareBytes = std::size_t{64} << 20;
std::mutex g_spare_mu;
TextStore* g_spare = nullptr;  // owned; never freed at exit on purpose

std::unique_ptr<TextStore> new_store() {
    {
        const std::lock_guard<std::mutex> lock(g_spare_mu);
        if (g_spare) return std::unique_ptr<TextStore>(std::exchange(g_spare, nullptr));
    }
    return std::make_unique<TextStore>();
}

void destroy_store(PyObject* capsule) {
    std::unique_ptr<TextStore> s(
        static_cast<TextStore*>(PyCapsule_GetPointer(capsule, kStoreCapsule)));
    if (!s || s->capacity_bytes() > kSpareBytes) return;
    s->clear();
    const std::lock_guard<std::mutex> lock(g_spare_mu);
    if (!g_spare) g_spare = s.release();
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

// The default processor: lower(), then every character that is not alphanumeric becomes a
// space, then the spaces at both ends go. ASCII bytes are mapped here; other code points
// through a cache of what Python's own str methods make of each one.
//
// Per code point is exact because str.lower() maps each character on its own (full case
// mapping, expansions included) except the capital sigma, whose lower form depends on its
// neighbours: a text holding one goes through the package's Python definition. So does a
// text with a character whose lower form holds an alphanumeric space (none exists today;
// the check keeps strip() and the space test equal should one appear).
struct FoldedCp {
    // 0 unknown, 1 known, 2 needs the Python definition. Set last, with release order:
    // workers read the entries without the interpreter lock (see peek).
    std::atomic<std::uint8_t> state{0};
    std::uint8_t size = 0;
    bool ascii = true;  // every byte of the folded form is ASCII
    char bytes[14] = {};
};

class FoldCache {
public:
    // Looked up and filled with the interpreter lock held (collection runs on the calling
    // thread), so the cache needs no lock of its own.
    const FoldedCp& get(std::uint32_t cp) {
        FoldedCp* slot;
        if (cp < kDirect) {
            slot = &direct_[cp];
        } else {
            slot = &wide_[cp];
        }
        if (slot->state.load(std::memory_order_relaxed) == 0) fill(cp, *slot);
        return *slot;
    }
    // The entry of a code point of the Basic Multilingual Plane once it is known, for a
    // thread that may not hold the lock (nothing is filled then): null when unknown.
    // Known entries never change, so the acquire load is all a reader needs.
    const FoldedCp* peek(std::uint32_t cp) const {
        if (cp >= kDirect) return nullptr;
        const FoldedCp& f = direct_[cp];
        return f.state.load(std::memory_order_acquire) == 0 ? nullptr : &f;
    }

private:
    // The whole BMP (1 MiB, touched only where texts have such characters), so that a
    // worker finds every character of common scripts without the lock.
    static constexpr std::uint32_t kDirect = 0x10000;

    static bool call_bool(PyObject* ch, const char* method) {
        PyObject* r = PyObject_CallMethod(ch, method, nullptr);
        if (!r) throw PyError{};
        const int t = PyObject_IsTrue(r);
        Py_DECREF(r);
        if (t < 0) throw PyError{};
        return t != 0;
    }

    static void fill(std::uint32_t cp, FoldedCp& out) {
        if (cp == 0x3A3) {
            out.state.store(2, std::memory_order_release);
            return;
        }
        PyObject* one = PyUnicode_FromOrdinal(static_cast<int>(cp));
        if (!one) throw PyError{};
        PyObject* low = PyObject_CallMethod(one, "lower", nullptr);
        Py_DECREF(one);
        if (!low) throw PyError{};
        struct Ref {
            PyObject* o;
            ~Ref() { Py_DECREF(o); }
        } low_ref{low};
        const Py_ssize_t n = PyUnicode_GetLength(low);
        if (n < 0) throw PyError{};
        std::string r;
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* ch = PyUnicode_Substring(low, i, i + 1);
            if (!ch) throw PyError{};
            struct ChRef {
                PyObject* o;
                ~ChRef() { Py_DECREF(o); }
            } ch_ref{ch};
            if (!call_bool(ch, "isalnum")) {
                r.push_back(' ');
                continue;
            }
            if (call_bool(ch, "isspace")) {
                out.state.store(2, std::memory_order_release);
                return;
            }
            Py_ssize_t len = 0;
            const char* u = PyUnicode_AsUTF8AndSize(ch, &len);
            if (!u) throw PyError{};
            r.append(u, static_cast<std::size_t>(len));
        }
        if (r.size() > sizeof(out.bytes)) {
            out.state.store(2, std::memory_order_release);
            return;
        }
        std::memcpy(out.bytes, r.data(), r.size());
        out.size = static_cast<std::uint8_t>(r.size());
        out.ascii = core::is_ascii(r.data(), r.size());
        out.state.store(1, std::memory_order_release);
    }

    FoldedCp direct_[kDirect];
    std::unordered_map<std::uint32_t, FoldedCp> wide_;
};

FoldCache& fold_cache() {
    static FoldCache* cache = new FoldCache();  // never destroyed: used until exit
    return *cache;
}

inline char fold_ascii(unsigned char c) {
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    return alnum ? static_cast<char>(c) : ' ';
}

void strip_spaces(std::string& out) {
    std::size_t b = 0, e = out.size();
    while (b < e && out[b] == ' ') ++b;
    while (e > b && out[e - 1] == ' ') --e;
    out.erase(e);
    out.erase(0, b);
}

// The folded form of every ASCII byte, for the loop below.
struct AsciiFold {
    char to[128];
    AsciiFold() {
        for (int c = 0; c < 128; ++c) to[c] = fold_ascii(static_cast<unsigned char>(c));
    }
};
const AsciiFold kAsciiFold;

// Returns false when the text needs the Python definition (see FoldCache).
bool default_process_native(const char* s, std::size_t n, std::string& out) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(s);
    // The ASCII prefix (all of most texts) maps byte for byte through the table.
    out.resize(n);
    char* o = out.data();
    std::size_t i = 0;
    for (; i < n && b[i] < 0x80; ++i) o[i] = kAsciiFold.to[b[i]];
    out.resize(i);
    for (; i < n;) {
        if (b[i] < 0x80) {
            out.push_back(fold_ascii(b[i++]));
            continue;
        }
        const std::uint32_t cp = core::next_code_point(b, i);
        const FoldedCp& f = fold_cache().get(cp);
        if (f.state.load(std::memory_order_relaxed) != 1) return false;
        out.append(f.bytes, f.size);
    }
    strip_spaces(out);
    return true;
}

// Entries whose processing waits for the calling thread (in the flags while building).
constexpr std::uint8_t kPending = 0x80;

// One block of a bulk pack: the processed bytes of its entries, in order (none for a
// missing or pending entry), and whether any entry is pending. The buffer is raw (never
// zero-filled) and grows only for the rare text whose fold is longer than itself.
struct PackBlock {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0, cap = 0;
    bool pending = false;

    void grow(std::size_t need) {
        const std::size_t cap2 = std::max(need, cap * 2);
        auto more = std::unique_ptr<char[]>(new char[cap2]);
        if (size) std::memcpy(more.get(), bytes.get(), size);
        bytes = std::move(more);
        cap = cap2;
    }
};

// default_process_native for a thread that may not hold the lock: appends the processed
// form of s to blk and tells whether it is all ASCII; false (blk left as it was) when a
// character's fold is not known yet or needs the Python definition.
bool fold_append(const FoldCache& cache, const std::uint8_t* b, std::size_t n, PackBlock& blk,
                 bool& ascii) {
    const std::size_t base = blk.size;
    if (blk.cap - base < n) blk.grow(base + n);
    char* o = blk.bytes.get() + base;
    std::size_t i = 0;
    // Eight bytes at a time while they are all ASCII (most texts are, start to end).
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, b + i, 8);
        if (word & 0x8080808080808080ull) break;
        for (std::size_t k = 0; k < 8; ++k) o[i + k] = kAsciiFold.to[b[i + k]];
    }
    for (; i < n && b[i] < 0x80; ++i) o[i] = kAsciiFold.to[b[i]];
    std::size_t w = i;
    ascii = true;
    while (i < n) {
        if (b[i] < 0x80) {
            if (blk.cap - base < w + 1) blk.grow(base + w + 1 + (n - i));
            blk.bytes[base + w++] = kAsciiFold.to[b[i++]];
            continue;
        }
        const std::uint32_t cp = core::next_code_point(b, i);
        const FoldedCp* f = cache.peek(cp);
        if (!f || f->state.load(std::memory_order_relaxed) != 1) return false;
        if (blk.cap - base < w + f->size) blk.grow(base + w + f->size + (n - i));
        std::memcpy(blk.bytes.get() + base + w, f->bytes, f->size);
        w += f->size;
        ascii = ascii && f->ascii;
    }
    char* t = blk.bytes.get() + base;
    std::size_t s = 0;
    while (w > 0 && t[w - 1] == ' ') --w;
    while (s < w && t[s] == ' ') ++s;
    if (s > 0) std::memmove(t, t + s, w - s);
    blk.size = base + (w - s);
    return true;
}

// Processes the staged views [b, e) into blk and the store's per-entry arrays (mode 0
// none, 1 default). Needs no lock: the views are borrowed from strings kept alive by the
// caller, and the fold cache is only read.
void pack_block(const core::Text* views, std::size_t b, std::size_t e, int mode, PackBlock& blk,
                std::uint8_t* flags, std::uint64_t* lens, std::uint64_t* sizes) {
    const FoldCache& cache = fold_cache();
    std::size_t bytes = 0;
    for (std::size_t i = b; i < e; ++i) bytes += views[i].size;
    blk.size = 0;
    blk.grow(bytes + 16);
    for (std::size_t i = b; i < e; ++i) {
        const core::Text v = views[i];
        if (!v.data) {
            flags[i] = TextStore::kMissing;
            continue;
        }
        const std::size_t at = blk.size;
        bool ascii;
        if (mode == 0) {
            std::memcpy(blk.bytes.get() + at, v.data, v.size);
            blk.size += v.size;
            ascii = core::is_ascii(v.data, v.size);
        } else if (!fold_append(cache, v.bytes(), v.size, blk, ascii)) {
            flags[i] = kPending;
            blk.pending = true;
            continue;
        }
        const std::size_t size = blk.size - at;
        sizes[i] = size;
        flags[i] = ascii ? TextStore::kAscii : 0;
        lens[i] = ascii ? size : core::count_code_points(blk.bytes.get() + at, size);
    }
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
        if (default_process_native(u, static_cast<std::size_t>(len), tmp)) {
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

// The store of a list or tuple without a callable processor, in two passes: the UTF-8
// views first, on this thread (items borrowed, their headers prefetched a few ahead, since
// each is a cache miss on a long list), then the processing, on the workers without the
// lock, into blocks that are copied into one buffer of the summed size.
//
// Borrowing is sound because `items` is the package's own copy, which no other code can
// reach: the only Python code that runs meanwhile is the package's default_process for the
// rare text the native processor leaves to it (and whatever the collector runs), and
// neither can change that list, so every item and its UTF-8 view outlive the call.
std::unique_ptr<TextStore> pack_views(PyObject* seq, int mode, PyObject* fn, const char* what) {
    constexpr Py_ssize_t kAhead = 64;
    // Strings per unit of the processing pass: a few tens of microseconds each.
    constexpr std::size_t kPackBlock = 4096;
    const bool is_list = PyList_CheckExact(seq);
    const Py_ssize_t n = is_list ? PyList_Size(seq) : PyTuple_Size(seq);
    if (n < 0) throw PyError{};
    auto item_at = [&](Py_ssize_t i) {
        return is_list ? PyList_GetItem(seq, i) : PyTuple_GetItem(seq, i);
    };
    auto store = new_store();
    // The views are staged in the store's own view array (a missing item as a null view);
    // seal() replaces them with views of the store's buffer.
    std::vector<core::Text>& views = store->staging();
    views.assign(static_cast<std::size_t>(n), core::Text());
    // Each item is fetched once, kAhead before its turn, when its header is prefetched.
    PyObject* ring[kAhead];
    for (Py_ssize_t k = 0; k < std::min(n, kAhead); ++k) ring[k] = item_at(k);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = ring[i % kAhead];
        if (i + kAhead < n) {
            PyObject* ahead = item_at(i + kAhead);
            __builtin_prefetch(reinterpret_cast<const char*>(ahead));
            __builtin_prefetch(reinterpret_cast<const char*>(ahead) + 63);
            ring[i % kAhead] = ahead;
        }
        if (!item) throw PyError{};
        if (PyUnicode_Check(item)) {
            Py_ssize_t len = 0;
            const char* u = PyUnicode_AsUTF8AndSize(item, &len);
            if (!u) throw PyError{};
            views[static_cast<std::size_t>(i)] = core::Text(u, static_cast<std::size_t>(len));
        } else if (is_missing(item)) {
            views[static_cast<std::size_t>(i)] = core::Text();
        } else {
            PyErr_Format(PyExc_TypeError, "%s[%zd] must be str, not %s", what, i,
                         type_qualname(item).c_str());
            throw PyError{};
        }
        // Long lists answer Ctrl-C while they are collected and processed too.
        if ((i & 0xFFFF) == 0xFFFF && PyErr_CheckSignals() < 0) throw PyError{};
    }
    // The rest needs no Python unless a text is left to the Python definition: on the
    // workers, block by block, with the lock released (long lists answer Ctrl-C there).
    const std::size_t count = static_cast<std::size_t>(n);
    store->bulk_begin(count);
    std::uint8_t* flags = store->bulk_flags();
    std::uint64_t* lens = store->bulk_lens();
    std::uint64_t* sizes = store->bulk_offsets() + 1;
    const core::Text* staged = views.data();
    const std::size_t blocks = (count + kPackBlock - 1) / kPackBlock;
    std::vector<PackBlock> parts(blocks);
    (void)fold_cache();  // made here, not first on a worker
    auto run_blocks = [&](std::size_t b0, std::size_t b1) {
        for (std::size_t blk = b0; blk < b1; ++blk) {
            engine::interruption_point();
            pack_block(staged, blk * kPackBlock, std::min(count, (blk + 1) * kPackBlock), mode,
                       parts[blk], flags, lens, sizes);
        }
    };
    if (blocks <= 1) {
        run_blocks(0, blocks);
    } else {
        InterruptibleGilRelease nogil;
        engine::parallel_for(blocks, run_blocks);
    }
    // Pending texts, in index order, here with the lock: the native fold filling the
    // cache, else the package's definition.
    std::vector<std::string> pending;
    std::string tmp;
    for (std::size_t blk = 0; blk < blocks; ++blk) {
        if (!parts[blk].pending) continue;
        for (std::size_t i = blk * kPackBlock; i < std::min(count, (blk + 1) * kPackBlock); ++i) {
            if (flags[i] != kPending) continue;
            const core::Text v = staged[i];
            if (!default_process_native(v.data, v.size, tmp)) {
                TextStore one;
                add_text(one, item_at(static_cast<Py_ssize_t>(i)), 2, fn, tmp,
                         static_cast<Py_ssize_t>(i), what);
                one.seal();
                const core::Text t = one.text(0);
                tmp.assign(t.data, t.size);
            }
            const bool ascii = core::is_ascii(tmp.data(), tmp.size());
            sizes[i] = tmp.size();
            flags[i] = kPending | (ascii ? TextStore::kAscii : 0);
            lens[i] = ascii ? tmp.size() : core::count_code_points(tmp.data(), tmp.size());
            pending.push_back(tmp);
            if ((pending.size() & 0xFFF) == 0xFFF && PyErr_CheckSignals() < 0) throw PyError{};
        }
    }
    // Every block's bytes in place, the pending texts between them.
    char* buf = store->bulk_sizes_done();
    const std::uint64_t* offsets = store->bulk_offsets();
    std::size_t next_pending = 0;
    for (std::size_t blk = 0; blk < blocks; ++blk) {
        const std::size_t b = blk * kPackBlock, e = std::min(count, b + kPackBlock);
        const char* from = parts[blk].bytes.get();
        if (!parts[blk].pending) {
            if (parts[blk].size) std::memcpy(buf + offsets[b], from, parts[blk].size);
            continue;
        }
        std::size_t cursor = 0;
        for (std::size_t i = b; i < e; ++i) {
            const std::size_t size = offsets[i + 1] - offsets[i];
            if (flags[i] & kPending) {
                const std::string& t = pending[next_pending++];
                if (size) std::memcpy(buf + offsets[i], t.data(), size);
                flags[i] &= static_cast<std::uint8_t>(~kPending);
            } else if (size) {
                std::memcpy(buf + offsets[i], from + cursor, size);
                cursor += size;
            }
        }
    }
    std::vector<PackBlock>().swap(parts);
    store->seal();
    return store;
}

// pack(items, mode, fn, what): items is a list or tuple; each is a str or missing.
PyObject* pack(Bound<kPack> a) {
    PyObject* items = a.object<"items">();
    const long mode = PyLong_AsLong(a.object<"mode">());
    if (mode == -1 && PyErr_Occurred()) throw PyError{};
    PyObject* fn = a.object<"fn">();
    const char* what = PyUnicode_AsUTF8AndSize(a.object<"what">(), nullptr);
    if (!what) throw PyError{};
    PyObject* seq = PySequence_Fast(items, "items must be a sequence");
    if (!seq) throw PyError{};
    struct SeqRef {
        PyObject* o;
        ~SeqRef() { Py_DECREF(o); }
    } seq_ref{seq};
    if (mode != 2 && (PyList_CheckExact(seq) || PyTuple_CheckExact(seq)))
        return wrap_store(pack_views(seq, static_cast<int>(mode), fn, what));
    const Py_ssize_t n = PySequence_Size(seq);
    if (n < 0) throw PyError{};
    auto store = new_store();
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

PyObject* store_info(Bound<kOne> a) {
    const TextStore& s = store_of(a.object<"store">());
    std::size_t first_missing = s.size();
    if (s.missing_count()) {
        for (std::size_t i = 0; i < s.size(); ++i)
            if (s.missing(i)) {
                first_missing = i;
                break;
            }
    }
    PyObject* items[] = {
        PyLong_FromSize_t(s.size()), PyLong_FromSize_t(s.missing_count()),
        first_missing < s.size() ? PyLong_FromSize_t(first_missing) : to_py_none()};
    return tuple_of(items);
}

// The processed string at i (None when missing).
PyObject* store_get(Bound<kGet> a) {
    const TextStore& s = store_of(a.object<"store">());
    const Py_ssize_t i = PyLong_AsSsize_t(a.object<"index">());
    if (i == -1 && PyErr_Occurred()) throw PyError{};
    if (i < 0 || static_cast<std::size_t>(i) >= s.size()) {
        PyErr_SetString(PyExc_IndexError, "index out of range");
        throw PyError{};
    }
    if (s.missing(static_cast<std::size_t>(i))) return to_py_none();
    const core::Text t = s.text(static_cast<std::size_t>(i));
    return to_py_str(t.view());
}

// same_items(a, b): whether two lists or tuples hold the very same objects in the same
// order. Identity only: no comparison method runs, so no Python code can change either
// list meanwhile.
PyObject* same_items(Bound<kTwo> a) {
    PyObject* x = a.object<"a">();
    PyObject* y = a.object<"b">();
    auto size_of = [](PyObject* s) -> Py_ssize_t {
        if (PyList_CheckExact(s)) return PyList_Size(s);
        if (PyTuple_CheckExact(s)) return PyTuple_Size(s);
        PyErr_SetString(PyExc_TypeError, "same_items takes lists or tuples");
        throw PyError{};
    };
    const Py_ssize_t n = size_of(x);
    if (n != size_of(y)) return PyBool_FromLong(0);
    auto item_at = [](PyObject* s, Py_ssize_t i) {
        return PyList_CheckExact(s) ? PyList_GetItem(s, i) : PyTuple_GetItem(s, i);
    };
    for (Py_ssize_t i = 0; i < n; ++i)
        if (item_at(x, i) != item_at(y, i)) return PyBool_FromLong(0);
    return PyBool_FromLong(1);
}

// (buffer bytes, offsets bytes, flags bytes): the whole store, for pickling.
PyObject* store_state(Bound<kOne> a) {
    const TextStore& s = store_of(a.object<"store">());
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
PyObject* store_from_state(Bound<kState> a) {
    char *buf, *off, *fl;
    Py_ssize_t nbuf, noff, nfl;
    if (PyBytes_AsStringAndSize(a.object<"buffer">(), &buf, &nbuf) < 0 ||
        PyBytes_AsStringAndSize(a.object<"offsets">(), &off, &noff) < 0 ||
        PyBytes_AsStringAndSize(a.object<"flags">(), &fl, &nfl) < 0)
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
                PyObject* check =
                    PyUnicode_DecodeUTF8(buf + prev, static_cast<Py_ssize_t>(o - prev), "strict");
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
                PyObject* r = PyObject_CallFunction(
                    self->progress, "KK",
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
        case ElemKind::f64:
            return core::match::OutKind::f64;
        case ElemKind::f32:
            return core::match::OutKind::f32;
        case ElemKind::u32:
            return core::match::OutKind::u32;
        case ElemKind::i64:
            return core::match::OutKind::i64;
    }
    return core::match::OutKind::f64;
}

ElemKind elem_of(core::match::OutKind k) {
    switch (k) {
        case core::match::OutKind::f64:
            return ElemKind::f64;
        case core::match::OutKind::f32:
            return ElemKind::f32;
        case core::match::OutKind::u32:
            return ElemKind::u32;
        case core::match::OutKind::i64:
            return ElemKind::i64;
    }
    return ElemKind::f64;
}

// cdist(queries, choices, scorer_args, cutoff, out, out_kind, run): fills out in place.
PyObject* m_cdist(Bound<kCdist> a) {
    const TextStore& q = store_of(a.object<"queries">());
    const TextStore& c = store_of(a.object<"choices">());
    const ScorerArgs sp = scorer_args(a.object<"scorer_args">());
    const core::match::Cutoff cut = cutoff_of(a.object<"cutoff">());
    const long kind = PyLong_AsLong(a.object<"kind">());
    if (kind < 0 || kind > 3) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "internal error: out kind");
        throw PyError{};
    }
    const auto ek = static_cast<ElemKind>(kind);
    const RunSpec rs = run_spec(a.object<"run">());
    OutBuffer out;
    if (!borrow_array(a.object<"out">(), ek, q.size() * c.size(), true, out)) throw PyError{};
    void* data = out.data();
    run_released(rs, std::uint64_t{q.size()} * c.size(), [&](const core::match::RunOptions& opt) {
        core::match::cdist(q, c, sp.id, sp.params, cut, data, out_kind_of(ek), opt);
    });
    return to_py_none();
}

PyObject* match_value(core::match::OutKind kind, const core::match::Match& m) {
    switch (kind) {
        case core::match::OutKind::u32:
            return to_py_u64(m.u);
        case core::match::OutKind::i64:
            return to_py_i64(m.i);
        default:
            return to_py_f64(m.f);
    }
}

// extract(query_store, choices, scorer_args, cutoff, limit or None, run) -> [(index, value)]
PyObject* m_extract(Bound<kExtract> a) {
    const TextStore& q = store_of(a.object<"query">());
    const TextStore& c = store_of(a.object<"choices">());
    const ScorerArgs sp = scorer_args(a.object<"scorer_args">());
    const core::match::Cutoff cut = cutoff_of(a.object<"cutoff">());
    std::size_t limit = SIZE_MAX;
    if (a.object<"limit">() != Py_None) {
        limit = PyLong_AsSize_t(a.object<"limit">());
        if (limit == static_cast<std::size_t>(-1) && PyErr_Occurred()) throw PyError{};
    }
    const RunSpec rs = run_spec(a.object<"run">());
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
PyObject* m_top_k(Bound<kTopK> a) {
    const TextStore& q = store_of(a.object<"queries">());
    const TextStore* c =
        a.object<"choices">() == Py_None ? nullptr : &store_of(a.object<"choices">());
    const ScorerArgs sp = scorer_args(a.object<"scorer_args">());
    const core::match::Cutoff cut = cutoff_of(a.object<"cutoff">());
    const std::size_t k = PyLong_AsSize_t(a.object<"k">());
    if (k == static_cast<std::size_t>(-1) && PyErr_Occurred()) throw PyError{};
    const RunSpec rs = run_spec(a.object<"run">());
    OutBuffer idx, vals;
    if (!borrow_array(a.object<"indices">(), ElemKind::i64, q.size() * k, true, idx))
        throw PyError{};
    if (!borrow_array(a.object<"values">(), elem_of(core::match::value_kind(sp.id)), q.size() * k,
                      true, vals))
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
    PyObject* b =
        PyByteArray_FromStringAndSize(static_cast<const char*>(p), static_cast<Py_ssize_t>(bytes));
    if (!b) throw PyError{};
    return b;
}

// pairs(queries, choices or None, scorer_args, cutoff, run) -> (i bytes, j bytes, values bytes)
PyObject* m_pairs(Bound<kPairs> a) {
    const TextStore& q = store_of(a.object<"queries">());
    const TextStore* c =
        a.object<"choices">() == Py_None ? nullptr : &store_of(a.object<"choices">());
    const ScorerArgs sp = scorer_args(a.object<"scorer_args">());
    const core::match::Cutoff cut = cutoff_of(a.object<"cutoff">());
    const RunSpec rs = run_spec(a.object<"run">());
    core::match::PairsResult r;
    const std::uint64_t n = c ? c->size() : q.size();
    const std::uint64_t total = c ? std::uint64_t{q.size()} * n : n * (n ? n - 1 : 0) / 2;
    run_released(rs, total, [&](const core::match::RunOptions& opt) {
        r = core::match::pairs(q, c, sp.id, sp.params, cut, opt);
    });
    PyObject* vals;
    switch (core::match::value_kind(sp.id)) {
        case core::match::OutKind::u32:
            vals = bytes_of(r.u.data(), r.u.size() * 4);
            break;
        case core::match::OutKind::i64:
            vals = bytes_of(r.s.data(), r.s.size() * 8);
            break;
        default:
            vals = bytes_of(r.f.data(), r.f.size() * 8);
            break;
    }
    PyObject* bi = PyByteArray_FromStringAndSize(reinterpret_cast<const char*>(r.i.data()),
                                                 static_cast<Py_ssize_t>(r.i.size() * 8));
    PyObject* bj = PyByteArray_FromStringAndSize(reinterpret_cast<const char*>(r.j.data()),
                                                 static_cast<Py_ssize_t>(r.j.size() * 8));
    PyObject* items[] = {bi, bj, vals};
    return tuple_of(items);
}

// components(n, i int64 array, j int64 array) -> labels bytes (int64)
PyObject* m_components(Bound<kComponents> a) {
    const std::size_t n = PyLong_AsSize_t(a.object<"n">());
    if (n == static_cast<std::size_t>(-1) && PyErr_Occurred()) throw PyError{};
    PyObject* ia = a.object<"i">();
    PyObject* ja = a.object<"j">();
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

PyObject* m_prune_stats() {
    const auto s = core::match::prune_stats_and_reset();
    PyObject* items[] = {PyLong_FromUnsignedLongLong(s.checked),
                         PyLong_FromUnsignedLongLong(s.by_length),
                         PyLong_FromUnsignedLongLong(s.by_sketch)};
    return tuple_of(items);
}

PyObject* m_worker_count() { return PyLong_FromSize_t(engine::worker_count()); }

constexpr FuncDesc kPackDesc =
    func<kPack, &pack>("pack", "Collects and processes strings into a store.");
constexpr FuncDesc kInfoDesc =
    func<kOne, &store_info>("store_info", "(size, missing count, first missing index or None)");
constexpr FuncDesc kGetDesc =
    func<kGet, &store_get>("store_get", "The processed string at index (None when missing).");
constexpr FuncDesc kSameDesc = func<kTwo, &same_items>(
    "same_items", "Whether two lists or tuples hold the same objects in the same order.");
constexpr FuncDesc kStateDesc =
    func<kOne, &store_state>("store_state", "The store as three byte strings.");
constexpr FuncDesc kFromStateDesc =
    func<kState, &store_from_state>("store_from_state", "A store from store_state's output.");
constexpr FuncDesc kCdistDesc = func<kCdist, &m_cdist>("cdist", "Fills a score matrix.");
constexpr FuncDesc kExtractDesc =
    func<kExtract, &m_extract>("extract", "Best kept choices of one query.");
constexpr FuncDesc kTopKDesc = func<kTopK, &m_top_k>("top_k", "The k best choices of every query.");
constexpr FuncDesc kPairsDesc =
    func<kPairs, &m_pairs>("pairs", "Every pair that meets the cutoff.");
constexpr FuncDesc kComponentsDesc = func<kComponents, &m_components>(
    "components", "Smallest-index labels of connected components.");
constexpr FuncDesc kPruneDesc = func<&m_prune_stats>(
    "prune_stats", "(checked, skipped on lengths, skipped on sketches) pairs since the last call.");
constexpr FuncDesc kWorkersDesc = func<&m_worker_count>("worker_count", "Number of pool workers.");

}  // namespace

const FuncDesc rows::pack = kPackDesc;
const FuncDesc rows::store_info = kInfoDesc;
const FuncDesc rows::store_get = kGetDesc;
const FuncDesc rows::same_items = kSameDesc;
const FuncDesc rows::store_state = kStateDesc;
const FuncDesc rows::store_from_state = kFromStateDesc;
const FuncDesc rows::cdist = kCdistDesc;
const FuncDesc rows::extract = kExtractDesc;
const FuncDesc rows::top_k = kTopKDesc;
const FuncDesc rows::pairs = kPairsDesc;
const FuncDesc rows::components = kComponentsDesc;
const FuncDesc rows::prune_stats = kPruneDesc;
const FuncDesc rows::worker_count = kWorkersDesc;

}  // namespace tarnvel::py
