// Extraction and the indel-ratio batch (see extract.hpp).
//
// Exactness: every score is (1 - dist / total) * 100 with dist = n + m - 2 * LCS, the
// same value indel_ratio() computes (its empty/equal shortcuts agree with that formula).
// An ASCII query streams the choice's raw UTF-8 bytes: bytes of 0x80 and above have empty
// match masks and leave the LCS state unchanged, which is exactly what a multi-byte code
// point (never equal to an ASCII symbol) does in the decoded comparison; the code point
// count of the choice is its number of non-continuation bytes.
#include <algorithm>
#include <bit>
#include <iterator>

#include "core/fuzz/extract.hpp"
#include "core/fuzz/extract_kernels.hpp"
#include "core/fuzz/ratio.hpp"
#include "dispatch/kernels.hpp"
#include "engine/parallel.hpp"

namespace tarnvel::core {
namespace {

// Choices scored per block by the filtering paths (keeps the score buffer on the stack).
constexpr std::size_t kBlock = 256;

inline bool is_continuation(std::uint8_t b) { return (b & 0xC0) == 0x80; }

// Multi-word LCS over a symbol stream; next(i) yields the next symbol's row.
template <typename Rows>
std::size_t lcs_words(const BlockPattern& p, std::size_t symbols_end, Rows&& rows,
                      std::size_t& symbols) {
    const std::size_t words = p.words();
    constexpr std::size_t kStackWords = 32;
    std::uint64_t stack_v[kStackWords];
    std::vector<std::uint64_t> heap_v;
    std::uint64_t* v = stack_v;
    if (words > kStackWords) {
        heap_v.resize(words);
        v = heap_v.data();
    }
    std::fill(v, v + words, ~std::uint64_t{0});
    symbols = 0;
    for (std::size_t i = 0; i < symbols_end;) {
        const std::uint64_t* row = rows(i);
        if (!row) continue;  // a byte that carries no symbol of its own
        ++symbols;
        std::uint64_t carry = 0;
        for (std::size_t w = 0; w < words; ++w) {
            const std::uint64_t x = v[w];
            const std::uint64_t u = x & row[w];
            const std::uint64_t s1 = x + u;
            const std::uint64_t c1 = s1 < x;
            const std::uint64_t s2 = s1 + carry;
            carry = c1 | (s2 < s1);
            v[w] = s2 | (x - u);
        }
    }
    std::size_t lcs = 0;
    const std::size_t len = p.size();
    for (std::size_t w = 0; w < words; ++w) {
        std::uint64_t zeros = ~v[w];
        const std::size_t bits = len - w * 64;
        if (bits < 64) zeros &= (std::uint64_t{1} << bits) - 1;
        lcs += static_cast<std::size_t>(swar_popcount(zeros));
    }
    return lcs;
}

}  // namespace

IndelQuery::IndelQuery(Text query) {
    if (is_ascii(query)) {
        len_ = query.size;
        prepare_lanes(byte_seq(query));
        if (len_ <= 64) {
            mode_ = Mode::ascii_word;
            for (std::size_t i = 0; i < len_; ++i) peq_[query.bytes()[i]] |= std::uint64_t{1} << i;
        } else {
            mode_ = Mode::ascii_block;
            block_.assign(byte_seq(query));
        }
    } else {
        const std::vector<std::uint32_t> cps = decode_utf8(query);
        len_ = cps.size();
        prepare_lanes(cp_seq(cps));
        const bool narrow =
            std::all_of(cps.begin(), cps.end(), [](std::uint32_t c) { return c < 256; });
        if (len_ <= 64) {
            mode_ = Mode::cp_word;
            for (std::size_t i = 0; i < len_; ++i)
                if (cps[i] < 256) peq_[cps[i]] |= std::uint64_t{1} << i;
            if (!narrow) {
                block_.assign(cp_seq(cps));  // one word; rows of symbols >= 256
                for (const std::uint32_t c : cps)
                    if (c >= 256) wide_filter_[(c & 4095) >> 6] |= std::uint64_t{1} << (c & 63);
            }
        } else {
            mode_ = Mode::cp_block;
            block_.assign(cp_seq(cps));
        }
    }
    len_mask_ = len_ >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << len_) - 1;
}

