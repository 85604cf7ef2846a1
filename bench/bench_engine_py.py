"""End to end from Python: execute_pre_trade(order) + commit() on a prebuilt
order, with order validation, per locking mode, alone and with one trivial
Python policy added. Prints microseconds per order beside the call floor."""

import os
import sys
import timeit

# The engine set-up and the no-op policy are the test suite's.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests", "python"))

from engine_kit import NoOpPolicy, build  # noqa: E402

from vantrel.core import Order, OrderOperation  # noqa: E402
from vantrel.param import AccountId, Price, Quantity, TradeAmount  # noqa: E402


def engine(sync, with_python):
    return build(*([NoOpPolicy()] if with_python else []), sync=sync, validation=True)


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
