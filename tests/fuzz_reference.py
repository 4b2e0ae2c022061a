"""Plain Python reference for the partial, token and weighted fuzzy scorers.

A direct transcription of the documented steps over a plain indel dynamic programme; it
shares nothing with the native kernels, so the tests can compare every value and every
alignment exactly. Slow: keep the inputs short.
"""

import math

U64 = 2**64
NOT_COMPUTED = U64 - 1

WHITE_SPACE = frozenset(
    [*range(0x09, 0x0E), 0x20, 0x85, 0xA0, 0x1680, *range(0x2000, 0x200B),
     0x2028, 0x2029, 0x202F, 0x205F, 0x3000]
)


def indel(a, b):
    n, m = len(a), len(b)
    if n == 0:
        return m
    if m == 0:
        return n
    if a == b:
        return 0
    row = list(range(m + 1))
    for i in range(1, n + 1):
        diag = row[0]
        row[0] = i
        ai = a[i - 1]
        for j in range(1, m + 1):
            up = row[j]
            sub = diag if ai == b[j - 1] else diag + 2
            row[j] = min(row[j - 1] + 1, up + 1, sub)
            diag = up
    return row[m]


def cut(score, cutoff):
    return score if cutoff <= score else 0.0


def larger_of(x, y):
    if x != x:
        return y
    if y != y:
        return x
    return y if x < y else x


def saturating_to_u64(v):
    if not v > 0.0:
        return 0
    if v >= 2.0**64:
        return U64 - 1
    return int(v)


def ratio(a, b, cutoff=0.0):
    total = len(a) + len(b)
    score = 100.0 if total == 0 else (1.0 - indel(a, b) / total) * 100.0
    return cut(score, cutoff)


def qratio(a, b, cutoff=0.0):
    if not a or not b:
        return 0.0
    return ratio(a, b, cutoff)


def _signed(v):
    return v - U64 if v >= 2**63 else v


def partial_search(s1, s2, c):
    len1, len2 = len(s1), len(s2)
    chars = set(s1)
    best_score = 0.0
    best = (0, len1)
    if len1 < len2:
        factor = c / -100.0 + 1.0 + 1e-5
        factor = factor if factor < 1.0 else 1.0
        bound = saturating_to_u64(math.ceil(factor * (2 * len1)))
        cache = [NOT_COMPUTED] * (len2 - len1)
        best_dist = NOT_COMPUTED
        level = [(0, len2 - len1 - 1)]
        while level:
            nxt = []
            for lo, hi in level:
                for p in (lo, hi):
                    if cache[p] == NOT_COMPUTED:
                        d = indel(s1, s2[p:p + len1])
                        cache[p] = d
                        if d < bound:
                            if d == 0:
                                return 100.0, p, p + len1
                            best_dist = bound = d
                            best = (p, p + len1)
                if hi - lo == 1:
                    continue
                dl, dh = cache[lo], cache[hi]
                t = ((hi - lo - (abs(dl - dh) >> 1)) % U64) & (U64 - 2)
                lower = (min(dl, dh) - t) % U64
                if _signed(lower) < bound:
                    mid = lo + ((hi - lo) >> 1)
                    nxt += [(lo, mid), (mid, hi)]
            level = nxt
        # A phase that recorded nothing keeps the score at 0.0 and the cutoff unchanged.
        if best_dist != NOT_COMPUTED:
            score = (1.0 - best_dist / (2 * len1)) * 100.0
            if c <= score:
                c = best_score = score

    def consider(start, end):
        nonlocal c, best_score, best
        w = s2[start:end]
        r = cut((1.0 - indel(s1, w) / (len1 + len(w))) * 100.0, c)
        if r > best_score:
            best_score = c = r
            best = (start, end)
            return r == 100.0
        return False

    for j in range(1, len1):
        if s2[j - 1] in chars and consider(0, j):
            return best_score, best[0], best[1]
    for i in range(len2 - len1, len2):
        if s2[i] in chars and consider(i, len2):
            break
    return best_score, best[0], best[1]


def partial_ratio_alignment(a, b, c=0.0):
    n, m = len(a), len(b)
    if m < n:
        s, ss, se, ds, de = partial_ratio_alignment(b, a, c)
        return s, ds, de, ss, se
    if c > 100:
        return 0.0, 0, n, 0, n
    if n == 0:
        return (100.0 if m == 0 else 0.0), 0, 0, 0, 0
    s, ds, de = partial_search(a, b, c)
    rec = (s, 0, n, ds, de)
    if n != m or s == 100.0:
        return rec
    s2, ds2, de2 = partial_search(b, a, larger_of(c, s))
    if s2 > s:
        return s2, ds2, de2, 0, n
    return rec


