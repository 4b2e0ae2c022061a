"""Cross-check of the partial, token and weighted ratios against RapidFuzz.

Not a benchmark: it runs both libraries on the same random inputs and prints, per
scorer, how many results differ and a few examples of each kind of difference, so the
differences can be reviewed by hand. tarnvel follows its own documented definitions
where the two disagree.

    python bench/crosscheck_fuzz.py [pairs-per-kind]
"""

from __future__ import annotations

import math
import random
import sys
from collections import defaultdict

import tarnvel
from harness import load_lines, optional_import

SCORERS = [
    ("fuzz_partial_ratio", "partial_ratio"),
    ("fuzz_partial_ratio_alignment", "partial_ratio_alignment"),
    ("fuzz_token_sort_ratio", "token_sort_ratio"),
    ("fuzz_token_set_ratio", "token_set_ratio"),
    ("fuzz_token_ratio", "token_ratio"),
    ("fuzz_partial_token_sort_ratio", "partial_token_sort_ratio"),
    ("fuzz_partial_token_set_ratio", "partial_token_set_ratio"),
    ("fuzz_partial_token_ratio", "partial_token_ratio"),
    ("fuzz_wratio", "WRatio"),
]

WHITE_SPACE = ("\t\n\x0b\x0c\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006"
               "\u2007\u2008\u2009\u200a\u2028\u2029\u202f\u205f\u3000")
CONTROLS = "\x1c\x1d\x1e\x1f"


def words(rng, vocab, n_max, seps):
    out = []
    for _ in range(rng.randint(0, n_max)):
        out.append(rng.choice(vocab))
        out.append(rng.choice(seps))
    return "".join(out).strip(" ") if rng.random() < 0.7 else "".join(out)


def gen_pairs(kind, rng, n):
    names = load_lines("names.txt", 2000, seed=11)
    for _ in range(n):
        if kind == "ascii":
            yield (words(rng, ["ab", "abc", "b", "ca", "new", "york"], 5, [" "]),
                   words(rng, ["ab", "abc", "b", "ca", "new", "york"], 6, [" "]))
        elif kind == "chars":
            al = "abcd "
            yield ("".join(rng.choice(al) for _ in range(rng.randint(0, 12))),
                   "".join(rng.choice(al) for _ in range(rng.randint(0, 40))))
        elif kind == "accented_cjk":
            vocab = ["é", "e", "ée", "über", "中文", "文", "日本"]
            yield words(rng, vocab, 5, [" ", "\u3000"]), words(rng, vocab, 5, [" "])
        elif kind == "white_space":
            vocab = ["a", "b", "ab", "ba", "c"]
            yield words(rng, vocab, 5, WHITE_SPACE), words(rng, vocab, 5, WHITE_SPACE)
        elif kind == "controls":
            vocab = ["a", "b", "ab", "a" + CONTROLS[0] + "b", "c" + CONTROLS[3]]
            seps = list(WHITE_SPACE) + list(CONTROLS)
            yield words(rng, vocab, 5, seps), words(rng, vocab, 5, seps)
        elif kind == "long":
            al = "abcdefgh "
            a = "".join(rng.choice(al) for _ in range(rng.randint(60, 70)))
            yield a, "".join(rng.choice(al) for _ in range(rng.randint(60, 140)))
        elif kind == "names":
            yield rng.choice(names), rng.choice(names)


def same(x, y):
    if isinstance(x, tuple):
        return len(x) == len(y) and all(same(a, b) for a, b in zip(x, y))
    return x == y or (isinstance(x, float) and math.isnan(x) and math.isnan(y))


def classify(name, a, b, c, ours, theirs):
    o = ours[0] if isinstance(ours, tuple) else ours
    t = theirs[0] if isinstance(theirs, tuple) else theirs
    if any(ch in a + b for ch in CONTROLS):
        return "U+001C..U+001F in text (white space to RapidFuzz, not to tarnvel)"
    if "\x85" in a + b or "\xa0" in a + b:
        return "U+0085/U+00A0 in text (white space to tarnvel, not to RapidFuzz)"
    if isinstance(c, float) and math.isnan(c):
        return "NaN cutoff"
    if c > 100:
        return "cutoff above 100"
    if c < 0:
        return "negative cutoff"
    if name == "fuzz_partial_ratio_alignment" and o == t:
        return ("score 0.0, different ranges" if o == 0.0
                else "same score, different window (tie-breaking)")
    if abs(o - t) < 1e-9:
        return "last-bit rounding"
    if o == 0.0 or t == 0.0:
        return "one side filtered by the cutoff"
    return "different score"


def main() -> None:
    rf = optional_import("rapidfuzz")
    if rf is None:
        return
    from rapidfuzz import fuzz

    n = int(sys.argv[1]) if len(sys.argv) > 1 else 300
    rng = random.Random(7)
    cutoffs = [0.0] * 6 + [50.0, 80.0, 100.0, -10.0, float("nan"), 100.5]
    diffs = defaultdict(lambda: defaultdict(list))
    totals = defaultdict(int)
    for kind in ["ascii", "chars", "accented_cjk", "white_space", "controls", "long",
                 "names"]:
        for a, b in gen_pairs(kind, rng, n):
            c = rng.choice(cutoffs) if rng.random() < 0.7 else round(rng.uniform(0, 100), 1)
            for ours_name, rf_name in SCORERS:
                ours = getattr(tarnvel, ours_name)(a, b, c)
                theirs = getattr(fuzz, rf_name)(a, b, score_cutoff=c)
                if rf_name == "partial_ratio_alignment":
                    theirs = (0.0, 0, 0, 0, 0) if theirs is None else tuple(theirs)
                totals[ours_name] += 1
                if not same(ours, theirs):
                    cls = classify(ours_name, a, b, c, ours, theirs)
                    diffs[ours_name][cls].append((kind, a, b, c, ours, theirs))

    for ours_name, _ in SCORERS:
        classes = diffs[ours_name]
        count = sum(len(v) for v in classes.values())
        print(f"{ours_name}: {count} of {totals[ours_name]} differ")
        for cls, items in sorted(classes.items(), key=lambda kv: -len(kv[1])):
            print(f"  {cls}: {len(items)}")
            for kind, a, b, c, ours, theirs in items[:3]:
                print(f"    [{kind}] a={a!r} b={b!r} cutoff={c!r}: tarnvel={ours!r} rapidfuzz={theirs!r}")


if __name__ == "__main__":
    main()
