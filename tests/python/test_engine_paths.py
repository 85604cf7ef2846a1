"""Post-trade path, account-adjustment batches, account groups and account control."""

import gc
import threading

import pytest

import vantrel
from vantrel.param import AccountGroupId
from vantrel.pretrade import AccountBlock, PostTradeResult

from engine_kit import Action, BlockLike, EntryLike, MainResult, RejectLike, Scripted, acct, adjustments, build, order, report

# ------------------------------------------------------------------ post-trade


def test_post_trade_gathers_everything_and_records_the_first_block_with_its_code():
    a = Scripted("a", post=PostTradeResult(account_blocks=[BlockLike("first", code="PnlKillSwitchTriggered",
                                                                     user_data=4)]))
    b = Scripted("b", post=lambda ctx, r: type("P", (), {"account_blocks": [BlockLike("second", code="Custom")],
                                                         "account_adjustments": []})())
    engine = build(a, b)
    result = engine.apply_execution_report(report(3))
    assert repr(result) == "PostTradeResult(account_blocks=2, account_adjustments=0)"
    assert [blk.reason for blk in result.account_blocks] == ["first", "second"]
    (reject,) = engine.execute_pre_trade(order(3)).rejects
    assert (reject.code, reject.reason, reject.policy, reject.user_data, reject.scope) == (
        "PnlKillSwitchTriggered", "first", "blocker", 4, "account")
    # A later block for a blocked account is reported but changes nothing.
    a.post = PostTradeResult(account_blocks=[BlockLike("third", code="Other")])
    assert len(engine.apply_execution_report(report(3)).account_blocks) == 2
    assert engine.execute_pre_trade(order(3)).rejects[0].reason == "first"


def test_post_trade_without_blocks_records_nothing():
    engine = build(Scripted())
    result = engine.apply_execution_report(report(3))
    assert repr(result) == "PostTradeResult(account_blocks=0, account_adjustments=0)"
    assert engine.execute_pre_trade(order(None)).ok


def test_post_trade_block_without_account_is_a_kill_switch():
    engine = build(Scripted(post=PostTradeResult(account_blocks=[BlockLike("kill")])))
    engine.apply_execution_report(report(None))
    (reject,) = engine.execute_pre_trade(order(1)).rejects
    assert (reject.reason, reject.code) == ("account is blocked due to kill-switch", "AccountBlocked")


def test_post_trade_hook_error_wins_but_the_block_stays():
    def boom(ctx, r):
        raise RuntimeError("hook")

    engine = build(Scripted("a", post=PostTradeResult(account_blocks=[BlockLike("kept")])), Scripted("b", post=boom))
    with pytest.raises(RuntimeError, match="hook"):
        engine.apply_execution_report(report(5))
    assert engine.execute_pre_trade(order(5)).rejects[0].reason == "kept"


def test_nested_entry_point_keeps_the_outer_exception():
    other = build(Scripted("other"))

    def first(ctx, r):
        raise KeyError("outer")

    def second(ctx, r):
        # A hook booking something through another entry point: its own scope
        # must not wipe the exception parked by the earlier hook.
        assert other.apply_account_adjustment(acct(1), adjustments(1)).ok

    engine = build(Scripted("a", post=first), Scripted("b", post=second))
    with pytest.raises(KeyError, match="outer"):
        engine.apply_execution_report(report(1))


# ------------------------------------------------------------------ adjustments

def test_empty_batch_calls_no_policy():
    policy = Scripted()
    result = build(policy).apply_account_adjustment(acct(1), iter([]))
    assert result.ok and result.failed_index is None and result.outcomes == []
    assert repr(result) == "AccountAdjustmentBatchResult(ok=True)"
    assert policy.calls["adjust"] == 0


def test_batch_is_all_or_nothing_with_the_failing_index():
    journal = []
    count = {"n": 0}

    def a(ctx, account, adj):
        return [Action(journal, f"a{count['n']}"), EntryLike()]

    def b(ctx, account, adj):
        count["n"] += 1
        if count["n"] == 2:
            return MainResult(rejects=[RejectLike("no", scope="account")], mutations=[Action(journal, "b1")])
        return MainResult(mutations=[Action(journal, f"b{count['n'] - 1}")])

    engine = build(Scripted("a", group=4, adjust=a), Scripted("b", adjust=b))
    result = engine.apply_account_adjustment(acct(1), adjustments(3))
    assert (result.ok, result.failed_index, result.outcomes) == (False, 1, [])
    assert repr(result) == "AccountAdjustmentBatchResult(ok=False, failed_index=1, rejects=1)"
    assert journal == ["rollback b1", "rollback a1", "rollback b0", "rollback a0"]
    # Adjustment rejects never block, whatever their scope.
    assert engine.execute_pre_trade(order(1)).ok


def test_accepted_batch_commits_in_order_and_tags_outcomes():
    journal = []
    staged = iter(range(10))
    engine = build(Scripted("a", group=4, adjust=lambda c, acc, adj: [Action(journal, str(next(staged))), EntryLike()]),
                   Scripted("b", group=6, adjust=[]))
    result = engine.apply_account_adjustment(acct(1), adjustments(2))
    assert result.ok
    assert [o.policy_group_id for o in result.outcomes] == [4, 4]
    assert journal == ["commit 0", "commit 1"]


