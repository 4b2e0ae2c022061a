"""Type checkers against the installed packages: the stubs are found (mypy and pyright),
they report the mistakes a user makes and accept the correct calls, they agree with the
runtime (stubtest), and every stub function carries a short docstring.

mypy and pyright come with the `test` extra; each test skips when its tool is missing (or,
for pyright, when it cannot start, e.g. without Node.js and offline).
"""

import ast
import importlib.metadata
import inspect
import os
import re
import subprocess
import sys
import textwrap
from functools import lru_cache
from pathlib import Path

import pytest

import tarnvel

HERE = Path(__file__).resolve().parent / "typing"

# A user script. Lines ending in "# E" hold one planted mistake each; every other line is
# correct and must not be reported.
USER_SCRIPT = textwrap.dedent('''\
    import numpy as np
    import tarnvel
    import tarnvel_match

    d: int = tarnvel.levenshtein_distance("kitten", "sitting")
    s: float = tarnvel.jaro_winkler_similarity(a="martha", b="marhta", p=0.2)
    r: float = tarnvel.fuzz_ratio("a", "b", score_cutoff=50)
    out = np.zeros(2, dtype=np.uint32)
    tarnvel.levenshtein_batch_into("a", ["b", "c"], out)
    rows: list[list[float]] = tarnvel.jaro_winkler_cdist(["a"], ("b", "c"))
    for choice, score, index in tarnvel.fuzz_extract("a", ["b"], limit=2):
        print(choice.upper(), score + 1.0, index + 1)
    best = tarnvel.fuzz_extract_one("a", ["b"])
    if best is not None:
        print(best[0].upper())
    tarnvel.set_gpu_threshold(threshold=None)
    info: str = tarnvel.gpu_info()
    found = tarnvel_match.extract_one("a", ["b"], scorer="wratio", score_cutoff=50)
    labels = tarnvel_match.dedupe(["a", "b"], score_cutoff=90)

    tarnvel.levenshtein_distance("a", 3)  # E
    name: str = tarnvel.damerau_levenshtein_distance("a", "b")  # E
    tarnvel.fuzz_ratio("a", "b", cutoff=50.0)  # E
    tarnvel.jaro_similarity("a")  # E
    tarnvel.fuzz_extract_one("a", ["b"])[0]  # E
    for c, sc, i in tarnvel.fuzz_extract("a", ["b"]):
        i.upper()  # E
    tarnvel.levenshtein_cdist("ab", [1, 2])  # E
    tarnvel.jaro_winkler_similarity("a", "b", p="0.1")  # E
    flag: bool = tarnvel.warmup()  # E
    tarnvel.levenshtein_distence("a", "b")  # E
    tarnvel_match.extract_one(42, ["b"])  # E
    tarnvel_match.extract("a", ["b"], "ratio")  # E
    tarnvel_match.extract_one("a", ["b"])[2]  # E
    tarnvel_match.dedupe(["a"])  # E
''')
PLANTED = {n for n, line in enumerate(USER_SCRIPT.splitlines(), 1) if line.endswith("# E")}


def _run(cmd, cwd, timeout=300):
    # Away from the checkout, so that only the installed packages can be found.
    env = {k: v for k, v in os.environ.items() if k not in ("MYPYPATH", "PYTHONPATH")}
    return subprocess.run(cmd, cwd=cwd, env=env, capture_output=True, text=True, timeout=timeout)


def _error_lines(output, pattern):
    return {int(m.group(1)) for m in re.finditer(pattern, output, re.M)}


@pytest.fixture
def user_script(tmp_path):
    path = tmp_path / "user_script.py"
    path.write_text(USER_SCRIPT, encoding="utf-8")
    return path


def test_stub_package_is_installed_beside_the_module():
    files = {str(f) for f in importlib.metadata.files("tarnvel") or ()}
    assert "tarnvel-stubs/__init__.pyi" in files
    # One copy only: a second stub beside the extension could drift from this one.
    assert "tarnvel.pyi" not in files
    assert "tarnvel_match/py.typed" in files and "tarnvel_match/_native.pyi" in files


def test_mypy_reports_every_planted_mistake_and_nothing_else(user_script, tmp_path):
    pytest.importorskip("mypy")
    res = _run([sys.executable, "-m", "mypy", "--no-incremental", "--cache-dir", str(tmp_path / "cache"),
                "--show-error-codes", "--no-error-summary", user_script.name], cwd=tmp_path)
    errors = _error_lines(res.stdout, r"^user_script\.py:(\d+): error:")
    assert "import-not-found" not in res.stdout and "import-untyped" not in res.stdout, res.stdout
    assert errors == PLANTED, res.stdout


