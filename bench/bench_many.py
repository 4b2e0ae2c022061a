"""Many-to-many matching against the best RapidFuzz recipes, in the same run.

- top_k(k=5) of names x names with ratio and jaro_winkler, against process.cdist in row
  chunks of 1,000 with workers=-1, then numpy.argpartition per chunk;
- pairs self-joins: companies with token_set_ratio >= 90 after the default processor, and
  names with ratio >= 90, against process.cdist(score_cutoff=..., workers=-1) in row
  chunks plus numpy.nonzero;
- Dask scaling: top_k on a LocalCluster of 2 single-threaded workers against one
  single-threaded worker, and against the local call with 2 threads.

Each workload runs in a fresh subprocess, so its peak memory (ru_maxrss above the
process's size once its inputs are loaded) is reported beside its time. The sizes of
the task are the defaults; --scale shrinks every list alike for a quick run.

    python bench/bench_many.py [--scale 1.0] [--only top_k|pairs|dask]
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
import textwrap

from harness import HERE, Table, main_header

CHILD = textwrap.dedent("""
    import json, resource, sys, time
    sys.path.insert(0, {here!r})
    import numpy as np
    from harness import load_lines
    import tarnvel_match as tm

    def rss():
        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024

    {setup}
    base = rss()
    t0 = time.perf_counter()
    result = run()
    t = time.perf_counter() - t0
    print(json.dumps({{"seconds": t, "peak_extra": max(0, rss() - base), "check": check(result)}}))
