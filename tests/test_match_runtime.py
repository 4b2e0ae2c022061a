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
    # limit=None: every query matches itself, and a perfect match would end a shorter search.
    "extract": "r = [tm.extract(q, choices, scorer='partial_token_ratio', limit=None) for q in texts[:200]]",
    "top_k": "r = tm.top_k(texts[:2000], choices, scorer='token_set_ratio', k=3)",
    "pairs": "r = tm.pairs(texts[:3000], choices, scorer='wratio', score_cutoff=50)",
    "dedupe": "r = tm.dedupe(texts[:60000], scorer='token_ratio', score_cutoff=99)",
    # A plain list: each call collects and processes all 300,000 texts again.
    "extract_list": ("r = [tm.extract_one(q, texts, scorer='ratio', processor='default') "
                     "for q in texts[:3000]]"),
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
                                    "damerau_levenshtein", "partial_ratio", "token_set_ratio",
                                    "partial_token_ratio", "wratio"])
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
        # A prepared set queried twice: the cheap scorers sketch a store from its second
        # search on.
        ch = tm.Choices(texts)
        runs.append((tm.top_k(texts[:40], texts, k=3, scorer=scorer),
                     tm.pairs(texts, scorer=scorer, score_cutoff=cut),
                     [tm.extract(q, ch, scorer=scorer, score_cutoff=cut, limit=None)
                      for q in texts[:2]]))
        stats.append(native.prune_stats())
    (ta, pa, ea), (tb, pb, eb) = runs
    for u, v in zip(ta + pa, tb + pb):
        np.testing.assert_array_equal(u, v)
    assert ea == eb
    checked, by_length, by_sketch = stats[0]
    assert by_sketch > 0 and by_length + by_sketch <= checked
    assert stats[1] == (0, 0, 0)


@pytest.mark.parametrize("scorer", ["token_sort_ratio", "token_set_ratio", "token_ratio",
                                    "partial_token_sort_ratio", "partial_token_set_ratio",
                                    "partial_token_ratio", "wratio"])
def test_single_word_bounds_of_token_scorers_change_nothing(scorer, rng, monkeypatch):
    # Words and phrases of very different lengths (both branches of wratio and its long
    # scale), white space of several kinds, repeated and shared words, empty strings.
    letters = "aeinrstlo\u00e9"
    def word():
        return "".join(rng.choice(letters) for _ in range(rng.choice([1, 2, 3, 5, 8, 13, 21])))
    spaces = [" ", "\t", "\u3000", "\u00a0", "  "]
    texts = []
    for _ in range(400):
        k = rng.choice([1, 1, 1, 2, 3])
        texts.append(rng.choice(spaces).join(word() for _ in range(k)))
    texts[3], texts[4], texts[5] = "", " ", texts[6]
    cut = 60
    runs, stats = [], []
    for prune in (True, False):
        monkeypatch.setattr(matching, "_PRUNE", prune)
        native.prune_stats()
        runs.append((tm.top_k(texts[:60], texts, k=3, scorer=scorer),
                     tm.pairs(texts, scorer=scorer, score_cutoff=cut),
                     [tm.extract(q, texts, scorer=scorer, limit=4) for q in texts[:40]],
                     [tm.extract(q, texts, scorer=scorer, score_cutoff=cut, limit=None) for q in texts[:10]]))
        stats.append(native.prune_stats())
    (ta, pa, ea, ca), (tb, pb, eb, cb) = runs
    for u, v in zip(ta + pa, tb + pb):
        np.testing.assert_array_equal(u, v)
    assert ea == eb and ca == cb
    checked, by_length, by_sketch = stats[0]
    assert by_length + by_sketch > 0


@pytest.mark.parametrize("scorer", ["ratio", "partial_ratio", "wratio", "jaro_winkler",
                                    "levenshtein", "damerau_levenshtein"])
def test_perfect_matches_end_the_search_without_changing_it(scorer, rng, monkeypatch):
    # Exact copies of the query spread over many blocks, with near copies and a missing
    # value between them: once k perfect values are held, later blocks and the rest of a
    # block stop, and the result must still be the lowest k indices among the perfect.
    query = "saint petersburg"
    near = ["saint petersburgh", "st petersburg", "petersburg", "saint peter"]
    texts = [rng.choice(near) + " " * rng.randint(0, 2) for _ in range(30000)]
    for j in sorted(rng.sample(range(30000), 12)):
        texts[j] = query
    texts[5] = None
    runs = []
    for prune in (True, False):
        monkeypatch.setattr(matching, "_PRUNE", prune)
        got = [tm.extract(query, texts, scorer=scorer, limit=limit) for limit in (1, 3, 12, 20)]
        got.append(tm.extract_one(query, texts, scorer=scorer))
        got.append(tm.top_k([query, "saint peter", None], texts, k=5, scorer=scorer))
        runs.append(got)
    a, b = runs
    assert a[:5] == b[:5]
    for u, v in zip(a[5], b[5]):
        np.testing.assert_array_equal(u, v)
    if scorer != "partial_ratio":  # for it, the shorter near copies are perfect too
        perfect = sorted(j for j, t in enumerate(texts) if t == query)
        assert [m[2] for m in a[1]] == perfect[:3]


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


@pytest.mark.parametrize("scorer", ["ratio", "levenshtein", "jaro_winkler", "partial_ratio",
                                    "token_set_ratio", "partial_token_sort_ratio", "wratio"])
def test_ascii_sketches_change_nothing(scorer, rng, monkeypatch):
    # ASCII texts take their own sketch path: every byte value (letters of both cases,
    # digits, control characters, each ASCII white space, punctuation), single words and
    # phrases, and texts past 255 bytes whose counts saturate.
    alphabet = [chr(c) for c in range(128)]
    texts = []
    for i in range(240):
        if i % 40 == 0:
            texts.append(rng.choice("ab") * rng.randint(250, 300) + "".join(rng.choice(alphabet) for _ in range(5)))
        elif i % 3 == 0:
            texts.append("".join(rng.choice(alphabet) for _ in range(rng.randint(0, 40))))
        else:
            words = ["".join(rng.choice("aeinrst0189") for _ in range(rng.randint(1, 9)))
                     for _ in range(rng.randint(1, 3))]
            texts.append(rng.choice([" ", "\t", "\n", "\x0b", "\x0c", "\r", "\x1c", "-"]).join(words))
    texts[1] = None
    cut = {"levenshtein": 8, "jaro_winkler": 0.85}.get(scorer, 60)
    runs = []
    for prune in (True, False):
        monkeypatch.setattr(matching, "_PRUNE", prune)
        ch = tm.Choices(texts)
        runs.append((tm.top_k(texts[:50], ch, k=3, scorer=scorer),
                     tm.pairs(texts, scorer=scorer, score_cutoff=cut),
                     [tm.extract(q, ch, scorer=scorer, limit=3) for q in texts[:30] if q is not None]))
    (ta, pa, ea), (tb, pb, eb) = runs
    for u, v in zip(ta + pa, tb + pb):
        np.testing.assert_array_equal(u, v)
    assert ea == eb
