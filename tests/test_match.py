"""tarnvel_match against a plain loop over the tarnvel scalar functions.

Every scorer through every function, on random texts (ASCII, accented, CJK, emoji,
lengths around the 64-symbol boundaries) and real names, with every processor; cutoffs
at and around exact scores; ties; missing values; and every error path.
"""

import math
import pickle
import random

import pytest

np = pytest.importorskip("numpy")
tm = pytest.importorskip("tarnvel_match")
import tarnvel  # noqa: E402

from conftest import MULTIPLIER, SEED  # noqa: E402

NW = dict(match_score=2, mismatch_score=-1, gap_penalty=-2)
NWA = dict(match_score=2, mismatch_score=-1, gap_open=-3, gap_extend=-1)
KWARGS = {"needleman_wunsch": NW, "needleman_wunsch_affine": NWA, "jaro_winkler": {"p": 0.2}}
ALL = tm.SCORERS
FLOAT = [s for s in ALL if tm.scorer_info(s, KWARGS.get(s)).kind in ("fuzz", "unit")]
ALPHABETS = ["ab", "abcdefgh ", "aábcçé日本🙂 ", "xyzXYZ 12,.-"]


def ref_score(name, q, c):
    info = tm.scorer_info(name, KWARGS.get(name))
    return info.function(q, c, **KWARGS.get(name, {}))


def default_process(s):
    return "".join(c if c.isalnum() else " " for c in s.lower()).strip()


def proc_fn(processor):
    if processor is None:
        return lambda s: s
    if processor == "default":
        return default_process
    return processor


def better_key(info, score, index):
    return ((-score if info.higher_is_better else score), index)


def keeps(info, score, cutoff):
    if cutoff is None:
        return True
    return score >= cutoff if info.higher_is_better else score <= cutoff


def ref_extract(name, query, choices, processor, cutoff, limit):
    info = tm.scorer_info(name, KWARGS.get(name))
    p = proc_fn(processor)
    pq = p(query)
    kept = []
    for i, c in enumerate(choices):
        if c is None or (isinstance(c, float) and math.isnan(c)):
            continue
        s = ref_score(name, pq, p(c))
        if keeps(info, s, cutoff):
            kept.append((c, s, i))
    kept.sort(key=lambda t: better_key(info, t[1], t[2]))
    return kept if limit is None else kept[:limit]


def texts(rng, n, alphabet, max_len=12):
    return ["".join(rng.choice(alphabet) for _ in range(rng.randint(0, max_len))) for _ in range(n)]


def same(a, b):
    """Equal lists of (choice, score, index), floats compared bit for bit."""
    assert len(a) == len(b), (a, b)
    for x, y in zip(a, b):
        assert x[0] is y[0] or x[0] == y[0]
        assert x[2] == y[2]
        assert type(x[1]) is type(y[1]) and (x[1] == y[1]), (x, y)


@pytest.fixture
def rng(request):
    return random.Random(f"{SEED}:{request.node.nodeid}")


# --- every scorer through every function --------------------------------------------

@pytest.mark.parametrize("name", ALL)
def test_every_scorer_every_function(name, rng):
    kw = KWARGS.get(name)
    info = tm.scorer_info(name, kw)
    for round_ in range(3 * MULTIPLIER):
        alphabet = ALPHABETS[round_ % len(ALPHABETS)]
        queries = texts(rng, 6, alphabet)
        choices = texts(rng, 40, alphabet)
        processor = [None, "default", str.upper][round_ % 3]
        p = proc_fn(processor)
        ref = np.array([[ref_score(name, p(q), p(c)) for c in choices] for q in queries], dtype=info.dtype)
        got = tm.cdist(queries, choices, scorer=name, processor=processor, scorer_kwargs=kw)
        assert got.dtype == info.dtype
        assert np.array_equal(got, ref)
        for q in queries[:3]:
            same(tm.extract(q, choices, scorer=name, processor=processor, scorer_kwargs=kw, limit=None),
                 ref_extract(name, q, choices, processor, None, None))
            best = ref_extract(name, q, choices, processor, None, 1)
            assert tm.extract_one(q, choices, scorer=name, processor=processor, scorer_kwargs=kw) == (
                best[0] if best else None)
        idx, sc = tm.top_k(queries, choices, k=4, scorer=name, processor=processor, scorer_kwargs=kw)
        for r, q in enumerate(queries):
            exp = ref_extract(name, q, choices, processor, None, 4)
            assert list(idx[r]) == [t[2] for t in exp]
            assert list(sc[r]) == [t[1] for t in exp]


