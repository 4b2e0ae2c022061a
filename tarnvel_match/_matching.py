"""The matching functions: extract, extract_one, cdist, top_k, pairs, dedupe."""

from __future__ import annotations

import math
import numbers
import operator
from typing import Any, Callable, List, Optional, Tuple

import numpy as np

from . import _native
from ._choices import Choices, as_items, pack
from ._process import MODE_CALL, processor_mode, same_processor
from ._scorers import ScorerInfo, resolve

__all__ = ["extract", "extract_one", "cdist", "top_k", "pairs", "dedupe"]

# Cleared by the tests to check that pruning never changes a result.
_PRUNE = True

# Native element kinds: 0 u32, 1 i64, 2 f64, 3 f32 (ElemKind order).
_ELEM = {np.dtype(np.uint32): 0, np.dtype(np.int64): 1, np.dtype(np.float64): 2, np.dtype(np.float32): 3}


# --- arguments -------------------------------------------------------------------------

def _parallel(workers: Any) -> bool:
    if workers is None:
        return True
    if isinstance(workers, bool) or not isinstance(workers, numbers.Integral):
        raise TypeError(f"workers must be None or an integer, not {type(workers).__name__}")
    if workers == -1 or workers >= 2:
        return True
    if workers == 1:
        return False
    raise ValueError(f"workers must be None, -1 or a positive integer, not {workers}")


def _cutoff(score_cutoff: Any, info: ScorerInfo) -> Optional[float]:
    if score_cutoff is None:
        return None
    if isinstance(score_cutoff, bool) or not isinstance(score_cutoff, numbers.Real):
        raise TypeError(f"score_cutoff must be None or a real number, not {type(score_cutoff).__name__}")
    value = float(score_cutoff)
    if info.kind == "distance" and not value >= 0.0:
        raise ValueError(
            f"score_cutoff of the distance scorer {info.name} must be a number >= 0, not {score_cutoff!r}"
        )
    return value


def _limit(limit: Any) -> Optional[int]:
    if limit is None:
        return None
    try:
        v = operator.index(limit)
    except TypeError:
        raise TypeError(f"limit must be None or an integer, not {type(limit).__name__}") from None
    if v < 0:
        raise ValueError(f"limit must be >= 0, not {v}")
    return v


class _Progress:
    """The native progress callable, plus the final report and closing of a bar."""

    def __init__(self, progress: Any, total: int) -> None:
        self.total = total
        self.bar = None
        self.fn: Optional[Callable[[int, int], Any]] = None
        if progress is None or progress is False:
            return
        if progress is True:
            from tqdm.auto import tqdm

            self.bar = tqdm(total=total, unit="pairs", unit_scale=True, leave=False)
            self.fn = self._update_bar
        elif callable(progress):
            self.fn = progress
        else:
            raise TypeError(f"progress must be None, a bool or a callable, not {type(progress).__name__}")

    def _update_bar(self, done: int, total: int) -> None:
        self.bar.update(done - self.bar.n)

    def finish(self) -> None:
        if self.fn is not None:
            self.fn(self.total, self.total)
        self.close()

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()
            self.bar = None


def _run(parallel: bool, progress: _Progress):
    return (parallel, progress.fn, _PRUNE)


def _call(progress: _Progress, fn, *args):
    try:
        result = fn(*args)
    except BaseException:
        progress.close()
        raise
    progress.finish()
    return result


# The last plain list or tuple of choices packed without a callable processor: (the
# package's copy of its items, processor mode, store). A later call given a list or tuple
# that holds the very same objects in the same order reuses the store: str objects never
# change and neither processor depends on anything else, so a loop of queries against one
# list packs it once. Lists longer than _REMEMBER_MAX are not kept, so the memory held
# for a list the caller has dropped stays modest.
_last_packed: Optional[Tuple[Any, int, Any]] = None
_REMEMBER_MAX = 1 << 20


def _choice_side(choices: Any, processor: Any, what: str):
    """(items, store, processor in force) of a choices argument."""
    global _last_packed
    if isinstance(choices, Choices):
        if processor is not None and not same_processor(processor, choices.processor):
            raise ValueError(
                f"processor differs from the processor of the Choices given as {what}; "
                "pass processor=None (the Choices' processor applies to the queries too)"
            )
        return choices._items, choices._store, choices.processor
    try:
        mode, _ = processor_mode(processor)
    except (TypeError, ValueError):
        mode = MODE_CALL  # reported by the packing below, in its usual order
    plain = mode != MODE_CALL and type(choices) in (list, tuple)
    last = _last_packed
    if plain and last is not None and last[1] == mode and _native.same_items(last[0], choices):
        return last[0], last[2], processor
    items = as_items(choices, what)
    store = pack(items, processor, what)
    if plain and len(items) <= _REMEMBER_MAX:
        _last_packed = (items, mode, store)
    return items, store, processor


