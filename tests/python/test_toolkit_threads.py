"""The interpreter lock, the deferred-release queue and the core-lock rule."""

import ast
import faulthandler
import os
import subprocess
import sys
import textwrap
import threading

import pytest


# A hang ends the run with every stack. Far past what any test here takes, even under a
# sanitizer on a loaded machine: a slow run is no hang.
WATCHDOG_SECONDS = 600


@pytest.fixture(autouse=True)
def watchdog():
    faulthandler.dump_traceback_later(WATCHDOG_SECONDS, exit=True)
    yield
    faulthandler.cancel_dump_traceback_later()


def is_internal_fault(error):
    return isinstance(error, BaseException) and not isinstance(error, Exception)


@pytest.mark.parametrize("count", [1, 2, 50])
def test_release_without_the_lock_is_queued_until_the_next_entry(testkit, count):
    obj = object()
    before = sys.getrefcount(obj)
    testkit.lock_depth()  # leaves an empty queue behind
    assert testkit.release_without_lock(obj, count) == count
    # Retaking the lock on the way out performed them.
    assert sys.getrefcount(obj) == before


@pytest.mark.parametrize("threads, count", [(1, 1), (3, 7)])
def test_foreign_thread_release_waits_for_an_entry(testkit, threads, count):
    obj = object()
    before = sys.getrefcount(obj)
    testkit.lock_depth()
    assert testkit.release_on_foreign_thread(obj, threads, count) == threads * count
    # Nothing entered the module since: the references are still held...
    assert sys.getrefcount(obj) == before + threads * count
    # ...and any entry releases them.
    assert testkit.lock_depth() == 1
    assert sys.getrefcount(obj) == before


def test_release_storm_loses_and_repeats_nothing(testkit):
    obj = object()
    before = sys.getrefcount(obj)
    stop = threading.Event()
    errors = []

    def python_side():
        try:
            for _ in range(300):
                if stop.is_set():
                    return
                testkit.release_without_lock(obj, 5)
                testkit.lock_depth()
        except BaseException as error:  # noqa: BLE001  (reported below)
            errors.append(error)

    workers = [threading.Thread(target=python_side) for _ in range(4)]
    for worker in workers:
        worker.start()
    try:
        for _ in range(40):
            testkit.release_on_foreign_thread(obj, 4, 25, True)
    finally:
        stop.set()
        for worker in workers:
            worker.join(30)
    assert errors == [] and not any(worker.is_alive() for worker in workers)
    testkit.lock_depth()
    assert testkit.queued_releases() == 0
    assert sys.getrefcount(obj) == before


def test_python_action_under_a_core_lock_is_refused(testkit):
    calls = []
    for unlocked in (False, True):
        with pytest.raises(BaseException) as info:
            testkit.under_core_lock([lambda: calls.append(1)], unlocked)
        assert is_internal_fault(info.value)
        assert str(info.value) == "the interpreter lock was requested while a core lock is held"
    assert calls == []
    # The fault was raised once, not left behind for the next call.
    assert testkit.under_core_lock([]) == 0


def test_release_under_a_core_lock_is_queued_even_with_the_lock(testkit):
    obj = object()
    before = sys.getrefcount(obj)
    testkit.lock_depth()
    # Given up and retaken around the core work, the lock's return flushes the queue...
    assert testkit.under_core_lock([], True, obj) == 1
    assert sys.getrefcount(obj) == before
    # ...kept throughout, the release waits for the next entry.
    assert testkit.under_core_lock([], False, obj) == 1
    assert sys.getrefcount(obj) == before + 1
    testkit.lock_depth()
    assert sys.getrefcount(obj) == before


MISUSES = ["borrow", "copy", "new_ref", "allow_threads", "shared", "exclusive", "class"]


@pytest.mark.parametrize("kind", MISUSES)
def test_lock_checks_catch_work_without_the_lock(testkit, kind):
    if not testkit.lock_checks:
        pytest.skip("lock checks are compiled out of this build")
    with pytest.raises(BaseException) as info:
        testkit.unlocked_misuse(kind, object())
    assert is_internal_fault(info.value)
    assert str(info.value).endswith(" without the interpreter lock")


def test_lock_checks_allow_a_queued_release(testkit):
    if not testkit.lock_checks:
        pytest.skip("lock checks are compiled out of this build")
    obj = object()
    before = sys.getrefcount(obj)
    assert testkit.unlocked_misuse("release", obj) is None
    testkit.lock_depth()
    assert sys.getrefcount(obj) == before


# ------------------------------------------ giving the lock up only to wait

def _with_ticker(testkit, call):
    """Calls `call` while a second Python thread keeps calling testkit.tick(),
    which it can do during the call only if the lock was given up."""
    stop = threading.Event()

    def ticker():
        while not stop.is_set():
            testkit.tick()

    thread = threading.Thread(target=ticker)
    thread.start()
    try:
        return call()
    finally:
        stop.set()
        thread.join()


@pytest.mark.parametrize("held_for, armed, gives_up", [
    (0, True, False),  # nothing to wait for: kept throughout
    (0.2, True, True),  # contended: given up before parking, depth zero meanwhile
    (0.2, False, False),  # not armed: waits holding it, like the entry points that keep it
])
def test_core_work_gives_the_lock_up_only_when_it_must_wait(testkit, held_for, armed, gives_up):
    # Where the other thread can get in, the core lock is held until it has: however
    # slowly a loaded machine runs it, it is seen.
    gave_up, depth, others_ran = _with_ticker(
        testkit, lambda: testkit.core_work(held_for, armed, until_ticked=gives_up))
    assert (gave_up, others_ran) == (gives_up, gives_up)
    assert depth == (0 if gives_up else 1)
    assert testkit.lock_depth() == 1


def test_a_hook_waiting_on_a_core_lock_keeps_the_lock_it_runs_under(testkit):
    # The hook's own call into the module waits without arming: the outer
    # work's arming must not give the lock up under running Python.
    inner = []
    outer = testkit.core_work(0, True, lambda: inner.append(testkit.core_work(0.05, False)))
    [(gave_up, depth, _)] = inner
    assert not gave_up and depth > 0
    assert outer[:2] == (False, 1)


def test_a_hook_after_the_outer_work_gave_the_lock_up_keeps_its_lock_depth(testkit):
    # The outer work parked on a contended core lock (the lock was given up),
    # then runs a hook whose call into the module arms a scope of its own: that
    # scope has given nothing up, so it must not retake the lock the hook runs
    # under. Run in a child: done wrong, the retaking hangs the interpreter.
    script = textwrap.dedent("""
        import sys
        sys.path.insert(0, sys.argv[1])
        import _vantrel_testkit as kit
        seen = []
        def hook():
            before = kit.lock_depth()
            inner = kit.core_work(0, True)
            seen.append((before, inner[:2], kit.lock_depth()))
        outer = kit.core_work(0.2, True, hook, True)
        print(repr((outer[:2], seen, kit.lock_depth())))
    """)
    run = subprocess.run([sys.executable, "-c", script, os.path.dirname(testkit.__file__)],
                         capture_output=True, text=True, timeout=30)
    assert run.returncode == 0, run.stderr
    outer, [(before, inner, after)], depth_at_the_end = ast.literal_eval(run.stdout)
    assert outer == (True, 0)  # the outer work did give the lock up
    assert inner == (False, before)  # the inner work had nothing to give up
    assert after == before and depth_at_the_end == 1
