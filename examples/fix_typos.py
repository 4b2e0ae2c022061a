"""Match misspelled queries against a list of known names.

Usage: python examples/fix_typos.py [names-file]

Without an argument it uses the shared city list when it is present beside the
checkout, else a small built-in list.
"""

import sys
import time
from pathlib import Path

import tarnvel

BUILT_IN = [
    "Amsterdam", "Antwerpen", "Barcelona", "Berlin", "Bratislava", "Brussels", "Bucharest",
    "Budapest", "Copenhagen", "Dublin", "Edinburgh", "Frankfurt am Main", "Geneva", "Hamburg",
    "Helsinki", "Istanbul", "Kraków", "Lisbon", "Ljubljana", "London", "Luxembourg", "Lyon",
    "Madrid", "Marseille", "Milan", "Munich", "Naples", "Oslo", "Paris", "Porto", "Prague",
    "Reykjavík", "Riga", "Rome", "Rotterdam", "Sofia", "Stockholm", "Tallinn", "Thessaloniki",
    "Valencia", "Vienna", "Vilnius", "Warsaw", "Zagreb", "Zürich",
]

QUERIES = ["Amsterdma", "barcelon", "Brusels", "Copenhagn", "Krakow", "Lisboa", "Muenchen",
           "Reykjavik", "Stokholm", "Zurich", "Thesaloniki", "Frankfurt"]


def load_names() -> list[str]:
    if len(sys.argv) > 1:
        path = Path(sys.argv[1])
    else:
        path = Path(__file__).resolve().parents[2] / "shared" / "data" / "cities.txt"
    if path.exists():
        return [line.strip() for line in path.open(encoding="utf-8") if line.strip()]
    return BUILT_IN


def main() -> None:
    names = load_names()
    print(f"{len(names):,} known names")
    start = time.perf_counter()
    for query in QUERIES:
        best = tarnvel.fuzz_extract(query, names, score_cutoff=60.0, limit=3)
        shown = ", ".join(f"{choice} ({score:.1f})" for choice, score, _ in best) or "no match"
        print(f"{query:>12} -> {shown}")
    elapsed = time.perf_counter() - start
    print(f"{len(QUERIES)} queries in {elapsed * 1000:.1f} ms")

    # The same job scored by edit distance and by Jaro-Winkler for the first query.
    query = QUERIES[0]
    if hasattr(tarnvel, "levenshtein_batch"):
        dists = tarnvel.levenshtein_batch(query, names)
        best = min(range(len(names)), key=dists.__getitem__)
        print(f"closest by Levenshtein distance to {query!r}: {names[best]!r} ({dists[best]} edits)")
    if hasattr(tarnvel, "jaro_winkler_batch_fn"):
        sims = tarnvel.jaro_winkler_batch_fn(query, names)
        best = max(range(len(names)), key=sims.__getitem__)
        print(f"closest by Jaro-Winkler to {query!r}: {names[best]!r} ({sims[best]:.3f})")


if __name__ == "__main__":
    main()
