"""Parked exceptions across nested entry points, releases and `__del__` code."""

import gc
import sys

import pytest


def raiser(error):
    def action():
        raise error

    return action


@pytest.fixture
def unraisable():
    """Collects what the interpreter reports through sys.unraisablehook."""
    reports = []
    old_hook = sys.unraisablehook
    sys.unraisablehook = lambda report: reports.append((report.exc_value, report.object))
    try:
        yield reports
    finally:
        sys.unraisablehook = old_hook


@pytest.mark.parametrize("unlocked", [False, True])
@pytest.mark.parametrize(
    "nested",
    [
        pytest.param(lambda t: t.run_actions([lambda: None]), id="nested-succeeds"),
        pytest.param(lambda t: t.run_actions([lambda: None], True), id="nested-unlocked"),
    ],
)
def test_nested_entry_point_keeps_the_outer_exception(testkit, nested, unlocked):
    first = ValueError("first hook failed")
    with pytest.raises(ValueError) as info:
        testkit.run_actions([raiser(first), lambda: nested(testkit)], unlocked)
    assert info.value is first
    assert testkit.protocol_depth() == 0


def test_nested_entry_point_raises_its_own_exception_to_the_hook(testkit):
    first, inner = ValueError("outer"), KeyError("inner")
    seen = []

    def hook():
        try:
            testkit.run_actions([raiser(inner)])
        except KeyError as error:
            seen.append(error)

    with pytest.raises(ValueError) as info:
        testkit.run_actions([raiser(first), hook])
    assert info.value is first and seen == [inner]


def test_hook_failure_after_a_nested_call_is_the_one_raised(testkit):
    first, later = ValueError("first"), KeyError("later")
    with pytest.raises(KeyError) as info:
        testkit.run_actions([raiser(first), lambda: testkit.run_actions([lambda: None]), raiser(later)])
    assert info.value is later


def test_nested_chain_unwinds_each_level(testkit):
    # Level n parks its own exception, then calls level n + 1; every level
    # must raise its own exception, never a deeper or shallower one.
    depth = 12
    raised = {}

    def level(n):
        own = LookupError(f"level {n}")

        def run():
            actions = [raiser(own)]
            if n < depth:
                actions.append(lambda: call(n + 1))
            testkit.run_actions(actions, n % 2 == 1)

        return run

    def call(n):
        try:
            level(n)()
        except LookupError as error:
            raised[n] = str(error)

    call(1)
    assert raised == {n: f"level {n}" for n in range(1, depth + 1)}
    assert testkit.protocol_depth() == 0


def test_depth_is_restored_when_the_outer_call_fails_before_finishing(testkit):
    # A non-iterable makes run_actions fail before its scope opens; the
    # nested call inside a hook must leave the depth as it found it.
    observed = []
    testkit.run_actions([lambda: observed.append(testkit.protocol_depth())])
    with pytest.raises(TypeError):
        testkit.run_actions(42)
    assert observed == [1] and testkit.protocol_depth() == 0


class EntersOnDelete:
    """An object whose `__del__` runs an action through the module."""

    def __init__(self, testkit, protocol, error=None):
        self.testkit, self.protocol, self.error = testkit, protocol, error
        self.ran = False

    def __del__(self):
        action = raiser(self.error) if self.error is not None else (lambda: None)
        try:
            self.testkit.run_actions([action], False, self.protocol)
        except BaseException as error:  # the fault type is not an Exception
            if error is not self.error:
                raise
        self.ran = True
        RAN.append(self)


RAN = []


def failing_with(holder_factory, error):
    def action():
        holder = holder_factory()  # noqa: F841  (kept alive by this frame, so by the traceback)
        raise error

    return action


@pytest.mark.parametrize("protocol", [True, False])
def test_dropping_a_parked_exception_may_enter_the_module(testkit, unraisable, protocol):
    RAN.clear()
    first, second = ValueError("first"), KeyError("second")
    make = lambda: EntersOnDelete(testkit, protocol)  # noqa: E731
    # Parking `second` drops `first`, whose frame holds the object.
    with pytest.raises(KeyError) as info:
        testkit.run_actions([failing_with(make, first), raiser(second)])
    del info
    first = None
    gc.collect()
    assert len(RAN) == 1
    assert unraisable == []


def test_clearing_a_stale_exception_may_enter_the_module(testkit, unraisable):
    RAN.clear()
    testkit.run_actions([failing_with(lambda: EntersOnDelete(testkit, True), ValueError("stale"))], False, False)
    gc.collect()
    assert RAN == []
    assert testkit.run_actions([lambda: None]) is None
    gc.collect()
    assert len(RAN) == 1 and unraisable == []


def test_what_a_dropped_exception_parks_is_reported_not_raised(testkit, unraisable):
    RAN.clear()
    from_del = OSError("parked by __del__")
    first, second = ValueError("first"), KeyError("second")
    make = lambda: EntersOnDelete(testkit, False, from_del)  # noqa: E731
    with pytest.raises(KeyError) as info:
        testkit.run_actions([failing_with(make, first), raiser(second)])
    assert info.value is second
    del info
    first = None
    gc.collect()
    assert len(RAN) == 1
    assert [error for error, _ in unraisable] == [from_del]


def test_release_time_actions_report_and_keep_the_running_call(testkit, unraisable):
    first, rollback = ValueError("policy failed"), RuntimeError("rollback failed")
    context = len  # any object that outlives the report
    calls = []

    def release():
        assert testkit.release_time([raiser(rollback), lambda: calls.append(1)], context) is None

    with pytest.raises(ValueError) as info:
        testkit.run_actions([raiser(first), release])
    assert info.value is first and calls == [1]
    assert unraisable == [(rollback, context)]


def test_release_time_reports_only_the_last_parked_and_keeps_the_error_in_flight(testkit, unraisable):
    in_flight = ZeroDivisionError("already failing")
    one, two = KeyError("one"), KeyError("two")
    assert testkit.release_time([raiser(one), raiser(two)], None, in_flight) is in_flight
    assert unraisable == [(two, None)]


def test_release_time_outside_any_entry_point_leaves_the_slot_empty(testkit, unraisable):
    testkit.release_time([raiser(KeyError("rolled back"))])
    # Nothing was left for a later protocol-less park to be confused with.
    assert testkit.run_actions([lambda: None], False, False) is None
    assert len(unraisable) == 1
