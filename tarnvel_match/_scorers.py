"""The scorer table: names, the tarnvel functions they stand for, their value types."""

from __future__ import annotations

import math
import operator
from dataclasses import dataclass
from typing import Any, Dict, Mapping, Optional, Tuple

import numpy as np

import tarnvel

__all__ = ["SCORERS", "ScorerInfo", "scorer_info", "resolve"]

_P_MESSAGE = "Prefix scaling parameter 'p' must be between 0.0 and 0.25"

# name, tarnvel function, kind ("fuzz" 0-100, "unit" 0-1, "distance", "alignment"),
# required and optional scorer_kwargs. The order is the native scorer id.
_TABLE = (
    ("ratio", tarnvel.fuzz_ratio, "fuzz", (), ()),
    ("qratio", tarnvel.fuzz_qratio, "fuzz", (), ()),
    ("partial_ratio", tarnvel.fuzz_partial_ratio, "fuzz", (), ()),
    ("token_sort_ratio", tarnvel.fuzz_token_sort_ratio, "fuzz", (), ()),
    ("token_set_ratio", tarnvel.fuzz_token_set_ratio, "fuzz", (), ()),
    ("token_ratio", tarnvel.fuzz_token_ratio, "fuzz", (), ()),
    ("partial_token_sort_ratio", tarnvel.fuzz_partial_token_sort_ratio, "fuzz", (), ()),
    ("partial_token_set_ratio", tarnvel.fuzz_partial_token_set_ratio, "fuzz", (), ()),
    ("partial_token_ratio", tarnvel.fuzz_partial_token_ratio, "fuzz", (), ()),
    ("wratio", tarnvel.fuzz_wratio, "fuzz", (), ()),
    ("damerau_ratio", tarnvel.damerau_ratio, "fuzz", (), ()),
    ("jaro", tarnvel.jaro_similarity, "unit", (), ()),
    ("jaro_winkler", tarnvel.jaro_winkler_similarity, "unit", (), ("p",)),
    ("levenshtein", tarnvel.levenshtein_distance, "distance", (), ()),
    ("damerau_levenshtein", tarnvel.damerau_levenshtein_distance, "distance", (), ()),
    ("needleman_wunsch", tarnvel.needleman_wunsch_score, "alignment",
     ("match_score", "mismatch_score", "gap_penalty"), ()),
    ("needleman_wunsch_affine", tarnvel.needleman_wunsch_affine, "alignment",
     ("match_score", "mismatch_score", "gap_open", "gap_extend"), ()),
)

#: The scorer names, in table order.
SCORERS: Tuple[str, ...] = tuple(row[0] for row in _TABLE)

_BY_NAME = {row[0]: (i, row) for i, row in enumerate(_TABLE)}
_BY_FUNC = {id(row[1]): row[0] for row in _TABLE}
# Variants of the module that return the same values as the plain functions.
_BY_FUNC[id(tarnvel.levenshtein_myers)] = "levenshtein"
_BY_FUNC[id(tarnvel.jaro_optimized)] = "jaro"
_BY_FUNC[id(tarnvel.needleman_wunsch_striped)] = "needleman_wunsch"
_FUNCS = {id(row[1]): row[1] for row in _TABLE}
_FUNCS[id(tarnvel.levenshtein_myers)] = tarnvel.levenshtein_myers
_FUNCS[id(tarnvel.jaro_optimized)] = tarnvel.jaro_optimized
_FUNCS[id(tarnvel.needleman_wunsch_striped)] = tarnvel.needleman_wunsch_striped

_DTYPES = {
    "fuzz": np.dtype(np.float64),
    "unit": np.dtype(np.float64),
    "distance": np.dtype(np.uint32),
    "alignment": np.dtype(np.int64),
}
_PADS = {"fuzz": math.nan, "unit": math.nan, "distance": 2**32 - 1, "alignment": -(2**63)}


