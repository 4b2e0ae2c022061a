"""Partial, token and weighted ratios against RapidFuzz, one Python call per pair.

Name pairs (mixed scripts) measure per-call cost; a 20-character needle in 1,000- and
10,000-character haystacks measures the window search and the token machinery on long
texts.
"""

from __future__ import annotations

import random

import tarnvel
import time

from harness import Table, load_lines, main_header, optional_import, random_text

SCORERS = [
    ("fuzz_partial_ratio", "partial_ratio"),
    ("fuzz_partial_ratio_alignment", "partial_ratio_alignment"),
    ("fuzz_token_sort_ratio", "token_sort_ratio"),
    ("fuzz_token_set_ratio", "token_set_ratio"),
    ("fuzz_token_ratio", "token_ratio"),
    ("fuzz_partial_token_sort_ratio", "partial_token_sort_ratio"),
    ("fuzz_partial_token_set_ratio", "partial_token_set_ratio"),
    ("fuzz_partial_token_ratio", "partial_token_ratio"),
    ("fuzz_wratio", "WRatio"),
]


def pairs_loop(fn, pairs):
    def run():
        for a, b in pairs:
            fn(a, b)
    return run


def paired_best(ours, theirs, repeat=25, number=1):
    """Seconds per round of each, the fastest of `repeat` rounds, rounds alternating
    between the two so that a change in machine load hits both sides alike (on a busy
    machine the fastest round is the least disturbed one)."""
    ours()
    theirs()
    t_ours, t_theirs = [], []
    for _ in range(repeat):
        for fn, times in ((ours, t_ours), (theirs, t_theirs)):
            t0 = time.perf_counter()
            for _ in range(number):
                fn()
            times.append((time.perf_counter() - t0) / number)
    return min(t_ours), min(t_theirs)


def main() -> None:
    main_header("Partial, token and weighted ratios")
    rf = optional_import("rapidfuzz")
    if rf is None:
        return
    from rapidfuzz import fuzz

    table = Table("Partial, token and weighted ratios, one call per pair")
    rng = random.Random(5)
    names = load_lines("names.txt", 2000, seed=6)
    name_pairs = [(rng.choice(names), rng.choice(names)) for _ in range(2000)]
    n = len(name_pairs)
    for ours_name, rf_name in SCORERS:
        ours, theirs = getattr(tarnvel, ours_name), getattr(fuzz, rf_name)
        t_ours, t_rf = paired_best(pairs_loop(ours, name_pairs), pairs_loop(theirs, name_pairs))
        t_ours, t_rf = t_ours / n, t_rf / n
        table.add(f"{ours_name}, name pairs (per call)", t_ours, "rapidfuzz", t_rf)

    alphabet = "abcdefghijklmnopqrstuvwxyz     "
    for length in (1000, 10000):
        hay = random_text(length, seed=50 + length, alphabet=alphabet)
        needles = [random_text(20, seed=60 + length + k, alphabet=alphabet) for k in range(20)]
        pairs = [(nd, hay) for nd in needles]
        reps = 5 if length == 1000 else 1
        for ours_name, rf_name in SCORERS:
            ours, theirs = getattr(tarnvel, ours_name), getattr(fuzz, rf_name)
            t_ours, t_rf = paired_best(pairs_loop(ours, pairs), pairs_loop(theirs, pairs),
                                         number=reps)
            t_ours, t_rf = t_ours / len(pairs), t_rf / len(pairs)
            table.add(f"{ours_name}, 20-char needle in {length:,} chars", t_ours, "rapidfuzz", t_rf)
    table.print()


if __name__ == "__main__":
    main()
