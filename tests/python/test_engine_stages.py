"""The road of one order: start stage, main stage, Request, Reservation, blocks."""

import gc
import sys
import threading

import pytest

import vantrel
from vantrel.param import Price
from vantrel.pretrade import Lock

from engine_kit import (SYNC_MODES, Action, BlockLike, EntryLike, MainResult, RejectLike, Scripted, acct, build,
                        order, report)


def fields(reject):
    return (reject.code, reject.reason, reject.details, reject.policy, reject.scope, reject.user_data)


@pytest.fixture
def unraisable(monkeypatch):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", lambda u: seen.append(u))
    return seen


# ------------------------------------------------------------------ start stage

@pytest.mark.parametrize("sync", SYNC_MODES)
def test_start_then_execute_then_commit(sync):
    journal = []
    policy = Scripted(main=lambda ctx, o: MainResult(mutations=[Action(journal, "a")], lock_prices=[Price("1.5")]))
    engine = build(policy, sync=sync)
    o = order()
    started = engine.start_pre_trade(o)
    assert started.ok and repr(started) == "StartResult(ok=True)"
    assert type(started.request) is vantrel.pretrade.Request
    # The hooks see the caller's own order object.
    assert policy.seen[0][2] is o
    executed = started.request.execute()
    assert executed.ok and repr(executed) == "ExecuteResult(ok=True)"
    reservation = executed.reservation
    assert executed.reservation is reservation
    assert reservation.lock() == Lock([(0, Price("1.5"))])
    assert journal == []
    reservation.commit()
    assert journal == ["commit a"]


def test_start_rejects_gather_every_policy_in_order():
    a = Scripted("a", start=[RejectLike("one")])
    b = Scripted("b", start=[])
    c = Scripted("c", start=lambda ctx, o: (RejectLike("two"), RejectLike("three", user_data=9)))
    result = build(a, b, c).start_pre_trade(order())
    assert not result.ok and result.request is None
    assert repr(result) == "StartResult(ok=False, rejects=3)"
    assert [(r.policy, r.reason) for r in result.rejects] == [("a", "one"), ("c", "two"), ("c", "three")]
    assert result.rejects[2].user_data == 9
    assert b.calls["start"] == 1 and a.calls["main"] == 0


def test_request_is_one_shot():
    engine = build(Scripted())
    request = engine.start_pre_trade(order()).request
    assert request.execute().ok
    with pytest.raises(RuntimeError, match="^request has already been executed$"):
        request.execute()


def test_request_outliving_its_engine_is_rejected():
    engine = build(Scripted())
    request = engine.start_pre_trade(order()).request
    del engine
    gc.collect()
    result = request.execute()
    assert not result.ok
    (reject,) = result.rejects
    assert fields(reject) == ("SystemUnavailable", "engine is no longer available",
                              "request handle outlived engine instance", "Engine", "order", 0)


def test_wrong_argument_types():
    engine = build(Scripted())
    for call in (engine.start_pre_trade, engine.execute_pre_trade):
        with pytest.raises(TypeError, match="^order must inherit from vantrel.Order$"):
            call(5)
    with pytest.raises(TypeError, match="^report must inherit from vantrel.ExecutionReport$"):
        engine.apply_execution_report(order())


# ------------------------------------------------------------------ blocks

def test_stage_account_reject_blocks_with_code_account_blocked():
    a = Scripted("a", start=lambda ctx, o: [RejectLike("first", scope=" Account ", code="RateLimitExceeded",
                                                       user_data=77)])
    b = Scripted("b", start=[RejectLike("second", scope="account")])
    engine = build(a, b)
    assert len(engine.execute_pre_trade(order(5)).rejects) == 2
    a.start = b.start = None
    (reject,) = engine.execute_pre_trade(order(5)).rejects
    assert fields(reject) == ("AccountBlocked", "first", "first details", "a", "account", 77)
    assert a.calls["start"] == 1
    assert engine.execute_pre_trade(order(6)).ok
    (reject,) = engine.execute_pre_trade(order(None)).rejects
    assert fields(reject) == ("MissingRequiredField", "account could not be verified as account ID is missing",
                              "unable to check account for blocking", "Engine", "order", 0)


def test_no_block_lets_an_order_without_account_through():
    assert build(Scripted()).execute_pre_trade(order(None)).ok


def test_main_stage_account_reject_blocks_before_rolling_back():
    journal = []
    policy = Scripted(main=lambda ctx, o: MainResult(rejects=[RejectLike("stop", scope="account")],
                                                     mutations=[Action(journal, "x")]))
    engine = build(policy)
    assert not engine.execute_pre_trade(order(3)).ok
    assert journal == ["rollback x"]
    policy.main = None
    (reject,) = engine.execute_pre_trade(order(3)).rejects
    assert (reject.code, reject.reason) == ("AccountBlocked", "stop")


def test_account_reject_without_account_blocks_every_unblocked_account():
    engine = build(Scripted(start=lambda ctx, o: [RejectLike("kill", scope="account")] if o.operation.account_id is None
                            else None))
    engine.execute_pre_trade(order(None))
    (reject,) = engine.execute_pre_trade(order(8)).rejects
    assert fields(reject) == ("AccountBlocked", "account is blocked due to kill-switch",
                              "kill-switch was previously triggered for this account", "Engine", "account", 0)


