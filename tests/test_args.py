"""The argument parser and every conversion kind, through the registered functions and
the private probe (which echoes each converted kind)."""

import inspect
import sys

import pytest

import tarnvel

HAS_NOTES = sys.version_info >= (3, 11)


def notes(exc):
    return getattr(exc, "__notes__", [])


def expect(exc_type, message, fn, *args, note=None, **kwargs):
    with pytest.raises(exc_type) as info:
        fn(*args, **kwargs)
    assert str(info.value) == message
    if HAS_NOTES:
        assert notes(info.value) == ([note] if note else [])
    return info.value


def params_of(fn):
    return list(inspect.signature(fn).parameters.values())


PARAM_FUNCS = [getattr(tarnvel, n) for n in tarnvel.__all__
               if n != "__version__" and params_of(getattr(tarnvel, n))]


@pytest.mark.parametrize("fn", PARAM_FUNCS, ids=lambda f: f.__name__)
def test_parse_messages_for_every_function(fn):
    params = params_of(fn)
    name = fn.__name__ + "()"
    n = len(params)
    required = [p.name for p in params if p.default is inspect.Parameter.empty]
    too_many = [object()] * (n + 1)
    if len(required) == n:
        msg = f"{name} takes {n} positional arguments but {n + 1} were given"
    else:
        msg = f"{name} takes from {len(required)} to {n} positional arguments but {n + 1} were given"
    expect(TypeError, msg, fn, *too_many)
    expect(TypeError, f"{name} got an unexpected keyword argument 'nope'", fn, nope=1)
    expect(TypeError, f"{name} got multiple values for argument '{params[0].name}'",
           fn, object(), **{params[0].name: 1})
    if required:
        quoted = [f"'{r}'" for r in required]
        if len(quoted) == 1:
            listed = quoted[0]
        elif len(quoted) == 2:
            listed = f"{quoted[0]} and {quoted[1]}"
        else:
            listed = ", ".join(quoted[:-1]) + ", and " + quoted[-1]
        word = "argument" if len(required) == 1 else "arguments"
        expect(TypeError, f"{name} missing {len(required)} required positional {word}: {listed}", fn)


def test_too_many_positional_singular_was(testing):
    expect(TypeError, "set_cpu_only() takes 1 positional arguments but 2 were given",
           tarnvel.set_cpu_only, True, True)
    expect(TypeError, "set_gpu_threshold() takes from 0 to 1 positional arguments but 2 were given",
           tarnvel.set_gpu_threshold, 1, 2)


def test_unknown_keyword_is_reported_before_missing_ones():
    expect(TypeError, "fuzz_ratio() got an unexpected keyword argument 'A'", tarnvel.fuzz_ratio, A="x")


def test_missing_names_three_or_more(testing):
    expect(TypeError, "probe_kinds() missing 3 required positional arguments: 'text', 'real', and 'signed'",
           testing.probe_kinds)
    expect(TypeError, "probe_kinds() missing 1 required positional argument: 'signed'",
           testing.probe_kinds, "t", 1.0)


def test_text_conversion():
    expect(TypeError, "'int' object is not an instance of 'str'", tarnvel.fuzz_ratio, 1, "b", note="while processing 'a'")
    expect(TypeError, "'None' is not an instance of 'str'", tarnvel.fuzz_ratio, "a", None, note="while processing 'b'")
    expect(TypeError, "'bytes' object is not an instance of 'str'", tarnvel.fuzz_ratio, "a", b"b", note="while processing 'b'")

    class S(str):
        pass

    assert tarnvel.fuzz_ratio(S("abcd"), "abce") == 75.0
    with pytest.raises(UnicodeEncodeError) as info:
        tarnvel.fuzz_ratio("\ud800", "x")
    if HAS_NOTES:
        assert notes(info.value) == ["while processing 'a'"]


def test_nested_qualname_in_messages():
    class Outer:
        class Inner:
            pass

    expect(TypeError, "'test_nested_qualname_in_messages.<locals>.Outer.Inner' object is not an instance of 'str'",
           tarnvel.fuzz_ratio, Outer.Inner(), "b", note="while processing 'a'")


def test_real_conversion(testing):
    class F:
        def __float__(self):
            return 2.5

    class I:
        def __index__(self):
            return 3

    for value, expected in [(50, 50.0), (True, 1.0), (F(), 2.5), (I(), 3.0), (float("nan"), None)]:
        got = testing.probe_kinds("t", value, 0)[1]
        assert got == expected or (expected is None and got != got)
    expect(TypeError, "must be real number, not str", tarnvel.fuzz_ratio, "a", "b", "x",
           note="while processing 'score_cutoff'")
    # -1.0 is a value, not an error.
    assert testing.probe_kinds("t", -1.0, 0)[1] == -1.0


