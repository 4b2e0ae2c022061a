"""How much of the work the exact bounds of top_k and pairs skip, per list and scorer.

For each list, the first --queries strings are matched against --choices strings of the
same list (top_k with k=5, and pairs at a typical cutoff). It reports the share of pairs
whose bound was tried and skipped on the lengths alone, then on the symbol-count sketches,
and the time with and without pruning. The result is the same either way (the suite
checks it); this measures only the work saved.

    python bench/bench_prune.py [--queries 300] [--choices 20000]
"""
from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import load_lines  # noqa: E402

import tarnvel_match as tm  # noqa: E402
import tarnvel_match._matching as matching  # noqa: E402
import tarnvel_match._native as native  # noqa: E402

# Scorers whose many-query shapes go through the per-pair scan (where bounds apply).
SCORERS = {
    "damerau_levenshtein": 3,
    "damerau_ratio": 80,
    "levenshtein": 3,
    "ratio": 80,
    "jaro_winkler": 0.9,
}
LISTS = ["cities.txt", "names.txt", "companies.txt"]


def timed(fn):
    t = time.perf_counter()
    fn()
    return time.perf_counter() - t


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--queries", type=int, default=300)
    ap.add_argument("--choices", type=int, default=20000)
    args = ap.parse_args()
    print("| list | scorer | shape | tried | skipped on lengths | skipped on sketches | time pruned | time unpruned |")
    print("|---|---|---|---:|---:|---:|---:|---:|")
    for name in LISTS:
        texts = load_lines(name, args.choices, seed=1)
        queries = texts[: args.queries]
        choices = tm.Choices(texts, processor=tm.default_process)
        qs = [tm.default_process(q) for q in queries]
        for scorer, cut in SCORERS.items():
            shapes = {
                "top_k": lambda: choices.top_k(qs, k=5, scorer=scorer),
                "pairs": lambda: tm.pairs(qs, choices, scorer=scorer, score_cutoff=cut),
                # the row path: one query at a time, as extract does
                "extract": lambda: [tm.extract(q, choices, scorer=scorer, limit=5) for q in qs[:30]],
            }
            for shape, fn in shapes.items():
                matching._PRUNE = True
                native.prune_stats()
                tp = timed(fn)
                checked, by_len, by_sketch = native.prune_stats()
                matching._PRUNE = False
                tu = timed(fn)
                matching._PRUNE = True
                share = lambda x: f"{100 * x / checked:.1f}%" if checked else "-"
                print(f"| {name.split('.')[0]} | {scorer} | {shape} | {checked:,} | {share(by_len)} | "
                      f"{share(by_sketch)} | {tp:.3f} s | {tu:.3f} s |", flush=True)


if __name__ == "__main__":
    main()
