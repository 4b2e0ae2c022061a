"""GPU-facing functions, the SIMD level and the processor flags."""

import pytest

import tarnvel
from conftest import SIMD_LEVELS, run_python

CPU_ONLY = "CPU-only mode (built without gpu feature)"


def test_gpu_surface_reports_cpu_only():
    assert tarnvel.is_gpu_available() is False
    assert tarnvel.warmup() == (False, "Built without GPU support (cpu-only)")
    assert tarnvel.gpu_info() == CPU_ONLY == tarnvel.hardware_info()
    assert tarnvel.gpu_info() is not tarnvel.gpu_info()  # a new str each call
    assert tarnvel.set_cpu_only(True) is None
    assert tarnvel.set_gpu_threshold(threshold=0) is None
    # Nothing they do changes a later result.
    assert tarnvel.fuzz_ratio("kitten", "sitting") == 61.53846153846154


def _simd_info(env):
    out = run_python("""
        import _tarnvel_testing as t
        print(*t.simd_info())
    """, env=env)
    lanes, avx2, avx512, target = out.split()
    return int(lanes), avx2 == "True", avx512 == "True", target


@pytest.fixture(scope="module")
def native(testing):
    return _simd_info({})


def test_automatic_level_follows_the_processor(native):
    lanes, avx2, avx512, _ = native
    assert lanes == (8 if avx512 else 4 if avx2 else 1)


@pytest.mark.parametrize("level,lanes", [("portable", 1), ("neon", 2), ("avx2", 4), ("avx512", 8)])
def test_forced_level_sets_lanes_but_never_exceeds_the_processor(native, level, lanes):
    got_lanes, avx2, avx512, target = _simd_info({"TARNVEL_SIMD": level})
    assert got_lanes == lanes
    assert (avx2, avx512) == native[1:3]  # forcing never changes what the CPU reports
    if level in ("portable", "neon"):
        assert target == "portable"
    if target == "avx2":
        assert native[1]
    if target == "avx512":
        assert native[2]
    # Forcing asks for at most that level: on a processor without it the table stays lower.
    assert target in {"portable": {"portable"}, "neon": {"portable"}, "avx2": {"portable", "avx2"},
                      "avx512": {"portable", "avx2", "avx512"}}[level], target
    if level in ("avx2", "avx512") and target != level:
        pytest.skip(f"TARNVEL_SIMD={level} capped to {target}: the processor lacks {level}")


@pytest.mark.parametrize("value", ["AVX2", "avx-512", "", "sse", "avx2 ", " portable"])
def test_unrecognised_level_is_ignored(native, value):
    assert _simd_info({"TARNVEL_SIMD": value})[0] == native[0]


def test_level_is_read_once_per_process(testing):
    out = run_python("""
        import os, _tarnvel_testing as t
        first = t.simd_info()[0]
        os.environ['TARNVEL_SIMD'] = 'neon'
        print(first, t.simd_info()[0])
    """, env={"TARNVEL_SIMD": "portable"})
    assert out.split() == ["1", "1"]


def test_results_identical_under_every_level():
    code = """
        import random, tarnvel
        rng = random.Random(5)
        alpha = 'abcé日 '
        pairs = [(''.join(rng.choice(alpha) for _ in range(rng.randint(0, 150))),
                  ''.join(rng.choice(alpha) for _ in range(rng.randint(0, 150)))) for _ in range(300)]
        print([tarnvel.fuzz_ratio(a, b) for a, b in pairs])
    """
    outs = {level: run_python(code, env={"TARNVEL_SIMD": level}) for level in SIMD_LEVELS}
    assert len(set(outs.values())) == 1
