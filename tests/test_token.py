"""The six token scorers: known answers, tokenisation on exactly the Unicode White_Space
code points, and the plain reference on random word texts."""

import os
import random

import pytest

import fuzz_reference as ref
import tarnvel

SEED = int(os.environ.get("SEED", "20261207"))
MULTIPLIER = int(os.environ.get("MULTIPLIER", "1"))
NAN = float("nan")
INF = float("inf")

SCORERS = {
    "token_sort": (tarnvel.fuzz_token_sort_ratio, ref.token_sort_ratio),
    "token_set": (tarnvel.fuzz_token_set_ratio, ref.token_set_ratio),
    "token": (tarnvel.fuzz_token_ratio, ref.token_ratio),
    "partial_token_sort": (tarnvel.fuzz_partial_token_sort_ratio, ref.partial_token_sort_ratio),
    "partial_token_set": (tarnvel.fuzz_partial_token_set_ratio, ref.partial_token_set_ratio),
    "partial_token": (tarnvel.fuzz_partial_token_ratio, ref.partial_token_ratio),
}
NAMES = list(SCORERS)

WHITE_SPACE = [chr(c) for c in sorted(ref.WHITE_SPACE)]
NOT_SPACE = ["\x1c", "\x1d", "\x1e", "\x1f", "\u200b", "\u180e", "\ufeff", "\x00"]
CUTOFFS = [0.0, 0.0, 0.0, 40.0, 62.0, 75.0, 99.0, 100.0, -3.0, -INF, NAN, 100.0000001]


def scores(a, b, c=0.0):
    return {name: fn(a, b, c) for name, (fn, _) in SCORERS.items()}


def test_white_space_set_is_the_25_code_points():
    assert len(WHITE_SPACE) == 25
    assert all(ch.isspace() for ch in WHITE_SPACE)


@pytest.mark.parametrize("ws", WHITE_SPACE)
def test_every_white_space_code_point_separates_tokens(ws):
    a = f"a{ws}b"
    assert scores(a, "b a") == dict.fromkeys(NAMES, 100.0)
    assert tarnvel.fuzz_token_sort_ratio(f"{ws}{ws}zz{ws}y{ws}", "y zz") == 100.0


@pytest.mark.parametrize("ch", NOT_SPACE)
def test_other_controls_stay_inside_tokens(ch):
    a = f"a{ch}b"
    assert tarnvel.fuzz_token_sort_ratio(a, "b a") == ref.ratio(a, "a b")
    assert tarnvel.fuzz_token_set_ratio(a, "b a") < 100.0
    assert scores(a, "b a") == {n: r(a, "b a") for n, (_, r) in SCORERS.items()}


def test_known_values():
    assert scores("", "") == {
        "token_sort": 100.0, "token_set": 0.0, "token": 100.0,
        "partial_token_sort": 100.0, "partial_token_set": 0.0, "partial_token": 100.0}
    assert scores("", "abc") == dict.fromkeys(NAMES, 0.0)
    assert scores("abc", "") == dict.fromkeys(NAMES, 0.0)
    assert scores(" \t", "\u3000") == scores("", "")
    assert scores("new york mets", "new york yankees") == {
        "token_sort": 62.06896551724138, "token_set": 76.19047619047619,
        "token": 76.19047619047619, "partial_token_sort": 70.0,
        "partial_token_set": 100.0, "partial_token": 100.0}
    hello = scores("hello", "help")
    assert hello["token_sort"] == 66.66666666666667
    assert hello["token_set"] == 66.66666666666666
    assert hello["token"] == 66.66666666666667
    assert tarnvel.fuzz_token_sort_ratio("b a a", "a b") == 75.0
    assert tarnvel.fuzz_token_set_ratio("b a a", "a b") == 100.0


def test_cutoffs():
    for a, b in [("abc", "abc"), ("new york mets", "new york yankees"), ("", "")]:
        assert scores(a, b, 100.0000001) == dict.fromkeys(NAMES, 0.0)
    assert tarnvel.fuzz_token_set_ratio("new york mets", "new york yankees", 76.19047619047619) \
        == 76.19047619047619
    assert tarnvel.fuzz_token_set_ratio("new york mets", "new york yankees", 76.2) == 0.0
    # a NaN cutoff does not suppress the composed scores where they take "the larger of"
    got = scores("new york mets", "new york yankees", NAN)
    assert got == {n: r("new york mets", "new york yankees", NAN)
                   for n, (_, r) in SCORERS.items()}


def test_byte_order_sort():
    # "Z" < "a" < "é" < "中" by UTF-8 bytes; a proper prefix sorts first
    assert tarnvel.fuzz_token_sort_ratio("中 é a Z ab", "Z a ab é 中") == 100.0
    assert tarnvel.fuzz_token_sort_ratio("ab a", "a ab") == 100.0
    for a, b in [("ä b A", "b A a"), ("\U0001f600 \uffff x", "x \uffff")]:
        assert scores(a, b) == {n: r(a, b) for n, (_, r) in SCORERS.items()}


