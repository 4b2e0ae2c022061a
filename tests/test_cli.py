"""The `tarnvel` command, run as a subprocess and compared with the library calls.

Inputs of every kind (text with BOM/CRLF/blank lines, CSV, TSV, standard input), every
output format, every error path and its exit status, Ctrl-C, closed pipes and the
progress bar on a pseudo-terminal.
"""

import csv
import io
import json
import os
import pty
import random
import select
import shutil
import signal
import subprocess
import sys
import time

import pytest

np = pytest.importorskip("numpy")
tm = pytest.importorskip("tarnvel_match")

from conftest import SEED  # noqa: E402

CITIES = "/work/shared/data/cities.txt"


def run(args, cwd, input=None, env=None, **kw):
    full_env = dict(os.environ)
    full_env.update(env or {})
    return subprocess.run([sys.executable, "-m", "tarnvel_match", *map(str, args)], cwd=cwd,
                          input=input, capture_output=True, env=full_env, timeout=120, **kw)


def rows(out, fmt="csv"):
    text = out.decode("utf-8")
    if fmt == "jsonl":
        return [json.loads(line) for line in text.splitlines()]
    return list(csv.reader(io.StringIO(text, newline=""), delimiter="\t" if fmt == "tsv" else ","))


def fmt_score(v):
    return repr(float(v)) if isinstance(v, float) else str(int(v))


def expected_match(queries, choices, k=1, scorer="wratio", cutoff=None, processor="default",
                   scorer_kwargs=None):
    idx, sc = tm.top_k(queries, choices, k=k, scorer=scorer, processor=processor,
                       score_cutoff=cutoff, scorer_kwargs=scorer_kwargs)
    out = [["query_index", "query", "rank", "choice_index", "choice", "score"]]
    for i, q in enumerate(queries):
        qs = "" if q is None else q
        if idx[i, 0] < 0:
            out.append([str(i), qs, "", "", "", ""])
            continue
        for r in range(k):
            ci = int(idx[i, r])
            if ci < 0:
                break
            out.append([str(i), qs, str(r + 1), str(ci), choices[ci], fmt_score(sc[i, r].item())])
    return out


def text_file(path, strings, bom=False, crlf=False):
    nl = "\r\n" if crlf else "\n"
    body = nl.join("" if s is None else s for s in strings) + nl
    path.write_bytes((b"\xef\xbb\xbf" if bom else b"") + body.encode("utf-8"))
    return path


def delimited(path, header, table, delim=","):
    buf = io.StringIO()
    csv.writer(buf, delimiter=delim, lineterminator="\n").writerows([header] + table)
    path.write_text(buf.getvalue(), encoding="utf-8")
    return path


def one_line_error(proc, *needles):
    assert proc.returncode == 2, proc.stderr
    err = proc.stderr.decode()
    assert err.count("\n") == 1 and "Traceback" not in err, err
    for n in needles:
        assert n in err, err
    assert proc.stdout == b""


QUERIES = ["Berlni", None, "Munchen", "Zürich!", "zzzz", "  padded  ", "ber lin"]
CHOICES = ["Berlin", "München", None, "Hamburg", "Berlin-Mitte", "Zurich", "MÜNCHEN", "Bern"]


# --- both subcommands on every input kind, against the library -----------------------------

@pytest.mark.parametrize("bom,crlf", [(False, False), (True, True), (True, False)])
def test_match_text_files(tmp_path, bom, crlf):
    q = text_file(tmp_path / "q.txt", QUERIES, bom=bom, crlf=crlf)
    c = text_file(tmp_path / "c.txt", CHOICES, bom=bom, crlf=crlf)
    p = run(["match", q, c, "--top", "3", "--cutoff", "50"], tmp_path)
    assert p.returncode == 0 and p.stderr == b""
    assert rows(p.stdout) == expected_match(QUERIES, CHOICES, k=3, cutoff=50)
    p = run(["match", q, c, "--top", "1000000000"], tmp_path)
    assert p.returncode == 0 and rows(p.stdout) == expected_match(QUERIES, CHOICES, k=len(CHOICES))


