"""Orders, reports, the engine set-up and scriptable Python policies for the engine
tests; the benchmark drivers take the engine set-up and the no-op policy from here too."""

from __future__ import annotations

import vantrel
from vantrel.core import (
    AccountAdjustment,
    ExecutionReport,
    ExecutionReportOperation,
    Order,
    OrderOperation,
)
from vantrel.param import AccountId, Quantity, TradeAmount, Volume
from vantrel.pretrade.policies import OrderValidationPolicy


def acct(n: int) -> AccountId:
    return AccountId.from_int(n)


def order(account: int | None = 1, quantity="1", volume=None) -> Order:
    amount = TradeAmount.volume(Volume(volume)) if volume is not None else TradeAmount.quantity(Quantity(quantity))
    kwargs = {"trade_amount": amount}
    if account is not None:
        kwargs["account_id"] = acct(account)
    return Order(operation=OrderOperation(**kwargs))


def report(account: int | None = 1) -> ExecutionReport:
    if account is None:
        return ExecutionReport(operation=ExecutionReportOperation())
    return ExecutionReport(operation=ExecutionReportOperation(account_id=acct(account)))


def adjustments(n: int) -> list[AccountAdjustment]:
    return [AccountAdjustment() for _ in range(n)]


class RejectLike:
    def __init__(self, reason="no", *, code="Custom", scope="order", details=None, user_data=None):
        self.code = code
        self.reason = reason
        self.details = details if details is not None else reason + " details"
        self.scope = scope
        if user_data is not None:
            self.user_data = user_data


class BlockLike:
    def __init__(self, reason="blocked", *, code="PnlKillSwitchTriggered", policy="blocker", user_data=0):
        self.code = code
        self.policy = policy
        self.reason = reason
        self.details = reason + " details"
        self.user_data = user_data


class EntryLike:
    def __init__(self, asset="USD"):
        self.asset = asset
        self.balance = None
        self.held = None
        self.incoming = None


class Action:
    """A mutation whose halves append to a shared journal (and may raise)."""

    def __init__(self, journal: list, tag: str, *, raise_on: str | None = None):
        self.journal = journal
        self.tag = tag
        self.raise_on = raise_on

    def commit(self):
        self.journal.append(f"commit {self.tag}")
        if self.raise_on == "commit":
            raise RuntimeError(f"commit {self.tag} failed")

    def rollback(self):
        self.journal.append(f"rollback {self.tag}")
        if self.raise_on == "rollback":
            raise RuntimeError(f"rollback {self.tag} failed")


class MainResult:
    """A main-stage result with the four attributes (any may be left out)."""

    def __init__(self, rejects=(), mutations=(), account_adjustments=None, lock_prices=None):
        self.rejects = list(rejects)
        self.mutations = list(mutations)
        if account_adjustments is not None:
            self.account_adjustments = list(account_adjustments)
        if lock_prices is not None:
            self.lock_prices = list(lock_prices)


class NoOpPolicy:
    """A Python policy whose hooks all return None and keep nothing they are given."""

    name = "noop"

    def check_pre_trade_start(self, ctx, order):
        return None

    def perform_pre_trade_check(self, ctx, order):
        return None

    def apply_execution_report(self, *, ctx, report):
        return None

    def apply_account_adjustment(self, ctx, account_id, adjustment):
        return None


class Scripted:
    """A Python policy; each hook returns what its attribute (a value or a
    callable taking the hook's arguments) says, and every call is counted."""

    def __init__(self, name="scripted", *, group=None, start=None, main=None, post=None, adjust=None):
        self.name = name
        if group is not None:
            self.policy_group_id = group
        self.start, self.main, self.post, self.adjust = start, main, post, adjust
        self.calls = {"start": 0, "main": 0, "post": 0, "adjust": 0}
        self.seen = []

    @staticmethod
    def _answer(answer, *args):
        return answer(*args) if callable(answer) else answer

    def check_pre_trade_start(self, ctx, order):
        self.calls["start"] += 1
        self.seen.append(("start", ctx, order))
        return self._answer(self.start, ctx, order)

    def perform_pre_trade_check(self, ctx, order):
        self.calls["main"] += 1
        self.seen.append(("main", ctx, order))
        return self._answer(self.main, ctx, order)

    def apply_execution_report(self, *, ctx, report):
        self.calls["post"] += 1
        self.seen.append(("post", ctx, report))
        return self._answer(self.post, ctx, report)

    def apply_account_adjustment(self, ctx, account_id, adjustment):
        self.calls["adjust"] += 1
        self.seen.append(("adjust", ctx, account_id, adjustment))
        return self._answer(self.adjust, ctx, account_id, adjustment)


SYNC_MODES = ("no_sync", "full_sync", "account_sync")


def build(*policies, sync="full_sync", validation=False, builtins=()):
    """An engine in locking mode `sync`: order validation first when asked, then
    the built-in policy builders `builtins`, then the Python `policies`."""
    builder = getattr(vantrel.Engine.builder(), sync)()
    if validation:
        builder = builder.builtin(OrderValidationPolicy())
    for policy in builtins:
        builder = builder.builtin(policy)
    for policy in policies:
        builder = builder.pre_trade(policy)
    return builder.build()
