"""fuzz_ratio_batch, fuzz_extract and fuzz_extract_one against a plain reference."""

import math
import os
import random

import pytest

import tarnvel

SEED = int(os.environ.get("SEED", "1234"))
MULT = int(os.environ.get("MULTIPLIER", "1"))


def ref_ratio(a, b):
    """Indel ratio from the plain row recurrence (substitution cost 2)."""
    n, m = len(a), len(b)
    if n + m == 0:
        return 100.0
    row = list(range(m + 1))
    for i in range(1, n + 1):
        diag, row[0] = row[0], i
        for j in range(1, m + 1):
            up = row[j]
            row[j] = min(row[j - 1] + 1, up + 1, diag + (0 if a[i - 1] == b[j - 1] else 2))
            diag = up
    return (1.0 - row[m] / (n + m)) * 100.0


def ref_extract(query, choices, cutoff=0.0, limit=5):
    kept = [(c, ref_ratio(query, c), i) for i, c in enumerate(choices)]
    kept = [r for r in kept if r[1] >= cutoff]
    kept.sort(key=lambda r: -r[1])  # stable: equal scores stay in index order
    return kept[:limit]


def ref_extract_one(query, choices, cutoff=0.0):
    best = None
    for i, c in enumerate(choices):
        s = ref_ratio(query, c)
        if s >= cutoff and (best is None or s > best[1]):
            best = (c, s, i)
            if s == 100.0:
                break
    return best


def rand_text(rng, alphabet, lo, hi):
    return "".join(rng.choice(alphabet) for _ in range(rng.randint(lo, hi)))


ALPHABETS = ["ab", "abcd ", "abcdé", "aé中😀 "]


# --- edge cases ---------------------------------------------------------------------

APPLES = ["apple", "apples", "appel", "banana", "apple pie", "Apple"]


def test_extract_examples():
    assert tarnvel.fuzz_extract("apple", APPLES, 0.0, 10) == [
        ("apple", 100.0, 0), ("apples", 90.9090909090909, 1), ("appel", 80.0, 2),
        ("Apple", 80.0, 5), ("apple pie", 71.42857142857143, 4), ("banana", 18.181818181818176, 3)]
    assert tarnvel.fuzz_extract("apple", APPLES, 80.0, 2) == [
        ("apple", 100.0, 0), ("apples", 90.9090909090909, 1)]
    assert tarnvel.fuzz_extract("ab", ["ab", "ba", "ab"]) == [
        ("ab", 100.0, 0), ("ab", 100.0, 2), ("ba", 50.0, 1)]
    assert tarnvel.fuzz_extract_one("ab", ["ab", "ba", "ab"]) == ("ab", 100.0, 0)
    assert tarnvel.fuzz_extract(query="apple", choices=APPLES, limit=1, score_cutoff=0) == [
        ("apple", 100.0, 0)]


@pytest.mark.parametrize("cutoff", [100.0000001, 1e300, math.inf, math.nan])
def test_cutoff_that_keeps_nothing(cutoff):
    assert tarnvel.fuzz_extract("apple", APPLES, cutoff) == []
    assert tarnvel.fuzz_extract("apple", APPLES * 300, cutoff) == []
    assert tarnvel.fuzz_extract_one("apple", APPLES, cutoff) is None


def test_empty_inputs_and_limit_zero():
    assert tarnvel.fuzz_extract("a", []) == []
    assert tarnvel.fuzz_extract("a", ["a", "b"], 0.0, 0) == []
    assert tarnvel.fuzz_extract_one("a", []) is None
    assert tarnvel.fuzz_ratio_batch("a", []) == []
    assert tarnvel.fuzz_extract("", ["", "a"]) == [("", 100.0, 0), ("a", 0.0, 1)]
    assert tarnvel.fuzz_extract_one("", ["a", ""]) == ("", 100.0, 1)


def test_cutoff_boundaries():
    # abcd vs abce scores exactly 75.0: a cutoff equal to the score keeps it.
    assert tarnvel.fuzz_extract("abcd", ["abce"], 75.0) == [("abce", 75.0, 0)]
    assert tarnvel.fuzz_extract("abcd", ["abce"], 75.0000001) == []
    assert tarnvel.fuzz_extract_one("abcd", ["abce"], 75.0) == ("abce", 75.0, 0)
    assert tarnvel.fuzz_extract("abcd", ["xyz", "abce"], -5.0) == [("abce", 75.0, 1), ("xyz", 0.0, 0)]
    assert tarnvel.fuzz_extract("abcd", ["abce"], 50) == [("abce", 75.0, 0)]


