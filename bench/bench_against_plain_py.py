"""vantrel beside a plain Python engine doing the same checks with decimal.Decimal.

Both engines run interleaved in one process over rounds of the same orders
(execute_pre_trade, then commit when accepted); each scenario prints the median
microseconds per order of both and their ratio, with what the ratio aims at. Then
1/2/4/8 Python threads drive one full_sync and one account_sync engine on distinct
accounts, and their total throughput is set against one thread's.

Run with the package importable (``make bench`` installs it; a developer build works with
PYTHONPATH=<build>/stage). BENCH_ROUNDS and BENCH_ORDERS change the round count and size.
"""

from __future__ import annotations

import os
import statistics
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "baseline"))
# The engine set-up and the no-op policy are the test suite's.
sys.path.insert(0, os.path.join(HERE, os.pardir, "tests", "python"))

import plain_engine as plain  # noqa: E402
from engine_kit import NoOpPolicy, build  # noqa: E402

from vantrel.core import (  # noqa: E402
    AccountAdjustment,
    AccountAdjustmentAmount,
    AccountAdjustmentBalanceOperation,
    Order,
    OrderOperation,
)
from vantrel.param import AccountId, AdjustmentAmount, PositionSize, Price, Quantity, TradeAmount  # noqa: E402
from vantrel.pretrade.policies import (  # noqa: E402
    OrderSizeLimit,
    OrderSizeLimitPolicy,
    PnlBoundsKillSwitchPolicy,
    RateLimitPolicy,
    SpotFundsPolicy,
)

ROUNDS = int(os.environ.get("BENCH_ROUNDS", "7"))
ORDERS = int(os.environ.get("BENCH_ORDERS", "20000"))
ACCOUNTS = 64
MODES = ("no_sync", "account_sync", "full_sync")
DEPOSIT = "1000000000000000"


class Barrier:
    def __init__(self, **attributes):
        self.__dict__.update(attributes)


# -- the two engines, configured alike

def vantrel_engine(sync, kind, accounts):
    if kind == "reject":
        return build(sync=sync, validation=True,
                     builtins=[OrderSizeLimitPolicy(broker=OrderSizeLimit(max_quantity="1", max_notional="1000"))])
    if kind == "validation":
        return build(sync=sync, validation=True)
    builtins = [
        OrderSizeLimitPolicy(broker=OrderSizeLimit(max_quantity="1000", max_notional="10000000")),
        RateLimitPolicy(broker=(10**12, 10**9)),
        SpotFundsPolicy(),
        PnlBoundsKillSwitchPolicy(account_barriers=[
            Barrier(account_id=AccountId.from_int(a), settlement_asset="USD", initial_pnl="0",
                    lower_bound="-100", upper_bound="100") for a in accounts]),
    ]
    python_policies = [NoOpPolicy()] if kind == "five+python" else []
    engine = build(*python_policies, sync=sync, validation=True, builtins=builtins)
    deposit = [AccountAdjustment(operation=AccountAdjustmentBalanceOperation(asset="USD"),
                                 amount=AccountAdjustmentAmount(balance=AdjustmentAmount.delta(PositionSize(DEPOSIT))))]
    for a in accounts:
        assert engine.apply_account_adjustment(AccountId.from_int(a), deposit).ok
    return engine


def plain_engine(kind, accounts):
    policies = [plain.Validation()]
    if kind == "reject":
        return plain.PlainEngine(policies + [plain.SizeLimit("1", "1000")])
    if kind == "validation":
        return plain.PlainEngine(policies)
    funds = plain.FundsHold()
    for a in accounts:
        funds.deposit(a, "USD", DEPOSIT)
    policies += [plain.SizeLimit("1000", "10000000"), plain.RateLimit(10**12, 10**9), funds,
                 plain.PnlBound("-100", "100")]
    if kind == "five+python":
        policies.append(plain.NoOp())
    return plain.PlainEngine(policies)


def vantrel_orders(accounts, n):
    made = [Order(operation=OrderOperation(underlying_asset="BTC", settlement_asset="USD",
                                            account_id=AccountId.from_int(a), side="BUY",
                                            trade_amount=TradeAmount.quantity(Quantity("3")), price=Price("100")))
            for a in accounts]
    return [made[i % len(made)] for i in range(n)]


def plain_orders(accounts, n):
    made = [plain.PlainOrder(a, "BUY", "3", "100") for a in accounts]
    return [made[i % len(made)] for i in range(n)]


def run(engine, orders, clock=time.thread_time):
    """Seconds for one round; both engines go through this same loop. One
    thread is timed on its own CPU clock, which a loaded machine disturbs far
    less than the wall clock."""
    execute = engine.execute_pre_trade
    start = clock()
    for o in orders:
        r = execute(o)
        if r.ok:
            r.reservation.commit()
    return clock() - start