@dataclass(frozen=True)
class ScorerInfo:
    """What a scorer returns: its canonical name, whether larger values are better, the
    default NumPy dtype of its results, and the padding score of `top_k` rows."""

    name: str
    function: Any
    kind: str
    higher_is_better: bool
    dtype: np.dtype
    pad: Any


def _name_of(scorer: Any) -> str:
    if isinstance(scorer, str):
        if scorer not in _BY_NAME:
            raise ValueError(
                f"unknown scorer {scorer!r}; choose one of: {', '.join(SCORERS)}"
            )
        return scorer
    name = _BY_FUNC.get(id(scorer))
    if name is None or _FUNCS[id(scorer)] is not scorer:
        raise TypeError(
            "scorer must be a scorer name or a tarnvel scoring function "
            f"(such as tarnvel.fuzz_wratio), not {scorer!r}"
        )
    return name


def scorer_info(scorer: Any = "ratio", scorer_kwargs: Optional[Mapping[str, Any]] = None) -> ScorerInfo:
    """The :class:`ScorerInfo` of a scorer name or tarnvel function (its kwargs checked)."""
    info, _ = resolve(scorer, scorer_kwargs)
    return info


def _int_cost(name: str, key: str, value: Any) -> int:
    try:
        v = operator.index(value)
    except TypeError:
        raise TypeError(
            f"scorer_kwargs[{key!r}] of {name} must be an integer, not {type(value).__name__}"
        ) from None
    if not -(2**63) <= v < 2**63:
        raise OverflowError(f"scorer_kwargs[{key!r}] of {name} does not fit a signed 64-bit integer")
    return v


def resolve(scorer: Any, scorer_kwargs: Optional[Mapping[str, Any]]) -> Tuple[ScorerInfo, tuple]:
    """(ScorerInfo, the native scorer-arguments tuple); raises ValueError/TypeError naming the problem."""
    name = _name_of(scorer)
    sid, (_, func, kind, required, optional) = _BY_NAME[name]
    kwargs: Dict[str, Any] = {}
    if scorer_kwargs is not None:
        if not isinstance(scorer_kwargs, Mapping):
            raise TypeError(f"scorer_kwargs must be a mapping, not {type(scorer_kwargs).__name__}")
        kwargs = dict(scorer_kwargs)
    unknown = sorted(k for k in kwargs if k not in required and k not in optional)
    if unknown:
        allowed = ", ".join(required + optional) or "none"
        raise TypeError(
            f"unknown scorer_kwargs for {name}: {', '.join(map(repr, unknown))} (allowed: {allowed})"
        )
    missing = [k for k in required if k not in kwargs]
    if missing:
        raise TypeError(f"{name} needs scorer_kwargs {', '.join(map(repr, missing))}")
    p = 0.1
    if "p" in kwargs:
        try:
            p = float(kwargs["p"])
        except (TypeError, ValueError):
            raise TypeError(f"scorer_kwargs['p'] must be a real number, not {type(kwargs['p']).__name__}") from None
        if not 0.0 <= p <= 0.25:
            raise ValueError(_P_MESSAGE)
    costs = [0, 0, 0, 0, 0]
    if name == "needleman_wunsch":
        costs[0] = _int_cost(name, "match_score", kwargs["match_score"])
        costs[1] = _int_cost(name, "mismatch_score", kwargs["mismatch_score"])
        costs[2] = _int_cost(name, "gap_penalty", kwargs["gap_penalty"])
    elif name == "needleman_wunsch_affine":
        costs[0] = _int_cost(name, "match_score", kwargs["match_score"])
        costs[1] = _int_cost(name, "mismatch_score", kwargs["mismatch_score"])
        costs[3] = _int_cost(name, "gap_open", kwargs["gap_open"])
        costs[4] = _int_cost(name, "gap_extend", kwargs["gap_extend"])
    info = ScorerInfo(
        name=name,
        function=func,
        kind=kind,
        higher_is_better=kind != "distance",
        dtype=_DTYPES[kind],
        pad=_PADS[kind],
    )
    return info, (sid, p, *costs)
