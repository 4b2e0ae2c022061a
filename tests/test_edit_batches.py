"""Levenshtein and Damerau-Levenshtein batches and cross-products, their NumPy outputs,
and the equality of every value across SIMD levels."""

import json
import threading
import time

import pytest

import tarnvel
from conftest import (ASCII_SMALL, ASCII_WIDE, NON_ASCII, SEED, SIMD_LEVELS, random_text,
                      run_python)
from edit_reference import damerau_dp, levenshtein_dp

lev = tarnvel.levenshtein_distance
dam = tarnvel.damerau_levenshtein_distance


# --- values ---

def test_batch_edge_cases():
    assert tarnvel.levenshtein_batch("abc", []) == []
    assert tarnvel.levenshtein_batch("", ["a", "bb"]) == [1, 2]
    assert tarnvel.levenshtein_batch("kitten", ["sitten", "kitchen", "", "é"]) == [1, 2, 6, 6]
    assert tarnvel.levenshtein_cdist(["ab", "xyz"], ["ba", "xy", ""]) == [[2, 2, 2], [3, 1, 3]]
    assert tarnvel.levenshtein_cdist([], ["a"]) == []
    assert tarnvel.levenshtein_cdist(["a", "b"], []) == []
    assert tarnvel.damerau_levenshtein_batch("ab", ["ba", "ab", "abc", "ca"]) == [1, 0, 1, 2]
    assert tarnvel.damerau_levenshtein_batch("ab", []) == []
    assert tarnvel.damerau_levenshtein_cdist(["ca"], ["abc"]) == [[2]]
    assert tarnvel.damerau_levenshtein_cdist(["a"], []) == []
    assert tarnvel.damerau_levenshtein_cdist([], ["a"]) == []
    # any iterable of str
    assert tarnvel.levenshtein_batch("ab", (s for s in ["a", "abc"])) == [1, 1]


def _mixed_list(rng, n, max_len=80):
    out = []
    for _ in range(n):
        alphabet = rng.choice([ASCII_SMALL, ASCII_WIDE, NON_ASCII])
        out.append(random_text(rng, rng.choice([8, 16, 32, 64, max_len]), alphabet))
    return out


@pytest.mark.parametrize("query", ["a" * 64, "a" * 65, "abcab", "", "aé", "x" * 130])
def test_batch_paths_equal_scalar(rng, query):
    ascii_cands = [random_text(rng, 100, "abx") for _ in range(41)]
    mixed = ascii_cands + ["é" + ascii_cands[0], "日本"]
    for cands in (ascii_cands, mixed):
        expected = [lev(query, c) for c in cands]
        assert tarnvel.levenshtein_batch(query, cands) == expected
        assert tarnvel.damerau_levenshtein_batch(query, cands) == [dam(query, c) for c in cands]


def test_batch_against_dp(rng):
    query = random_text(rng, 20, "abcé", min_len=1)
    cands = [random_text(rng, 30, rng.choice(["abc", "abcé"])) for _ in range(60)]
    assert tarnvel.levenshtein_batch(query, cands) == [levenshtein_dp(query, c) for c in cands]
    assert tarnvel.damerau_levenshtein_batch(query, cands) == [damerau_dp(query, c) for c in cands]


def test_batch_two_chunks(rng):
    cands = [random_text(rng, 12, ASCII_SMALL) for _ in range(4097)]
    cands[4096] = "abcabcabcabc"
    query = "abcacb"
    expected = [lev(query, c) for c in cands]
    assert tarnvel.levenshtein_batch(query, cands) == expected
    assert expected[4096] == levenshtein_dp(query, cands[4096])


@pytest.mark.parametrize("rows, cols", [(1, 50), (3, 200), (70, 9), (100, 100)])
def test_cdist_against_scalar(rng, rows, cols):
    # Strings of every lane width (up to 8, 16, 32, 64 symbols and longer), ASCII and not.
    a = _mixed_list(rng, rows)
    b = _mixed_list(rng, cols)
    expected = [[lev(x, y) for y in b] for x in a]
    assert tarnvel.levenshtein_cdist(a, b) == expected
    np = pytest.importorskip("numpy")
    out = np.zeros((rows, cols), dtype=np.uint32)
    assert tarnvel.levenshtein_cdist_into(a, b, out) is None
    assert out.tolist() == expected


def test_cdist_spot_checks_against_dp(rng):
    a = _mixed_list(rng, 80)
    b = _mixed_list(rng, 12)
    m = tarnvel.levenshtein_cdist(a, b)
    for _ in range(40):
        i, j = rng.randrange(len(a)), rng.randrange(len(b))
        assert m[i][j] == levenshtein_dp(a[i], b[j])


def test_damerau_cdist_against_dp(rng):
    a = [random_text(rng, 10, rng.choice(["ab", "aé日"])) for _ in range(9)]
    b = [random_text(rng, 10, rng.choice(["ab", "aé日"])) for _ in range(7)]
    expected = [[damerau_dp(x, y) for y in b] for x in a]
    assert tarnvel.damerau_levenshtein_cdist(a, b) == expected
    np = pytest.importorskip("numpy")
    out = np.zeros((9, 7), dtype=np.uint32)
    tarnvel.damerau_levenshtein_cdist_into(a, b, out)
    assert out.tolist() == expected