def expect(engine, order, ok):
    result = engine.execute_pre_trade(order)
    assert bool(result.ok) == ok, (engine, result.rejects)
    if ok:
        result.reservation.commit()


# -- one thread, side by side

SCENARIOS = [
    # (label, kind, vantrel modes, aim)
    ("order validation", "validation", MODES, 3.0),
    ("five built-ins", "five", MODES, 6.0),
    ("five + Python no-op policy", "five+python", MODES, None),
    ("size-limit reject", "reject", ("full_sync",), 6.0),
]


def side_by_side():
    accounts = list(range(1, ACCOUNTS + 1))
    v_orders, p_orders = vantrel_orders(accounts, ORDERS), plain_orders(accounts, ORDERS)
    cases = []  # (key, engine, orders), in the order each round runs them: related cases side by side
    for label, kind, modes, _ in SCENARIOS:
        ok = kind != "reject"
        base = plain_engine(kind, accounts)
        expect(base, p_orders[0], ok)
        cases.append(((label, "plain"), base, p_orders))
        for sync in modes:
            engine = vantrel_engine(sync, kind, accounts)
            expect(engine, v_orders[0], ok)
            cases.append(((label, sync), engine, v_orders))
    rounds = []
    for round_index in range(ROUNDS + 1):
        times = {key: run(engine, orders) / ORDERS * 1e6 for key, engine, orders in cases}
        if round_index > 0:  # the first round warms up
            rounds.append(times)

    def median(f):
        return statistics.median(f(r) for r in rounds)

    # Ratios and differences are taken within each round (its runs lie close
    # together in time), then the median over rounds is shown.
    print(f"vantrel beside a plain Python engine: CPU us per order, medians over {ROUNDS} rounds of {ORDERS} orders "
          f"(load {os.getloadavg()[0]:.2f})")
    print(f"  {'scenario':<30} {'mode':<13} {'vantrel':>8} {'plain':>8} {'ratio':>7}  aim")
    for label, kind, modes, aim in SCENARIOS:
        plain_key = (label, "plain")
        for sync in modes:
            key = (label, sync)
            ratio = median(lambda r: r[plain_key] / r[key])
            if aim is not None:
                verdict = f">= {aim:.0f}x {'met' if ratio >= aim else 'missed'}"
            else:
                added = median(lambda r: r[key] - r[("five built-ins", sync)])
                plain_added = median(lambda r: r[plain_key] - r[("five built-ins", "plain")])
                verdict = (f"policy adds {added:.3f} us, plain no-op {plain_added:.3f} us: "
                           f"{'met' if added <= plain_added else 'missed'}")
            print(f"  {label:<30} {sync:<13} {median(lambda r: r[key]):8.3f} {median(lambda r: r[plain_key]):8.3f} "
                  f"{ratio:6.2f}x  {verdict}")


# -- threads on one engine

def threaded_seconds(engine, per_thread_orders):
    start_line = threading.Barrier(len(per_thread_orders) + 1)
    done = []

    def work(orders):
        start_line.wait()
        run(engine, orders, time.perf_counter)
        done.append(time.perf_counter())

    threads = [threading.Thread(target=work, args=(orders,)) for orders in per_thread_orders]
    for t in threads:
        t.start()
    start_line.wait()
    began = time.perf_counter()
    for t in threads:
        t.join()
    return max(done) - began


def threads():
    counts = (1, 2, 4, 8)
    per_thread = ORDERS
    print(f"Python threads on one engine (five built-ins, distinct accounts, {per_thread} orders per thread, "
          f"wall clock; ratios to one thread within each round, medians of {ROUNDS} rounds; "
          f"load {os.getloadavg()[0]:.2f})")
    print(f"  {'mode':<13} " + " ".join(f"{f'{n} thr':>16}" for n in counts) + "  aim >= 0.9x of one thread")
    for sync in ("full_sync", "account_sync"):
        accounts = list(range(1, 8 * 8 + 1))
        engine = vantrel_engine(sync, "five", accounts)
        orders = {n: [vantrel_orders(accounts[t * 8:(t + 1) * 8], per_thread) for t in range(n)] for n in counts}
        ratios = {n: [] for n in counts}
        rates = []
        for round_index in range(ROUNDS + 1):
            rate = {n: n * per_thread / threaded_seconds(engine, orders[n]) for n in counts}
            if round_index > 0:
                rates.append(rate[1])
                for n in counts:
                    ratios[n].append(rate[n] / rate[1])
        ratio = {n: statistics.median(ratios[n]) for n in counts}
        one = statistics.median(rates)
        cells = [f"{one * ratio[n] / 1e3:7.0f}k/s {ratio[n]:5.2f}x" for n in counts]
        met = all(ratio[n] >= 0.9 for n in counts)
        print(f"  {sync:<13} " + " ".join(f"{c:>16}" for c in cells) + f"  {'met' if met else 'missed'}")


def main():
    side_by_side()
    threads()


if __name__ == "__main__":
    main()