@pytest.mark.parametrize("name", ALL)
def test_scorer_function_objects_equal_names(name):
    kw = KWARGS.get(name)
    fn = tm.scorer_info(name, kw).function
    a = tm.cdist(["abc", "xbd"], ["abd", ""], scorer=fn, scorer_kwargs=kw)
    b = tm.cdist(["abc", "xbd"], ["abd", ""], scorer=name, scorer_kwargs=kw)
    assert np.array_equal(a, b)


def test_lengths_around_word_boundaries(rng):
    # 63/64/65 and 127/128/129 symbols, ASCII and not, through the bit-parallel kernels.
    lengths = [0, 1, 63, 64, 65, 127, 128, 129, 200, 300]
    for alphabet in ("abcd", "aé日🙂"):
        queries = ["".join(rng.choice(alphabet) for _ in range(n)) for n in lengths]
        choices = ["".join(rng.choice(alphabet) for _ in range(n)) for n in lengths]
        for name in ("ratio", "levenshtein", "jaro_winkler", "partial_ratio", "wratio", "damerau_levenshtein"):
            kw = KWARGS.get(name)
            info = tm.scorer_info(name, kw)
            ref = np.array([[ref_score(name, q, c) for c in choices] for q in queries], dtype=info.dtype)
            assert np.array_equal(tm.cdist(queries, choices, scorer=name, scorer_kwargs=kw), ref), name


# --- cutoffs, limits, ties ----------------------------------------------------------

@pytest.mark.parametrize("name", ["ratio", "wratio", "token_set_ratio", "jaro_winkler", "levenshtein",
                                  "damerau_ratio", "needleman_wunsch"])
