"""tarnvel_match at run time: Ctrl-C, progress reports, SIMD levels, exact pruning and
bounded memory of the many-to-many shapes."""

import json
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest

np = pytest.importorskip("numpy")
tm = pytest.importorskip("tarnvel_match")
import tarnvel_match._matching as matching  # noqa: E402
import tarnvel_match._native as native  # noqa: E402

from conftest import CHILD_CWD, SIMD_LEVELS, run_python  # noqa: E402

# Inputs that take far longer than a second, built in well under one.
LONG_SETUP = textwrap.dedent("""
    import sys, tarnvel_match as tm
    words = ["north", "river", "saint", "lake", "port", "mount", "new", "old", "west", "bay"]
    texts = [f"{words[i % 10]} {words[(i // 10) % 10]} street {i} {words[(i // 7) % 10]}"
             for i in range(300000)]
    choices = tm.Choices(texts)
""")

CALLS = {
    "cdist": "out = tm.cdist(texts[:2000], choices, scorer='wratio')",
    "extract": "r = [tm.extract(q, choices, scorer='partial_token_ratio') for q in texts[:200]]",
    "top_k": "r = tm.top_k(texts[:2000], choices, scorer='token_set_ratio', k=3)",
    "pairs": "r = tm.pairs(texts[:3000], choices, scorer='wratio', score_cutoff=50)",
    "dedupe": "r = tm.dedupe(texts[:60000], scorer='token_ratio', score_cutoff=99)",
}


def interrupt(call, delay=1.0):
    code = LONG_SETUP + textwrap.dedent(f"""
        print('ready', flush=True)
        try:
            {call}
            print('finished', flush=True)
        except KeyboardInterrupt:
            print('interrupted', flush=True)
        # Usable at once afterwards.
        print(tm.extract_one(texts[5], texts[:50])[2], flush=True)
    """)
    p = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True, cwd=CHILD_CWD)
    try:
        assert p.stdout.readline().strip() == "ready"
        time.sleep(delay)
        sent = time.monotonic()
        p.send_signal(signal.SIGINT)
        first = p.stdout.readline().strip()
        latency = time.monotonic() - sent
        rest = p.stdout.read().strip()
        p.wait(timeout=60)
    finally:
        p.kill()
    return first, latency, rest, p.returncode


@pytest.mark.parametrize("shape", sorted(CALLS))
def test_sigint_stops_every_shape_quickly(shape):
    first, latency, rest, rc = interrupt(CALLS[shape])
    assert first == "interrupted", (first, rest)
    assert latency < 0.5
    assert rest == "5" and rc == 0


