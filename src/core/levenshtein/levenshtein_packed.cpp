// The packed-lane cross-product (see levenshtein_packed.hpp): both lists become symbol
// ids once, the patterns are grouped by lane width, and every group streams every text.
#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "core/levenshtein/levenshtein_packed.hpp"
#include "dispatch/kernels.hpp"
#include "engine/cancel.hpp"
#include "engine/parallel.hpp"

namespace tarnvel::core {
namespace {

// Both lists as symbol ids: ASCII bytes keep their value, every other code point gets
// the next id from 128 up (the same id in both lists).
struct IdLists {
    std::vector<std::uint32_t> ids;
    std::vector<const std::uint32_t*> ptr;
    std::vector<std::uint32_t> len;
    std::size_t symbols = 128;
};

IdLists to_ids(std::span<const Text> x, std::span<const Text> y) {
    IdLists r;
    const std::size_t count = x.size() + y.size();
    std::size_t total = 0;
    for (const Text& t : x) total += t.size;
    for (const Text& t : y) total += t.size;
    r.ids.reserve(total);
    r.len.resize(count);
    std::vector<std::size_t> start(count);
    std::unordered_map<std::uint32_t, std::uint32_t> map;
    std::vector<std::uint32_t> cps;
    for (std::size_t i = 0; i < count; ++i) {
        const Text t = i < x.size() ? x[i] : y[i - x.size()];
        start[i] = r.ids.size();
        if (is_ascii(t)) {
            for (std::size_t k = 0; k < t.size; ++k) r.ids.push_back(t.bytes()[k]);
        } else {
            decode_utf8(t, cps);
            for (std::uint32_t c : cps) {
                if (c < 128) {
                    r.ids.push_back(c);
                    continue;
                }
                auto [it, fresh] = map.try_emplace(c, static_cast<std::uint32_t>(128 + map.size()));
                r.ids.push_back(it->second);
            }
        }
        r.len[i] = static_cast<std::uint32_t>(r.ids.size() - start[i]);
    }
    r.symbols = 128 + map.size();
    r.ptr.resize(count);
    for (std::size_t i = 0; i < count; ++i) r.ptr[i] = r.ids.data() + start[i];
    return r;
}

// A zeroed, 64-byte aligned match table of one vector per symbol id.
struct Table {
    std::unique_ptr<unsigned char[]> raw;
    void* data = nullptr;
    Table(std::size_t symbols, std::size_t vec_bytes)
        : raw(new unsigned char[symbols * vec_bytes + 64]()) {
        auto p = reinterpret_cast<std::uintptr_t>(raw.get());
        data = reinterpret_cast<void*>((p + 63) & ~std::uintptr_t{63});
    }
};

// Above this many distinct symbols the per-worker match table (one vector per symbol)
// would grow past a few megabytes; such lists take the per-pair path.
constexpr std::size_t kMaxPackedSymbols = std::size_t{1} << 16;
// Texts per unit: long enough to amortise a group's table, short enough that a unit ends
// (and a cancellation is seen) within milliseconds.
constexpr std::size_t kTextBlock = 8192;

}  // namespace

bool packed_cross(std::span<const Text> pats, const std::size_t* pat_off,
                  std::span<const Text> texts, const std::size_t* text_off, PackedValue value,
                  std::uint32_t* out, bool parallel, std::atomic<std::uint64_t>* progress) {
    const dispatch::KernelTable& kt = dispatch::kernels();
    auto* const* kernels = value == PackedValue::lcs ? kt.lcs_packed : kt.lev_packed;
    if (kernels[0] == nullptr || kt.lev_vec_bytes == 0) return false;
    if (pats.empty() || texts.empty()) return true;
    IdLists ids = to_ids(pats, texts);
    if (ids.symbols > kMaxPackedSymbols) return false;
    const std::size_t np = pats.size(), nt = texts.size();

    // Bucket the patterns by lane width (8 << c bits), keeping list order inside a bucket.
    std::vector<std::size_t> order[4];
    for (std::size_t i = 0; i < np; ++i) {
        const std::uint32_t m = ids.len[i];
        if (m > 64) return false;  // no lane holds it (callers pass short patterns only)
        order[m <= 8 ? 0 : m <= 16 ? 1 : m <= 32 ? 2 : 3].push_back(i);
    }
    struct Group {
        int cls;
        std::size_t first, count;  // positions in the flat pattern arrays
    };
    std::vector<const std::uint32_t*> gp_ptr;
    std::vector<std::uint32_t> gp_len;
    std::vector<std::size_t> gp_off;
    std::vector<Group> groups;
    for (int c = 0; c < 4; ++c) {
        const std::size_t lanes = kt.lev_vec_bytes / (std::size_t{1} << c);
        for (std::size_t k = 0; k < order[c].size(); k += lanes) {
            const std::size_t cnt = std::min(lanes, order[c].size() - k);
            groups.push_back({c, gp_ptr.size(), cnt});
            for (std::size_t q = k; q < k + cnt; ++q) {
                const std::size_t i = order[c][q];
                gp_ptr.push_back(ids.ptr[i]);
                gp_len.push_back(ids.len[i]);
                gp_off.push_back(pat_off[i]);
            }
        }
    }
    const std::uint32_t* const* text_ptr = ids.ptr.data() + np;
    const std::uint32_t* text_len = ids.len.data() + np;
    const std::size_t blocks = (nt + kTextBlock - 1) / kTextBlock;
    auto run = [&](std::size_t lo, std::size_t hi) {
        std::optional<Table> table;
        for (std::size_t u = lo; u < hi; ++u) {
            engine::interruption_point();
            if (!table) table.emplace(ids.symbols, kt.lev_vec_bytes);
            const Group& g = groups[u / blocks];
            const std::size_t t0 = (u % blocks) * kTextBlock, tn = std::min(kTextBlock, nt - t0);
            const LevPackedJob job{gp_ptr.data() + g.first,
                                   gp_len.data() + g.first,
                                   gp_off.data() + g.first,
                                   g.count,
                                   text_ptr + t0,
                                   text_len + t0,
                                   text_off + t0,
                                   tn,
                                   table->data,
                                   out};
            kernels[g.cls](job);
            if (progress) progress->fetch_add(g.count * tn, std::memory_order_relaxed);
        }
    };
    const std::size_t units = groups.size() * blocks;
    if (parallel)
        engine::parallel_for(units, run);
    else
        run(0, units);
    return true;
}

}  // namespace tarnvel::core
