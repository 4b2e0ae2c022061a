"""Cancellation: Ctrl-C stops pool operations and serial work on the calling thread."""

import signal
import subprocess
import sys
import textwrap
import time

import pytest

pytest.importorskip("_tarnvel_testing")

SPIN = textwrap.dedent("""
    import sys, threading, _tarnvel_testing as t
    serial = sys.argv[1] == '1'
    N = int(sys.argv[4])
    where = sys.argv[2]
    def handler(signum, frame):
        raise LookupError('from handler')
    if sys.argv[3] == 'custom':
        import signal; signal.signal(signal.SIGINT, handler)
    def run():
        try:
            n = t.engine_spin(N, serial)
            print('finished', n == N, flush=True)
        except KeyboardInterrupt:
            print('interrupted', flush=True)
        except LookupError as e:
            print('custom', e, flush=True)
    print('ready', flush=True)
    if where == 'main':
        run()
    else:
        # Wait on an event, not join(): an interrupted join() can lose track of the thread.
        # The other thread keeps calling until the main thread has seen the signal, so
        # the signal lands during one of its calls however fast the machine is.
        done = threading.Event()
        seen = threading.Event()
        def calls():
            ok = True
            while not seen.is_set():
                ok = ok and t.engine_spin(N, serial) == N
            print('finished', ok, flush=True)
            done.set()
        th = threading.Thread(target=calls); th.start()
        while True:
            try:
                if done.wait(0.05):
                    break
            except KeyboardInterrupt:
                print('main thread interrupted', flush=True)
                seen.set()
        th.join()
    # The pool and the module are usable at once.
    print(t.engine_spin(5000, serial), t.engine_map(5)[-1], flush=True)
""")


def interrupt_after(args, delay=1.0):
    # Far more items than a second's worth: an uninterrupted run takes minutes.
    p = subprocess.Popen([sys.executable, "-c", SPIN, *args, str(10**9)], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True)
    try:
        assert p.stdout.readline().strip() == "ready"
        time.sleep(delay)
        sent = time.monotonic()
        p.send_signal(signal.SIGINT)
        first = p.stdout.readline().strip()
        latency = time.monotonic() - sent
        rest = p.stdout.read().strip()
        p.wait(timeout=60)
    finally:
        p.kill()
    return first, latency, rest, p.returncode


@pytest.mark.parametrize("serial", ["0", "1"], ids=["pool", "calling-thread"])
def test_sigint_raises_keyboardinterrupt_quickly(serial):
    first, latency, rest, rc = interrupt_after([serial, "main", "default"])
    assert first == "interrupted"
    assert latency < 0.5
    assert rest == "5000 13" and rc == 0


def test_handler_exception_propagates():
    first, latency, rest, rc = interrupt_after(["0", "main", "custom"])
    assert first == "custom from handler" and latency < 0.5
    assert rest == "5000 13" and rc == 0


def test_other_threads_run_to_completion():
    # Only the main thread runs signal handlers; a call on another thread is not stopped
    # and returns its full result.
    p = subprocess.Popen([sys.executable, "-c", SPIN, "0", "thread", "default", str(2 * 10**5)],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert p.stdout.readline().strip() == "ready"
        time.sleep(0.5)
        p.send_signal(signal.SIGINT)
        out, err = p.communicate(timeout=120)
    finally:
        p.kill()
    assert out.splitlines() == ["main thread interrupted", "finished True", "5000 13"], err
