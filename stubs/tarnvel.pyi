# Type stubs for the tarnvel extension module, installed as the stub-only package
# tarnvel-stubs so that both mypy and pyright find them.
#
# The text signatures in the docstrings end in "/", but every parameter is also accepted
# by keyword, so the stubs declare ordinary parameters.
#
# The docstrings here are for editors; the module's own docstrings are unchanged. In the
# costs, n and m are the lengths of the two texts in code points, N and M list lengths.
from typing import Iterable, Optional, Union

import numpy as np
import numpy.typing as npt

__version__: str
__all__ = [
    "levenshtein_distance", "levenshtein_batch", "levenshtein_batch_into", "levenshtein_cdist",
    "levenshtein_cdist_into", "damerau_levenshtein_distance", "damerau_levenshtein_batch",
    "damerau_levenshtein_batch_into", "damerau_levenshtein_cdist", "damerau_levenshtein_cdist_into",
    "damerau_ratio", "needleman_wunsch_score", "needleman_wunsch_batch_fn", "needleman_wunsch_affine",
    "needleman_wunsch_affine_batch", "jaro_similarity", "jaro_winkler_similarity",
    "jaro_winkler_batch_fn", "jaro_winkler_batch_into", "jaro_winkler_cdist",
    "jaro_winkler_cdist_into", "fuzz_ratio", "fuzz_partial_ratio", "fuzz_partial_ratio_alignment",
    "fuzz_token_sort_ratio", "fuzz_token_set_ratio", "fuzz_token_ratio", "fuzz_wratio",
    "fuzz_ratio_batch", "fuzz_extract", "fuzz_extract_one", "fuzz_partial_token_sort_ratio",
    "fuzz_partial_token_set_ratio", "fuzz_partial_token_ratio", "fuzz_qratio", "levenshtein_myers",
    "needleman_wunsch_striped", "jaro_optimized", "set_cpu_only", "set_gpu_threshold",
    "is_gpu_available", "warmup", "gpu_info", "hardware_info", "__version__",
]

def levenshtein_distance(a: str, b: str) -> int:
    """Fewest insertions, deletions and substitutions turning a into b: 0 to max(n, m).
    Bit-parallel, O(n * m / 64)."""

def levenshtein_batch(query: str, candidates: Iterable[str]) -> list[int]:
    """levenshtein_distance(query, c) for each candidate, in order. On the worker pool,
    several candidates per SIMD lane group."""

def levenshtein_batch_into(query: str, candidates: Iterable[str], out: npt.NDArray[np.uint32]) -> None:
    """levenshtein_batch written into out (uint32, one element per candidate, C-contiguous);
    no Python list is built."""

def levenshtein_cdist(list_a: Iterable[str], list_b: Iterable[str]) -> list[list[int]]:
    """levenshtein_distance of every pair: one row per item of list_a. N * M distances on the
    pool; the N * M Python ints usually cost more than computing them."""

def levenshtein_cdist_into(list_a: Iterable[str], list_b: Iterable[str], out: npt.NDArray[np.uint32]) -> None:
    """levenshtein_cdist written row-major into out (uint32, shape (N, M) or N * M elements)."""

def damerau_levenshtein_distance(a: str, b: str) -> int:
    """Levenshtein distance that also counts a swap of adjacent characters as one edit
    (unrestricted: swapped characters may be edited again): 0 to max(n, m). O(n * m)."""

def damerau_levenshtein_batch(query: str, candidates: Iterable[str]) -> list[int]:
    """damerau_levenshtein_distance(query, c) for each candidate, in order, on the pool."""

def damerau_levenshtein_batch_into(query: str, candidates: Iterable[str], out: npt.NDArray[np.uint32]) -> None:
    """damerau_levenshtein_batch written into out (uint32, one element per candidate)."""

def damerau_levenshtein_cdist(list_a: Iterable[str], list_b: Iterable[str]) -> list[list[int]]:
    """damerau_levenshtein_distance of every pair, one row per item of list_a; N * M O(n * m)
    computations on the pool."""

