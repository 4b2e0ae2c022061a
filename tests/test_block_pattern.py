"""Match-mask tables of long texts over large alphabets.

Past a size limit a table keeps dense rows only for symbols below 256 and for symbols
spread over many 64-symbol blocks; every other symbol keeps its nonzero words per block.
The test extension lowers that limit in its own copy of the core, so the blocked form is
compared with the plain references on short texts around block boundaries, and with the
dense form (the public module at default limits) on longer ones, at every SIMD level.
"""

import json
import random

import pytest

import edit_reference
import fuzz_reference as ref
import tarnvel
from conftest import MULTIPLIER, SEED, SIMD_LEVELS, run_python
from test_jaro import ref_jaro, ref_jaro_winkler

N = 100_000
MEMORY_LIMIT = 64 << 20
BOUNDARY_LENGTHS = [63, 64, 65, 127, 128, 129]

MEMORY_SCRIPT = """
import json, resource, tarnvel, tarnvel_match
n = {n}
# Distinct code points above the surrogates; b shares the second half of a, shifted.
a = "".join(map(chr, range(0x10000, 0x10000 + n)))
b = "".join(map(chr, range(0x10000 + n // 2, 0x10000 + n + n // 2)))
calls = {{
    "levenshtein_distance": lambda x, y: tarnvel.levenshtein_distance(x, y),
    "fuzz_ratio": lambda x, y: tarnvel.fuzz_ratio(x, y),
    "fuzz_partial_ratio": lambda x, y: tarnvel.fuzz_partial_ratio(x, y),
    "fuzz_token_sort_ratio": lambda x, y: tarnvel.fuzz_token_sort_ratio(x, y),
    "jaro_similarity": lambda x, y: tarnvel.jaro_similarity(x, y),
    "jaro_winkler_similarity": lambda x, y: tarnvel.jaro_winkler_similarity(x, y),
    "fuzz_extract": lambda x, y: tarnvel.fuzz_extract(x, [y])[0][1],
}}
for scorer in ("ratio", "partial_ratio", "levenshtein", "jaro", "jaro_winkler"):
    calls["match cdist " + scorer] = (
        lambda s: lambda x, y: float(tarnvel_match.cdist([x], [y], scorer=s)[0][0]))(scorer)
calls["match extract ratio"] = lambda x, y: tarnvel_match.extract(x, [y], scorer="ratio")[0][1]
for f in calls.values():  # first use: pools, lazy imports, caches
    f("ab\\U00010000" * 50, "ba\\U00010001" * 40)
def peak():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
base = peak()
out = {{}}
for name, f in calls.items():
    value = f(a, b)
    out[name] = [peak() - base, float(value)]
print(json.dumps(out))
"""


