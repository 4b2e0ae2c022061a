"""fuzz_ratio and fuzz_qratio: exact values against a plain dynamic program."""

import math

import pytest

import tarnvel
from conftest import ASCII_SMALL, ASCII_WIDE, MULTIPLIER, NON_ASCII, random_text


def indel_dp(a, b):
    """The row recurrence: insertion/deletion cost 1, substitution cost 2."""
    row = list(range(len(b) + 1))
    for i in range(1, len(a) + 1):
        diag, row[0] = row[0], i
        for j in range(1, len(b) + 1):
            up = row[j]
            sub = diag if a[i - 1] == b[j - 1] else diag + 2
            row[j] = min(row[j - 1] + 1, up + 1, sub)
            diag = up
    return row[len(b)]


def ratio_ref(a, b, cutoff=0.0):
    total = len(a) + len(b)
    score = 100.0 if total == 0 else (1.0 - indel_dp(a, b) / total) * 100.0
    return score if cutoff <= score else 0.0


@pytest.mark.parametrize("a,b,expected", [
    ("", "", 100.0), ("", "abc", 0.0), ("abc", "", 0.0),
    ("abcd", "abce", 75.0), ("ab", "ba", 50.0),
    ("kitten", "sitting", 61.53846153846154),
    ("a", "abcdefghi", 19.999999999999996),
    ("é", "e", 0.0), ("日本", "日本語", 80.0),
])
def test_known_values(a, b, expected):
    assert tarnvel.fuzz_ratio(a, b) == expected
    assert tarnvel.fuzz_ratio(b, a) == expected


def test_cutoff_rule():
    assert tarnvel.fuzz_ratio("abcd", "abce", 75.0) == 75.0
    assert tarnvel.fuzz_ratio("abcd", "abce", 75.0000001) == 0.0
    assert tarnvel.fuzz_ratio("abc", "abc", float("nan")) == 0.0
    assert tarnvel.fuzz_ratio("abc", "abc", 100.0000001) == 0.0
    assert tarnvel.fuzz_ratio("abc", "xyz", -5) == 0.0
    assert tarnvel.fuzz_ratio("ab", "ba", float("-inf")) == 50.0
    assert tarnvel.fuzz_ratio("ab", "ba", 50) == 50.0


def test_quick_ratio():
    assert tarnvel.fuzz_qratio("", "") == 0.0
    assert tarnvel.fuzz_qratio("", "a") == 0.0
    assert tarnvel.fuzz_qratio("a", "") == 0.0
    assert tarnvel.fuzz_qratio("abc", "abc") == 100.0
    assert tarnvel.fuzz_qratio("abcd", "abce", 80) == 0.0
    assert tarnvel.fuzz_qratio("abc", "abc", 101) == 0.0
    assert tarnvel.fuzz_qratio("kitten", "sitting") == 61.53846153846154


@pytest.mark.parametrize("alphabet", [ASCII_SMALL, ASCII_WIDE, NON_ASCII], ids=["small", "wide", "unicode"])
def test_random_pairs_against_dp(rng, alphabet):
    # Lengths straddle the one-word (64) and multi-word (128, 192, 256) boundaries.
    for _ in range(60 * MULTIPLIER):
        a = random_text(rng, 300, alphabet)
        b = random_text(rng, 300, alphabet)
        assert tarnvel.fuzz_ratio(a, b) == ratio_ref(a, b), (a, b)
        assert tarnvel.fuzz_ratio(b, a) == ratio_ref(a, b), (a, b)


def test_lengths_around_word_boundaries(rng, testing):
    for n in (1, 63, 64, 65, 127, 128, 129, 191, 192, 193, 256, 257):
        for m in (0, 1, 64, 65, n - 1, n, n + 1, 300):
            if m < 0:
                continue
            a = random_text(rng, n, "ab", min_len=n)
            b = random_text(rng, m, "ab", min_len=m)
            assert testing.indel_distance(a, b) == indel_dp(a, b), (n, m)
            ua = a.replace("a", "é")
            ub = b.replace("a", "é")
            assert testing.indel_distance(ua, ub) == indel_dp(ua, ub), (n, m)
            assert testing.indel_distance(ua, b) == indel_dp(ua, b), (n, m)


def test_mixed_ascii_and_non_ascii_use_code_points(testing):
    assert testing.indel_distance("abc", "abç") == 2
    assert testing.indel_distance("日本語", "日本") == 1
    # Astral and BMP symbols above 255 inside long patterns (hashed rows).
    a = "🙂x" * 70
    b = "x🙂" * 70
    assert testing.indel_distance(a, b) == indel_dp(a, b)


def test_scores_stay_in_range_and_are_symmetric(rng):
    for _ in range(200):
        a = random_text(rng, 40, NON_ASCII)
        b = random_text(rng, 40, NON_ASCII)
        s = tarnvel.fuzz_ratio(a, b)
        assert 0.0 <= s <= 100.0 and not math.isnan(s)
        assert s == tarnvel.fuzz_ratio(b, a)
