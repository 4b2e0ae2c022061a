"""Runs every bench_*.py script in this folder and prints their tables (markdown)."""

import runpy
import sys
from pathlib import Path

here = Path(__file__).resolve().parent
sys.path.insert(0, str(here))
only = sys.argv[1:]
for script in sorted(here.glob("bench_*.py")):
    if only and not any(name in script.stem for name in only):
        continue
    runpy.run_path(str(script), run_name="__main__")
