"""Random and hostile calls of the public module, checked against the plain references.

    python tests/fuzz/fuzz_calls.py [--seconds S] [--calls N] [--seed K] [--levels a,b]

The driver starts one child interpreter per SIMD level (TARNVEL_SIMD) and splits the
budget between them; a child that dies by a signal or a non-zero exit is a crash. Each
child makes calls of four kinds:
  - values: random texts (small, wide, non-ASCII and astral alphabets) against
    tests/edit_reference.py and tests/fuzz_reference.py, floats compared bit for bit;
  - consistency: long texts, where the references are too slow, through every entry
    point of a family (scalar, Myers, batch, cdist, _into) that must agree;
  - hostile arguments: wrong types, raising iterables, raising __index__/__float__,
    huge integers, lying __len__; each must raise an ordinary exception (the one the
    user's code raised, where it raised) or give the right result;
  - batches through iterables whose __len__ lies.
Prints one line per level: calls, mismatches, crashes. The exit status is non-zero if
any level had a mismatch or a crash. FUZZ_SECONDS sets the default budget.
"""

from __future__ import annotations

import argparse
import math
import os
import random
import subprocess
import sys
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)
LEVELS = ["portable", "neon", "avx2", "avx512"]


class Boom(Exception):
    """Raised by the hostile objects; must reach the caller unchanged."""


class RaisingIndex:
    def __index__(self):
        raise Boom("index")


class RaisingFloat:
    def __float__(self):
        raise Boom("float")


class StrSub(str):
    pass


def raising_iter(items, k):
    for i, x in enumerate(items):
        if i == k:
            raise Boom("iter")
        yield x


class LyingLen:
    def __init__(self, items, claimed):
        self.items, self.claimed = items, claimed

    def __len__(self):
        return self.claimed

    def __iter__(self):
        return iter(self.items)


class RaisingLen:
    def __init__(self, items):
        self.items = items

    def __len__(self):
        raise Boom("len")

    def __iter__(self):
        return iter(self.items)


ALPHABETS = ["ab", "abc", "abcdefghij klmnopqrstuvwxyz", "aábcçéè日本語🙂 ", "a\u0100\u0200\u0300",
             "".join(chr(0x4E00 + i) for i in range(200)), "🙂🙃😀x"]