def test_peak_memory_of_long_texts_of_distinct_code_points():
    got = json.loads(run_python(MEMORY_SCRIPT.format(n=N), timeout=600))
    over = {name: grown for name, (grown, _) in got.items() if grown >= MEMORY_LIMIT}
    assert not over, f"peak memory above 64 MiB: {over}"
    # Known values: the texts share one half, shifted by n/2 (beyond the Jaro window).
    assert got["levenshtein_distance"][1] == N
    assert got["match cdist levenshtein"][1] == N
    for name in ("fuzz_ratio", "fuzz_extract", "match cdist ratio", "match extract ratio",
                 "fuzz_token_sort_ratio"):
        assert got[name][1] == 50.0, name
    for name in ("jaro_similarity", "jaro_winkler_similarity", "match cdist jaro",
                 "match cdist jaro_winkler"):
        assert got[name][1] == 0.0, name
    # The best window overhangs: half of one text against all of the other's last half.
    best = (1.0 - (N // 2) / (N + N // 2)) * 100.0
    assert got["fuzz_partial_ratio"][1] == got["match cdist partial_ratio"][1] == best


# --- the table itself -------------------------------------------------------------------

def big_alphabet(rng, size):
    """`size` distinct code points >= 256, from several scripts (2-, 3- and 4-byte UTF-8)."""
    pool = list(range(0x100, 0x800)) + list(range(0x4E00, 0x6000)) + list(range(0x1F300, 0x1F600))
    return [chr(c) for c in rng.sample(pool, size)]


def make_text(rng, length, kind):
    """distinct: every symbol once; mixed: many rare wide symbols, ASCII, and one wide
    symbol present in every block; few: a wide alphabet of 5 symbols."""
    if kind == "distinct":
        return "".join(big_alphabet(rng, length))
    if kind == "mixed":
        rare = big_alphabet(rng, max(1, length // 2))
        out = [rng.choice(rare) if rng.random() < 0.6 else rng.choice("ab c") for _ in range(length)]
        for i in range(0, length, 16):
            out[i] = "\u6c34"
        return "".join(out)
    return "".join(rng.choice("\u0416\u6c34\U0001F642\u00e9x") for _ in range(length))


def masks_of(text, symbol):
    words = max(1, (len(text) + 63) // 64)
    m = [0] * words
    for i, ch in enumerate(text):
        if ch == symbol:
            m[i // 64] |= 1 << (i % 64)
    return m


@pytest.fixture
def limits(testing):
    """Restores the test extension's limits after a test that changes them."""
    saved = testing.pattern_limits()
    yield testing
    testing.set_pattern_limits(*saved)


@pytest.mark.parametrize("share", [0, 4])
def test_blocked_rows_equal_plain_masks(limits, rng, share):
    t = limits
    t.set_pattern_limits(0, 0, share, True)
    for length in BOUNDARY_LENGTHS + [191, 1000]:
        for kind in ("distinct", "mixed", "few"):
            text = make_text(rng, length, kind)
            words, blocked, dense_rows, entries = t.block_pattern_info(text)
            assert words == (length + 63) // 64 and blocked
            present = sorted(set(text))
            wide_dense = dense_rows - 257
            # Every wide symbol is either a dense row or at least one block entry.
            assert entries >= len([c for c in present if ord(c) >= 256]) - wide_dense
            if share == 0:
                assert wide_dense == 0
                assert entries == sum(len({i // 64 for i, ch in enumerate(text) if ch == c})
                                      for c in present if ord(c) >= 256)
            probes = rng.sample(present, min(len(present), 12)) + ["a", "\u6c34", "\u4e00", "\U0010ffff"]
            for sym in probes:
                before = ord(rng.choice(present))  # a stale row in the reader would show
                rows, by_word, contains = t.block_pattern_row(text, ord(sym), before)
                expected = masks_of(text, sym)
                assert rows == expected and by_word == expected, (length, kind, sym)
                assert contains == (sym in text)


def test_limits_choose_the_form(limits, rng):
    t = limits
    text = make_text(rng, 700, "distinct")
    t.set_pattern_limits(256, 1 << 20, 4, False)
    assert t.block_pattern_info(text)[1] is False  # 11 words of 957 rows: dense
    t.set_pattern_limits(256, 1000, 4, False)
    assert t.block_pattern_info(text)[1] is True
    t.set_pattern_limits(700, 0, 4, False)
    assert t.block_pattern_info(text)[1] is False
    t.set_pattern_limits(0, 0, 4, True)
    assert t.block_pattern_info("abc" * 300)[1] is False  # nothing wide to block
    # A symbol in every block keeps a dense row; one in a single block does not.
    spread = "".join("\u6c34" if i % 64 == 0 else chr(0x4E00 + i) for i in range(640))
    words, blocked, dense_rows, entries = t.block_pattern_info(spread)
    assert blocked and dense_rows == 258 and entries == 640 - 10


# --- kernels and scorers over blocked tables, at every SIMD level -----------------------

def pair_cases(seed, long=False):
    rng = random.Random(seed)
    cases = []
    lengths = BOUNDARY_LENGTHS + [191] if not long else [700, 1500]
    for length in lengths:
        for kind in ("distinct", "mixed", "few"):
            a = make_text(rng, length, kind)
            b = list(a)
            alphabet = sorted(set(a)) + big_alphabet(rng, 3)
            for _ in range(rng.randint(0, max(1, length // 8))):
                op, i = rng.randrange(3), rng.randrange(len(b) + 1)
                if op == 0 and i < len(b):
                    b[i] = rng.choice(alphabet)
                elif op == 1:
                    b.insert(i, rng.choice(alphabet))
                elif i < len(b):
                    del b[i]
            cases.append((a, "".join(b)))
            cases.append((a, make_text(rng, rng.randint(length - 2, length + 3), kind)))
    return cases


SIMD_SCRIPT = """
import json, sys, tarnvel, _tarnvel_testing as T
sys.path.insert(0, {tests!r})
from test_block_pattern import pair_cases
T.set_pattern_limits(0, 0, {share}, True)
res = {{"scores": [], "kernels": [], "public": []}}
for a, b in pair_cases({seed}, long={long}):
    res["scores"].append(T.pattern_scores(a, b))
    x, y = (a, b) if len(a) <= len(b) else (b, a)
    if x:
        res["kernels"].append([T.block_kernels(x, y, k) for k in (len(y) - len(x), len(y) - len(x) + 70)])
    res["public"].append([tarnvel.levenshtein_distance(a, b), tarnvel.fuzz_ratio(a, b),
                          tarnvel.fuzz_partial_ratio(a, b), tarnvel.fuzz_token_sort_ratio(a, b),
                          tarnvel.fuzz_token_set_ratio(a, b), tarnvel.jaro_similarity(a, b),
                          tarnvel.jaro_winkler_similarity(a, b)])
print(json.dumps(res))
"""


def run_levels(share, long=False):
    import os
    tests = os.path.dirname(os.path.abspath(__file__))
    script = SIMD_SCRIPT.format(tests=tests, share=share, seed=SEED, long=long)
    return {level: json.loads(run_python(script, {"TARNVEL_SIMD": level}, timeout=600))
            for level in SIMD_LEVELS}


def check_against_public(res):
    """The blocked form (test extension) equals the dense one (public module), bit for bit."""
    for got, public in zip(res["scores"], res["public"]):
        lev, indel, ratio, partial, tsort, tset, jaro, jw, lev_q, ratio_q, jw_q = got
        assert [lev, ratio, partial, tsort, tset, jaro, jw] == public
        assert lev_q == lev and ratio_q == ratio and jw_q == jw


@pytest.mark.parametrize("share", [0, 4])
def test_blocked_tables_match_references_at_every_simd_level(testing, share):
    results = run_levels(share)
    base = results["portable"]
    for level in SIMD_LEVELS[1:]:
        assert results[level] == base, level
    check_against_public(base)
    cases = pair_cases(SEED)
    kernels = iter(base["kernels"])
    for (a, b), got in zip(cases, base["scores"]):
        lev, indel, ratio, partial, tsort, tset, jaro, jw = got[:8]
        assert lev == edit_reference.levenshtein_dp(a, b)
        assert indel == ref.indel(a, b)
        assert ratio == ref.ratio(a, b)
        assert tsort == ref.token_sort_ratio(a, b)
        assert tset == ref.token_set_ratio(a, b)
        assert jaro == ref_jaro(a, b)
        assert jw == ref_jaro_winkler(a, b)
        x, y = (a, b) if len(a) <= len(b) else (b, a)
        if x:
            exact, wide = next(kernels)
            # Whole matrix and any band are never below the distance; a band wide enough
            # for an optimal path gives it exactly. The LCS agrees with the indel distance.
            assert exact[0] == lev and exact[1] >= lev and wide[1] >= lev
            if lev <= len(y) - len(x) + 70:
                assert wide[1] == lev
            assert len(a) + len(b) - 2 * exact[2] == indel
    # The partial-ratio reference is slow: a few pairs, needles just past one block.
    rng = random.Random(SEED)
    picked = [i for i, (a, b) in enumerate(cases) if min(len(a), len(b)) <= 129]
    for i in rng.sample(picked, 4 * MULTIPLIER if 4 * MULTIPLIER < len(picked) else len(picked)):
        a, b = cases[i]
        assert base["scores"][i][3] == ref.partial_ratio(a, b), i


def test_long_blocked_tables_equal_dense_ones(testing):
    results = run_levels(0, long=True)
    base = results["portable"]
    for level in SIMD_LEVELS[1:]:
        assert results[level] == base, level
    check_against_public(base)
    for (a, b), got, (exact, wide) in zip(pair_cases(SEED, long=True), base["scores"], base["kernels"]):
        assert exact[0] == got[0] and len(a) + len(b) - 2 * exact[2] == got[1]
        assert wide[1] >= got[0]


def test_known_values_of_distinct_symbols_past_the_dense_limit():
    # 20,000 distinct code points take the blocked form at the default limits. With k
    # symbols replaced by unused ones the LCS is n - k, so the indel distance is 2k and
    # the Levenshtein distance exactly k (at most k substitutions, at least half of 2k);
    # Jaro matches the n - k kept positions in place, with no transpositions.
    rng = random.Random(SEED)
    n = 20_000
    a = "".join(map(chr, range(0x20000, 0x20000 + n)))
    for k in (1, 63, 64, 65, 1000):
        b = list(a)
        for j, i in enumerate(rng.sample(range(n), k)):
            b[i] = chr(0x30000 + j)
        b = "".join(b)
        m = n - k
        assert tarnvel.levenshtein_distance(a, b) == k
        assert tarnvel.fuzz_ratio(a, b) == (1.0 - (2 * k) / (2 * n)) * 100.0
        assert tarnvel.jaro_similarity(a, b) == (m / m + (m / n + m / n)) / 3.0
