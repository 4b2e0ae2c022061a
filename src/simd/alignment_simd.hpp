// Exact Needleman-Wunsch kernels over a vector-operations struct: striped sweeps (every
// linear pair, affine pairs in 16- and 32-bit lanes), the anti-diagonal affine sweep for
// 64-bit lanes, and lane groups for batches; included by alignment_avx2.cpp and
// alignment_avx512.cpp inside their target region and namespace, so every instantiation
// is compiled for (and private to) one target.
//
// The anti-diagonal sweep is that of core/alignment/alignment_kernels.hpp (horizontal
// stripes, anti-diagonals indexed by the row), with one difference that matters for
// speed: every vector of a diagonal is loaded by the next diagonal at exactly the address
// and width it was stored with, and the neighbour one row up is formed in registers
// (Ops::shift_in) instead of by an unaligned reload. An unaligned load that overlaps two
// stores still in flight cannot be forwarded and stalls.
// Blocks of L rows start at row 1; a diagonal computes the blocks that hold its valid rows
// (its first rows may be columns beyond m and its last ones rows below the diagonal: such
// cells are garbage that no valid cell reads). The column-0 cell of a diagonal (row d) is
// produced in the vector by a blend, so no scalar store ever lands inside a vector.
//
// Ops provides: T (lane integer), S (symbol), V (vector), L (lanes), load, store, set1,
// add, max, select_eq(a, b, if_equal, otherwise), shift_in(prev, cur) (lane 0 from the
// last lane of prev, lane j from lane j - 1 of cur), steps(x) (lane j = j x) and
// blend_from(rows, d, x, y) (x in lanes whose row is >= d, else y), and for the striped
// and group kernels load_sym, eq_select(x, y, if_equal, otherwise) and any_gt(x, y) (some
// lane of x exceeds y).
// Requires the headers of alignment_kernels.hpp (stripe_rows, lane_pad) to be included.

