"""The `tarnvel` command: match or deduplicate the strings of files.

It does no scoring of its own: it reads the inputs, calls tarnvel_match.top_k, pairs or
dedupe, and writes rows. Exit status: 0 success, 2 bad arguments or input (one line on
stderr naming the file and line), 130 interrupted, 141 output pipe closed by the reader.
"""

from __future__ import annotations

import argparse
import csv
import io
import json
import math
import os
import signal
import sys
import tempfile

INSTALL = 'tarnvel: the command line needs the match extra: pip install "tarnvel[match]"'

# Queries are matched in chunks, so rows reach a pipe early and in query order and a
# closed pipe stops the work. The first chunk is small (about FIRST_PAIRS pairs) and each
# next one twice as large up to about LAST_PAIRS: every call ends with workers idle while
# the last rows finish, which costs about 1% on chunks of a few hundred rows.
FIRST_PAIRS = 1_000_000
LAST_PAIRS = 64_000_000

_FORMATS = {".csv": "csv", ".tsv": "tsv", ".tab": "tsv", ".txt": "txt"}
_RANGES = {"fuzz": (0.0, 100.0), "unit": (0.0, 1.0), "distance": (0.0, math.inf)}


class UsageError(Exception):
    """Bad arguments or input: reported as one line, exit status 2."""


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        # One line instead of the usage block: the message says what to fix.
        raise UsageError(f"{self.prog}: {message} (see {self.prog} --help)")


def _version():
    try:
        from importlib.metadata import version

        return version("tarnvel")
    except Exception:  # pragma: no cover - not installed as a distribution
        import tarnvel

        return tarnvel.__version__


def _common(p, dedupe):
    p.add_argument("--scorer", default="wratio", help="scorer name (default: wratio)")
    p.add_argument("--param", action="append", default=[], metavar="KEY=VALUE",
                   help="scorer parameter, e.g. p=0.2 for jaro_winkler or the costs of "
                        "needleman_wunsch (repeatable)")
    p.add_argument("--cutoff", type=float, required=dedupe, metavar="X",
                   help="keep scores at least X (at most X for distances)")
    p.add_argument("--processor", choices=("default", "none"), default="default",
                   help="default: lower-case and replace non-alphanumerics by spaces")
    col = p.add_mutually_exclusive_group()
    col.add_argument("--column", metavar="NAME", help="column of CSV/TSV inputs, by header name")
    col.add_argument("--column-index", type=int, metavar="N",
                     help="column of CSV/TSV inputs, counting from 0 (default: 0)")
    p.add_argument("--delimiter", metavar="C", help="field delimiter of CSV/TSV inputs ('\\t' or 'tab' for a tab)")
    p.add_argument("--input-format", choices=("txt", "csv", "tsv"),
                   help="input format (default: from the extension; txt otherwise)")
    p.add_argument("--output", "-o", metavar="FILE", help="output file (default: standard output)")
    p.add_argument("--format", choices=("csv", "tsv", "jsonl"), default="csv", help="output format")
    p.add_argument("--workers", type=int, metavar="N", help="worker threads: 1 for serial, -1 for all")
    q = p.add_mutually_exclusive_group()
    q.add_argument("--quiet", "-q", action="store_true", help="no progress bar")
    q.add_argument("--progress", action="store_true", help="progress bar even if stderr is no terminal")


