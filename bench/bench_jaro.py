"""Jaro and Jaro-Winkler against RapidFuzz and jellyfish.

Scalar rows make one Python call per pair (interpreter overhead included) on real name
pairs and on 1,000-character texts (the multi-word bit-parallel kernel). The batch row
scores one name against 100,000 names, the cross-product row 5,000 x 20,000 names into a
float64 array; both compare with rapidfuzz.process.cdist on all cores (workers=-1).
"""

from __future__ import annotations

import random

import numpy as np

import tarnvel
from harness import Table, load_lines, main_header, optional_import, random_text, timeit_median


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
        out[p] = rng.choice("abcdefghijklmnopqrstuvwxyz ")
    for _ in range(int(len(text) * rate / 2)):
        p = rng.randrange(len(out) - 1)
        out[p], out[p + 1] = out[p + 1], out[p]
    return "".join(out)


def main() -> None:
    main_header("Jaro / Jaro-Winkler")
    rf = optional_import("rapidfuzz")
    jf = optional_import("jellyfish")
    if rf is not None:
        from rapidfuzz import process
        from rapidfuzz.distance import Jaro, JaroWinkler
    table = Table("Jaro family (ratio = peer time / tarnvel time)")

    names = load_lines("names.txt", 20000, seed=1)
    rng = random.Random(2)
    name_pairs = [(rng.choice(names), rng.choice(names)) for _ in range(20000)]
    long_pairs = []
    for i in range(200):
        a = random_text(1000, seed=100 + i)
        long_pairs.append((a, mutate(a, 0.1, seed=500 + i)))

    for label, pairs, repeat in (("name pairs (20,000 calls)", name_pairs, 7),
                                 ("1,000-char texts (200 calls)", long_pairs, 7)):
        ours = timeit_median(pairs_loop(tarnvel.jaro_similarity, pairs), repeat)
        if rf is not None:
            table.add(f"jaro_similarity, {label}", ours, "rapidfuzz Jaro",
                      timeit_median(pairs_loop(Jaro.similarity, pairs), repeat))
        if jf is not None:
            table.add(f"jaro_similarity, {label}", ours, "jellyfish",
                      timeit_median(pairs_loop(jf.jaro_similarity, pairs), repeat))
        ours = timeit_median(pairs_loop(tarnvel.jaro_winkler_similarity, pairs), repeat)
        if rf is not None:
            table.add(f"jaro_winkler_similarity, {label}", ours, "rapidfuzz JaroWinkler",
                      timeit_median(pairs_loop(JaroWinkler.similarity, pairs), repeat))
        if jf is not None:
            table.add(f"jaro_winkler_similarity, {label}", ours, "jellyfish",
                      timeit_median(pairs_loop(jf.jaro_winkler_similarity, pairs), repeat))

    many = load_lines("names.txt", 100000, seed=3)
    query = many[17]
    ours = timeit_median(lambda: tarnvel.jaro_winkler_batch_fn(query, many), 9)
    if rf is not None:
        theirs = timeit_median(lambda: process.cdist([query], many, scorer=JaroWinkler.similarity,
                                                     workers=-1), 9)
        table.add("jaro_winkler_batch_fn, 1 x 100,000 names", ours, "rapidfuzz cdist", theirs)

    list_a = load_lines("names.txt", 5000, seed=4)
    list_b = load_lines("names.txt", 20000, seed=5)
    out = np.empty((len(list_a), len(list_b)), dtype=np.float64)
    ours = timeit_median(lambda: tarnvel.jaro_winkler_cdist_into(list_a, list_b, out), 3)
    if rf is not None:
        theirs = timeit_median(lambda: process.cdist(list_a, list_b, scorer=JaroWinkler.similarity,
                                                     workers=-1, dtype=np.float64), 3)
        table.add("jaro_winkler_cdist_into, 5,000 x 20,000 names", ours,
                  "rapidfuzz cdist (float64)", theirs)
        theirs32 = timeit_median(lambda: process.cdist(list_a, list_b,
                                                       scorer=JaroWinkler.similarity,
                                                       workers=-1), 3)
        table.add("jaro_winkler_cdist_into, 5,000 x 20,000 names", ours,
                  "rapidfuzz cdist (float32)", theirs32)
    table.print()


if __name__ == "__main__":
    main()