@pytest.mark.parametrize(
    "account, items, exc, text",
    [
        (1, [], TypeError, "^account_id must be vantrel.param.AccountId$"),
        (None, [vantrel.core.AccountAdjustment(), 5], TypeError,
         "^adjustment must inherit from vantrel.AccountAdjustment$"),
        (None, 5, TypeError, None),
    ],
)
def test_batch_argument_errors_raise_before_any_policy(account, items, exc, text):
    policy = Scripted()
    engine = build(policy)
    with pytest.raises(exc, match=text):
        engine.apply_account_adjustment(account if account is not None else acct(1), items)
    assert policy.calls["adjust"] == 0


def test_commit_action_error_is_raised_after_the_commit():
    journal = []
    engine = build(Scripted(adjust=lambda c, a, adj: [Action(journal, "x", raise_on="commit")]))
    with pytest.raises(RuntimeError, match="commit x failed"):
        engine.apply_account_adjustment(acct(1), adjustments(1))
    assert journal == ["commit x"]


# ------------------------------------------------------------------ account groups

def test_group_registry_texts():
    accounts = build(Scripted()).accounts()
    a, b = acct(1), acct(2)
    err = vantrel.AccountGroupRegistrationError
    accounts.register_group([a, a], 4)
    assert accounts.group_of(a) == AccountGroupId.from_int(4)
    with pytest.raises(err, match="^account 1 is already registered in group 4$"):
        accounts.register_group([a], 4)
    with pytest.raises(err, match="^account 1 is already registered in group 4$"):
        accounts.register_group([b, a], 5)
    assert accounts.group_of(b) is None
    with pytest.raises(err, match="^account 1 is not in group 5; it belongs to group 4$"):
        accounts.unregister_group([a], 5)
    with pytest.raises(err, match="^account 2 is not in group 4; it belongs to no group$"):
        accounts.unregister_group([a, b], 4)
    assert accounts.group_of(a) == AccountGroupId.from_int(4)
    with pytest.raises(err, match="^the reserved default account group is not a valid target$"):
        accounts.register_group([], AccountGroupId.DEFAULT)
    with pytest.raises(ValueError, match="^account group id must not equal the reserved default group$"):
        accounts.register_group([], 0)
    with pytest.raises(TypeError, match="^account_id must be vantrel.param.AccountId$"):
        accounts.register_group([a, 3], 6)
    with pytest.raises(TypeError, match="^account_id must be vantrel.param.AccountId$"):
        accounts.group_of(1)
    accounts.unregister_group([a], AccountGroupId.from_int(4))
    assert accounts.group_of(a) is None


def test_registration_is_never_seen_half_applied():
    accounts = build(Scripted()).accounts()
    batches = [[acct(k * 100 + i) for i in range(50)] for k in range(100)]
    torn = []
    done = threading.Event()

    def reader():
        while not done.is_set():
            for batch in batches:
                last = accounts.group_of(batch[-1])
                first = accounts.group_of(batch[0])
                if last is not None and first is None:
                    torn.append(batch[0])

    t = threading.Thread(target=reader)
    t.start()
    try:
        for k, batch in enumerate(batches):
            accounts.register_group(batch, k + 1)
    finally:
        done.set()
        t.join(timeout=30)
    assert torn == []


def test_handles_outlive_the_engine():
    journal = []
    controls = []

    def main(ctx, o):
        controls.append(ctx.account_control)
        return MainResult(mutations=[Action(journal, "m")])

    engine = build(Scripted(main=main))
    accounts = engine.accounts()
    reservation = engine.execute_pre_trade(order(1)).reservation
    other = engine.execute_pre_trade(order(2)).reservation
    del engine
    gc.collect()
    reservation.commit()
    other.rollback()
    assert journal == ["commit m", "rollback m"]
    controls[0].block(AccountBlock(policy="P", code="Custom", reason="r", details="d"))
    accounts.register_group([acct(1)], 3)
    assert accounts.group_of(acct(1)) == AccountGroupId.from_int(3)


# ------------------------------------------------------------------ the batch law

from hypothesis import given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402


@settings(max_examples=60, deadline=None)
@given(st.integers(1, 4), st.integers(1, 3), st.data())
def test_batch_commits_everything_or_undoes_everything(n_items, n_policies, data):
    """Each policy stages one pair per adjustment; one (item, policy) may reject.
    Accepted: every commit, in staging order. Rejected: every pair staged so far
    (the rejecting policy's included) rolled back in reverse, nothing committed."""
    fail_at = data.draw(st.none() | st.tuples(st.integers(0, n_items - 1), st.integers(0, n_policies - 1)))
    journal, staged = [], []

    def hook(p):
        def adjust(ctx, account, adjustment):
            item = sum(1 for tag in staged if tag[1] == p)
            tag = (item, p)
            staged.append(tag)
            action = Action(journal, f"{item}.{p}")
            if fail_at == tag:
                return MainResult(rejects=[RejectLike("no")], mutations=[action])
            return [action, EntryLike()]
        return adjust

    engine = build(*[Scripted(f"p{p}", adjust=hook(p)) for p in range(n_policies)])
    result = engine.apply_account_adjustment(acct(1), adjustments(n_items))
    names = [f"{i}.{p}" for i, p in staged]
    if fail_at is None:
        assert result.ok and len(result.outcomes) == n_items * n_policies
        assert journal == [f"commit {name}" for name in names]
    else:
        assert (result.ok, result.failed_index, result.outcomes) == (False, fail_at[0], [])
        assert staged[-1] == fail_at
        assert journal == [f"rollback {name}" for name in reversed(names)]