def build_parser():
    parser = _Parser(prog="tarnvel", description="Approximate string matching over files.")
    parser.add_argument("--version", action="version", version=f"tarnvel {_version()}")
    sub = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)
    sub.required = True
    m = sub.add_parser("match", help="best choices of every query",
                       description="For every query, its best K choices: one row each "
                                   "(query_index, query, rank, choice_index, choice, score). "
                                   "A query without a kept match gets one row with empty "
                                   "rank and choice fields. Rows come in query order.")
    m.add_argument("queries", metavar="QUERIES", help="file of queries, or - for standard input")
    m.add_argument("choices", metavar="CHOICES", help="file of choices, or - for standard input")
    m.add_argument("--top", type=int, default=1, metavar="K", help="choices per query (default: 1)")
    _common(m, dedupe=False)
    d = sub.add_parser("dedupe", help="cluster near-duplicates of one file",
                       description="Every input row in input order, with a cluster column (the "
                                   "smallest row index of its cluster, counting from 0) and a "
                                   "cluster_size column. With --pairs: the matched pairs "
                                   "(i, j, score, left, right).")
    d.add_argument("file", metavar="FILE", help="input file, or - for standard input")
    d.add_argument("--pairs", action="store_true", help="print the matched pairs instead")
    _common(d, dedupe=True)
    return parser


# --- input -------------------------------------------------------------------------------

class Table:
    """The strings of one input (None for missing values), plus its header and rows when it
    is delimited, for dedupe to pass the other columns through."""

    def __init__(self, strings, header=None, rows=None):
        self.strings = strings
        self.header = header
        self.rows = rows


def _delimiter(args):
    d = args.delimiter
    if d is None:
        return None
    if d in ("\\t", "tab", "TAB"):
        return "\t"
    if len(d) != 1 or d in ('"', "\r", "\n"):
        raise UsageError(f"tarnvel: --delimiter must be one character (not a quote or line break), not {d!r}")
    return d


def _kind(path, args):
    if args.input_format:
        return args.input_format
    ext = os.path.splitext(path)[1].lower() if path != "-" else ""
    if ext in _FORMATS:
        return _FORMATS[ext]
    if args.delimiter is not None or args.column is not None or args.column_index is not None:
        return "csv"
    return "txt"


def _read_bytes(path, name):
    if path == "-":
        return sys.stdin.buffer.read()
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        raise UsageError(f"tarnvel: {name}: no such file") from None
    except IsADirectoryError:
        raise UsageError(f"tarnvel: {name}: is a directory, not a file") from None
    except OSError as e:
        raise UsageError(f"tarnvel: {name}: cannot read: {e.strerror or e}") from None


def _decode(data, name):
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        line = data.count(b"\n", 0, e.start) + 1
        col = e.start - (data.rfind(b"\n", 0, e.start) + 1) + 1
        raise UsageError(
            f"tarnvel: {name}:{line}: not valid UTF-8 (byte 0x{data[e.start]:02x} at byte {col} of the line)"
        ) from None
    return text[1:] if text.startswith("\ufeff") else text


def _lines(text):
    # Only LF and CRLF end a line: other Unicode separators are data.
    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()
    out = []
    for s in lines:
        if s.endswith("\r"):
            s = s[:-1]
        out.append(s if s else None)
    return out


def read_input(path, args, keep_rows=False):
    name = "<stdin>" if path == "-" else path
    text = _decode(_read_bytes(path, name), name)
    kind = _kind(path, args)
    if kind == "txt":
        return Table(_lines(text))
    delim = _delimiter(args) or ("\t" if kind == "tsv" else ",")
    reader = csv.reader(io.StringIO(text, newline=""), delimiter=delim, strict=True)
    try:
        header = next(reader, None)
        if header is None:
            raise UsageError(f"tarnvel: {name}: empty file, expected a header row")
        if args.column is not None:
            hits = [i for i, h in enumerate(header) if h == args.column]
            if not hits:
                shown = ", ".join(repr(h) for h in header[:20])
                raise UsageError(f"tarnvel: {name}:1: no column {args.column!r} in the header (columns: {shown})")
            if len(hits) > 1:
                raise UsageError(f"tarnvel: {name}:1: column {args.column!r} appears {len(hits)} times in the header")
            col = hits[0]
        else:
            col = args.column_index or 0
            if not 0 <= col < len(header):
                raise UsageError(
                    f"tarnvel: {name}:1: --column-index {col} is out of range: the header has "
                    f"{len(header)} column{'s' if len(header) != 1 else ''} (counting from 0)"
                )
        strings, rows = [], []
        width = len(header)
        start = reader.line_num + 1
        for row in reader:
            if len(row) > width:
                raise UsageError(f"tarnvel: {name}:{start}: {len(row)} fields, but the header has {width}")
            if len(row) < width:
                row = row + [""] * (width - len(row))
            value = row[col]
            strings.append(value if value != "" else None)
            if keep_rows:
                rows.append(row)
            start = reader.line_num + 1
    except csv.Error as e:
        raise UsageError(f"tarnvel: {name}:{reader.line_num}: malformed {kind.upper()}: {e}") from None
    return Table(strings, header, rows if keep_rows else None)


