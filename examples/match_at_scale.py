"""Bulk matching with tarnvel_match on generated data: link misspelled company names to a
register, then deduplicate the register itself.

Usage: python examples/match_at_scale.py   (needs: pip install ".[match]")
"""

import random
import time

import tarnvel_match as tm

rng = random.Random(7)
STEMS = ["North", "Blue", "River", "Summit", "Silver", "Oak", "Bright", "Iron", "Harbor", "Pine",
         "Golden", "Cedar", "Union", "Atlas", "Nova", "Crest", "Maple", "Stone", "Delta", "Vista"]
TRADES = ["Logistics", "Bakery", "Software", "Dental", "Motors", "Textiles", "Foods", "Energy",
          "Printing", "Consulting", "Pharma", "Builders"]
FORMS = ["Ltd", "Inc.", "GmbH", "S.A.", "& Co", "LLC"]


def company():
    return f"{rng.choice(STEMS)} {rng.choice(STEMS)} {rng.choice(TRADES)} {rng.choice(FORMS)}"


def misspell(s):
    i = rng.randrange(len(s))
    return (s[:i] + s[i + 1:]).upper() if rng.random() < 0.5 else s[:i] + "x" + s[i:]


register = sorted({company() for _ in range(40000)})
queries = [misspell(rng.choice(register)) for _ in range(200)]
print(f"{len(register):,} companies, {len(queries)} messy queries")

t = time.perf_counter()
choices = tm.Choices(register, processor="default")  # collected and processed once
idx, scores = tm.top_k(queries, choices, k=1, scorer="wratio")
print(f"top_k with wratio: {time.perf_counter() - t:.2f} s")
for q, i, s in list(zip(queries, idx[:, 0], scores[:, 0]))[:5]:
    print(f"  {q!r:40} -> {choices[i]!r} ({s:.1f})")

t = time.perf_counter()
labels = tm.dedupe(register[:5000], scorer="token_set_ratio", processor="default", score_cutoff=95)
groups = {}
for i, lab in enumerate(labels):
    groups.setdefault(int(lab), []).append(register[i])
multi = [g for g in groups.values() if len(g) > 1]
print(f"dedupe of 5,000 with token_set_ratio >= 95: {time.perf_counter() - t:.2f} s, "
      f"{len(multi)} groups of near-duplicates, e.g. {multi[0][:3] if multi else []}")
