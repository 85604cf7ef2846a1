"""Python policies: an exposure limit written in Python runs beside a built-in
policy; orders go through both stages and are committed or rolled back, then a
fill comes back and a deposit is booked by the Python policy."""

from __future__ import annotations

from dataclasses import dataclass, field
from decimal import Decimal

import vantrel
from vantrel.core import (
    AccountAdjustment,
    AccountAdjustmentAmount,
    AccountAdjustmentBalanceOperation,
    ExecutionReport,
    ExecutionReportFillDetails,
    ExecutionReportOperation,
    FinancialImpact,
    Order,
    OrderOperation,
)
from vantrel.param import AccountId, AdjustmentAmount, PositionSize, Price, Quantity, TradeAmount
from vantrel.pretrade import AccountOutcomeEntry, OutcomeAmount
from vantrel.pretrade.policies import OrderValidationPolicy


@dataclass
class Reject:
    code: str
    reason: str
    details: str
    scope: str = "order"


@dataclass
class Verdict:
    rejects: list = field(default_factory=list)
    mutations: list = field(default_factory=list)
    lock_prices: list = field(default_factory=list)


class Hold:
    """One staged change of the exposure book: made final or undone later."""

    def __init__(self, book: "ExposureLimit", account: int, amount: Quantity):
        self.book, self.account, self.amount = book, account, amount

    def commit(self):
        self.book.committed[self.account] = self.book.committed.get(self.account, 0) + 1

    def rollback(self):
        self.book.held[self.account] -= float(str(self.amount))


class ExposureLimit:
    """A Python policy: at most `limit` units held per account."""

    name = "ExposureLimit"
    policy_group_id = 7

    def __init__(self, limit: float):
        self.limit = limit
        self.held: dict[int, float] = {}
        self.committed: dict[int, int] = {}
        self.cash: dict[int, Decimal] = {}

    def check_pre_trade_start(self, ctx, order):
        return None

    def perform_pre_trade_check(self, ctx, order):
        op = order.operation
        account = op.account_id.value
        amount = op.trade_amount.as_quantity
        wanted = self.held.get(account, 0.0) + float(str(amount))
        if wanted > self.limit:
            return Verdict(rejects=[Reject("RiskLimitExceeded", "exposure limit exceeded",
                                           f"account {account} would hold {wanted}, limit {self.limit}")])
        self.held[account] = wanted
        return Verdict(mutations=[Hold(self, account, amount)], lock_prices=[op.price])

    def apply_execution_report(self, *, ctx, report):
        return None

    def apply_account_adjustment(self, ctx, account_id, adjustment):
        change = Decimal(str(adjustment.amount.balance.as_delta))
        cash = self.cash.get(account_id.value, Decimal(0)) + change
        self.cash[account_id.value] = cash
        return AccountOutcomeEntry(asset="USD", balance=OutcomeAmount(delta=change, absolute=cash))


def buy(account: AccountId, quantity: str, price: str) -> Order:
    return Order(operation=OrderOperation(underlying_asset="BTC", settlement_asset="USD", account_id=account,
                                          side="BUY", trade_amount=TradeAmount.quantity(Quantity(quantity)),
                                          price=Price(price)))


def show(title: str, result) -> None:
    print(f"{title:<38} {result!r}")
    for reject in getattr(result, "rejects", []):
        print(f"{'':<40}{reject.policy}: {reject.code} - {reject.reason} ({reject.details})")


def main() -> None:
    limit = ExposureLimit(limit=10)
    engine = (vantrel.Engine.builder()
              .full_sync()
              .builtin(OrderValidationPolicy())
              .pre_trade(limit)
              .build())
    alice = AccountId.from_int(1)

    print("== two-stage order, committed once sent")
    started = engine.start_pre_trade(buy(alice, "4", "64000.5"))
    show("start_pre_trade(4 BTC)", started)
    executed = started.request.execute()
    show("request.execute()", executed)
    print(f"{'locked prices':<38} {executed.reservation.lock()!r}")
    executed.reservation.commit()
    print(f"{'held after commit':<38} {limit.held[1]} BTC")

    print("== one-call order, rolled back (the venue refused it)")
    executed = engine.execute_pre_trade(buy(alice, "5", "64010"))
    show("execute_pre_trade(5 BTC)", executed)
    executed.reservation.rollback()
    print(f"{'held after rollback':<38} {limit.held[1]} BTC")

    print("== refused orders")
    show("execute_pre_trade(0 BTC)", engine.execute_pre_trade(buy(alice, "0", "64000")))
    show("execute_pre_trade(7 BTC)", engine.execute_pre_trade(buy(alice, "7", "64000")))

    print("== the fill comes back")
    fill = ExecutionReport(
        operation=ExecutionReportOperation(underlying_asset="BTC", settlement_asset="USD", account_id=alice,
                                           side="BUY"),
        financial_impact=FinancialImpact(pnl="0", fee="1.25"),
        fill=ExecutionReportFillDetails(leaves_quantity=Quantity("0"), lock=vantrel.pretrade.Lock(
            [(7, Price("64000.5"))]), is_final=True))
    show("apply_execution_report(fill)", engine.apply_execution_report(fill))

    print("== a deposit, applied as one batch")
    deposit = AccountAdjustment(
        operation=AccountAdjustmentBalanceOperation(asset="USD"),
        amount=AccountAdjustmentAmount(balance=AdjustmentAmount.delta(PositionSize("2500"))))
    batch = engine.apply_account_adjustment(alice, [deposit])
    show("apply_account_adjustment([deposit])", batch)
    for outcome in batch.outcomes:
        print(f"{'':<40}{outcome!r}")


if __name__ == "__main__":
    main()