# --- output ------------------------------------------------------------------------------

class Sink:
    """Where rows go: standard output, or a temporary file in the folder of --output that
    replaces it only once everything is written."""

    def __init__(self, path, fmt, columns):
        self.path = path
        self.fmt = fmt
        self.columns = columns
        self.tmp = None
        if path is None:
            self.raw = sys.stdout.buffer
        else:
            folder = os.path.dirname(os.path.abspath(path))
            if os.path.isdir(path):
                raise UsageError(f"tarnvel: {path}: --output is a directory")
            try:
                fd, self.tmp = tempfile.mkstemp(dir=folder, prefix="." + os.path.basename(path) + ".",
                                                suffix=".tmp")
            except OSError as e:
                raise UsageError(f"tarnvel: {path}: cannot write: {e.strerror or e}") from None
            self.raw = os.fdopen(fd, "wb")
        self.buf = io.StringIO()
        self.delim = "\t" if fmt == "tsv" else ","
        # csv.writer would leave a lone CR unquoted with LF line ends; readers split there.
        self.special = (self.delim, '"', "\n", "\r")
        if fmt != "jsonl":
            self.row(columns)

    def _field(self, v):
        if v is None:
            return ""
        if not isinstance(v, str):
            return repr(v)
        if any(c in v for c in self.special):
            return '"' + v.replace('"', '""') + '"'
        return v

    def row(self, values):
        if self.fmt == "jsonl":
            self.buf.write(json.dumps(dict(zip(self.columns, values)), ensure_ascii=False))
        else:
            self.buf.write(self.delim.join(map(self._field, values)))
        self.buf.write("\n")

    def flush(self):
        data = self.buf.getvalue()
        self.buf.seek(0)
        self.buf.truncate()
        if data:
            self.raw.write(data.encode("utf-8"))
        self.raw.flush()

    def commit(self):
        self.flush()
        if self.tmp is None:
            return
        os.fsync(self.raw.fileno())
        self.raw.close()
        try:
            mode = os.stat(self.path).st_mode & 0o7777
        except OSError:
            umask = os.umask(0)
            os.umask(umask)
            mode = 0o666 & ~umask
        os.chmod(self.tmp, mode)
        os.replace(self.tmp, self.path)
        self.tmp = None

    def discard(self):
        if self.tmp is not None:
            try:
                self.raw.close()
            except OSError:
                pass
            try:
                os.unlink(self.tmp)
            except OSError:
                pass
            self.tmp = None


# --- progress ----------------------------------------------------------------------------

class Progress:
    """One tqdm bar on stderr over a whole run of several library calls."""

    def __init__(self, wanted, total):
        self.bar = None
        if wanted:
            from tqdm import tqdm

            width = {}
            if sys.stderr.isatty():
                try:
                    cols, lines = os.get_terminal_size(sys.stderr.fileno())
                except OSError:
                    cols = lines = 0
                # A terminal that reports no size (a fresh pty) would get no bar at all.
                if cols > 0 and lines > 0:
                    width = {"dynamic_ncols": True}
                else:
                    width = {"ncols": cols or 80, "nrows": lines or 24}
            self.bar = tqdm(total=total, unit="pairs", unit_scale=True, file=sys.stderr, leave=False,
                            **width)
        self.base = 0

    def callback(self):
        if self.bar is None:
            return None
        base, bar = self.base, self.bar

        def report(done, total):
            bar.update(base + done - bar.n)

        return report

    def advance(self, n):
        self.base += n

    def close(self):
        if self.bar is not None:
            self.bar.close()
            self.bar = None