""")

NAMES = "names = load_lines('names.txt', {n}, seed=3)"
COMPANIES = "texts = load_lines('companies.txt', {n}, seed=4)"


def top_k_setup(scorer, nq, nc, ours):
    body = NAMES.format(n=nq + nc) + f"\nqueries, choices = names[:{nq}], names[{nq}:]\n"
    if ours:
        body += textwrap.dedent(f"""
            prepared = tm.Choices(choices)
            def run():
                return tm.top_k(queries, prepared, k=5, scorer={scorer!r})
            def check(r):
                return float(np.nansum(r[1][:, 0]))
        """)
    else:
        peer = {"ratio": "fuzz.ratio", "jaro_winkler": "JaroWinkler.normalized_similarity"}[scorer]
        body += textwrap.dedent(f"""
            from rapidfuzz import process, fuzz
            from rapidfuzz.distance import JaroWinkler
            def run():
                best = []
                for lo in range(0, len(queries), 1000):
                    m = process.cdist(queries[lo:lo + 1000], choices, scorer={peer}, workers=-1)
                    idx = np.argpartition(-m, 5, axis=1)[:, :5]
                    vals = np.take_along_axis(m, idx, axis=1)
                    order = np.argsort(-vals, axis=1, kind="stable")
                    best.append(np.take_along_axis(vals, order, axis=1))
                return np.vstack(best)
            def check(r):
                return float(np.nansum(r[:, 0]))
        """)
    return body


def pairs_setup(kind, n, ours):
    if kind == "companies":
        load, scorer, peer, proc = COMPANIES.format(n=n), "token_set_ratio", "fuzz.token_set_ratio", True
    else:
        load, scorer, peer, proc = NAMES.format(n=n) + "\ntexts = names", "ratio", "fuzz.ratio", False
    body = load + "\n"
    if ours:
        body += textwrap.dedent(f"""
            def run():
                return tm.pairs(texts, scorer={scorer!r}, score_cutoff=90,
                                processor={'"default"' if proc else None})
            def check(r):
                return int(len(r[0]))
        """)
    else:
        body += textwrap.dedent(f"""
            from rapidfuzz import process, fuzz, utils
            def run():
                hits = 0
                for lo in range(0, len(texts), 1000):
                    m = process.cdist(texts[lo:lo + 1000], texts, scorer={peer}, score_cutoff=90,
                                      processor={'utils.default_process' if proc else None},
                                      workers=-1, dtype=np.uint8)
                    i, j = np.nonzero(m)
                    hits += int(((i + lo) < j).sum())
                return hits
            def check(r):
                return r
        """)
    return body


def dask_setup(nq, nc, mode):
    body = NAMES.format(n=nq + nc) + f"\nqueries, choices = names[:{nq}], names[{nq}:]\n"
    if mode == "local":
        body += textwrap.dedent("""
            def run():
                return tm.top_k(queries, choices, k=5, workers=2)
        """)
    else:
        nw = 2 if mode == "dask2" else 1
        body += textwrap.dedent(f"""
            from distributed import Client, LocalCluster
            import tarnvel_match.dask as tmd
            cluster = LocalCluster(n_workers={nw}, threads_per_worker=1, processes=True,
                                   dashboard_address=None)
            client = Client(cluster)
            client.run(lambda: __import__("tarnvel_match"))
            def run():
                return tmd.top_k(queries, choices, k=5, client=client)
        """)
    body += textwrap.dedent("""
        def check(r):
            return float(np.nansum(r[1][:, 0]))
    """)
    return body


def run_child(setup, env=None):
    code = CHILD.format(here=str(HERE), setup=setup)
    e = dict(os.environ, **(env or {}))
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=e)
    if out.returncode != 0:
        raise RuntimeError(out.stderr[-2000:])
    return json.loads(out.stdout.strip().splitlines()[-1])


def mb(x):
    return f"{x / 2**20:,.0f} MB"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--scale", type=float, default=1.0)
    ap.add_argument("--only", choices=["top_k", "pairs", "dask"])
    args = ap.parse_args()
    s = args.scale
    main_header("tarnvel_match many-to-many against RapidFuzz recipes")
    rows = []
    if args.only in (None, "top_k"):
        nq, nc = int(20_000 * s), int(100_000 * s)
        t = Table(f"top_k(k=5), {nq:,} x {nc:,} names")
        for scorer in ("ratio", "jaro_winkler"):
            a = run_child(top_k_setup(scorer, nq, nc, True))
            b = run_child(top_k_setup(scorer, nq, nc, False))
            if abs(a["check"] - b["check"]) > 1e-6 * max(1.0, abs(b["check"])):
                print(f"warning: {scorer}: best scores differ: {a['check']} vs {b['check']}", file=sys.stderr)
            t.add(f"{scorer} (peak extra: ours {mb(a['peak_extra'])}, recipe {mb(b['peak_extra'])})",
                  a["seconds"], "rapidfuzz cdist chunks + argpartition", b["seconds"])
        rows.append(t)
    if args.only in (None, "pairs"):
        t = Table("pairs self-joins, score >= 90")
        for kind, n in (("companies", int(35_000 * s)), ("names", int(200_000 * s))):
            a = run_child(pairs_setup(kind, n, True))
            b = run_child(pairs_setup(kind, n, False))
            if a["check"] != b["check"]:
                print(f"warning: {kind}: pair counts differ: {a['check']} vs {b['check']}", file=sys.stderr)
            t.add(f"{kind} {n:,} ({a['check']:,} pairs; peak extra: ours {mb(a['peak_extra'])}, "
                  f"recipe {mb(b['peak_extra'])})", a["seconds"], "rapidfuzz cdist chunks + nonzero",
                  b["seconds"])
        rows.append(t)
    if args.only in (None, "dask"):
        nq, nc = int(20_000 * s), int(100_000 * s)
        t = Table(f"Dask top_k(k=5) ratio, {nq:,} x {nc:,} names")
        one = run_child(dask_setup(nq, nc, "dask1"))
        two = run_child(dask_setup(nq, nc, "dask2"))
        local = run_child(dask_setup(nq, nc, "local"))
        t.add("2 single-threaded workers vs 1", two["seconds"], "1 worker", one["seconds"])
        t.add("2 single-threaded workers vs local call, 2 threads", two["seconds"], "local",
              local["seconds"])
        rows.append(t)
    for t in rows:
        t.print()


if __name__ == "__main__":
    main()
