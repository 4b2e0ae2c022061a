"""Jaro and Jaro-Winkler against RapidFuzz and jellyfish.

Scalar rows make one Python call per pair (interpreter overhead included) on real name
pairs and on 1,000-character texts (the multi-word bit-parallel kernel). The batch row
scores one name against 100,000 names, the cross-product row 5,000 x 20,000 names into a
float64 array; both compare with rapidfuzz.process.cdist on all cores (workers=-1).
"""

from __future__ import annotations

import random
import statistics
import time

import numpy as np

import tarnvel
from harness import Table, load_lines, main_header, optional_import, random_text


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


def interleaved(fns: dict, repeat: int) -> dict:
    """Median seconds per run of each fn, timed in alternating rounds so that a change in
    machine load affects every contender alike."""
    for fn in fns.values():
        fn()  # warm-up
    times = {name: [] for name in fns}
    for _ in range(repeat):
        for name, fn in fns.items():
            t0 = time.perf_counter()
            fn()
            times[name].append(time.perf_counter() - t0)
    return {name: statistics.median(v) for name, v in times.items()}


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

    for label, pairs, repeat in (("name pairs (20,000 calls)", name_pairs, 15),
                                 ("1,000-char texts (200 calls)", long_pairs, 15)):
        for ours_name, ours_fn, rf_name, rf_fn, jf_fn in (
                ("jaro_similarity", tarnvel.jaro_similarity, "rapidfuzz Jaro",
                 rf and Jaro.similarity, jf and jf.jaro_similarity),
                ("jaro_winkler_similarity", tarnvel.jaro_winkler_similarity,
                 "rapidfuzz JaroWinkler", rf and JaroWinkler.similarity,
                 jf and jf.jaro_winkler_similarity)):
            fns = {"ours": pairs_loop(ours_fn, pairs)}
            if rf_fn:
                fns[rf_name] = pairs_loop(rf_fn, pairs)
            if jf_fn:
                fns["jellyfish"] = pairs_loop(jf_fn, pairs)
            res = interleaved(fns, repeat)
            for peer, t in res.items():
                if peer != "ours":
                    table.add(f"{ours_name}, {label}", res["ours"], peer, t)

    many = load_lines("names.txt", 100000, seed=3)
    query = many[17]
    if rf is not None:
        res = interleaved({
            "ours": lambda: tarnvel.jaro_winkler_batch_fn(query, many),
            "rf": lambda: process.cdist([query], many, scorer=JaroWinkler.similarity, workers=-1),
        }, 11)
        table.add("jaro_winkler_batch_fn, 1 x 100,000 names", res["ours"], "rapidfuzz cdist",
                  res["rf"])

    list_a = load_lines("names.txt", 5000, seed=4)
    list_b = load_lines("names.txt", 20000, seed=5)
    out = np.empty((len(list_a), len(list_b)), dtype=np.float64)
    if rf is not None:
        res = interleaved({
            "ours": lambda: tarnvel.jaro_winkler_cdist_into(list_a, list_b, out),
            "rf64": lambda: process.cdist(list_a, list_b, scorer=JaroWinkler.similarity,
                                          workers=-1, dtype=np.float64),
            "rf32": lambda: process.cdist(list_a, list_b, scorer=JaroWinkler.similarity,
                                          workers=-1),
        }, 3)
        table.add("jaro_winkler_cdist_into, 5,000 x 20,000 names", res["ours"],
                  "rapidfuzz cdist (float64)", res["rf64"])
        table.add("jaro_winkler_cdist_into, 5,000 x 20,000 names", res["ours"],
                  "rapidfuzz cdist (float32)", res["rf32"])
    table.print()


if __name__ == "__main__":
    main()