def test_block_recorded_between_start_and_execute_stops_every_main_hook():
    a, b = Scripted("a"), Scripted("b")
    engine = build(a, b)
    request = engine.start_pre_trade(order(4)).request
    b.post = lambda ctx, r: vantrel.pretrade.PostTradeResult(account_blocks=[BlockLike("late", user_data=3)])
    engine.apply_execution_report(report(4))
    result = request.execute()
    (reject,) = result.rejects
    assert fields(reject) == ("PnlKillSwitchTriggered", "late", "late details", "blocker", "account", 3)
    assert a.calls["main"] == 0 and b.calls["main"] == 0


# ------------------------------------------------------------------ main stage

def test_reject_rolls_back_everything_in_reverse_and_all_policies_run():
    journal = []
    a = Scripted("a", main=lambda ctx, o: MainResult(mutations=[Action(journal, "a1"), Action(journal, "a2")]))
    b = Scripted("b", main=lambda ctx, o: MainResult(rejects=[RejectLike("no")], mutations=[Action(journal, "b")]))
    c = Scripted("c", main=lambda ctx, o: MainResult(mutations=[Action(journal, "c")], lock_prices=[1]))
    result = build(a, b, c).execute_pre_trade(order())
    assert [r.reason for r in result.rejects] == ["no"] and result.reservation is None
    assert c.calls["main"] == 1
    assert journal == ["rollback c", "rollback b", "rollback a2", "rollback a1"]


def test_locked_prices_are_filed_per_group():
    policies = [
        Scripted("g5", group=5, main=MainResult(lock_prices=[10, 12])),
        Scripted("g0", main=MainResult(lock_prices=[11], account_adjustments=[EntryLike("EUR")])),
        Scripted("g3", group=3, main=MainResult(lock_prices=[13], account_adjustments=[EntryLike("USD")])),
        Scripted("g9", group=9, main=MainResult(lock_prices=[])),
    ]
    reservation = build(*policies).execute_pre_trade(order()).reservation
    lock = reservation.lock()
    assert lock.entries() == [(0, Price(11)), (5, Price(10)), (5, Price(12)), (3, Price(13))]
    assert lock.prices_of(9) == []
    assert [(o.policy_group_id, o.entry.asset) for o in reservation.account_adjustments()] == [(0, "EUR"), (3, "USD")]


def test_reservation_finalises_once():
    journal = []
    reservation = build(Scripted(main=lambda ctx, o: MainResult(mutations=[Action(journal, "x")]))).execute_pre_trade(
        order()).reservation
    first, second = reservation.lock(), reservation.lock()
    assert first == second and first is not second
    first.push(0, 1)
    assert reservation.lock() == second
    reservation.rollback()
    assert journal == ["rollback x"]
    for method in (reservation.commit, reservation.rollback, reservation.lock, reservation.account_adjustments):
        with pytest.raises(RuntimeError, match="^reservation has already been finalized$"):
            method()
    assert journal == ["rollback x"]


def test_reservation_released_open_is_rolled_back():
    journal = []
    engine = build(Scripted(main=lambda ctx, o: MainResult(mutations=[Action(journal, "1"), Action(journal, "2")])))
    engine.execute_pre_trade(order())  # the result and its reservation are dropped at once
    gc.collect()
    assert journal == ["rollback 2", "rollback 1"]


def test_empty_reservation_commits_without_effect():
    reservation = build(Scripted()).execute_pre_trade(order()).reservation
    assert reservation.lock() == Lock() and reservation.account_adjustments() == []
    reservation.commit()


# ------------------------------------------------------------------ exceptions from Python

def test_hook_exception_is_raised_instead_of_the_result():
    class Boom(Exception):
        pass

    def fail(ctx, o):
        raise Boom("start")

    engine = build(Scripted(start=fail))
    with pytest.raises(Boom, match="start"):
        engine.start_pre_trade(order())
    with pytest.raises(Boom):
        engine.execute_pre_trade(order())


def test_two_failing_hooks_raise_the_later_one():
    def fail(tag):
        def hook(ctx, o):
            raise RuntimeError(tag)
        return hook

    engine = build(Scripted("a", start=fail("first")), Scripted("b", start=fail("second")))
    with pytest.raises(RuntimeError, match="^second$"):
        engine.start_pre_trade(order())


def test_rollback_errors_during_a_rejected_stage_win_as_the_last_parked():
    journal = []

    def main(ctx, o):
        return MainResult(mutations=[Action(journal, "held", raise_on="rollback")])

    def later(ctx, o):
        raise ValueError("late failure")

    engine = build(Scripted("a", main=main), Scripted("b", main=later))
    with pytest.raises(RuntimeError, match="^rollback held failed$"):
        engine.execute_pre_trade(order())
    assert journal == ["rollback held"]


