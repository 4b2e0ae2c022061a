"""Borrowed outputs survive forks and hostile resizes; length hints are only hints."""

import pytest

from conftest import run_python

import tarnvel
from fuzz.fuzz_calls import LyingLen  # an iterable whose __len__ is far from its item count


class LyingIterator:
    """An iterator whose __length_hint__ (and __len__) claim far more than it yields."""

    def __init__(self, items, claimed):
        self.it, self.claimed = iter(items), claimed

    def __iter__(self):
        return self

    def __next__(self):
        return next(self.it)

    def __len__(self):
        return self.claimed

    def __length_hint__(self):
        return self.claimed


HINTS = """
    import resource
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    # Far below what a reservation of 10**9 items would need.
    resource.setrlimit(resource.RLIMIT_AS, (2 << 30, hard))
    import tarnvel as t
    class L:
        def __init__(self, items): self.items = items
        def __len__(self): return 10**9
        def __iter__(self): return iter(self.items)
    print(t.levenshtein_batch("abc", L(["abd", "xyz"])))
    print(t.damerau_levenshtein_cdist(L(["ca"]), L(["abc", "ac"])))
    print(t.jaro_winkler_batch_fn("abc", L(["abc"])))
    print(t.fuzz_extract_one("abc", L(["x", "abc"])))
"""


def test_over_reported_length_is_only_a_hint():
    out = run_python(HINTS).splitlines()
    assert out == ["[1, 3]", "[[2, 1]]", "[1.0]", "('abc', 100.0, 1)"]


@pytest.mark.parametrize("claimed", [0, 1, 3, 70_000])
def test_any_length_hint_gives_every_item(claimed, rng):
    items = ["".join(rng.choice("abcé") for _ in range(rng.randint(0, 9))) for _ in range(70_001)]
    assert tarnvel.levenshtein_batch("abc", LyingLen(items, claimed)) == tarnvel.levenshtein_batch("abc", items)
    short = items[:300]
    assert tarnvel.fuzz_ratio_batch("ab", LyingIterator(short, claimed)) == tarnvel.fuzz_ratio_batch("ab", short)


MATCH_HINTS = """
    import resource
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (2 << 30, hard))
    import tarnvel_match as tm
    class It:
        def __init__(self, items): self.it = iter(items)
        def __iter__(self): return self
        def __next__(self): return next(self.it)
        def __length_hint__(self): return 10**9
        def __len__(self): return 10**9
    print(len(tm.Choices(It(["abc", "abd"]))))
    print(tm.extract_one("abc", It(["x", "abc"]))[2])
"""


def test_match_collection_ignores_lying_hints():
    pytest.importorskip("numpy")
    assert run_python(MATCH_HINTS).split() == ["2", "1"]


FORK_BORROW = """
    import os, random, threading
    import numpy as np, tarnvel as t
    rng = random.Random(2)
    a = ["".join(rng.choice("abcdefgh") for _ in range(400)) for _ in range(48)]
    out = np.zeros((len(a), len(a)), dtype=np.uint32)
    stop = threading.Event()
    def big():
        # Calls again until the fork is done, so that however fast a call is, the probe
        # below finds one holding its borrow (the probe may itself hold the array).
        while not stop.is_set():
            try:
                t.damerau_levenshtein_cdist_into(a, a, out)
            except BufferError:
                pass
    th = threading.Thread(target=big)
    th.start()
    # Wait until the call holds its borrow: another _into on the same array is refused.
    tiny = ["x"] * len(a)
    while True:
        try:
            t.levenshtein_cdist_into(tiny, tiny, out)
        except BufferError:
            break
    pid = os.fork()
    if pid == 0:
        # The borrowing thread does not exist here: the array is free to use.
        try:
            t.levenshtein_cdist_into(["ab"] * len(a), ["abc"] * len(a), out)
            ok = (out == 1).all()
            small = np.zeros(3, dtype=np.uint32)
            t.levenshtein_batch_into("ab", ["a", "abc", ""], small)
            ok = ok and small.tolist() == [1, 1, 2]
        except BaseException as e:
            print("child:", type(e).__name__, e, flush=True)
            ok = False
        os._exit(0 if ok else 1)
    _, status = os.waitpid(pid, 0)
    stop.set()
    th.join()
    print(os.waitstatus_to_exitcode(status), out[3, 5] == t.damerau_levenshtein_distance(a[3], a[5]))
"""


def test_forked_child_starts_with_no_borrows():
    # The fork often lands while the other thread is still starting the pool (its first
    # call): the child must not inherit that lock. Several runs, each with a timeout.
    pytest.importorskip("numpy")
    for _ in range(4):
        assert run_python(FORK_BORROW, timeout=60).split() == ["0", "True"]


RESIZE = """
    import random, sys, threading
    import numpy as np, tarnvel as t
    direct, how = sys.argv[1] == "direct", sys.argv[2]
    rng = random.Random(3)
    if direct:  # a uint32 matrix of at least 2**20 elements is written in place
        a = ["".join(rng.choice("abcdefgh") for _ in range(60)) for _ in range(1100)]
        b = a[:1000]
        out = np.zeros((len(a), len(b)), dtype=np.uint32)
        call = lambda: t.levenshtein_cdist_into(a, b, out)
    else:
        a = ["".join(rng.choice("abcdéfgh") for _ in range(300)) for _ in range(400)]
        b = a[:300]
        out = np.zeros((len(a), len(b)), dtype=np.float64)
        call = lambda: t.jaro_winkler_cdist_into(a, b, out)
    n, m = out.shape
    result = []
    def run():
        while True:
            try:
                call()
                result.append("completed")
            except BufferError as e:
                if "concurrently borrowed" in str(e):  # the probe below held the array
                    continue
                result.append("BufferError: " + str(e))
            return
    th = threading.Thread(target=run)
    th.start()
    tiny = ["x"] * n
    while True:  # until the call holds its borrow
        if not th.is_alive():  # the call ended before the probe saw it: run it again
            result.clear()
            th = threading.Thread(target=run)
            th.start()
        try:
            t.levenshtein_cdist_into(tiny, tiny[:m], out) if direct else t.jaro_winkler_cdist_into(tiny, tiny[:m], out)
        except BufferError:
            break
    attempts = []
    for shape in ((4,), (n * m * 2,)) if how == "size" else ((m, n),):
        try:
            out.resize(shape, refcheck=False)
            attempts.append("resized")
        except ValueError:
            attempts.append("refused")
    th.join()
    print(result[0])
    print(*attempts)
    if result[0] == "completed":
        ref = [[t.levenshtein_distance(x, y) if direct else t.jaro_winkler_similarity(x, y) for y in b[:7]] for x in a[:5]]
        print(out.shape == (n, m) and out[:5, :7].tolist() == ref)
"""


@pytest.mark.parametrize("direct", ["direct", "copy"])
def test_resize_during_a_call_never_moves_the_memory(direct):
    pytest.importorskip("numpy")
    out = run_python(RESIZE.replace("sys.argv[1]", repr(direct)).replace("sys.argv[2]", "'size'")).splitlines()
    # The array cannot be reallocated under the call: the resize is refused and the call
    # completes with correct results.
    assert out == ["completed", "refused refused", "True"], out


@pytest.mark.parametrize("direct", ["direct", "copy"])
def test_reshape_during_a_call_raises_buffer_error(direct):
    pytest.importorskip("numpy")
    out = run_python(RESIZE.replace("sys.argv[1]", repr(direct)).replace("sys.argv[2]", "'shape'")).splitlines()
    assert out == ["BufferError: out was resized or reshaped during the call", "resized"], out