def test_match_csv_tsv_stdin_and_formats(tmp_path):
    header = ["id", "name", "note"]
    qt = [[str(i), "" if s is None else s, "a,b \"q\""] for i, s in enumerate(QUERIES)]
    ct = [[str(i), "" if s is None else s, "x\ny"] for i, s in enumerate(CHOICES)]
    qcsv = delimited(tmp_path / "q.csv", header, qt)
    ctsv = delimited(tmp_path / "c.tsv", header, ct, "\t")
    want = expected_match(QUERIES, CHOICES, k=2)
    p = run(["match", qcsv, ctsv, "--column", "name", "--top", "2"], tmp_path)
    assert p.returncode == 0, p.stderr
    assert rows(p.stdout) == want
    # the same by index, the queries on standard input with a semicolon delimiter
    semi = delimited(tmp_path / "q.data", header, qt, ";").read_bytes()
    text_file(tmp_path / "c.txt", CHOICES)
    p = run(["match", "-", "c.txt", "--column-index", "1", "--delimiter", ";", "--top", "2",
             "--format", "tsv"], tmp_path, input=semi)
    assert p.returncode == 0, p.stderr
    assert rows(p.stdout, "tsv") == want
    # --input-format overrides the extension; jsonl keeps missing values as null
    text_file(tmp_path / "q.csv.bak", QUERIES)
    p = run(["match", "q.csv.bak", "c.txt", "--input-format", "txt", "--format", "jsonl", "--top", "2"],
            tmp_path)
    assert p.returncode == 0, p.stderr
    got = rows(p.stdout, "jsonl")
    assert [[str(r[k]) if r[k] is not None else "" for k in want[0]] for r in got] == \
        [["" if x == "" else x for x in row] for row in want[1:]]
    blank = [r for r in got if r["query_index"] == 1]
    assert len(blank) == 1 and blank[0]["query"] is None and blank[0]["rank"] is None
    assert isinstance(got[0]["score"], float)


@pytest.mark.parametrize("scorer,cutoff,params", [
    ("ratio", None, []), ("token_set_ratio", 40, []), ("levenshtein", 3, []),
    ("jaro_winkler", 0.7, ["p=0.2"]),
    ("needleman_wunsch", None, ["match_score=2", "mismatch_score=-1", "gap_penalty=-2"]),
])
def test_match_random_against_top_k(tmp_path, scorer, cutoff, params):
    rng = random.Random(f"{SEED}:{scorer}")
    alpha = "abcé日 ,"
    def word():
        return "".join(rng.choice(alpha) for _ in range(rng.randint(1, 9))).strip() or None
    queries = [word() for _ in range(60)]
    choices = [word() for _ in range(300)]
    text_file(tmp_path / "q.txt", queries)
    text_file(tmp_path / "c.txt", choices)
    args = ["match", "q.txt", "c.txt", "--scorer", scorer, "--top", "4", "--processor", "none"]
    if cutoff is not None:
        args += ["--cutoff", cutoff]
    for kv in params:
        args += ["--param", kv]
    p = run(args, tmp_path)
    assert p.returncode == 0, p.stderr
    kwargs = {k: (float(v) if "." in v else int(v)) for k, v in (x.split("=") for x in params)} or None
    assert rows(p.stdout) == expected_match(queries, choices, k=4, scorer=scorer, cutoff=cutoff,
                                            processor=None, scorer_kwargs=kwargs)


def test_dedupe_text_csv_and_pairs(tmp_path):
    names = ["Acme Inc", "ACME Inc.", None, "Acme, Inc", "Globex", "globex corp", "Initech", "Acme"]
    text_file(tmp_path / "n.txt", names, bom=True, crlf=True)
    labels = tm.dedupe(names, scorer="token_sort_ratio", score_cutoff=85, processor="default").tolist()
    sizes = {lab: labels.count(lab) for lab in labels}
    p = run(["dedupe", "n.txt", "--cutoff", "85", "--scorer", "token_sort_ratio"], tmp_path)
    assert p.returncode == 0, p.stderr
    assert rows(p.stdout) == [["index", "string", "cluster", "cluster_size"]] + [
        [str(k), s or "", str(lab), str(sizes[lab])] for k, (s, lab) in enumerate(zip(names, labels))]
    # CSV: other columns pass through, quoted fields survive, output to a file
    header = ["id", "company", "city"]
    table = [[str(k), s or "", f'c{k}, "x"'] for k, s in enumerate(names)]
    delimited(tmp_path / "co.csv", header, table)
    p = run(["dedupe", "co.csv", "--column", "company", "--cutoff", "85", "--scorer",
             "token_sort_ratio", "-o", "out.csv"], tmp_path)
    assert p.returncode == 0 and p.stdout == b"", p.stderr
    assert rows((tmp_path / "out.csv").read_bytes()) == [header + ["cluster", "cluster_size"]] + [
        row + [str(lab), str(sizes[lab])] for row, lab in zip(table, labels)]
    assert sorted(os.listdir(tmp_path)) == ["co.csv", "n.txt", "out.csv"]
    i, j, s = tm.pairs(names, scorer="ratio", score_cutoff=60, processor="default")
    p = run(["dedupe", "-", "--cutoff", "60", "--scorer", "ratio", "--pairs", "--format", "jsonl"],
            tmp_path, input=(tmp_path / "n.txt").read_bytes())
    assert p.returncode == 0, p.stderr
    assert rows(p.stdout, "jsonl") == [
        {"i": a, "j": b, "score": v, "left": names[a], "right": names[b]}
        for a, b, v in zip(i.tolist(), j.tolist(), s.tolist())]
    assert len(i) > 0


