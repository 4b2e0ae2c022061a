"""Shared benchmark helpers: data loading, timing and the result table.

Every workload runs tarnvel and a peer on the same inputs in the same process and
reports the median of several repeats; the ratio is peer time / tarnvel time, so a
ratio above 1.0 means tarnvel is faster.

Data comes from the shared data folder (TARNVEL_DATA, default ../shared/data beside the
checkout); when it is absent, seeded synthetic strings stand in so the scripts still run.
"""

from __future__ import annotations

import os
import platform
import random
import statistics
import string
import subprocess
import sys
import time
from pathlib import Path
from typing import Callable, Iterable, Optional

HERE = Path(__file__).resolve().parent
DATA_DIR = Path(os.environ.get("TARNVEL_DATA", HERE.parent.parent / "shared" / "data"))


def data_available() -> bool:
    return DATA_DIR.is_dir()


def _synthetic(n: int, seed: int, min_len: int = 3, max_len: int = 16) -> list[str]:
    rng = random.Random(seed)
    alphabet = string.ascii_lowercase + "     "
    return [
        "".join(rng.choice(alphabet) for _ in range(rng.randint(min_len, max_len))).strip() or "x"
        for _ in range(n)
    ]


def load_lines(name: str, n: Optional[int] = None, seed: int = 0, column: int = 0) -> list[str]:
    """Up to n lines of a data file (a seeded random sample, never a prefix).

    `name` is a file in the data folder such as "cities.txt" or "names.txt"; for .tsv
    files `column` picks the field. Falls back to synthetic strings when the folder is
    missing.
    """
    path = DATA_DIR / name
    if not path.exists():
        return _synthetic(n or 10000, seed)
    with open(path, encoding="utf-8") as f:
        lines = [line.rstrip("\n") for line in f]
    if name.endswith(".tsv"):
        lines = [line.split("\t")[column] for line in lines]
    lines = [line for line in lines if line]
    if n is not None and n < len(lines):
        rng = random.Random(seed)
        lines = rng.sample(lines, n)
    elif n is not None and n > len(lines):
        rng = random.Random(seed)
        lines = lines + [rng.choice(lines) for _ in range(n - len(lines))]
    return lines


def load_fasta(name: str) -> list[str]:
    """Sequences of a FASTA file in the data folder (empty list when absent)."""
    path = DATA_DIR / name
    if not path.exists():
        return []
    seqs, cur = [], []
    with open(path, encoding="ascii") as f:
        for line in f:
            line = line.strip()
            if line.startswith(">"):
                if cur:
                    seqs.append("".join(cur))
                cur = []
            elif line:
                cur.append(line)
    if cur:
        seqs.append("".join(cur))
    return seqs


def random_text(length: int, seed: int, alphabet: str = string.ascii_lowercase + " ") -> str:
    rng = random.Random(seed)
    return "".join(rng.choice(alphabet) for _ in range(length))


def timeit_median(fn: Callable[[], object], repeat: int = 5, number: int = 1,
                  min_time: float = 0.0) -> float:
    """Median seconds per call of fn over `repeat` rounds of `number` calls.

    With min_time > 0, number is raised until one round takes at least that long, which
    keeps per-call timings of very short calls above timer resolution.
    """
    fn()  # warm-up (lazy pools, caches)
    if min_time > 0:
        while True:
            t0 = time.perf_counter()
            for _ in range(number):
                fn()
            if time.perf_counter() - t0 >= min_time:
                break
            number *= 2
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        for _ in range(number):
            fn()
        times.append((time.perf_counter() - t0) / number)
    return statistics.median(times)


def fmt_time(seconds: float) -> str:
    if seconds < 1e-6:
        return f"{seconds * 1e9:.0f} ns"
    if seconds < 1e-3:
        return f"{seconds * 1e6:.2f} us"
    if seconds < 1:
        return f"{seconds * 1e3:.2f} ms"
    return f"{seconds:.3f} s"


class Table:
    """Rows of (workload, tarnvel time, peer, peer time, ratio peer/tarnvel)."""

    def __init__(self, title: str):
        self.title = title
        self.rows: list[tuple[str, float, str, float]] = []

    def add(self, workload: str, ours: float, peer: str, theirs: float) -> None:
        self.rows.append((workload, ours, peer, theirs))
        print(f"  {workload} | tarnvel {fmt_time(ours)} | {peer} {fmt_time(theirs)} | "
              f"ratio {theirs / ours:.2f}", file=sys.stderr, flush=True)

    def markdown(self) -> str:
        out = [f"### {self.title}", "",
               "| workload | tarnvel | peer | peer time | ratio (peer/tarnvel) |",
               "|---|---:|---|---:|---:|"]
        for workload, ours, peer, theirs in self.rows:
            out.append(f"| {workload} | {fmt_time(ours)} | {peer} | {fmt_time(theirs)} | "
                       f"{theirs / ours:.2f} |")
        return "\n".join(out)

    def print(self) -> None:
        print(self.markdown())
        print()


def machine_line() -> str:
    cpu = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return (f"{cpu}, {os.cpu_count()} logical CPUs, Python {platform.python_version()}, "
            f"SIMD level {simd_level()}")


def simd_level() -> str:
    """The level the kernels run at: what the test extension reports where it is built,
    else what TARNVEL_SIMD asks for (the processor may cap it)."""
    forced = os.environ.get("TARNVEL_SIMD")
    try:
        import _tarnvel_testing
        reached = _tarnvel_testing.simd_info()[3]
    except (ImportError, AttributeError, IndexError):
        return f"{forced} (TARNVEL_SIMD)" if forced else "default"
    return f"{reached} (TARNVEL_SIMD={forced})" if forced else f"{reached} (default)"


def optional_import(name: str):
    """The peer module, or None (with a note) when it is not installed.

    TARNVEL_BENCH_PEERS limits the peers to a comma-separated list of top-level module
    names ("none" for no peer at all), to time tarnvel's own rows, for instance when
    comparing two builds.
    """
    allowed = os.environ.get("TARNVEL_BENCH_PEERS")
    if allowed is not None and name.split(".")[0] not in allowed.split(","):
        print(f"note: {name} left out by TARNVEL_BENCH_PEERS", file=sys.stderr)
        return None
    try:
        return __import__(name, fromlist=["_"])
    except ImportError:
        print(f"note: {name} is not installed; its rows are skipped "
              f"(pip install '.[bench]')", file=sys.stderr)
        return None


def run_in_subprocess(code: str, env_extra: dict[str, str]) -> str:
    """Runs python code in a fresh interpreter with extra environment; returns stdout."""
    env = dict(os.environ)
    env.update(env_extra)
    return subprocess.run([sys.executable, "-c", code], env=env, check=True,
                          capture_output=True, text=True).stdout


def main_header(title: str) -> None:
    print(f"## {title}")
    print()
    print(f"Machine: {machine_line()}")
    print()
