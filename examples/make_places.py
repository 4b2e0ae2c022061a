"""Generate examples/places.txt: a few thousand invented place names, deterministically.

Usage: python examples/make_places.py [output-file]   (default: places.txt beside this file)

The names are built from syllables with the accents, compounds and prefixes of real
European place names ("Sankt", "-sur-Mer", "Nové", "am See"), so that the example matches
against something shaped like a gazetteer without shipping anyone's data. The output is
the same on every Python 3: one seeded generator, only randrange/choice, sorted output.
"""

import random
import sys
from pathlib import Path

COUNT = 3000
SEED = 16

ONSETS = ["b", "br", "d", "dr", "f", "g", "gr", "h", "k", "kr", "l", "m", "n", "p", "pr", "r",
          "s", "st", "sch", "t", "tr", "v", "w", "z", "ž", "č", "ś", "ł", "j", "ch"]
# Plain vowels several times over: about one syllable in four carries an accent.
VOWELS = ["a", "e", "i", "o", "u"] * 3 + ["ä", "ö", "ü", "é", "è", "á", "ó", "å", "ø", "ai", "ei", "au", "ou"]
CODAS = ["", "", "", "n", "r", "l", "s", "k", "t", "m", "rg", "nd", "lt", "st", "ck"]
ENDINGS = ["burg", "dorf", "heim", "stadt", "berg", "wald", "ville", "court", "ac", "ano", "ona",
           "ova", "ice", "ów", "sk", "vik", "by", "holm", "ford", "ton", "ingen", "ería", "ães"]
PREFIXES = ["Sankt ", "Saint-", "San ", "Santa ", "Bad ", "Nové ", "Stary ", "Nieder", "Ober", "Le ", "Port "]
SUFFIXES = [" am See", "-sur-Mer", " an der Donau", " de la Sierra", " Wielki", "-les-Bains", " Nord", " Süd"]


def syllable(rng):
    return rng.choice(ONSETS) + rng.choice(VOWELS) + rng.choice(CODAS)


def place(rng):
    core = "".join(syllable(rng) for _ in range(1 + rng.randrange(2))) + rng.choice(ENDINGS)
    name = core[0].upper() + core[1:]
    roll = rng.randrange(10)
    if roll == 0:
        name = rng.choice(PREFIXES) + name
    elif roll == 1:
        name = name + rng.choice(SUFFIXES)
    return name


def generate(count=COUNT, seed=SEED):
    rng = random.Random(seed)
    names = set()
    while len(names) < count:
        names.add(place(rng))
    return sorted(names)


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("places.txt")
    out.write_text("".join(n + "\n" for n in generate()), encoding="utf-8")
    print(f"{COUNT} names written to {out}")


if __name__ == "__main__":
    main()