// Affine: per diagonal the states X, Y, MX = max(M, X), MY = max(M, Y) and
// T = max(M, X, Y). X(r, k) = max(X(r-1, k) + e, MY(r-1, k) + (o + e)) takes the row above,
// Y(r, k) = max(Y(r, k-1) + e, MX(r, k-1) + (o + e)) the same row of the previous
// diagonal, M(r, k) = T(r-1, k-1) + s the row above on the diagonal before. Exact
// arithmetic makes max(M, Y) + (o + e) equal to max((M + o) + e, (Y + o) + e).
// A diagonal stores its five vectors of a block next to each other (block-major), so all
// of them are addressed from one pointer per diagonal. A stripe hands X, MY and T of its
// last row to the next one.
template <class Ops>
typename Ops::T nw_affine_blocks(const typename Ops::S* a, std::size_t n,
                                 const typename Ops::S* rb, std::size_t m,
                                 const typename Ops::T* scores, typename Ops::T* work) {
    using T = typename Ops::T;
    using V = typename Ops::V;
    constexpr std::size_t L = Ops::L;
    enum : std::size_t { kX = 0, kY = L, kMX = 2 * L, kMY = 3 * L, kT = 4 * L, kBlock = 5 * L };
    const T open = scores[2], extend = scores[3], neg = scores[4];
    const V vmatch = Ops::set1(scores[0]), vmismatch = Ops::set1(scores[1]);
    const V vext = Ops::set1(extend);
    const V vopen_ext = Ops::set1(static_cast<T>(open + extend));
    const V vneg = Ops::set1(neg);
    const V ext_steps = Ops::steps(extend);
    const V row_steps = Ops::steps(1);
    const auto gap_run = [open, extend](std::size_t k) {
        return static_cast<T>(static_cast<std::int64_t>(open) +
                              static_cast<std::int64_t>(extend) * static_cast<std::int64_t>(k));
    };
    const std::size_t hmax = n < core::detail::stripe_rows<T>() ? n : core::detail::stripe_rows<T>();
    const std::size_t w = core::detail::diagonal_stride<T>(hmax);
    // One set per diagonal: blocks of five vectors, plus a cache line so that the sets do
    // not sit a multiple of 4 KiB apart.
    const std::size_t set_cells = ((hmax - 1) / L + 1) * kBlock + 64 / sizeof(T);
    T* rx = work + 15 * w;
    T* rmy = rx + (m + 1);
    T* rt = rmy + (m + 1);
    rx[0] = neg;
    rmy[0] = 0;
    rt[0] = 0;
    for (std::size_t k = 1; k <= m; ++k) {
        rx[k] = neg;
        rmy[k] = rt[k] = gap_run(k);
    }
    // Cell of row r (>= 1) in a set.
    const auto at = [](std::size_t r, std::size_t field) {
        return (r - 1) / L * kBlock + field + (r - 1) % L;
    };
    for (std::size_t i0 = 0; i0 < n; i0 += hmax) {
        const std::size_t h = n - i0 < hmax ? n - i0 : hmax;
        const typename Ops::S* as = a + i0;
        T* set2 = work;
        T* set1 = work + set_cells;
        T* set0 = work + 2 * set_cells;
        T top_x = rx[0], top_my = rmy[0], top_t1 = rt[0], top_t2 = 0;
        for (std::size_t d = 1; d <= h + m; ++d) {
            const std::size_t lo = d > m ? d - m : 1;
            const std::size_t last = d <= h ? d : h;
            const std::size_t kb = (lo - 1) / L, ke = (last - 1) / L;
            V prev_x, prev_my, prev_t;
            if (kb == 0) {
                prev_x = Ops::set1(top_x);
                prev_my = Ops::set1(top_my);
                prev_t = Ops::set1(top_t2);
            } else {
                prev_x = Ops::load(set1 + (kb - 1) * kBlock + kX);
                prev_my = Ops::load(set1 + (kb - 1) * kBlock + kMY);
                prev_t = Ops::load(set2 + (kb - 1) * kBlock + kT);
            }
            for (std::size_t k = kb; k <= ke; ++k) {
                const std::size_t r0 = 1 + k * L;
                const T* b1 = set1 + k * kBlock;
                const T* b2 = set2 + k * kBlock;
                T* b0 = set0 + k * kBlock;
                const V lx = Ops::load(b1 + kX);
                const V lmy = Ops::load(b1 + kMY);
                const V lt = Ops::load(b2 + kT);
                const V up_x = Ops::shift_in(prev_x, lx);
                const V up_my = Ops::shift_in(prev_my, lmy);
                const V dg_t = Ops::shift_in(prev_t, lt);
                const V s = Ops::select_eq(as + r0 - 1, rb + (m + r0) - d, vmatch, vmismatch);
                const V vm = Ops::add(dg_t, s);
                V vx = Ops::max(Ops::add(up_x, vext), Ops::add(up_my, vopen_ext));
                V vy = Ops::max(Ops::add(Ops::load(b1 + kY), vext),
                                Ops::add(Ops::load(b1 + kMX), vopen_ext));
                V vmx = Ops::max(vm, vx);
                V vmy = Ops::max(vm, vy);
                V vt = Ops::max(vmx, vy);
                if (d <= h && k == ke) {
                    const V rows = Ops::add(Ops::set1(static_cast<T>(r0)), row_steps);
                    const V edge = Ops::add(Ops::set1(gap_run(i0 + r0)), ext_steps);
                    const T dd = static_cast<T>(d);
                    vx = Ops::blend_from(rows, dd, edge, vx);
                    vy = Ops::blend_from(rows, dd, vneg, vy);
                    vmx = Ops::blend_from(rows, dd, edge, vmx);
                    vmy = Ops::blend_from(rows, dd, edge, vmy);
                    vt = Ops::blend_from(rows, dd, edge, vt);
                }
                Ops::store(b0 + kX, vx);
                Ops::store(b0 + kY, vy);
                Ops::store(b0 + kMX, vmx);
                Ops::store(b0 + kMY, vmy);
                Ops::store(b0 + kT, vt);
                prev_x = lx;
                prev_my = lmy;
                prev_t = lt;
            }
            if (d >= h) {
                rx[d - h] = set0[at(h, kX)];
                rmy[d - h] = set0[at(h, kMY)];
                rt[d - h] = set0[at(h, kT)];
            }
            top_t2 = top_t1;
            if (d <= m) {
                top_x = rx[d];
                top_my = rmy[d];
                top_t1 = rt[d];
            }
            T* t = set2;
            set2 = set1;
            set1 = set0;
            set0 = t;
        }
    }
    return rt[m];
}

