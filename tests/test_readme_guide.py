"""The README's guide to choosing a scorer shows real output: every Python block of that
section runs, and every result written in a comment (on the line, or on the line below)
is what the code returns, to the digits shown."""

import ast
import io
import random
import tokenize
from pathlib import Path

import pytest

import tarnvel

README = Path(__file__).resolve().parents[1] / "README.md"

pytestmark = pytest.mark.skipif(not README.is_file(), reason="source tree not available")


def guide_blocks():
    text = README.read_text(encoding="utf-8")
    start = text.index("## Choosing a scorer")
    section = text[start:text.index("\n## ", start + 1)]
    blocks = section.split("```python\n")[1:]
    return [b.split("```", 1)[0] for b in blocks]


def leading_literal(comment):
    """The Python literal a comment starts with ("None (also ...)" -> None), or a marker."""
    text = comment.lstrip("#").strip()
    for end in range(len(text), 0, -1):
        try:
            return ast.literal_eval(text[:end])
        except (ValueError, SyntaxError, TypeError, MemoryError, RecursionError):
            continue
    return leading_literal


def decimals(x):
    r = repr(x)
    return len(r.split(".")[1]) if "." in r and "e" not in r else None


def same(actual, written):
    if isinstance(written, float):
        d = decimals(written)
        return isinstance(actual, float) and (actual == written if d is None else round(actual, d) == written)
    if isinstance(written, (list, tuple)):
        return (type(actual) is type(written) and len(actual) == len(written)
                and all(same(a, w) for a, w in zip(actual, written)))
    return type(actual) is type(written) and actual == written


def checks(block):
    """(statement, written result or None) for each top-level statement of a block."""
    comments = {}
    for tok in tokenize.generate_tokens(io.StringIO(block).readline):
        if tok.type == tokenize.COMMENT:
            comments[tok.start[0]] = (tok.string, tok.line.strip().startswith("#"))
    for stmt in ast.parse(block).body:
        written = None
        if isinstance(stmt, ast.Expr):
            own = comments.get(stmt.end_lineno)
            below = comments.get(stmt.end_lineno + 1)
            if own and not own[1]:
                written = leading_literal(own[0])
            elif below and below[1]:
                written = leading_literal(below[0])
        yield stmt, written


def test_every_written_result_is_real():
    pytest.importorskip("tarnvel_match")
    namespace = {"tarnvel": tarnvel}
    checked = 0
    for block in guide_blocks():
        for stmt, written in checks(block):
            code = ast.unparse(stmt)
            if written is None or written is leading_literal:
                exec(compile(ast.Module([stmt], []), "README", "exec"), namespace)
                continue
            actual = eval(code, namespace)
            assert same(actual, written), f"{code} gives {actual!r}, the README says {written!r}"
            checked += 1
    assert checked >= 20  # the section's examples did run


def test_chunked_extraction_equals_one_call(rng):
    # The README's chunk-and-merge recipe must give exactly what one call gives.
    namespace = {"tarnvel": tarnvel}
    block = next(b for b in guide_blocks() if "def best_in_chunks" in b)
    exec(block, namespace)
    best_in_chunks = namespace["best_in_chunks"]
    for _ in range(30):
        names = ["".join(rng.choice("abc") for _ in range(rng.randrange(5))) for _ in range(rng.randrange(60))]
        query = "".join(rng.choice("abc") for _ in range(rng.randrange(1, 4)))
        limit = rng.randrange(1, 8)
        chunk = rng.randrange(1, 9)
        assert best_in_chunks(query, names, limit=limit, chunk=chunk) == tarnvel.fuzz_extract(query, names, limit=limit)


def test_the_parser_of_written_results_is_strict():
    # Guards the test above against silently comparing nothing.
    assert same(47.05882352941176, 47.06) and same(47.05882352941176, 47.1)
    assert not same(47.05882352941176, 47.05) and not same(47.05882352941176, 47.0)
    assert not same(3, 3.0) and not same([("a", 1.0, 0)], [("a", 1.0, 1)])
    assert leading_literal("# None (also False)") is None
    stmts = list(checks('f(1)  # [1, 2]\ng(2)\n# 0.5\nx = 3  # 4\n'))
    assert [w for _, w in stmts] == [[1, 2], 0.5, None]
