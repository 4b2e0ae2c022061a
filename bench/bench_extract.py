"""fuzz_extract, fuzz_extract_one and fuzz_ratio_batch against RapidFuzz's process module,
plus the worker scaling of fuzz_ratio_batch.

Every workload uses the same query set and choice list for both libraries; the time is
per query, best of rounds that alternate between the two libraries. RapidFuzz uses
scorer=fuzz.ratio and no processor.
"""

from __future__ import annotations

import json
import random
import sys

import tarnvel
from harness import (Table, load_lines, main_header, optional_import, run_in_subprocess,
                     timeit_median)

SIZES = (1_000, 100_000)
DATASETS = (("cities", "cities.txt"), ("names", "names.txt"))


def typo_queries(file, count, seed):
    """Queries as users type them: list entries with one character changed, so that a
    perfect match (which would end extract_one's scan early) is not the common case."""
    rng = random.Random(seed)
    out = []
    for q in load_lines(file, count, seed=seed):
        i = rng.randrange(len(q))
        op = rng.randrange(3)
        if op == 0:
            q = q[:i] + q[i + 1:]
        elif op == 1:
            q = q[:i] + rng.choice("aeiourstn") + q[i + 1:]
        else:
            q = q[:i] + rng.choice("aeiourstn") + q[i:]
        out.append(q)
    return out


def per_query(fn, queries):
    def run():
        for q in queries:
            fn(q)
    return run


def paired(ours, theirs, rounds):
    """Best round of each, rounds alternating between the two, so that a busy machine
    slows both sides alike."""
    t_ours, t_theirs = [], []
    for _ in range(rounds):
        t_ours.append(timeit_median(ours, repeat=1))
        t_theirs.append(timeit_median(theirs, repeat=1))
    return min(t_ours), min(t_theirs)


def compare(table, label, choices, queries):
    from rapidfuzz import fuzz, process
    nq = len(queries)
    rounds = 5 if len(choices) >= 100_000 else 9

    def add(name, ours, theirs, peer):
        t_ours, t_rf = paired(per_query(ours, queries), per_query(theirs, queries), rounds)
        table.add(f"{name}, {label}", t_ours / nq, peer, t_rf / nq)

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
from harness import load_fasta, load_lines, timeit_median
if {file!r}.endswith(".fa"):
    seqs = load_fasta({file!r})
    choices, queries = seqs, [s for s in seqs if len(s) >= 250][:3]
else:
    choices = load_lines({file!r}, {n}, seed=11)
    queries = [q * {query_mult} for q in load_lines({file!r}, 6, seed=12)]
def run():
    for q in queries:
        tarnvel.fuzz_ratio_batch(q, choices)
calls = [timeit_median(run, repeat=1) / len(queries) for _ in range(7)]
try:  # present when built with -Ccmake.define.TARNVEL_TESTING=ON
    import _tarnvel_testing as T
    section = min(sum(T.ratio_batch_section_seconds(q, choices, 3) for q in queries)
                  / len(queries) for _ in range(3))
except ImportError:
    section = None
print(json.dumps([len(choices), section] + calls))
"""

# (label, file, choices, query repeated k times). Short queries against short choices
# cost little per pair, so the serial steps around the pool (collecting the list,
# building one float object per choice) bound the speed-up; long texts (DNA reads of
# 75 to 300 bases against a read of 250+) make the scoring dominate.
SCALING = (("cities", "cities.txt", 150_000, 1), ("names", "names.txt", 100_000, 1),
           ("cities, query repeated 8x", "cities.txt", 150_000, 8),
           ("DNA reads", "dna.fa", 0, 1))


def scaling(table):
    from pathlib import Path
    here = str(Path(__file__).resolve().parent)
    for label, file, n, mult in SCALING:
        code = SCALING_CODE.format(here=here, file=file, n=n, query_mult=mult)
        t1, t2, s1, s2 = [], [], [], []
        count = 0
        for _ in range(5):  # alternate the two settings against load drift
            r1 = json.loads(run_in_subprocess(code, {"TARNVEL_NUM_THREADS": "1"}))
            r2 = json.loads(run_in_subprocess(code, {"TARNVEL_NUM_THREADS": "2"}))
            count = r1[0]
            if r1[1] is not None:
                s1.append(r1[1])
                s2.append(r2[1])
            t1 += r1[2:]
            t2 += r2[2:]
        table.add(f"fuzz_ratio_batch, {label}, {count:,} choices: 2 workers vs 1", min(t2),
                  "tarnvel, 1 worker", min(t1))
        if s1:
            table.add("  its lock-free section only (query preparation and scoring)",
                      min(s2), "tarnvel, 1 worker", min(s1))


def main() -> None:
    main_header("Extraction: fuzz_extract / fuzz_extract_one / fuzz_ratio_batch")
    rf = optional_import("rapidfuzz")
    if rf is not None:
        table = Table("Extraction against one choice list (time per query, best of "
                      "alternating rounds)")
        for label, file in DATASETS:
            for n in SIZES:
                choices = load_lines(file, n, seed=11)
                queries = typo_queries(file, 20 if n < 100_000 else 6, seed=12)
                compare(table, f"{label}, {n:,} choices", choices, queries)
        table.print()
    scale = Table("fuzz_ratio_batch worker scaling (TARNVEL_NUM_THREADS, time per query)")
    scaling(scale)
    scale.print()


if __name__ == "__main__":
    sys.exit(main())