def test_extract_one_stops_at_first_accepted_perfect_match():
    assert tarnvel.fuzz_extract_one("abc", ["abd", "abc", "abc", "ab"]) == ("abc", 100.0, 1)
    # A perfect match below the cutoff cannot happen, but a better later match wins
    # only when strictly better.
    assert tarnvel.fuzz_extract_one("abcd", ["abcx", "abcy", "abcd"]) == ("abcd", 100.0, 2)
    assert tarnvel.fuzz_extract_one("abcd", ["abcx", "abcy"]) == ("abcx", 75.0, 0)


def test_results_are_new_strings():
    choices = ["a longer choice text", "another choice text here"]
    res = tarnvel.fuzz_extract("choice", choices)
    assert [r[0] for r in res] == sorted(choices, key=lambda c: -tarnvel.fuzz_ratio("choice", c))
    assert all(r[0] is not c for r in res for c in choices)
    one = tarnvel.fuzz_extract_one("choice", choices)
    assert type(one[0]) is str and one[0] is not choices[one[2]]
    assert isinstance(one[1], float) and type(one[2]) is int


def test_argument_handling():
    gen = (c for c in APPLES)
    assert tarnvel.fuzz_extract("apple", gen, 0.0, 3) == tarnvel.fuzz_extract("apple", APPLES, 0.0, 3)
    assert tarnvel.fuzz_ratio_batch("ab", "xab") == [0.0, 66.66666666666667, 66.66666666666667]
    assert tarnvel.fuzz_extract("apple", APPLES, 0.0, 2**64 - 1) == tarnvel.fuzz_extract("apple", APPLES, 0.0, 100)
    with pytest.raises(OverflowError):
        tarnvel.fuzz_extract("a", ["a"], 0.0, -1)
    with pytest.raises(TypeError):
        tarnvel.fuzz_extract("a", ["a"], 0.0, 2.0)
    with pytest.raises(TypeError) as info:
        tarnvel.fuzz_extract("q", 5, "x")  # the cutoff is converted before the choices
    assert "while processing 'score_cutoff'" in getattr(info.value, "__notes__", ["while processing 'score_cutoff'"])
    with pytest.raises(TypeError, match="'int' object is not an instance of 'str'"):
        tarnvel.fuzz_extract_one("q", ["a", 5])
    with pytest.raises(TypeError, match="'int' object is not an instance of 'str'"):
        tarnvel.fuzz_ratio_batch("q", ["a", 5])
    with pytest.raises(TypeError):
        tarnvel.fuzz_ratio_batch("q", ["a"], 0.0)


# --- differential ------------------------------------------------------------------

@pytest.mark.parametrize("alphabet", ALPHABETS)
def test_ratio_batch_matches_reference(alphabet):
    rng = random.Random(SEED)
    for _ in range(6 * MULT):
        query = rand_text(rng, alphabet, 0, rng.choice([5, 20, 70, 140]))
        cands = [rand_text(rng, alphabet, 0, rng.choice([4, 12, 66, 130])) for _ in range(rng.randint(0, 60))]
        got = tarnvel.fuzz_ratio_batch(query, cands)
        assert got == [ref_ratio(query, c) for c in cands]
        assert got == [tarnvel.fuzz_ratio(query, c) for c in cands]


def test_ratio_batch_choices_at_lane_byte_limits():
    # Short ASCII choices run in lanes of 16 or 32 bytes, packed 4 or 2 to a register: sizes
    # at each limit, multi-byte symbols straddling it, and group sizes that leave registers
    # part-filled must all score as one call at a time.
    rng = random.Random(SEED + 3)
    sizes = [0, 1, 15, 16, 17, 31, 32, 33]
    for query in ["", "abc", "abcd abcd abcd abcd", "aé", rand_text(rng, "abcd ", 40, 60)]:
        for count in [1, 3, 4, 5, 31, 32, 33, 65]:
            cands = []
            for _ in range(count):
                n = rng.choice(sizes)
                text = rand_text(rng, "abcd ", n, n)
                if n and rng.random() < 0.3:  # a two- or four-byte symbol at the end
                    text = text[:-1] + rng.choice("é😀")
                cands.append(text)
            assert tarnvel.fuzz_ratio_batch(query, cands) == [ref_ratio(query, c) for c in cands]