# --- NumPy outputs ---

INTO_1D = [tarnvel.levenshtein_batch_into, tarnvel.damerau_levenshtein_batch_into]
INTO_2D = [tarnvel.levenshtein_cdist_into, tarnvel.damerau_levenshtein_cdist_into]
BORROWED = "out must be a writable array not concurrently borrowed"


@pytest.fixture
def np():
    return pytest.importorskip("numpy")


@pytest.mark.parametrize("fn, ref", [(INTO_1D[0], tarnvel.levenshtein_batch),
                                     (INTO_1D[1], tarnvel.damerau_levenshtein_batch)])
def test_batch_into_values_and_size(np, fn, ref):
    cands = ["sitting", "kitchen", "é"]
    out = np.full(3, 99, dtype=np.uint32)
    assert fn("kitten", cands, out) is None
    assert out.tolist() == ref("kitten", cands)
    bad = np.full(4, 7, dtype=np.uint32)
    with pytest.raises(ValueError, match=r"^out must hold exactly 3 uint32 elements, got 4$"):
        fn("kitten", cands, bad)
    assert bad.tolist() == [7] * 4
    empty = np.zeros(0, dtype=np.uint32)
    assert fn("kitten", [], empty) is None


@pytest.mark.parametrize("fn", INTO_1D + INTO_2D)
def test_out_type_errors(np, fn):
    import array
    two_d = fn in INTO_2D
    args = (["ab", "c"], ["x", "yz", ""]) if two_d else ("ab", ["x", "yz", ""])
    shape = (2, 3) if two_d else 3
    for bad in (memoryview(bytearray(24)), bytearray(24), array.array("I", [0] * 6), [0] * 6,
                np.zeros(shape, dtype=np.int64), np.zeros(shape, dtype=np.float32),
                np.zeros(shape, dtype=np.int32),
                np.zeros(6, dtype=np.uint32) if two_d else np.zeros((1, 3), dtype=np.uint32)):
        with pytest.raises(TypeError):
            fn(*args, bad)
    ro = np.zeros(shape, dtype=np.uint32)
    ro.flags.writeable = False
    with pytest.raises(BufferError, match=f"^{BORROWED}$"):
        fn(*args, ro)


@pytest.mark.parametrize("fn", INTO_2D)
def test_cdist_into_shapes_and_layout(np, fn):
    with pytest.raises(ValueError, match=r"^out must have shape \(2, 3\), got \[3, 2\]$"):
        fn(["ab", "c"], ["x", "yz", ""], np.zeros((3, 2), dtype=np.uint32))
    fortran = np.zeros((2, 3), dtype=np.uint32, order="F")
    with pytest.raises(BufferError, match="^out must be C-contiguous$"):
        fn(["ab", "c"], ["x", "yz", ""], fortran)
    assert not fortran.any()
    strided = np.zeros((2, 6), dtype=np.uint32)[:, ::2]
    with pytest.raises(BufferError, match="^out must be C-contiguous$"):
        fn(["ab", "c"], ["x", "yz", ""], strided)
    c_order = np.zeros((2, 3), dtype=np.uint32)
    fn(["ab", "c"], ["x", "yz", ""], c_order)
    assert c_order.tolist() == [[2, 2, 2], [1, 2, 1]]
    # empty shapes succeed and write nothing, whatever their flags
    fn([], ["a", "b", "c"], np.zeros((0, 3), dtype=np.uint32, order="F"))
    fn(["a"], [], np.zeros((1, 0), dtype=np.uint32))


@pytest.mark.parametrize("fn", INTO_1D)
def test_strided_batch_out(np, fn):
    base = np.zeros(6, dtype=np.uint32)
    with pytest.raises(BufferError, match="^out must be C-contiguous$"):
        fn("ab", ["a", "b", "c"], base[::2])
    assert not base.any()


def test_list_errors_come_before_out_errors(np):
    with pytest.raises(TypeError) as info:
        tarnvel.levenshtein_batch_into("ab", ["a", 5], np.zeros(7, dtype=np.int64))
    assert "ndarray" not in str(info.value)


@pytest.mark.parametrize("fn", INTO_2D)
def test_concurrent_into_on_same_array_refused(np, fn):
    # A slow first call holds the borrow while a second thread passes the same array,
    # then a view over the same memory.
    rows, cols, size = (200, 4, 3000) if fn is INTO_2D[0] else (8, 2, 2500)
    a = [random_text_fixed(i, size) for i in range(rows)]
    b = [random_text_fixed(1000 + i, size) for i in range(cols)]
    out = np.zeros((rows, cols), dtype=np.uint32)
    errors = []
    worker = threading.Thread(target=lambda: fn(a, b, out))
    worker.start()
    time.sleep(0.05)
    attempts = 0
    while worker.is_alive() and attempts < 2:
        try:
            fn(a[:1], b[:1], out[:1, :1])
        except BufferError as e:
            errors.append(str(e))
        else:
            assert not worker.is_alive(), "a concurrent borrow was accepted"
        try:
            fn(a, b, out)
        except BufferError as e:
            errors.append(str(e))
        attempts += 1
    worker.join()
    if attempts == 0:
        pytest.skip("the first call finished before the second started")
    assert errors and all(e == BORROWED for e in errors)
    expected = tarnvel.levenshtein_cdist if fn is INTO_2D[0] else tarnvel.damerau_levenshtein_cdist
    assert out[:2].tolist() == expected(a[:2], b)
    fn(a[:1], b[:1], out[:1, :1])  # the borrow was given back


