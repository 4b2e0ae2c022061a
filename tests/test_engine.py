"""The parallel engine's contract: placement, division, failures, pool lifecycle."""

import os
import subprocess
import sys
import textwrap
import threading

import pytest

T = pytest.importorskip("_tarnvel_testing")
import tarnvel  # noqa: E402


def run_py(code, env_extra=None, timeout=120):
    env = dict(os.environ)
    env.pop("TARNVEL_NUM_THREADS", None)
    env.update(env_extra or {})
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env,
                          capture_output=True, text=True, timeout=timeout)
    assert proc.returncode == 0, proc.stderr
    return proc.stdout


def is_panic(exc):
    return type(exc).__name__ == "PanicException"


# --- placement -------------------------------------------------------------------

@pytest.mark.parametrize("n", [0, 1, 2, 3, 17, 1000, 4097, 100_003])
def test_map_places_results_by_position(n):
    assert T.engine_map(n) == [3 * i + 1 for i in range(n)]


@pytest.mark.parametrize("n,every", [(0, 1), (1, 1), (2, 2), (1001, 3), (50_000, 7), (9, 100)])
def test_filter_collect_keeps_input_order(n, every):
    assert T.engine_filter(n, every) == list(range(0, n, every))


@pytest.mark.parametrize("n,chunk", [(0, 4096), (1, 4096), (4095, 4096), (4096, 4096),
                                     (4097, 4096), (8192, 4096), (8193, 4096), (10, 1), (100, 7)])
