# Private native layer of tarnvel_match; the public functions live in the package.
from typing import Any, Callable, List, Optional, Tuple

from numpy import ndarray

__all__ = ["cdist", "components", "extract", "pack", "pairs", "prune_stats", "same_items",
           "store_from_state", "store_get", "store_info", "store_state", "top_k", "worker_count"]

# Aliases for these annotations only (underscored: the extension has no such names).
_Store = Any  # an opaque capsule holding one packed text store
_ScorerArgs = Tuple[int, float, int, int, int, int, int]  # (scorer id, p, match, mismatch, gap, open, extend)
_Run = Tuple[bool, Optional[Callable[[int, int], Any]], bool]  # (parallel, progress, prune)

def pack(items: Any, mode: int, fn: Optional[Callable[[str], str]], what: str) -> _Store: ...
def same_items(a: Any, b: Any, /) -> bool: ...  # lists or tuples: the same objects, in order
def store_info(store: _Store) -> Tuple[int, int, Optional[int]]: ...  # (size, missing, first missing or None)
def store_get(store: _Store, index: int) -> Optional[str]: ...
def store_state(store: _Store) -> Tuple[bytes, bytes, bytes]: ...  # (buffer, offsets, flags)
def store_from_state(buffer: bytes, offsets: bytes, flags: bytes) -> _Store: ...
def cdist(queries: _Store, choices: _Store, scorer_args: _ScorerArgs, cutoff: Optional[float], out: ndarray,
          kind: int, run: _Run) -> None: ...
def extract(query: _Store, choices: _Store, scorer_args: _ScorerArgs, cutoff: Optional[float],
            limit: Optional[int], run: _Run) -> List[Tuple[Any, int]]: ...
def top_k(queries: _Store, choices: Optional[_Store], scorer_args: _ScorerArgs, cutoff: Optional[float], k: int,
          indices: ndarray, values: ndarray, run: _Run) -> None: ...
def pairs(queries: _Store, choices: Optional[_Store], scorer_args: _ScorerArgs, cutoff: Optional[float],
          run: _Run) -> Tuple[bytearray, bytearray, bytearray]: ...
def components(n: int, i: ndarray, j: ndarray) -> ndarray: ...
def prune_stats() -> Tuple[int, int, int]: ...  # (checked, skipped on lengths, on sketches) since the last call, then reset
def worker_count() -> int: ...