std::size_t IndelQuery::lcs_of(Text choice, std::size_t& choice_len) const {
    const std::uint8_t* s = choice.bytes();
    const std::size_t size = choice.size;
    switch (mode_) {
        case Mode::ascii_word: {
            std::uint64_t v = ~std::uint64_t{0};
            std::size_t cont = 0;
            for (std::size_t j = 0; j < size; ++j) {
                const std::uint8_t b = s[j];
                cont += is_continuation(b);
                v = lcs_step(v, peq_[b]);
            }
            choice_len = size - cont;
            return static_cast<std::size_t>(swar_popcount(~v & len_mask_));
        }
        case Mode::cp_word: {
            std::uint64_t v = ~std::uint64_t{0};
            std::size_t m = 0;
            for (std::size_t i = 0; i < size; ++m) {
                std::uint64_t mask;
                if (s[i] < 0x80) {
                    mask = peq_[s[i]];
                    ++i;
                } else {
                    const std::uint32_t c = next_code_point(s, i);
                    if (c < 256) {
                        mask = peq_[c];
                    } else {
                        // Most wide symbols of a choice are absent from the query: the
                        // filter answers that without a hash probe.
                        const std::uint32_t h = c & 4095;
                        mask = (wide_filter_[h >> 6] >> (h & 63)) & 1 ? block_.get(0, c) : 0;
                    }
                }
                v = lcs_step(v, mask);
            }
            choice_len = m;
            return static_cast<std::size_t>(swar_popcount(~v & len_mask_));
        }
        case Mode::ascii_block: {
            const BlockPattern& p = block_;
            return lcs_words(
                p, size,
                [&](std::size_t& i) -> const std::uint64_t* {
                    const std::uint8_t b = s[i++];
                    return is_continuation(b) ? nullptr : p.row(b);
                },
                choice_len);
        }
        case Mode::cp_block: {
            const BlockPattern& p = block_;
            if (p.blocked()) {
                BlockPattern::Rows rows(p);
                return lcs_words(
                    p, size,
                    [&](std::size_t& i) -> const std::uint64_t* {
                        return rows(next_code_point(s, i));
                    },
                    choice_len);
            }
            return lcs_words(
                p, size,
                [&](std::size_t& i) -> const std::uint64_t* {
                    return p.row(next_code_point(s, i));
                },
                choice_len);
        }
    }
    return 0;
}

double IndelQuery::score(Text choice) const {
    if (mode_ == Mode::ascii_word) {
        double r;
        dispatch::kernels().indel_ratio_word_many(peq_, len_, &choice, 1, &r);
        return r;
    }
    std::size_t m = 0;
    const std::size_t lcs = lcs_of(choice, m);
    return ratio_from_lcs(len_, m, lcs);
}

void IndelQuery::score_many(const Text* choices, std::size_t count, double* out) const {
    if (lanes_) {
        score_many_lanes(choices, count, out);
        return;
    }
    if (mode_ == Mode::ascii_word) {
        dispatch::kernels().indel_ratio_word_many(peq_, len_, choices, count, out);
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (len_ > 1024) engine::interruption_point();  // long queries: each choice is slow
        out[i] = score(choices[i]);
    }
}

// The lane kernels pay one byte compare per distinct query symbol for every 4 (or 2)
// choices and stream the query cheaply; on city and person names they beat the one-word
// kernel even for queries of 40 distinct symbols, so every query takes them. A non-ASCII
// query symbol becomes 0x80, a byte no ASCII choice holds: such a query runs its ASCII
// choices through the lanes, where the symbol matches nothing, exactly as it should.
template <typename CharT>
void IndelQuery::prepare_lanes(Seq<CharT> query) {
    const auto& kt = dispatch::kernels();
    if (!kt.indel_lanes[0] || !kt.indel_lanes[1]) return;
    query_ascii_ = sizeof(CharT) == 1;
    std::int16_t slot_of[129];
    std::fill(std::begin(slot_of), std::end(slot_of), std::int16_t{-1});
    slots_.resize(query.size);
    for (std::size_t i = 0; i < query.size; ++i) {
        const auto cp = static_cast<std::uint32_t>(query[i]);
        const std::uint8_t c = cp < 128 ? static_cast<std::uint8_t>(cp) : std::uint8_t{0x80};
        if (slot_of[c] < 0) {
            slot_of[c] = static_cast<std::int16_t>(distinct_.size());
            distinct_.push_back(c);
        }
        slots_[i] = static_cast<std::uint8_t>(slot_of[c]);
    }
    lanes_ = true;
}

void IndelQuery::score_many_lanes(const Text* choices, std::size_t count, double* out) const {
    const auto& kt = dispatch::kernels();
    constexpr std::size_t kSub = 256;
    Text group[3][kSub];           // lane choices of at most 16 bytes, at most 32; the others
    std::uint32_t where[3][kSub];  // offsets within the current sub-block
    double r[kSub];
    for (std::size_t lo = 0; lo < count; lo += kSub) {
        const std::size_t cnt = std::min(kSub, count - lo);
        std::size_t fill[3] = {0, 0, 0};
        for (std::size_t k = 0; k < cnt; ++k) {
            const Text c = choices[lo + k];
            int g = c.size <= 16 ? 0 : c.size <= 32 ? 1 : 2;
            if (g < 2 && !query_ascii_ && !is_ascii(c)) g = 2;
            group[g][fill[g]] = c;
            where[g][fill[g]++] = static_cast<std::uint32_t>(k);
        }
        for (int g = 0; g < 2; ++g) {
            if (!fill[g]) continue;
            kt.indel_lanes[g](distinct_.data(), distinct_.size(), slots_.data(), len_, group[g],
                              fill[g], r);
            for (std::size_t k = 0; k < fill[g]; ++k) out[lo + where[g][k]] = r[k];
        }
        if (fill[2]) {
            if (mode_ == Mode::ascii_word) {
                kt.indel_ratio_word_many(peq_, len_, group[2], fill[2], r);
            } else {
                for (std::size_t k = 0; k < fill[2]; ++k) r[k] = score(group[2][k]);
            }
            for (std::size_t k = 0; k < fill[2]; ++k) out[lo + where[2][k]] = r[k];
        }
    }
}