def test_reservation_dropped_open_reports_rollback_errors_as_unraisable(unraisable):
    journal = []
    engine = build(Scripted("a", main=lambda ctx, o: MainResult(mutations=[Action(journal, "r", raise_on="rollback")])))
    reservation = engine.execute_pre_trade(order()).reservation
    del reservation
    gc.collect()
    assert journal == ["rollback r"]
    assert [type(u.exc_value) for u in unraisable] == [RuntimeError]
    assert "rollback r failed" in str(unraisable[0].exc_value)
    assert unraisable[0].object is vantrel.pretrade.Reservation


def test_commit_runs_every_action_then_raises_the_last_error():
    journal = []
    actions = [Action(journal, "1", raise_on="commit"), Action(journal, "2"), Action(journal, "3", raise_on="commit")]
    engine = build(Scripted(main=lambda ctx, o: MainResult(mutations=actions)))
    reservation = engine.execute_pre_trade(order()).reservation
    with pytest.raises(RuntimeError, match="^commit 3 failed$"):
        reservation.commit()
    assert journal == ["commit 1", "commit 2", "commit 3"]
    with pytest.raises(RuntimeError, match="already been finalized"):
        reservation.lock()
    # Nothing stays parked for the next call.
    assert engine.execute_pre_trade(order()).ok


@pytest.mark.parametrize("finish", ["commit", "rollback"])
def test_an_action_finds_its_reservation_finalised_while_it_runs(finish):
    seen = []

    class Reentrant:
        def _reach(self):
            for method in (reservation.lock, reservation.commit, reservation.rollback):
                try:
                    method()
                except RuntimeError as error:
                    seen.append(str(error))

        commit = rollback = _reach

    engine = build(Scripted(main=lambda ctx, o: MainResult(mutations=[Reentrant()])))
    reservation = engine.execute_pre_trade(order()).reservation
    getattr(reservation, finish)()
    assert seen == ["reservation has already been finalized"] * 3


def test_rollback_error_is_raised_by_rollback():
    journal = []
    engine = build(Scripted(main=lambda ctx, o: MainResult(mutations=[Action(journal, "x", raise_on="rollback")])))
    reservation = engine.execute_pre_trade(order()).reservation
    with pytest.raises(RuntimeError, match="rollback x failed"):
        reservation.rollback()
    with pytest.raises(RuntimeError, match="already been finalized"):
        reservation.commit()


def test_reservation_freed_inside_another_orders_hook_does_not_poison_it(unraisable):
    journal = []
    holder = {}

    def main(ctx, o):
        if "victim" in holder:
            victim = holder.pop("victim")
            del victim
            gc.collect()
        return MainResult(mutations=[Action(journal, f"m{len(journal)}", raise_on="rollback")])

    engine = build(Scripted(main=main))
    holder["victim"] = engine.execute_pre_trade(order()).reservation
    outer = engine.execute_pre_trade(order())
    assert outer.ok
    assert journal == ["rollback m0"]
    assert len(unraisable) == 1 and "rollback m0 failed" in str(unraisable[0].exc_value)
    outer.reservation.commit()
    assert journal == ["rollback m0", "commit m1"]


def test_hook_exception_whose_frame_holds_a_reservation_is_released_cleanly(unraisable):
    journal = []
    inner = build(Scripted(main=lambda ctx, o: MainResult(mutations=[Action(journal, "x", raise_on="rollback")])))

    def start(ctx, o):
        reservation = inner.execute_pre_trade(order()).reservation  # noqa: F841 (kept alive by this frame)
        raise LookupError("kept")

    outer = build(Scripted(start=start))
    with pytest.raises(LookupError):
        outer.start_pre_trade(order())
    gc.collect()
    assert journal == ["rollback x"]
    assert len(unraisable) == 1
    # Nothing of it stays parked for the next call on this thread.
    assert inner.execute_pre_trade(order()).ok


# ------------------------------------------------------------------ threads

def run_in_thread(fn):
    box = {}

    def target():
        try:
            box["value"] = fn()
        except BaseException as exc:  # the binding layer's thread error is not an Exception
            box["error"] = exc

    t = threading.Thread(target=target)
    t.start()
    t.join()
    return box


def test_request_and_reservation_are_bound_to_their_thread(unraisable):
    journal = []
    engine = build(Scripted(main=lambda ctx, o: MainResult(mutations=[Action(journal, "hold")])))
    request = engine.start_pre_trade(order()).request
    box = run_in_thread(request.execute)
    assert str(box["error"]).endswith("is unsendable, but sent to another thread")
    executed = request.execute()  # not spent by the refused call
    executed.reservation.commit()
    journal.clear()

    reservation = engine.execute_pre_trade(order()).reservation
    box = run_in_thread(reservation.commit)
    assert str(box["error"]).endswith("is unsendable, but sent to another thread")
    assert journal == []  # still open
    reservation.commit()
    journal.clear()

    holder = [engine.execute_pre_trade(order()).reservation]
    run_in_thread(holder.clear)
    gc.collect()
    assert journal == []  # dropped on another thread: kept, nothing rolled back
    assert any("is unsendable, but is being dropped on another thread" in str(u.exc_value) for u in unraisable)