def _other_side(values: Any, processor: Any, what: str, processor_of_choices: Any):
    """The store of the query side, processed like the choices."""
    if isinstance(values, Choices):
        if not same_processor(values.processor, processor_of_choices):
            raise ValueError(f"the Choices given as {what} has another processor than the choices")
        return values._items, values._store
    items = as_items(values, what)
    return items, pack(items, processor_of_choices, what)


def _query_store(query: Any, processor: Any):
    if not isinstance(query, str):
        raise TypeError(f"query must be str, not {type(query).__name__}")
    return pack((query,), processor, "query")


def _no_missing(store, what: str) -> None:
    _, missing, first = _native.store_info(store)
    if missing:
        raise TypeError(f"{what}[{first}] is a missing value (None or NaN); cdist needs a str in every position")


# --- one query -------------------------------------------------------------------------

def extract(query: str, choices: Any, *, scorer: Any = "ratio", processor: Any = None,
            score_cutoff: Any = None, limit: Any = 5, scorer_kwargs: Any = None,
            workers: Any = None, progress: Any = None) -> List[Tuple[Any, Any, int]]:
    """The best matches of ``query`` among ``choices``: a list of (choice, score, index),
    best first, ties in index order; ``limit=None`` returns every kept choice. Missing
    choices never match."""
    info, scorer_args = resolve(scorer, scorer_kwargs)
    cut = _cutoff(score_cutoff, info)
    lim = _limit(limit)
    parallel = _parallel(workers)
    items, cstore, proc = _choice_side(choices, processor, "choices")
    qstore = _query_store(query, proc)
    prog = _Progress(progress, len(items))
    found = _call(prog, _native.extract, qstore, cstore, scorer_args, cut, lim, _run(parallel, prog))
    return [(items[i], score, i) for i, score in found]


def extract_one(query: str, choices: Any, *, scorer: Any = "ratio", processor: Any = None,
                score_cutoff: Any = None, scorer_kwargs: Any = None, workers: Any = None,
                progress: Any = None) -> Optional[Tuple[Any, Any, int]]:
    """The best match (lowest index among ties) as (choice, score, index), or None."""
    found = extract(query, choices, scorer=scorer, processor=processor, score_cutoff=score_cutoff,
                    limit=1, scorer_kwargs=scorer_kwargs, workers=workers, progress=progress)
    return found[0] if found else None


# --- many queries ----------------------------------------------------------------------

def cdist(queries: Any, choices: Any, *, scorer: Any = "ratio", processor: Any = None,
          score_cutoff: Any = None, dtype: Any = None, scorer_kwargs: Any = None,
          workers: Any = None, out: Any = None, progress: Any = None) -> np.ndarray:
    """The matrix of scores, shape (len(queries), len(choices)). Pairs that miss the
    cutoff hold 0 (distances: cutoff + 1). If interrupted, ``out`` may hold partial
    results."""
    info, scorer_args = resolve(scorer, scorer_kwargs)
    cut = _cutoff(score_cutoff, info)
    parallel = _parallel(workers)
    allowed = {info.dtype}
    if info.dtype == np.float64:
        allowed.add(np.dtype(np.float32))
    if dtype is not None:
        try:
            want = np.dtype(dtype)
        except TypeError:
            raise TypeError(f"dtype must be a NumPy dtype, not {dtype!r}") from None
        if want not in allowed:
            names = " or ".join(sorted(d.name for d in allowed))
            raise ValueError(f"dtype of {info.name} results must be {names}, not {want.name}")
    elif out is not None and isinstance(out, np.ndarray) and out.dtype in allowed:
        want = out.dtype
    else:
        want = info.dtype
    citems, cstore, proc = _choice_side(choices, processor, "choices")
    qitems, qstore = _other_side(queries, processor, "queries", proc)
    shape = (len(qitems), len(citems))
    if out is None:
        result = np.empty(shape, dtype=want)
    else:
        if not isinstance(out, np.ndarray):
            raise TypeError(f"out must be a numpy.ndarray, not {type(out).__name__}")
        if out.dtype != want:
            raise ValueError(f"out must have dtype {want.name}, not {out.dtype.name}")
        if out.shape != shape:
            raise ValueError(f"out must have shape {shape}, not {out.shape}")
        if not out.flags.c_contiguous:
            raise ValueError("out must be C-contiguous")
        if not out.flags.writeable:
            raise ValueError("out must be writeable")
        result = out
    _no_missing(qstore, "queries")
    _no_missing(cstore, "choices")
    prog = _Progress(progress, shape[0] * shape[1])
    _call(prog, _native.cdist, qstore, cstore, scorer_args, cut, result, _ELEM[want], _run(parallel, prog))
    return result


