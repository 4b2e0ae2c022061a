"""The partial-ratio search over long haystacks (many full windows), at every SIMD level:
scores and alignments against the plain reference, for needles up to one word and beyond,
ASCII and code points, ties between windows, haystacks without the needle's symbols, and
the scorers that share the search (partial token scorers, weighted ratio)."""

import json
import random

import pytest

import fuzz_reference as ref
from conftest import MULTIPLIER, SEED, SIMD_LEVELS, run_python


def fast_indel(a, b):
    # Indel distance through an LCS over Python integers, one bit per symbol of a; checked
    # against the plain dynamic programme below, it lets the reference's own search run on
    # haystacks of many thousands of symbols.
    if not a or not b:
        return len(a) + len(b)
    masks = {}
    for i, ch in enumerate(a):
        masks[ch] = masks.get(ch, 0) | (1 << i)
    full = (1 << len(a)) - 1
    v = full
    for ch in b:
        u = v & masks.get(ch, 0)
        v = ((v + u) | (v - u)) & full
    lcs = len(a) - bin(v).count("1")
    return len(a) + len(b) - 2 * lcs


@pytest.fixture
def long_reference(monkeypatch):
    monkeypatch.setattr(ref, "indel", fast_indel)
    return ref


def test_fast_indel_matches_plain_programme():
    rng = random.Random(f"{SEED}-fast-indel")
    for _ in range(300):
        a = "".join(rng.choice("abcé中") for _ in range(rng.randint(0, 12)))
        b = "".join(rng.choice("abcé中") for _ in range(rng.randint(0, 12)))
        assert fast_indel(a, b) == ref.indel(a, b), (a, b)


def text(rng, alphabet, n):
    return "".join(rng.choice(alphabet) for _ in range(n))


def mutate(rng, s, alphabet, rate):
    out = []
    for ch in s:
        r = rng.random()
        if r < rate / 2:
            continue
        out.append(rng.choice(alphabet) if r < rate else ch)
    return "".join(out)


