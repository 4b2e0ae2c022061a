"""Ctrl-C stops every long call of the public module, on the pool and in scalar kernels.

Each case runs in a subprocess that starts a call lasting far longer than the test (tens
of seconds uninterrupted), receives SIGINT one second in and must raise within 0.5 s;
the module must then give correct results at once (in a forked child too).
"""

import signal
import subprocess
import sys
import textwrap
import time

import pytest

SCRIPT = textwrap.dedent(r"""
    import os, random, sys, threading, signal
    import tarnvel as t

    shape, mode = sys.argv[1], sys.argv[2]
    rng = random.Random(17)
    ALPHA = bytes(range(97, 123)) * 10

    def text(n, seed):
        r = random.Random(seed)
        return r.randbytes(n).translate(bytes(ALPHA[i % 26] for i in range(256))).decode()

    out = None
    if shape == "cdist":
        a = [text(1000, i) for i in range(200)]
        b = [text(1000, 1000 + i) for i in range(200)]
        call = lambda: t.damerau_levenshtein_cdist(a, b)
        check = lambda: t.damerau_levenshtein_cdist(["ca", "abc"], ["ac", "x"]) == [[1, 2], [1, 3]]
    elif shape == "lev_cdist":
        a = [text(4000, i) for i in range(600)]
        b = [text(4000, 1000 + i) for i in range(600)]
        call = lambda: t.levenshtein_cdist(a, b)
        check = lambda: t.levenshtein_cdist(["kitten"], ["sitting", ""]) == [[3, 6]]
    elif shape == "batch":
        q = text(2000, 1)
        c = [text(2000, 2 + i) for i in range(5000)]
        call = lambda: t.damerau_levenshtein_batch(q, c)
        check = lambda: t.damerau_levenshtein_batch("ca", ["ac", "abc", ""]) == [1, 2, 2]
    elif shape in ("into_big", "into_small"):
        import numpy as np
        if shape == "into_big":  # at least the direct-write size: written in place
            a = [text(200, i) for i in range(1100)]
            b = [text(200, 5000 + i) for i in range(1000)]
        else:  # below it: must stay untouched
            a = [text(3000, i) for i in range(30)]
            b = [text(3000, 5000 + i) for i in range(30)]
        out = np.full((len(a), len(b)), 0xDEADBEEF, dtype=np.uint32)
        call = lambda: t.damerau_levenshtein_cdist_into(a, b, out)
        def check():
            small = np.zeros((2, 2), dtype=np.uint32)
            t.damerau_levenshtein_cdist_into(["ca", "abc"], ["ac", "x"], small)
            return small.tolist() == [[1, 2], [1, 3]]
    elif shape == "extract":
        q = text(2000, 1)
        c = [text(2000, 2 + i) for i in range(1000)] * 400
        call = lambda: t.fuzz_extract(q, c, limit=3)
        check = lambda: t.fuzz_extract("abc", ["abd", "abc", "x"], limit=2) == [
            ("abc", 100.0, 1), ("abd", t.fuzz_ratio("abc", "abd"), 0)]
    elif shape == "scalar":
        x, y = text(60000, 1), text(60000, 2)
        call = lambda: t.damerau_levenshtein_distance(x, y)
        check = lambda: t.damerau_levenshtein_distance("ca", "abc") == 2
    elif shape == "thread":
        # A call of a few seconds, on another thread: it runs to the end.
        x, y = text(50000, 1), text(50000, 2)
        call = lambda: t.damerau_levenshtein_distance(x, y)
        check = lambda: t.damerau_levenshtein_distance("ca", "abc") == 2
    else:
        raise SystemExit("unknown shape")

    class Custom(Exception):
        pass

    if mode == "custom":
        def handler(signum, frame):
            raise Custom("from handler")
        signal.signal(signal.SIGINT, handler)

    def run():
        try:
            r = call()
            print("finished", type(r).__name__, flush=True)
        except KeyboardInterrupt:
            print("interrupted", flush=True)
        except Custom as e:
            print("custom", e, flush=True)

    if mode == "thread":
        done = threading.Event()
        th = threading.Thread(target=lambda: (run(), done.set()))
        print("ready", flush=True)
        th.start()
        interrupted = False
        while not done.is_set():
            try:
                done.wait(0.02)
            except KeyboardInterrupt:
                interrupted = True
        th.join()
        print("main interrupted" if interrupted else "main not interrupted", flush=True)
    else:
        print("ready", flush=True)
        run()
    if out is not None:
        print("untouched" if (out == 0xDEADBEEF).all() else "written", flush=True)
    print("check", check(), flush=True)
    if mode == "fork":
        pid = os.fork()
        if pid == 0:
            ok = check() and t.levenshtein_batch("abc", ["abd"] * 5000) == [1] * 5000
            os._exit(0 if ok else 3)
        _, status = os.waitpid(pid, 0)
        print("child", os.waitstatus_to_exitcode(status), flush=True)
""")