// One query against a group of up to L candidates, one candidate per lane (Rognes 2011):
// the rows run over the query, the columns over the candidates, whose symbols are given
// transposed (column j of every lane in cs[j L .. j L + L - 1]). Lanes shorter than the
// longest candidate compute garbage in their extra columns, which lie to the right of
// their own last column and so never reach it. up holds one vector per column.
// out[l] = score of lane l, read at column lens[l] after the last row.
template <class Ops>
void nw_linear_group(const typename Ops::S* q, std::size_t n, const typename Ops::S* cs,
                     const std::size_t* lens, std::size_t count, std::size_t cols,
                     const typename Ops::T* scores, typename Ops::T* up,
                     typename Ops::T* out) {
    using T = typename Ops::T;
    using V = typename Ops::V;
    constexpr std::size_t L = Ops::L;
    const T gap = scores[2];
    const V vmatch = Ops::set1(scores[0]), vmismatch = Ops::set1(scores[1]);
    const V vgap = Ops::set1(gap);
    for (std::size_t j = 0; j <= cols; ++j)
        Ops::store(up + j * L, Ops::set1(static_cast<T>(static_cast<std::int64_t>(gap) *
                                                        static_cast<std::int64_t>(j))));
    for (std::size_t i = 1; i <= n; ++i) {
        const V qc = Ops::set1(static_cast<T>(q[i - 1]));
        V diag = Ops::load(up);
        V left = Ops::set1(static_cast<T>(static_cast<std::int64_t>(gap) *
                                          static_cast<std::int64_t>(i)));
        Ops::store(up, left);
        for (std::size_t j = 1; j <= cols; ++j) {
            const V s = Ops::eq_select(Ops::load_sym(cs + (j - 1) * L), qc, vmatch, vmismatch);
            const V u = Ops::load(up + j * L);
            const V h = Ops::max(Ops::add(diag, s), Ops::add(Ops::max(u, left), vgap));
            Ops::store(up + j * L, h);
            diag = u;
            left = h;
        }
    }
    for (std::size_t l = 0; l < count; ++l) out[l] = up[lens[l] * L + l];
}

// Affine: three vectors per column (M, X, Y of the row above), Gotoh's recurrence with the
// diagonal and left states in registers, as the row loop of the definition does.
template <class Ops>
void nw_affine_group(const typename Ops::S* q, std::size_t n, const typename Ops::S* cs,
                     const std::size_t* lens, std::size_t count, std::size_t cols,
                     const typename Ops::T* scores, typename Ops::T* up,
                     typename Ops::T* out) {
    using T = typename Ops::T;
    using V = typename Ops::V;
    constexpr std::size_t L = Ops::L;
    const T open = scores[2], extend = scores[3], neg = scores[4];
    const V vmatch = Ops::set1(scores[0]), vmismatch = Ops::set1(scores[1]);
    const V vext = Ops::set1(extend);
    const V vopen_ext = Ops::set1(static_cast<T>(open + extend));
    const V vneg = Ops::set1(neg);
    const auto gap_run = [open, extend](std::size_t k) {
        return static_cast<T>(static_cast<std::int64_t>(open) +
                              static_cast<std::int64_t>(extend) * static_cast<std::int64_t>(k));
    };
    // Column j: M at up[3jL], X at up[(3j + 1)L], Y at up[(3j + 2)L].
    Ops::store(up, Ops::set1(0));
    Ops::store(up + L, vneg);
    Ops::store(up + 2 * L, vneg);
    for (std::size_t j = 1; j <= cols; ++j) {
        const V g = Ops::set1(gap_run(j));
        Ops::store(up + 3 * j * L, g);
        Ops::store(up + (3 * j + 1) * L, vneg);
        Ops::store(up + (3 * j + 2) * L, g);
    }
    for (std::size_t i = 1; i <= n; ++i) {
        const V qc = Ops::set1(static_cast<T>(q[i - 1]));
        V dm = Ops::load(up), dx = Ops::load(up + L), dy = Ops::load(up + 2 * L);
        const V g = Ops::set1(gap_run(i));
        V lm = g, lx = g, ly = vneg;
        Ops::store(up, lm);
        Ops::store(up + L, lx);
        Ops::store(up + 2 * L, ly);
        for (std::size_t j = 1; j <= cols; ++j) {
            T* cell = up + 3 * j * L;
            const V s = Ops::eq_select(Ops::load_sym(cs + (j - 1) * L), qc, vmatch, vmismatch);
            const V um = Ops::load(cell), ux = Ops::load(cell + L), uy = Ops::load(cell + 2 * L);
            const V vm = Ops::add(Ops::max(Ops::max(dm, dx), dy), s);
            const V vx = Ops::max(Ops::add(ux, vext), Ops::add(Ops::max(um, uy), vopen_ext));
            const V vy = Ops::max(Ops::add(ly, vext), Ops::add(Ops::max(lm, lx), vopen_ext));
            Ops::store(cell, vm);
            Ops::store(cell + L, vx);
            Ops::store(cell + 2 * L, vy);
            dm = um;
            dx = ux;
            dy = uy;
            lm = vm;
            lx = vx;
            ly = vy;
        }
    }
    for (std::size_t l = 0; l < count; ++l) {
        const T* cell = up + 3 * lens[l] * L + l;
        T best = cell[0] < cell[L] ? cell[L] : cell[0];
        out[l] = best < cell[2 * L] ? cell[2 * L] : best;
    }
}

