"""End-to-end cost of one funded limit order (execute_pre_trade, then commit) from Python,
beside a small pure-Python engine doing the same checks.

Run with the package importable (``make bench`` installs it; a developer build works with
PYTHONPATH=<build>/stage). Prints ours, then the baseline.
"""

from __future__ import annotations

import timeit
from decimal import Decimal

from vantrel import (AccountAdjustment, AccountAdjustmentAmount, AccountAdjustmentBalanceOperation, AccountId,
                     AdjustmentAmount, Engine, Order, OrderOperation, PositionSize, Price, Quantity, Side,
                     TradeAmount)
from vantrel.pretrade.policies import SpotFundsPolicy

ROUNDS = 5
NUMBER = 50_000


class PyFundsEngine:
    """A pure-Python order check: validation, then a hold of funds with its undo staged."""

    def __init__(self):
        self.available = {}
        self.held = {}
        self.blocked = set()

    def execute(self, account, side, quantity, price, settlement):
        if account in self.blocked:
            return None
        if quantity <= 0:
            return None
        need = max(price * quantity, Decimal(0)) if side == "BUY" else Decimal(0)
        key = (account, settlement)
        usable = self.available.get(key, Decimal(0))
        if need > usable:
            return None
        self.available[key] = usable - need
        self.held[key] = self.held.get(key, Decimal(0)) + need
        return [lambda: None, (key, need)]

    def commit(self, staged):
        staged[0]()


def main() -> None:
    engine = Engine.builder().account_sync().builtin(SpotFundsPolicy()).build()
    account = AccountId.from_int(1)
    engine.apply_account_adjustment(account, [AccountAdjustment(
        operation=AccountAdjustmentBalanceOperation(asset="USD"),
        amount=AccountAdjustmentAmount(balance=AdjustmentAmount.delta(PositionSize("1000000000000000"))))])
    order = Order(operation=OrderOperation(underlying_asset="BTC", settlement_asset="USD", account_id=account,
                                           side=Side.BUY, trade_amount=TradeAmount.quantity(Quantity("2")),
                                           price=Price("10")))

    def ours():
        engine.execute_pre_trade(order).reservation.commit()

    base = PyFundsEngine()
    base.available[(1, "USD")] = Decimal("1000000000000000")
    qty, px = Decimal(2), Decimal(10)

    def theirs():
        base.commit(base.execute(1, "BUY", qty, px, "USD"))

    ours_ns = min(timeit.repeat(ours, repeat=ROUNDS, number=NUMBER)) / NUMBER * 1e9
    theirs_ns = min(timeit.repeat(theirs, repeat=ROUNDS, number=NUMBER)) / NUMBER * 1e9
    print(f"{'operation':<34} {'vantrel':>10} {'baseline':>10} {'ratio':>7}")
    print(f"{'funded limit order + commit':<34} {ours_ns:>8.0f}ns {theirs_ns:>8.0f}ns {ours_ns / theirs_ns:>7.2f}"
          "  pure-Python funds check")


if __name__ == "__main__":
    main()
