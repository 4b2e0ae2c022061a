"""fuzz_extract, fuzz_extract_one and fuzz_ratio_batch against RapidFuzz's process module,
plus the worker scaling of fuzz_ratio_batch.

Every workload uses the same query set and choice list for both libraries; the time is
per query (median of the rounds). RapidFuzz uses scorer=fuzz.ratio and no processor.
"""

from __future__ import annotations

import json
import sys

import tarnvel
from harness import (Table, load_lines, main_header, optional_import, run_in_subprocess,
                     timeit_median)

SIZES = (1_000, 100_000)
DATASETS = (("cities", "cities.txt"), ("names", "names.txt"))


def per_query(fn, queries):
    def run():
        for q in queries:
            fn(q)
    return run


def compare(table, rf, label, choices, queries):
    from rapidfuzz import fuzz, process
    nq = len(queries)
    repeat = 5 if len(choices) >= 100_000 else 9

    def add(name, ours, theirs, peer):
        t_ours = timeit_median(per_query(ours, queries), repeat=repeat) / nq
        t_rf = timeit_median(per_query(theirs, queries), repeat=repeat) / nq
        table.add(f"{name}, {label}", t_ours, peer, t_rf)

    add("fuzz_extract limit 5", lambda q: tarnvel.fuzz_extract(q, choices, 0.0, 5),
        lambda q: process.extract(q, choices, scorer=fuzz.ratio, limit=5), "rapidfuzz extract")
    add("fuzz_extract_one", lambda q: tarnvel.fuzz_extract_one(q, choices),
        lambda q: process.extractOne(q, choices, scorer=fuzz.ratio), "rapidfuzz extractOne")
    add("fuzz_ratio_batch", lambda q: tarnvel.fuzz_ratio_batch(q, choices),
        lambda q: process.cdist([q], choices, scorer=fuzz.ratio, workers=-1),
        "rapidfuzz cdist workers=-1")


SCALING_CODE = """
import json, sys
sys.path.insert(0, {here!r})
import tarnvel
from harness import load_lines, timeit_median
choices = load_lines({file!r}, {n}, seed=11)
queries = load_lines({file!r}, 8, seed=12)
def run():
    for q in queries:
        tarnvel.fuzz_ratio_batch(q, choices)
print(json.dumps(timeit_median(run, repeat=7) / len(queries)))
"""


def scaling(table, n):
    from pathlib import Path
    here = str(Path(__file__).resolve().parent)
    for label, file in DATASETS:
        code = SCALING_CODE.format(here=here, file=file, n=n)
        t1 = json.loads(run_in_subprocess(code, {"TARNVEL_NUM_THREADS": "1"}))
        t2 = json.loads(run_in_subprocess(code, {"TARNVEL_NUM_THREADS": "2"}))
        table.add(f"fuzz_ratio_batch, {label}, {n:,} choices: 2 workers vs 1", t2,
                  "tarnvel, 1 worker", t1)


def main() -> None:
    main_header("Extraction: fuzz_extract / fuzz_extract_one / fuzz_ratio_batch")
    rf = optional_import("rapidfuzz")
    if rf is not None:
        table = Table("Extraction against one choice list (time per query)")
        for label, file in DATASETS:
            for n in SIZES:
                choices = load_lines(file, n, seed=11)
                queries = load_lines(file, 20 if n < 100_000 else 6, seed=12)
                compare(table, rf, f"{label}, {n:,} choices", choices, queries)
        table.print()
    scale = Table("fuzz_ratio_batch worker scaling (TARNVEL_NUM_THREADS, time per query)")
    scaling(scale, 150_000)
    scale.print()


if __name__ == "__main__":
    sys.exit(main())