@pytest.mark.parametrize("alphabet", ALPHABETS)
def test_extract_matches_sorted_reference(alphabet):
    rng = random.Random(SEED + 1)
    for _ in range(8 * MULT):
        query = rand_text(rng, alphabet, 0, rng.choice([4, 10, 70]))
        choices = [rand_text(rng, alphabet, 0, rng.choice([3, 8, 70])) for _ in range(rng.randint(0, 80))]
        cutoff = rng.choice([0.0, 30.0, 50.0, 66.66666666666667, 90.0])
        limit = rng.choice([0, 1, 2, 5, 1000])
        assert tarnvel.fuzz_extract(query, choices, cutoff, limit) == ref_extract(query, choices, cutoff, limit)
        assert tarnvel.fuzz_extract_one(query, choices, cutoff) == ref_extract_one(query, choices, cutoff)


@pytest.mark.parametrize("n", [999, 1000, 1001, 3000, 20_000])
def test_serial_and_parallel_paths_agree(n):
    # A small alphabet gives many equal scores, so order among ties is exercised too.
    rng = random.Random(SEED + n)
    choices = [rand_text(rng, "abc", 1, 6) for _ in range(n)]
    # Large runs also exercise the per-run cut to the best `limit` entries.
    for cutoff, limit in [(0.0, 5), (0.0, n), (60.0, 50), (101.0, 5), (0.0, 1), (40.0, 700)]:
        expected = ref_extract("abca", choices, cutoff, limit)
        assert tarnvel.fuzz_extract("abca", choices, cutoff, limit) == expected


def test_parallel_path_unicode_and_long():
    rng = random.Random(SEED + 7)
    choices = [rand_text(rng, "aé中b", 0, 24) for _ in range(1100)] + \
        [rand_text(rng, "aé中b", 60, 90) for _ in range(30)]
    rng.shuffle(choices)
    query = rand_text(rng, "aé中b", 65, 70)  # beyond one machine word
    assert tarnvel.fuzz_extract(query, choices, 20.0, 20) == ref_extract(query, choices, 20.0, 20)
    assert tarnvel.fuzz_ratio_batch(query, choices[:200]) == [ref_ratio(query, c) for c in choices[:200]]


def test_every_simd_level_gives_the_same_results():
    import hashlib
    import subprocess
    import sys
    code = """
import hashlib, random, tarnvel
rng = random.Random(9)
words = ["".join(rng.choice("abcdeé ") for _ in range(rng.randint(0, 70))) for _ in range(3000)]
parts = [tarnvel.fuzz_ratio_batch(q, words) for q in ("", "abc", "abcdeabcde" * 7, "é abc")]
parts += [tarnvel.fuzz_extract("abcd", words, 30.0, 25), tarnvel.fuzz_extract_one("ab cd", words)]
print(hashlib.sha256(repr(parts).encode()).hexdigest())
"""
    digests = set()
    for level in ("portable", "avx2", "avx512"):
        env = dict(os.environ, TARNVEL_SIMD=level)
        out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                             text=True, timeout=120)
        assert out.returncode == 0, out.stderr
        digests.add(out.stdout.strip())
    assert len(digests) == 1


def test_lane_widths_and_padding():
    # Choices around the 16- and 32-byte lane limits, multi-byte characters across them,
    # and a query holding NUL (padding bytes must never match it).
    rng = random.Random(SEED + 11)
    bases = ["", "a", "é", "\0", "ab\0", "x" * 15, "x" * 16, "x" * 17, "y" * 31, "y" * 32, "y" * 33]
    choices = []
    for b in bases:
        for tail in ("", "é", "中", "😀", "\0", "a"):
            choices.append(b + tail)
            choices.append(tail + b)
    choices += [rand_text(rng, "ax\0é中", 0, 40) for _ in range(400)]
    for query in ("", "a", "\0", "a\0x", "xxxxxxxxxxxxxxxxyyy", "x" * 70 + "\0a", "é", "aé\0"):
        assert tarnvel.fuzz_ratio_batch(query, choices) == [ref_ratio(query, c) for c in choices]