// ---------------------------------------------------------------------------------------
// Striped kernels (Farrar 2007): the longer text is the query, laid out so that vector
// segment s, lane l holds query position l * seg + s (seg = ceil(Q / L)); the other text
// is swept one column at a time. Scores come from a query profile (one row of striped
// match/mismatch scores per distinct query symbol, built once per call) or, for a query
// with too many distinct symbols, from comparing the striped query symbols directly.
//
// Which text is the query does not change the score: the recurrence is symmetric in the
// two texts (the affine X and Y swap roles) and in reading both texts backwards, and the
// lane kernels compute the exact maximum over alignments (alignment.cpp proves that no
// value leaves the lane). a is given forwards and b reversed, so the query is either a
// (columns: b, read from the end of rb) or rb (columns: a read backwards).
//
// Values inside a column that depend on the cell above (F, the vertical gap) are first
// computed from a lower bound at each lane's first segment, then fixed by the lazy-F loop:
// the carried value is shifted one lane down and pushed through the segments while any
// lane still improves a cell. Every value formed is the score of a path through the
// table that is at most two steps worse than a true cell value (or, in the affine case,
// the unreachable value plus one extension), so the bounds of alignment.cpp cover them.
// Query positions past Q (the padding of the last lanes) only ever feed later positions;
// their values are never read. A chain crosses at most L - 1 lane boundaries, so L sweeps
// always suffice, which also bounds the loop whatever the padding holds.

template <class Ops>
struct StripedQuery {
    using T = typename Ops::T;
    using S = typename Ops::S;
    std::size_t q_len = 0;
    std::size_t seg = 0;          // vectors per column
    std::size_t rows = 0;         // profile rows in use; 0: compare symbols instead
    const S* symbols = nullptr;   // striped query symbols, seg vectors
    const T* profile = nullptr;   // rows x seg vectors; the last row is all mismatches
    S sym[core::detail::kProfileSymbols] = {};
    std::uint8_t small[256] = {};

    // Profile row of a symbol (call only with a profile).
    std::size_t row_index(S c) const {
        if (c < 256) return small[c];
        for (std::size_t k = 0; k + 1 < rows; ++k)
            if (sym[k] == c) return k;
        return rows - 1;
    }
    const T* row_of(S c) const { return profile + row_index(c) * seg * Ops::L; }
};

