"""Running out of memory or threads raises MemoryError, never aborts the process.

The sweep forks one child per (shape, address-space limit) from a parent that has
prepared the inputs and knows the expected results: each child lowers RLIMIT_AS to its
current size plus a margin, makes the call, and reports a result (checked against the
parent's) or MemoryError, after which a call under a comfortable limit must work. An
abort, a signal, or output on stderr fails the test.
"""

import os
import subprocess
import sys
import textwrap

import pytest

from conftest import CHILD_CWD, run_python

pytest.importorskip("numpy")

SWEEP = textwrap.dedent(r"""
    import hashlib, os, random, resource, signal, sys
    import numpy as np, tarnvel as t

    rng = random.Random(int(sys.argv[1]))
    AL = "aábcçéè日本語🙂 xyzw"
    def words(n, lo, hi):
        return ["".join(rng.choice(AL) for _ in range(rng.randint(lo, hi))) for _ in range(n)]
    a, b = words(1100, 5, 40), words(1000, 5, 40)
    long_a = "".join(rng.choice(AL) for _ in range(3000))
    long_b = "".join(rng.choice(AL) for _ in range(2000))

    def jw_into():
        out = np.zeros((len(a), len(b)), dtype=np.float64)
        t.jaro_winkler_cdist_into(a, b, out)
        return out.tobytes()
    def lev_into():
        out = np.zeros((300, len(b)), dtype=np.uint32)
        t.levenshtein_cdist_into(a[:300], b, out)
        return out.tobytes()
    SHAPES = {
        "jw_into": jw_into,
        "lev_into": lev_into,
        "lev_cdist": lambda: t.levenshtein_cdist(a[:200], b),
        "dam_batch": lambda: t.damerau_levenshtein_batch(long_b[:300], a),
        "extract": lambda: t.fuzz_extract(a[0], a + b, limit=7),
        "scalar": lambda: (t.fuzz_partial_ratio(long_a, long_b), t.levenshtein_distance(long_a, long_b)),
    }
    digest = lambda r: hashlib.sha256(repr(r).encode()).hexdigest()

    def vm_bytes():
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmSize"):
                    return int(line.split()[1]) * 1024

    def child(fn, extra, warm):
        signal.alarm(120)  # a hang ends the child with SIGALRM instead of stalling the test
        if warm:  # the pool started before the limit
            t.levenshtein_batch("ab", ["ab"] * 64)
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        lim = max(vm_bytes() + extra, 1 << 20)
        resource.setrlimit(resource.RLIMIT_AS, (lim, hard))
        box = []
        def run():
            try:
                box.append(("ok", digest(fn())))
            except MemoryError:
                box.append(("memory", None))
        run()
        status, d = box[0]
        if status == "ok":
            os._exit(0 if d == expected[name] else 4)
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        os._exit(10 if digest(fn()) == expected[name] else 3)

    expected = {name: digest(fn()) for name, fn in SHAPES.items()}
    counts = {}
    margins = [m << 20 for m in range(0, 45, 3)] + [512 << 20]
    for name, fn in SHAPES.items():
        for k, extra in enumerate(margins):
            warm = k % 2 == 1
            pid = os.fork()
            if pid == 0:
                try:
                    child(fn, extra, warm)
                finally:
                    os._exit(5)
            _, status = os.waitpid(pid, 0)
            code = os.waitstatus_to_exitcode(status)
            if extra == margins[-1] and code != 0:
                print("comfortable limit failed", name, code, flush=True)
            counts[(name, code)] = counts.get((name, code), 0) + 1
    for (name, code), n in sorted(counts.items()):
        print(name, code, n)
""")


def test_address_space_sweep_gives_results_or_memory_error():
    env = dict(os.environ, TARNVEL_NUM_THREADS="8")
    env.pop("TARNVEL_SIMD", None)
    proc = subprocess.run([sys.executable, "-c", SWEEP, "17"], env=env, capture_output=True,
                          text=True, timeout=600, cwd=CHILD_CWD)
    assert proc.returncode == 0, proc.stderr
    assert proc.stderr == "", proc.stderr  # no abort message from a child either
    rows = [line.split() for line in proc.stdout.splitlines()]
    assert all(len(r) == 3 for r in rows), proc.stdout
    # 0: a correct result; 10: MemoryError, then a correct retry. Anything else is a
    # crash, a hang or a wrong result.
    assert {r[1] for r in rows} <= {"0", "10"}, proc.stdout
    # The matrix needs more than the tight limits allow: both outcomes occurred.
    assert {r[1] for r in rows if r[0] == "jw_into"} == {"0", "10"}, proc.stdout


POOL_START = """
    import resource, _tarnvel_testing as T
    def vm_bytes():
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmSize"):
                    return int(line.split()[1]) * 1024
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (vm_bytes() + (1 << 20), hard))
    outcomes = []
    for _ in range(2):
        try:
            T.engine_map(1000)
            outcomes.append("ran")
        except MemoryError as e:
            outcomes.append("MemoryError:" + str(e))
    print(outcomes[0].split(":")[0], outcomes[1].split(":")[0], T.engine_info()[1])
    print(outcomes[0].split(":", 1)[-1])
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    print(T.engine_map(1000) == [3 * i + 1 for i in range(1000)], *T.engine_info())
"""


def test_pool_that_cannot_start_raises_memory_error_and_is_retried(testing):
    # Eight 512 KiB stacks cannot fit in 1 MiB of address space.
    out = run_python(POOL_START, {"TARNVEL_NUM_THREADS": "8"}).splitlines()
    assert out[0] == "MemoryError MemoryError False"
    assert out[1].startswith("cannot start the worker threads")
    assert out[2] == "True 8 True"


@pytest.mark.parametrize("value", ["256", "257", "1024", "99999999999999999999999"])
def test_thread_count_is_clamped(testing, value):
    out = run_python("""
        import os, _tarnvel_testing as T
        before = len(os.listdir('/proc/self/task'))
        T.engine_map(5000)
        print(T.engine_info()[0], len(os.listdir('/proc/self/task')) - before)
    """, {"TARNVEL_NUM_THREADS": value})
    assert out.split() == ["256", "256"]


STACK = """
    import random, _tarnvel_testing as T
    T.engine_paint_stacks()
    rng = random.Random(4)
    AL = "aábcçéè日本語🙂 xyzw" + "".join(chr(0x4e00 + i) for i in range(300))
    def words(n, lo, hi):
        return ["".join(rng.choice(AL) for _ in range(rng.randint(lo, hi))) for _ in range(n)]
    short, mid, long = words(64, 1, 64), words(32, 65, 700), words(8, 2000, 5000)
    calls = []
    for xs in (short, mid, long):
        calls += [
            ("levenshtein_cdist", (xs, xs)),
            ("damerau_levenshtein_cdist", (xs[:8], xs)),
            ("jaro_winkler_cdist", (xs, xs)),
            ("fuzz_ratio_batch", (xs[0], xs * 4)),
            ("fuzz_extract", (xs[-1], xs * 40, 0.0, 5)),
            ("needleman_wunsch_batch_fn", (xs[0], xs, 1, -1, -2)),
            ("needleman_wunsch_affine_batch", (xs[0], xs, 2, -1, -3, -1)),
        ]
    for name, args in calls:
        T.public_call(name, args)
    print(*T.engine_stack_high_water())
"""


def test_deepest_kernels_fit_the_worker_stack(testing):
    used, size = map(int, run_python(STACK, {"TARNVEL_NUM_THREADS": "2"}).split())
    print(f"deepest worker stack use: {used} of {size} bytes")
    assert 0 < used < size // 4
