"""An interpreter that exits while daemon threads run inside callbacks the
extension made ends them by pthread_exit, a forced unwind through our frames:
the process must still exit cleanly, in the release and the checked build
(pytest-asan runs this file against the sanitized extension; the children
inherit its environment).

The children (exit_child.py) either have the main thread call the engine from
module teardown, so that the interpreter ends daemon threads inside the
callbacks (statistical: every child must exit 0), or have one daemon thread
wait inside a callback until module teardown lets it go, so the interpreter
ends it there (deterministic)."""

import concurrent.futures
import os
import subprocess
import sys
import textwrap

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
CHILD = os.path.join(HERE, "exit_child.py")

STAGES = ("start", "main", "post", "adjust")
KINDS = tuple(f"{stage}_{shape}" for shape in ("hook", "gen", "prop") for stage in STAGES) + (
    "batch", "action", "del", "account_group")  # and class_attr, below

# Children per kind; VANTREL_EXIT_CHILDREN raises it for a long run by hand.
# The checked build's children are slow; its deterministic tests below carry it.
CHILDREN = int(os.environ.get("VANTREL_EXIT_CHILDREN", 6 if os.environ.get("VANTREL_SANITIZED") == "1" else 12))
WORKERS = 4


def run_child(kind, mode="teardown", *more):
    try:
        run = subprocess.run([sys.executable, CHILD, kind, mode, *more], capture_output=True, text=True, timeout=600)
    except subprocess.TimeoutExpired as hang:
        return "hang", str(hang.stderr)[-2000:], ""
    return run.returncode, run.stderr[-2000:], run.stdout


# A sanitizer's report on a thread that is being ended need not end the
# process in time to change its status: none may be printed at all.
SANITIZER_REPORTS = ("runtime error:", "Sanitizer", "Fatal Python error")


def reported(err):
    return any(report in err for report in SANITIZER_REPORTS)


def run_children(kind, *more):
    with concurrent.futures.ThreadPoolExecutor(max_workers=WORKERS) as pool:
        return list(pool.map(lambda _: run_child(kind, "teardown", *more), range(CHILDREN)))


@pytest.mark.parametrize("kind", KINDS)
def test_the_interpreter_exits_cleanly_with_daemon_threads_ended_inside_callbacks(kind):
    results = run_children(kind)
    failures = [(code, err) for code, err, _ in results if code != 0 or reported(err)]
    assert not failures, f"{len(failures)} of {CHILDREN} exits failed; first: {failures[0]}"
    # Every child's teardown made all its engine calls, and none raised: the
    # finalising thread is let back in wherever a call gave the lock up.
    assert all(out == "teardown calls 300 raised 0\n" for _, _, out in results), [out for _, _, out in results]


# A conversion's error whose __str__, or the __del__ of what it holds, calls the
# module, where the interpreter ends the thread: the binding words and releases
# that error only once its C++ handler has ended (inside it, the thread's end
# would meet an exception being handled, and the runtime ends the process).
ERROR_TEXT_KINDS = tuple(f"{road}_{callee}" for road in ("str", "del", "userdata")
                         for callee in ("order", "adjust", "id"))


# "unraisable": the same for the report of a failure in a function that has no
# failure value, whose sys.unraisablehook calls the toolkit's test module.
@pytest.mark.parametrize("kind", ERROR_TEXT_KINDS + ("unraisable",))
@pytest.mark.parametrize("mode", ["teardown", "gate"])
def test_a_thread_ended_while_an_error_is_worded_or_reported_exits_cleanly(kind, mode, testkit):
    more = (os.path.dirname(testkit.__file__),)
    with concurrent.futures.ThreadPoolExecutor(max_workers=WORKERS) as pool:
        results = list(pool.map(lambda _: run_child(kind, mode, *more), range(CHILDREN if mode == "teardown" else 2)))
    failures = [(code, err) for code, err, _ in results if code != 0 or reported(err)]
    assert not failures, f"{len(failures)} of {len(results)} exits failed; first: {failures[0]}"
    expected = "teardown calls 300 raised 0\n" if mode == "teardown" else "alive\n"
    assert all(out == expected for _, _, out in results), [out for _, _, out in results]