def _sides(queries: Any, choices: Any, processor: Any):
    """(query items, query store, choice items or None, choice store or None)."""
    if choices is None:
        if isinstance(queries, Choices):
            if processor is not None and not same_processor(processor, queries.processor):
                raise ValueError("processor differs from the processor of the Choices given as queries")
            return queries._items, queries._store, None, None
        items = as_items(queries, "queries")
        return items, pack(items, processor, "queries"), None, None
    citems, cstore, proc = _choice_side(choices, processor, "choices")
    qitems, qstore = _other_side(queries, processor, "queries", proc)
    return qitems, qstore, citems, cstore


def top_k(queries: Any, choices: Any = None, *, k: Any = 5, scorer: Any = "ratio",
          processor: Any = None, score_cutoff: Any = None, scorer_kwargs: Any = None,
          workers: Any = None, progress: Any = None) -> Tuple[np.ndarray, np.ndarray]:
    """(indices, scores), each of shape (len(queries), k): row i holds the k best kept
    choices of query i, best first, ties to the lower index, padded with index -1 (and
    NaN, the uint32 maximum or the int64 minimum). ``choices=None`` matches the queries
    against themselves, never a row against itself. Memory is O(len(queries) * k)."""
    info, scorer_args = resolve(scorer, scorer_kwargs)
    cut = _cutoff(score_cutoff, info)
    try:
        kk = operator.index(k)
    except TypeError:
        raise TypeError(f"k must be an integer, not {type(k).__name__}") from None
    if kk < 0:
        raise ValueError(f"k must be >= 0, not {kk}")
    parallel = _parallel(workers)
    qitems, qstore, citems, cstore = _sides(queries, choices, processor)
    n = len(qitems)
    indices = np.empty((n, kk), dtype=np.int64)
    scores = np.empty((n, kk), dtype=info.dtype)
    m = len(citems) if citems is not None else n
    prog = _Progress(progress, n * m)
    _call(prog, _native.top_k, qstore, cstore, scorer_args, cut, kk, indices, scores, _run(parallel, prog))
    return indices, scores


def pairs(queries: Any, choices: Any = None, *, scorer: Any = "ratio", score_cutoff: Any,
          processor: Any = None, scorer_kwargs: Any = None, workers: Any = None,
          progress: Any = None) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
    """(i, j, scores) of every pair that meets the cutoff, sorted by (i, j). With
    ``choices=None`` it is the self-join: pairs i < j scored as scorer(q[i], q[j])."""
    info, scorer_args = resolve(scorer, scorer_kwargs)
    if score_cutoff is None:
        raise TypeError("pairs needs a score_cutoff (a number), not None")
    cut = _cutoff(score_cutoff, info)
    parallel = _parallel(workers)
    qitems, qstore, citems, cstore = _sides(queries, choices, processor)
    n = len(qitems)
    total = n * len(citems) if citems is not None else n * (n - 1) // 2
    prog = _Progress(progress, total)
    bi, bj, bv = _call(prog, _native.pairs, qstore, cstore, scorer_args, cut, _run(parallel, prog))
    return (np.frombuffer(bi, dtype=np.int64), np.frombuffer(bj, dtype=np.int64),
            np.frombuffer(bv, dtype=info.dtype))


def dedupe(strings: Any, *, scorer: Any = "ratio", score_cutoff: Any, processor: Any = None,
           scorer_kwargs: Any = None, workers: Any = None, progress: Any = None) -> np.ndarray:
    """Cluster labels (int64): label[i] is the smallest index in the connected component
    of i in the graph of the self-join pairs that meet the cutoff."""
    if isinstance(strings, Choices):
        n = len(strings)
    else:
        strings = as_items(strings, "strings")
        n = len(strings)
    i, j, _ = pairs(strings, None, scorer=scorer, score_cutoff=score_cutoff, processor=processor,
                    scorer_kwargs=scorer_kwargs, workers=workers, progress=progress)
    labels = _native.components(n, i, j)
    return np.frombuffer(labels, dtype=np.int64)
