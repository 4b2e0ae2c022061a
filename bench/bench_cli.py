"""The command's own overhead: `tarnvel match` of 2,000 misspelled cities against the
150,634 cities of the shared data, beside tarnvel_match.top_k on the same lists from Python.

Usage: python bench/bench_cli.py [--repeat N] [--scorer NAME]

The command's time is the whole process (start-up, imports, reading both files, writing
the rows); the library's time is the top_k call alone, the lists already in memory.
"""

import argparse
import csv
import os
import random
import resource
import subprocess
import sys
import tempfile
import time

DATA = os.environ.get("TARNVEL_DATA", "/work/shared/data")


def cpu(who):
    r = resource.getrusage(who)
    return r.ru_utime + r.ru_stime


def misspell(rng, s):
    k = rng.randrange(len(s))
    op = rng.randrange(3)
    if op == 0:
        return s[:k] + s[k + 1:] or s
    if op == 1:
        return s[:k] + rng.choice("aeiourstn") + s[k:]
    return s[:k] + rng.choice("aeiourstn") + s[k + 1:]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--repeat", type=int, default=1)
    ap.add_argument("--scorer", default="wratio")
    ap.add_argument("--queries", type=int, default=2000)
    opts = ap.parse_args()
    load0 = os.getloadavg()
    path = os.path.join(DATA, "cities.txt")
    with open(path, encoding="utf-8") as f:
        cities = f.read().split("\n")[:-1]
    rng = random.Random(13)
    queries = [misspell(rng, c) for c in rng.sample(cities, opts.queries)]

    import tarnvel_match as tm

    with tempfile.TemporaryDirectory() as tmp:
        qpath = os.path.join(tmp, "queries.txt")
        with open(qpath, "w", encoding="utf-8", newline="\n") as f:
            f.write("\n".join(queries) + "\n")
        out = os.path.join(tmp, "out.csv")
        cmd = [sys.executable, "-m", "tarnvel_match", "match", qpath, path, "--scorer", opts.scorer,
               "--quiet", "-o", out]
        lib, cli, lib_cpu, cli_cpu = [], [], [], []
        for _ in range(opts.repeat):
            c = cpu(resource.RUSAGE_SELF)
            t = time.perf_counter()
            idx, _ = tm.top_k(queries, cities, k=1, scorer=opts.scorer, processor="default")
            lib.append(time.perf_counter() - t)
            lib_cpu.append(cpu(resource.RUSAGE_SELF) - c)
            c = cpu(resource.RUSAGE_CHILDREN)
            t = time.perf_counter()
            subprocess.run(cmd, check=True, cwd=tmp)
            cli.append(time.perf_counter() - t)
            cli_cpu.append(cpu(resource.RUSAGE_CHILDREN) - c)
        with open(out, encoding="utf-8", newline="") as f:
            got = [int(r["choice_index"]) if r["choice_index"] else -1 for r in csv.DictReader(f)]
        assert got == idx[:, 0].tolist(), "the command and top_k disagree"
    a, b = min(lib), min(cli)
    ac, bc = min(lib_cpu), min(cli_cpu)
    print(f"{opts.queries} queries x {len(cities)} cities, {opts.scorer}, {os.cpu_count()} CPUs, "
          f"best of {opts.repeat}; load average before: {load0}")
    print(f"tarnvel_match.top_k from Python: {a:.2f} s wall, {ac:.2f} s CPU")
    print(f"tarnvel match (whole process):   {b:.2f} s wall, {bc:.2f} s CPU")
    print(f"overhead: {100 * (b - a) / a:+.1f}% wall, {100 * (bc - ac) / ac:+.1f}% CPU")
    print(f"load average after: {os.getloadavg()}")


if __name__ == "__main__":
    main()