def damerau_levenshtein_cdist_into(list_a: Iterable[str], list_b: Iterable[str], out: npt.NDArray[np.uint32]) -> None:
    """damerau_levenshtein_cdist written row-major into out (uint32, N * M elements)."""

def damerau_ratio(a: str, b: str) -> float:
    """100 * (n + m - d) / (n + m) with d the Damerau-Levenshtein distance: 0.0 to 100.0
    (100.0 for two empty texts). O(n * m)."""

def levenshtein_myers(a: str, b: str) -> int:
    """Same value as levenshtein_distance (another order of shortcut tests). O(n * m / 64)."""

def jaro_similarity(a: str, b: str) -> float:
    """Jaro similarity: shared characters within a window of max(n, m) / 2 - 1 positions and
    their transpositions, 0.0 to 1.0. Bit-parallel, O(n * m / 64)."""

def jaro_optimized(a: str, b: str) -> float:
    """Same value as jaro_similarity; ASCII pairs always take the position scan, O(n * m)."""

def jaro_winkler_similarity(a: str, b: str, p: float = 0.1) -> float:
    """Jaro similarity raised for a common prefix of up to 4 characters by p per character
    (0 <= p <= 0.25, else ValueError) when it exceeds 0.7: 0.0 to 1.0. Cost as jaro_similarity."""

def jaro_winkler_batch_fn(query: str, candidates: Iterable[str], p: float = 0.1) -> list[float]:
    """jaro_winkler_similarity(query, c, p) for each candidate, in order, on the pool."""

def jaro_winkler_batch_into(query: str, candidates: Iterable[str], out: npt.NDArray[np.float64], p: float = 0.1) -> None:
    """jaro_winkler_batch_fn written into out (float64, one element per candidate)."""

def jaro_winkler_cdist(list_a: Iterable[str], list_b: Iterable[str], p: float = 0.1) -> list[list[float]]:
    """jaro_winkler_similarity of every pair, one row per item of list_a ([] when either list
    is empty); N * M similarities on the pool."""

def jaro_winkler_cdist_into(list_a: Iterable[str], list_b: Iterable[str], out: npt.NDArray[np.float64], p: float = 0.1) -> None:
    """jaro_winkler_cdist written row-major into out (float64, N * M elements)."""

def needleman_wunsch_score(a: str, b: str, match_score: int, mismatch_score: int, gap_penalty: int) -> int:
    """Best global alignment score with a per-character gap score (costs are negative
    numbers, added as given; 64-bit saturating). O(n * m)."""

def needleman_wunsch_batch_fn(query: str, candidates: Iterable[str], match_score: int, mismatch_score: int, gap_penalty: int) -> list[int]:
    """needleman_wunsch_score(query, c, ...) for each candidate, in order, on the pool."""

def needleman_wunsch_affine(a: str, b: str, match_score: int, mismatch_score: int, gap_open: int, gap_extend: int) -> int:
    """Best global alignment score where a gap of k characters scores gap_open + k * gap_extend
    (64-bit saturating). O(n * m)."""

def needleman_wunsch_affine_batch(query: str, candidates: Iterable[str], match_score: int, mismatch_score: int, gap_open: int, gap_extend: int) -> list[int]:
    """needleman_wunsch_affine(query, c, ...) for each candidate, in order, on the pool."""

def needleman_wunsch_striped(a: str, b: str, match_score: int, mismatch_score: int, gap_penalty: int) -> int:
    """Same value as needleman_wunsch_score, eight columns per step for ASCII texts. O(n * m)."""

def fuzz_ratio(a: str, b: str, score_cutoff: float = 0.0) -> float:
    """Indel similarity 100 * (1 - indel distance / (n + m)): 0.0 to 100.0, 0.0 below
    score_cutoff. Bit-parallel, O(n * m / 64)."""

def fuzz_qratio(a: str, b: str, score_cutoff: float = 0.0) -> float:
    """fuzz_ratio, except 0.0 when either text is empty. O(n * m / 64)."""

