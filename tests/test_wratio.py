"""fuzz_wratio: the branch thresholds, weights and cutoff hand-over, and the plain
reference on random texts."""

import os
import random

import pytest

import fuzz_reference as ref
import tarnvel

SEED = int(os.environ.get("SEED", "20261207"))
MULTIPLIER = int(os.environ.get("MULTIPLIER", "1"))
NAN = float("nan")
INF = float("inf")

w = tarnvel.fuzz_wratio


@pytest.mark.parametrize(
    "a, b, cutoff, expected",
    [
        ("", "", 0.0, 0.0),
        ("", "a", 0.0, 0.0),
        ("a", "", 0.0, 0.0),
        ("abc", "abc", 0.0, 100.0),
        ("abc", "abc", 100.0, 100.0),
        ("abc", "abc", 100.0000001, 0.0),
        ("fuzzy wuzzy was a bear", "wuzzy fuzzy was a bear", 0.0, 95.0),
        ("ab", "abc", 0.0, 90.0),  # length ratio exactly 1.5: partial branch
        ("a", "abcdefgh", 0.0, 90.0),  # exactly 8.0: scale 0.9
        ("a", "abcdefghi", 0.0, 60.0),  # 9.0: scale 0.6
        ("hello", "hello world and more text here", 0.0, 90.0),
        ("abc", "abd", 66.7, 0.0),
        ("abc", "abd", 66.66666666666667, 66.66666666666667),
    ],
)
def test_known_values(a, b, cutoff, expected):
    assert w(a, b, cutoff) == expected
    assert ref.wratio(a, b, cutoff) == expected


def test_qratio_edges():
    assert tarnvel.fuzz_qratio("", "") == 0.0
    assert tarnvel.fuzz_qratio("", "a") == 0.0
    assert tarnvel.fuzz_qratio("abc", "abc") == 100.0
    assert tarnvel.fuzz_qratio("abc", "abc", 100.0000001) == 0.0


def rand_text(rng, alphabet, lo, hi):
    return "".join(rng.choice(alphabet) for _ in range(rng.randint(lo, hi)))


# Alphabets without white space give single words, which skip the token stages.
@pytest.mark.parametrize("alphabet", ["ab c", "abcdef  ", "aé中 \u3000\x1f", "xy\U0001f600 ", "ab",
                                      "abcdefgh", "aé中\x1f"])
def test_random_pairs_match_reference(alphabet):
    rng = random.Random(f"{SEED}-{alphabet}")
    cutoffs = [0.0, 0.0, 50.0, 85.0, 95.0, 100.0, -1.0, -INF, NAN, 101.0]
    for _ in range(120 * MULTIPLIER):
        a = rand_text(rng, alphabet, 0, 10)
        # lengths that land on both branches and both partial scales
        b = rand_text(rng, alphabet, 0, rng.choice([6, 14, 30, 90]))
        c = rng.choice(cutoffs) if rng.random() < 0.6 else rng.uniform(0, 100)
        got = w(a, b, c)
        assert got == ref.wratio(a, b, c), (a, b, c)
        assert 0.0 <= got <= 100.0


def token_text(rng, vocab):
    """Texts that are (or are nearly) their own sorted, unique-token forms: the shortcut's
    inputs and its near misses (a repeat, an unsorted pair, a double or other space)."""
    words = sorted(set(rng.choice(vocab) for _ in range(rng.randint(1, 5))))
    kind = rng.random()
    if kind < 0.15 and len(words) > 1:
        words[0], words[1] = words[1], words[0]
    elif kind < 0.3:
        words.append(words[-1])
    sep = rng.choice([" "] * 6 + ["  ", "\t", "\u3000"])
    text = sep.join(words)
    return text + " " if rng.random() < 0.05 else text


@pytest.mark.parametrize("vocab", [["a", "ab", "abc", "b", "ba", "bab", "c", "ca"],
                                   ["new", "york", "yorke", "city", "ci", "é", "éa", "中", "a\x00"]])
def test_sorted_token_texts_match_reference(vocab):
    rng = random.Random(f"{SEED}-sorted-{vocab[0]}")
    cutoffs = [0.0, 0.0, 50.0, 85.0, 95.0, 100.0, NAN]
    for _ in range(400 * MULTIPLIER):
        a, b = token_text(rng, vocab), token_text(rng, vocab)
        c = rng.choice(cutoffs) if rng.random() < 0.6 else rng.uniform(0, 100)
        assert w(a, b, c) == ref.wratio(a, b, c), (a, b, c)
