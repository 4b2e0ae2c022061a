"""Grouped kernels with full and partial groups, and every SIMD level agreeing.

The group entry points (Myers lanes, the Jaro lanes behind jaro_4way / jaro_8way /
jaro_multi) are checked against plain references with 1 to 9 strings per call, so lanes
left empty in a vector never leak into a result. The level tests run one script per
TARNVEL_SIMD level and require identical output from all of them, on inputs sized
around the vector widths (row tails, partial stripes of the blocked kernel, lane widths).
"""

import json

import pytest

import tarnvel
from conftest import MULTIPLIER, SIMD_LEVELS, run_python
from edit_reference import levenshtein_dp
from test_jaro import ref_jaro


def _text(rng, n, alphabet):
    return "".join(rng.choice(alphabet) for _ in range(n))


@pytest.mark.parametrize("count", range(1, 9))
def test_myers_groups_of_any_size_match_the_dp(testing, rng, count):
    for _ in range(12 * MULTIPLIER):
        alphabet = rng.choice(["ab", "abcd", "abcdefghijklmnop"])
        pattern = _text(rng, rng.choice([1, 2, rng.randint(1, 64), 63, 64]), alphabet)
        lengths = [rng.choice([0, 1, rng.randint(0, 40), rng.randint(60, 140)]) for _ in range(count)]
        texts = [_text(rng, n, alphabet) for n in lengths]
        if count > 2:
            texts[-1] = pattern  # distance 0 in the last used lane
        expected = [levenshtein_dp(pattern, t) for t in texts]
        assert testing.myers_multi(pattern, texts) == expected, (pattern, texts)


def test_myers_group_size_is_bounded(testing):
    with pytest.raises(ValueError, match="expected 1 to 8 texts"):
        testing.myers_multi("abc", ["a"] * 9)
    with pytest.raises(ValueError, match="expected 1 to 8 texts"):
        testing.myers_multi("abc", [])


def _exact(x, y):
    return x.hex() == y.hex()


@pytest.mark.parametrize("count", range(1, 10))
def test_jaro_groups_of_any_size_match_the_reference(testing, rng, count):
    for _ in range(12 * MULTIPLIER):
        alphabet = rng.choice(["a", "ab", "abcd", "abcdefghijklmnopqrstuvwxyz"])
        query = _text(rng, rng.choice([1, 2, rng.randint(1, 64), 64]), alphabet)
        cands = [_text(rng, rng.choice([1, 2, rng.randint(1, 64), 63, 64]), alphabet)
                 for _ in range(count)]
        if count > 1:
            cands[rng.randrange(count)] = query
        expected = [ref_jaro(query, c) for c in cands]
        got = testing.jaro_multi(query, cands)
        assert all(map(_exact, got, expected)), (query, cands)
        if count in (4, 8):
            fn = testing.jaro_4way if count == 4 else testing.jaro_8way
            assert all(map(_exact, fn(query, cands), expected)), (query, cands)


def test_jaro_groups_with_an_empty_query_or_unusual_candidates(testing):
    # An empty query matches nothing; candidates the lanes cannot take (empty, longer
    # than 64 bytes, non-ASCII) go one by one and still give the plain value.
    assert testing.jaro_4way("", ["a", "b", "c", "d"]) == [0.0] * 4
    assert testing.jaro_multi("", ["a", "bc", "d"]) == [0.0] * 3
    assert testing.jaro_multi("", ["", "", ""]) == [1.0] * 3
    cands = ["abc", "", "abd"]
    assert testing.jaro_multi("abc", cands) == [ref_jaro("abc", c) for c in cands]
    with pytest.raises(BaseException, match="ASCII"):
        testing.jaro_multi("abc", ["abc", "a" * 65, "b"])


LEVEL_SCRIPT = """
import json, random
import tarnvel
import _tarnvel_testing as t

rng = random.Random(7)
def text(n, alphabet="abcde"):
    return "".join(rng.choice(alphabet) for _ in range(n))

out = {"info": list(t.simd_info())}
# Damerau rows of every length around 8 and 16 columns (row tails), then longer.
pairs = [(text(rng.randint(0, 40)), text(m)) for m in range(0, 41) for _ in range(3)]
out["damerau"] = [tarnvel.damerau_levenshtein_distance(a, b) for a, b in pairs]
# Long patterns: 1 to 20 words, so the blocked kernel ends on partial stripes of 4 and 8.
longs = [(text(64 * w + rng.choice([-3, 0, 5])), text(rng.randint(50, 900))) for w in range(1, 21)]
out["lev_long"] = [tarnvel.levenshtein_distance(a, b) for a, b in longs]
# Batches: every lane width of the packed kernels, partial groups of every size.
queries = [text(n) for n in (1, 7, 8, 9, 15, 16, 17, 31, 33, 63, 64, 65, 90)]
choices = [text(rng.randint(0, 70)) for _ in range(150)]
out["lev_cdist"] = [list(r) for r in tarnvel.levenshtein_cdist(queries, choices)]
out["jw_cdist"] = [[x.hex() for x in r] for r in tarnvel.jaro_winkler_cdist(queries, choices)]
out["ratio"] = [[tarnvel.fuzz_ratio(q, c).hex() for c in choices[:40]] for q in queries]
out["partial"] = [tarnvel.fuzz_partial_ratio(q, text(rng.randint(0, 300))).hex() for q in queries * 3]
out["extract"] = [str(tarnvel.fuzz_extract(q, choices, limit=5)) for q in queries]
groups = [[text(rng.randint(0, 80)) for _ in range(k)] for k in range(1, 9)]
out["myers"] = [t.myers_multi(q, g) for q in ("a", "abcab", text(64)) for g in groups]
out["jaro"] = [[x.hex() for x in t.jaro_multi(q, [c[:64] or "x" for c in g])]
               for q in ("a", "abcab", text(64)) for g in groups]
print(json.dumps(out))
"""


@pytest.fixture(scope="module")
def level_results():
    return {level: json.loads(run_python(LEVEL_SCRIPT, env={"TARNVEL_SIMD": level}, timeout=300))
            for level in SIMD_LEVELS}


def test_every_level_gives_the_same_results(level_results):
    base = level_results["portable"]
    for level, res in level_results.items():
        for key in base:
            if key != "info":
                assert res[key] == base[key], (level, key)


def test_levels_reach_their_target(level_results):
    # The forced level is capped by the processor, never exceeded.
    native_target = level_results["avx512"]["info"][3]
    order = ["portable", "avx2", "avx512"]
    for level, res in level_results.items():
        target = res["info"][3]
        cap = {"portable": "portable", "neon": "portable", "avx2": "avx2"}.get(level, "avx512")
        assert order.index(target) <= order.index(cap), (level, target)
        assert order.index(target) <= order.index(native_target), (level, target)
    assert level_results["portable"]["info"][3] == "portable"