def test_unusual_lines_are_data(tmp_path):
    # Only LF/CRLF end lines; a lone CR, U+2028 and spaces stay inside the string.
    qs = ["a\rb", "x\u2028y", "   ", "tab\there"]
    (tmp_path / "q.txt").write_bytes("\n".join(qs).encode())  # no final newline
    text_file(tmp_path / "c.txt", ["ab", "xy", "tab here"])
    p = run(["match", "q.txt", "c.txt", "--processor", "none", "--scorer", "ratio"], tmp_path)
    assert p.returncode == 0, p.stderr
    assert rows(p.stdout) == expected_match(qs, ["ab", "xy", "tab here"], scorer="ratio", processor=None)


# --- errors ---------------------------------------------------------------------------------

def test_error_paths(tmp_path):
    text_file(tmp_path / "c.txt", CHOICES)
    delimited(tmp_path / "c.csv", ["id", "name"], [["1", "x"], ["2", "y", "extra"]])
    (tmp_path / "bad.txt").write_bytes(b"fine\nalso fine\nbro\xffken\n")
    (tmp_path / "bad.csv").write_bytes(b'name\n"unterminated\n')
    (tmp_path / "empty.csv").write_bytes(b"")
    (tmp_path / "dir").mkdir()
    cases = [
        (["match", "nope.txt", "c.txt"], ["nope.txt", "no such file"]),
        (["match", "c.txt", "dir"], ["dir", "directory"]),
        (["match", "bad.txt", "c.txt"], ["bad.txt:3:", "UTF-8", "0xff"]),
        (["match", "c.txt", "c.csv", "--column", "title"], ["c.csv:1:", "no column 'title'"]),
        (["match", "c.txt", "c.csv", "--column-index", "2"], ["c.csv:1:", "out of range"]),
        (["match", "c.txt", "c.csv", "--column-index", "-1"], ["--column-index"]),
        (["match", "c.txt", "c.csv"], ["c.csv:3:", "3 fields"]),
        (["match", "c.txt", "bad.csv"], ["bad.csv:"]),
        (["match", "c.txt", "empty.csv"], ["empty.csv", "header"]),
        (["match", "c.txt", "c.txt", "--scorer", "fuzzy"], ["unknown scorer 'fuzzy'", "wratio"]),
        (["match", "c.txt", "c.txt", "--cutoff", "100.5"], ["--cutoff", "wratio"]),
        (["match", "c.txt", "c.txt", "--cutoff", "-1"], ["--cutoff"]),
        (["match", "c.txt", "c.txt", "--cutoff", "nan"], ["--cutoff"]),
        (["match", "c.txt", "c.txt", "--scorer", "jaro", "--cutoff", "1.5"], ["jaro", "0 to 1"]),
        (["match", "c.txt", "c.txt", "--scorer", "levenshtein", "--cutoff", "-2"], ["levenshtein"]),
        (["match", "c.txt", "c.txt", "--scorer", "needleman_wunsch"], ["needleman_wunsch", "scorer_kwargs"]),
        (["match", "c.txt", "c.txt", "--scorer", "jaro_winkler", "--param", "p=0.5"], ["0.25"]),
        (["match", "c.txt", "c.txt", "--param", "p"], ["KEY=VALUE"]),
        (["match", "c.txt", "c.txt", "--top", "0"], ["--top"]),
        (["match", "c.txt", "c.txt", "--top", "x"], ["--top"]),
        (["match", "c.txt", "c.txt", "--workers", "0"], ["--workers"]),
        (["match", "c.txt", "c.txt", "--delimiter", "ab"], ["--delimiter"]),
        (["match", "-", "-"], ["standard input"]),
        (["match", "c.txt"], ["CHOICES"]),
        (["match", "c.txt", "c.txt", "--quiet", "--progress"], ["--progress"]),
        (["match", "c.txt", "c.txt", "-o", "missing/out.csv"], ["missing/out.csv", "cannot write"]),
        (["dedupe", "c.txt"], ["--cutoff"]),
        (["dedupe", "c.txt", "--cutoff", "200"], ["--cutoff"]),
        (["frobnicate"], ["frobnicate"]),
        ([], ["COMMAND"]),
    ]
    for args, needles in cases:
        one_line_error(run(args, tmp_path, input=b""), *needles)
    assert sorted(os.listdir(tmp_path)) == ["bad.csv", "bad.txt", "c.csv", "c.txt", "dir", "empty.csv"]