def fuzz_partial_ratio(a: str, b: str, score_cutoff: float = 0.0) -> float:
    """Best fuzz_ratio of the shorter text against an equally long window of the longer one:
    0.0 to 100.0. At most one ratio per window position, usually far fewer."""

def fuzz_partial_ratio_alignment(a: str, b: str, score_cutoff: float = 0.0) -> tuple[float, int, int, int, int]:
    """fuzz_partial_ratio with where it was found: (score, src_start, src_end, dest_start,
    dest_end), half-open code point ranges of a and b. Cost as fuzz_partial_ratio."""

def fuzz_token_sort_ratio(a: str, b: str, score_cutoff: float = 0.0) -> float:
    """fuzz_ratio of the texts with their whitespace-separated words sorted: word order stops
    counting. 0.0 to 100.0; a sort of the words plus one fuzz_ratio."""

def fuzz_token_set_ratio(a: str, b: str, score_cutoff: float = 0.0) -> float:
    """Compares the shared words with each side's extra words (100.0 when one side's words
    are a subset of the other's): 0.0 to 100.0; a few fuzz_ratio calls."""

def fuzz_token_ratio(a: str, b: str, score_cutoff: float = 0.0) -> float:
    """max(fuzz_token_sort_ratio, fuzz_token_set_ratio), computed in one pass: 0.0 to 100.0."""

def fuzz_partial_token_sort_ratio(a: str, b: str, score_cutoff: float = 0.0) -> float:
    """fuzz_partial_ratio of the texts with their words sorted: 0.0 to 100.0."""

def fuzz_partial_token_set_ratio(a: str, b: str, score_cutoff: float = 0.0) -> float:
    """fuzz_partial_ratio of the words each text has alone, 100.0 when a word is shared:
    0.0 to 100.0."""

def fuzz_partial_token_ratio(a: str, b: str, score_cutoff: float = 0.0) -> float:
    """max(fuzz_partial_token_sort_ratio, fuzz_partial_token_set_ratio) in one pass:
    0.0 to 100.0."""

def fuzz_wratio(a: str, b: str, score_cutoff: float = 0.0) -> float:
    """Weighted best of fuzz_ratio and token (similar lengths) or partial (different lengths)
    scores, the latter scaled by 0.95, 0.9 or 0.6: 0.0 to 100.0; several times fuzz_ratio."""

def fuzz_ratio_batch(query: str, candidates: Iterable[str]) -> list[float]:
    """fuzz_ratio(query, c) for each candidate, in order, on the pool."""

def fuzz_extract(query: str, choices: Iterable[str], score_cutoff: float = 0.0, limit: int = 5) -> list[tuple[str, float, int]]:
    """The limit best (choice, fuzz_ratio score, index) tuples scoring at least score_cutoff,
    best first, ties in input order. Texts compared exactly as given; one fuzz_ratio per choice."""

def fuzz_extract_one(query: str, choices: Iterable[str], score_cutoff: float = 0.0) -> Optional[tuple[str, float, int]]:
    """The best (choice, fuzz_ratio score, index), the first on ties, or None when no choice
    scores at least score_cutoff. One fuzz_ratio per choice."""

def set_cpu_only(cpu_only: Union[bool, np.bool_]) -> None:
    """Accepted for compatibility and ignored: every function always runs on the CPU."""

def set_gpu_threshold(threshold: Optional[int] = None) -> None:
    """Accepted for compatibility (an unsigned 64-bit integer or None) and ignored."""

def is_gpu_available() -> bool:
    """Always False: this build has no GPU code."""

def warmup() -> tuple[bool, str]:
    """(False, "Built without GPU support (cpu-only)"); starts nothing."""

def gpu_info() -> str:
    """Always "CPU-only mode (built without gpu feature)"."""

def hardware_info() -> str:
    """Always "CPU-only mode (built without gpu feature)", the same as gpu_info()."""