def test_chunks_cover_positions(n, chunk):
    positions, _ = T.engine_chunks(n, chunk)
    assert positions == [i // chunk for i in range(n)]


@pytest.mark.parametrize("n", [0, 1, 5000])
def test_broken_engine_invariant_is_a_panic_with_its_message(n):
    # The engine reports through its own error type; the boundary keeps the message.
    with pytest.raises(BaseException) as info:
        T.engine_chunks(n, 0)
    assert is_panic(info.value), type(info.value)
    assert str(info.value) == "parallel_chunks: chunk size 0"
    assert T.engine_chunks(9, 4)[0] == [0, 0, 0, 0, 1, 1, 1, 1, 2]  # still usable


def test_chunk_boundary_4096_runs_on_caller_4097_on_pool():
    _, flags = T.engine_chunks(4096)
    assert flags == [1]
    _, flags = T.engine_chunks(4097)
    assert flags == [0, 0]


# --- division --------------------------------------------------------------------

def test_zero_and_one_unit_never_reach_the_workers():
    assert T.engine_pieces(0) == []
    assert T.engine_pieces(1) == [(0, 1, True)]


def test_two_units_split_onto_the_pool():
    assert T.engine_pieces(2) == [(0, 1, False), (1, 2, False)]


@pytest.mark.parametrize("n", [3, 10, 1000, 200_000])
def test_pieces_tile_the_range_and_stay_coarse(n):
    pieces = T.engine_pieces(n)
    assert pieces[0][0] == 0 and pieces[-1][1] == n
    assert all(p[1] == q[0] for p, q in zip(pieces, pieces[1:]))
    assert not any(on_caller for _, _, on_caller in pieces)
    workers = T.engine_info()[0]
    # Roughly one piece per worker; idle workers taking halves add a few levels more.
    assert len(pieces) <= min(n, 64 * workers)


# --- failures --------------------------------------------------------------------

@pytest.mark.parametrize("n,k", [(2, 0), (2, 1), (1000, 0), (1000, 499), (1000, 500), (1000, 999),
                                 (1, 0)])
def test_failure_reaches_caller_after_all_pieces_and_pool_survives(n, k):
    with pytest.raises(BaseException) as info:
        T.engine_fail(n, k)
    assert is_panic(info.value), info.value
    assert str(info.value) == f"item {k} failed"
    assert T.engine_map(5000) == [3 * i + 1 for i in range(5000)]


def test_memory_error_from_an_item():
    with pytest.raises(MemoryError):
        T.engine_fail(4000, 3999, True)
    assert T.engine_filter(4000, 2) == list(range(0, 4000, 2))


# --- threads and processes -------------------------------------------------------

def test_concurrent_python_threads_share_the_pool():
    choices = [f"city {i % 97} {i}" for i in range(20_000)]
    expected_scores = tarnvel.fuzz_ratio_batch("city 42", choices)
    expected_map = [3 * i + 1 for i in range(30_000)]
    errors = []

    def worker(seed):
        try:
            for r in range(15):
                if (seed + r) % 2:
                    assert tarnvel.fuzz_ratio_batch("city 42", choices) == expected_scores
                else:
                    assert T.engine_map(30_000) == expected_map
                if r % 5 == 0:
                    try:
                        T.engine_fail(1000, seed)
                    except BaseException as e:  # noqa: BLE001 - PanicException on purpose
                        assert is_panic(e)
        except BaseException as e:  # noqa: BLE001
            errors.append(e)

    threads = [threading.Thread(target=worker, args=(s,)) for s in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    assert not any(t.is_alive() for t in threads)
    assert errors == []


def test_pool_is_created_lazily_not_at_import():
    out = run_py("""
        import os, _tarnvel_testing as T, tarnvel
        tasks = lambda: len(os.listdir('/proc/self/task'))
        before = tasks()
        print(T.engine_info()[1], end=' ')
        tarnvel.fuzz_ratio('a', 'b')
        print(T.engine_info()[1], end=' ')
        T.engine_map(10)
        print(T.engine_info()[1], tasks() - before == T.engine_info()[0])
    """, {"TARNVEL_NUM_THREADS": "3"})
    assert out.split() == ["False", "False", "True", "True"]


@pytest.mark.parametrize("value,expected", [("1", 1), ("2", 2), ("3", 3), ("0", None),
                                            ("abc", None), ("-2", None), ("", None)])
def test_thread_count_override(value, expected):
    out = run_py("""
        import os, _tarnvel_testing as T
        T.engine_map(100)
        print(T.engine_info()[0], len(os.sched_getaffinity(0)))
    """, {"TARNVEL_NUM_THREADS": value})
    workers, cpus = map(int, out.split())
    assert workers == (expected if expected is not None else cpus)


RESULTS_SCRIPT = """
    import hashlib, random, _tarnvel_testing as T, tarnvel
    rng = random.Random(5)
    words = ["".join(rng.choice("abcdeé ") for _ in range(rng.randint(0, 12))) for _ in range(6000)]
    parts = [
        T.engine_map(9000), T.engine_chunks(8193)[0], T.engine_filter(12345, 5),
        tarnvel.fuzz_ratio_batch("abcde", words), tarnvel.fuzz_extract("abc", words, 50.0, 40),
        tarnvel.fuzz_extract("dab", words[:1001], 0.0, 1001),
    ]
    print(T.engine_info()[0], hashlib.sha256(repr(parts).encode()).hexdigest())
"""


def test_results_identical_for_every_worker_count():
    digests = set()
    for n in ("1", "2", "3", None):
        out = run_py(RESULTS_SCRIPT, {"TARNVEL_NUM_THREADS": n} if n else {})
        workers, digest = out.split()
        if n:
            assert workers == n
        digests.add(digest)
    assert len(digests) == 1


def test_forked_child_gets_a_working_pool():
    run_py("""
        import os, sys, _tarnvel_testing as T, tarnvel
        assert T.engine_map(10_000)[-1] == 3 * 9_999 + 1       # pool running in the parent
        pid = os.fork()
        if pid == 0:
            ok = (T.engine_map(50_000) == [3 * i + 1 for i in range(50_000)]
                  and tarnvel.fuzz_ratio_batch("ab", ["ab", "ba"] * 3000)[:2] == [100.0, 50.0]
                  and T.engine_info()[1])
            os._exit(0 if ok else 1)
        _, status = os.waitpid(pid, 0)
        assert os.waitstatus_to_exitcode(status) == 0, status
        assert T.engine_map(3) == [1, 4, 7]                     # parent still fine
    """, timeout=60)


def test_fork_while_other_threads_run_batches():
    # The child inherits whatever the pool and the storage cache were doing at the fork;
    # it must still compute, and the threads of the parent must not notice.
    run_py("""
        import os, threading, warnings, tarnvel
        warnings.simplefilter("ignore", DeprecationWarning)   # fork with threads running
        words = [f"w{i % 977}é{i}" for i in range(60_000)]
        expected = tarnvel.fuzz_ratio_batch("w12é", words)
        stop, bad = False, []
        def spin():
            while not stop:
                if tarnvel.fuzz_ratio_batch("w12é", words) != expected:
                    bad.append(1)
        threads = [threading.Thread(target=spin) for _ in range(3)]
        for t in threads:
            t.start()
        for _ in range(6):
            pid = os.fork()
            if pid == 0:
                os._exit(0 if tarnvel.fuzz_ratio_batch("w12é", words) == expected else 1)
            _, status = os.waitpid(pid, 0)
            assert os.waitstatus_to_exitcode(status) == 0, status
        stop = True
        for t in threads:
            t.join()
        assert not bad
    """, timeout=120)


def test_multiprocessing_fork_pool():
    run_py("""
        import multiprocessing as mp, tarnvel
        def job(i):
            return tarnvel.fuzz_ratio_batch("abc", ["abd", "xyz"] * 2000 + [str(i)])[-3:]
        if __name__ == "__main__":
            tarnvel.fuzz_ratio_batch("warm", ["up"] * 5000)
            with mp.get_context("fork").Pool(2) as p:
                res = p.map(job, range(4))
            assert res == [[66.66666666666667, 0.0, tarnvel.fuzz_ratio("abc", str(i))] for i in range(4)], res
    """, timeout=90)


# --- large per-call storage ------------------------------------------------------
# Batches over long lists take their big arrays from a small cache of freed blocks, so a
# call may receive a block that still holds another call's results.

def test_batches_on_reused_storage_match_scalar_calls():
    import random
    rng = random.Random(5)
    alphabet = "abcdeéxyz "
    pool = ["".join(rng.choice(alphabet) for _ in range(rng.randrange(0, 12)))
            for _ in range(70_000)]
    for query, n in (("abcdé xyz", 70_000), ("abcdé xyz", 20_000), ("", 45_000),
                     ("abc" * 30, 70_000), ("abcdé xyz", 33_000), ("", 33_000)):
        items = pool[:n] if n % 2 == 0 else pool[-n:]
        assert tarnvel.fuzz_ratio_batch(query, items) == [tarnvel.fuzz_ratio(query, c)
                                                           for c in items]
        assert tarnvel.levenshtein_batch(query, items) == [tarnvel.levenshtein_distance(query, c)
                                                            for c in items]
        assert tarnvel.jaro_winkler_batch_fn(query, items) == [
            tarnvel.jaro_winkler_similarity(query, c) for c in items]
        if n <= 33_000:
            assert tarnvel.damerau_levenshtein_batch(query, items) == [
                tarnvel.damerau_levenshtein_distance(query, c) for c in items]
            assert tarnvel.needleman_wunsch_batch_fn(query, items, 1, -1, -2) == [
                tarnvel.needleman_wunsch_score(query, c, 1, -1, -2) for c in items]


def test_block_cache_is_bounded():
    assert T.engine_scratch_cached() <= 32 << 20
    # A long batch leaves its blocks for the next call.
    assert T.engine_scratch_cached([f"abc{i}" for i in range(50_000)]) >= 50_000 * 8
    assert T.engine_scratch_cached() >= 50_000 * 16
    # Blocks of a huge one (38 MB of views) cannot all stay.
    assert T.engine_scratch_cached(["abc", "abd"] * 1_200_000) <= 32 << 20
    assert 0 < T.engine_scratch_cached() <= 32 << 20
