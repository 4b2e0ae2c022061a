"""tarnvel_match.dask against the local functions on a real LocalCluster of two processes."""

import math
import os
import random
import threading
import time
from pathlib import Path

import numpy as np
import pytest

distributed = pytest.importorskip("distributed")
import tarnvel_match as tm  # noqa: E402
import tarnvel_match.dask as td  # noqa: E402

NAMES = Path("/work/shared/data/names.txt")
COMPANIES = Path("/work/shared/data/companies.txt")

NW = {"match_score": 2, "mismatch_score": -1, "gap_penalty": 1}
# scorer, scorer_kwargs, processor, pairs cutoff
SCORERS = [
    ("ratio", None, None, 70),
    ("token_set_ratio", None, "default", 80),
    ("jaro_winkler", None, None, 0.85),
    ("levenshtein", None, None, 3),
    ("needleman_wunsch", NW, None, 8),
]


@pytest.fixture(scope="module")
def cluster():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as c:
        yield c


@pytest.fixture(scope="module")
def client(cluster):
    with distributed.Client(cluster) as c:
        yield c


def _random_strings(rng, n, alphabet="abcdeé ", missing=True):
    out = []
    for _ in range(n):
        r = rng.random()
        if missing and r < 0.04:
            out.append(None)
        elif missing and r < 0.06:
            out.append(float("nan"))
        else:
            out.append("".join(rng.choice(alphabet) for _ in range(rng.randint(0, 9))))
    return out


def _lines(path, n):
    if not path.exists():
        pytest.skip(f"{path} absent")
    with open(path, encoding="utf-8") as f:
        return [line.rstrip("\n") for _, line in zip(range(n), f)]


def _same(a, b):
    assert len(a) == len(b)
    for x, y in zip(a, b):
        assert isinstance(y, np.ndarray)
        assert x.dtype == y.dtype and x.shape == y.shape
        assert x.tobytes() == y.tobytes()


# --- identical results -------------------------------------------------------------------

@pytest.mark.parametrize("scorer,kwargs,proc,cut", SCORERS)
def test_random_self_and_two_lists(client, scorer, kwargs, proc, cut):
    rng = random.Random(hash(scorer) & 0xFFFF)
    q = _random_strings(rng, 230)
    c = _random_strings(rng, 170)
    opts = dict(scorer=scorer, scorer_kwargs=kwargs, processor=proc)
    for queries, choices in ((q, None), (q, c), (c, q)):
        for k in (1, 4):
            _same(tm.top_k(queries, choices, k=k, **opts),
                  td.top_k(queries, choices, k=k, block_size=37, client=client, **opts))
        _same(tm.pairs(queries, choices, score_cutoff=cut, **opts),
              td.pairs(queries, choices, score_cutoff=cut, block_size=37, client=client, **opts))
    assert np.array_equal(tm.dedupe(q, score_cutoff=cut, **opts),
                          td.dedupe(q, score_cutoff=cut, block_size=37, client=client, **opts))


def test_real_names_with_cutoff_and_default_block(client):
    names = _lines(NAMES, 1200)
    other = names[300:800]
    for queries, choices in ((names, None), (other, names)):
        _same(tm.top_k(queries, choices, k=5, score_cutoff=60),
              td.top_k(queries, choices, k=5, score_cutoff=60, client=client))
        _same(tm.top_k(queries, choices, k=3, scorer="jaro_winkler"),
              td.top_k(queries, choices, k=3, scorer="jaro_winkler", block_size=100, client=client))
    companies = _lines(COMPANIES, 800)
    opts = dict(scorer="token_set_ratio", processor="default", score_cutoff=90)
    _same(tm.pairs(companies, **opts), td.pairs(companies, block_size=64, client=client, **opts))


def test_ties_at_kth_place_across_tiles(client):
    # Many equal scores spread over blocks: ties must go to the lower index overall.
    q = ["ab", "ba", "aa", None, "bb"] * 10
    for k in (3, 7, 60):
        _same(tm.top_k(q, k=k), td.top_k(q, k=k, block_size=7, client=client))
        _same(tm.top_k(q[:9], q, k=k, scorer="levenshtein"),
              td.top_k(q[:9], q, k=k, scorer="levenshtein", block_size=4, client=client))


