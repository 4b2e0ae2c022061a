"""The fuzzing harness (tests/fuzz/fuzz_calls.py), briefly, at every SIMD level.

For a long run: python tests/fuzz/fuzz_calls.py --seconds 3600 (or FUZZ_SECONDS), or
MULTIPLIER here.
"""

import os
import subprocess
import sys

from conftest import CHILD_CWD, MULTIPLIER, SEED

HARNESS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fuzz", "fuzz_calls.py")


def test_random_and_hostile_calls_at_every_level():
    env = dict(os.environ)
    env.pop("TARNVEL_SIMD", None)
    proc = subprocess.run([sys.executable, HARNESS, "--seconds", str(4 * MULTIPLIER), "--seed", str(SEED)],
                          env=env, capture_output=True, text=True, timeout=600, cwd=CHILD_CWD)
    lines = proc.stdout.splitlines()
    assert proc.returncode == 0, proc.stdout + proc.stderr
    summary = [line for line in lines if ": calls " in line]
    assert [line.split(":")[0] for line in summary] == ["portable", "neon", "avx2", "avx512"]
    for line in summary:
        words = line.split()
        assert int(words[2]) > 100 and words[3:] == ["mismatches", "0", "crashes", "0"], line
