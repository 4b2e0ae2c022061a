"""``top_k``, ``pairs`` and ``dedupe`` on a Dask cluster (``pip install "tarnvel[dask]"``).

The results are the local functions' results, bit for bit and in the same order. The
strings are collected and processed on the client (exactly as locally), cut into blocks,
and each block travels to the cluster once, scattered as a :class:`Choices` of processed
strings. One task per tile (query block x choice block) runs the native local function on
a worker; top-k partial results are merged by tasks on the workers, two at a time (a
tree), and pairs come back to the client tile by tile.

Inputs may be lists or other iterables, :class:`Choices`, ``dask.bag.Bag`` or a
``dask.dataframe`` Series. Bags and Series are computed to a list on the client first, so
indices are positions in that list (a Series' index labels are not used); pandas' missing
markers (``pd.NA``, ``NaT``) in a Series count as missing values.

A tile whose worker dies is run again (its blocks scattered again when they were lost);
after repeated losses the call raises a RuntimeError. It never returns a partial result.
"""

from __future__ import annotations

import concurrent.futures
import math
import numbers
import operator
import sys
from typing import Any, Dict, List, Optional, Tuple

import numpy as np

try:
    import distributed
except ImportError:  # pragma: no cover - exercised without Dask installed
    raise ImportError(
        'tarnvel_match.dask needs Dask: install it with pip install "tarnvel[dask]"'
    ) from None

from . import _native
from . import _matching as _local
from ._choices import Choices, as_items
from ._scorers import resolve

__all__ = ["top_k", "pairs", "dedupe"]

# Strings per block on each side: a tile is at most 2048 x 2048 = 4.2 million pairs,
# seconds of work at most for the slowest scorers on short strings, yet enough tiles for
# every worker on inputs of a few thousand strings.
DEFAULT_BLOCK_SIZE = 2048
# top_k's default choice block. A tile's search raises its bar (the k-th best so far) as it
# goes and skips what cannot pass it; every tile starts from nothing, so narrow choice
# blocks lose most of that pruning (20,000 x 100,000 names: 2,048-wide tiles did 1.7x the
# work of one local call, 65,536-wide ones took 1.2x the time of 262,144-wide ones on two
# workers). Wide blocks keep it; query blocks still split the work.
DEFAULT_TOP_K_CHOICE_BLOCK = 262144

# Times one tile may be lost with its worker before the call gives up.
_MAX_ATTEMPTS = 4


# --- arguments -------------------------------------------------------------------------

def _client(client: Any):
    if client is None:
        try:
            return distributed.default_client()
        except ValueError:
            raise ValueError(
                "tarnvel_match.dask needs a Dask client: pass client=distributed.Client(...) "
                "or create one first (e.g. distributed.Client('tcp://host:8786'))"
            ) from None
    if not isinstance(client, distributed.Client):
        raise TypeError(f"client must be a distributed.Client or None, not {type(client).__name__}")
    return client


def _block_size(block_size: Any) -> int:
    if block_size is None:
        return DEFAULT_BLOCK_SIZE
    if isinstance(block_size, bool):
        raise TypeError("block_size must be None or a positive integer, not bool")
    try:
        b = operator.index(block_size)
    except TypeError:
        raise TypeError(f"block_size must be None or a positive integer, not {type(block_size).__name__}") from None
    if b < 1:
        raise ValueError(f"block_size must be a positive integer, not {b}")
    return b


def _tile_workers(workers: Any) -> int:
    # Dask already runs one tile per worker thread: tiles are single-threaded unless asked.
    if workers is None:
        return 1
    _local._parallel(workers)  # the local checks and messages
    return workers


def _is_pd_missing(x: Any) -> bool:
    try:
        import pandas as pd
    except ImportError:  # pragma: no cover
        return False
    return x is pd.NA or x is pd.NaT


def _materialise(values: Any, client, what: str) -> Any:
    """A Bag or dask Series computed to a list (in order); other inputs as they are."""
    # A Bag or a Series exists only once its module is imported: looked up, not imported
    # (importing dask.dataframe costs more than half a second).
    db = sys.modules.get("dask.bag")
    if db is not None and isinstance(values, db.Bag):
        return list(client.compute(values).result())
    dd = sys.modules.get("dask.dataframe")
    if dd is not None:
        if isinstance(values, dd.DataFrame):
            raise TypeError(f"{what} must be a Series or a sequence of str, not a dask DataFrame; pick a column")
        if isinstance(values, dd.Series):
            s = client.compute(values).result()
            return [None if _is_pd_missing(x) else x for x in s.tolist()]
    return values