def test_cutoffs_at_exact_scores(name, rng):
    kw = KWARGS.get(name)
    info = tm.scorer_info(name, kw)
    choices = texts(rng, 60, "abcde ", 8)
    q = "abcd e"
    scores = sorted({ref_score(name, q, c) for c in choices})
    cutoffs = [scores[0], scores[len(scores) // 2], scores[-1]]
    if info.kind in ("fuzz", "unit"):
        cutoffs += [math.nan, 1000.0, -5.0, math.nextafter(scores[-1], math.inf)]
    for cut in cutoffs:
        exp = ref_extract(name, q, choices, None, cut, None)
        same(tm.extract(q, choices, scorer=name, scorer_kwargs=kw, score_cutoff=cut, limit=None), exp)
        idx, sc = tm.top_k([q], choices, k=7, scorer=name, scorer_kwargs=kw, score_cutoff=cut)
        assert list(idx[0][: len(exp[:7])]) == [t[2] for t in exp[:7]]
        assert all(i == -1 for i in idx[0][len(exp[:7]):])
        pi, pj, ps = tm.pairs([q], choices, scorer=name, scorer_kwargs=kw, score_cutoff=cut)
        assert list(pj) == sorted(t[2] for t in exp)
        m = tm.cdist([q], choices, scorer=name, scorer_kwargs=kw, score_cutoff=cut)[0]
        for j, c in enumerate(choices):
            s = ref_score(name, q, c)
            if keeps(info, s, cut):
                assert m[j] == s
            else:
                assert m[j] == (math.floor(cut) + 1 if info.kind == "distance" else 0)


def test_limits_and_ties():
    choices = ["abc", "abd", "abc", "xyz", "abc"]
    full = tm.extract("abc", choices, limit=None)
    assert [t[2] for t in full] == [0, 2, 4, 1, 3]
    assert tm.extract("abc", choices, limit=0) == []
    assert [t[2] for t in tm.extract("abc", choices, limit=1)] == [0]
    assert tm.extract("abc", choices, limit=100) == full
    assert tm.extract_one("abc", choices)[2] == 0
    assert tm.extract_one("abc", choices, score_cutoff=101) is None
    idx, sc = tm.top_k(["abc"], choices, k=9)
    assert list(idx[0]) == [0, 2, 4, 1, 3, -1, -1, -1, -1]
    assert np.isnan(sc[0][5:]).all()
    idx, _ = tm.top_k(["abc"], choices, k=0)
    assert idx.shape == (1, 0)


# --- processors and Choices ---------------------------------------------------------

def test_default_process_matches_its_definition(rng):
    samples = ["  Hello, World!  ", "ÉCOLE Ünïcode", "İstanbul", "ß straße", "a_b-c", "", "¹²³ ½", "\tx\n"]
    samples += texts(rng, 50, "AbC éÈ!?_ 日🙂-1")
    for s in samples:
        assert tm.default_process(s) == default_process(s)
    c = tm.Choices(samples, processor="default")
    assert [c.processed(i) for i in range(len(samples))] == [default_process(s) for s in samples]


def test_native_default_process_on_any_code_point(rng):
    # Non-ASCII text is folded natively one code point at a time; the capital sigma
    # (whose lower form depends on its neighbours), expansions (İ, ß, ligatures) and
    # characters that lower() turns into non-alphanumeric ones must still match Python.
    pool = [chr(c) for c in range(32, 0x2200)] + [chr(c) for c in range(0x3000, 0x3100)]
    pool += ["\u0130", "\u03a3", "\u1e9e", "\ufb03", "\U0001f600", "\U00010400", "\u2160", "\u0345"]
    samples = ["".join(rng.choice(pool) for _ in range(rng.randint(0, 24))) for _ in range(3000)]
    samples += ["ΟΔΟΣ ΣΑΣ", "Σ", "aΣ", "İSTANBUL", "ﬃ STRASSE ẞ", "Ⅻ ⅻ", "\u0345x"]
    c = tm.Choices(samples, processor="default")
    for i, s in enumerate(samples):
        assert c.processed(i) == default_process(s), s


def test_recycled_storage_keeps_nothing_of_the_last_list(rng):
    # Freed stores are emptied and reused by the next list: nothing of a longer, processed,
    # sketched list may show through in a shorter one with missing values, nor change a
    # Choices that is still alive.
    keep = tm.Choices(["kept one", "kept two"])
    for _ in range(5):
        long = texts(rng, rng.randint(3000, 6000), "AbC éÈ!?_ 日🙂-1")
        tm.extract_one("abc", long, scorer="levenshtein", processor="default")
        tm.Choices(long, processor="default").top_k(["abc"], k=2)
        short = [None, "Zed", float("nan"), "", "Zoe"]
        c = tm.Choices(short, processor="default")
        assert [c.processed(i) for i in range(5)] == [None, "zed", None, "", "zoe"]
        assert tm.extract("zed", short, processor="default", limit=None) == [
            ("Zed", 100.0, 1), ("Zoe", pytest.approx(200 / 3), 4), ("", 0.0, 3)]
    assert [keep.processed(i) for i in range(2)] == ["kept one", "kept two"]


def test_processor_runs_once_per_string():
    calls = []

    def proc(s):
        calls.append(s)
        return s.lower()

    choices = ["A", "B", "C"]
    tm.cdist(["a", "b"], choices, processor=proc)
    assert sorted(calls) == ["A", "B", "C", "a", "b"]


def test_choices_behaviour():
    items = ["Anna", None, "Hanna", float("nan"), "jana"]
    c = tm.Choices(iter(items), processor="default")
    assert len(c) == 5 and c[0] == "Anna" and c[1] is None and c[-1] == "jana"
    assert c.processed(0) == "anna" and c.processed(1) is None
    with pytest.raises(AttributeError):
        c.x = 1
    d = pickle.loads(pickle.dumps(c))
    assert list(d) [:1] == ["Anna"] and d.processed(2) == "hanna" and d.processor == "default"
    # The Choices' processor applies to the queries too; another processor is refused.
    assert tm.extract("ANNA", c)[0][:3] == ("Anna", 100.0, 0)
    with pytest.raises(ValueError, match="processor"):
        tm.extract("anna", c, processor=str.upper)
    same(tm.extract("HANNA!", c, limit=None), tm.extract("HANNA!", items, processor="default", limit=None))
    idx, _ = c.top_k(["jana"], k=2)
    assert list(idx[0]) == [4, 0]  # "anna" 75.0 beats "hanna" 66.7


def test_choices_state_is_checked():
    c = tm.Choices(["ab", "cd"])
    buf, off, flags = pickle.loads(pickle.dumps(c)).__reduce__()[1][2]
    from tarnvel_match import _native
    with pytest.raises(ValueError):
        _native.store_from_state(buf, off[:-8], flags)
    with pytest.raises(UnicodeDecodeError):
        _native.store_from_state(b"\xff\xfe\xfd\xfc", off, flags)


def test_iterables_of_every_kind():
    base = ["apple", "apples", "banana"]
    expected = tm.extract("apple", base)
    for choices in (tuple(base), iter(base), (s for s in base), np.array(base), np.array(base, dtype=object)):
        got = tm.extract("apple", choices)
        assert [(str(c), s, i) for c, s, i in got] == expected
    pd = pytest.importorskip("pandas", reason="pandas not installed")
    assert tm.extract("apple", pd.Series(base)) == expected


# --- missing values and errors ------------------------------------------------------

def test_missing_values():
    choices = ["abc", None, float("nan"), "abd"]
    assert [t[2] for t in tm.extract("abc", choices, limit=None)] == [0, 3]
    idx, sc = tm.top_k(["abc", None], choices, k=3)
    assert list(idx[0]) == [0, 3, -1] and list(idx[1]) == [-1, -1, -1]
    i, j, _ = tm.pairs(["abc", None, "abc"], score_cutoff=0)
    assert list(zip(i, j)) == [(0, 2)]
    assert list(tm.dedupe(["abc", None, "abc", float("nan")], score_cutoff=90)) == [0, 1, 0, 3]
    with pytest.raises(TypeError, match=r"choices\[1\]"):
        tm.cdist(["abc"], choices)
    with pytest.raises(TypeError, match=r"queries\[0\]"):
        tm.cdist([None], ["x"])


def test_errors_name_the_problem():
    with pytest.raises(ValueError, match="unknown scorer 'ratioo'"):
        tm.extract("a", ["b"], scorer="ratioo")
    with pytest.raises(TypeError, match="scorer must be"):
        tm.extract("a", ["b"], scorer=len)
    with pytest.raises(TypeError, match="needs scorer_kwargs 'gap_penalty'"):
        tm.cdist(["a"], ["b"], scorer="needleman_wunsch", scorer_kwargs=dict(match_score=1, mismatch_score=-1))
    with pytest.raises(TypeError, match="unknown scorer_kwargs for ratio: 'p'"):
        tm.cdist(["a"], ["b"], scorer_kwargs={"p": 0.1})
    with pytest.raises(ValueError, match="Prefix scaling parameter 'p' must be between 0.0 and 0.25"):
        tm.cdist(["a"], ["b"], scorer="jaro_winkler", scorer_kwargs={"p": 0.3})
    with pytest.raises(TypeError, match="query must be str"):
        tm.extract(None, ["b"])
    with pytest.raises(TypeError, match=r"choices\[1\] must be str, not int"):
        tm.extract("a", ["b", 3])
    with pytest.raises(TypeError, match=r"queries\[0\] must be str, not bytes"):
        tm.top_k([b"x"], ["b"])
    with pytest.raises(TypeError, match="processor must return str"):
        tm.extract("a", ["b"], processor=lambda s: 1)
    with pytest.raises(ValueError, match="unknown processor"):
        tm.extract("a", ["b"], processor="lower")
    with pytest.raises(ValueError, match="score_cutoff of the distance scorer"):
        tm.top_k(["a"], ["b"], scorer="levenshtein", score_cutoff=-1)
    with pytest.raises(TypeError, match="pairs needs a score_cutoff"):
        tm.pairs(["a"], ["b"], score_cutoff=None)
    with pytest.raises(ValueError, match="limit must be >= 0"):
        tm.extract("a", ["b"], limit=-1)
    with pytest.raises(ValueError, match="workers"):
        tm.extract("a", ["b"], workers=0)


@pytest.mark.parametrize("name", ["ratio", "qratio", "levenshtein", "token_sort_ratio",
                                  "partial_token_sort_ratio", "jaro", "jaro_winkler"])
def test_cdist_with_many_queries(name, rng):
    # Many short queries go into vector lanes together (and the sorted-token scorers score
    # each text's sorted form): lengths across every lane width and past 64 code points,
    # empty texts, wide and narrow alphabets, several rounds of rows and columns.
    alpha = rng.choice(ALPHABETS) + "日🙂\u00a0\u3000"
    qs = [t for n in (0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 90)
          for t in texts(rng, 6, alpha, n) if len(t) == n or n == 0] + texts(rng, 1100, alpha, 20)
    cs = texts(rng, 9000, alpha, 24) if name in ("ratio", "jaro") else texts(rng, 150, alpha, 70)
    info = tm.scorer_info(name, KWARGS.get(name))
    got = tm.cdist(qs, cs, scorer=name, scorer_kwargs=KWARGS.get(name))
    sample = rng.sample(range(len(qs)), 40) + list(range(60))
    for i in sample:
        row = [ref_score(name, qs[i], c) for c in cs]
        assert got[i].tolist() == row, (name, qs[i])
    cut = (0.75 if info.kind == "unit" else 55) if info.higher_is_better else 4
    capped = tm.cdist(qs, cs, scorer=name, score_cutoff=cut, scorer_kwargs=KWARGS.get(name),
                      dtype=np.float32 if info.higher_is_better else None)
    miss = 0 if info.higher_is_better else cut + 1
    want = np.where(got >= cut, got, miss) if info.higher_is_better else np.where(got <= cut, got, miss)
    assert (capped == want.astype(capped.dtype)).all()


@pytest.mark.parametrize("name", ["ratio", "qratio", "levenshtein", "jaro_winkler", "token_sort_ratio"])
def test_top_k_and_pairs_with_many_queries(name, rng):
    # Enough strings for the lane kernels in both self modes, with missing values among
    # them: the self-join scores only j > i, top_k never returns a row's own index.
    alpha = "abcde áé日 "
    items = texts(rng, 300, alpha, 20) + [None, float("nan")] * 3
    rng.shuffle(items)
    info = tm.scorer_info(name, KWARGS.get(name))
    hi = info.higher_is_better
    cut = (0.8 if info.kind == "unit" else 60) if hi else 3
    kw = KWARGS.get(name)
    present = [k for k, x in enumerate(items) if isinstance(x, str)]
    score = {(a, b): ref_score(name, items[a], items[b]) for a in present for b in present if a != b}
    i, j, v = tm.pairs(items, scorer=name, score_cutoff=cut, scorer_kwargs=kw)
    want = [(a, b, score[a, b]) for a in present for b in present
            if a < b and (score[a, b] >= cut if hi else score[a, b] <= cut)]
    assert list(zip(i.tolist(), j.tolist(), v.tolist())) == want
    idx, _ = tm.top_k(items, k=4, scorer=name, scorer_kwargs=kw)
    for a in range(len(items)):
        if a not in present:
            assert (idx[a] == -1).all()
            continue
        ranked = sorted((b for b in present if b != a), key=lambda b: better_key(info, score[a, b], b))
        assert idx[a].tolist() == ranked[:4]


def test_cdist_out_and_dtype():
    q, c = ["ab", "cd"], ["ab", "xd", "cd"]
    ref = tm.cdist(q, c)
    f32 = tm.cdist(q, c, dtype=np.float32)
    assert f32.dtype == np.float32 and np.array_equal(f32, ref.astype(np.float32))
    out = np.full((2, 3), -1.0)
    assert tm.cdist(q, c, out=out) is out and np.array_equal(out, ref)
    bad = [np.empty((3, 2)), np.empty((2, 3), dtype=np.float32)[:, :], np.empty((2, 6))[:, ::2],
           np.empty((2, 3), dtype=np.int64)]
    for arr in bad[:1] + bad[2:]:
        arr_before = arr.copy()
        with pytest.raises((ValueError, TypeError)):
            tm.cdist(q, c, out=arr, dtype=np.float64)
        assert np.array_equal(arr, arr_before, equal_nan=True) or arr.dtype != np.float64
    ro = np.empty((2, 3))
    ro.flags.writeable = False
    with pytest.raises(ValueError, match="writeable"):
        tm.cdist(q, c, out=ro)
    with pytest.raises(TypeError, match="out must be a numpy.ndarray"):
        tm.cdist(q, c, out=[[0.0] * 3] * 2)
    with pytest.raises(ValueError, match="dtype of levenshtein results must be uint32"):
        tm.cdist(q, c, scorer="levenshtein", dtype=np.float32)


# --- real data, workers and SIMD levels ---------------------------------------------

def test_real_names_workers_agree(rng):
    import pathlib
    path = pathlib.Path(__file__).resolve().parents[2] / "shared" / "data" / "names.txt"
    if not path.exists():
        pytest.skip("shared data not available")
    names = [l for l in path.read_text(encoding="utf-8").splitlines() if l][:3000]
    queries = rng.sample(names, 20)
    for name in ("ratio", "wratio", "jaro_winkler", "levenshtein", "token_sort_ratio"):
        a = tm.top_k(queries, names, k=5, scorer=name, processor="default", workers=1)
        b = tm.top_k(queries, names, k=5, scorer=name, processor="default", workers=2)
        assert np.array_equal(a[0], b[0]) and np.array_equal(a[1], b[1], equal_nan=True)
        for r, q in enumerate(queries[:4]):
            exp = ref_extract(name, q, names, "default", None, 5)
            assert list(a[0][r]) == [t[2] for t in exp]


def test_wratio_on_sorted_token_texts(rng):
    # Texts that are, or nearly are, their own sorted token forms, ASCII and not, queried in
    # bulk: the prepared query must give fuzz_wratio's value for every pair, whichever of the
    # pair decides the symbol width.
    vocab = ["new", "york", "yorke", "city", "ci", "é", "éa", "中", "a"]

    def text():
        words = sorted({rng.choice(vocab) for _ in range(rng.randint(1, 4))})
        if rng.random() < 0.2:
            words.append(words[-1])
        if rng.random() < 0.2:
            rng.shuffle(words)
        return rng.choice([" ", " ", " ", "  ", "\u3000"]).join(words)

    queries = [text() for _ in range(25)]
    choices = [text() for _ in range(80)]
    ref = np.array([[tarnvel.fuzz_wratio(q, c) for c in choices] for q in queries])
    assert np.array_equal(tm.cdist(queries, choices, scorer="wratio"), ref)
    for cut in (None, 80.0):
        for q in queries[:8]:
            same(tm.extract(q, choices, scorer="wratio", score_cutoff=cut, limit=None),
                 ref_extract("wratio", q, choices, None, cut, None))


@pytest.mark.parametrize("name", ["token_sort_ratio", "partial_token_sort_ratio"])
def test_sorted_token_scorers_searched_again(name, rng):
    # From its second search on, a Choices is searched through its entries' sorted forms;
    # every search must give what the scalar scorer gives, whichever way it went.
    vocab = ["new", "york", "yorke", "city", "é", "中文", "a", "ab"]
    seps = [" ", " ", "  ", "\t", "\u3000"]
    choices = [rng.choice(seps).join(rng.choice(vocab) for _ in range(rng.randint(0, 4)))
               for _ in range(300)]
    choices[5] = None
    choices[17] = float("nan")
    prepared = tm.Choices(choices)
    queries = [rng.choice(seps).join(rng.choice(vocab) for _ in range(rng.randint(0, 4)))
               for _ in range(12)]
    for q in queries:
        for cut, limit in ((None, None), (70.0, 5), (100.0, None)):
            exp = ref_extract(name, q, choices, None, cut, limit)
            same(tm.extract(q, prepared, scorer=name, score_cutoff=cut, limit=limit), exp)
        exp_one = ref_extract(name, q, choices, None, None, 1)
        assert tm.extract_one(q, prepared, scorer=name) == (exp_one[0] if exp_one else None)


def test_sorted_forms_built_once_under_threads():
    # Many threads make a fresh Choices' second search at once: one of them builds the
    # sorted forms, every thread gets the scalar scorer's results.
    from concurrent.futures import ThreadPoolExecutor
    words = ["b a", "a b c", "c", "a  a", "zz y", ""] * 500
    prepared = tm.Choices(words)
    tm.extract("a b", prepared, scorer="token_sort_ratio", limit=3)
    exp = ref_extract("token_sort_ratio", "b a", words, None, None, 4)
    with ThreadPoolExecutor(8) as ex:
        got = list(ex.map(lambda _: tm.extract("b a", prepared, scorer="token_sort_ratio", limit=4),
                          range(16)))
    for g in got:
        same(g, exp)