def test_progress_callback_reports_on_the_calling_thread():
    words = ["alpha", "beta", "gamma", "delta", "omega"]
    texts = [f"{words[i % 5]} {i} {words[(i // 5) % 5]}" for i in range(60000)]
    choices = tm.Choices(texts)
    calls = []
    me = threading.get_ident()

    def report(done, total):
        calls.append((time.monotonic(), done, total, threading.get_ident()))

    t0 = time.monotonic()
    out = tm.cdist(texts[:400], choices, scorer="token_set_ratio", progress=report)
    t1 = time.monotonic()
    total = 400 * 60000
    assert calls and calls[-1][1:3] == (total, total)
    assert all(c[3] == me for c in calls) and all(c[2] == total for c in calls)
    done = [c[1] for c in calls]
    assert done == sorted(done) and done[-1] == total
    # At least every half second while it runs.
    stamps = [t0] + [c[0] for c in calls] + [t1]
    assert max(b - a for a, b in zip(stamps, stamps[1:])) < 0.6
    assert out.shape == (400, 60000)
    # Every function reports, in pairs, and ends with done == total.
    for fn, args, total in [
        (tm.extract, ("alpha 3", texts[:1000]), 1000),
        (tm.top_k, (texts[:30], texts[:1000]), 30000),
        (tm.pairs, (texts[:300],), 300 * 299 // 2),  # self-join: i < j
        (tm.dedupe, (texts[:300],), 300 * 299 // 2),
    ]:
        calls.clear()
        kwargs = {"score_cutoff": 90} if fn in (tm.pairs, tm.dedupe) else {}
        fn(*args, progress=report, **kwargs)
        assert calls[-1][1:3] == (total, total), fn.__name__


def test_progress_true_draws_a_bar_on_stderr():
    err = subprocess.run(
        [sys.executable, "-c", "import tarnvel_match as tm; tm.cdist(['a'] * 50, ['b'] * 50, progress=True)"],
        capture_output=True, text=True, timeout=60, cwd=CHILD_CWD)
    assert err.returncode == 0
    assert "2.50k" in err.stderr or "2500" in err.stderr


def test_progress_errors_propagate_and_stop_the_call():
    def bad(done, total):
        raise LookupError("from progress")

    texts = [f"name {i}" for i in range(50000)]
    with pytest.raises(LookupError, match="from progress"):
        tm.cdist(texts[:500], texts, progress=bad)
    assert tm.extract_one("name 7", texts[:10])[2] == 7


def test_every_simd_level_gives_the_same_results():
    code = """
        import json, random, tarnvel_match as tm
        rng = random.Random(5)
        alpha = "abcde fghij" + "áé日🙂"
        texts = ["".join(rng.choice(alpha) for _ in range(rng.randint(0, 90))) for _ in range(120)]
        kw = {"needleman_wunsch": dict(match_score=2, mismatch_score=-1, gap_penalty=-2),
              "needleman_wunsch_affine": dict(match_score=2, mismatch_score=-1, gap_open=-3, gap_extend=-1)}
        out = {}
        for s in tm.SCORERS:
            # 120 queries: enough to fill the vector lanes where a scorer packs queries
            m = tm.cdist(texts, texts[:60], scorer=s, scorer_kwargs=kw.get(s))
            idx, _ = tm.top_k(texts, scorer=s, k=3, scorer_kwargs=kw.get(s))
            out[s] = [m.tobytes().hex(), idx.tolist()]
        print(json.dumps(out))
    """
    runs = {level: run_python(code, {"TARNVEL_SIMD": level}) for level in SIMD_LEVELS}
    first = runs[SIMD_LEVELS[0]]
    for level, got in runs.items():
        assert json.loads(got) == json.loads(first), level


@pytest.fixture
def no_prune(monkeypatch):
    monkeypatch.setattr(matching, "_PRUNE", False)


@pytest.mark.parametrize("scorer", ["ratio", "qratio", "damerau_ratio", "jaro", "jaro_winkler",
                                    "levenshtein", "damerau_levenshtein"])
def test_pruning_never_changes_a_result(scorer, rng, monkeypatch):
    texts = ["".join(rng.choice("abcd ") for _ in range(rng.randint(0, 30))) for _ in range(300)]
    texts[7] = None
    cut = {"levenshtein": 6, "damerau_levenshtein": 6, "jaro": 0.8, "jaro_winkler": 0.8}.get(scorer, 70)
    runs = []
    for prune in (True, False):
        monkeypatch.setattr(matching, "_PRUNE", prune)
        runs.append((
            tm.top_k(texts, k=4, scorer=scorer),
            tm.top_k(texts[:50], texts, k=4, scorer=scorer, score_cutoff=cut),
            tm.pairs(texts, scorer=scorer, score_cutoff=cut),
            tm.dedupe(texts, scorer=scorer, score_cutoff=cut),
            tm.extract(texts[3] or "", texts, scorer=scorer, score_cutoff=cut, limit=None),
        ))
    a, b = runs
    for x, y in zip(a[:4], b[:4]):
        for u, v in zip(x if isinstance(x, tuple) else (x,), y if isinstance(y, tuple) else (y,)):
            np.testing.assert_array_equal(u, v)
    assert a[4] == b[4]


@pytest.mark.parametrize("scorer", ["ratio", "damerau_ratio", "jaro_winkler", "levenshtein",
                                    "damerau_levenshtein"])
def test_symbol_count_bounds_skip_pairs_and_change_nothing(scorer, rng, monkeypatch):
    # Texts longer than the lane kernels take, from skewed alphabets (ASCII letters and
    # digits, and code points spread over many buckets), so the sketch bounds decide
    # pairs that the lengths alone cannot.
    alphabets = ["aab", "xyz 01", "éèêë", "\u4e00\u4e8c\u4e09a", "klmn"]
    texts = []
    for _ in range(160):
        alpha = rng.choice(alphabets)
        texts.append("".join(rng.choice(alpha) for _ in range(rng.randint(60, 90))))
    cut = {"levenshtein": 30, "damerau_levenshtein": 30, "jaro_winkler": 0.9}.get(scorer, 75)
    runs, stats = [], []
    for prune in (True, False):
        monkeypatch.setattr(matching, "_PRUNE", prune)
        native.prune_stats()
        runs.append((tm.top_k(texts[:40], texts, k=3, scorer=scorer),
                     tm.pairs(texts, scorer=scorer, score_cutoff=cut),
                     tm.extract(texts[0], texts, scorer=scorer, score_cutoff=cut, limit=None)))
        stats.append(native.prune_stats())
    (ta, pa, ea), (tb, pb, eb) = runs
    for u, v in zip(ta + pa, tb + pb):
        np.testing.assert_array_equal(u, v)
    assert ea == eb
    checked, by_length, by_sketch = stats[0]
    assert by_sketch > 0 and by_length + by_sketch <= checked
    assert stats[1] == (0, 0, 0)


def test_top_k_memory_stays_bounded():
    # 2,000 x 100,000 pairs: the matrix would be 1.6 GB of float64; top_k keeps k per row.
    out = run_python("""
        import resource, tarnvel_match as tm
        texts = [f"name {i} {i % 97} street" for i in range(102000)]
        choices = tm.Choices(texts[2000:])
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        idx, val = tm.top_k(texts[:2000], choices, k=5, scorer="ratio")
        after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        print((after - before) // 1024, idx.shape)
    """, timeout=300)
    grown_mb, shape = out.split(" ", 1)
    assert int(grown_mb) < 100 and shape.strip() == "(2000, 5)"
