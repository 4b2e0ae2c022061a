"""Jaro and Jaro-Winkler of single pairs: known values, the p checks, the kernel
preconditions, and every kernel against a plain Python scan, bit for bit."""

import math
import os
import random

import pytest

import tarnvel

T = pytest.importorskip("_tarnvel_testing")

SEED = int(os.environ.get("SEED", "20261207"))
MULT = MULTIPLIER = max(1, int(os.environ.get("MULTIPLIER", "1")))
P_MSG = "Prefix scaling parameter 'p' must be between 0.0 and 0.25"


def ref_jaro(a, b):
    """The matching scan, written out plainly."""
    la, lb = len(a), len(b)
    if la == 0:
        return 1.0 if lb == 0 else 0.0
    if lb == 0:
        return 0.0
    if a == b:
        return 1.0
    half = max(la, lb) // 2
    w = half - 1 if half else 0
    fa, fb = [False] * la, [False] * lb
    m = 0
    for j in range(la):
        for k in range(max(0, j - w), min(lb, j + w + 1)):
            if not fb[k] and a[j] == b[k]:
                fa[j] = fb[k] = True
                m += 1
                break
    if m == 0:
        return 0.0
    t, k = 0, 0
    for j in range(la):
        if fa[j]:
            while not fb[k]:
                k += 1
            t += a[j] != b[k]
            k += 1
    M = float(m)
    q1 = (M - t // 2) / M
    s = M / la + M / lb
    return (q1 + s) / 3.0


def ref_jaro_winkler(a, b, p=0.1):
    if a == b:
        return 1.0
    j = ref_jaro(a, b)
    if j < 0.7:
        return j
    l = 0
    while l < min(4, len(a), len(b)) and a[l] == b[l]:
        l += 1
    return min((1.0 - j) * (l * p) + j, 1.0)


def panic_message(fn, *args):
    with pytest.raises(BaseException) as e:
        fn(*args)
    assert type(e.value).__name__ == "PanicException"
    return str(e.value)


def same(x, y):
    return float.hex(x) == float.hex(y)


def rand_text(rng, n, alphabet):
    return "".join(rng.choice(alphabet) for _ in range(n))


KNOWN_JARO = [
    ("", "", 1.0), ("", "x", 0.0), ("x", "", 0.0), ("abc", "abc", 1.0),
    ("ab", "ba", 0.0),
    ("MARTHA", "MARHTA", 0.9444444444444445),
    ("abcdef", "abcefd", 0.9444444444444445),
    ("café", "cafe", 0.8333333333333334),
    ("日本語", "日本人", 0.7777777777777777),
    ("a" * 200, "a" * 199 + "b", 0.9966666666666667),
    ("x" * 65, "x" * 64, 0.9948717948717949),
    ("ab" * 40, "ba" * 40, 0.8333333333333334),
]

KNOWN_JW = [
    ("MARTHA", "MARHTA", 0.9611111111111111),
    ("DWAYNE", "DUANE", 0.8400000000000001),
    ("DIXON", "DICKSONX", 0.8133333333333332),
    ("stone", "tones", 0.8666666666666667),
    ("later", "alter", 0.9333333333333332),
    ("hello", "hallo", 0.88),
    ("café", "cafe", 0.8833333333333334),
    ("日本語", "日本人", 0.8222222222222222),
    ("a" * 200, "a" * 199 + "b", 0.998),
    ("x" * 65, "x" * 64, 0.9969230769230769),
    ("", "", 1.0),
]


@pytest.mark.parametrize("a,b,expected", KNOWN_JARO)
def test_known_jaro_values(a, b, expected):
    for fn in (tarnvel.jaro_similarity, tarnvel.jaro_optimized):
        assert same(fn(a, b), expected)
    assert same(ref_jaro(a, b), expected)


@pytest.mark.parametrize("a,b,expected", KNOWN_JW)
def test_known_jaro_winkler_values(a, b, expected):
    assert same(tarnvel.jaro_winkler_similarity(a, b), expected)
    assert same(tarnvel.jaro_winkler_similarity(a, b, 0.1), expected)
    assert same(ref_jaro_winkler(a, b), expected)


def test_winkler_rules():
    # Below 0.7 nothing is added, whatever the prefix.
    low = tarnvel.jaro_similarity("abcdxyzuvw", "abcdqrstlm")
    assert low < 0.7
    assert same(tarnvel.jaro_winkler_similarity("abcdxyzuvw", "abcdqrstlm", 0.25), low)
    # p = 0 gives the Jaro value; prefixes longer than 4 count as 4.
    assert same(tarnvel.jaro_winkler_similarity("MARTHA", "MARHTA", 0.0),
                tarnvel.jaro_similarity("MARTHA", "MARHTA"))
    assert T.winkler_prefix("abcdefg", "abcdefh") == 4
    assert T.winkler_prefix("日本語", "日本人") == 2
    assert T.winkler_prefix("", "abc") == 0
    j = tarnvel.jaro_similarity("abcdefgh", "abcdefhg")
    assert same(tarnvel.jaro_winkler_similarity("abcdefgh", "abcdefhg", 0.25),
                min((1.0 - j) * (4 * 0.25) + j, 1.0))


def test_p_range_checks():
    assert tarnvel.jaro_winkler_similarity("ab", "ab", 0.25) == 1.0
    assert tarnvel.jaro_winkler_similarity("ab", "ac", p=0.0) == tarnvel.jaro_similarity("ab", "ac")
    for bad in (0.2500001, -0.0001, math.nan, math.inf, 0.3):
        with pytest.raises(ValueError) as e:
            tarnvel.jaro_winkler_similarity("MARTHA", "MARHTA", bad)
        assert str(e.value) == P_MSG
    with pytest.raises(TypeError):
        tarnvel.jaro_winkler_similarity("a", "b", "0.1")
    with pytest.raises(TypeError):
        tarnvel.jaro_similarity("a", b"b")
    # The check comes after the texts: a bad text wins over a bad p.
    with pytest.raises(TypeError):
        tarnvel.jaro_winkler_similarity(1, "b", 0.9)


def test_docstring_signatures():
    assert tarnvel.jaro_similarity.__text_signature__ == "(a, b, /)"
    assert tarnvel.jaro_optimized.__text_signature__ == "(a, b, /)"
    assert tarnvel.jaro_winkler_similarity.__text_signature__ == "(a, b, p=0.1, /)"


def test_kernel_preconditions():
    assert panic_message(T.jaro_bitpar, "a" * 65, "abc") == (
        "jaro_bitpar: inputs must be ASCII \u2264 64 bytes "
        "(got a=65 bytes ascii=true, b=3 bytes ascii=true)")
    assert panic_message(T.jaro_bitpar, "abc", "é") == (
        "jaro_bitpar: inputs must be ASCII \u2264 64 bytes "
        "(got a=3 bytes ascii=true, b=2 bytes ascii=false)")
    assert panic_message(T.jaro_4way, "a" * 65, ["a", "b", "c", "d"]) == (
        "jaro_4way: first argument must be ASCII \u2264 64 bytes (got 65 bytes, ascii=true)")
    assert "ascii=false" in panic_message(T.jaro_multi, "é", ["a", "b", "c", "d"])
    # The module stays usable afterwards.
    assert tarnvel.jaro_similarity("a", "a") == 1.0
    assert T.jaro_bitpar("", "") == 1.0
    assert T.jaro_bitpar("", "a") == 0.0
    assert T.jaro_bitpar("abc", "abc") == 1.0


def test_scalar_kernels_against_python_scan():
    rng = random.Random(SEED)
    lengths = list(range(0, 66)) + [100, 127, 128, 129, 200]
    for _ in range(600 * MULT):
        la, lb = rng.choice(lengths), rng.choice(lengths)
        alphabet = "abcdefgh"[: rng.randint(1, 8)]
        a, b = rand_text(rng, la, alphabet), rand_text(rng, lb, alphabet)
        exp = ref_jaro(a, b)
        got = [tarnvel.jaro_similarity(a, b), tarnvel.jaro_optimized(a, b),
               T.jaro_scalar_bytes(a, b)]
        if a and b:
            got.append(T.jaro_scan(a, b))
        if la <= 64 and lb <= 64:
            got.append(T.jaro_bitpar(a, b))
        assert all(same(g, exp) for g in got), (a, b, exp, got)
        p = rng.choice([0.0, 0.1, 0.15, 0.25])
        assert same(tarnvel.jaro_winkler_similarity(a, b, p), ref_jaro_winkler(a, b, p)), (a, b, p)


def test_every_length_pair_up_to_64():
    rng = random.Random(SEED + 1)
    for la in range(1, 65):
        for lb in (1, la // 2 + 1, la, 64):
            a, b = rand_text(rng, la, "abc"), rand_text(rng, lb, "abc")
            exp = T.jaro_scan(a, b)
            assert same(T.jaro_bitpar(a, b), exp), (a, b)
            assert same(tarnvel.jaro_similarity(a, b), exp), (a, b)


def test_long_texts_multiword():
    rng = random.Random(SEED + 2)
    for n in (65, 127, 128, 129, 300, 1000):
        for alphabet in ("ab", "abcdefghijklmnopqrstuvwxyz "):
            a = rand_text(rng, n, alphabet)
            b = rand_text(rng, rng.randint(n // 2, n + 40), alphabet)
            exp = T.jaro_scan(a, b)
            assert same(tarnvel.jaro_similarity(a, b), exp)
            assert same(tarnvel.jaro_similarity(b, a), T.jaro_scan(b, a))
            assert same(tarnvel.jaro_optimized(a, b), exp)
    a = rand_text(rng, 600, "abc")
    assert same(tarnvel.jaro_similarity(a, a[:7]), ref_jaro(a, a[:7]))
    assert same(tarnvel.jaro_similarity(a[:7], a), ref_jaro(a[:7], a))


def test_code_points():
    rng = random.Random(SEED + 3)
    alphabet = "aé日本語🙂ß"
    for _ in range(300 * MULT):
        la, lb = rng.choice([0, 1, 3, 10, 64, 65, 128, 129, 150]), rng.randint(0, 140)
        a = rand_text(rng, la, alphabet)
        b = rand_text(rng, lb, alphabet + "b")
        exp = ref_jaro(a, b)
        assert same(tarnvel.jaro_similarity(a, b), exp), (a, b)
        assert same(tarnvel.jaro_optimized(a, b), exp), (a, b)
        assert same(tarnvel.jaro_winkler_similarity(a, b), ref_jaro_winkler(a, b)), (a, b)


def test_four_and_eight_lanes():
    rng = random.Random(SEED + 4)
    for _ in range(150 * MULT):
        alphabet = "abcd"[: rng.randint(1, 4)]
        a = rand_text(rng, rng.randint(1, 64), alphabet)
        cands = [rand_text(rng, rng.choice([1, 2, rng.randint(1, 64), 63, 64]), alphabet)
                 for _ in range(8)]
        cands[rng.randrange(8)] = a  # an identical candidate gives exactly 1.0
        exp = [T.jaro_scan(a, c) for c in cands]
        got4 = T.jaro_4way(a, cands[:4]) + T.jaro_4way(a, cands[4:])
        got8 = T.jaro_8way(a, cands)
        for L in (1, 2, 3, 4, 8):
            assert all(map(same, T.jaro_multi(a, cands[:L]), exp[:L])), (a, cands, L)
        assert all(map(same, got4, exp)), (a, cands)
        assert all(map(same, got8, exp)), (a, cands)


def test_symmetry_bit_for_bit():
    # The cross-products rely on it: both directions of the matching scan flag the same
    # positions, so the value is the same double.
    rng = random.Random(SEED + 5)
    for _ in range(400 * MULTIPLIER):
        alphabet = rng.choice(["ab", "abcd", "aé日b"])
        a = rand_text(rng, rng.choice([1, 5, 17, 64, 65, 130, 300]), alphabet)
        b = rand_text(rng, rng.randint(1, 300), alphabet)
        assert same(tarnvel.jaro_similarity(a, b), tarnvel.jaro_similarity(b, a)), (a, b)
        assert same(ref_jaro(a, b), ref_jaro(b, a))


def test_long_code_point_texts():
    rng = random.Random(SEED + 6)
    alphabet = "".join(chr(0x4E00 + i) for i in range(40)) + "ab"
    for n in (129, 200, 700):
        a = rand_text(rng, n, alphabet)
        b = list(a)
        for _ in range(n // 8):
            b[rng.randrange(n)] = rng.choice(alphabet)
        b = "".join(b)
        assert same(tarnvel.jaro_similarity(a, b), T.jaro_scan(a, b))
        assert same(tarnvel.jaro_winkler_similarity(a, b), ref_jaro_winkler(a, b))


def test_one_non_ascii_symbol_anywhere():
    # The byte/code point switch must notice a single non-ASCII symbol at any position.
    for n in range(1, 25):
        for pos in range(n):
            a = "ab" * n
            a = a[:pos] + "é" + a[pos + 1:n]
            b = ("ab" * n)[:n]
            assert same(tarnvel.jaro_similarity(a, b), ref_jaro(a, b)), (a, b)
            assert same(tarnvel.jaro_winkler_similarity(b, a), ref_jaro_winkler(b, a)), (a, b)
        assert tarnvel.jaro_winkler_batch_fn(b, [a, b])[1] == 1.0


def test_code_points_sharing_a_low_byte():
    # a, U+0161, U+0261, U+1061 and U+10061 all end in the byte 0x61.
    rng = random.Random(SEED + 7)
    alphabet = "a\u0161\u0261\u1061\U00010061b"
    for _ in range(300 * MULTIPLIER):
        a = rand_text(rng, rng.randint(1, 64), alphabet)
        b = rand_text(rng, rng.randint(1, 64), alphabet)
        assert same(tarnvel.jaro_similarity(a, b), ref_jaro(a, b)), (a, b)
        assert same(tarnvel.jaro_winkler_similarity(a, b, 0.2), ref_jaro_winkler(a, b, 0.2)), (a, b)
