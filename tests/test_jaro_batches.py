"""Jaro-Winkler batches and cross-products: every entry equals the scalar function bit
for bit, on every SIMD level, across lane classes and the 4096-candidate chunk edge."""

import json
import math
import random

import pytest

import tarnvel
from conftest import SEED, SIMD_LEVELS, MULTIPLIER, run_python

T = pytest.importorskip("_tarnvel_testing")
P_MSG = "Prefix scaling parameter 'p' must be between 0.0 and 0.25"


def hexes(values):
    return [float.hex(v) for v in values]


def rand_text(rng, n, alphabet):
    return "".join(rng.choice(alphabet) for _ in range(n))


def mixed_list(rng, n, alphabet="abcde", with_odd=True):
    """Lengths across every lane class (8/16/32/64 symbols) and beyond."""
    out = []
    for _ in range(n):
        r = rng.random()
        if with_odd and r < 0.03:
            out.append("")
        elif with_odd and r < 0.06:
            out.append(rand_text(rng, rng.randint(65, 140), alphabet))
        elif with_odd and r < 0.15:
            out.append(rand_text(rng, rng.randint(1, 40), alphabet + "é日🙂"))
        else:
            out.append(rand_text(rng, rng.choice([1, 2, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64,
                                                 rng.randint(1, 64)]), alphabet))
    return out


def scalar_row(q, cands, p=0.1):
    return [tarnvel.jaro_winkler_similarity(q, c, p) for c in cands]


def test_batch_matches_scalar_everywhere():
    rng = random.Random(SEED)
    for trial in range(40 * MULTIPLIER):
        alphabet = "abcde"[: rng.randint(1, 5)]
        q = rand_text(rng, rng.choice([1, 3, 8, 13, 16, 33, 64, 65, 100]), alphabet)
        if trial % 4 == 1:
            q = q[:-1] + "é"
        cands = mixed_list(rng, rng.randint(0, 300), alphabet, with_odd=trial % 2 == 0)
        p = rng.choice([0.0, 0.1, 0.25])
        exp = hexes(scalar_row(q, cands, p))
        assert hexes(tarnvel.jaro_winkler_batch_fn(q, cands, p)) == exp, (q, p)
        assert hexes(T.jaro_winkler_many_grouped(q, cands, p)) == exp, (q, p)


def test_batch_edge_cases():
    assert tarnvel.jaro_winkler_batch_fn("abc", []) == []
    assert tarnvel.jaro_winkler_batch_fn("", ["", "a", ""]) == [1.0, 0.0, 1.0]
    assert tarnvel.jaro_winkler_batch_fn("MARTHA", iter(["MARHTA", "MARTHA"])) == [
        0.9611111111111111, 1.0]
    # One empty, non-ASCII or 65-byte candidate changes no other value.
    base = ["MARHTA", "DUANE", "DICKSONX", "x" * 64]
    for odd in ("", "é", "x" * 65):
        cands = base + [odd]
        assert hexes(tarnvel.jaro_winkler_batch_fn("MARTHA", cands)) == hexes(
            scalar_row("MARTHA", cands))


def test_chunk_boundary():
    rng = random.Random(SEED + 1)
    for n in (4095, 4096, 4097, 8193):
        cands = [rand_text(rng, rng.randint(1, 20), "abcd") for _ in range(n)]
        q = "abcdabcdab"
        exp = hexes(scalar_row(q, cands))
        assert hexes(tarnvel.jaro_winkler_batch_fn(q, cands)) == exp
        assert hexes(T.jaro_winkler_many_grouped(q, cands, 0.1)) == exp


def test_cdist_rows_equal_batches():
    rng = random.Random(SEED + 2)
    la = mixed_list(rng, 25) + ["", "y" * 70]
    lb = mixed_list(rng, 120)
    for p in (0.1, 0.25):
        rows = tarnvel.jaro_winkler_cdist(la, lb, p)
        assert len(rows) == len(la)
        for a, row in zip(la, rows):
            assert hexes(row) == hexes(scalar_row(a, lb, p))
            assert hexes(row) == hexes(tarnvel.jaro_winkler_batch_fn(a, lb, p))
    assert tarnvel.jaro_winkler_cdist(["a", "b"], []) == []
    assert tarnvel.jaro_winkler_cdist([], ["a"]) == []


def test_p_is_checked_before_the_lists():
    for call in (
        lambda p: tarnvel.jaro_winkler_batch_fn("a", [1, 2], p),
        lambda p: tarnvel.jaro_winkler_batch_fn("a", 5, p),
        lambda p: tarnvel.jaro_winkler_cdist(5, [1], p),
        lambda p: tarnvel.jaro_winkler_cdist(["a"], 7, p),
        lambda p: tarnvel.jaro_winkler_batch_into("a", [1], None, p),
        lambda p: tarnvel.jaro_winkler_cdist_into(3, ["a"], None, p),
    ):
        for bad in (0.3, -0.1, math.nan):
            with pytest.raises(ValueError) as e:
                call(bad)
            assert str(e.value) == P_MSG
        with pytest.raises(TypeError):
            call(0.25)
    assert tarnvel.jaro_winkler_batch_fn("ab", ["ab"], 0.25) == [1.0]