def test_processor_and_choices(client):
    rng = random.Random(5)
    q = _random_strings(rng, 80, alphabet="AbC- é")
    c = _random_strings(rng, 60, alphabet="aBc -É")
    upper = lambda s: s.upper().strip()  # noqa: E731 - a processor that does not pickle by name
    _same(tm.top_k(q, c, processor=upper), td.top_k(q, c, processor=upper, block_size=9, client=client))
    cc = tm.Choices(c, processor="default")
    _same(tm.top_k(q, cc, k=3), td.top_k(q, cc, k=3, block_size=9, client=client))
    _same(tm.pairs(tm.Choices(q, upper), score_cutoff=50),
          td.pairs(tm.Choices(q, upper), score_cutoff=50, block_size=9, client=client))
    with pytest.raises(ValueError, match="processor differs"):
        td.top_k(q, cc, processor=upper, client=client)


def test_edges(client):
    # k beyond the choices, empty sides, all missing, NaN cutoff, k = 0.
    q = ["abc", "abd", None, "xyz"]
    for queries, choices, k in ((q, q[:2], 9), (q, None, 9), ([], q, 3), (q, [], 3),
                                ([], None, 2), ([None, float("nan")], None, 2), (q, None, 0)):
        _same(tm.top_k(queries, choices, k=k), td.top_k(queries, choices, k=k, block_size=1, client=client))
        _same(tm.pairs(queries, choices, score_cutoff=0),
              td.pairs(queries, choices, score_cutoff=0, block_size=1, client=client))
    _same(tm.top_k(q, score_cutoff=math.nan), td.top_k(q, score_cutoff=math.nan, client=client))
    assert np.array_equal(td.dedupe([], score_cutoff=50, client=client), np.empty(0, np.int64))
    labels = td.dedupe(["a b", None, "a b", "zz"], score_cutoff=100, block_size=1, client=client)
    assert labels.tolist() == [0, 1, 0, 3]


def test_dask_inputs(client):
    import dask.bag as db

    rng = random.Random(9)
    q = _random_strings(rng, 150, missing=False)
    c = _random_strings(rng, 90, missing=False)
    bag_q, bag_c = db.from_sequence(q, npartitions=4), db.from_sequence(c, npartitions=3)
    _same(tm.top_k(q, c, k=3), td.top_k(bag_q, bag_c, k=3, block_size=20, client=client))
    _same(tm.pairs(q, score_cutoff=60), td.pairs(bag_q, score_cutoff=60, block_size=20, client=client))
    dd = pytest.importorskip("dask.dataframe")
    pd = pytest.importorskip("pandas")
    with_missing = q[:50] + [None] + q[50:]
    s = pd.Series(with_missing, index=range(1000, 1000 + len(with_missing)), dtype=object)
    ds = dd.from_pandas(s, npartitions=5)
    _same(tm.top_k(with_missing, k=2), td.top_k(ds, k=2, block_size=16, client=client))
    assert np.array_equal(tm.dedupe(with_missing, score_cutoff=70),
                          td.dedupe(ds, score_cutoff=70, block_size=16, client=client))
    na = dd.from_pandas(pd.Series(["ab", pd.NA, "ab"], dtype="string"), npartitions=2)
    assert td.dedupe(na, score_cutoff=100, client=client).tolist() == [0, 1, 0]
    with pytest.raises(TypeError, match="DataFrame"):
        td.top_k(ds.to_frame(), client=client)


