"""Shared fixtures and helpers for the test suite.

SEED and MULTIPLIER scale the randomized tests (defaults keep the run short); the seed in
use is printed in the header so a failure can be replayed.
"""

import os
import random
import subprocess
import sys
import textwrap

import pytest

# `python -m pytest` puts the checkout first on sys.path, where the package `tarnvel_match`
# sits without its compiled extension; the tests must see the installed one.
_CHECKOUT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:] = [p for p in sys.path if os.path.abspath(p or os.curdir) != _CHECKOUT]
# Child interpreters put their working directory first on sys.path too: start them elsewhere.
CHILD_CWD = os.path.dirname(_CHECKOUT)

SEED = int(os.environ.get("SEED", "20261207"))
MULTIPLIER = max(1, int(os.environ.get("MULTIPLIER", "1")))


# Set by .ci/run for the AddressSanitizer run; these tests cannot run there.
UNDER_ASAN = os.environ.get("TARNVEL_TEST_ASAN") == "1"
NOT_UNDER_ASAN = {
    "tests/test_memory_pressure.py": "lowers RLIMIT_AS, which ASan's shadow memory reservation "
                                     "cannot fit in",
    "tests/test_borrow_safety.py::test_over_reported_length_is_only_a_hint":
        "lowers RLIMIT_AS, which ASan's shadow memory reservation cannot fit in",
    "tests/test_borrow_safety.py::test_match_collection_ignores_lying_hints":
        "lowers RLIMIT_AS, which ASan's shadow memory reservation cannot fit in",
    "tests/test_interrupt_calls.py::test_into_direct_write_stops_quickly":
        "its 0.5 s latency bound assumes uninstrumented speed (about 1.1 s under ASan)",
    "tests/test_borrow_safety.py::test_forked_child_starts_with_no_borrows":
        "forks while another thread allocates; the sanitizer allocator's locks can be held "
        "across the fork and hang the child (seen once in three runs)",
    "tests/test_typing.py": "checks the stubs with mypy and pyright, no compiled code (ran in the "
                            "main build)",
}


def pytest_collection_modifyitems(config, items):
    if not UNDER_ASAN:
        return
    for item in items:
        for prefix, reason in NOT_UNDER_ASAN.items():
            if item.nodeid == prefix or item.nodeid.startswith(prefix + "::") or (
                    prefix.endswith(".py") and item.nodeid.startswith(prefix)):
                item.add_marker(pytest.mark.skip(reason=f"under ASan: {reason}"))
                break


def simd_reached():
    """(target the kernel table reached, its lanes, CPU has AVX2, CPU has AVX-512) in this
    process, or None without the private test extension."""
    try:
        import _tarnvel_testing
    except ImportError:
        return None
    lanes, avx2, avx512, target = _tarnvel_testing.simd_info()
    return target, lanes, avx2, avx512


def pytest_report_header(config):
    lines = [f"tarnvel tests: SEED={SEED} MULTIPLIER={MULTIPLIER}"]
    requested = os.environ.get("TARNVEL_SIMD", "(automatic)")
    reached = simd_reached()
    if reached is None:
        lines.append(f"tarnvel SIMD: TARNVEL_SIMD={requested}, target reached unknown (no _tarnvel_testing)")
    else:
        target, lanes, avx2, avx512 = reached
        capped = requested in ("avx2", "avx512") and target != requested
        lines.append(f"tarnvel SIMD: TARNVEL_SIMD={requested}, target reached {target}"
                     f"{' (capped: the processor lacks ' + requested + ')' if capped else ''}; "
                     f"simd_lanes={lanes}, cpu avx2={avx2} avx512={avx512}")
    return lines


@pytest.fixture
def rng(request):
    """A random generator seeded per test, so each test replays on its own."""
    return random.Random(f"{SEED}:{request.node.nodeid}")


@pytest.fixture(scope="session")
def testing():
    """The private test extension (built with -Ccmake.define.TARNVEL_TESTING=ON)."""
    return pytest.importorskip("_tarnvel_testing")


def run_python(code: str, env: dict | None = None, timeout: float = 120) -> str:
    """Runs code in a fresh interpreter and returns its stdout; fails the test on error."""
    full_env = dict(os.environ)
    for key in ("TARNVEL_SIMD", "TARNVEL_NUM_THREADS"):
        full_env.pop(key, None)
    full_env.update(env or {})
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=full_env,
                          capture_output=True, text=True, timeout=timeout, cwd=CHILD_CWD)
    assert proc.returncode == 0, f"subprocess failed:\n{proc.stdout}\n{proc.stderr}"
    return proc.stdout


SIMD_LEVELS = ["portable", "neon", "avx2", "avx512"]

# Alphabets for random texts: small ones give many matches, the others exercise the
# code-point paths (two-, three- and four-byte UTF-8).
ASCII_SMALL = "abc"
ASCII_WIDE = "abcdefghij klmnopqrstuvwxyz"
NON_ASCII = "aábcçéè日本語🙂 "


def random_text(rng, max_len, alphabet=ASCII_SMALL, min_len=0):
    return "".join(rng.choice(alphabet) for _ in range(rng.randint(min_len, max_len)))