def random_text_fixed(seed, n):
    import random
    r = random.Random(seed)
    return "".join(r.choice("abcdefgh") for _ in range(n))


# --- SIMD levels ---

SIMD_SCRIPT = """
import json, random, tarnvel, _tarnvel_testing as tt
rng = random.Random({seed})
def rt(n, alpha):
    return "".join(rng.choice(alpha) for _ in range(rng.randint(0, n)))
alphas = ["abc", "abcdefghij klmnop", "aábcçé日本🙂 "]
lists = [[rt(rng.choice([8, 16, 32, 64, 90]), rng.choice(alphas)) for _ in range(150)] for _ in range(2)]
ascii_list = [rt(70, "abcd") for _ in range(300)]
res = {{}}
res["cdist"] = tarnvel.levenshtein_cdist(lists[0][:40], lists[1])
res["cdist_small"] = tarnvel.levenshtein_cdist(lists[0][:3], lists[1])
res["cdist_ascii"] = tarnvel.levenshtein_cdist(ascii_list[:20], ascii_list)
res["batch"] = [tarnvel.levenshtein_batch(q, ascii_list) for q in ("abcd", "a" * 64, "a" * 65, "é")]
res["batch_mixed"] = tarnvel.levenshtein_batch("abcab", lists[0])
res["dam"] = tarnvel.damerau_levenshtein_cdist(lists[0][:10], lists[1][:30])
long_a = "".join(rng.choice("abcdefgh") for _ in range(6000))
long_b = list(long_a)
for _ in range(300):
    long_b[rng.randrange(len(long_b))] = rng.choice("abcdefghij")
long_b = "".join(long_b[:3000]) + "xyz" + "".join(long_b[3100:])
long_c = "".join(rng.choice("abcdefgh") for _ in range(5500))
long_u = "".join(rng.choice("aé日本b🙂") for _ in range(1500))
res["long"] = [tarnvel.levenshtein_distance(long_a, long_b), tarnvel.levenshtein_distance(long_a, long_c),
               tarnvel.levenshtein_distance(long_u, long_c[:1400]), tarnvel.levenshtein_distance(long_u, long_u[7:] + "x")]
res["dam_long"] = [tarnvel.damerau_levenshtein_distance(long_a[:900], long_b[:950]),
                   tarnvel.damerau_levenshtein_distance(long_u[:300], long_c[:200] + long_u[:100]),
                   tarnvel.damerau_levenshtein_distance(long_a[:130], long_a[1:131][::-1])]
group = [rt(200, "abcd") for _ in range(8)]
res["lanes"] = [tt.myers_multi(p, group[:k]) for p in ("abcd", "a" * 64) for k in (1, 2, 4, 8)]
print(json.dumps(res))
"""


def test_values_identical_under_every_simd_level(testing):
    results = {level: json.loads(run_python(SIMD_SCRIPT.format(seed=SEED), {"TARNVEL_SIMD": level}))
               for level in SIMD_LEVELS}
    base = results["portable"]
    for level in SIMD_LEVELS[1:]:
        assert results[level] == base, level
    import random
    rng = random.Random(SEED)

    def rt(n, alpha):
        return "".join(rng.choice(alpha) for _ in range(rng.randint(0, n)))
    alphas = ["abc", "abcdefghij klmnop", "aábcçé日本🙂 "]
    lists = [[rt(rng.choice([8, 16, 32, 64, 90]), rng.choice(alphas)) for _ in range(150)]
             for _ in range(2)]
    assert base["cdist"] == [[lev(x, y) for y in lists[1]] for x in lists[0][:40]]


def test_many_threads_at_once(rng):
    # Every entry point keeps its state per call; results must not depend on company.
    a = _mixed_list(rng, 30)
    b = _mixed_list(rng, 40)
    expected_lev = [[lev(x, y) for y in b] for x in a]
    expected_dam = [[dam(x, y) for y in b] for x in a]
    failures = []

    def work(i):
        if tarnvel.levenshtein_cdist(a, b) != expected_lev:
            failures.append(("lev", i))
        if tarnvel.damerau_levenshtein_cdist(a, b) != expected_dam:
            failures.append(("dam", i))
        if tarnvel.levenshtein_batch(a[i % 30], b) != expected_lev[i % 30]:
            failures.append(("batch", i))

    threads = [threading.Thread(target=work, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []
