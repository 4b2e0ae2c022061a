"""The module object: table order, signatures, docstrings, boundary behaviour."""

import inspect
import shutil
import subprocess
import sys
import threading

import pytest

import tarnvel
from conftest import run_python

FULL_ORDER = [
    "levenshtein_distance", "levenshtein_batch", "levenshtein_batch_into", "levenshtein_cdist",
    "levenshtein_cdist_into", "damerau_levenshtein_distance", "damerau_levenshtein_batch",
    "damerau_levenshtein_batch_into", "damerau_levenshtein_cdist", "damerau_levenshtein_cdist_into",
    "damerau_ratio", "needleman_wunsch_score", "needleman_wunsch_batch_fn", "needleman_wunsch_affine",
    "needleman_wunsch_affine_batch", "jaro_similarity", "jaro_winkler_similarity",
    "jaro_winkler_batch_fn", "jaro_winkler_batch_into", "jaro_winkler_cdist", "jaro_winkler_cdist_into",
    "fuzz_ratio", "fuzz_partial_ratio", "fuzz_partial_ratio_alignment", "fuzz_token_sort_ratio",
    "fuzz_token_set_ratio", "fuzz_token_ratio", "fuzz_wratio", "fuzz_ratio_batch", "fuzz_extract",
    "fuzz_extract_one", "fuzz_partial_token_sort_ratio", "fuzz_partial_token_set_ratio",
    "fuzz_partial_token_ratio", "fuzz_qratio", "levenshtein_myers", "needleman_wunsch_striped",
    "jaro_optimized", "set_cpu_only", "set_gpu_threshold", "is_gpu_available", "warmup", "gpu_info",
    "hardware_info",
]

# Text signatures of every function, exactly as their docstrings begin.
SIGNATURES = {
    "levenshtein_distance": "(a, b, /)",
    "levenshtein_batch": "(query, candidates, /)",
    "levenshtein_batch_into": "(query, candidates, out, /)",
    "levenshtein_cdist": "(list_a, list_b, /)",
    "levenshtein_cdist_into": "(list_a, list_b, out, /)",
    "damerau_levenshtein_distance": "(a, b, /)",
    "damerau_levenshtein_batch": "(query, candidates, /)",
    "damerau_levenshtein_batch_into": "(query, candidates, out, /)",
    "damerau_levenshtein_cdist": "(list_a, list_b, /)",
    "damerau_levenshtein_cdist_into": "(list_a, list_b, out, /)",
    "damerau_ratio": "(a, b, /)",
    "needleman_wunsch_score": "(a, b, match_score, mismatch_score, gap_penalty, /)",
    "needleman_wunsch_batch_fn": "(query, candidates, match_score, mismatch_score, gap_penalty, /)",
    "needleman_wunsch_affine": "(a, b, match_score, mismatch_score, gap_open, gap_extend, /)",
    "needleman_wunsch_affine_batch":
        "(query, candidates, match_score, mismatch_score, gap_open, gap_extend, /)",
    "jaro_similarity": "(a, b, /)",
    "jaro_winkler_similarity": "(a, b, p=0.1, /)",
    "jaro_winkler_batch_fn": "(query, candidates, p=0.1, /)",
    "jaro_winkler_batch_into": "(query, candidates, out, p=0.1, /)",
    "jaro_winkler_cdist": "(list_a, list_b, p=0.1, /)",
    "jaro_winkler_cdist_into": "(list_a, list_b, out, p=0.1, /)",
    "fuzz_ratio_batch": "(query, candidates, /)",
    "fuzz_extract": "(query, choices, score_cutoff=0.0, limit=5, /)",
    "fuzz_extract_one": "(query, choices, score_cutoff=0.0, /)",
    "levenshtein_myers": "(a, b, /)",
    "needleman_wunsch_striped": "(a, b, match_score, mismatch_score, gap_penalty, /)",
    "jaro_optimized": "(a, b, /)",
    "set_cpu_only": "(cpu_only, /)",
    "set_gpu_threshold": "(threshold=None)",
    "is_gpu_available": "()",
    "warmup": "()",
    "gpu_info": "()",
    "hardware_info": "()",
}
for _name in ["fuzz_ratio", "fuzz_partial_ratio", "fuzz_partial_ratio_alignment",
              "fuzz_token_sort_ratio", "fuzz_token_set_ratio", "fuzz_token_ratio", "fuzz_wratio",
              "fuzz_partial_token_sort_ratio", "fuzz_partial_token_set_ratio",
              "fuzz_partial_token_ratio", "fuzz_qratio"]:
    SIGNATURES[_name] = "(a, b, score_cutoff=0.0, /)"

