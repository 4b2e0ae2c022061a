"""Levenshtein and Damerau-Levenshtein against RapidFuzz, polyleven, edlib and jellyfish.

Scalar rows make one Python call per pair (interpreter overhead included); the long
pairs measure the bit-parallel kernels; batch and cross-product rows compare with
rapidfuzz.process.cdist on all cores (workers=-1). The last row is the peak memory of
one Damerau-Levenshtein call on two 20,000-character texts, measured in a fresh process.
"""

from __future__ import annotations

import random
import sys

import numpy as np

import tarnvel
from harness import (Table, load_lines, main_header, optional_import, random_text,
                     run_in_subprocess, timeit_median)


def pairs_loop(fn, pairs):
    def run():
        for a, b in pairs:
            fn(a, b)
    return run


def mutate(text: str, rate: float, seed: int) -> str:
    rng = random.Random(seed)
    out = list(text)
    for _ in range(int(len(text) * rate)):
        p = rng.randrange(len(out))
        op = rng.randrange(3)
        if op == 0:
            out[p] = rng.choice("abcdefghij")
        elif op == 1:
            del out[p]
        else:
            out.insert(p, rng.choice("abcdefghij"))
    return "".join(out)


def fastest(table: Table, workload: str, ours: float, peers: dict[str, float]) -> None:
    for name, t in peers.items():
        table.add(workload, ours, name, t)


# Peak resident memory (VmHWM, kB) of a fresh process: ru_maxrss would carry the parent's
# peak across exec.
PEAK_CODE = r"""
import random, tarnvel
def hwm():
    with open("/proc/self/status") as f:
        return next(int(l.split()[1]) for l in f if l.startswith("VmHWM"))
rng = random.Random(7)
a = "".join(rng.choice("abcdefghijklmnopqrstuvwxyz ") for _ in range(20000))
b = "".join(rng.choice("abcdefghijklmnopqrstuvwxyz ") for _ in range(20000))
base = hwm()
d = tarnvel.damerau_levenshtein_distance(a, b)
print(base, hwm(), d)
"""