engine::ScratchVector<double> ratio_batch(Text query, std::span<const Text> choices) {
    engine::ScratchVector<double> out(choices.size());
    if (choices.empty()) return out;
    const IndelQuery q(query);
    engine::parallel_for(choices.size(), [&](std::size_t b, std::size_t e) {
        for (std::size_t lo = b; lo < e; lo += kBlock) {
            if (lo != b) engine::interruption_point();
            q.score_many(choices.data() + lo, std::min(kBlock, e - lo), out.data() + lo);
        }
    });
    return out;
}

namespace {

// Best first; equal scores by increasing index. A strict total order, so the selection and
// the sort agree with a stable sort of the index-ordered list.
struct Better {
    bool operator()(const ExtractMatch& x, const ExtractMatch& y) const {
        return x.score > y.score || (x.score == y.score && x.index < y.index);
    }
};

// Scores choices [b, e) and appends the kept ones in index order. Once a run holds far
// more than `limit` entries it keeps only its best `limit`: the best `limit` of the whole
// kept list are always among the best `limit` of each run, so the result is unchanged,
// and afterwards a later choice (higher index) must beat the run's limit-th best score.
void score_and_keep(const IndelQuery& q, std::span<const Text> choices, std::size_t b,
                    std::size_t e, double cutoff, std::uint64_t limit,
                    std::vector<ExtractMatch>& kept) {
    constexpr std::size_t kSlack = 1024;
    const bool prune = limit <= (std::size_t{1} << 20);
    double floor_score = -1.0;  // scores must exceed this once the run was cut
    bool cut = false;
    double scores[kBlock];
    for (std::size_t lo = b; lo < e; lo += kBlock) {
        const std::size_t cnt = std::min(kBlock, e - lo);
        if (lo != b) engine::interruption_point();
        q.score_many(choices.data() + lo, cnt, scores);
        for (std::size_t k = 0; k < cnt; ++k) {
            const double s = scores[k];
            if (s >= cutoff && (!cut || s > floor_score)) kept.push_back(ExtractMatch{s, lo + k});
        }
        if (prune && kept.size() >= 2 * limit + kSlack) {
            const auto last = kept.begin() + static_cast<std::ptrdiff_t>(limit - 1);
            std::nth_element(kept.begin(), last, kept.end(), Better{});
            kept.erase(last + 1, kept.end());
            floor_score = last->score;
            cut = true;
        }
    }
}

}  // namespace

std::vector<ExtractMatch> extract(Text query, std::span<const Text> choices, double score_cutoff,
                                  std::uint64_t limit) {
    std::vector<ExtractMatch> kept;
    // No score exceeds 100, so such a cutoff (or NaN) keeps nothing.
    if (choices.empty() || limit == 0 || !(score_cutoff <= 100.0)) return kept;
    const IndelQuery q(query);
    if (choices.size() <= kExtractSerialMax) {
        score_and_keep(q, choices, 0, choices.size(), score_cutoff, limit, kept);
    } else {
        kept = engine::parallel_filter_collect_ranges<ExtractMatch>(
            choices.size(), [&](std::size_t b, std::size_t e, std::vector<ExtractMatch>& out) {
                score_and_keep(q, choices, b, e, score_cutoff, limit, out);
            });
    }
    if (limit < kept.size()) {
        const auto cut = kept.begin() + static_cast<std::ptrdiff_t>(limit);
        std::nth_element(kept.begin(), cut, kept.end(), Better{});
        kept.erase(cut, kept.end());
    }
    std::sort(kept.begin(), kept.end(), Better{});
    return kept;
}

std::optional<ExtractMatch> extract_one(Text query, std::span<const Text> choices,
                                        double score_cutoff) {
    std::optional<ExtractMatch> best;
    if (choices.empty() || !(score_cutoff <= 100.0)) return best;
    const IndelQuery q(query);
    // Scores are computed a small block ahead (the interleaved kernel needs several
    // choices at once) and then taken strictly in index order, so the first kept 100.0
    // still ends the scan and no later choice can affect the result.
    constexpr std::size_t kOneBlock = 64;
    double scores[kOneBlock];
    for (std::size_t lo = 0; lo < choices.size(); lo += kOneBlock) {
        const std::size_t cnt = std::min(kOneBlock, choices.size() - lo);
        if (lo % (8 * kOneBlock) == 8 * kOneBlock - kOneBlock) engine::interruption_point();
        q.score_many(choices.data() + lo, cnt, scores);
        for (std::size_t k = 0; k < cnt; ++k) {
            const double s = scores[k];
            if (s >= score_cutoff && (!best || s > best->score)) {
                best = ExtractMatch{s, lo + k};
                if (s == 100.0) return best;
            }
        }
    }
    return best;
}

}  // namespace tarnvel::core
