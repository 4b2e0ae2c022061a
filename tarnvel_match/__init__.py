"""Bulk and many-to-many matching with every scorer of :mod:`tarnvel`.

Every value equals, bit for bit, what the ``tarnvel`` scalar function returns for
(processed query, processed choice); the work runs in native code on the worker pool
with the interpreter lock released, answers Ctrl-C, and can report its progress.
"""

__version__ = "0.4.1"

_NEEDS_NUMPY = 'tarnvel_match needs NumPy: install it with pip install "tarnvel[match]"'

try:
    import numpy as _numpy  # noqa: F401
except ImportError:
    # The package stays importable so that its command line (tarnvel_match.cli) can load
    # and say how to install the extra; every public name raises the ImportError.
    _numpy = None

if _numpy is not None:
    from ._choices import Choices
    from ._matching import cdist, dedupe, extract, extract_one, pairs, top_k
    from ._process import default_process
    from ._scorers import SCORERS, ScorerInfo, scorer_info

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


if _numpy is None:

    def __getattr__(name):
        if name in __all__:
            raise ImportError(_NEEDS_NUMPY)
        raise AttributeError(f"module 'tarnvel_match' has no attribute {name!r}")