# --- commands ----------------------------------------------------------------------------

def _scorer(tm, args):
    if args.scorer not in tm.SCORERS:
        raise UsageError(f"tarnvel: unknown scorer {args.scorer!r}; choose one of: {', '.join(tm.SCORERS)}")
    kwargs = {}
    for item in args.param:
        key, sep, value = item.partition("=")
        if not sep or not key:
            raise UsageError(f"tarnvel: --param must be KEY=VALUE, not {item!r}")
        try:
            kwargs[key] = int(value)
        except ValueError:
            try:
                kwargs[key] = float(value)
            except ValueError:
                raise UsageError(f"tarnvel: --param {key}: {value!r} is not a number") from None
    try:
        info = tm.scorer_info(args.scorer, kwargs or None)
    except (TypeError, ValueError, OverflowError) as e:
        raise UsageError(f"tarnvel: --scorer {args.scorer}: {e}") from None
    cut = args.cutoff
    if cut is not None:
        lo, hi = _RANGES.get(info.kind, (-math.inf, math.inf))
        if not math.isfinite(cut) or not lo <= cut <= hi:
            span = {"fuzz": "0 to 100", "unit": "0 to 1", "distance": "0 or more"}.get(info.kind, "a finite number")
            raise UsageError(f"tarnvel: --cutoff {cut!r} is out of range for {info.name} ({span})")
    return info, kwargs or None


def _checks(args):
    if args.workers is not None and args.workers != -1 and args.workers < 1:
        raise UsageError(f"tarnvel: --workers must be -1 or a positive integer, not {args.workers}")
    if args.column_index is not None and args.column_index < 0:
        raise UsageError(f"tarnvel: --column-index counts from 0, not {args.column_index}")
    _delimiter(args)


def _progress_wanted(args):
    if args.quiet:
        return False
    return args.progress or sys.stderr.isatty()