def child(seed: int, seconds: float, max_calls: int) -> int:
    sys.path.insert(0, TESTS)
    import edit_reference as er
    import fuzz_reference as fr
    import tarnvel as t

    try:
        import numpy as np
    except ImportError:
        np = None

    rng = random.Random(seed)
    calls = mismatches = 0

    def text(max_len=12, alphabet=None):
        al = alphabet or rng.choice(ALPHABETS)
        return "".join(rng.choice(al) for _ in range(rng.randint(0, max_len)))

    def report(what, *args):
        nonlocal mismatches
        mismatches += 1
        if mismatches <= 20:
            print("MISMATCH", what, repr(args)[:400], flush=True)

    def check(what, got, want, *args):
        if type(got) is float and type(want) is float:
            ok = got.hex() == want.hex()
        else:
            ok = got == want
        if not ok:
            report(what, got, want, *args)

    def expect_raise(what, fn, *args, exc=Exception):
        nonlocal calls
        calls += 1
        try:
            fn(*args)
        except exc:
            return
        except BaseException as e:  # PanicException, SystemError, ... are faults
            report(what + " raised " + type(e).__name__, str(e)[:200], *args)
            return
        report(what + " did not raise", *args)

    # (public function, reference) for pairs of texts.
    pair_scalars = [
        (t.levenshtein_distance, er.levenshtein_dp),
        (t.levenshtein_myers, er.levenshtein_dp),
        (t.damerau_levenshtein_distance, er.damerau_dp),
    ]
    ratio_scalars = [
        (t.fuzz_ratio, fr.ratio), (t.fuzz_qratio, fr.qratio), (t.fuzz_partial_ratio, fr.partial_ratio),
        (t.fuzz_token_sort_ratio, fr.token_sort_ratio), (t.fuzz_token_set_ratio, fr.token_set_ratio),
        (t.fuzz_token_ratio, fr.token_ratio),
        (t.fuzz_partial_token_sort_ratio, fr.partial_token_sort_ratio),
        (t.fuzz_partial_token_set_ratio, fr.partial_token_set_ratio),
        (t.fuzz_partial_token_ratio, fr.partial_token_ratio), (t.fuzz_wratio, fr.wratio),
    ]
    two_texts = [f for f, _ in pair_scalars] + [f for f, _ in ratio_scalars] + [
        t.jaro_similarity, t.jaro_winkler_similarity, t.jaro_optimized, t.damerau_ratio,
        t.fuzz_partial_ratio_alignment]
    batches = [t.levenshtein_batch, t.damerau_levenshtein_batch, t.fuzz_ratio_batch, t.jaro_winkler_batch_fn]
    scalar_of = {t.levenshtein_batch: t.levenshtein_distance,
                 t.damerau_levenshtein_batch: t.damerau_levenshtein_distance,
                 t.fuzz_ratio_batch: t.fuzz_ratio, t.jaro_winkler_batch_fn: t.jaro_winkler_similarity}
    cdists = [(t.levenshtein_cdist, t.levenshtein_distance), (t.damerau_levenshtein_cdist, t.damerau_levenshtein_distance),
              (t.jaro_winkler_cdist, t.jaro_winkler_similarity)]
    hostile_texts = [None, 3, 2.5, b"abc", ["a"], {"a": 1}, object(), RaisingIndex()]
    # Never numbers: each must raise. Odd numbers: a result or an ordinary exception.
    hostile_numbers = [RaisingIndex(), RaisingFloat(), "1", None, 1j, b"1"]
    odd_numbers = [2**64, -2**70, 10**100, float("nan"), float("inf"), -0.0, True, 2**63 - 1]

    def tolerate(what, fn, *args, want=None):
        """A result (equal to want, when given) or an ordinary exception."""
        nonlocal calls
        calls += 1
        try:
            got = fn(*args)
        except (Exception,) as e:
            if type(e).__name__ in ("PanicException", "SystemError"):
                report(what + " raised " + type(e).__name__, str(e)[:200], *args)
            return
        except BaseException as e:
            report(what + " raised " + type(e).__name__, str(e)[:200], *args)
            return
        if want is not None:
            check(what, got, want, *args)

    start = time.monotonic()
    while calls < max_calls and time.monotonic() - start < seconds:
        kind = rng.random()
        if kind < 0.45:  # values against the references
            a, b = text(), text()
            if rng.random() < 0.5:
                f, ref = rng.choice(pair_scalars)
                calls += 1
                check(f.__name__, f(a, b), ref(a, b), a, b)
            else:
                f, ref = rng.choice(ratio_scalars)
                c = rng.choice([0.0, 0.0, rng.uniform(0, 100), 100.0])
                calls += 1
                check(f.__name__, f(a, b, c), ref(a, b, c), a, b, c)
            if rng.random() < 0.2:
                calls += 1
                a2, b2 = StrSub(a), StrSub(b)
                check("str subclass", t.levenshtein_distance(a2, b2), t.levenshtein_distance(a, b), a, b)
        elif kind < 0.55:  # long texts: the entry points of a family agree
            al = rng.choice(ALPHABETS)
            a, b = text(rng.choice([70, 200, 700, 3000]), al), text(rng.choice([70, 200, 700, 3000]), al)
            calls += 4
            d = t.levenshtein_distance(a, b)
            check("myers long", t.levenshtein_myers(a, b), d, a, b)
            check("batch long", t.levenshtein_batch(a, [b, a])[0], d, a, b)
            check("cdist long", t.levenshtein_cdist([a], [b])[0][0], d, a, b)
            check("jw long", t.jaro_winkler_batch_fn(a, [b])[0], t.jaro_winkler_similarity(a, b), a, b)
            if len(a) <= 700 and len(b) <= 700:
                calls += 1
                check("damerau long", t.damerau_levenshtein_batch(a, [b])[0], t.damerau_levenshtein_distance(a, b), a, b)
        elif kind < 0.75:  # batches, cdists, extraction, _into
            q = text()
            cs = [text() for _ in range(rng.choice([0, 1, 2, 7, 40, 300]))]
            f = rng.choice(batches)
            calls += 1
            got = f(q, LyingLen(cs, rng.choice([0, 1, 10**9, len(cs)])) if rng.random() < 0.3 else cs)
            check(f.__name__, got, [scalar_of[f](q, c) for c in cs], q)
            cf, sf = rng.choice(cdists)
            xs = cs[:rng.randint(0, 12)]
            calls += 1
            check(cf.__name__, cf(xs, cs[:9]), [[sf(x, y) for y in cs[:9]] for x in xs], xs)
            cut, lim = rng.choice([0.0, 50.0, 100.0]), rng.randint(1, 8)
            calls += 1
            kept = sorted(((c, t.fuzz_ratio(q, c), i) for i, c in enumerate(cs) if t.fuzz_ratio(q, c) >= cut),
                          key=lambda r: -r[1])
            check("fuzz_extract", t.fuzz_extract(q, cs, cut, lim), kept[:lim], q, cs, cut, lim)
            if np is not None and cs:
                out = np.zeros(len(cs), dtype=np.uint32)
                calls += 1
                t.levenshtein_batch_into(q, cs, out)
                check("batch_into", out.tolist(), t.levenshtein_batch(q, cs), q)
                out2 = np.zeros((len(xs), min(9, len(cs))), dtype=np.float64)
                calls += 1
                t.jaro_winkler_cdist_into(xs, cs[:9], out2)
                check("cdist_into", out2.tolist(), t.jaro_winkler_cdist(xs, cs[:9]), xs)
            if rng.random() < 0.3:
                mm = (rng.randint(-5, 5), rng.randint(-5, 5), rng.randint(-5, 5))
                calls += 1
                check("nw batch", t.needleman_wunsch_batch_fn(q, cs[:20], *mm),
                      [t.needleman_wunsch_score(q, c, *mm) for c in cs[:20]], q, mm)
                calls += 1
                check("nw striped", t.needleman_wunsch_striped(q, q[::-1], *mm), t.needleman_wunsch_score(q, q[::-1], *mm), q)
        else:  # hostile arguments
            h = rng.random()
            if h < 0.25:
                f = rng.choice(two_texts)
                bad = rng.choice(hostile_texts)
                args = [text(), text()]
                args[rng.randint(0, 1)] = bad
                expect_raise(f.__name__ + " bad text", f, *args, exc=(TypeError, Boom))
            elif h < 0.45:
                f = rng.choice([f for f, _ in ratio_scalars] + [t.jaro_winkler_similarity])
                expect_raise(f.__name__ + " bad number", f, text(), text(), rng.choice(hostile_numbers),
                             exc=(TypeError, ValueError, OverflowError, Boom))
                tolerate(f.__name__ + " odd number", f, text(), text(), rng.choice(odd_numbers))
            elif h < 0.6:
                f = rng.choice(batches)
                cs = [text() for _ in range(rng.randint(1, 50))]
                expect_raise(f.__name__ + " raising iterable", f, text(), raising_iter(cs, rng.randrange(len(cs))), exc=Boom)
                q = text()
                tolerate(f.__name__ + " raising len", f, q, RaisingLen(cs), want=f(q, cs))
                bad = list(cs)
                bad[rng.randrange(len(bad))] = rng.choice(hostile_texts)
                expect_raise(f.__name__ + " bad item", f, text(), bad, exc=(TypeError, Boom))
            elif h < 0.75:
                expect_raise("extract bad limit", t.fuzz_extract, text(), [text() for _ in range(5)], 0.0,
                             rng.choice(hostile_numbers + [-1]), exc=(TypeError, ValueError, OverflowError, Boom))
                expect_raise("nw bad score", t.needleman_wunsch_score, text(), text(), rng.choice(hostile_numbers), 1, 1,
                             exc=(TypeError, ValueError, OverflowError, Boom))
                expect_raise("affine bad score", t.needleman_wunsch_affine_batch, text(), [text()], 1, -1,
                             rng.choice(hostile_numbers), -1, exc=(TypeError, ValueError, OverflowError, Boom))
                tolerate("nw odd score", t.needleman_wunsch_score, text(), text(), rng.choice(odd_numbers), -1, -1)
                tolerate("extract odd", t.fuzz_extract, text(), [text() for _ in range(5)],
                         rng.choice(odd_numbers), rng.choice(odd_numbers))
            elif h < 0.85 and np is not None:
                cs = [text() for _ in range(rng.randint(2, 20))]
                outs = [np.zeros(len(cs) + 1, dtype=np.uint32), np.zeros(len(cs), dtype=np.float64),
                        np.zeros(2 * len(cs), dtype=np.uint32)[::2], np.zeros((len(cs), 1), dtype=np.uint32),
                        [0] * len(cs), None]
                o = rng.choice(outs)
                before = o.copy() if hasattr(o, "copy") else None
                expect_raise("bad out", t.levenshtein_batch_into, text(), cs, o,
                             exc=(TypeError, ValueError, BufferError))
                if before is not None and not (np.asarray(o) == before).all():
                    report("bad out was written", cs)
            else:
                f = rng.choice(two_texts)
                n_args = rng.choice([0, 1, 4, 6])
                expect_raise(f.__name__ + " arity", f, *[text() for _ in range(n_args)], exc=TypeError)
                expect_raise(f.__name__ + " bad keyword", lambda: f(text(), text(), nonsense=1), exc=TypeError)
    print(f"calls {calls} mismatches {mismatches}", flush=True)
    return 1 if mismatches else 0


