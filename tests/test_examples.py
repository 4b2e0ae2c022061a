"""The README's example runs from a fresh clone: it reads only files of examples/, its
generated data is what its generator makes, and hand folding finds what the raw texts miss."""

import os
import shutil
import subprocess
import sys
import unicodedata
from pathlib import Path

import pytest

import tarnvel
from conftest import CHILD_CWD

EXAMPLES = Path(__file__).resolve().parents[1] / "examples"

pytestmark = pytest.mark.skipif(not EXAMPLES.is_dir(), reason="source tree not available")


def run(script, *args, cwd=CHILD_CWD):
    return subprocess.run([sys.executable, str(script), *map(str, args)], capture_output=True,
                          text=True, cwd=cwd, timeout=300, check=True).stdout


def test_places_file_is_what_the_generator_makes(tmp_path):
    out = tmp_path / "places.txt"
    run(EXAMPLES / "make_places.py", out)
    assert out.read_bytes() == (EXAMPLES / "places.txt").read_bytes()
    names = out.read_text(encoding="utf-8").splitlines()
    assert len(names) == len(set(names)) == 3000
    assert all(n == n.strip() and n for n in names)
    # Shaped like a gazetteer: accents and multi-word names are common, not incidental.
    assert sum(any(ord(c) > 127 for c in n) for n in names) > 1000
    assert sum(" " in n or "-" in n for n in names) > 200


def test_example_needs_nothing_outside_its_folder(tmp_path):
    # A copy of examples/ alone, as in a fresh clone elsewhere.
    copy = tmp_path / "examples"
    shutil.copytree(EXAMPLES, copy, ignore=shutil.ignore_patterns("__pycache__"))
    first = run(copy / "fix_typos.py", cwd=tmp_path)
    second = run(EXAMPLES / "fix_typos.py")
    drop_timing = lambda s: [l for l in s.splitlines() if " ms" not in l]  # noqa: E731
    assert drop_timing(first) == drop_timing(second)
    lines = first.splitlines()
    assert lines[0] == "3,045 known names"
    rows = {l.split(" -> ")[0].strip(): l.split(" -> ")[1] for l in lines if " -> " in l}
    # Exact comparison misses case and accents; the folded run finds them at 100.
    assert rows["ZURICH"].startswith("no match") and rows["ZURICH"].endswith("Zürich (100.0)")
    assert rows["KRAKOW"].endswith("Kraków (100.0)")
    assert rows["PROSTRONBY NORD"].startswith("no match")
    assert rows["PROSTRONBY NORD"].endswith("Pröströnby Nord (100.0)")
    assert rows["Amsterdma"].startswith("Amsterdam (88.9)")


def test_fold_as_documented():
    sys.path.insert(0, str(EXAMPLES))
    try:
        import fix_typos
    finally:
        sys.path.remove(str(EXAMPLES))
    fold = fix_typos.fold
    assert fold("Zürich") == "zurich" and fold("ZÜRICH") == fold("zu\u0308rich") == "zurich"
    assert fold("Straße") == "strasse"  # casefold, not lower()
    assert fold("Łódź") == "łodz" and fold("Ørsta") == "ørsta"  # no decomposition: kept
    assert fold("ﬁ") == "fi"  # compatibility ligature
    # Folding both sides makes an accent-blind ranking.
    names = ["Zürich", "zurich west", "Zurich"]
    best = tarnvel.fuzz_extract(fold("ZURICH"), [fold(n) for n in names])
    assert [(names[i], s) for _, s, i in best] == [("Zürich", 100.0), ("Zurich", 100.0), ("zurich west", 70.58823529411764)]
    assert unicodedata.is_normalized("NFKD", fold("Ångström"))