DOC_BODIES = {
    "levenshtein_batch_into":
        "Zero-allocation batch: results are written into a caller-supplied writable\n"
        "buffer (numpy `uint32`, `array.array('I')`, `memoryview`, …) instead of\n"
        "boxing each distance as a Python int. `out` must be exactly\n"
        "`len(candidates)` elements and is validated before any compute.",
    "levenshtein_cdist_into":
        "Zero-allocation cross-product matrix: `out` must be a writable, contiguous\n"
        "`(len(list_a), len(list_b))` buffer of `uint32` (row-major).",
    "damerau_levenshtein_batch_into":
        "Zero-allocation Damerau batch into a writable `uint32` buffer (see\n"
        "[`levenshtein_batch_into`]).",
    "damerau_levenshtein_cdist_into":
        "Zero-allocation Damerau cross-product matrix into a writable, contiguous\n"
        "`(len(list_a), len(list_b))` buffer of `uint32` (row-major).",
    "jaro_winkler_batch_into":
        "Zero-allocation Jaro-Winkler batch into a writable `float64` buffer (see\n"
        "[`levenshtein_batch_into`]).",
    "jaro_winkler_cdist_into":
        "Zero-allocation Jaro-Winkler cross-product matrix into a writable,\n"
        "contiguous `(len(list_a), len(list_b))` buffer of `float64` (row-major).",
}

PRESENT = [name for name in FULL_ORDER if hasattr(tarnvel, name)]


def test_all_lists_the_functions_in_table_order_then_version():
    assert tarnvel.__all__ == PRESENT + ["__version__"]
    # Nothing public outside the table.
    public = {n for n in dir(tarnvel) if not n.startswith("_")}
    assert public == set(PRESENT)


def test_module_attributes():
    assert tarnvel.__version__ == "0.4.1"
    assert tarnvel.__doc__ == ""
    assert not hasattr(tarnvel, "PanicException")
    for name in PRESENT:
        fn = getattr(tarnvel, name)
        assert fn.__module__ == "tarnvel"
        assert fn.__self__ is tarnvel
        assert fn.__name__ == name


@pytest.mark.parametrize("name", PRESENT)
def test_text_signature_and_docstring(name):
    fn = getattr(tarnvel, name)
    assert fn.__text_signature__ == SIGNATURES[name]
    body = DOC_BODIES.get(name)
    if name == "fuzz_partial_ratio_alignment":
        lines = fn.__doc__.split("\n")
        assert len(lines) == 3
        assert "\n".join(lines[1:]) == (
            "(score, src_start, src_end, dest_start, dest_end). `src_start`/`src_end`\n"
            "are relative to the FIRST argument, `dest_start`/`dest_end` to the second.")
    else:
        assert fn.__doc__ == body


def test_signature_introspection():
    if not hasattr(tarnvel, "fuzz_extract"):
        pytest.skip("fuzz_extract not built")
    params = inspect.signature(tarnvel.fuzz_extract).parameters
    assert [(p.name, p.default) for p in params.values()] == [
        ("query", inspect.Parameter.empty), ("choices", inspect.Parameter.empty),
        ("score_cutoff", 0.0), ("limit", 5)]


def test_keywords_accepted_despite_slash():
    assert tarnvel.fuzz_ratio(a="abcd", b="abce") == 75.0
    assert tarnvel.fuzz_ratio("abcd", b="abce", score_cutoff=80) == 0.0
    assert tarnvel.set_gpu_threshold(threshold=10) is None


def test_noargs_functions_reject_arguments():
    for name in ["is_gpu_available", "warmup", "gpu_info", "hardware_info"]:
        with pytest.raises(TypeError):
            getattr(tarnvel, name)(1)


