"""Needleman-Wunsch on long texts and at the lane limits, against a NumPy row reference.

The vector kernels stripe the longer text across lanes, sweep it in stripes of rows, keep
a score profile for up to 32 distinct symbols (and compare symbols beyond that), and pick
16-, 32- or 64-bit lanes from a bound on the scores. The cases below aim at each of those
edges: lengths around lane and stripe multiples, both length orders, alphabets below and
above 32 symbols, code points beyond 16 bits, scores on either side of the lane bounds,
positive gap scores (long vertical chains), and saturating scores. Run this file under
each TARNVEL_SIMD level; the last test also runs a sample at every level itself.
"""

import json
import os
import subprocess
import sys

import numpy as np
import pytest

import tarnvel
from conftest import MULTIPLIER, SIMD_LEVELS
from test_alignment import I64_MAX, I64_MIN, NW_NEG, affine_ref, linear_ref

DNA = "ACGT"
PROTEIN = "ACDEFGHIKLMNPQRSTVWY"
WIDE = "".join(chr(c) for c in range(0x61, 0x61 + 40))  # more symbols than the profile keeps
CODE_POINTS = "aé日\U0001F600\uF600b"  # beyond 8 and 16 bits; U+F600 shares low bits with U+1F600

# Lengths around vector widths (8, 16, 32 lanes) and the stripes of rows (256, 512, 1024).
EDGE_LENGTHS = [1, 2, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 255, 256, 257, 511, 512,
                513, 1023, 1024, 1025]


def codes(text):
    return np.array([ord(c) for c in text], dtype=np.int64)


def np_linear(a, b, match, mismatch, gap):
    """Row by row in exact int64 (callers keep the scores small); the left neighbour is
    resolved with a running maximum: H[k] = max over t <= k of C[t] + (k - t) gap."""
    n, m = len(a), len(b)
    if n == 0 or m == 0 or a == b:
        return linear_ref(a, b, match, mismatch, gap)
    ca, cb = codes(a), codes(b)
    k = np.arange(m + 1, dtype=np.int64)
    row = gap * k
    for i in range(1, n + 1):
        s = np.where(cb == ca[i - 1], match, mismatch)
        c = np.empty(m + 1, dtype=np.int64)
        c[0] = gap * i
        c[1:] = np.maximum(row[:-1] + s, row[1:] + gap)
        row = np.maximum.accumulate(c - k * gap) + k * gap
    return int(row[m])


def np_affine(a, b, match, mismatch, o, e):
    """Gotoh's three rows in exact int64, with NW_NEG as an ordinary value; Y along the
    row is a running maximum over the cells where its run opens."""
    n, m = len(a), len(b)
    if n == 0 or m == 0 or a == b:
        return affine_ref(a, b, match, mismatch, o, e)
    ca, cb = codes(a), codes(b)
    j = np.arange(m + 1, dtype=np.int64)
    g = o + e * j
    M = g.copy()
    M[0] = 0
    X = np.full(m + 1, NW_NEG, dtype=np.int64)
    Y = g.copy()
    Y[0] = NW_NEG
    for i in range(1, n + 1):
        s = np.where(cb == ca[i - 1], match, mismatch)
        H = np.maximum(np.maximum(M, X), Y)
        nM = np.empty(m + 1, dtype=np.int64)
        nX = np.empty(m + 1, dtype=np.int64)
        nM[0] = nX[0] = o + e * i
        nM[1:] = H[:-1] + s
        nX[1:] = np.maximum(X[1:] + e, np.maximum(M[1:], Y[1:]) + o + e)
        # Y[i, j] = max(Y[i, 0] + j e, max over t < j of MX[i, t] + o + e + (j - 1 - t) e)
        mx = np.maximum(nM, nX)
        opened = np.maximum.accumulate(mx[:-1] + o + e - j[:-1] * e) + (j[1:] - 1) * e
        nY = np.empty(m + 1, dtype=np.int64)
        nY[0] = NW_NEG
        nY[1:] = np.maximum(NW_NEG + j[1:] * e, opened)
        M, X, Y = nM, nX, nY
    return int(max(M[m], X[m], Y[m]))


def mutate(rng, text, alphabet, rate):
    """A related text: substitutions, insertions and deletions at the given rate."""
    out = []
    for c in text:
        r = rng.random()
        if r < rate / 3:
            continue
        if r < 2 * rate / 3:
            out.append(rng.choice(alphabet))
        elif r < rate:
            out.extend((c, rng.choice(alphabet)))
        else:
            out.append(c)
    return "".join(out) or rng.choice(alphabet)