def test_signed_and_unsigned_conversion(testing):
    assert testing.probe_kinds("t", 0, -(2**63), 2**64 - 1)[2:4] == (-(2**63), 2**64 - 1)
    assert testing.probe_kinds("t", 0, -1, 0)[2] == -1
    with pytest.raises(OverflowError) as info:
        testing.probe_kinds("t", 0, 2**63)
    if HAS_NOTES:
        assert notes(info.value) == ["while processing 'signed'"]
    with pytest.raises(TypeError):
        testing.probe_kinds("t", 0, 1.0)
    with pytest.raises(OverflowError) as info:
        testing.probe_kinds("t", 0, 0, -1)
    if HAS_NOTES:
        assert notes(info.value) == ["while processing 'unsigned'"]
    with pytest.raises(OverflowError):
        testing.probe_kinds("t", 0, 0, 2**64)
    with pytest.raises(TypeError):
        testing.probe_kinds("t", 0, 0, 2.0)

    class I:
        def __index__(self):
            return 12

    assert testing.probe_kinds("t", 0, I(), I())[2:4] == (12, 12)
    assert testing.probe_kinds("t", 0, True, False)[2:4] == (1, 0)
    np = pytest.importorskip("numpy")
    assert testing.probe_kinds("t", 0, np.int64(-4), np.uint64(2**64 - 1))[2:4] == (-4, 2**64 - 1)


def test_flag_conversion(testing):
    assert tarnvel.set_cpu_only(True) is None
    assert tarnvel.set_cpu_only(cpu_only=False) is None
    expect(TypeError, "'int' object is not an instance of 'bool'", tarnvel.set_cpu_only, 1,
           note="while processing 'cpu_only'")
    expect(TypeError, "'None' is not an instance of 'bool'", tarnvel.set_cpu_only, None,
           note="while processing 'cpu_only'")
    np = pytest.importorskip("numpy")
    assert tarnvel.set_cpu_only(np.bool_(True)) is None
    assert testing.probe_kinds("t", 0, 0, 0, np.bool_(True))[4] is True
    assert testing.probe_kinds("t", 0, 0, 0, np.bool_(False))[4] is False
    with pytest.raises(TypeError):
        tarnvel.set_cpu_only(np.int8(1))


def test_optional_unsigned(testing):
    assert tarnvel.set_gpu_threshold() is None
    assert tarnvel.set_gpu_threshold(None) is None
    assert tarnvel.set_gpu_threshold(2**64 - 1) is None
    expect(OverflowError, "can't convert negative int to unsigned", tarnvel.set_gpu_threshold, -1,
           note="while processing 'threshold'")
    with pytest.raises(TypeError) as info:
        tarnvel.set_gpu_threshold(1.5)
    if HAS_NOTES:
        assert notes(info.value) == ["while processing 'threshold'"]
    assert testing.probe_kinds("t", 0, 0, threshold=None)[5] is None
    assert testing.probe_kinds("t", 0, 0, threshold=5)[5] == 5


def test_prefix_scale_range(testing):
    for ok in (0.0, -0.0, 0.25, 0.1, 0, 1e-300):
        assert testing.probe_kinds("t", 0, 0, p=ok)[7] == ok
    for bad in (0.2500001, -1e-300, float("nan"), float("inf"), -0.0001):
        expect(ValueError, "Prefix scaling parameter 'p' must be between 0.0 and 0.25",
               testing.probe_kinds, "t", 0, 0, p=bad)
    expect(TypeError, "must be real number, not str", testing.probe_kinds, "t", 0, 0, p="x",
           note="while processing 'p'")


def test_text_lists_from_any_iterable(testing):
    items = ["b", "a", "c"]
    for given in (items, tuple(items), iter(items), (x for x in items), {k: 1 for k in items}):
        assert testing.probe_kinds("t", 0, 0, items=given)[6] == items
    assert testing.probe_kinds("t", 0, 0, items="xyz")[6] == ["x", "y", "z"]
    assert sorted(testing.probe_kinds("t", 0, 0, items={"q", "r"})[6]) == ["q", "r"]
    assert testing.probe_kinds("t", 0, 0, items=[])[6] == []

    class NoLen:
        def __iter__(self):
            return iter(["x", "y"])

        def __len__(self):
            raise RuntimeError("len is only a hint")

    assert testing.probe_kinds("t", 0, 0, items=NoLen())[6] == ["x", "y"]


def test_text_list_errors_carry_no_note(testing):
    err = expect(TypeError, "'int' object is not an instance of 'str'",
                 testing.probe_kinds, "t", 0, 0, items=["a", 5])
    assert not notes(err)
    with pytest.raises(TypeError) as info:
        testing.probe_kinds("t", 0, 0, items=5)
    assert not notes(info.value)

    def gen():
        yield "a"
        raise KeyError("from the iterator")

    with pytest.raises(KeyError):
        testing.probe_kinds("t", 0, 0, items=gen())
    with pytest.raises(UnicodeEncodeError) as info:
        testing.probe_kinds("t", 0, 0, items=["ok", "\udcff"])
    assert not notes(info.value)


