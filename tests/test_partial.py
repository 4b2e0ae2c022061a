"""fuzz_partial_ratio and fuzz_partial_ratio_alignment: known answers, the plain
reference on random texts, alignment validity and cutoff behaviour."""

import json
import math
import os
import random

import pytest

import fuzz_reference as ref
import tarnvel

SEED = int(os.environ.get("SEED", "20261207"))
MULTIPLIER = int(os.environ.get("MULTIPLIER", "1"))
NAN = float("nan")
INF = float("inf")

pa = tarnvel.fuzz_partial_ratio_alignment
pr = tarnvel.fuzz_partial_ratio

ALPHABETS = {
    "ascii": "abcde",
    "ascii_wide": "abcdefghijklmnopqrstuvwxyz ",
    "accented": "aáeéoöüñ ",
    "cjk": "中文字日本語 ",
    "astral": "a\U0001d518\U0001f600b",
    "mixed": "ab\u00e9\u4e2d\U0001f600 ",
}

CUTOFFS = [0.0, 0.0, 0.0, 30.0, 50.0, 66.66666666666667, 80.0, 99.9, 100.0, -5.0,
           -INF, NAN, 100.5]


def rand_text(rng, alphabet, lo, hi):
    return "".join(rng.choice(alphabet) for _ in range(rng.randint(lo, hi)))


@pytest.mark.parametrize(
    "a, b, expected",
    [
        ("", "", (100.0, 0, 0, 0, 0)),
        ("", "abc", (0.0, 0, 0, 0, 0)),
        ("abc", "", (0.0, 0, 0, 0, 0)),
        ("abc", "xxabcxx", (100.0, 0, 3, 2, 5)),
        ("xxabcxx", "abc", (100.0, 2, 5, 0, 3)),
        ("fuzzy wuzzy", "wuzzy", (100.0, 6, 11, 0, 5)),
        ("abc", "xbc", (80.0, 0, 3, 1, 3)),
        ("ab", "zzzzz", (0.0, 0, 2, 0, 2)),
        ("ac", "abc", (66.66666666666667, 0, 2, 0, 1)),
        ("hello world", "say hello wrld now", (90.9090909090909, 0, 11, 3, 14)),
        # positions count code points, not bytes
        ("日本", "xx日本語", (100.0, 0, 2, 2, 4)),
        ("\U0001f600b", "a\U0001f600bc", (100.0, 0, 2, 1, 3)),
    ],
)
def test_known_alignments(a, b, expected):
    assert pa(a, b) == expected
    assert pr(a, b) == expected[0]


def test_nan_cutoff_second_search_runs_with_zero():
    assert pa("abc", "xbc", NAN) == (80.0, 1, 3, 0, 3)
    assert pr("abc", "xbc", NAN) == 80.0


@pytest.mark.parametrize("cutoff", [100.0000001, 101.0, INF])
def test_cutoff_above_100(cutoff):
    assert pa("abc", "abc", cutoff) == (0.0, 0, 3, 0, 3)
    assert pa("abcdef", "xy", cutoff) == (0.0, 0, 2, 0, 2)
    assert pa("", "", cutoff) == (0.0, 0, 0, 0, 0)
    assert pr("abc", "abc", cutoff) == 0.0


def test_cutoff_filters_and_keeps_equal_score():
    assert pr("hello world", "say hello wrld now", 90.9090909090909) == 90.9090909090909
    assert pr("hello world", "say hello wrld now", 90.91) == 0.0
    assert pr("abc", "xbc", -1.0) == 80.0


@pytest.mark.parametrize("a, b", [("ab", "zzzzz"), ("a", "bcdef"), ("abc", "zyxwvzyx"),
                                  ("ab", "zzzza"), ("ab" * 40, "c" * 100)])
@pytest.mark.parametrize("cutoff", [-INF, -1e300, -1e22])
def test_hugely_negative_cutoff_keeps_scores_in_range(a, b, cutoff):
    # A window phase that found nothing must not turn its "no distance" marker into
    # a huge negative score.
    got = pa(a, b, cutoff)
    assert 0.0 <= got[0] <= 100.0
    assert got == ref.partial_ratio_alignment(a, b, cutoff)
    assert pa(a, b, 0.0)[0] == got[0]


def check_alignment(a, b, c, got):
    score, ss, se, ds, de = got
    assert 0 <= ss <= se <= len(a) and 0 <= ds <= de <= len(b)
    assert 0.0 <= score <= 100.0
    # one side is the whole shorter text (the first one when lengths are equal)
    assert (ss, se) == (0, len(a)) or (ds, de) == (0, len(b))
    if score > 0.0 and len(a) and len(b):
        assert ref.ratio(a[ss:se], b[ds:de]) == score


def differential(rng, a, b, cutoffs=2):
    for c in (rng.choice(CUTOFFS), rng.uniform(0, 100))[:cutoffs]:
        want = ref.partial_ratio_alignment(a, b, c)
        got = pa(a, b, c)
        assert got == want, (a, b, c)
        assert pr(a, b, c) == got[0]
        check_alignment(a, b, c, got)