@lru_cache(maxsize=1)
def _pyright_works():
    try:
        import pyright  # noqa: F401
    except ImportError:
        return False
    try:
        res = _run([sys.executable, "-m", "pyright", "--version"], cwd=os.getcwd(), timeout=120)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return res.returncode == 0


def test_pyright_reports_every_planted_mistake_and_nothing_else(user_script, tmp_path):
    if not _pyright_works():
        pytest.skip("pyright is not installed or cannot start (it needs Node.js)")
    res = _run([sys.executable, "-m", "pyright", "--pythonpath", sys.executable, user_script.name],
               cwd=tmp_path)
    assert "reportMissingImports" not in res.stdout and "reportMissingModuleSource" not in res.stdout, res.stdout
    errors = _error_lines(res.stdout, r"user_script\.py:(\d+):\d+ - error:")
    assert errors == PLANTED, res.stdout


def _stubtest(tmp_path, *extra):
    return _run([sys.executable, "-m", "mypy.stubtest", "--mypy-config-file", str(HERE / "stubtest.ini"),
                 *extra, "tarnvel", "tarnvel_match"], cwd=tmp_path)


def test_stubtest_passes_with_the_allowlist(tmp_path):
    pytest.importorskip("mypy")
    res = _stubtest(tmp_path, "--allowlist", str(HERE / "stubtest_allowlist.txt"))
    assert res.returncode == 0, res.stdout + res.stderr


def test_stubtest_finds_only_what_the_allowlist_explains(tmp_path):
    # The allowlist names whole functions; this run without it makes sure the only
    # complaint about each of them is the documentation-only "/".
    pytest.importorskip("mypy")
    res = _stubtest(tmp_path)
    headers = [line for line in res.stdout.splitlines() if line.startswith("error: ")]
    assert headers, res.stdout + res.stderr
    not_signatures = {"tarnvel_match.__main__", "tarnvel_match._scorers._TABLE"}
    other = [h for h in headers if "should be positional-only" not in h
             and h.split()[1] not in not_signatures]
    assert not other, "\n".join(other)


def _positional_only_functions():
    for name in tarnvel.__all__:
        fn = getattr(tarnvel, name)
        if not callable(fn):
            continue
        params = list(inspect.signature(fn).parameters.values())
        if any(p.kind is p.POSITIONAL_ONLY for p in params):
            yield name, params


SAMPLE = {"a": "kitten", "b": "sitting", "query": "kitten", "candidates": ["sitten", "kitchen"],
          "choices": ["sitten", "kitchen"], "list_a": ["ab", "xyz"], "list_b": ["ba", "xy", ""],
          "p": 0.2, "score_cutoff": 10.0, "limit": 1, "match_score": 2, "mismatch_score": -1,
          "gap_penalty": -2, "gap_open": -3, "gap_extend": -1, "cpu_only": True}


def _out_for(name):
    np = pytest.importorskip("numpy")
    dtype = np.float64 if name.startswith("jaro") else np.uint32
    return np.zeros((2, 3) if "cdist" in name else 2, dtype=dtype)


@pytest.mark.parametrize("name,params", list(_positional_only_functions()), ids=lambda x: x if isinstance(x, str) else "")
def test_the_slash_is_documentation_only(name, params):
    # What the allowlist claims: a parameter the text signature marks positional-only is
    # accepted by keyword, with the same result.
    fn = getattr(tarnvel, name)
    values = {p.name: (_out_for(name) if p.name == "out" else SAMPLE[p.name]) for p in params}
    positional = fn(*values.values())
    if "out" in values:
        first = values["out"].copy()
        values["out"][:] = 0
    assert fn(**values) == positional
    if "out" in values:
        assert (values["out"] == first).all() and first.any()


def _stub_functions():
    path = Path(importlib.metadata.distribution("tarnvel").locate_file("tarnvel-stubs/__init__.pyi"))
    tree = ast.parse(path.read_text(encoding="utf-8"))
    stub_all = next(ast.literal_eval(node.value) for node in tree.body
                    if isinstance(node, ast.Assign) and getattr(node.targets[0], "id", "") == "__all__")
    defs = {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}
    return stub_all, defs


def test_stubs_cover_the_module_and_every_function_is_documented():
    stub_all, defs = _stub_functions()
    assert stub_all == tarnvel.__all__
    assert set(defs) == {n for n in tarnvel.__all__ if n != "__version__"}
    for name, node in defs.items():
        doc = ast.get_docstring(node)
        assert doc, f"{name} has no docstring"
        assert 1 <= len(doc.splitlines()) <= 3, name
        # The stub documents; the body is nothing but the docstring.
        assert len(node.body) == 1, name
    # The module's own docstrings are not replaced by the stubs'.
    assert tarnvel.levenshtein_distance.__doc__ != ast.get_docstring(defs["levenshtein_distance"])
