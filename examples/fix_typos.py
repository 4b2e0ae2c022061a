"""Match misspelled queries against a list of known place names.

Usage: python examples/fix_typos.py [names-file]

Without an argument it uses the files beside this script: cities.txt (45 European cities)
and places.txt (3,000 invented place names, made by make_places.py). tarnvel compares
texts exactly as given, so each query is matched twice: as typed, and with case and
accents folded by hand on both sides.
"""

import sys
import time
import unicodedata
from pathlib import Path

import tarnvel

HERE = Path(__file__).resolve().parent

QUERIES = ["Amsterdma", "barcelon", "Brusels", "Copenhagn", "KRAKOW", "Lisboa", "munchen",
           "reykjavik", "Stokholm", "ZURICH", "Thesaloniki", "Frankfurt",
           "zunlendby", "PROSTRONBY NORD", "saint fackpova", "Dreswald"]


def fold(s: str) -> str:
    """Case and accents folded: casefold (ß -> ss), then NFKD and the combining marks
    dropped (ü -> u). Letters that are not a base letter plus a mark (ł, ø) stay."""
    s = unicodedata.normalize("NFKD", s.casefold())
    return "".join(c for c in s if not unicodedata.combining(c))


def read_names(path: Path) -> list[str]:
    with path.open(encoding="utf-8") as f:
        return [line.strip() for line in f if line.strip()]


def load_names() -> list[str]:
    if len(sys.argv) > 1:
        return read_names(Path(sys.argv[1]))
    return read_names(HERE / "cities.txt") + read_names(HERE / "places.txt")


def main() -> None:
    names = load_names()
    folded = [fold(n) for n in names]  # once; the indices still point into `names`
    print(f"{len(names):,} known names")
    print(f"{'query':>16}    {'as typed':<28}{'case and accents folded'}")
    start = time.perf_counter()
    for query in QUERIES:
        raw = tarnvel.fuzz_extract_one(query, names, score_cutoff=60.0)
        hit = tarnvel.fuzz_extract_one(fold(query), folded, score_cutoff=60.0)
        shown_raw = f"{raw[0]} ({raw[1]:.1f})" if raw else "no match"
        shown = f"{names[hit[2]]} ({hit[1]:.1f})" if hit else "no match"
        print(f"{query:>16} -> {shown_raw:<28}{shown}")
    elapsed = time.perf_counter() - start
    print(f"{len(QUERIES)} queries, each matched twice, in {elapsed * 1000:.1f} ms")

    # The same job scored by edit distance and by Jaro-Winkler for the first query.
    query = QUERIES[0]
    dists = tarnvel.levenshtein_batch(query, names)
    best = min(range(len(names)), key=dists.__getitem__)
    print(f"closest by Levenshtein distance to {query!r}: {names[best]!r} ({dists[best]} edits)")
    sims = tarnvel.jaro_winkler_batch_fn(query, names)
    best = max(range(len(names)), key=sims.__getitem__)
    print(f"closest by Jaro-Winkler to {query!r}: {names[best]!r} ({sims[best]:.3f})")


if __name__ == "__main__":
    main()