@pytest.mark.parametrize("alphabet", sorted(ALPHABETS))
def test_random_short_pairs_match_reference(alphabet):
    rng = random.Random(f"{SEED}-{alphabet}")
    chars = ALPHABETS[alphabet]
    for _ in range(150 * MULTIPLIER):
        a = rand_text(rng, chars, 0, 8)
        b = rand_text(rng, chars, 0, 24)
        differential(rng, a, b)
        differential(rng, b, a)


def test_equal_lengths_match_reference():
    rng = random.Random(f"{SEED}-equal")
    for _ in range(200 * MULTIPLIER):
        n = rng.randint(1, 10)
        a = rand_text(rng, "abcd", n, n)
        b = rand_text(rng, "abcd", n, n)
        differential(rng, a, b)


def test_planted_needles_match_reference():
    # A near copy of the needle inside a long haystack exercises the window subdivision.
    rng = random.Random(f"{SEED}-planted")
    for _ in range(60 * MULTIPLIER):
        needle = rand_text(rng, "abcdefgh", 3, 12)
        noisy = "".join(ch for ch in needle if rng.random() > 0.2)
        hay = rand_text(rng, "abcdefghxyz", 0, 60)
        pos = rng.randint(0, len(hay))
        differential(rng, needle, hay[:pos] + noisy + hay[pos:])


def test_ties_follow_evaluation_order():
    # Small alphabets and near-equal lengths give many windows with equal scores; the
    # first one in evaluation order must win (full windows by level, prefixes by
    # increasing length, suffixes from the longest).
    assert pa("ddcbbcca", "adccdbba") == (66.66666666666667, 0, 8, 1, 8)
    assert pa("baccbcac", "bbaaacba", 50.0) == (66.66666666666667, 0, 8, 1, 8)
    assert pa("abaababc", "aacbccabab") == (66.66666666666667, 0, 8, 3, 10)
    assert pa("accaba", "bbbaaa", NAN) == (50.0, 0, 6, 0, 6)
    rng = random.Random(f"{SEED}-ties")
    for _ in range(800 * MULTIPLIER):
        alphabet = rng.choice(["ab", "abc", "abcd", "aab"])
        n = rng.randint(1, 8)
        m = rng.randint(n, n + rng.choice([1, 3, 10, 30]))
        a = rand_text(rng, alphabet, n, n)
        b = rand_text(rng, alphabet, m, m)
        c = rng.choice([0.0, 0.0, 30.0, 50.0, NAN])
        assert pa(a, b, c) == ref.partial_ratio_alignment(a, b, c), (a, b, c)


@pytest.mark.parametrize("n", [63, 64, 65, 70])
def test_needles_around_one_word(n):
    rng = random.Random(f"{SEED}-word-{n}")
    for alphabet in ("abcdefghij", "aé中\U0001f600bc"):
        for _ in range(MULTIPLIER):
            a = rand_text(rng, alphabet, n, n)
            extra = rng.choice([0, 1, 9])
            b = rand_text(rng, alphabet, n + extra, n + extra)
            differential(rng, a, b, cutoffs=1)


def test_long_inputs_stay_consistent():
    rng = random.Random(f"{SEED}-long")
    needle = rand_text(rng, "abcdefghijklmnop", 150, 150)
    hay = rand_text(rng, "abcdefghijklmnop", 3000, 3000)
    hay = hay[:1234] + needle + hay[1234:]
    assert pa(needle, hay) == (100.0, 0, 150, 1234, 1384)
    got = pa(hay, needle[:140] + "zz")
    check_alignment(hay, needle[:140] + "zz", 0.0, got)
    short = rand_text(rng, "abc", 20, 20)
    check_alignment(short, hay, 0.0, pa(short, hay))


def test_scores_are_floats_and_positions_ints():
    got = pa("abc", "xbc")
    assert isinstance(got, tuple) and len(got) == 5
    assert type(got[0]) is float and all(type(v) is int for v in got[1:])
    assert math.isfinite(pr("a", "b", -INF))


@pytest.mark.parametrize("level", ["portable", "avx2", "avx512"])
def test_window_kernels_agree_at_every_simd_level(level):
    # Haystacks with enough full windows to take the dispatched window kernel, window
    # batches of every size modulo 8, and needles up to one full word.
    from conftest import run_python

    rng = random.Random(f"{SEED}-simd")
    shapes = [(5, 60), (20, 300), (33, 200), (12, 97), (40, 120), (64, 110)]
    pairs = [(rand_text(rng, "abcdefgh", n, n), rand_text(rng, "abcdefgh ", m, m)) for n, m in shapes]
    pairs += [(rand_text(rng, "aé中\U0001f600b", 9, 9), rand_text(rng, "aé中\U0001f600bc", 80, 80))]
    code = ("import json, tarnvel\n"
            f"pairs = {pairs!r}\n"
            "print(json.dumps([tarnvel.fuzz_partial_ratio_alignment(a, b) for a, b in pairs]))\n")
    got = [tuple(r) for r in json.loads(run_python(code, {"TARNVEL_SIMD": level}))]
    assert got == [ref.partial_ratio_alignment(a, b) for a, b in pairs]
