"""Runs every bench_*.py script in this folder, each in its own interpreter, and prints
their tables (markdown). Arguments select scripts by name: run_all.py ratio jaro."""

import subprocess
import sys
from pathlib import Path

here = Path(__file__).resolve().parent
only = sys.argv[1:]
failed = []
for script in sorted(here.glob("bench_*.py")):
    if only and not any(name in script.stem for name in only):
        continue
    sys.stdout.flush()
    if subprocess.run([sys.executable, str(script)], cwd=here).returncode != 0:
        failed.append(script.name)
if failed:
    sys.exit(f"failed: {', '.join(failed)}")
