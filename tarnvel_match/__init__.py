"""Bulk and many-to-many matching with every scorer of :mod:`tarnvel`.

Every value equals, bit for bit, what the ``tarnvel`` scalar function returns for
(processed query, processed choice); the work runs in native code on the worker pool
with the interpreter lock released, answers Ctrl-C, and can report its progress.
"""

try:
    import numpy as _numpy  # noqa: F401
except ImportError:  # pragma: no cover - exercised in a subprocess without NumPy
    raise ImportError(
        'tarnvel_match needs NumPy: install it with pip install "tarnvel[match]"'
    ) from None

from ._choices import Choices
from ._matching import cdist, dedupe, extract, extract_one, pairs, top_k
from ._process import default_process
from ._scorers import SCORERS, ScorerInfo, scorer_info

__version__ = "0.4.1"

__all__ = [
    "Choices",
    "SCORERS",
    "ScorerInfo",
    "cdist",
    "dedupe",
    "default_process",
    "extract",
    "extract_one",
    "pairs",
    "scorer_info",
    "top_k",
]