def test_failed_run_keeps_existing_output(tmp_path):
    text_file(tmp_path / "c.txt", CHOICES)
    (tmp_path / "out.csv").write_text("precious\n")
    (tmp_path / "bad.txt").write_bytes(b"\xc3\n")
    one_line_error(run(["match", "c.txt", "bad.txt", "-o", "out.csv"], tmp_path), "bad.txt:1:")
    assert (tmp_path / "out.csv").read_text() == "precious\n"
    p = run(["match", "c.txt", "c.txt", "-o", "out.csv"], tmp_path)
    assert p.returncode == 0 and rows((tmp_path / "out.csv").read_bytes()) == expected_match(CHOICES, CHOICES)
    assert sorted(os.listdir(tmp_path)) == ["bad.txt", "c.txt", "out.csv"]


def test_without_numpy_one_line(tmp_path):
    code = ("import sys; sys.modules['numpy'] = None\n"
            "from tarnvel_match.cli import main\nsys.exit(main(['match', 'a', 'b']))")
    p = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True, timeout=60)
    assert p.returncode == 1 and p.stdout == b""
    assert p.stderr.decode().splitlines() == ['tarnvel: the command line needs the match extra: pip install "tarnvel[match]"']
    # the package itself still refuses every public name with the install hint
    code = ("import sys; sys.modules['numpy'] = None\nimport tarnvel_match\n"
            "try:\n    from tarnvel_match import top_k\nexcept ImportError as e:\n    print(e)")
    p = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True, timeout=60)
    assert p.returncode == 0 and b'pip install "tarnvel[match]"' in p.stdout, p.stderr


def test_version_help_and_script(tmp_path):
    import tarnvel

    p = run(["--version"], tmp_path)
    assert p.returncode == 0 and p.stdout.decode().strip() == f"tarnvel {tarnvel.__version__}"
    for sub in (["--help"], ["match", "--help"], ["dedupe", "--help"]):
        p = run(sub, tmp_path)
        assert p.returncode == 0 and b"usage: tarnvel" in p.stdout
    script = shutil.which("tarnvel", path=os.path.dirname(sys.executable))
    if script is None:
        pytest.skip("no tarnvel script beside this interpreter")
    p = subprocess.run([script, "--version"], capture_output=True, cwd=tmp_path, timeout=60)
    assert p.returncode == 0 and p.stdout.decode().strip() == f"tarnvel {tarnvel.__version__}"


# --- interruption, pipes, progress ----------------------------------------------------------

@pytest.mark.parametrize("sig,status,message", [(signal.SIGINT, 130, "interrupted\n"),
                                                (signal.SIGTERM, 143, "")])
