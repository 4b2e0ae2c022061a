"""The build enforces the layers: each source folder compiles against an include view that
holds only the folders it may depend on, so a wrong-way include does not compile.

The real CMakeLists.txt is configured in a temporary directory (nothing is built); probes
are then compiled with the exact command line the build uses for one source of each layer.
Skipped without cmake or the source tree.
"""

import json
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]
CMAKE = shutil.which("cmake")

pytestmark = [
    pytest.mark.skipif(not (ROOT / "CMakeLists.txt").is_file(), reason="source tree not available"),
    pytest.mark.skipif(CMAKE is None, reason="cmake not installed"),
]

LAYERS = ["engine", "simd", "dispatch", "core", "binding"]


@pytest.fixture(scope="module")
def commands(tmp_path_factory):
    build = tmp_path_factory.mktemp("layers")
    args = [CMAKE, "-S", str(ROOT), "-B", str(build), "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON",
            f"-DPython_EXECUTABLE={sys.executable}", "-DTARNVEL_TESTING=ON"]
    if shutil.which("ninja"):
        args += ["-G", "Ninja"]
    res = subprocess.run(args, capture_output=True, text=True, timeout=300)
    assert res.returncode == 0, res.stdout + res.stderr
    by_layer = {}
    for entry in json.loads((build / "compile_commands.json").read_text()):
        out = entry.get("output") or entry["command"]
        for layer in LAYERS:
            if f"tarnvel_{layer}.dir" in out:
                by_layer.setdefault(layer, entry)
    assert sorted(by_layer) == sorted(LAYERS), "a layer has no object library"
    return by_layer


def compiles(entry, source, tmp_path):
    """Compiles `source` with the command line of `entry` (syntax only)."""
    probe = tmp_path / "probe.cpp"
    probe.write_text(source)
    argv = shlex.split(entry["command"]) if "command" in entry else list(entry["arguments"])
    kept, skip = [], False
    for a in argv:
        if skip:
            skip = False
            continue
        if a in ("-o", "-MF", "-MT", "-MQ"):
            skip = True
            continue
        if a in ("-c", "-MD", "-MMD") or a == entry["file"]:
            continue
        kept.append(a)
    res = subprocess.run(kept + ["-fsyntax-only", str(probe)], capture_output=True, text=True,
                         cwd=tmp_path, timeout=120)
    return res.returncode == 0, res.stderr


# (layer, header it must see, headers it must not see)
RULES = [
    ("engine", "engine/cancel.hpp", ["core/common/text.hpp", "dispatch/cpu.hpp", "binding/table.hpp"]),
    ("core", "engine/parallel.hpp", ["binding/table.hpp", "binding/params.hpp"]),
    ("core", "dispatch/kernels.hpp", []),
    ("dispatch", "dispatch/cpu.hpp", ["core/common/text.hpp", "engine/cancel.hpp", "binding/table.hpp"]),
    ("simd", "core/common/text.hpp", ["engine/cancel.hpp", "binding/table.hpp", "dispatch/kernels.hpp"]),
    ("binding", "core/common/text.hpp", []),
]


@pytest.mark.parametrize("layer,allowed,forbidden", RULES, ids=[f"{r[0]}-{r[1]}" for r in RULES])
def test_wrong_way_include_does_not_compile(commands, tmp_path, layer, allowed, forbidden):
    ok, err = compiles(commands[layer], f'#include "{allowed}"\nint probe;\n', tmp_path)
    assert ok, err  # the probe itself is sound
    for header in forbidden:
        assert (ROOT / "src" / header).is_file(), header
        ok, _ = compiles(commands[layer], f'#include "{header}"\nint probe;\n', tmp_path)
        assert not ok, f"{layer} can include {header}"


@pytest.mark.parametrize("layer", LAYERS)
def test_only_binding_sees_python_and_numpy(commands, tmp_path, layer):
    for header in ("Python.h", "numpy/arrayobject.h"):
        source = f"#include <{header}>\nint probe;\n"
        ok, err = compiles(commands[layer], source if header == "Python.h" else
                           "#include <Python.h>\n" + source, tmp_path)
        assert ok == (layer == "binding"), (layer, header, err)


def test_binding_reads_arguments_only_by_declared_name(commands, tmp_path):
    # An impl reading a parameter its row does not declare, or with the wrong kind, fails
    # to compile; the control reads the declared ones.
    head = ('#include "binding/table.hpp"\nnamespace tarnvel::py {\n'
            'constexpr Param kRow[] = {{"a", Kind::text}, {"score_cutoff", Kind::real, "0.0"}};\n'
            'double probe(Bound<kRow> a) { return a.%s + 0.0; }\n}\n')
    good = head % 'real<"score_cutoff">() + static_cast<double>(a.text<"a">().size)'
    ok, err = compiles(commands["binding"], good, tmp_path)
    assert ok, err
    for bad in ('real<"cutoff">()', 'real<"a">()', 'u64<"score_cutoff">()',
                'text<"b">().size'):
        ok, _ = compiles(commands["binding"], head % bad, tmp_path)
        assert not ok, bad


def configure(build, *defines):
    args = [CMAKE, "-S", str(ROOT), "-B", str(build), "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON",
            f"-DPython_EXECUTABLE={sys.executable}", *defines]
    if shutil.which("ninja"):
        args += ["-G", "Ninja"]
    return subprocess.run(args, capture_output=True, text=True, timeout=300)


def flags_of(build):
    return [e.get("command") or " ".join(e["arguments"])
            for e in json.loads((build / "compile_commands.json").read_text())]


@pytest.mark.parametrize("value,flag", [("ON", "-fsanitize=address,undefined"),
                                        ("thread", "-fsanitize=thread"),
                                        ("undefined", "-fsanitize=undefined")])
def test_sanitize_option_reaches_every_object(tmp_path, value, flag):
    res = configure(tmp_path, f"-DTARNVEL_SANITIZE={value}", "-DTARNVEL_WERROR=ON")
    assert res.returncode == 0, res.stdout + res.stderr
    commands = flags_of(tmp_path)
    assert commands and all(flag in c.split() and "-Werror" in c.split() for c in commands)


@pytest.mark.parametrize("value", ["memory", "address,thread"])
def test_sanitize_option_rejects_what_it_cannot_build(tmp_path, value):
    res = configure(tmp_path, f"-DTARNVEL_SANITIZE={value}")
    assert res.returncode != 0
    assert "TARNVEL_SANITIZE" in res.stderr
