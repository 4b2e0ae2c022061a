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


# --- calls through the kernel table ------------------------------------------------

SLOT = re.compile(r"\(\s*\*\s*(\w+)\s*(?:\[[^\]]*\])?\s*\)\s*\(")
COMMENT = re.compile(r"//[^\n]*|/\*.*?\*/", re.S)
FILL_CALL = re.compile(r"\bwidths\(\s*\w+\Z")


def table_header():
    # The table's header lives in dispatch/ (or, before that move, in simd/).
    for rel in ("dispatch/kernel_table.hpp", "simd/kernel_table.hpp"):
        if (SRC / rel).is_file():
            return SRC / rel
    pytest.fail("no kernel_table.hpp in src/dispatch or src/simd")


def table_slots():
    text = COMMENT.sub("", table_header().read_text(encoding="utf-8"))
    body = re.search(r"struct KernelTable\s*\{(.*?)\n\};", text, re.S)
    assert body, "struct KernelTable not found"
    return sorted(set(SLOT.findall(body.group(1))))


def slot_uses():
    """(folder, file, slot, 'write' | 'read') for every use of a table slot in src/."""
    slots = table_slots()
    use = re.compile(r"\.(%s)\b(\s*\[[^\]]*\])?(\s*=(?!=))?" % "|".join(slots))
    for path in sorted(SRC.rglob("*")):
        if path.suffix not in {".cpp", ".hpp", ".inc"} or path == table_header():
            continue
        text = COMMENT.sub("", path.read_text(encoding="utf-8"))
        for m in use.finditer(text):
            rel = path.relative_to(SRC)
            # widths(t.slot, ...) fills one slot per lane width.
            filled = m.group(3) or FILL_CALL.search(text, 0, m.start())
            yield rel.parts[0], str(rel), m.group(1), "write" if filled else "read"


def test_every_table_slot_is_filled_and_called():
    uses = list(slot_uses())
    slots = table_slots()
    assert len(slots) >= 10, slots  # the parser found the table
    filled = {s for _, _, s, how in uses if how == "write"}
    called = {s for folder, _, s, how in uses if how == "read" and folder == "core"}
    assert not set(slots) - filled, "slots no target fills"
    assert not set(slots) - called, "slots the core never calls"


def test_only_the_core_calls_kernels_through_the_table():
    # simd fills slots and dispatch picks the table; binding reaches kernels only through
    # core functions (the private test functions included).
    bad = [(f, s) for folder, f, s, how in slot_uses() if how == "read" and folder != "core"]
    assert not bad


def layer_sources(*folders):
    for folder in folders:
        for path in sorted((SRC / folder).rglob("*")):
            if path.suffix in {".cpp", ".hpp", ".inc"}:
                yield str(path.relative_to(SRC)), COMMENT.sub("", path.read_text(encoding="utf-8"))


def test_no_cpu_feature_tests_outside_dispatch():
    feature = re.compile(r"__builtin_cpu_supports|__get_cpuid|\bcpuid\b|_xgetbv|xgetbv")
    bad = [f for f, text in layer_sources("core", "simd", "engine", "binding") if feature.search(text)]
    assert not bad


def test_core_and_binding_pick_kernels_only_through_the_table():
    direct = re.compile(r"\bsimd::(avx2|avx512|neon|portable)::\w+\s*\(")
    bad = [f for f, text in layer_sources("core", "binding") if direct.search(text)]
    assert not bad