// Lays out the query (Q symbols from q) in `cells` cells of T at work, which must hold
// core::detail::striped_query_cells<T>(Q).
template <class Ops>
StripedQuery<Ops> striped_query(const typename Ops::S* q, std::size_t q_len,
                                typename Ops::T match, typename Ops::T mismatch,
                                typename Ops::T* work) {
    using T = typename Ops::T;
    using S = typename Ops::S;
    static_assert(sizeof(T) == sizeof(S), "symbols share the cell layout");
    constexpr std::size_t L = Ops::L;
    StripedQuery<Ops> sq;
    sq.q_len = q_len;
    sq.seg = (q_len + L - 1) / L;
    const std::size_t cells = sq.seg * L;
    const std::size_t stride = core::detail::striped_array_cells<T>(q_len);
    S* syms = reinterpret_cast<S*>(work);
    for (std::size_t s = 0; s < sq.seg; ++s)
        for (std::size_t l = 0; l < L; ++l) {
            const std::size_t p = l * sq.seg + s;
            syms[s * L + l] = p < q_len ? q[p] : S{0};
        }
    sq.symbols = syms;
    // Distinct symbols in order of appearance; symbols below 256 are found by table.
    constexpr std::uint8_t kUnseen = 0xFF;
    for (std::size_t c = 0; c < 256; ++c) sq.small[c] = kUnseen;
    std::size_t count = 0;
    for (std::size_t p = 0; p < q_len; ++p) {
        const S c = q[p];
        if (c < 256) {
            if (sq.small[c] != kUnseen) continue;
        } else {
            std::size_t k = 0;
            while (k < count && sq.sym[k] != c) ++k;
            if (k < count) continue;
        }
        if (count == core::detail::kProfileSymbols) return sq;  // compare symbols instead
        if (c < 256) sq.small[c] = static_cast<std::uint8_t>(count);
        sq.sym[count++] = c;
    }
    for (std::size_t c = 0; c < 256; ++c)
        if (sq.small[c] == kUnseen) sq.small[c] = static_cast<std::uint8_t>(count);
    sq.rows = count + 1;
    T* prof = work + stride;
    sq.profile = prof;
    for (std::size_t t = 0; t < sq.rows * cells; ++t) prof[t] = mismatch;
    for (std::size_t s = 0; s < sq.seg; ++s)
        for (std::size_t l = 0; l < L; ++l) {
            const std::size_t p = l * sq.seg + s;
            if (p < q_len) prof[sq.row_index(q[p]) * cells + s * L + l] = match;
        }
    return sq;
}

// Cell of query position p (0-based) in a striped column.
template <class Ops>
std::size_t striped_cell(const StripedQuery<Ops>& sq, std::size_t p) {
    return p % sq.seg * Ops::L + p / sq.seg;
}

// The query is swept in horizontal stripes of at most stripe_rows<T>() positions (a
// multiple of every L), so that a stripe's columns stay in the first-level cache. A
// stripe receives, per column j of the other text, top_h[j] = H(i0, j) (the row above
// it) and, affine, top_x[j] = X(i0 + 1, j); it hands on the same for its last row, which
// is the last cell of lane L - 1 because only the final stripe is shorter.
template <class T>
struct StripeEdge {
    T* top_h;  // c_len + 1 cells
    T* top_x;  // c_len + 1 cells (affine)
    std::size_t i0;  // rows above the stripe
    bool last;
};