def partial_ratio(a, b, c=0.0):
    return partial_ratio_alignment(a, b, c)[0]


def tokenize(text):
    tokens, cur = [], []
    for ch in text:
        if ord(ch) in WHITE_SPACE:
            if cur:
                tokens.append("".join(cur))
                cur = []
        else:
            cur.append(ch)
    if cur:
        tokens.append("".join(cur))
    return tokens


def sorted_tokens(text):
    return sorted(tokenize(text), key=lambda t: t.encode("utf-8"))


def join(tokens):
    return " ".join(tokens)


def token_sets(ta, tb):
    sa, sb = set(ta), set(tb)
    key = lambda t: t.encode("utf-8")  # noqa: E731
    return (sorted(sa & sb, key=key), sorted(sa - sb, key=key), sorted(sb - sa, key=key))


def _form2(dist, length):
    return 100.0 if length == 0 else 100.0 - (dist * 100.0) / length


def set_comparison(sets, c, result):
    sect, a_only, b_only = sets
    ab, ba = join(a_only), join(b_only)
    sect_len = len(join(sect))
    sep = 1 if sect_len > 0 else 0
    sect_ab_len = sect_len + sep + len(ab)
    sect_ba_len = sect_len + sep + len(ba)
    total = sect_ab_len + sect_ba_len
    dist = indel(ab, ba)
    scaled = (c / -100.0 + 1.0) * total
    max_dist = saturating_to_u64(scaled if math.isnan(scaled) or math.isinf(scaled)
                                 else float(math.ceil(scaled)))
    if dist <= max_dist:
        result = larger_of(result, cut(_form2(dist, total), c))
    if sect_len > 0:
        a_score = cut(_form2(len(ab) + 1, sect_len + sect_ab_len), c)
        b_score = cut(_form2(len(ba) + 1, sect_len + sect_ba_len), c)
        result = larger_of(larger_of(result, a_score), b_score)
    return result


def token_sort_ratio(a, b, c=0.0):
    if c > 100:
        return 0.0
    return ratio(join(sorted_tokens(a)), join(sorted_tokens(b)), c)


def partial_token_sort_ratio(a, b, c=0.0):
    if c > 100:
        return 0.0
    return partial_ratio(join(sorted_tokens(a)), join(sorted_tokens(b)), c)


def token_set_ratio(a, b, c=0.0):
    if c > 100:
        return 0.0
    ta, tb = sorted_tokens(a), sorted_tokens(b)
    if not ta or not tb:
        return 0.0
    sets = token_sets(ta, tb)
    if sets[0] and (not sets[1] or not sets[2]):
        return 100.0
    return set_comparison(sets, c, 0.0)


def token_ratio(a, b, c=0.0):
    if c > 100:
        return 0.0
    ta, tb = sorted_tokens(a), sorted_tokens(b)
    sets = token_sets(ta, tb)
    if sets[0] and (not sets[1] or not sets[2]):
        return 100.0
    r = ratio(join(ta), join(tb), c)
    return set_comparison(sets, c, r)


def partial_token_set_ratio(a, b, c=0.0):
    if c > 100:
        return 0.0
    ta, tb = sorted_tokens(a), sorted_tokens(b)
    if not ta or not tb:
        return 0.0
    sect, a_only, b_only = token_sets(ta, tb)
    if sect:
        return 100.0
    return partial_ratio(join(a_only), join(b_only), c)


def partial_token_ratio(a, b, c=0.0):
    if c > 100:
        return 0.0
    ta, tb = sorted_tokens(a), sorted_tokens(b)
    sect, a_only, b_only = token_sets(ta, tb)
    if sect:
        return 100.0
    r1 = partial_ratio(join(ta), join(tb), c)
    if len(ta) == len(a_only) and len(tb) == len(b_only):
        return r1
    r2 = partial_ratio(join(a_only), join(b_only), larger_of(c, r1))
    return larger_of(r1, r2)


def wratio(a, b, c=0.0):
    if c > 100:
        return 0.0
    len1, len2 = len(a), len(b)
    if len1 == 0 or len2 == 0:
        return 0.0
    len_ratio = max(len1, len2) / min(len1, len2)
    end = ratio(a, b, c)
    if len_ratio < 1.5:
        c2 = larger_of(c, end) / 0.95
        return larger_of(end, token_ratio(a, b, c2) * 0.95)
    scale = 0.6 if len_ratio > 8.0 else 0.9
    c2 = larger_of(c, end) / scale
    end = larger_of(end, partial_ratio(a, b, c2) * scale)
    c3 = larger_of(c2, end) / 0.95
    return larger_of(end, (partial_token_ratio(a, b, c3) * 0.95) * scale)