def interrupt(shape, mode="main", delay=1.0):
    p = subprocess.Popen([sys.executable, "-c", SCRIPT, shape, mode], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True)
    try:
        assert p.stdout.readline().strip() == "ready", p.stderr.read()
        time.sleep(delay)
        sent = time.monotonic()
        p.send_signal(signal.SIGINT)
        first = p.stdout.readline().strip()
        latency = time.monotonic() - sent
        rest = p.stdout.read().split("\n")
        p.wait(timeout=120)
    finally:
        p.kill()
    return first, latency, [r for r in rest if r], p.returncode


@pytest.mark.parametrize("shape", ["cdist", "lev_cdist", "batch", "extract", "scalar"])
def test_long_call_stops_quickly_and_module_stays_usable(shape):
    first, latency, rest, rc = interrupt(shape)
    assert first == "interrupted", (first, rest)
    assert latency < 0.5
    assert rest == ["check True"] and rc == 0


def test_into_direct_write_stops_quickly():
    pytest.importorskip("numpy")
    first, latency, rest, rc = interrupt("into_big")
    assert first == "interrupted" and latency < 0.5
    # Written in place, so it may hold partial results; the next call is correct.
    assert rest[-1] == "check True" and rc == 0


def test_into_below_direct_write_size_is_untouched():
    pytest.importorskip("numpy")
    first, latency, rest, rc = interrupt("into_small")
    assert first == "interrupted" and latency < 0.5
    assert rest == ["untouched", "check True"] and rc == 0


def test_handler_exception_propagates_from_a_call():
    first, latency, rest, rc = interrupt("cdist", "custom")
    assert first == "custom from handler" and latency < 0.5
    assert rest == ["check True"] and rc == 0


def test_call_on_another_thread_completes():
    first, latency, rest, rc = interrupt("thread", "thread")
    assert first == "finished int", (first, rest)
    assert rest == ["main interrupted", "check True"] and rc == 0


def test_interrupt_then_fork():
    first, latency, rest, rc = interrupt("batch", "fork")
    assert first == "interrupted" and latency < 0.5
    assert rest == ["check True", "child 0"] and rc == 0


@pytest.mark.parametrize("shape", ["scalar", "into_big", "extract"])
def test_handler_exception_propagates_from_every_kind_of_wait(shape):
    # Serial kernels poll on the calling thread, pool calls while blocked, direct writes
    # with the array borrowed: each passes the handler's own exception on.
    first, latency, rest, rc = interrupt(shape, "custom")
    assert first == "custom from handler" and latency < 0.5, (first, rest)
    assert rest[-1] == "check True" and rc == 0


FORK_FROM_THREAD = textwrap.dedent(r"""
    import os, random, signal, sys, threading, time
    import tarnvel as t

    def text(n, seed):
        r = random.Random(seed)
        return "".join(r.choice("abcdefghij") for _ in range(n))
    c = [text(2000, 2 + i) for i in range(5000)]
    q = text(2000, 1)
    print("ready", flush=True)
    try:
        t.damerau_levenshtein_batch(q, c)
        print("finished", flush=True)
    except KeyboardInterrupt:
        print("interrupted", flush=True)

    def in_thread():
        # Forked from a thread other than the main one: in the child that thread is the
        # main one, so Ctrl-C must stop its long calls.
        pid = os.fork()
        if pid == 0:
            def fire():
                time.sleep(0.5)
                os.kill(os.getpid(), signal.SIGINT)
            threading.Thread(target=fire).start()
            code = 1
            try:
                t.damerau_levenshtein_batch(q, c)
            except KeyboardInterrupt:
                code = 0 if t.damerau_levenshtein_batch("ca", ["ac", "abc"]) == [1, 2] else 2
            os._exit(code)
        _, status = os.waitpid(pid, 0)
        print("child", os.waitstatus_to_exitcode(status), flush=True)
    th = threading.Thread(target=in_thread)
    th.start()
    th.join()
""")


def test_interrupt_then_fork_from_another_thread_gives_an_interruptible_child():
    p = subprocess.Popen([sys.executable, "-c", FORK_FROM_THREAD], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True)
    try:
        assert p.stdout.readline().strip() == "ready", p.stderr.read()
        time.sleep(1.0)
        p.send_signal(signal.SIGINT)
        out, err = p.communicate(timeout=120)
    finally:
        p.kill()
    assert out.split("\n")[:2] == ["interrupted", "child 0"], (out, err)