// Linear gap: H(i, j) = max(H(i-1, j-1) + s, H(i, j-1) + g, H(i-1, j) + g). The lower
// bound for the first segment of each lane is H(i-1, j-1) + 2g (a gap in each text),
// which in lane 0 is exactly F(i0 + 1, j) = H(i0, j) + g.
// cols: the other text, read backwards (column j is cols[c_len - j]).
template <class Ops, bool kProfile>
typename Ops::T linear_striped_sweep(const StripedQuery<Ops>& sq, const typename Ops::S* cols,
                                     std::size_t c_len, const typename Ops::T* scores,
                                     typename Ops::T* hp, typename Ops::T* hc,
                                     StripeEdge<typename Ops::T> edge) {
    using T = typename Ops::T;
    using V = typename Ops::V;
    constexpr std::size_t L = Ops::L;
    const std::size_t seg = sq.seg;
    const T gap = scores[2];
    const V vgap = Ops::set1(gap);
    const V vmatch = Ops::set1(scores[0]), vmismatch = Ops::set1(scores[1]);
    // Wrapping: padding positions may leave the range, real ones never do.
    const auto times = [gap](std::size_t k) {
        return static_cast<T>(static_cast<std::uint64_t>(static_cast<std::int64_t>(gap)) *
                              static_cast<std::uint64_t>(k));
    };
    for (std::size_t s = 0; s < seg; ++s)
        for (std::size_t l = 0; l < L; ++l) hp[s * L + l] = times(edge.i0 + l * seg + s + 1);
    T* const top_h = edge.top_h;
    for (std::size_t j = 1; j <= c_len; ++j) {
        const typename Ops::S c = cols[c_len - j];
        const T* prow = nullptr;
        V vc{};
        if constexpr (kProfile) prow = sq.row_of(c);
        else vc = Ops::set1(static_cast<T>(c));
        const V top_f = Ops::set1(static_cast<T>(top_h[j] + gap));  // F(i0 + 1, j)
        V diag = Ops::shift_in(Ops::set1(top_h[j - 1]), Ops::load(hp + (seg - 1) * L));
        V f = Ops::add(Ops::add(diag, vgap), vgap);
        for (std::size_t s = 0; s < seg; ++s) {
            V score;
            if constexpr (kProfile) score = Ops::load(prow + s * L);
            else score = Ops::eq_select(Ops::load_sym(sq.symbols + s * L), vc, vmatch, vmismatch);
            const V left = Ops::load(hp + s * L);
            V h = Ops::max(Ops::add(diag, score), Ops::add(left, vgap));
            h = Ops::max(h, f);
            Ops::store(hc + s * L, h);
            f = Ops::add(h, vgap);
            diag = left;
        }
        f = Ops::shift_in(top_f, f);
        for (std::size_t sweep = 0; sweep < L; ++sweep) {
            std::size_t s = 0;
            for (; s < seg; ++s) {
                const V h = Ops::load(hc + s * L);
                if (!Ops::any_gt(f, h)) break;
                const V nh = Ops::max(h, f);
                Ops::store(hc + s * L, nh);
                f = Ops::add(nh, vgap);
            }
            if (s < seg) break;
            f = Ops::shift_in(top_f, f);
        }
        // Column j - 1 of the row above is no longer needed: hand on this stripe's last row.
        if (!edge.last) top_h[j - 1] = j == 1 ? times(edge.i0 + seg * L) : hp[seg * L - 1];
        T* t = hp;
        hp = hc;
        hc = t;
    }
    if (!edge.last) {
        top_h[c_len] = hp[seg * L - 1];
        return 0;
    }
    return hp[striped_cell(sq, sq.q_len - 1)];
}

// Lays out the work space of a striped kernel: the query of one stripe, `arrays` column
// arrays, and the two edge rows.
template <class T>
struct StripedWork {
    T* query;
    T* arrays;
    std::size_t stride;
    T* top_h;
    T* top_x;
};
template <class T>
StripedWork<T> striped_work(T* work, std::size_t q_len, std::size_t c_len, std::size_t arrays) {
    const std::size_t rows = core::detail::striped_rows<T>(q_len);
    StripedWork<T> w;
    w.query = work;
    w.stride = core::detail::striped_array_cells<T>(rows);
    w.arrays = work + core::detail::striped_query_cells<T>(rows);
    w.top_h = w.arrays + arrays * w.stride;
    w.top_x = w.top_h + (c_len + 1);
    return w;
}

template <class Ops>
typename Ops::T nw_linear_striped(const typename Ops::S* a, std::size_t n,
                                  const typename Ops::S* rb, std::size_t m,
                                  const typename Ops::T* scores, typename Ops::T* work) {
    using T = typename Ops::T;
    // Columns read backwards: b forwards from rb, or a backwards (with b reversed as the
    // query, the table is that of both texts reversed).
    const bool a_query = n >= m;
    const std::size_t q_len = a_query ? n : m, c_len = a_query ? m : n;
    const typename Ops::S* q = a_query ? a : rb;
    const typename Ops::S* cols = a_query ? rb : a;
    const StripedWork<T> w = striped_work(work, q_len, c_len, 2);
    const T gap = scores[2];
    for (std::size_t k = 0; k <= c_len; ++k)
        w.top_h[k] = static_cast<T>(static_cast<std::int64_t>(gap) * static_cast<std::int64_t>(k));
    const std::size_t rows = core::detail::striped_rows<T>(q_len);
    T result = 0;
    for (std::size_t i0 = 0; i0 < q_len; i0 += rows) {
        const std::size_t h = q_len - i0 < rows ? q_len - i0 : rows;
        const StripedQuery<Ops> sq = striped_query<Ops>(q + i0, h, scores[0], scores[1], w.query);
        const StripeEdge<T> edge{w.top_h, w.top_x, i0, i0 + h == q_len};
        result = sq.rows != 0 ? linear_striped_sweep<Ops, true>(sq, cols, c_len, scores, w.arrays,
                                                                w.arrays + w.stride, edge)
                              : linear_striped_sweep<Ops, false>(sq, cols, c_len, scores,
                                                                 w.arrays, w.arrays + w.stride,
                                                                 edge);
    }
    return result;
}

