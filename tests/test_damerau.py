"""Damerau-Levenshtein (unrestricted, Lowrance-Wagner values) and damerau_ratio."""

import pytest

import tarnvel
from conftest import ASCII_SMALL, ASCII_WIDE, MULTIPLIER, NON_ASCII, random_text
from edit_reference import damerau_dp


@pytest.mark.parametrize("a, b, expected", [
    ("ab", "ba", 1), ("ca", "abc", 2), ("abcdef", "abcfde", 2), ("a cat", "an act", 2),
    ("", "abc", 3), ("abc", "", 3), ("", "", 0), ("é", "e", 1), ("éa", "aé", 1),
    ("日本語", "本日語", 1), ("abc", "ab\u00e7", 1), ("xy" * 40, "yx" * 40, 2), ("xy" * 3, "yx" * 3, 2),
])
def test_known_values(a, b, expected):
    assert tarnvel.damerau_levenshtein_distance(a, b) == expected
    assert tarnvel.damerau_levenshtein_distance(b, a) == expected


@pytest.mark.parametrize("a, b, expected", [
    ("", "", 100.0), ("abc", "abc", 100.0), ("abc", "", 0.0), ("ab", "ba", 75.0),
    ("ca", "abc", 60.0), ("abcd", "wxyz", 50.0), ("é", "e", 50.0),
])
def test_ratio_known_values(a, b, expected):
    assert tarnvel.damerau_ratio(a, b) == expected


def test_ratio_exact_formula(rng):
    for _ in range(50):
        a = random_text(rng, 20, NON_ASCII)
        b = random_text(rng, 20, NON_ASCII)
        total = len(a) + len(b)
        if total == 0:
            continue
        d = damerau_dp(a, b)
        assert tarnvel.damerau_ratio(a, b) == ((float(total) - float(d)) / float(total)) * 100.0


@pytest.mark.parametrize("alphabet", ["ab", ASCII_SMALL, ASCII_WIDE, NON_ASCII, "éa日"])
def test_random_against_full_matrix(rng, alphabet):
    # Small alphabets give many transpositions with symbols between their halves.
    for _ in range(60 * MULTIPLIER):
        a = random_text(rng, 12, alphabet)
        if rng.random() < 0.4 and len(a) > 1:
            p = rng.randrange(len(a) - 1)
            b = a[:p] + a[p + 1] + a[p] + a[p + 2:]
            b = b[: rng.randrange(len(b) + 1)] + rng.choice(alphabet) + b[rng.randrange(len(b) + 1):]
        else:
            b = random_text(rng, 12, alphabet)
        assert tarnvel.damerau_levenshtein_distance(a, b) == damerau_dp(a, b), (a, b)


def test_longer_texts_against_full_matrix(rng):
    for alphabet in (ASCII_SMALL, NON_ASCII):
        a = random_text(rng, 90, alphabet, min_len=60)
        b = list(a)
        for _ in range(8):
            p = rng.randrange(len(b) - 1)
            b[p], b[p + 1] = b[p + 1], b[p]
        b = "".join(b) + random_text(rng, 10, alphabet)
        assert tarnvel.damerau_levenshtein_distance(a, b) == damerau_dp(a, b)
        c = random_text(rng, 90, alphabet, min_len=60)
        assert tarnvel.damerau_levenshtein_distance(a, c) == damerau_dp(a, c)


@pytest.mark.parametrize("alphabet", ["ab", "abcd", "aé日"])
def test_rows_of_many_columns_against_full_matrix(rng, alphabet):
    # Rows of 64 columns and more take the vector scan with occurrence lists.
    for _ in range(6):
        a = random_text(rng, 150, alphabet, min_len=1)
        b = list(random_text(rng, 150, alphabet, min_len=64) if rng.random() < 0.5 else a)
        for _ in range(rng.randint(0, 12)):
            p = rng.randrange(max(1, len(b) - 1))
            b[p:p + 2] = b[p:p + 2][::-1]
            if rng.random() < 0.3:
                b.insert(p + 1, rng.choice(alphabet))
        b = "".join(b)
        assert tarnvel.damerau_levenshtein_distance(a, b) == damerau_dp(a, b), (a, b)


def test_ascii_routine_precondition(testing):
    assert testing.damerau_bytes("ca", "abc") == 2
    with pytest.raises(BaseException) as info:
        testing.damerau_bytes("é", "e")
    assert type(info.value).__name__ == "PanicException"
    assert info.value.args == ("damerau_bytes requires ASCII inputs",)


def test_long_texts_use_linear_memory():
    # The matrix form would need 4 * 5002 * 5002 bytes (100 MB); this has to stay small.
    resource = pytest.importorskip("resource")
    from conftest import run_python
    out = run_python("""
        import random, resource, tarnvel
        rng = random.Random(1)
        a = "".join(rng.choice("abcdefgh") for _ in range(5000))
        b = "".join(rng.choice("abcdefgh") for _ in range(5000))
        tarnvel.damerau_levenshtein_distance("x", "y")
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        tarnvel.damerau_levenshtein_distance(a, b)
        print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)
    """)
    assert int(out) < 20 * 1024  # KiB