def run_levels(levels, seconds: float, calls: int, seed: int) -> int:
    failed = 0
    share = seconds / len(levels)
    for k, level in enumerate(levels):
        env = dict(os.environ, TARNVEL_SIMD=level)
        proc = subprocess.run([sys.executable, os.path.abspath(__file__), "--child", "--seconds", str(share),
                               "--calls", str(max(1, calls // len(levels))), "--seed", str(seed + k)],
                              env=env, capture_output=True, text=True, cwd=os.path.dirname(os.path.dirname(TESTS)))
        crashed = proc.returncode not in (0, 1)
        last = (proc.stdout.strip().splitlines() or ["calls 0 mismatches 0"])[-1]
        print(f"{level}: {last} crashes {int(crashed)}", flush=True)
        if proc.returncode != 0:
            failed = 1
            sys.stdout.write(proc.stdout[-4000:])
            sys.stdout.write(proc.stderr[-4000:])
    return failed


def main(argv=None) -> int:
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--seconds", type=float, default=float(os.environ.get("FUZZ_SECONDS", "4")))
    p.add_argument("--calls", type=int, default=10**12)
    p.add_argument("--seed", type=int, default=int(os.environ.get("SEED", "1")))
    p.add_argument("--levels", default=",".join(LEVELS))
    p.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    args = p.parse_args(argv)
    if args.child:
        try:
            return child(args.seed, args.seconds, args.calls)
        except BaseException:
            traceback.print_exc()
            return 2
    return run_levels(args.levels.split(","), args.seconds, args.calls, args.seed)


if __name__ == "__main__":
    sys.exit(main())
