"""Needleman-Wunsch scores: exact values against a plain saturating recurrence.

The library picks 16-, 32- or 64-bit lane kernels or the saturating row loop from a bound
on the scores and lengths; the score sets below are chosen to land in each of them, and
near the 64-bit limits and around NW_NEG, where only the row loop may run.
"""

import pytest

import tarnvel
from conftest import ASCII_SMALL, ASCII_WIDE, MULTIPLIER, NON_ASCII, SIMD_LEVELS, random_text

I64_MAX = 2**63 - 1
I64_MIN = -(2**63)
NW_NEG = -(2**61)


def sat(x):
    return I64_MAX if x > I64_MAX else I64_MIN if x < I64_MIN else x


def linear_ref(a, b, match, mismatch, gap):
    n, m = len(a), len(b)
    if n == 0:
        return sat(gap * m)
    if m == 0:
        return sat(gap * n)
    if a == b:
        return sat(match * n)
    row = [sat(gap * k) for k in range(m + 1)]
    for i in range(1, n + 1):
        c = a[i - 1]
        diag, row[0] = row[0], sat(gap * i)
        for k in range(1, m + 1):
            s = match if c == b[k - 1] else mismatch
            up = row[k]
            row[k] = max(sat(diag + s), sat(up + gap), sat(row[k - 1] + gap))
            diag = up
    return row[m]


def affine_ref(a, b, match, mismatch, o, e):
    n, m = len(a), len(b)
    if n == 0 and m == 0:
        return 0
    if n == 0:
        return sat(o + sat(e * m))
    if m == 0:
        return sat(o + sat(e * n))
    if a == b:
        return sat(match * n)

    def g(k):
        return sat(o + sat(e * k))

    def open_(x):
        return sat(sat(x + o) + e)

    M = [0] + [g(j) for j in range(1, m + 1)]
    X = [NW_NEG] * (m + 1)
    Y = [NW_NEG] + [g(j) for j in range(1, m + 1)]
    for i in range(1, n + 1):
        c = a[i - 1]
        dm, dx, dy = M[0], X[0], Y[0]
        M[0], X[0], Y[0] = g(i), g(i), NW_NEG
        for j in range(1, m + 1):
            s = match if c == b[j - 1] else mismatch
            um, ux, uy = M[j], X[j], Y[j]
            M[j] = sat(max(dm, dx, dy) + s)
            X[j] = max(sat(ux + e), open_(um), open_(uy))
            Y[j] = max(sat(Y[j - 1] + e), open_(M[j - 1]), open_(X[j - 1]))
            dm, dx, dy = um, ux, uy
    return max(M[m], X[m], Y[m])


# Scores that exercise every kernel: small (16-bit lanes), medium (32-bit), large
# (64-bit), and near the limits or around NW_NEG (saturating row loop).
SCORE_POOL = [0, 1, -1, 2, -2, 3, -3, 5, -5, 7, -10, 2**12, -(2**12), 2**20, -(2**20),
              2**40, -(2**40), 2**58, -(2**58), NW_NEG, NW_NEG + 1, NW_NEG - 1, -NW_NEG,
              2**62, -(2**62), I64_MAX, I64_MIN, I64_MAX - 1, I64_MIN + 1]
BOUNDARY_LENGTHS = [0, 1, 7, 8, 9, 15, 16, 17]


def random_scores(rng, count):
    out = []
    for _ in range(count):
        if rng.random() < 0.4:
            out.append(rng.choice(SCORE_POOL))
        else:
            out.append(rng.randint(-10, 10))
    return out


def random_pair(rng):
    alphabet = rng.choice([ASCII_SMALL, ASCII_WIDE, NON_ASCII, "ab"])
    r = rng.random()
    if r < 0.3:
        a = random_text(rng, 0, alphabet, 0) + "".join(
            rng.choice(alphabet) for _ in range(rng.choice(BOUNDARY_LENGTHS)))
        b = "".join(rng.choice(alphabet) for _ in range(rng.choice(BOUNDARY_LENGTHS)))
    elif r < 0.9:
        a, b = random_text(rng, 40, alphabet), random_text(rng, 40, alphabet)
    else:
        a, b = random_text(rng, 300, alphabet), random_text(rng, 300, alphabet)
    if rng.random() < 0.1:
        b = a
    elif rng.random() < 0.2 and a:
        b = a[:-1] + rng.choice(alphabet)  # near-equal texts
    return a, b


