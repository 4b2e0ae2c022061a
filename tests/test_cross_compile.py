"""Every translation unit of src/ compiles for aarch64 (tools/cross_check.py with Debian's
g++-aarch64-linux-gnu), so the portable paths and the x86 guards cannot rot unnoticed.
Skipped without the cross compiler or the source tree."""

import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import CHILD_CWD

ROOT = Path(__file__).resolve().parents[1]
SCRIPT = ROOT / "tools" / "cross_check.py"
CXX = "aarch64-linux-gnu-g++"

pytestmark = [
    pytest.mark.skipif(not SCRIPT.is_file(), reason="source tree not available"),
    pytest.mark.skipif(shutil.which(CXX) is None, reason=f"{CXX} not installed"),
]


def cross_check(*args):
    return subprocess.run([sys.executable, str(SCRIPT), "--cxx", CXX, *map(str, args)],
                          capture_output=True, text=True, cwd=CHILD_CWD, timeout=900)


def test_every_translation_unit_compiles_for_aarch64():
    res = cross_check()
    assert res.returncode == 0, res.stdout + res.stderr
    count = len(list((ROOT / "src").rglob("*.cpp")))
    assert f"{count} of {count} translation units compile" in res.stdout


def test_unguarded_x86_code_is_reported(tmp_path):
    # The check must really compile for the other target: x86 intrinsics outside an
    # x86 guard, and the CPUID header, fail there while they build fine on this machine.
    bad = tmp_path / "unguarded_avx2.cpp"
    bad.write_text('#include <immintrin.h>\nint lanes() { return _mm256_extract_epi32(_mm256_setzero_si256(), 0); }\n')
    cpuid = tmp_path / "cpuid.cpp"
    cpuid.write_text('#include <cpuid.h>\nint f() { unsigned a, b, c, d; return __get_cpuid(1, &a, &b, &c, &d); }\n')
    good = tmp_path / "guarded.cpp"
    good.write_text('#if defined(__x86_64__)\n#include <immintrin.h>\n#endif\nint lanes() { return 1; }\n')
    res = cross_check(bad, cpuid, good)
    assert res.returncode == 1
    assert "FAILED" in res.stdout and "unguarded_avx2.cpp" in res.stdout and "cpuid.cpp" in res.stdout
    assert "FAILED " + str(good) not in res.stdout
    assert "1 of 3 translation units compile" in res.stdout


def test_warnings_count_as_failures(tmp_path):
    # A variable used only on x86 becomes unused elsewhere; that is rot too.
    src = tmp_path / "unused.cpp"
    src.write_text('int f() {\n    int lanes = 4;\n#if defined(__x86_64__)\n    return lanes;\n#endif\n    return 1;\n}\n')
    res = cross_check(src)
    assert res.returncode == 1 and "unused" in res.stdout