# The same callbacks, deterministically: a daemon thread waits inside one, and
# module teardown lets it go, so the interpreter ends it there; the finalizer
# then calls the engine, on the ended thread's account too.
@pytest.mark.parametrize("kind", KINDS + ("class_attr",))
def test_a_thread_ended_inside_a_callback_leaves_the_engine_and_the_interpreter_working(kind, testkit):
    code, err, out = run_child(kind, "gate", os.path.dirname(testkit.__file__))
    assert (code, out, reported(err)) == (0, "alive\n", False), err


# A thread ended inside a hook while core work had staged an undo: the undo
# waits for a core lock another thread holds. Kept, the interpreter lock is
# never given up there (the thread no longer has it); given up around the core
# work and taken back by the hook's token, it is not released on the way out.
ENDED_IN_CORE_WORK = textwrap.dedent("""
    import builtins, os, sys, threading, time
    sys.path.insert(0, {where!r})
    import {name} as kit

    waiting, gate = threading.Event(), threading.Lock()
    gate.acquire()

    def hook():
        waiting.set()
        gate.acquire()  # until the interpreter finalises: it ends the thread here

    threading.Thread(target=kit.ended_in_core_work, args=(hook, 5.0, {given_up}), daemon=True).start()
    waiting.wait()

    class Teardown:
        def __init__(self):
            self.kit, self.gate, self.sleep, self.write = kit, gate, time.sleep, os.write

        def __del__(self):
            self.gate.release()
            self.sleep(0.4)  # the thread is ended meanwhile, and its undo waits for the lock
            self.write(1, f"{{self.kit.lock_depth()}} {{self.kit.core_work(0.5, True)}}\\n".encode())

    builtins.exit_teardown = Teardown()
""")


@pytest.mark.parametrize("given_up", [False, True])
def test_a_thread_ended_inside_a_hook_waits_for_a_core_lock_without_the_interpreter_lock(testkit, given_up):
    code = ENDED_IN_CORE_WORK.format(where=os.path.dirname(testkit.__file__), name=testkit.__name__,
                                     given_up=given_up)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0 and not reported(done.stderr), done.stderr
    # This thread's count is intact, and it still gives the lock up to wait.
    assert done.stdout == "1 (True, 0, False)\n", done.stderr


# Classes are made on first use, and a class attribute's value may come from
# Python code (the toolkit's test module has such a class, made afresh per call).
def test_the_interpreter_exits_cleanly_with_daemon_threads_ended_while_a_class_is_made(testkit):
    results = run_children("class_attr", os.path.dirname(testkit.__file__))
    failures = [(code, err) for code, err, _ in results if code != 0 or reported(err)]
    assert not failures, f"{len(failures)} of {CHILDREN} exits failed; first: {failures[0]}"


FINALISING = textwrap.dedent("""
    import builtins, os, sys
    sys.path.insert(0, {where!r})
    import {name} as kit

    class Teardown:
        def __init__(self):
            self.kit, self.write, self.ran = kit, os.write, []

        def __del__(self):
            # Core work that must wait for a core lock gives the interpreter
            # lock up, then a hook asks for it back; then staged actions run
            # with the lock given up, as a commit runs them.
            gave_up = self.kit.core_work(0.5, True, lambda: self.ran.append("hook"), True)[0]
            self.kit.run_actions([lambda: self.ran.append("a"), lambda: self.ran.append("b")], True)
            self.write(1, f"{{gave_up}} {{self.ran}}\\n".encode())

    builtins.exit_teardown = Teardown()  # dropped at module teardown, once the interpreter finalises
""")


def test_the_finalising_thread_is_let_back_in_by_hooks_and_staged_actions(testkit):
    code = FINALISING.format(where=os.path.dirname(testkit.__file__), name=testkit.__name__)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0 and not reported(done.stderr), done.stderr
    assert done.stdout == "True ['hook', 'a', 'b']\n", done.stderr