def make_cases():
    rng = random.Random(f"{SEED}-long-cases")
    alphabets = ["abcdefghijklmnopqrstuvwxyz ", "abcd", "ab", "aé中\U0001f600bc", "\u00e9\u4e2d\u65e5x"]
    # Needle lengths at the lane widths' edges (8, 16, 32, 64 symbols) and past one word.
    lengths = [1, 2, 7, 8, 9, 15, 16, 17, 20, 31, 32, 33, 48, 63, 64, 65, 80]
    cases = []
    for k in range(len(lengths) * 3 * MULTIPLIER):
        n = lengths[k % len(lengths)]
        alphabet = rng.choice(alphabets)
        m = rng.choice([n + 31, n + 33, n + 100, n + 257, n + 1000, rng.randint(n + 32, 6000)])
        needle = text(rng, alphabet, n)
        hay = text(rng, alphabet, m)
        if rng.random() < 0.5:
            # A noisy copy of the needle somewhere: near-best windows around it.
            planted = mutate(rng, needle, alphabet, rng.choice([0.0, 0.1, 0.3]))
            p = rng.randint(0, len(hay))
            hay = hay[:p] + planted + hay[p:]
        cutoff = rng.choice([0.0, 0.0, 50.0, 80.0, 100.0, float("nan")])
        cases.append((needle, hay, cutoff))
    # Ties: periodic haystacks hold many windows of one distance, at every depth of the
    # search, and the first one in the search order must win.
    for period in ("ab", "abc", "aab", "abcd"):
        for n in (5, 12, 20, 40, 64):
            hay = period * (2000 // len(period))
            needle = text(rng, "abcd", n)
            cases.append((needle, hay, 0.0))
            cases.append((needle, hay[1:] + "d", 50.0))
    # Exact copies at several places: the perfect window that the search order meets first.
    needle = text(rng, "abcdefgh", 20)
    hay = text(rng, "abcdefgh", 3000)
    cases.append((needle, hay[:100] + needle + hay[100:2500] + needle + hay[2500:], 0.0))
    # Haystacks with long stretches holding no symbol of the needle (skipped blocks), a
    # haystack without any, ASCII needles in code-point haystacks and the reverse.
    cases.append(("abcde", "x" * 3000 + "abde" + "y" * 3000, 0.0))
    cases.append(("abcde", "x" * 5000, 0.0))
    cases.append(("abcde" * 4, "中" * 2000 + "abcdeabcde" + "日" * 2000, 0.0))
    cases.append(("日本語日本", "ab" * 800 + "日本x日本" + "cd" * 800, 30.0))
    cases.append(("q" * 64, "x" * 1000 + "q" * 63 + "z" * 1000, 0.0))
    # The longest haystack.
    needle = text(rng, "abcdefghijklmnopqrstuvwxyz ", 20)
    cases.append((needle, text(rng, "abcdefghijklmnopqrstuvwxyz ", 20000), 0.0))
    cases.append((needle, text(rng, "aé中\U0001f600bc", 20000), 0.0))
    return cases


CASES = make_cases()


def native_results(level, cases, expr, tmp_path):
    # The cases travel through a file: they are too large for a command line.
    path = tmp_path / f"cases-{level}.json"
    path.write_text(json.dumps(cases), encoding="utf-8")
    code = ("import json, tarnvel\n"
            f"cases = json.loads(open({str(path)!r}, encoding='utf-8').read())\n"
            f"print(json.dumps([{expr} for a, b, c in cases]))\n")
    return json.loads(run_python(code, {"TARNVEL_SIMD": level}, timeout=600))


def jsonable(cases):
    # NaN cutoffs travel as None.
    return [(a, b, None if c != c else c) for a, b, c in cases]


@pytest.fixture(scope="module")
def expected_alignments():
    saved = ref.indel
    ref.indel = fast_indel
    try:
        return [list(ref.partial_ratio_alignment(a, b, c)) for a, b, c in CASES]
    finally:
        ref.indel = saved


@pytest.mark.parametrize("level", [lv for lv in SIMD_LEVELS if lv != "neon"])
def test_long_haystacks_match_reference(level, expected_alignments, tmp_path):
    got = native_results(level, jsonable(CASES),
                         "tarnvel.fuzz_partial_ratio_alignment(a, b, float('nan') if c is None else c)",
                         tmp_path)
    for (a, b, c), g, want in zip(CASES, got, expected_alignments):
        assert g == want, (len(a), len(b), c, a[:70])
    # The needle as the second argument: the same search, ranges swapped.
    swapped = native_results(level, jsonable(CASES[:40]),
                             "tarnvel.fuzz_partial_ratio(b, a, float('nan') if c is None else c)",
                             tmp_path)
    assert swapped == [w[0] for w in expected_alignments[:40]]


@pytest.mark.parametrize("level", [lv for lv in SIMD_LEVELS if lv != "neon"])
def test_scorers_sharing_the_search_match_reference(level, long_reference, tmp_path):
    rng = random.Random(f"{SEED}-long-token")
    words = ["alpha", "beta", "gamma", "delta", "épsilon", "中文", "zeta", "eta"]
    cases = []
    for _ in range(6 * MULTIPLIER):
        a = " ".join(rng.choice(words) for _ in range(rng.randint(1, 4)))
        b = " ".join(rng.choice(words) for _ in range(rng.randint(40, 300)))
        cases.append((a, b, rng.choice([0.0, 60.0])))
    names = ["partial_token_sort_ratio", "partial_token_set_ratio", "partial_token_ratio", "wratio"]
    expr = "[" + ", ".join(f"tarnvel.fuzz_{n}(a, b, c)" for n in names) + "]"
    got = native_results(level, cases, expr, tmp_path)
    for (a, b, c), g in zip(cases, got):
        want = [getattr(long_reference, n)(a, b, c) for n in names]
        assert g == want, (a, b, c)