def main() -> None:
    main_header("Levenshtein / Damerau-Levenshtein")
    rf = optional_import("rapidfuzz")
    poly = optional_import("polyleven")
    edlib = optional_import("edlib")
    jf = optional_import("jellyfish")
    if rf is None:
        return
    from rapidfuzz.distance import DamerauLevenshtein, Levenshtein
    from rapidfuzz.process import cdist

    base, peak, d = run_in_subprocess(PEAK_CODE, {}).split()
    peak_line = (f"damerau_levenshtein_distance on two 20,000-char texts: distance {d}, peak RSS "
                 f"of the process {int(peak) / 1024:.1f} MB, of which the call added "
                 f"{(int(peak) - int(base)) / 1024:.1f} MB")
    print(peak_line, file=sys.stderr)

    table = Table("Edit distances (ratio = peer time / tarnvel time)")
    words = load_lines("words_en.txt", 20000, seed=1)
    rng = random.Random(2)
    short = [(rng.choice(words), rng.choice(words)) for _ in range(20000)]
    n = len(short)

    def per_call(fn, pairs):
        return timeit_median(pairs_loop(fn, pairs), repeat=7) / len(pairs)

    ours = per_call(tarnvel.levenshtein_distance, short)
    peers = {"rapidfuzz": per_call(Levenshtein.distance, short)}
    if poly:
        peers["polyleven"] = per_call(poly.levenshtein, short)
    if edlib:
        peers["edlib"] = per_call(lambda a, b: edlib.align(a, b)["editDistance"], short)
    fastest(table, "levenshtein_distance, word pairs (per call)", ours, peers)

    for length in (1000, 10000):
        reps = 50 if length == 1000 else 5
        for kind, seed_b in (("unrelated", None), ("similar, 5% edits", 1)):
            a = random_text(length, seed=10 + length)
            b = random_text(length, seed=20 + length) if seed_b is None else mutate(a, 0.05, 3)
            ours = timeit_median(lambda: tarnvel.levenshtein_distance(a, b), repeat=5, number=reps)
            peers = {"rapidfuzz": timeit_median(lambda: Levenshtein.distance(a, b), repeat=5, number=reps)}
            if poly:
                peers["polyleven"] = timeit_median(lambda: poly.levenshtein(a, b), repeat=5, number=reps)
            if edlib:
                peers["edlib"] = timeit_median(lambda: edlib.align(a, b)["editDistance"], repeat=5,
                                               number=reps)
            fastest(table, f"levenshtein_distance, {length:,}-char pair, {kind}", ours, peers)

    all_words = load_lines("words_en.txt", None)
    query = "restaurateurs"
    ours = timeit_median(lambda: tarnvel.levenshtein_batch(query, all_words), repeat=7)
    theirs = timeit_median(lambda: cdist([query], all_words, scorer=Levenshtein.distance,
                                         dtype=np.uint32, workers=-1), repeat=7)
    table.add(f"levenshtein_batch, 1 query x {len(all_words):,} words", ours, "rapidfuzz cdist", theirs)
    out1 = np.empty(len(all_words), dtype=np.uint32)
    ours = timeit_median(lambda: tarnvel.levenshtein_batch_into(query, all_words, out1), repeat=7)
    table.add(f"levenshtein_batch_into, 1 query x {len(all_words):,} words", ours, "rapidfuzz cdist",
              theirs)

    names_a = load_lines("names.txt", 5000, seed=4)
    names_b = load_lines("names.txt", 20000, seed=5)
    out = np.empty((len(names_a), len(names_b)), dtype=np.uint32)
    ours = timeit_median(lambda: tarnvel.levenshtein_cdist_into(names_a, names_b, out), repeat=3)
    theirs = timeit_median(lambda: cdist(names_a, names_b, scorer=Levenshtein.distance,
                                         dtype=np.uint32, workers=-1), repeat=3)
    table.add("levenshtein_cdist_into, 5,000 x 20,000 names", ours, "rapidfuzz cdist", theirs)

    ours = per_call(tarnvel.damerau_levenshtein_distance, short)
    peers = {"rapidfuzz": per_call(DamerauLevenshtein.distance, short)}
    if jf:
        peers["jellyfish"] = per_call(jf.damerau_levenshtein_distance, short)
    fastest(table, "damerau_levenshtein_distance, word pairs (per call)", ours, peers)

    for length in (1000, 5000):
        a = random_text(length, seed=50 + length)
        b = random_text(length, seed=60 + length)
        reps = 5 if length == 1000 else 1
        ours = timeit_median(lambda: tarnvel.damerau_levenshtein_distance(a, b), repeat=5, number=reps)
        peers = {"rapidfuzz": timeit_median(lambda: DamerauLevenshtein.distance(a, b), repeat=5,
                                            number=reps)}
        if jf:
            peers["jellyfish"] = timeit_median(lambda: jf.damerau_levenshtein_distance(a, b),
                                               repeat=3, number=reps)
        fastest(table, f"damerau_levenshtein_distance, {length:,}-char pair", ours, peers)

    dq = "restaurateur"
    cands = load_lines("words_en.txt", 100000, seed=6)
    ours = timeit_median(lambda: tarnvel.damerau_levenshtein_batch(dq, cands), repeat=5)
    theirs = timeit_median(lambda: cdist([dq], cands, scorer=DamerauLevenshtein.distance,
                                         dtype=np.uint32, workers=-1), repeat=5)
    table.add("damerau_levenshtein_batch, 1 query x 100,000 words", ours, "rapidfuzz cdist", theirs)
    if jf:
        theirs = timeit_median(lambda: [jf.damerau_levenshtein_distance(dq, c) for c in cands], repeat=3)
        table.add("damerau_levenshtein_batch, 1 query x 100,000 words", ours, "jellyfish loop", theirs)

    table.print()
    print(peak_line)


if __name__ == "__main__":
    sys.exit(main())
