"""Compile every C++ translation unit of src/ for another target, so that code for
processors this machine is not (aarch64: no CPUID, no x86 intrinsics, only the portable
kernels) keeps compiling.

    python tools/cross_check.py [--cxx aarch64-linux-gnu-g++] [--objects] [-j N] [FILE ...]

By default every src/**/*.cpp is checked with -fsyntax-only; --objects compiles to object
files instead (slower; also catches what only code generation sees). Binding files are
compiled against this interpreter's headers and NumPy's, which is enough for a check:
the limited API looks the same on every 64-bit Linux. Exits 0 when everything compiles,
1 otherwise (with the compiler's messages), 2 when the compiler is missing.
"""

import argparse
import os
import shutil
import subprocess
import sys
import sysconfig
import tempfile
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
SRC = ROOT / "src"
DEFAULT_CXX = "aarch64-linux-gnu-g++"

# The flags of CMakeLists.txt that decide what compiles (no -m target flags anywhere).
FLAGS = ["-std=c++20", "-ffp-contract=off", "-fno-fast-math", "-Wall", "-Wextra", "-Werror", "-fPIC",
         "-DPy_LIMITED_API=0x030A0000", "-DNPY_NO_DEPRECATED_API=NPY_1_7_API_VERSION",
         "-DNPY_TARGET_VERSION=NPY_1_23_API_VERSION"]


def include_dirs():
    dirs = [str(SRC), sysconfig.get_paths()["include"]]
    try:
        import numpy

        dirs.append(numpy.get_include())
    except ImportError:
        pass  # only ndarray.cpp needs NumPy; it then fails with a clear message
    return dirs


def sources(names):
    if names:
        return [Path(n).resolve() for n in names]
    return sorted(SRC.rglob("*.cpp"))


def check(cxx, path, objects, tmpdir, extra):
    cmd = [cxx, *FLAGS, *(f"-I{d}" for d in include_dirs()), *extra]
    if objects:
        cmd += ["-O1", "-c", str(path), "-o", os.path.join(tmpdir, path.stem + ".o")]
    else:
        cmd += ["-fsyntax-only", str(path)]
    res = subprocess.run(cmd, capture_output=True, text=True)
    return path, res.returncode, res.stdout + res.stderr


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("files", nargs="*", help="translation units (default: every src/**/*.cpp)")
    ap.add_argument("--cxx", default=os.environ.get("TARNVEL_CROSS_CXX", DEFAULT_CXX))
    ap.add_argument("--objects", action="store_true", help="build object files, not only -fsyntax-only")
    ap.add_argument("-j", "--jobs", type=int, default=min(2, os.cpu_count() or 1))
    ap.add_argument("-D", dest="defines", action="append", default=[], help="extra preprocessor definition")
    args = ap.parse_args(argv)

    if shutil.which(args.cxx) is None:
        print(f"cross_check: {args.cxx} not found", file=sys.stderr)
        return 2
    files = sources(args.files)
    extra = [f"-D{d}" for d in args.defines]
    failed = 0
    with tempfile.TemporaryDirectory() as tmpdir, ThreadPoolExecutor(max(1, args.jobs)) as pool:
        for path, rc, out in pool.map(lambda p: check(args.cxx, p, args.objects, tmpdir, extra), files):
            if rc != 0:
                failed += 1
                print(f"FAILED {path.relative_to(ROOT) if path.is_relative_to(ROOT) else path}\n{out}")
    print(f"cross_check: {len(files) - failed} of {len(files)} translation units compile with {args.cxx}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