def text(rng, n, alphabet):
    return "".join(rng.choice(alphabet) for _ in range(n))


class TestReferences:
    """The NumPy references agree with the plain recurrence they shortcut."""

    def test_numpy_references_match_the_plain_recurrence(self, rng):
        for _ in range(60):
            alphabet = rng.choice([DNA, "ab", CODE_POINTS])
            a, b = text(rng, rng.randint(1, 30), alphabet), text(rng, rng.randint(1, 30), alphabet)
            ma, mi, g, o, e = (rng.randint(-6, 6) for _ in range(5))
            assert np_linear(a, b, ma, mi, g) == linear_ref(a, b, ma, mi, g)
            assert np_affine(a, b, ma, mi, o, e) == affine_ref(a, b, ma, mi, o, e)


class TestRandomPairs:
    @pytest.mark.parametrize("alphabet", [DNA, PROTEIN, WIDE, CODE_POINTS])
    def test_lengths_one_to_three_hundred(self, rng, alphabet):
        for _ in range(40 * MULTIPLIER):
            n, m = rng.randint(1, 300), rng.randint(1, 300)
            a = text(rng, n, alphabet)
            b = mutate(rng, a, alphabet, 0.3) if rng.random() < 0.5 else text(rng, m, alphabet)
            ma, mi = rng.randint(-3, 5), rng.randint(-6, 2)
            g, o, e = rng.randint(-8, 2), rng.randint(-10, 3), rng.randint(-4, 2)
            assert tarnvel.needleman_wunsch_score(a, b, ma, mi, g) == np_linear(a, b, ma, mi, g), \
                (a, b, ma, mi, g)
            assert (tarnvel.needleman_wunsch_affine(a, b, ma, mi, o, e)
                    == np_affine(a, b, ma, mi, o, e)), (a, b, ma, mi, o, e)

    def test_lengths_around_lanes_and_stripes(self, rng):
        for n in EDGE_LENGTHS:
            for m in rng.sample(EDGE_LENGTHS, 3):
                a = text(rng, n, DNA)
                b = mutate(rng, a, DNA, 0.2)[:m] if rng.random() < 0.5 else text(rng, m, DNA)
                for x, y in ((a, b), (b, a)):
                    assert tarnvel.needleman_wunsch_score(x, y, 2, -3, -5) == np_linear(x, y, 2, -3, -5)
                    assert (tarnvel.needleman_wunsch_affine(x, y, 2, -3, -5, -2)
                            == np_affine(x, y, 2, -3, -5, -2))

    @pytest.mark.parametrize("scores", [(1, -1, 1, 1, 1), (0, 0, 2, -3, 2), (3, 3, -1, 4, -1),
                                        (-2, 1, 1, -1, 3)])
    def test_positive_gap_scores(self, rng, scores):
        # Gaps that pay make the vertical chains run through whole columns and lanes.
        ma, mi, g, o, e = scores
        for n, m in ((100, 40), (40, 100), (1030, 20), (20, 1030), (300, 300)):
            a, b = text(rng, n, DNA), text(rng, m, DNA)
            assert tarnvel.needleman_wunsch_score(a, b, ma, mi, g) == np_linear(a, b, ma, mi, g)
            assert tarnvel.needleman_wunsch_affine(a, b, ma, mi, o, e) == np_affine(a, b, ma, mi, o, e)

    @pytest.mark.parametrize("alphabet", [DNA, WIDE, CODE_POINTS])
    def test_long_pairs(self, rng, alphabet):
        # Several stripes of rows for every lane width, the text swept being either one.
        for n, m in ((2600, 700), (700, 2600), (2100, 2049)):
            a = text(rng, n, alphabet)
            b = mutate(rng, a, alphabet, 0.25)[:m]
            assert tarnvel.needleman_wunsch_score(a, b, 2, -3, -5) == np_linear(a, b, 2, -3, -5)
            assert tarnvel.needleman_wunsch_affine(a, b, 2, -3, -5, -2) == np_affine(a, b, 2, -3, -5, -2)
        a, b = text(rng, 1500, alphabet), text(rng, 1200, alphabet)
        big = (3 * 2**20, -(2**21), -(2**22), -(2**20))  # 32-bit lanes, several stripes
        assert tarnvel.needleman_wunsch_score(a, b, *big[:3]) == np_linear(a, b, *big[:3])
        assert tarnvel.needleman_wunsch_affine(a, b, *big) == np_affine(a, b, *big)


