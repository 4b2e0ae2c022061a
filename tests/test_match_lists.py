"""Plain lists as choices: every call collects the strings on the calling thread and
processes them on the workers in blocks of a few thousand, with the texts the native fold
cannot do yet (characters not seen before, the capital sigma, astral characters) left to
the calling thread. Checked against a plain loop over the tarnvel scalar functions on
lists long enough to span several blocks."""

import math
import random

import pytest

np = pytest.importorskip("numpy")
tm = pytest.importorskip("tarnvel_match")

from conftest import MULTIPLIER, SEED  # noqa: E402
from test_match import KWARGS, default_process, ref_extract, same  # noqa: E402

BLOCK = 4096  # strings per processing block of a plain list


@pytest.fixture
def rng(request):
    return random.Random(f"{SEED}:{request.node.nodeid}")


def fresh_characters(rng, count):
    """BMP letters from a random stretch, most likely never folded before in this process."""
    start = rng.randrange(0x4E00, 0x9F00 - count)
    return [chr(c) for c in range(start, start + count)]


def mixed_list(rng, n):
    """Cities-like texts: mostly ASCII words, some accented, some with characters of a
    fresh stretch, a few capital sigmas and astral characters, missing values and
    edge cases (empty, all punctuation, leading and trailing separators)."""
    words = ["saint", "Port", "NEW", "lake", "Rio", "old-town", "san", "x"]
    accented = ["São", "Zürich", "Łódź", "İzmir", "Straße", "ÉCOLE", "Ünïcode"]
    fresh = fresh_characters(rng, 40)
    odd = ["ΟΔΟΣ", "Σ", "\U0001f600", "\U00010400x", "  ", "", "--", " a ", "ﬃ"]
    out = []
    for _ in range(n):
        r = rng.random()
        if r < 0.04:
            out.append(None if rng.random() < 0.5 else float("nan"))
            continue
        k = rng.randint(1, 3)
        parts = []
        for _ in range(k):
            t = rng.random()
            if t < 0.7:
                parts.append(rng.choice(words))
            elif t < 0.85:
                parts.append(rng.choice(accented))
            elif t < 0.97:
                parts.append("".join(rng.choice(fresh) for _ in range(rng.randint(1, 3))))
            else:
                parts.append(rng.choice(odd))
        out.append(rng.choice([" ", ", ", "-"]).join(parts))
    return out


def test_processed_forms_span_blocks_with_cold_characters(rng):
    n = 3 * BLOCK + 123
    for _ in range(2 * MULTIPLIER):
        items = mixed_list(rng, n)
        for processor, fn in (("default", default_process), (None, lambda s: s)):
            c = tm.Choices(items, processor=processor)
            for i, s in enumerate(items):
                missing = s is None or (isinstance(s, float) and math.isnan(s))
                assert c.processed(i) == (None if missing else fn(s)), (i, s)


@pytest.mark.parametrize("name", ["ratio", "qratio", "partial_ratio", "token_sort_ratio",
                                  "partial_token_sort_ratio", "partial_token_set_ratio",
                                  "partial_token_ratio", "wratio", "jaro_winkler", "levenshtein"])
def test_plain_list_extract_matches_brute_force(name, rng):
    kw = KWARGS.get(name)
    items = mixed_list(rng, 2 * BLOCK + 777)
    # A few exact copies late in the list, so that ties and perfect matches span blocks.
    for at in (BLOCK - 1, BLOCK, 2 * BLOCK + 700):
        items[at] = items[5] if isinstance(items[5], str) else "saint port"
    queries = [rng.choice([s for s in items if isinstance(s, str)]) for _ in range(2)] + ["Sao Paul"]
    for q in queries:
        for processor in ("default", None):
            exp = ref_extract(name, q, items, processor, None, 5)
            for workers in (None, 1):
                got = tm.extract(q, items, scorer=name, processor=processor, scorer_kwargs=kw,
                                 limit=5, workers=workers)
                same(got, exp)
                one = tm.extract_one(q, items, scorer=name, processor=processor, scorer_kwargs=kw,
                                     workers=workers)
                assert one == (exp[0] if exp else None)
                assert one is None or one[0] is items[one[2]]


def test_plain_list_errors_and_tuples_across_blocks(rng):
    items = mixed_list(rng, 2 * BLOCK + 5)
    bad = list(items)
    bad[BLOCK + 3] = 12
    with pytest.raises(TypeError, match=rf"choices\[{BLOCK + 3}\] must be str, not int"):
        tm.extract_one("abc", bad, processor="default")
    # A tuple is used as given, a list is copied: both give what a Choices gives.
    c = tm.Choices(items, processor="default")
    exp = tm.extract("saint", c, limit=7)
    assert tm.extract("saint", tuple(items), processor="default", limit=7) == exp
    assert tm.extract("saint", items, processor="default", limit=7) == exp


def test_threads_packing_lists_with_cold_characters_at_once(rng):
    # Workers of one call read the fold cache while another thread's call fills it with
    # characters of its own fresh stretch: every result must be the one-thread result.
    import threading

    lists = []
    for t in range(4):
        fresh = fresh_characters(rng, 30)
        items = mixed_list(random.Random(f"{SEED}:threads:{t}"), BLOCK + 500)
        lists.append([s + rng.choice(fresh) if isinstance(s, str) and i % 7 == 0 else s
                      for i, s in enumerate(items)])
    want = [[default_process(s) if isinstance(s, str) else None for s in items] for items in lists]
    expect = [ref_extract("ratio", "san port", items, "default", None, 3) for items in lists]
    errors = []

    def work(t):
        try:
            for _ in range(3):
                same(tm.extract("san port", lists[t], processor="default", limit=3), expect[t])
                c = tm.Choices(lists[t], processor="default")
                assert [c.processed(i) for i in range(len(lists[t]))] == want[t]
        except BaseException as e:  # reported on the main thread
            errors.append(e)

    threads = [threading.Thread(target=work, args=(t,)) for t in range(4)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    assert not errors, errors


def test_a_list_queried_again_is_packed_once_and_never_stale(rng):
    # A list (or tuple) holding the same objects as the last one packed reuses its store;
    # any change to it (an item replaced in place, one appended, another processor, an
    # equal but rebuilt list) must give exactly the results of a fresh packing.
    import tarnvel_match._matching as matching

    items = mixed_list(rng, BLOCK + 300)
    items[17] = "saint port"
    name = "token_sort_ratio"

    def check(seq, query, processor="default"):
        exp = ref_extract(name, query, list(seq), processor, None, 4)
        got = tm.extract(query, seq, scorer=name, processor=processor, limit=4)
        same(got, exp)
        for choice, _, i in got:
            assert choice is seq[i]

    check(items, "saint port")
    kept = matching._last_packed
    check(items, "port saint")
    assert matching._last_packed is kept  # reused, not packed again
    items[17] = "zanzibar quay"
    check(items, "zanzibar quay")
    assert matching._last_packed is not kept
    items.append("lake rio")
    check(items, "lake rio")
    check(items, "LAKE RIO", processor=None)
    check(tuple(items), "lake rio")
    rebuilt = ["".join(list(s)) if isinstance(s, str) else s for s in items]
    rebuilt[3] = "new town"
    check(rebuilt, "new town")
    check(items, "new town")

    # A callable processor runs on every call: nothing is reused.
    seen = []

    def upper(s):
        seen.append(s)
        return s.upper()

    small = ["a b", "b c", "c d"]
    for _ in range(2):
        tm.extract_one("B C", small, processor=upper)
    assert len(seen) == 2 * (len(small) + 1)
