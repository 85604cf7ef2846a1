"""StartResult, ExecuteResult, PostTradeResult and AccountAdjustmentBatchResult."""

import gc
import sys

import pytest

from vantrel.pretrade import (
    AccountAdjustmentBatchResult,
    AccountAdjustmentOutcome,
    AccountBlock,
    AccountOutcomeEntry,
    ExecuteResult,
    OutcomeAmount,
    PostTradeResult,
    StartResult,
)

NAMES = {"start": ("StartResult", "request"), "execute": ("ExecuteResult", "reservation")}


def rejects(n):
    return [(f"P{i}", "RiskLimitExceeded", f"reason {i}", "details", "order", i) for i in range(n)]


def outcome(group=0, asset="USD"):
    return AccountAdjustmentOutcome(
        policy_group_id=group, entry=AccountOutcomeEntry(asset=asset, held=OutcomeAmount(delta=1, absolute=1)))


@pytest.mark.parametrize("kind", NAMES)
def test_refused_stage(probe, kind):
    name, handle = NAMES[kind]
    result = probe.stage_result(kind, rejects=rejects(3))
    assert type(result).__name__ == name
    assert repr(result) == f"{name}(ok=False, rejects=3)"
    assert not result and result.ok is False
    assert getattr(result, handle) is None
    assert [r.policy for r in result.rejects] == ["P0", "P1", "P2"]
    assert [r.user_data for r in result.rejects] == [0, 1, 2]


@pytest.mark.parametrize("kind", NAMES)
def test_passed_stage_keeps_its_handle(probe, kind):
    name, handle_name = NAMES[kind]
    handle = object()
    result = probe.stage_result(kind, handle=handle)
    assert repr(result) == f"{name}(ok=True)"
    assert result and result.ok is True
    assert getattr(result, handle_name) is handle
    assert getattr(result, handle_name) is handle
    assert result.rejects == []


@pytest.mark.parametrize("kind", NAMES)
def test_refused_stage_cannot_be_empty(probe, kind):
    with pytest.raises(ValueError, match="needs a reject"):
        probe.stage_result(kind, rejects=[])
    with pytest.raises(BaseException) as info:
        probe.stage_result(kind, handle=None)  # a passed stage without its handle
    assert not isinstance(info.value, Exception)


@pytest.mark.parametrize("kind", NAMES)
def test_reject_lists_are_fresh_at_every_read(probe, kind):
    result = probe.stage_result(kind, rejects=rejects(2))
    first = result.rejects
    first.clear()
    second, third = result.rejects, result.rejects
    assert len(second) == 2
    assert second is not third and second[0] is not third[0]
    assert repr(second[0]) == repr(third[0])


@pytest.mark.parametrize("kind", NAMES)
def test_handle_is_released_with_the_result(probe, kind):
    handle = object()
    before = sys.getrefcount(handle)
    for _ in range(1000):
        probe.stage_result(kind, handle=handle)
    gc.collect()
    assert sys.getrefcount(handle) == before


@pytest.mark.parametrize("cls", [StartResult, ExecuteResult, AccountAdjustmentBatchResult])
def test_results_without_constructor(cls):
    with pytest.raises(TypeError) as info:
        cls()
    assert str(info.value) == f"No constructor defined for {cls.__name__}"


def test_batch_results(probe):
    passed = probe.batch_result(outcomes=[outcome(1), outcome(2, "BTC")])
    assert repr(passed) == "AccountAdjustmentBatchResult(ok=True)"
    assert passed and passed.ok and passed.failed_index is None and passed.rejects == []
    assert [o.policy_group_id for o in passed.outcomes] == [1, 2]
    assert passed.outcomes[0] is not passed.outcomes[0]

    failed = probe.batch_result(failed_index=0, rejects=rejects(1))
    assert repr(failed) == "AccountAdjustmentBatchResult(ok=False, failed_index=0, rejects=1)"
    assert not failed and failed.ok is False
    assert failed.failed_index == 0
    assert failed.outcomes == []
    assert [r.reason for r in failed.rejects] == ["reason 0"]
    big = probe.batch_result(failed_index=2**64 - 1, rejects=rejects(2))
    assert repr(big) == f"AccountAdjustmentBatchResult(ok=False, failed_index={2**64 - 1}, rejects=2)"
    with pytest.raises(ValueError, match="needs a reject"):
        probe.batch_result(failed_index=3, rejects=[])


def test_post_trade_result_empty():
    result = PostTradeResult()
    assert repr(result) == "PostTradeResult(account_blocks=0, account_adjustments=0)"
    assert result.account_blocks == [] and result.account_adjustments == []
    assert repr(PostTradeResult(account_blocks=None, account_adjustments=None)) == repr(result)
    assert bool(result) is True  # no truth value of its own


def test_post_trade_result_holds_copies():
    block = AccountBlock(policy="Kill", code="PnlKillSwitchTriggered", reason="r", details="d", user_data=5)
    result = PostTradeResult(account_blocks=(block, block), account_adjustments=[outcome(4)])
    assert repr(result) == "PostTradeResult(account_blocks=2, account_adjustments=1)"
    blocks = result.account_blocks
    assert [repr(b) for b in blocks] == [repr(block)] * 2
    assert blocks[0] is not block and blocks[0] is not result.account_blocks[0]
    blocks.append(block)
    assert len(result.account_blocks) == 2
    assert [o.policy_group_id for o in result.account_adjustments] == [4]


def test_post_trade_result_errors_pass_unchanged():
    good = AccountBlock(policy="p", code="Other", reason="r", details="d")
    with pytest.raises(ValueError) as info:
        PostTradeResult(account_blocks=[good, type("B", (), dict(code=3))()])
    assert str(info.value) == "account_block.code must be a string"
    with pytest.raises(TypeError) as info:
        PostTradeResult(account_blocks=7)
    assert "argument" not in str(info.value)
    with pytest.raises(AttributeError):
        PostTradeResult(account_blocks=[good], account_adjustments=[object()])
    with pytest.raises(TypeError):
        PostTradeResult([good])


def test_post_trade_factory_and_parts(probe):
    block = AccountBlock(policy="p", code="Other", reason="r", details="d")
    made = probe.post_trade_result([block], [outcome(9)])
    assert repr(made) == "PostTradeResult(account_blocks=1, account_adjustments=1)"
    blocks, outcomes = probe.post_trade_parts(made)
    assert blocks == [repr(block)]
    assert outcomes == [repr(outcome(9))]
    with pytest.raises(TypeError):
        probe.post_trade_parts(object())


@pytest.mark.parametrize("attr", ["ok", "rejects", "request"])
def test_result_attributes_are_read_only(probe, attr):
    result = probe.stage_result("start", handle=object())
    with pytest.raises(AttributeError):
        setattr(result, attr, None)
    with pytest.raises(AttributeError):
        delattr(result, attr)
