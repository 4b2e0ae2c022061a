"""Runs every bench_*.py script in this folder, each in its own interpreter, and prints
their tables (markdown). Arguments select scripts by name: run_all.py ratio jaro.
--levels default,avx2,portable runs each script once per SIMD level (TARNVEL_SIMD), the
tables of each level under its own heading."""

import os
import subprocess
import sys
from pathlib import Path

here = Path(__file__).resolve().parent
args = sys.argv[1:]
levels = ["default"]
if "--levels" in args:
    at = args.index("--levels")
    levels = args[at + 1].split(",")
    del args[at:at + 2]
only = args
failed = []
for level in levels:
    env = dict(os.environ)
    env.pop("TARNVEL_SIMD", None)
    if level != "default":
        env["TARNVEL_SIMD"] = level
    if len(levels) > 1:
        print(f"# SIMD level: {level}\n", flush=True)
    for script in sorted(here.glob("bench_*.py")):
        if only and not any(name in script.stem for name in only):
            continue
        sys.stdout.flush()
        if subprocess.run([sys.executable, str(script)], cwd=here, env=env).returncode != 0:
            failed.append(f"{script.name} ({level})")
if failed:
    sys.exit(f"failed: {', '.join(failed)}")