def test_progress_and_arguments(client):
    q = [f"name {i}" for i in range(60)]
    seen = []
    td.top_k(q, k=2, block_size=13, client=client, progress=lambda d, t: seen.append((d, t)))
    assert seen[-1] == (3600, 3600)
    assert [d for d, _ in seen] == sorted(d for d, _ in seen)
    seen.clear()
    td.pairs(q, score_cutoff=90, block_size=13, client=client, progress=lambda d, t: seen.append((d, t)))
    assert seen[-1] == (60 * 59 // 2, 60 * 59 // 2)
    with pytest.raises(TypeError, match="score_cutoff"):
        td.pairs(q, score_cutoff=None, client=client)
    with pytest.raises(ValueError, match="block_size"):
        td.top_k(q, block_size=0, client=client)
    with pytest.raises(TypeError, match="client"):
        td.top_k(q, client="tcp://nowhere:1")
    with pytest.raises(ValueError, match="unknown scorer"):
        td.top_k(q, scorer="nope", client=client)
    with pytest.raises(TypeError, match=r"queries\[1\] must be str"):
        td.top_k(["a", 3], client=client)


def test_progress_error_cancels(client):
    def boom(done, total):
        raise OverflowError("stop here")

    with pytest.raises(OverflowError, match="stop here"):
        td.top_k([f"n{i}" for i in range(100)], block_size=10, client=client, progress=boom)
    # The cluster is still usable.
    _same(tm.top_k(["a", "b"], k=1), td.top_k(["a", "b"], k=1, client=client))


def test_no_default_client(tmp_path):
    # The module's client is the default one here, so check in a fresh interpreter.
    import subprocess
    import sys

    code = ("import tarnvel_match.dask as td\n"
            "try:\n td.top_k(['a'])\nexcept ValueError as e:\n print('ERR', e)\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60,
                         cwd=tmp_path)
    assert "ERR" in out.stdout and "needs a Dask client" in out.stdout, out.stderr


# --- failures ----------------------------------------------------------------------------

def test_worker_killed_mid_run(client, cluster):
    names = _lines(NAMES, 2400)
    expect = tm.top_k(names, k=5, scorer="levenshtein")
    expect_pairs = tm.pairs(names, scorer="levenshtein", score_cutoff=4)
    for run in ("top_k", "pairs"):
        started = threading.Event()
        box = {}

        def work():
            try:
                if run == "top_k":
                    box["r"] = td.top_k(names, k=5, scorer="levenshtein", block_size=150, client=client,
                                        progress=lambda d, t: started.set())
                else:
                    box["r"] = td.pairs(names, scorer="levenshtein", score_cutoff=4, block_size=150,
                                        client=client, progress=lambda d, t: started.set())
            except BaseException as e:  # noqa: BLE001 - reported below
                box["e"] = e

        t = threading.Thread(target=work)
        t.start()
        assert started.wait(60)
        victim = sorted(client.scheduler_info()["workers"])[0]
        try:
            client.run(os._exit, 1, workers=[victim])
        except Exception:  # noqa: BLE001 - the worker dies before it can answer
            pass
        t.join(180)
        assert not t.is_alive()
        if "e" in box:
            # Allowed only as a clear error, never a wrong result.
            # A clear error, never a wrong result: the retry budget ran out, or the
            # scheduler cancelled the lost work.
            import distributed
            e = box["e"]
            assert (isinstance(e, RuntimeError) and "lost" in str(e)) or isinstance(
                e, distributed.client.FutureCancelledError), repr(e)
        else:
            _same(expect if run == "top_k" else expect_pairs, box["r"])
        client.wait_for_workers(2, timeout=60)
    _same(tm.top_k(names[:50], k=2), td.top_k(names[:50], k=2, block_size=10, client=client))


def test_clean_shutdown():
    import psutil

    me = psutil.Process()
    before = {p.pid for p in me.children(recursive=True)}
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cl, distributed.Client(cl) as c:
        started = {p.pid for p in me.children(recursive=True)} - before
        assert len(started) >= 2
        _same(tm.top_k(["ab", "ac", "b"], k=2), td.top_k(["ab", "ac", "b"], k=2, block_size=1, client=c))
        assert len(c.run(os.getpid)) == 2
    deadline = time.time() + 20
    while time.time() < deadline:
        left = [p for p in started if psutil.pid_exists(p) and psutil.Process(p).status() != psutil.STATUS_ZOMBIE]
        if not left:
            break
        time.sleep(0.2)
    assert not left


def test_blocks_are_even_and_never_longer_than_asked():
    # Equal blocks leave no short tile to run alone at the end; never more blocks, and
    # never a block longer than block_size.
    for n in range(1, 300):
        for size in range(1, 70):
            length = td._even(n, size)
            assert length <= size
            assert -(-n // length) == -(-n // size)
            assert n - (-(-n // length) - 1) * length >= length - -(-n // size) + 1
