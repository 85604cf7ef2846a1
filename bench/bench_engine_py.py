"""End to end from Python: execute_pre_trade(order) + commit() on a prebuilt
order, with order validation, per locking mode, alone and with one trivial
Python policy added. Prints microseconds per order beside the call floor."""

import timeit

import vantrel
from vantrel.core import Order, OrderOperation
from vantrel.param import AccountId, Price, Quantity, TradeAmount
from vantrel.pretrade.policies import OrderValidationPolicy


class Trivial:
    name = "trivial"

    def check_pre_trade_start(self, ctx, order):
        return None

    def perform_pre_trade_check(self, ctx, order):
        return None

    def apply_execution_report(self, *, ctx, report):
        return None

    def apply_account_adjustment(self, ctx, account_id, adjustment):
        return None


def engine(sync, with_python):
    builder = getattr(vantrel.Engine.builder(), sync)().builtin(OrderValidationPolicy())
    if with_python:
        builder = builder.pre_trade(Trivial())
    return builder.build()


def best_us(stmt, env):
    timer = timeit.Timer(stmt, globals=env)
    loops, _ = timer.autorange()
    return min(timer.repeat(repeat=5, number=loops)) / loops * 1e6


def main():
    order = Order(operation=OrderOperation(account_id=AccountId.from_int(1), side="BUY",
                                           trade_amount=TradeAmount.quantity(Quantity(3)), price=Price(100)))
    floor = best_us("f(o)", {"f": len, "o": ()})
    print(f"Engine end to end from Python (us per order; aim 0.4 with order validation; call floor {floor:.3f})")
    for sync in ("no_sync", "full_sync", "account_sync"):
        for with_python in (False, True):
            e = engine(sync, with_python)
            us = best_us("e.execute_pre_trade(o).reservation.commit()", {"e": e, "o": order})
            label = f"{sync}{' + Python policy' if with_python else ''}"
            print(f"  {label:<28} {us:7.3f} us")
        e = engine(sync, False)
        us = best_us("r = e.start_pre_trade(o).request.execute().reservation.commit()", {"e": e, "o": order})
        print(f"  {sync + ' two-stage':<28} {us:7.3f} us")


if __name__ == "__main__":
    main()