// Affine gap, Gotoh's states as in nw_affine_blocks: per column the kernel keeps H
// (= max(M, X, Y)), Y and MX = max(M, X) for the next column. Along the column only X
// depends on the cell above: X(i, j) = max(X(i-1, j) + e, MY(i-1, j) + (o + e)), and
// MY = max(M, Y) does not depend on X. Vertical gap runs are long in a global table (far
// from the main diagonal they cross whole lanes), so instead of a lazy loop X is solved
// exactly with a prefix scan (Daily 2016): the first pass computes Y and runs the X chain
// of each lane from the unreachable value; the value each lane hands on is then
// max(its own chain, what it received + seg x e), a scan over the L lanes in 64-bit
// scalars; the second pass recomputes M and MY, reruns the chain from the exact value
// each lane receives and writes MX and H. In lane 0 the received value is the stripe's
// top_x (on row 0, M = Y = G(j), so X(1, j) = G(j) + (o + e)). The scan's sums stay in
// 64 bits and what it hands to the lanes is an exact X value, so nothing leaves the lane.
// Only for 16- and 32-bit lanes, where `neg` lies below every real value (alignment.cpp);
// 64-bit lanes keep NW_NEG, which a real value may fall below, so they stay on the
// anti-diagonal kernel.
template <class Ops, bool kProfile>
typename Ops::T affine_striped_sweep(const StripedQuery<Ops>& sq, const typename Ops::S* cols,
                                     std::size_t c_len, const typename Ops::T* scores,
                                     typename Ops::T* arrays, std::size_t stride,
                                     StripeEdge<typename Ops::T> edge) {
    using T = typename Ops::T;
    using V = typename Ops::V;
    constexpr std::size_t L = Ops::L;
    const std::size_t seg = sq.seg;
    const T match = scores[0], mismatch = scores[1], open = scores[2], extend = scores[3],
            neg = scores[4];
    const V vmatch = Ops::set1(match), vmismatch = Ops::set1(mismatch);
    const V vext = Ops::set1(extend);
    const V voe = Ops::set1(static_cast<T>(open + extend));
    const V vneg = Ops::set1(neg);
    const std::int64_t lane_ext =
        static_cast<std::int64_t>(extend) * static_cast<std::int64_t>(seg);
    const auto gap_run = [open, extend](std::size_t k) {
        return static_cast<std::int64_t>(open) +
               static_cast<std::int64_t>(extend) * static_cast<std::int64_t>(k);
    };
    T* hp = arrays;  // H of the previous column
    T* hc = hp + stride;
    T* yp = hc + stride;
    T* yc = yp + stride;
    T* mxp = yc + stride;
    T* mxc = mxp + stride;
    // Column 0: M = X = G(i), Y unreachable.
    for (std::size_t s = 0; s < seg; ++s)
        for (std::size_t l = 0; l < L; ++l) {
            const T g = static_cast<T>(gap_run(edge.i0 + l * seg + s + 1));
            hp[s * L + l] = g;
            mxp[s * L + l] = g;
            yp[s * L + l] = neg;
        }
    T* const top_h = edge.top_h;
    T* const top_x = edge.top_x;
    alignas(64) T carry[L];
    alignas(64) T start[L];
    for (std::size_t j = 1; j <= c_len; ++j) {
        const typename Ops::S c = cols[c_len - j];
        const T* prow = nullptr;
        V vc{};
        if constexpr (kProfile) prow = sq.row_of(c);
        else vc = Ops::set1(static_cast<T>(c));
        const V diag0 = Ops::shift_in(Ops::set1(top_h[j - 1]), Ops::load(hp + (seg - 1) * L));
        V diag = diag0;
        V x = Ops::shift_in(Ops::set1(top_x[j]), vneg);
        for (std::size_t s = 0; s < seg; ++s) {
            V score;
            if constexpr (kProfile) score = Ops::load(prow + s * L);
            else score = Ops::eq_select(Ops::load_sym(sq.symbols + s * L), vc, vmatch, vmismatch);
            const V vm = Ops::add(diag, score);
            const V vy = Ops::max(Ops::add(Ops::load(yp + s * L), vext),
                                  Ops::add(Ops::load(mxp + s * L), voe));
            Ops::store(yc + s * L, vy);
            x = Ops::max(Ops::add(x, vext), Ops::add(Ops::max(vm, vy), voe));
            diag = Ops::load(hp + s * L);
        }
        Ops::store(carry, x);
        std::int64_t in = top_x[j];
        start[0] = top_x[j];
        for (std::size_t l = 1; l < L; ++l) {
            const std::int64_t own = carry[l - 1];
            in = own < in + lane_ext ? in + lane_ext : own;
            start[l] = static_cast<T>(in);
        }
        x = Ops::load(start);
        diag = diag0;
        for (std::size_t s = 0; s < seg; ++s) {
            V score;
            if constexpr (kProfile) score = Ops::load(prow + s * L);
            else score = Ops::eq_select(Ops::load_sym(sq.symbols + s * L), vc, vmatch, vmismatch);
            const V vm = Ops::add(diag, score);
            const V vmy = Ops::max(vm, Ops::load(yc + s * L));
            Ops::store(mxc + s * L, Ops::max(vm, x));
            Ops::store(hc + s * L, Ops::max(vmy, x));
            x = Ops::max(Ops::add(x, vext), Ops::add(vmy, voe));
            diag = Ops::load(hp + s * L);
        }
        if (!edge.last) {
            // Lane L - 1 ends on the stripe's last row; x holds X of the row below it.
            Ops::store(carry, x);
            top_x[j] = carry[L - 1];
            top_h[j - 1] = j == 1 ? static_cast<T>(gap_run(edge.i0 + seg * L)) : hp[seg * L - 1];
        }
        T* t = hp;
        hp = hc;
        hc = t;
        t = yp;
        yp = yc;
        yc = t;
        t = mxp;
        mxp = mxc;
        mxc = t;
    }
    if (!edge.last) {
        top_h[c_len] = hp[seg * L - 1];
        return 0;
    }
    return hp[striped_cell(sq, sq.q_len - 1)];
}