def test_conversion_order(testing):
    # Texts first, then scalars in parameter order (p checked at once), then lists.
    expect(TypeError, "'int' object is not an instance of 'str'", testing.probe_kinds,
           1, "x", "y", items=[5], p=9.0, note="while processing 'text'")
    expect(TypeError, "must be real number, not str", testing.probe_kinds,
           "t", "x", 1.5, items=[5], p=9.0, note="while processing 'real'")
    expect(ValueError, "Prefix scaling parameter 'p' must be between 0.0 and 0.25",
           testing.probe_kinds, "t", 0, 0, items=[5], p=9.0)
    # A bad list is found even when the scalars are fine.
    expect(TypeError, "'int' object is not an instance of 'str'", testing.probe_kinds,
           "t", 0, 0, items=[5])


def test_list_items_are_kept_alive_and_not_copied(testing):
    # A generator producing fresh strings: their views must stay valid for the call.
    result = testing.probe_kinds("t", 0, 0, items=("x" * k + "é" for k in range(50)))[6]
    assert result == ["x" * k + "é" for k in range(50)]


def test_all_lists_are_collected_before_any_view_is_taken():
    # A bad item type in the second list is reported before an unencodable text in the
    # first, because both lists are collected before their UTF-8 views are taken.
    with pytest.raises(TypeError, match="'int' object is not an instance of 'str'"):
        tarnvel.levenshtein_cdist(["a", "\ud800"], ["b", 5])
    with pytest.raises(UnicodeEncodeError):
        tarnvel.levenshtein_cdist(["a", "\ud800"], ["b"])
    with pytest.raises(UnicodeEncodeError):
        tarnvel.levenshtein_cdist(["a"], ("b", "\udfff"))
    # Lists, tuples and other iterables give the same result.
    assert (tarnvel.levenshtein_cdist(["ab", "c"], ("b", "ca"))
            == tarnvel.levenshtein_cdist(iter(["ab", "c"]), (x for x in ("b", "ca"))))


def test_list_references_are_returned_on_success_and_on_error():
    items = [f"w{i}é" if i % 3 else f"w{i}" for i in range(3000)]
    before = [sys.getrefcount(s) for s in items]
    tarnvel.fuzz_ratio_batch("w1", items)
    tarnvel.levenshtein_cdist(items[:40], tuple(items[40:90]))
    bad = items[:2000] + [5] + items[2000:]
    with pytest.raises(TypeError):
        tarnvel.fuzz_ratio_batch("w1", bad)
    with pytest.raises(TypeError):
        tarnvel.fuzz_ratio_batch("w1", tuple(bad))
    with pytest.raises(TypeError):
        tarnvel.levenshtein_cdist(items, iter(bad))
    del bad
    assert [sys.getrefcount(s) for s in items] == before


def test_float_results_share_equal_values_and_release_them():
    import collections
    import random
    rng = random.Random(3)
    names = ["".join(rng.choice("abcdeé") for _ in range(rng.randrange(1, 14)))
             for _ in range(300)]
    results = (tarnvel.jaro_winkler_cdist(names[:60], names),
               [tarnvel.jaro_winkler_batch_fn("abcéd", names * 10)],
               [tarnvel.fuzz_ratio_batch("abcéd", names * 10)])
    for rows in results:
        uses = collections.Counter(id(x) for row in rows for x in row)
        objects = {id(x): x for row in rows for x in row}
        n_values = len({x for row in rows for x in row})
        assert n_values <= len(objects) < sum(uses.values()) / 10  # shared, mostly
        # Every reference to a result float is one of its uses (plus `objects` and the
        # argument of getrefcount): nothing is kept or released twice.
        extra = collections.Counter(sys.getrefcount(objects[i]) - uses[i] for i in objects)
        assert extra == {2: len(objects)}


def test_cross_products_leave_the_garbage_collector_as_they_found_it():
    import gc
    a, b = ["ab", "abc", "x" * 300], ["ba", "", "y" * 290 + "x"]
    expected = [[tarnvel.levenshtein_distance(x, y) for y in b] for x in a]
    assert expected[2][2] == 299  # beyond the interpreter's small ints
    was = gc.isenabled()
    try:
        for enabled in (True, False):
            (gc.enable if enabled else gc.disable)()
            assert tarnvel.levenshtein_cdist(a, b) == expected
            assert len(tarnvel.jaro_winkler_cdist(a, b)) == 3
            assert gc.isenabled() is enabled
    finally:
        (gc.enable if was else gc.disable)()
