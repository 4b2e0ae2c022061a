"""tarnvel_match against RapidFuzz's process module, in the same run, same inputs.

- extract_one and extract(limit=5): misspelled city queries against the 150,000 cities,
  every fuzz scorer, jaro_winkler and levenshtein, with a plain list and with a prepared
  Choices (RapidFuzz gets the plain list both times: it has no prepared form);
- cdist of 1,000 x 20,000 names for the same scorers against process.cdist(workers=-1).

Both sides use the same processor (ours "default", RapidFuzz utils.default_process, the
same definition) and the scorer that computes the same value; scores of the best match
are cross-checked. Times are per call of the whole workload, best of alternating rounds.

    python bench/bench_match.py [--queries 200] [--rounds 2] [--only extract|cdist]
"""

from __future__ import annotations

import argparse
import sys

import numpy as np

import tarnvel_match as tm
from bench_extract import paired, typo_queries
from harness import Table, load_lines, main_header

SCORERS = ["ratio", "qratio", "partial_ratio", "token_sort_ratio", "token_set_ratio",
           "token_ratio", "partial_token_sort_ratio", "partial_token_set_ratio",
           "partial_token_ratio", "wratio", "jaro_winkler", "levenshtein"]


def peer_scorer(name):
    from rapidfuzz import distance, fuzz
    table = {
        "ratio": fuzz.ratio, "qratio": fuzz.QRatio, "partial_ratio": fuzz.partial_ratio,
        "token_sort_ratio": fuzz.token_sort_ratio, "token_set_ratio": fuzz.token_set_ratio,
        "token_ratio": fuzz.token_ratio,
        "partial_token_sort_ratio": fuzz.partial_token_sort_ratio,
        "partial_token_set_ratio": fuzz.partial_token_set_ratio,
        "partial_token_ratio": fuzz.partial_token_ratio, "wratio": fuzz.WRatio,
        "jaro_winkler": distance.JaroWinkler.normalized_similarity,
        "levenshtein": distance.Levenshtein.distance,
    }
    return table[name]


def bench_extract(args, table_one, table_five):
    from rapidfuzz import process, utils
    cities = load_lines("cities.txt")
    queries = typo_queries("cities.txt", args.queries, seed=11)
    prepared = tm.Choices(cities, processor="default")
    for name in SCORERS:
        peer = peer_scorer(name)
        for limit, table in ((1, table_one), (5, table_five)):
            if limit == 1:
                def ours_list():
                    return [tm.extract_one(q, cities, scorer=name, processor="default") for q in queries]

                def ours_prep():
                    return [tm.extract_one(q, prepared, scorer=name) for q in queries]

                def theirs():
                    return [process.extractOne(q, cities, scorer=peer, processor=utils.default_process)
                            for q in queries]
            else:
                def ours_list():
                    return [tm.extract(q, cities, scorer=name, processor="default", limit=5) for q in queries]

                def ours_prep():
                    return [tm.extract(q, prepared, scorer=name, limit=5) for q in queries]

                def theirs():
                    return [process.extract(q, cities, scorer=peer, processor=utils.default_process, limit=5)
                            for q in queries]
            check(name, ours_prep(), theirs(), limit)
            t_list, t_peer = paired(ours_list, theirs, args.rounds)
            t_prep, _ = paired(ours_prep, lambda: None, args.rounds)
            table.add(f"{name}, {len(queries)} x {len(cities):,} list", t_list, "rapidfuzz", t_peer)
            table.add(f"{name}, {len(queries)} x {len(cities):,} Choices", t_prep, "rapidfuzz", t_peer)


def check(name, ours, theirs, limit):
    """The best scores agree (RapidFuzz's Jaro-Winkler is 0-1 as ours; its values may
    differ in the last bits for the Winkler step, so compare at 1e-9)."""
    for a, b in zip(ours, theirs):
        if limit == 1:
            a, b = [a] if a else [], [b] if b else []
        sa = [x[1] for x in a]
        sb = [x[1] for x in b]
        if len(sa) != len(sb) or any(abs(float(x) - float(y)) > 1e-9 for x, y in zip(sa, sb)):
            print(f"warning: {name}: scores differ: {sa} vs {sb}", file=sys.stderr)
            return


def bench_cdist(args, table):
    from rapidfuzz import process, utils
    names = load_lines("names.txt", 21_000, seed=5)
    queries, choices = names[:1000], names[1000:21000]
    prepared = tm.Choices(choices, processor="default")
    for name in SCORERS:
        peer = peer_scorer(name)
        dtype = np.float64 if name != "levenshtein" else np.uint32

        def ours():
            return tm.cdist(queries, prepared, scorer=name)

        def theirs():
            return process.cdist(queries, choices, scorer=peer, processor=utils.default_process,
                                 workers=-1, dtype=dtype)
        a, b = ours(), theirs()
        if not np.allclose(a, b, atol=1e-9):
            print(f"warning: {name}: cdist differs in {(np.abs(a - b) > 1e-9).sum()} cells",
                  file=sys.stderr)
        t_ours, t_peer = paired(ours, theirs, args.rounds)
        table.add(f"{name}, 1,000 x 20,000", t_ours, "rapidfuzz cdist(workers=-1)", t_peer)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--queries", type=int, default=200)
    ap.add_argument("--rounds", type=int, default=2)
    ap.add_argument("--only", choices=["extract", "cdist"])
    args = ap.parse_args()
    main_header("tarnvel_match against RapidFuzz")
    if args.only in (None, "extract"):
        one, five = Table("extract_one"), Table("extract(limit=5)")
        bench_extract(args, one, five)
        one.print()
        five.print()
    if args.only in (None, "cdist"):
        cd = Table("cdist")
        bench_cdist(args, cd)
        cd.print()


if __name__ == "__main__":
    main()
