"""End-to-end cost of the start stage from Python with the limit policies, beside the same
engine carrying order validation only.

Run with the package importable (``make bench`` installs it; a developer build works with
PYTHONPATH=<build>/stage). The order object is built once; the engine converts it on every call.
"""

from __future__ import annotations

import timeit

import vantrel
from vantrel.core import Order, OrderOperation
from vantrel.param import AccountId, Price, Quantity, TradeAmount
from vantrel.pretrade.policies import (
    OrderSizeLimit,
    OrderSizeLimitPolicy,
    OrderValidationPolicy,
    PnlBoundsKillSwitchPolicy,
    RateLimitPolicy,
)

ROUNDS = 7
NUMBER = 200_000
ACCOUNTS = 1000


class Barrier:
    def __init__(self, **attributes):
        self.__dict__.update(attributes)


def engine(sync: str, limits: bool):
    builder = getattr(vantrel.Engine.builder(), sync)().builtin(OrderValidationPolicy())
    if limits:
        limit = OrderSizeLimit(max_quantity="10", max_notional="100000")
        builder = builder.builtin(OrderSizeLimitPolicy(
            broker=OrderSizeLimit(max_quantity="1000", max_notional="10000000"),
            account_asset_barriers=[(limit, a, "USD") for a in range(0, ACCOUNTS, 2)]))
        builder = builder.builtin(RateLimitPolicy(
            broker=(2**64 - 1, 10**9), account_barriers=[(a, 10**6, 10**6) for a in range(ACCOUNTS)]))
        builder = builder.builtin(PnlBoundsKillSwitchPolicy(
            broker_barriers=[Barrier(settlement_asset="USD", lower_bound="-1000", upper_bound=None)],
            account_barriers=[Barrier(account_id=AccountId.from_int(a), settlement_asset="USD", initial_pnl="0",
                                      lower_bound="-100", upper_bound="100") for a in range(0, ACCOUNTS, 2)]))
    return builder.build()


def per_call_ns(sync: str, limits: bool) -> float:
    e = engine(sync, limits)
    orders = [Order(operation=OrderOperation(underlying_asset="BTC", settlement_asset="USD",
                                              account_id=AccountId.from_int(a),
                                              trade_amount=TradeAmount.quantity(Quantity("0.25")),
                                              price=Price("10002.00")))
              for a in range(ACCOUNTS)]
    cycle = iter(orders * (NUMBER * ROUNDS // ACCOUNTS + 2))
    start = e.start_pre_trade
    for o in orders:
        assert start(o).ok
    timer = timeit.Timer(lambda: start(next(cycle)))
    return min(timer.repeat(repeat=ROUNDS, number=NUMBER)) / NUMBER * 1e9


def main() -> None:
    print(f"{'start_pre_trade, 1k accounts':<34} {'limits':>10} {'validation':>11} {'added':>8}")
    for sync in ("no_sync", "full_sync", "account_sync"):
        with_limits, without = per_call_ns(sync, True), per_call_ns(sync, False)
        print(f"{sync:<34} {with_limits:>8.1f}ns {without:>9.1f}ns {with_limits - without:>6.1f}ns")


if __name__ == "__main__":
    main()
