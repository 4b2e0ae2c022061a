"""Dependency direction of the source tree: binding -> core -> engine/dispatch -> simd.

Only src/binding may see CPython or NumPy; the engine knows nothing of strings, kernels or
Python; the core never includes the binding; SIMD kernels never include the engine or the
binding. Skipped when the tests run without the source tree.
"""

import re
from pathlib import Path

import pytest

SRC = Path(__file__).resolve().parents[1] / "src"
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.M)


def includes(folder):
    for path in sorted((SRC / folder).rglob("*")):
        if path.suffix in {".cpp", ".hpp", ".h", ".inc"}:
            for name in INCLUDE.findall(path.read_text(encoding="utf-8")):
                yield path.relative_to(SRC), name


@pytest.fixture(scope="module", autouse=True)
def need_sources():
    if not SRC.is_dir():
        pytest.skip("source tree not available")


@pytest.mark.parametrize("folder", ["core", "simd", "dispatch", "engine"])
def test_python_and_numpy_only_in_binding(folder):
    bad = [(p, n) for p, n in includes(folder) if n == "Python.h" or n.startswith("numpy/")]
    assert not bad


@pytest.mark.parametrize("folder,forbidden", [
    ("engine", ("core/", "simd/", "dispatch/", "binding/")),
    ("core", ("binding/", "simd/")),
    ("simd", ("binding/", "engine/", "dispatch/kernels")),
    ("dispatch", ("binding/", "engine/", "core/")),
])
def test_dependencies_point_one_way(folder, forbidden):
    bad = [(str(p), n) for p, n in includes(folder) if n.startswith(forbidden)]
    assert not bad