class TestLaneBounds:
    @pytest.mark.parametrize("limit", [2**15, 2**31])
    def test_scores_across_the_bound(self, rng, limit):
        # The bound grows with score x length; stepping the scale crosses each lane limit.
        n, m = 300, 220
        a = text(rng, n, DNA)
        b = mutate(rng, a, DNA, 0.3)[:m]
        center = limit // (n + 6)
        for scale in range(center - 12, center + 13, 3):
            lin = (scale, -scale, -scale)
            assert tarnvel.needleman_wunsch_score(a, b, *lin) == np_linear(a, b, *lin), scale
            assert tarnvel.needleman_wunsch_score(a, b, -scale, scale, scale) == np_linear(
                a, b, -scale, scale, scale), scale
            aff = (scale // 2, -scale // 2, -(scale // 3), -(scale // 3))
            assert tarnvel.needleman_wunsch_affine(a, b, *aff) == np_affine(a, b, *aff), scale
            aff = (scale // 4, -scale // 4, scale // 3, -(scale // 3))
            assert tarnvel.needleman_wunsch_affine(a, b, *aff) == np_affine(a, b, *aff), scale

    def test_saturating_scores(self, rng):
        # Near the 64-bit limits only the saturating loop may run; the plain Python
        # recurrence is the reference.
        for scores in [(I64_MAX, I64_MIN, -1), (2**62, -(2**62), -(2**61)), (1, -1, I64_MIN),
                       (I64_MAX // 50, -(I64_MAX // 50), -(I64_MAX // 90))]:
            a, b = text(rng, 70, DNA), text(rng, 45, DNA)
            assert tarnvel.needleman_wunsch_score(a, b, *scores) == linear_ref(a, b, *scores)
            assert tarnvel.needleman_wunsch_score(b, a, *scores) == linear_ref(b, a, *scores)
        for scores in [(2**62, -1, NW_NEG, -1), (1, -1, I64_MIN, 0), (I64_MAX // 60, -5, -7, -2),
                       (0, -(2**62), -(2**62), 0), (3, -1, 2**61, -(2**59))]:
            a, b = text(rng, 60, DNA), text(rng, 35, DNA)
            assert tarnvel.needleman_wunsch_affine(a, b, *scores) == affine_ref(a, b, *scores)
            assert tarnvel.needleman_wunsch_affine(b, a, *scores) == affine_ref(b, a, *scores)


class TestBatchesOfLongTexts:
    def test_batch_equals_the_reference(self, rng):
        query = text(rng, 1100, DNA)
        cands = [mutate(rng, query, DNA, 0.2)[:rng.randint(1, 1100)] for _ in range(5)]
        cands += [text(rng, 2300, DNA), text(rng, 40, DNA), "", query, text(rng, 500, CODE_POINTS)]
        got = tarnvel.needleman_wunsch_batch_fn(query, cands, 2, -3, -5)
        assert got == [np_linear(query, c, 2, -3, -5) for c in cands]
        got = tarnvel.needleman_wunsch_affine_batch(query, cands, 2, -3, -5, -2)
        assert got == [np_affine(query, c, 2, -3, -5, -2) for c in cands]


LEVEL_SCRIPT = """
import json, sys, tarnvel
out = []
for a, b, s in json.load(sys.stdin):
    out.append([tarnvel.needleman_wunsch_score(a, b, *s[:3]),
                tarnvel.needleman_wunsch_affine(a, b, *s)])
print(json.dumps(out))
"""


def test_every_level_on_long_and_wide_texts(rng):
    cases = []
    for n, m, alphabet in ((1030, 300, DNA), (300, 1030, WIDE), (600, 517, CODE_POINTS),
                           (257, 1025, PROTEIN), (33, 2049, DNA)):
        a = text(rng, n, alphabet)
        b = mutate(rng, a, alphabet, 0.3)[:m]
        for s in ((2, -3, -5, -2), (1, -1, 1, 1), (2**20, -(2**20), -(2**21), -(2**19))):
            cases.append((a, b, list(s)))
    want = [[np_linear(a, b, *s[:3]), np_affine(a, b, *s)] for a, b, s in cases]
    for level in SIMD_LEVELS:
        env = {k: v for k, v in os.environ.items() if k != "TARNVEL_SIMD"}
        env["TARNVEL_SIMD"] = level
        proc = subprocess.run([sys.executable, "-c", LEVEL_SCRIPT], input=json.dumps(cases),
                              env=env, capture_output=True, text=True, timeout=300)
        assert proc.returncode == 0, proc.stderr
        got = json.loads(proc.stdout)
        for i, (g, w) in enumerate(zip(got, want)):
            assert g == w, (level, i, len(cases[i][0]), len(cases[i][1]), cases[i][2])