def _even(n: int, size: int) -> int:
    """The block length, at most `size`, that cuts n strings into blocks of equal length
    (the last one shorter by less than the block count), so no tile is left over alone."""
    count = -(-n // size)
    return -(-n // count) if count else size


def _blocks(store, n: int, size: int) -> List[Choices]:
    """The processed strings of a store, cut into Choices of `size` (no processor)."""
    out = []
    for b in range(0, n, size):
        texts = [_native.store_get(store, i) for i in range(b, min(n, b + size))]
        out.append(Choices(texts))
    return out


# --- work on the workers ---------------------------------------------------------------

def _tile_top_k(qblock, cblock, coff, k, scorer, cut, kwargs, workers):
    from ._matching import top_k as local_top_k

    idx, sc = local_top_k(qblock, cblock, k=k, scorer=scorer, score_cutoff=cut,
                          scorer_kwargs=kwargs, workers=workers)
    idx[idx >= 0] += coff
    return idx, sc


def _merge_top_k(a, b, k, higher):
    """The k best of two partial results over disjoint choices: best first, ties to the
    lower index, padding (index -1) last, exactly as one local call orders them."""
    idx = np.concatenate([a[0], b[0]], axis=1)
    sc = np.concatenate([a[1], b[1]], axis=1)
    pad = idx < 0
    if not higher:
        key = sc
    elif sc.dtype.kind == "f":
        key = -sc  # real scores are never NaN; padding sorts last by `pad` anyway
    else:
        key = ~sc  # order-reversing on int64 without overflow at the minimum
    order = np.lexsort((idx, key, pad), axis=1)[:, :k]
    return (np.ascontiguousarray(np.take_along_axis(idx, order, axis=1)),
            np.ascontiguousarray(np.take_along_axis(sc, order, axis=1)))


def _tile_pairs(qblock, cblock, qoff, coff, scorer, cut, kwargs, workers):
    from ._matching import pairs as local_pairs

    i, j, v = local_pairs(qblock, cblock, scorer=scorer, score_cutoff=cut,
                          scorer_kwargs=kwargs, workers=workers)
    return i + qoff, j + coff, np.array(v)


# --- the driver ------------------------------------------------------------------------

def _lost(exc: BaseException) -> bool:
    """Whether a task failed because a worker or its data went away (worth a retry)."""
    return isinstance(exc, (distributed.scheduler.KilledWorker, concurrent.futures.CancelledError,
                            distributed.client.FutureCancelledError, distributed.comm.CommClosedError,
                            EnvironmentError))


class _Driver:
    """Scatters blocks, runs tiles, retries those lost with a worker, reports progress."""

    def __init__(self, client, qblocks, cblocks, progress):
        self.client = client
        self.qblocks, self.cblocks = qblocks, cblocks
        self.self_mode = cblocks is None
        self.progress = progress
        self.done = 0
        self.counted = set()
        self.attempts: Dict[Tuple[int, int], int] = {}
        self.scattered: Dict[Tuple[str, int], Any] = {}
        self.info: Dict[Any, Tuple] = {}  # future -> (kind, qb, covered cbs)
        self.ac = distributed.as_completed()

    def block(self, side: str, b: int):
        if self.self_mode:
            side = "q"
        f = self.scattered.get((side, b))
        if f is None or f.status not in ("pending", "finished"):
            data = (self.qblocks if side == "q" else self.cblocks)[b]
            f = self.client.scatter(data, broadcast=False, hash=False)
            self.scattered[(side, b)] = f
        return f

    def tile_pairs_count(self, qb: int, cb: int) -> int:
        nq = len(self.qblocks[qb])
        if self.self_mode and qb == cb:
            return nq * (nq - 1) // 2
        return nq * len((self.qblocks if self.self_mode else self.cblocks)[cb])

    def add(self, future, kind: str, qb: int, cbs: Tuple[int, ...]) -> None:
        self.info[future] = (kind, qb, cbs)
        self.ac.add(future)

    def count(self, qb: int, cb: int) -> None:
        if (qb, cb) in self.counted:
            return
        self.counted.add((qb, cb))
        self.done += self.tile_pairs_count(qb, cb)
        if self.progress.fn is not None:
            self.progress.fn(self.done, self.progress.total)

    def retry(self, exc: BaseException, qb: int, cbs: Tuple[int, ...], submit_tile) -> None:
        for cb in cbs:
            n = self.attempts.get((qb, cb), 0) + 1
            self.attempts[(qb, cb)] = n
            if n >= _MAX_ATTEMPTS:
                raise RuntimeError(
                    f"tarnvel_match.dask: tile ({qb}, {cb}) was lost {n} times with its "
                    f"worker ({type(exc).__name__}: {exc}); giving up"
                ) from exc
        for cb in cbs:
            submit_tile(qb, cb)

    def cancel_all(self) -> None:
        pending = list(self.info) + list(self.scattered.values())
        self.info.clear()
        self.scattered.clear()
        try:
            self.client.cancel(pending)
        except Exception:  # the cluster may be gone already; nothing is returned anyway
            pass

    def finished(self):
        """(future, kind, qb, cbs) of each completed task; lost ones are retried by the caller."""
        for future in self.ac:
            entry = self.info.pop(future, None)
            if entry is None:
                continue
            yield (future,) + entry


def _run(driver: _Driver, body):
    try:
        result = body()
    except BaseException:
        driver.cancel_all()
        driver.progress.close()
        raise
    driver.cancel_all()  # releases the scattered blocks on the workers
    driver.progress.finish()
    return result


def _prepare(queries, choices, processor, client):
    queries = _materialise(queries, client, "queries")
    if choices is not None:
        choices = _materialise(choices, client, "choices")
    return _local._sides(queries, choices, processor)


def top_k(queries: Any, choices: Any = None, *, k: Any = 5, scorer: Any = "ratio",
          processor: Any = None, score_cutoff: Any = None, scorer_kwargs: Any = None,
          workers: Any = None, progress: Any = None, client: Any = None,
          block_size: Any = None) -> Tuple[np.ndarray, np.ndarray]:
    """:func:`tarnvel_match.top_k` on a Dask cluster, with the same results.

    ``client`` is a ``distributed.Client`` (None: the default client); ``block_size`` the
    strings per block on each side (a tile is at most block_size**2 pairs; None: 2,048
    queries by up to 262,144 choices, or 2,048 on both sides of a self-match; blocks are
    cut to equal lengths of at most these); ``workers`` the native threads each tile uses
    on its worker (None: 1)."""
    info, _ = resolve(scorer, scorer_kwargs)
    cut = _local._cutoff(score_cutoff, info)
    try:
        kk = operator.index(k)
    except TypeError:
        raise TypeError(f"k must be an integer, not {type(k).__name__}") from None
    if kk < 0:
        raise ValueError(f"k must be >= 0, not {kk}")
    tw = _tile_workers(workers)
    size = _block_size(block_size)
    cl = _client(client)
    qitems, qstore, citems, cstore = _prepare(queries, choices, processor, cl)
    n = len(qitems)
    m = len(citems) if citems is not None else n
    prog = _local._Progress(progress, n * m)
    kwargs = dict(scorer_kwargs) if scorer_kwargs is not None else None
    indices = np.full((n, kk), -1, dtype=np.int64)
    scores = np.full((n, kk), info.pad, dtype=info.dtype)
    if n == 0 or m == 0 or kk == 0 or (cut is not None and math.isnan(cut)):
        prog.finish()
        return indices, scores
    qsize = _even(n, size)
    qblocks = _blocks(qstore, n, qsize)
    # Self mode needs the same blocks on both sides (a diagonal tile excludes its own rows).
    if cstore is None:
        csize = qsize
    else:
        csize = _even(m, size if block_size is not None else DEFAULT_TOP_K_CHOICE_BLOCK)
    cblocks = None if cstore is None else _blocks(cstore, m, csize)
    d = _Driver(cl, qblocks, cblocks, prog)
    ncb = len(qblocks) if cblocks is None else len(cblocks)

    def submit_tile(qb, cb):
        diagonal = d.self_mode and qb == cb
        f = cl.submit(_tile_top_k, d.block("q", qb), None if diagonal else d.block("c", cb),
                      cb * csize, kk, info.name, cut, kwargs, tw, pure=False)
        d.add(f, "tile", qb, (cb,))

    def body():
        ready: Dict[int, List[Tuple[Any, Tuple[int, ...]]]] = {}
        # Query block by query block, so that merges run as soon as their inputs exist
        # (earlier submissions run first) and partial results do not pile up.
        for qb in range(len(qblocks)):
            for cb in range(ncb):
                submit_tile(qb, cb)
        left = len(qblocks)
        for future, kind, qb, cbs in d.finished():
            if future.status != "finished":
                try:
                    exc = future.exception()
                except BaseException as e:  # a cancelled future raises instead
                    exc = e
                # A future lost with its worker may end in neither state, with no
                # exception attached: that is a loss too, and worth a retry.
                if exc is not None and not _lost(exc):
                    raise exc
                d.retry(exc, qb, cbs, submit_tile)
                continue
            if kind == "tile":
                d.count(qb, cbs[0])
            if len(cbs) == ncb:
                row = qb * qsize
                bi, bs = future.result()
                indices[row:row + len(bi)] = bi
                scores[row:row + len(bi)] = bs
                left -= 1
                if left == 0:
                    break
                continue
            parts = ready.setdefault(qb, [])
            parts.append((future, cbs))
            if len(parts) >= 2:
                (fa, ca), (fb, cb2) = parts.pop(), parts.pop()
                mf = cl.submit(_merge_top_k, fa, fb, kk, info.higher_is_better, pure=False)
                d.add(mf, "merge", qb, tuple(sorted(ca + cb2)))
        return indices, scores

    return _run(d, body)


def _pairs(queries, choices, scorer, score_cutoff, processor, scorer_kwargs, workers,
           progress, client, block_size):
    info, _ = resolve(scorer, scorer_kwargs)
    if score_cutoff is None:
        raise TypeError("pairs needs a score_cutoff (a number), not None")
    cut = _local._cutoff(score_cutoff, info)
    tw = _tile_workers(workers)
    size = _block_size(block_size)
    cl = _client(client)
    qitems, qstore, citems, cstore = _prepare(queries, choices, processor, cl)
    n = len(qitems)
    m = len(citems) if citems is not None else n
    total = n * m if citems is not None else n * (n - 1) // 2
    prog = _local._Progress(progress, total)
    kwargs = dict(scorer_kwargs) if scorer_kwargs is not None else None
    empty = (np.empty(0, np.int64), np.empty(0, np.int64), np.empty(0, info.dtype))
    if n == 0 or m == 0 or math.isnan(cut):
        prog.finish()
        return empty, n
    qsize = _even(n, size)
    csize = qsize if cstore is None else _even(m, size)
    qblocks = _blocks(qstore, n, qsize)
    cblocks = None if cstore is None else _blocks(cstore, m, csize)
    d = _Driver(cl, qblocks, cblocks, prog)
    ncb = len(qblocks) if cblocks is None else len(cblocks)

    def submit_tile(qb, cb):
        diagonal = d.self_mode and qb == cb
        f = cl.submit(_tile_pairs, d.block("q", qb), None if diagonal else d.block("c", cb),
                      qb * qsize, cb * csize, info.name, cut, kwargs, tw, pure=False)
        d.add(f, "tile", qb, (cb,))

    def body():
        results: Dict[Tuple[int, int], Tuple] = {}
        tiles = [(qb, cb) for qb in range(len(qblocks))
                 for cb in range(qb if d.self_mode else 0, ncb)]
        for qb, cb in tiles:
            submit_tile(qb, cb)
        for future, kind, qb, cbs in d.finished():
            if future.status != "finished":
                try:
                    exc = future.exception()
                except BaseException as e:
                    exc = e
                # A future lost with its worker may end in neither state, with no
                # exception attached: that is a loss too, and worth a retry.
                if exc is not None and not _lost(exc):
                    raise exc
                d.retry(exc, qb, cbs, submit_tile)
                continue
            results[(qb, cbs[0])] = future.result()
            d.count(qb, cbs[0])
            if len(results) == len(tiles):
                break
        out_i, out_j, out_v = [], [], []
        for qb in range(len(qblocks)):
            row = [results[t] for t in tiles if t[0] == qb]
            bi = np.concatenate([r[0] for r in row])
            # Tiles of one query block hold increasing j ranges, each sorted by (i, j):
            # a stable sort by i gives (i, j) order.
            order = np.argsort(bi, kind="stable")
            out_i.append(bi[order])
            out_j.append(np.concatenate([r[1] for r in row])[order])
            out_v.append(np.concatenate([r[2] for r in row])[order])
        return (np.concatenate(out_i), np.concatenate(out_j), np.concatenate(out_v))

    return _run(d, body), n


def pairs(queries: Any, choices: Any = None, *, scorer: Any = "ratio", score_cutoff: Any,
          processor: Any = None, scorer_kwargs: Any = None, workers: Any = None,
          progress: Any = None, client: Any = None,
          block_size: Any = None) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
    """:func:`tarnvel_match.pairs` on a Dask cluster, with the same results (see top_k
    for ``client``, ``block_size`` and ``workers``)."""
    result, _ = _pairs(queries, choices, scorer, score_cutoff, processor, scorer_kwargs,
                       workers, progress, client, block_size)
    return result


def dedupe(strings: Any, *, scorer: Any = "ratio", score_cutoff: Any, processor: Any = None,
           scorer_kwargs: Any = None, workers: Any = None, progress: Any = None,
           client: Any = None, block_size: Any = None) -> np.ndarray:
    """:func:`tarnvel_match.dedupe` on a Dask cluster, with the same labels."""
    if not isinstance(strings, Choices):
        cl = _client(client)
        strings = _materialise(strings, cl, "strings")
        if not isinstance(strings, Choices):
            strings = as_items(strings, "strings")
    (i, j, _), n = _pairs(strings, None, scorer, score_cutoff, processor, scorer_kwargs,
                          workers, progress, client, block_size)
    return np.frombuffer(_native.components(n, i, j), dtype=np.int64)
