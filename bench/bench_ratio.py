"""fuzz_ratio and fuzz_qratio against RapidFuzz, one Python call per pair.

Short pairs measure per-call cost (interpreter overhead included); long pairs measure
the bit-parallel indel kernel.
"""

from __future__ import annotations

import random

import tarnvel
from harness import Table, load_lines, main_header, optional_import, random_text, timeit_median


def pairs_loop(fn, pairs):
    def run():
        for a, b in pairs:
            fn(a, b)
    return run


def main() -> None:
    main_header("fuzz_ratio / fuzz_qratio")
    rf = optional_import("rapidfuzz")
    if rf is None:
        return
    from rapidfuzz import fuzz

    table = Table("Indel ratio, one call per pair")
    words = load_lines("words_en.txt", 20000, seed=1)
    rng = random.Random(2)
    short = [(rng.choice(words), rng.choice(words)) for _ in range(20000)]
    n = len(short)
    for name, ours, theirs in [("fuzz_ratio", tarnvel.fuzz_ratio, fuzz.ratio),
                               ("fuzz_qratio", tarnvel.fuzz_qratio, fuzz.QRatio)]:
        t_ours = timeit_median(pairs_loop(ours, short), repeat=7) / n
        t_rf = timeit_median(pairs_loop(theirs, short), repeat=7) / n
        table.add(f"{name}, short word pairs (per call)", t_ours, "rapidfuzz", t_rf)

    names = load_lines("names.txt", 20000, seed=3)
    name_pairs = [(rng.choice(names), rng.choice(names)) for _ in range(20000)]
    t_ours = timeit_median(pairs_loop(tarnvel.fuzz_ratio, name_pairs), repeat=7) / n
    t_rf = timeit_median(pairs_loop(fuzz.ratio, name_pairs), repeat=7) / n
    table.add("fuzz_ratio, name pairs, mixed scripts (per call)", t_ours, "rapidfuzz", t_rf)

    for length in (1000, 10000):
        a = random_text(length, seed=10 + length)
        b = random_text(length, seed=20 + length)
        reps = 200 if length == 1000 else 20
        t_ours = timeit_median(lambda: tarnvel.fuzz_ratio(a, b), repeat=7, number=reps)
        t_rf = timeit_median(lambda: fuzz.ratio(a, b), repeat=7, number=reps)
        table.add(f"fuzz_ratio, {length:,}-char ASCII pair", t_ours, "rapidfuzz", t_rf)
        ua = random_text(length, seed=30 + length, alphabet="abcdéèêëßøæ日本語 ")
        ub = random_text(length, seed=40 + length, alphabet="abcdéèêëßøæ日本語 ")
        t_ours = timeit_median(lambda: tarnvel.fuzz_ratio(ua, ub), repeat=7, number=reps)
        t_rf = timeit_median(lambda: fuzz.ratio(ua, ub), repeat=7, number=reps)
        table.add(f"fuzz_ratio, {length:,}-char non-ASCII pair", t_ours, "rapidfuzz", t_rf)
        t_ours = timeit_median(lambda: tarnvel.fuzz_qratio(a, b), repeat=7, number=reps)
        t_rf = timeit_median(lambda: fuzz.QRatio(a, b), repeat=7, number=reps)
        table.add(f"fuzz_qratio, {length:,}-char ASCII pair", t_ours, "rapidfuzz", t_rf)
    table.print()


if __name__ == "__main__":
    main()