def run_match(tm, args, state):
    if args.top < 1:
        raise UsageError(f"tarnvel: --top must be at least 1, not {args.top}")
    if args.queries == "-" and args.choices == "-":
        raise UsageError("tarnvel: QUERIES and CHOICES cannot both be standard input")
    info, kwargs = _scorer(tm, args)
    _checks(args)
    queries = read_input(args.queries, args).strings
    choices = read_input(args.choices, args).strings
    columns = ["query_index", "query", "rank", "choice_index", "choice", "score"]
    sink = state["sink"] = Sink(args.output, args.format, columns)
    processor = None if args.processor == "none" else "default"
    prepared = tm.Choices(choices, processor=processor)
    n, m = len(queries), len(choices)
    step = max(1, FIRST_PAIRS // max(1, m))
    last = max(8, LAST_PAIRS // max(1, m))
    prog = state["progress"] = Progress(_progress_wanted(args), n * m)
    start = 0
    while start < n:
        part = queries[start:start + step]
        # more rows than choices would only be padding (and memory)
        idx, scores = tm.top_k(part, prepared, k=min(args.top, max(m, 1)), scorer=info.name, score_cutoff=args.cutoff,
                               scorer_kwargs=kwargs, workers=args.workers, progress=prog.callback())
        prog.advance(len(part) * m)
        idx = idx.tolist()
        scores = scores.tolist()
        for r, q in enumerate(part):
            qi = start + r
            row_idx, row_sc = idx[r], scores[r]
            if not row_idx or row_idx[0] < 0:
                sink.row((qi, q, None, None, None, None))
                continue
            for rank, (ci, sc) in enumerate(zip(row_idx, row_sc), 1):
                if ci < 0:
                    break
                sink.row((qi, q, rank, ci, choices[ci], sc))
            if r % 10000 == 9999:
                sink.flush()
        sink.flush()
        start += len(part)
        step = min(2 * step, last)
    prog.close()
    sink.commit()


def run_dedupe(tm, args, state):
    info, kwargs = _scorer(tm, args)
    _checks(args)
    table = read_input(args.file, args, keep_rows=True)
    strings = table.strings
    processor = None if args.processor == "none" else "default"
    n = len(strings)
    opts = dict(scorer=info.name, score_cutoff=args.cutoff, processor=processor,
                scorer_kwargs=kwargs, workers=args.workers)
    if args.pairs:
        columns = ["i", "j", "score", "left", "right"]
    elif table.header is not None:
        columns = list(table.header) + ["cluster", "cluster_size"]
    else:
        columns = ["index", "string", "cluster", "cluster_size"]
    sink = state["sink"] = Sink(args.output, args.format, columns)
    prog = state["progress"] = Progress(_progress_wanted(args), n * (n - 1) // 2)
    if args.pairs:
        i, j, s = tm.pairs(strings, None, progress=prog.callback(), **opts)
        prog.close()
        for a, b, v in zip(i.tolist(), j.tolist(), s.tolist()):
            sink.row((a, b, v, strings[a], strings[b]))
    else:
        labels = tm.dedupe(strings, progress=prog.callback(), **opts).tolist()
        prog.close()
        sizes = {}
        for lab in labels:
            sizes[lab] = sizes.get(lab, 0) + 1
        for k, lab in enumerate(labels):
            if table.header is not None:
                sink.row(list(table.rows[k]) + [lab, sizes[lab]])
            else:
                sink.row((k, strings[k], lab, sizes[lab]))
            if k % 10000 == 9999:
                sink.flush()
    sink.commit()


def _quiet_stdout():
    # The reader is gone: later writes and the flush at exit must not raise again.
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, ValueError):
        pass


class _Terminated(BaseException):
    """SIGTERM: cleaned up like Ctrl-C, reported by the exit status alone."""


def _on_term(signum, frame):
    raise _Terminated


def main(argv=None):
    state = {"sink": None, "progress": None}
    try:
        signal.signal(signal.SIGTERM, _on_term)
    except ValueError:  # not the main thread: leave the signal alone
        pass
    try:
        try:
            args = build_parser().parse_args(argv)
        except UsageError as e:
            print(e, file=sys.stderr)
            return 2
        try:
            import tarnvel_match as tm

            tm.top_k  # noqa: B018 - raises ImportError without NumPy
            if _progress_wanted(args):
                import tqdm  # noqa: F401
        except ImportError:
            print(INSTALL, file=sys.stderr)
            return 1
        try:
            (run_match if args.command == "match" else run_dedupe)(tm, args, state)
        except UsageError as e:
            if state["progress"] is not None:
                state["progress"].close()
            if state["sink"] is not None:
                state["sink"].discard()
            print(e, file=sys.stderr)
            return 2
        return 0
    except KeyboardInterrupt:
        _cleanup(state)
        print("interrupted", file=sys.stderr)
        return 130
    except _Terminated:
        _cleanup(state)
        return 128 + signal.SIGTERM
    except BrokenPipeError:
        _cleanup(state)
        _quiet_stdout()
        return 141
    except MemoryError:
        _cleanup(state)
        print("tarnvel: out of memory", file=sys.stderr)
        return 1
    except OSError as e:
        _cleanup(state)
        print(f"tarnvel: {e.filename + ': ' if e.filename else ''}{e.strerror or e}", file=sys.stderr)
        return 1
    except BaseException:
        _cleanup(state)
        raise


def _cleanup(state):
    if state["progress"] is not None:
        try:
            state["progress"].close()
        except Exception:
            pass
    if state["sink"] is not None:
        state["sink"].discard()


if __name__ == "__main__":  # pragma: no cover
    sys.exit(main())