def test_panic_is_base_exception_and_module_stays_usable(testing):
    for raiser in (testing.raise_panic, testing.raise_panic_nogil):
        caught = None
        try:
            try:
                raiser("internal failure ≤ 64")
            except Exception:  # must not catch it
                pytest.fail("PanicException was caught by 'except Exception'")
        except BaseException as exc:  # noqa: BLE001
            caught = exc
        assert type(caught).__name__ == "PanicException"
        assert type(caught).__bases__ == (BaseException,)
        assert caught.args == ("internal failure ≤ 64",)
        assert type(caught).__doc__
    assert tarnvel.fuzz_ratio("ab", "ba") == 50.0
    # One type per process, not one per failure.
    types = set()
    for _ in range(3):
        try:
            testing.raise_panic("x")
        except BaseException as exc:  # noqa: BLE001
            types.add(type(exc))
    assert len(types) == 1


def test_bad_alloc_becomes_memory_error(testing):
    with pytest.raises(MemoryError):
        testing.raise_bad_alloc()
    assert tarnvel.fuzz_qratio("abc", "abc") == 100.0


def test_import_does_not_import_numpy():
    out = run_python("""
        import sys, tarnvel
        print('numpy' in sys.modules, tarnvel.fuzz_ratio('a', 'a'))
    """)
    assert out.split() == ["False", "100.0"]


def test_reimport_after_removal_from_sys_modules():
    out = run_python("""
        import sys, tarnvel
        first = tarnvel.__all__
        del sys.modules['tarnvel']
        import tarnvel as again
        print(again.__all__ == first, again.fuzz_ratio('ab', 'ba'))
    """)
    assert out.split() == ["True", "50.0"]


def test_extension_is_abi3_and_exports_only_its_init():
    path = tarnvel.__file__
    assert path.endswith(".abi3.so")
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm not available")
    out = subprocess.run([nm, "-D", "--defined-only", path], capture_output=True, text=True,
                         check=True).stdout
    exported = [line.split()[-1] for line in out.splitlines() if line.split()[1:2] != ["A"]]
    assert exported == ["PyInit_tarnvel"]
    readelf = shutil.which("readelf")
    if readelf:
        dyn = subprocess.run([readelf, "-d", path], capture_output=True, text=True).stdout
        assert "libpython" not in dyn


def test_abi3audit_finds_no_violation():
    pytest.importorskip("abi3audit")
    proc = subprocess.run([sys.executable, "-m", "abi3audit", "--assume-minimum-abi3", "3.10",
                           "--strict", "--summary", tarnvel.__file__],
                          capture_output=True, text=True)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    assert "0 ABI violations" in " ".join((proc.stdout + proc.stderr).split())


def test_another_thread_runs_while_a_long_call_computes():
    import time

    a = "ab" * 30000
    b = "ba" * 30000
    ticks = []
    done = threading.Event()

    def ticker():
        while not done.is_set():
            ticks.append(1)

    t = threading.Thread(target=ticker)
    t.start()
    try:
        time.sleep(0.05)  # the ticker alone: its rate
        n0 = len(ticks)
        t0 = time.perf_counter()
        time.sleep(0.05)
        rate = (len(ticks) - n0) / (time.perf_counter() - t0)
        n1 = len(ticks)
        t1 = time.perf_counter()
        tarnvel.fuzz_ratio(a, b)
        duration = time.perf_counter() - t1
        during = len(ticks) - n1
    finally:
        done.set()
        t.join()
    # With the lock held the ticker could only run in the switch intervals around the
    # call; released, it keeps a good share of its free-running rate.
    assert duration > 0.02
    assert during > 0.2 * rate * duration


def test_function_table_check_catches_each_kind_of_bad_row():
    T = pytest.importorskip("_tarnvel_testing")
    names = [n for n in tarnvel.__all__ if n != "__version__"]
    good = [(n, len(inspect.signature(getattr(tarnvel, n)).parameters), n) for n in names]
    assert T.check_table_rows(good) is None  # the shipped table, as the module exposes it
    bad = {
        "listed under another name": [("fuzz_ratio", 3, "fuzz_qratio")],
        "parameter count differs": [("fuzz_ratio", 2, "fuzz_ratio")],
        "listed twice": [("fuzz_ratio", 3, "fuzz_ratio"), ("fuzz_ratio", 3, "fuzz_ratio")],
        "no function": [("fuzz_ratio", 3, None)],
    }
    for problem, rows in bad.items():
        with pytest.raises(SystemError) as info:
            T.check_table_rows(good[:5] + rows)
        assert str(info.value) == f"internal error: function table row fuzz_ratio: {problem}"
