// Private test functions of the Jaro family: the reference scan, the byte scan, the
// fixed-width kernels with their preconditions, and the literal grouped batch, so tests
// can compare every kernel and lane with the scan bit for bit.
#include <string>
#include <vector>

#include "binding/results.hpp"
#include "binding/table.hpp"
#include "binding/testing/rows.hpp"
#include "core/common/panic.hpp"
#include "core/jaro/jaro.hpp"
#include "core/jaro/jaro_scalar.hpp"

namespace tarnvel::py {
namespace {

constexpr Param kPair[] = {{"a", Kind::text}, {"b", Kind::text}};
constexpr Param kGroup[] = {{"a", Kind::text}, {"candidates", Kind::text_list}};
constexpr Param kGrouped[] = {
    {"query", Kind::text}, {"candidates", Kind::text_list}, {"p", Kind::prefix_p, "0.1", 0.1}};

std::vector<core::Seq<std::uint8_t>> byte_group(std::span<const core::Text> list) {
    std::vector<core::Seq<std::uint8_t>> g;
    g.reserve(list.size());
    for (const core::Text& t : list) g.push_back(core::byte_seq(t));
    return g;
}

// The position scan on bytes (both ASCII) or code points, heap flags, texts non-empty.
PyObject* jaro_scan_fn(Bound<kPair> a) {
    const core::Text x = a.text<"a">(), y = a.text<"b">();
    double r;
    {
        GilRelease nogil;
        r = core::with_symbols(x, y, [](auto sa, auto sb) {
            TARNVEL_ASSERT(!sa.empty() && !sb.empty(), "jaro_scan: texts must be non-empty");
            std::vector<std::uint8_t> fa(sa.size, 0), fb(sb.size, 0);
            return core::jaro_scan(sa, sb, fa.data(), fb.data(),
                                   core::jaro_window(sa.size, sb.size));
        });
    }
    return to_py_f64(r);
}

// Raw UTF-8 bytes of both texts, as the kernels see them.
PyObject* jaro_scalar_bytes_fn(Bound<kPair> a) {
    double r;
    {
        GilRelease nogil;
        r = core::jaro_scalar_bytes(core::byte_seq(a.text<"a">()), core::byte_seq(a.text<"b">()));
    }
    return to_py_f64(r);
}

PyObject* jaro_bitpar_fn(Bound<kPair> a) {
    double r;
    {
        GilRelease nogil;
        r = core::jaro_bitpar(core::byte_seq(a.text<"a">()), core::byte_seq(a.text<"b">()));
    }
    return to_py_f64(r);
}

template <std::size_t Lanes>
PyObject* jaro_nway_fn(Bound<kGroup> a) {
    const auto group = byte_group(a.list<"candidates">());
    if (group.size() != Lanes)
        core::panic("expected exactly " + std::to_string(Lanes) + " candidates");
    double out[Lanes];
    {
        GilRelease nogil;
        if constexpr (Lanes == 4) {
            core::jaro_4way(core::byte_seq(a.text<"a">()), group.data(), out);
        } else {
            core::jaro_8way(core::byte_seq(a.text<"a">()), group.data(), out);
        }
    }
    return list_f64(std::span<const double>(out, Lanes));
}

PyObject* jaro_multi_fn(Bound<kGroup> a) {
    const auto group = byte_group(a.list<"candidates">());
    std::vector<double> r;
    {
        GilRelease nogil;
        r = core::jaro_multi(core::byte_seq(a.text<"a">()), group);
    }
    return list_f64(r);
}

PyObject* winkler_prefix_fn(Bound<kPair> a) {
    return to_py_u64(core::winkler_prefix(a.text<"a">(), a.text<"b">()));
}

PyObject* jaro_winkler_many_grouped_fn(Bound<kGrouped> a) {
    std::vector<double> r;
    {
        GilRelease nogil;
        r = core::jaro_winkler_many_grouped(a.text<"query">(), a.list<"candidates">(),
                                            a.real<"p">());
    }
    return list_f64(r);
}

constexpr FuncDesc kScan = func<kPair, &jaro_scan_fn>("jaro_scan", "");
constexpr FuncDesc kScalarBytes = func<kPair, &jaro_scalar_bytes_fn>("jaro_scalar_bytes", "");
constexpr FuncDesc kBitpar = func<kPair, &jaro_bitpar_fn>("jaro_bitpar", "");
constexpr FuncDesc k4way = func<kGroup, &jaro_nway_fn<4>>("jaro_4way", "");
constexpr FuncDesc k8way = func<kGroup, &jaro_nway_fn<8>>("jaro_8way", "");
constexpr FuncDesc kMulti = func<kGroup, &jaro_multi_fn>("jaro_multi", "");
constexpr FuncDesc kPrefix = func<kPair, &winkler_prefix_fn>("winkler_prefix", "");
constexpr FuncDesc kGroupedBatch =
    func<kGrouped, &jaro_winkler_many_grouped_fn>("jaro_winkler_many_grouped", "");

}  // namespace

const FuncDesc rows::jaro_scan = kScan;
const FuncDesc rows::jaro_scalar_bytes = kScalarBytes;
const FuncDesc rows::jaro_bitpar = kBitpar;
const FuncDesc rows::jaro_4way = k4way;
const FuncDesc rows::jaro_8way = k8way;
const FuncDesc rows::jaro_multi = kMulti;
const FuncDesc rows::winkler_prefix = kPrefix;
const FuncDesc rows::jaro_winkler_many_grouped = kGroupedBatch;

}  // namespace tarnvel::py