def test_tokens_sharing_long_prefixes_and_nul():
    # Tokens that agree in their first 8 bytes (or 3 code points), and NUL, which sorts
    # like the end of a shorter token.
    rng = random.Random(f"{SEED}-prefixes")
    vocab = ["abcdefgh", "abcdefghi", "abcdefgh\0", "abcdefgh\0a", "ab", "ab\0", "a\0",
             "abcdefghab", "中文字", "中文字x", "中文\0", "中文字\0", "中文"]
    for _ in range(40 * MULTIPLIER):
        a = " ".join(rng.choice(vocab) for _ in range(rng.randint(1, 6)))
        b = " ".join(rng.choice(vocab) for _ in range(rng.randint(1, 6)))
        for name, (fn, reference) in SCORERS.items():
            assert fn(a, b) == reference(a, b), (name, a, b)
        ascii_a, ascii_b = a.replace("中", "z").replace("文", "y").replace("字", "x"), b
        ascii_b = ascii_b.replace("中", "z").replace("文", "y").replace("字", "x")
        assert tarnvel.fuzz_token_sort_ratio(ascii_a, ascii_b) == \
            ref.token_sort_ratio(ascii_a, ascii_b)


def word_text(rng, vocab, max_words, seps):
    words = [rng.choice(vocab) for _ in range(rng.randint(0, max_words))]
    out = []
    for w in words:
        out.append(w)
        out.append("".join(rng.choice(seps) for _ in range(rng.randint(1, 2))))
    if rng.random() < 0.5:
        out.insert(0, rng.choice(seps))
    return "".join(out)[: rng.randint(0, 60)] if rng.random() < 0.2 else "".join(out)


VOCABS = {
    "ascii": (["a", "b", "ab", "ba", "abc", "new", "york", "mets", "x"], [" "]),
    "accented": (["é", "e", "ée", "ñu", "über", "uber", "a"], [" ", "\u00a0"]),
    "cjk": (["中", "中文", "文", "日本", "本"], ["\u3000", " "]),
    "white_space": (["a", "b", "a\x1fb", "c\x1c", "ab"], WHITE_SPACE),
    "duplicates": (["a", "a", "a", "b"], [" ", "\t"]),
}


@pytest.mark.parametrize("vocab", sorted(VOCABS))
def test_random_word_texts_match_reference(vocab):
    rng = random.Random(f"{SEED}-{vocab}")
    words, seps = VOCABS[vocab]
    for _ in range(60 * MULTIPLIER):
        a = word_text(rng, words, 5, seps)
        b = word_text(rng, words, 6, seps)
        c = rng.choice(CUTOFFS) if rng.random() < 0.5 else rng.uniform(0, 100)
        for name, (fn, reference) in SCORERS.items():
            assert fn(a, b, c) == reference(a, b, c), (name, a, b, c)


def test_longer_texts_around_64_match_reference():
    rng = random.Random(f"{SEED}-long")
    vocab = ["alpha", "beta", "gamma", "delta", "eps", "zeta", "ét", "中文"]
    for _ in range(3 * MULTIPLIER):
        a = " ".join(rng.choice(vocab) for _ in range(rng.randint(8, 14)))
        b = " ".join(rng.choice(vocab) for _ in range(rng.randint(8, 14)))
        for name, (fn, reference) in SCORERS.items():
            assert fn(a, b) == reference(a, b), (name, a, b)


def sorted_form_text(rng, vocab):
    """A text that is, or nearly is, its own sorted-token form: tokens in order, repeats
    allowed, one space between them; the near misses swap two neighbouring tokens (first,
    last or between), double a space, use another white space or leave one at an end."""
    words = sorted(rng.choice(vocab) for _ in range(rng.randint(0, 5)))
    kind = rng.random()
    if kind < 0.15 and len(words) > 1:
        i = rng.randrange(len(words) - 1)
        words[i], words[i + 1] = words[i + 1], words[i]
    sep = rng.choice([" "] * 8 + ["  ", "\t", "\u00a0"])
    text = sep.join(words)
    if kind > 0.95:
        text = rng.choice([" ", "\n"]) + text
    elif kind > 0.9:
        text += " "
    return text


@pytest.mark.parametrize("vocab", [["a", "ab", "abc", "b", "ba", "a\x00", "a\x1f"],
                                   ["é", "éa", "e", "中", "中文", "a"]])
def test_texts_in_sorted_form_match_reference(vocab):
    rng = random.Random(f"{SEED}-sorted-{vocab[0]}")
    for _ in range(300 * MULTIPLIER):
        a, b = sorted_form_text(rng, vocab), sorted_form_text(rng, vocab)
        c = rng.choice(CUTOFFS) if rng.random() < 0.5 else rng.uniform(0, 100)
        for name, (fn, reference) in SCORERS.items():
            assert fn(a, b, c) == reference(a, b, c), (name, a, b, c)
