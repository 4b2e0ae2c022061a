// Exact anti-diagonal Needleman-Wunsch kernels over a vector-operations struct; included by
// alignment_avx2.cpp and alignment_avx512.cpp inside their target region and namespace, so
// every instantiation is compiled for (and private to) one target.
//
// Same sweep as core/alignment/alignment_kernels.hpp (horizontal stripes, anti-diagonals
// indexed by the row), with one difference that matters for speed: every vector of a
// diagonal is loaded by the next diagonal at exactly the address and width it was stored
// with, and the neighbour one row up is formed in registers (Ops::shift_in) instead of by
// an unaligned reload. An unaligned load that overlaps two stores still in flight cannot
// be forwarded and stalls; with short diagonals that stall dominated.
// Blocks of L rows start at row 1; a diagonal computes the blocks that hold its valid rows
// (its first rows may be columns beyond m and its last ones rows below the diagonal: such
// cells are garbage that no valid cell reads). The column-0 cell of a diagonal (row d) is
// produced in the vector by a blend, so no scalar store ever lands inside a vector.
//
// Ops provides: T (lane integer), S (symbol), V (vector), L (lanes), load, store, set1,
// add, max, select_eq(a, b, if_equal, otherwise), shift_in(prev, cur) (lane 0 from the
// last lane of prev, lane j from lane j - 1 of cur), steps(x) (lane j = j x) and
// blend_from(rows, d, x, y) (x in lanes whose row is >= d, else y).
// Requires the headers of alignment_kernels.hpp (stripe_rows, lane_pad) to be included.

template <class Ops>
typename Ops::T nw_linear_blocks(const typename Ops::S* a, std::size_t n,
                                 const typename Ops::S* rb, std::size_t m,
                                 const typename Ops::T* scores, typename Ops::T* work) {
    using T = typename Ops::T;
    using V = typename Ops::V;
    constexpr std::size_t L = Ops::L;
    const T gap = scores[2];
    const V vmatch = Ops::set1(scores[0]), vmismatch = Ops::set1(scores[1]);
    const V vgap = Ops::set1(gap);
    const V gap_steps = Ops::steps(gap);
    const V row_steps = Ops::steps(1);
    const std::size_t hmax = n < core::detail::stripe_rows<T>() ? n : core::detail::stripe_rows<T>();
    const std::size_t w = core::detail::diagonal_stride<T>(hmax);
    T* row = work + 4 * w;
    for (std::size_t k = 0; k <= m; ++k)
        row[k] = static_cast<T>(static_cast<std::int64_t>(gap) * static_cast<std::int64_t>(k));
    for (std::size_t i0 = 0; i0 < n; i0 += hmax) {
        const std::size_t h = n - i0 < hmax ? n - i0 : hmax;
        const typename Ops::S* as = a + i0;
        // H of diagonals d - 1 and d, and the upper neighbours of diagonals d - 1 and d:
        // the upper neighbour of (r, k) on diagonal d - 1 is the diagonal neighbour of
        // (r, k + 1) on diagonal d, at the same row, so it is stored instead of shifted
        // again. (A block new on diagonal d holds only its column-0 cell, set by the blend.)
        T* p1 = work + core::detail::diagonal_base<T>();
        T* cur = p1 + w;
        T* up_prev = p1 + 2 * w;
        T* up_cur = p1 + 3 * w;
        T top1 = row[0];  // cell (0, d - 1)
        for (std::size_t d = 1; d <= h + m; ++d) {
            const std::size_t lo = d > m ? d - m : 1;
            const std::size_t last = d <= h ? d : h;
            const std::size_t kb = (lo - 1) / L, ke = (last - 1) / L;
            V prev_up = kb == 0 ? Ops::set1(top1) : Ops::load(p1 + 1 + (kb - 1) * L);
            for (std::size_t k = kb; k <= ke; ++k) {
                const std::size_t r0 = 1 + k * L;
                const V left = Ops::load(p1 + r0);
                const V up = Ops::shift_in(prev_up, left);
                const V diag = Ops::load(up_prev + r0);
                const V s = Ops::select_eq(as + r0 - 1, rb + (m + r0) - d, vmatch, vmismatch);
                V v = Ops::max(Ops::add(diag, s), Ops::add(Ops::max(up, left), vgap));
                if (d <= h && k == ke) {
                    const V rows = Ops::add(Ops::set1(static_cast<T>(r0)), row_steps);
                    const V edge = Ops::add(
                        Ops::set1(static_cast<T>(static_cast<std::int64_t>(gap) *
                                                 static_cast<std::int64_t>(i0 + r0))),
                        gap_steps);
                    v = Ops::blend_from(rows, static_cast<T>(d), edge, v);
                }
                Ops::store(cur + r0, v);
                Ops::store(up_cur + r0, up);
                prev_up = left;
            }
            if (d >= h) row[d - h] = cur[h];
            top1 = d <= m ? row[d] : 0;
            T* t = p1;
            p1 = cur;
            cur = t;
            t = up_prev;
            up_prev = up_cur;
            up_cur = t;
        }
    }
    return row[m];
}

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