class TestKnownValues:
    def test_linear(self):
        f = tarnvel.needleman_wunsch_score
        assert f("", "", 1, -1, -1) == 0
        assert f("", "", 5, 5, I64_MIN) == 0
        assert f("", "abc", 1, -1, -2) == -6
        assert f("abc", "", 1, -1, -2) == -6
        assert f("GATTACA", "GCATGCU", 1, -1, -1) == 0
        assert f("abc", "abc", 1, -1, -1) == 3
        assert f("abc", "abc", 1, -1, 5) == 3
        assert f("abd", "abc", 1, -1, 5) == 30
        assert f("é", "e", 1, -1, -1) == -1
        assert f("", "abc", 1, -1, I64_MIN) == I64_MIN
        assert f("abc", "abc", I64_MAX, -1, -1) == I64_MAX

    def test_linear_batch(self):
        assert tarnvel.needleman_wunsch_batch_fn("abc", ["abc", "abd", ""], 1, -1, -1) == [3, 1, -3]
        assert tarnvel.needleman_wunsch_batch_fn("abc", [], 1, -1, -1) == []
        assert tarnvel.needleman_wunsch_batch_fn("abc", iter(["abc"]), 1, -1, -1) == [3]

    def test_affine(self):
        f = tarnvel.needleman_wunsch_affine
        assert f("", "", 1, -1, -3, -1) == 0
        assert f("", "abc", 1, -1, -3, -1) == -6
        assert f("abc", "", 1, -1, -3, -1) == -6
        assert f("abc", "abd", 2, -1, -3, -1) == 3
        assert f("abc", "ac", 2, -1, -3, -1) == 0
        assert f("abcd", "ad", 2, -1, -3, -1) == -1
        assert f("abcd", "ad", 2, -1, -1, -3) == -3
        assert f("GATTACA", "GCATGCU", 1, -1, -2, -1) == -1
        assert f("ab", "ba", 1, -1, 0, 0) == 1
        assert f("ab", "ba", 1, -5, -1, -1) == -3
        assert f("abc", "abc", 1, -1, 5, 5) == 3
        assert f("abd", "abc", 1, -1, 5, 5) == 60
        assert f("é", "e", 1, -1, -3, -1) == -1
        assert f("x", "", 1, -1, I64_MIN, 0) == I64_MIN
        assert f("", "xy", 1, -1, 0, I64_MIN) == I64_MIN
        # NW_NEG is finite: the unreachable gap state beats every real alignment here.
        assert f("a", "b", 0, -(2**62), -(2**62), 0) == NW_NEG

    def test_affine_batch(self):
        got = tarnvel.needleman_wunsch_affine_batch("abcd", ["ad", "abcd", "", "abd"], 2, -1, -3, -1)
        assert got == [-1, 8, -7, 2]
        assert tarnvel.needleman_wunsch_affine_batch("abc", [], 1, -1, -1, -1) == []

    def test_striped(self):
        f = tarnvel.needleman_wunsch_striped
        assert f("é", "e", 1, -1, -1) == -1
        assert f("GATTACA", "GCATGCU", 1, -1, -1) == 0
        assert f("abd", "abc", 1, -1, 5) == 30
        assert f("abc", "abc", 1, -1, 5) == 3