def test_ctrl_c_leaves_no_output(tmp_path, sig, status, message):
    rng = random.Random(SEED)
    alpha = "abcdefghijklmnop "
    def word():
        return "".join(rng.choice(alpha) for _ in range(rng.randint(4, 14)))
    text_file(tmp_path / "q.txt", [word() for _ in range(3000)])
    text_file(tmp_path / "c.txt", [word() for _ in range(150_000)])
    proc = subprocess.Popen([sys.executable, "-m", "tarnvel_match", "match", "q.txt", "c.txt",
                             "--top", "3", "-o", "out.csv"], cwd=tmp_path,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        deadline = time.monotonic() + 30
        # the temporary output appears once the inputs are read and the matching starts
        while not any(n.endswith(".tmp") for n in os.listdir(tmp_path)):
            assert proc.poll() is None and time.monotonic() < deadline
            time.sleep(0.02)
        time.sleep(1.0)
        assert proc.poll() is None, "the run ended too early to be interrupted"
        proc.send_signal(sig)
        out, err = proc.communicate(timeout=30)
    finally:
        if proc.poll() is None:
            proc.kill()
    assert proc.returncode == status
    assert err.decode() == message
    assert sorted(os.listdir(tmp_path)) == ["c.txt", "q.txt"]


def test_broken_pipe_is_quiet(tmp_path):
    text_file(tmp_path / "q.txt", [f"name {i}" for i in range(20_000)])
    text_file(tmp_path / "c.txt", [f"name {i}" for i in range(50)])
    proc = subprocess.Popen([sys.executable, "-m", "tarnvel_match", "match", "q.txt", "c.txt",
                             "--top", "3", "--scorer", "ratio"], cwd=tmp_path,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        first = proc.stdout.readline()
        proc.stdout.close()
        err = proc.stderr.read()
        proc.wait(timeout=60)
    finally:
        if proc.poll() is None:
            proc.kill()
    assert first == b"query_index,query,rank,choice_index,choice,score\n"
    assert err == b""
    assert proc.returncode == 141


def _stderr_on_pty(args, cwd):
    master, slave = pty.openpty()
    proc = subprocess.Popen([sys.executable, "-m", "tarnvel_match", *args], cwd=cwd,
                            stdout=subprocess.PIPE, stderr=slave)
    os.close(slave)
    chunks = []
    try:
        while True:
            ready, _, _ = select.select([master], [], [], 30)
            if not ready:
                break
            try:
                data = os.read(master, 4096)
            except OSError:  # EIO: the child closed its end
                break
            if not data:
                break
            chunks.append(data)
        out = proc.stdout.read()
        proc.wait(timeout=30)
    finally:
        os.close(master)
        if proc.poll() is None:
            proc.kill()
    return proc.returncode, out, b"".join(chunks).decode(errors="replace")


def test_progress_on_a_terminal_only(tmp_path):
    text_file(tmp_path / "q.txt", CHOICES)
    args = ["match", "q.txt", "q.txt"]
    rc, out, err = _stderr_on_pty(args, tmp_path)
    assert rc == 0 and "pairs" in err and "%" in err
    assert rows(out) == expected_match(CHOICES, CHOICES)
    rc, out, err = _stderr_on_pty(args + ["--quiet"], tmp_path)
    assert rc == 0 and err == ""
    p = run(args, tmp_path)
    assert p.returncode == 0 and p.stderr == b""
    p = run(["dedupe", "q.txt", "--cutoff", "80", "--progress"], tmp_path)
    assert p.returncode == 0 and b"pairs" in p.stderr


@pytest.mark.skipif(not os.path.exists(CITIES), reason="shared data absent")
def test_real_cities_sample(tmp_path):
    with open(CITIES, encoding="utf-8") as f:
        cities = f.read().split("\n")[:-1][::300]
    rng = random.Random(SEED)
    queries = []
    for c in rng.sample(cities, 40):
        k = rng.randrange(len(c))
        queries.append(c[:k] + c[k + 1:])
    text_file(tmp_path / "q.txt", queries)
    p = run(["match", "q.txt", CITIES, "--top", "2", "--cutoff", "80", "--workers", "1"], tmp_path)
    assert p.returncode == 0, p.stderr
    with open(CITIES, encoding="utf-8") as f:
        full = f.read().split("\n")[:-1]
    assert rows(p.stdout) == expected_match(queries, full, k=2, cutoff=80)


def test_readme_examples_show_real_output(tmp_path):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    readme = open(os.path.join(root, "README.md"), encoding="utf-8").read()
    section = readme.split("## Command line", 1)[1]
    blocks = section.split("```")
    for k in (1, 5):
        cmd = blocks[k].removeprefix("sh\n").strip().split()
        assert cmd[0] == "tarnvel"
        # run outside the checkout, whose tarnvel_match has no compiled extension
        args = [os.path.join(root, a) if a.startswith("examples/") else a for a in cmd[1:]]
        p = run(args, tmp_path)
        assert p.returncode == 0, p.stderr
        assert p.stdout.decode() == blocks[k + 2].lstrip("\n")
