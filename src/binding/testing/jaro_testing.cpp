// Private test functions of the Jaro family: the reference scan, the byte scan, the
// fixed-width kernels with their preconditions, and the literal grouped batch, so tests
// can compare every kernel and lane with the scan bit for bit.
#include <string>
#include <vector>

#include "binding/results.hpp"
#include "binding/table.hpp"
#include "core/common/panic.hpp"
#include "core/jaro/jaro.hpp"
#include "core/jaro/jaro_scalar.hpp"

namespace tarnvel::py {
namespace {

std::vector<core::Seq<std::uint8_t>> byte_group(std::span<const core::Text> list) {
    std::vector<core::Seq<std::uint8_t>> g;
    g.reserve(list.size());
    for (const core::Text& t : list) g.push_back(core::byte_seq(t));
    return g;
}

// The position scan on bytes (both ASCII) or code points, heap flags, texts non-empty.
PyObject* jaro_scan_fn(Args& a) {
    const core::Text x = a.text(0), y = a.text(1);
    double r;
    {
        GilRelease nogil;
        r = core::with_symbols(x, y, [](auto sa, auto sb) {
            TARNVEL_ASSERT(!sa.empty() && !sb.empty(), "jaro_scan: texts must be non-empty");
            std::vector<std::uint8_t> fa(sa.size, 0), fb(sb.size, 0);
            return core::jaro_scan(sa, sb, fa.data(), fb.data(), core::jaro_window(sa.size, sb.size));
        });
    }
    return to_py_f64(r);
}

// Raw UTF-8 bytes of both texts, as the kernels see them.
PyObject* jaro_scalar_bytes_fn(Args& a) {
    double r;
    {
        GilRelease nogil;
        r = core::jaro_scalar_bytes(core::byte_seq(a.text(0)), core::byte_seq(a.text(1)));
    }
    return to_py_f64(r);
}

PyObject* jaro_bitpar_fn(Args& a) {
    double r;
    {
        GilRelease nogil;
        r = core::jaro_bitpar(core::byte_seq(a.text(0)), core::byte_seq(a.text(1)));
    }
    return to_py_f64(r);
}

template <std::size_t Lanes>
PyObject* jaro_nway_fn(Args& a) {
    const auto group = byte_group(a.list(1));
    if (group.size() != Lanes) core::panic("expected exactly " + std::to_string(Lanes) + " candidates");
    double out[Lanes];
    {
        GilRelease nogil;
        if constexpr (Lanes == 4) {
            core::jaro_4way(core::byte_seq(a.text(0)), group.data(), out);
        } else {
            core::jaro_8way(core::byte_seq(a.text(0)), group.data(), out);
        }
    }
    return list_f64(std::span<const double>(out, Lanes));
}

PyObject* jaro_multi_fn(Args& a) {
    const auto group = byte_group(a.list(1));
    std::vector<double> r;
    {
        GilRelease nogil;
        r = core::jaro_multi(core::byte_seq(a.text(0)), group);
    }
    return list_f64(r);
}

PyObject* winkler_prefix_fn(Args& a) {
    return to_py_u64(core::winkler_prefix(a.text(0), a.text(1)));
}

PyObject* jaro_winkler_many_grouped_fn(Args& a) {
    std::vector<double> r;
    {
        GilRelease nogil;
        r = core::jaro_winkler_many_grouped(a.text(0), a.list(1), a.real(2));
    }
    return list_f64(r);
}

constexpr Param kPair[] = {{"a", Kind::text}, {"b", Kind::text}};
constexpr Param kGroup[] = {{"a", Kind::text}, {"candidates", Kind::text_list}};
constexpr Param kGrouped[] = {
    {"query", Kind::text}, {"candidates", Kind::text_list}, {"p", Kind::prefix_p, "0.1", 0.1}};

const FuncDesc kScan{"jaro_scan", kPair, "", &jaro_scan_fn};
const FuncDesc kScalarBytes{"jaro_scalar_bytes", kPair, "", &jaro_scalar_bytes_fn};
const FuncDesc kBitpar{"jaro_bitpar", kPair, "", &jaro_bitpar_fn};
const FuncDesc k4way{"jaro_4way", kGroup, "", &jaro_nway_fn<4>};
const FuncDesc k8way{"jaro_8way", kGroup, "", &jaro_nway_fn<8>};
const FuncDesc kMulti{"jaro_multi", kGroup, "", &jaro_multi_fn};
const FuncDesc kPrefix{"winkler_prefix", kPair, "", &winkler_prefix_fn};
const FuncDesc kGroupedBatch{"jaro_winkler_many_grouped", kGrouped, "",
                             &jaro_winkler_many_grouped_fn};

TARNVEL_REGISTER_TEST_FUNCTION(kScan);
TARNVEL_REGISTER_TEST_FUNCTION(kScalarBytes);
TARNVEL_REGISTER_TEST_FUNCTION(kBitpar);
TARNVEL_REGISTER_TEST_FUNCTION(k4way);
TARNVEL_REGISTER_TEST_FUNCTION(k8way);
TARNVEL_REGISTER_TEST_FUNCTION(kMulti);
TARNVEL_REGISTER_TEST_FUNCTION(kPrefix);
TARNVEL_REGISTER_TEST_FUNCTION(kGroupedBatch);

}  // namespace
}  // namespace tarnvel::py