class TestArguments:
    def test_scores_are_signed_64_bit(self):
        with pytest.raises(OverflowError):
            tarnvel.needleman_wunsch_score("a", "b", 2**63, 0, 0)
        with pytest.raises(OverflowError):
            tarnvel.needleman_wunsch_affine("a", "b", 0, 0, 0, I64_MIN - 1)
        with pytest.raises(TypeError):
            tarnvel.needleman_wunsch_score("a", "b", 1.0, 0, 0)
        with pytest.raises(TypeError):
            tarnvel.needleman_wunsch_batch_fn("a", ["b", 3], 1, -1, -1)

    def test_keywords(self):
        assert tarnvel.needleman_wunsch_affine(a="abcd", b="ad", match_score=2, mismatch_score=-1,
                                               gap_open=-3, gap_extend=-1) == -1


class TestAgainstReference:
    def test_linear_entry_points(self, rng):
        for _ in range(300 * MULTIPLIER):
            a, b = random_pair(rng)
            ma, mi, gap = random_scores(rng, 3)
            want = linear_ref(a, b, ma, mi, gap)
            args = (ma, mi, gap)
            assert tarnvel.needleman_wunsch_score(a, b, *args) == want, (a, b, args)
            assert tarnvel.needleman_wunsch_striped(a, b, *args) == want, (a, b, args)
            assert tarnvel.needleman_wunsch_score(b, a, *args) == linear_ref(b, a, *args)

    def test_affine(self, rng):
        for _ in range(200 * MULTIPLIER):
            a, b = random_pair(rng)
            ma, mi, o, e = random_scores(rng, 4)
            want = affine_ref(a, b, ma, mi, o, e)
            assert tarnvel.needleman_wunsch_affine(a, b, ma, mi, o, e) == want, (a, b, ma, mi, o, e)

    def test_affine_with_zero_open_is_linear(self, rng):
        for _ in range(100 * MULTIPLIER):
            a, b = random_pair(rng)
            ma, mi, e = rng.randint(-5, 5), rng.randint(-5, 5), rng.randint(-5, 5)
            assert (tarnvel.needleman_wunsch_affine(a, b, ma, mi, 0, e)
                    == tarnvel.needleman_wunsch_score(a, b, ma, mi, e))

    @pytest.mark.parametrize("scores", [(1, -1, -1), (2, -3, -5), (-1, 3, 2), (2**14, -(2**14), -3),
                                        (2**40, -(2**40), -(2**41)), (I64_MAX, I64_MIN, -1)])
    def test_linear_block_lengths(self, scores):
        for n in BOUNDARY_LENGTHS + [31, 32, 33, 63, 64, 65]:
            for m in BOUNDARY_LENGTHS + [31, 32, 33, 63, 64, 65]:
                a = ("acgtta" * 12)[:n]
                b = ("ccgtat" * 12)[:m]
                want = linear_ref(a, b, *scores)
                assert tarnvel.needleman_wunsch_score(a, b, *scores) == want
                assert tarnvel.needleman_wunsch_striped(a, b, *scores) == want

    @pytest.mark.parametrize("scores", [
        (2, -1, -3, -1), (1, -1, 5, -2), (2**12, -(2**12), -(2**12), -1),
        (2**20, -(2**20), -(2**22), -(2**20)), (0, -(2**62), -(2**62), 0),
        (1, -1, NW_NEG, NW_NEG), (I64_MAX, -1, I64_MIN, -1), (1, -1, 2**60, -(2**60))])
    def test_affine_long_texts(self, rng, scores):
        # Lengths where the bound on the scores decides the kernel (16/32/64-bit or none).
        for _ in range(3):
            a = random_text(rng, 120, "acgt", min_len=60)
            b = random_text(rng, 120, "acgt", min_len=60)
            assert tarnvel.needleman_wunsch_affine(a, b, *scores) == affine_ref(a, b, *scores)

    @pytest.mark.parametrize("lane_max", [2**15 - 1, 2**31 - 1, 2**63 - 1])
    def test_scores_at_the_lane_limits(self, rng, lane_max):
        # Texts of 100 and 120 symbols: the bound on any path score is about
        # per-gap-character score x 220, so these land just inside and just outside the
        # 16-, 32- and 64-bit kernels.
        a = random_text(rng, 100, "acgt", min_len=100)
        b = random_text(rng, 120, "acgt", min_len=120)
        for per_gap in (lane_max // 220 - 1, lane_max // 220, lane_max // 220 + 1,
                        lane_max // 218, lane_max // 126 - 1, lane_max // 126,
                        lane_max // 124, lane_max // 120):
            gap = -per_gap
            for ma, mi in ((1, -1), (per_gap, -per_gap), (2 * per_gap, -3), (-3, 2 * per_gap),
                           (lane_max // 100, -1), (lane_max // 104, -lane_max // 104)):
                ma, mi = sat(ma), sat(mi)
                assert tarnvel.needleman_wunsch_score(a, b, ma, mi, gap) == linear_ref(a, b, ma, mi, gap)
                assert tarnvel.needleman_wunsch_score(a, b, ma, mi, -gap) == linear_ref(a, b, ma, mi, -gap)
            ext = -(per_gap // 3)
            opn = -(per_gap - per_gap // 3)
            for o, e in ((opn, ext), (-opn, ext), (opn, -ext), (ext, opn), (0, -per_gap)):
                want = affine_ref(a, b, 1, -1, o, e)
                assert tarnvel.needleman_wunsch_affine(a, b, 1, -1, o, e) == want, (o, e)
            for ma in (lane_max // 100, lane_max // 104):
                want = affine_ref(a, b, ma, -1, -2, -1)
                assert tarnvel.needleman_wunsch_affine(a, b, ma, -1, -2, -1) == want, ma

    def test_code_points_beyond_bmp(self):
        # Symbols above U+FFFF cannot use 16-bit symbol lanes.
        a, b = "😀a😁b" * 5, "😀b😁a" * 4
        assert tarnvel.needleman_wunsch_score(a, b, 2, -1, -1) == linear_ref(a, b, 2, -1, -1)
        assert (tarnvel.needleman_wunsch_affine(a, b, 2, -1, -2, -1)
                == affine_ref(a, b, 2, -1, -2, -1))
        # Distinct code points that agree in their low 16 bits are still different.
        assert tarnvel.needleman_wunsch_score("\U0001F600", "\uF600", 1, -1, -1) == -1


class TestBatches:
    def test_batches_equal_scalar_calls(self, rng):
        query = random_text(rng, 60, NON_ASCII, min_len=1)
        cands = [random_pair(rng)[0] for _ in range(50)] + [query, "", query[:-1]]
        for scores in [(1, -1, -1), (3, -2, 4), (2**40, -(2**40), -7), (I64_MAX, I64_MIN, I64_MIN)]:
            want = [tarnvel.needleman_wunsch_score(query, c, *scores) for c in cands]
            assert tarnvel.needleman_wunsch_batch_fn(query, cands, *scores) == want
        for scores in [(2, -1, -3, -1), (1, 1, 5, -2), (0, -(2**62), -(2**62), 0)]:
            want = [tarnvel.needleman_wunsch_affine(query, c, *scores) for c in cands]
            assert tarnvel.needleman_wunsch_affine_batch(query, cands, *scores) == want

    @pytest.mark.parametrize("scale", [1, 40, 200, 2**20])
    def test_lane_groups(self, rng, scale):
        # Enough ASCII candidates to fill lane groups, mixed with the ones that must take
        # the pair routine (empty, equal to the query, non-ASCII, longer than a group
        # allows); the scale moves the groups across the 16-bit bound.
        query = random_text(rng, 90, "acgt", min_len=60)
        cands = [random_text(rng, rng.choice([5, 40, 130]), "acgt") for _ in range(150)]
        cands += ["", query, query + "a", "é" + query[1:], random_text(rng, 2100, "acgt", 2100)]
        rng.shuffle(cands)
        lin = (2 * scale, -3 * scale, -5 * scale)
        aff = (2 * scale, -3 * scale, -4 * scale, -scale)
        got = tarnvel.needleman_wunsch_batch_fn(query, cands, *lin)
        assert got == [tarnvel.needleman_wunsch_score(query, c, *lin) for c in cands]
        got_aff = tarnvel.needleman_wunsch_affine_batch(query, cands, *aff)
        assert got_aff == [tarnvel.needleman_wunsch_affine(query, c, *aff) for c in cands]
        for i in rng.sample(range(len(cands)), 8):
            if len(cands[i]) <= 200:
                assert got[i] == linear_ref(query, cands[i], *lin)
                assert got_aff[i] == affine_ref(query, cands[i], *aff)

    def test_large_batch_in_order(self, rng):
        cands = [random_text(rng, 30, "acgt") for _ in range(3000)]
        got = tarnvel.needleman_wunsch_batch_fn("acgtacgtac", cands, 1, -1, -1)
        assert got == [tarnvel.needleman_wunsch_score("acgtacgtac", c, 1, -1, -1) for c in cands]


def level_cases():
    """Inputs for the per-level check: random pairs over every kernel's score range, and
    long texts that span several stripes of each lane width (1024, 512 and 256 rows)."""
    import random
    rng = random.Random(7)
    pool = [0, 1, -1, 2, -3, 5, 2**20, -(2**20), 2**40, -(2**40), NW_NEG, 2**62, I64_MIN, I64_MAX]
    cases = []
    for _ in range(150):
        alpha = rng.choice(["acgt", "ab", "aé日🙂"])
        n = rng.choice([0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, rng.randint(0, 120)])
        m = rng.choice([0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, rng.randint(0, 120)])
        a = "".join(rng.choice(alpha) for _ in range(n))
        b = "".join(rng.choice(alpha) for _ in range(m))
        s = [rng.choice(pool) if rng.random() < 0.3 else rng.randint(-6, 6) for _ in range(4)]
        cases.append((a, b, s))
    for n, scale in ((1100, 1), (1100, 2**16), (600, 2**16), (300, 2**40), (600, 2**40)):
        for alpha in ("acgt", "aé"):
            a = "".join(rng.choice(alpha) for _ in range(n))
            b = "".join(rng.choice(alpha) for _ in range(rng.randint(20, 40)))
            s = [2 * scale, -3 * scale, -5 * scale, -2 * scale]
            cases.append((a, b, s))
            cases.append((b, a, s))
    return cases


LEVEL_SCRIPT = """
import json, sys, tarnvel
cases = json.load(sys.stdin)
out = []
for a, b, s in cases:
    out.append([tarnvel.needleman_wunsch_score(a, b, *s[:3]),
                tarnvel.needleman_wunsch_striped(a, b, *s[:3]),
                tarnvel.needleman_wunsch_affine(a, b, *s)])
q = "acgtgca" * 20
cands = ["acgt" * k for k in range(60)]
out.append(tarnvel.needleman_wunsch_batch_fn(q, cands, 2, -3, -2))
out.append(tarnvel.needleman_wunsch_affine_batch(q, cands, 2, -3, -4, -1))
print(json.dumps(out))
"""


def test_every_simd_level_gives_the_reference_scores():
    import json
    import os
    import subprocess
    import sys
    cases = level_cases()
    want = [[linear_ref(a, b, *s[:3])] * 2 + [affine_ref(a, b, *s)] for a, b, s in cases]
    q = "acgtgca" * 20
    cands = ["acgt" * k for k in range(60)]
    want.append([linear_ref(q, c, 2, -3, -2) for c in cands])
    want.append([affine_ref(q, c, 2, -3, -4, -1) for c in cands])
    payload = json.dumps(cases)
    for level in SIMD_LEVELS:
        env = {k: v for k, v in os.environ.items() if k != "TARNVEL_SIMD"}
        env["TARNVEL_SIMD"] = level
        proc = subprocess.run([sys.executable, "-c", LEVEL_SCRIPT], input=payload, env=env,
                              capture_output=True, text=True, timeout=300)
        assert proc.returncode == 0, proc.stderr
        got = json.loads(proc.stdout)
        for i, (g, w) in enumerate(zip(got, want)):
            assert g == w, (level, i, cases[i] if i < len(cases) else "batch")
