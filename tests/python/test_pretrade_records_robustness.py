"""The pre-trade record constructors fed arbitrary Python objects: documented errors only, nothing leaked."""

import decimal
import gc
import sys

import pytest

from hostile_kit import Boom, RaisingAttrs, RaisingIndex, RaisingIter, StrSub, feed
from vantrel.pretrade import (
    AccountAdjustmentOutcome,
    AccountBlock,
    AccountOutcomeEntry,
    OutcomeAmount,
    PostTradeResult,
)


HOSTILE = [
    None, True, 0, -1, 2**64, 2**200, 1.5, float("nan"), b"x", "", "\ud800", "x" * 10_000, StrSub("Other"),
    decimal.Decimal("NaN"), RaisingIndex(), RaisingAttrs(), RaisingIter(), object(), [], [None], [RaisingAttrs()],
    {}, iter([1]), OutcomeAmount(delta=1, absolute=1),
]
ALLOWED = (TypeError, ValueError, OverflowError, AttributeError, Boom)  # UnicodeError is a ValueError


def entry():
    return AccountOutcomeEntry(asset="USD")


def constructor_calls():
    base = dict(policy="p", code="Other", reason="r", details="d")
    for name in ("policy", "code", "reason", "details", "user_data"):
        yield lambda x, n=name: AccountBlock(**dict(base, **{n: x}))
    for name in ("asset", "balance", "held", "incoming"):
        yield lambda x, n=name: AccountOutcomeEntry(**dict(dict(asset="USD"), **{n: x}))
    yield lambda x: AccountAdjustmentOutcome(policy_group_id=x, entry=entry())
    yield lambda x: AccountAdjustmentOutcome(policy_group_id=0, entry=x)
    yield lambda x: PostTradeResult(account_blocks=x)
    yield lambda x: PostTradeResult(account_blocks=[x])
    yield lambda x: PostTradeResult(account_adjustments=x)
    yield lambda x: PostTradeResult(account_adjustments=[x])


def run_all():
    feed(constructor_calls(), HOSTILE, ALLOWED)


def test_hostile_arguments_raise_only_documented_errors():
    run_all()


def test_interrupts_pass_through():
    class Interrupting:
        def __index__(self):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        PostTradeResult(account_blocks=[type("B", (), dict(code="Other", policy="", reason="", details="",
                                                             user_data=Interrupting()))()])


def rss_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4


def test_no_leaks_over_many_iterations(probe):
    classes = [AccountBlock, AccountOutcomeEntry, AccountAdjustmentOutcome, PostTradeResult] + [
        probe.probe_class(name)
        for name in ("Reject", "StartResult", "ExecuteResult", "AccountAdjustmentBatchResult",
                     "AccountAdjustmentOutcome", "AccountOutcomeEntry")
    ]
    # Shared singletons and small constants are counted by everyone; watch our own objects.
    keep = [obj for obj in HOSTILE if type(obj) not in (type(None), bool, int, str, type(iter([])))]
    handle = object()
    block = AccountBlock(policy="p" * 40, code="Other", reason="r" * 40, details="d" * 40)
    outcome = AccountAdjustmentOutcome(policy_group_id=1, entry=entry())

    def cycle():
        result = PostTradeResult(account_blocks=[block, block], account_adjustments=[outcome])
        result.account_blocks, result.account_adjustments
        probe.stage_result("start", handle=handle).rejects
        probe.stage_result("execute", rejects=[("p", "Other", "r", "d", "order", 1)]).rejects
        probe.batch_result(outcomes=[outcome]).outcomes

    run_all()
    for _ in range(1000):
        cycle()
    gc.collect()
    counts = [sys.getrefcount(c) for c in classes] + [sys.getrefcount(o) for o in keep + [handle, block, outcome]]
    rss = rss_kib()
    for _ in range(100_000):
        cycle()
    for _ in range(20):
        run_all()
    gc.collect()
    # Every instance holds its class: a leaked instance shows in the class's count.
    assert [sys.getrefcount(c) for c in classes] + [sys.getrefcount(o) for o in keep + [handle, block, outcome]] == counts
    assert rss_kib() - rss < 4096