def test_into_forms():
    np = pytest.importorskip("numpy")
    rng = random.Random(SEED + 3)
    la, lb = mixed_list(rng, 7), mixed_list(rng, 50)
    out = np.full(len(lb), -1.0)
    assert tarnvel.jaro_winkler_batch_into(la[0], lb, out) is None
    assert hexes(out.tolist()) == hexes(tarnvel.jaro_winkler_batch_fn(la[0], lb))
    out2 = np.full((len(la), len(lb)), -1.0)
    assert tarnvel.jaro_winkler_cdist_into(la, lb, out2, p=0.2) is None
    assert [hexes(r) for r in out2.tolist()] == [hexes(r) for r in
                                                  tarnvel.jaro_winkler_cdist(la, lb, 0.2)]
    with pytest.raises(ValueError, match="out must hold exactly 50 float64 elements, got 3"):
        tarnvel.jaro_winkler_batch_into("a", lb, np.zeros(3))
    with pytest.raises(TypeError):
        tarnvel.jaro_winkler_batch_into("a", lb, np.zeros(len(lb), dtype=np.float32))
    with pytest.raises(ValueError, match=r"out must have shape \(7, 50\), got \[50, 7\]"):
        tarnvel.jaro_winkler_cdist_into(la, lb, np.zeros((50, 7)))
    empty = np.zeros((0, 3))
    assert tarnvel.jaro_winkler_cdist_into([], ["a", "b", "c"], empty) is None


def test_docstrings():
    assert tarnvel.jaro_winkler_batch_fn.__text_signature__ == "(query, candidates, p=0.1, /)"
    assert tarnvel.jaro_winkler_cdist.__text_signature__ == "(list_a, list_b, p=0.1, /)"
    assert tarnvel.jaro_winkler_batch_into.__doc__ == (
        "Zero-allocation Jaro-Winkler batch into a writable `float64` buffer (see\n"
        "[`levenshtein_batch_into`]).")
    assert tarnvel.jaro_winkler_cdist_into.__doc__ == (
        "Zero-allocation Jaro-Winkler cross-product matrix into a writable,\n"
        "contiguous `(len(list_a), len(list_b))` buffer of `float64` (row-major).")


SIMD_SCRIPT = """
import json, random, tarnvel, _tarnvel_testing as T
rng = random.Random({seed})
def txt(n, al): return "".join(rng.choice(al) for _ in range(n))
q = txt(12, "abcd")
cands = [txt(rng.choice([1, 5, 8, 9, 16, 17, 32, 33, 64, rng.randint(1, 64)]), "abcd")
         for _ in range(4097)]
mixed = cands[:300] + ["", "é" + txt(5, "abcd"), txt(70, "abcd")]
group8 = [txt(rng.randint(1, 64), "abc") for _ in range(8)]
out = dict(
    batch=[float.hex(v) for v in tarnvel.jaro_winkler_batch_fn(q, cands)],
    grouped=[float.hex(v) for v in T.jaro_winkler_many_grouped(q, cands, 0.1)],
    mixed=[float.hex(v) for v in tarnvel.jaro_winkler_batch_fn(q, mixed)],
    cdist=[[float.hex(v) for v in r] for r in tarnvel.jaro_winkler_cdist(mixed[:40], mixed)],
    multi=[float.hex(v) for v in T.jaro_multi("abcabc", group8)],
    four=[float.hex(v) for v in T.jaro_4way("abcabc", group8[:4])],
    scalar=[float.hex(tarnvel.jaro_winkler_similarity(q, c)) for c in mixed],
)
print(json.dumps(out))
"""


def test_every_simd_level_gives_the_same_bits():
    results = {}
    for level in SIMD_LEVELS + [""]:
        results[level] = json.loads(run_python(SIMD_SCRIPT.format(seed=SEED), {"TARNVEL_SIMD": level}))
    ref = results[""]
    assert ref["batch"] == ref["grouped"]
    assert ref["mixed"] == ref["scalar"]
    for level, res in results.items():
        assert res == ref, level


def test_cdist_with_many_distinct_symbols():
    # Rows of one lane group with hundreds of distinct non-ASCII symbols (more than one
    # group table holds) and columns sharing some of them.
    rng = random.Random(SEED + 4)
    pool = [chr(0x3400 + i) for i in range(600)]
    la = ["".join(rng.choice(pool) for _ in range(rng.randint(8, 16))) for _ in range(70)]
    lb = [rng.choice(la)[: rng.randint(1, 16)] + rng.choice(pool) for _ in range(40)] + ["abc", ""]
    rows = tarnvel.jaro_winkler_cdist(la, lb)
    for a, row in zip(la, rows):
        assert hexes(row) == hexes(scalar_row(a, lb))
