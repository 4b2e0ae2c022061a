"""Levenshtein distance: the scalar entry points and the Myers kernels behind them."""

import pytest

import tarnvel
from conftest import ASCII_SMALL, ASCII_WIDE, MULTIPLIER, NON_ASCII, random_text
from edit_reference import levenshtein_dp

LEV_FUNCS = [tarnvel.levenshtein_distance, tarnvel.levenshtein_myers]


@pytest.mark.parametrize("fn", LEV_FUNCS)
@pytest.mark.parametrize("a, b, expected", [
    ("", "", 0), ("", "abc", 3), ("flaw", "lawn", 2), ("intention", "execution", 5),
    ("é", "e", 1), ("日本", "日本語", 1), ("abc", "abç", 1), ("日本語🙂", "日本語🙂", 0),
    ("kitten", "kitten", 0),
    ("a" * 64, "b" * 64, 64), ("a" * 65, "b" * 65, 65), ("a" * 64, "a" * 100, 36),
])
def test_known_values_both_orders(fn, a, b, expected):
    assert fn(a, b) == expected
    assert fn(b, a) == expected


def _pairs(rng, count, max_len, alphabet):
    for _ in range(count):
        a = random_text(rng, max_len, alphabet)
        if rng.random() < 0.3 and a:
            # a near-copy: affixes shared, a few edits inside
            b = list(a)
            for _ in range(rng.randint(1, 3)):
                p = rng.randrange(len(b) + 1)
                b.insert(p, rng.choice(alphabet))
            b = "".join(b)
        else:
            b = random_text(rng, max_len, alphabet)
        yield a, b


@pytest.mark.parametrize("alphabet", [ASCII_SMALL, ASCII_WIDE, NON_ASCII])
@pytest.mark.parametrize("max_len", [10, 70, 140])
def test_random_against_dp(rng, alphabet, max_len):
    # 70 and 140 cross the one-word limit and the second word of the blocked kernel.
    for a, b in _pairs(rng, 40 * MULTIPLIER, max_len, alphabet):
        expected = levenshtein_dp(a, b)
        assert tarnvel.levenshtein_distance(a, b) == expected, (a, b)
        assert tarnvel.levenshtein_myers(b, a) == expected, (a, b)


def test_lengths_around_word_boundaries(rng):
    for la in (1, 63, 64, 65, 127, 128, 129, 200):
        for lb in (0, 1, 64, 65, 130):
            for alphabet in (ASCII_SMALL, "aé日"):
                a = "".join(rng.choice(alphabet) for _ in range(la))
                b = "".join(rng.choice(alphabet) for _ in range(lb))
                assert tarnvel.levenshtein_distance(a, b) == levenshtein_dp(a, b), (la, lb)


def test_long_texts_bit_parallel(rng):
    a = random_text(rng, 1500, ASCII_WIDE, min_len=1200)
    b = a[:300] + random_text(rng, 50, ASCII_WIDE) + a[400:]
    assert tarnvel.levenshtein_distance(a, b) == levenshtein_dp(a, b)
    ua = random_text(rng, 700, NON_ASCII, min_len=600)
    ub = random_text(rng, 700, NON_ASCII, min_len=600)
    assert tarnvel.levenshtein_distance(ua, ub) == levenshtein_dp(ua, ub)


def test_long_unrelated_texts_against_dp(rng):
    # More than eight 64-bit blocks: the vector kernel hands deltas from stripe to stripe.
    a = random_text(rng, 1100, ASCII_WIDE, min_len=1050)
    b = random_text(rng, 1000, ASCII_WIDE, min_len=900)
    assert tarnvel.levenshtein_distance(a, b) == levenshtein_dp(a, b)


# --- MyersPattern and the kernels (private test module) ---

PRECONDITION = "MyersPattern: pattern must be non-empty ASCII \u2264 64 bytes (got {} bytes, ascii={})"


@pytest.mark.parametrize("pattern, size, ascii", [
    ("", 0, "true"), ("a" * 65, 65, "true"), ("é", 2, "false"), ("x" * 70 + "é", 72, "false"),
])
def test_pattern_precondition_message(testing, pattern, size, ascii):
    for call in (lambda: testing.myers_pattern_info(pattern),
                 lambda: testing.myers_distance(pattern, "abc"),
                 lambda: testing.myers_multi(pattern, ["a"] * 4)):
        with pytest.raises(BaseException) as info:
            call()
        assert type(info.value).__name__ == "PanicException"
        assert not isinstance(info.value, Exception)
        assert info.value.args == (PRECONDITION.format(size, ascii),)
    # the module stays usable
    assert tarnvel.levenshtein_distance("ab", "ba") == 2


def test_pattern_fields(testing):
    length, mask, last_bit, peq = testing.myers_pattern_info("abca")
    assert (length, mask, last_bit) == (4, 15, 8)
    assert peq[ord("a")] == 9 and peq[ord("b")] == 2 and peq[ord("c")] == 4
    assert sum(1 for v in peq if v) == 3
    length, mask, last_bit, peq = testing.myers_pattern_info("z" * 64)
    assert (length, mask, last_bit) == (64, 2**64 - 1, 2**63)
    assert peq[ord("z")] == 2**64 - 1


@pytest.mark.parametrize("text, expected", [("", 4), ("abca", 0), ("bca", 1), ("xabcax", 2)])
def test_one_word_kernel(testing, text, expected):
    assert testing.myers_distance("abca", text) == expected


def _group(rng, lengths, alphabet="abcd"):
    return ["".join(rng.choice(alphabet) for _ in range(n)) for n in lengths]


@pytest.mark.parametrize("pattern_len", [1, 5, 63, 64])
def test_every_lane_equals_one_word_kernel(testing, rng, pattern_len):
    pattern = "".join(rng.choice("abcd") for _ in range(pattern_len))
    for lengths in ([0, 1, 63, 64, 65, 200, 5, 2], [64, 64, 0, 0, 200, 1, 65, 63],
                    [rng.randint(0, 130) for _ in range(8)]):
        texts = _group(rng, lengths)
        texts[3] = texts[2]  # repeated texts give repeated scores
        expected = [testing.myers_distance(pattern, t) for t in texts]
        assert expected == [levenshtein_dp(pattern, t) for t in texts]
        assert testing.myers_8way(pattern, texts) == expected
        assert testing.myers_multi(pattern, texts) == expected
        assert testing.myers_4way(pattern, texts[:4]) == expected[:4]
        assert testing.myers_4way(pattern, texts[4:]) == expected[4:]
        assert testing.myers_4way_scalar(pattern, texts[4:]) == expected[4:]
        for k in (1, 2, 4):
            assert testing.myers_multi(pattern, texts[:k]) == expected[:k]