template <class Ops>
typename Ops::T nw_affine_striped(const typename Ops::S* a, std::size_t n,
                                  const typename Ops::S* rb, std::size_t m,
                                  const typename Ops::T* scores, typename Ops::T* work) {
    using T = typename Ops::T;
    const bool a_query = n >= m;
    const std::size_t q_len = a_query ? n : m, c_len = a_query ? m : n;
    const typename Ops::S* q = a_query ? a : rb;
    const typename Ops::S* cols = a_query ? rb : a;
    const StripedWork<T> w = striped_work(work, q_len, c_len, 6);
    const T open = scores[2], extend = scores[3];
    const auto gap_run = [open, extend](std::size_t k) {
        return static_cast<std::int64_t>(open) +
               static_cast<std::int64_t>(extend) * static_cast<std::int64_t>(k);
    };
    w.top_h[0] = 0;
    for (std::size_t k = 1; k <= c_len; ++k) {
        w.top_h[k] = static_cast<T>(gap_run(k));
        w.top_x[k] = static_cast<T>(gap_run(k) + open + extend);
    }
    const std::size_t rows = core::detail::striped_rows<T>(q_len);
    T result = 0;
    for (std::size_t i0 = 0; i0 < q_len; i0 += rows) {
        const std::size_t h = q_len - i0 < rows ? q_len - i0 : rows;
        const StripedQuery<Ops> sq = striped_query<Ops>(q + i0, h, scores[0], scores[1], w.query);
        const StripeEdge<T> edge{w.top_h, w.top_x, i0, i0 + h == q_len};
        result = sq.rows != 0 ? affine_striped_sweep<Ops, true>(sq, cols, c_len, scores,
                                                                w.arrays, w.stride, edge)
                              : affine_striped_sweep<Ops, false>(sq, cols, c_len, scores,
                                                                 w.arrays, w.stride, edge);
    }
    return result;
}
