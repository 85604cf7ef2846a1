"""Eight threads drive one engine through every entry point, for the run under
ThreadSanitizer (`make pytest-tsan`): orders through all five built-in policies
and a Python policy, quote pushes, reports, adjustments, reservations dropped
on other threads, group registration and hooks that raise. Each thread trades
its own accounts, so account_sync's contract holds. Bounded: every mode runs
for its share of --seconds, and a watchdog ends a hung run with its stacks.

    python threads_stress.py [--seconds 60]
"""

from __future__ import annotations

import argparse
import collections
import faulthandler
import queue
import sys
import threading
import time

import vantrel
from vantrel import Instrument, Price, Quote, QuoteTtl, Side
from vantrel.core import ExecutionReport, FinancialImpact
from vantrel.pretrade.policies import (
    OrderSizeLimit,
    OrderSizeLimitPolicy,
    OrderValidationPolicy,
    PnlBoundsKillSwitchPolicy,
    RateLimitPolicy,
    SpotFundsPolicy,
)

import spot_funds_util as funds
from engine_kit import MainResult
from limit_kit import Barrier

THREADS = 8
MINUTE_NS = 60 * 10**9


class Hooked:
    """A Python policy that stages an action, reads the account's group and
    raises on every 7th order of a thread."""

    name = "hooked"

    def __init__(self):
        self.lock = threading.Lock()
        self.finished = 0
        self.local = threading.local()  # .refuse: raise in the next main check

    def _done(self):
        with self.lock:
            self.finished += 1

    def check_pre_trade_start(self, ctx, order):
        ctx.account_group
        return None

    def perform_pre_trade_check(self, ctx, order):
        if self.local.refuse:
            raise RuntimeError("hook refuses")
        action = type("A", (), {"commit": staticmethod(self._done), "rollback": staticmethod(self._done)})
        return MainResult(mutations=[action])

    def apply_execution_report(self, *, ctx, report):
        return None

    def apply_account_adjustment(self, ctx, account_id, adjustment):
        return None


def build(sync):
    service = getattr(vantrel.Engine.builder(), sync)().market_data(QuoteTtl.infinite()).build()
    instrument = service.register(Instrument("BTC", "USD"))
    service.push(instrument, Quote(mark=Price("100")))
    pnl = Barrier(settlement_asset="USD", lower_bound="-1000000000")
    hooked = Hooked()
    engine = (getattr(vantrel.Engine.builder(), sync)()
              .builtin(OrderValidationPolicy())
              .builtin(OrderSizeLimitPolicy(asset_barriers=[(OrderSizeLimit(max_quantity="1000", max_notional="1e12"),
                                                             "USDT")]))
              .builtin(RateLimitPolicy(broker=(10**9, MINUTE_NS),
                                       account_barriers=[(t * 100, 10**9, MINUTE_NS) for t in range(THREADS)]))
              .builtin(PnlBoundsKillSwitchPolicy(broker_barriers=[pnl]))
              .builtin(SpotFundsPolicy(market_data=service, default_slippage_bps=10))
              .pre_trade(hooked)
              .build())
    return engine, hooked, service, instrument


def fill(account, qty, settlement, lock):
    """The one final report of a committed buy, with its P&L."""
    r = funds.report(account, trade=(100, qty), leaves=0, lock=lock, settlement=settlement)
    return ExecutionReport(operation=r.operation, fill=r.fill, financial_impact=FinancialImpact(pnl="-1", fee="0"))


def trader(t, engine, hooked, service, instrument, drops, deadline, errors, counts):
    accounts = engine.accounts()
    mine = [t * 100 + k for k in range(4)]
    for a in mine:
        funds.deposit(engine, a, "USD", 10**9)
        funds.deposit(engine, a, "USDT", 10**9)
    n = 0
    try:
        while time.monotonic() < deadline:
            n += 1
            account = mine[n % len(mine)]
            qty = 1 + n % 5
            hooked.local.refuse = n % 7 == 0
            # A third is valued from market data; a sixth settles in USDT, where the size limit is.
            settlement = "USDT" if n % 6 == 1 else "USD"
            o = funds.order(account, Side.BUY, qty=qty, price=None if n % 3 == 0 else 100, settlement=settlement)
            try:
                if n % 4 == 0:
                    result = engine.start_pre_trade(o)
                    result = result.request.execute() if result.ok else result
                else:
                    result = engine.execute_pre_trade(o)
            except RuntimeError as exc:
                assert str(exc) == "hook refuses", exc
                counts["raised"] += 1
                continue
            counts["accepted" if result.ok else "refused"] += 1
            if result.ok:
                if n % 11 == 0:
                    drops.put(result.reservation)  # dropped on another thread: kept as it is
                elif n % 2 == 0:
                    lock = result.reservation.lock()
                    result.reservation.commit()
                    engine.apply_execution_report(fill(account, qty, settlement, lock))
                else:
                    result.reservation.rollback()
            if n % 5 == 0:
                service.push(instrument, Quote(mark=Price(str(100 + n % 3))))
            if n % 13 == 0:
                engine.apply_account_adjustment(funds.acct(account), [funds.adjustment("USD", balance=1)])
            if n % 17 == 0:
                members = [funds.acct(a) for a in mine]
                accounts.register_group(members, t + 1)
                accounts.unregister_group(members, t + 1)
            try:
                drops.get_nowait()  # the last reference goes here, on this thread
            except queue.Empty:
                pass
    except BaseException as exc:  # noqa: BLE001 (reported by the caller)
        errors.append(exc)


def run(sync, seconds):
    engine, hooked, service, instrument = build(sync)
    drops = queue.Queue()
    errors = []
    counts = collections.Counter()
    deadline = time.monotonic() + seconds
    threads = [threading.Thread(target=trader, args=(t, engine, hooked, service, instrument, drops, deadline, errors, counts))
               for t in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    if errors:
        raise errors[0]
    # A run that refused everything would prove little.
    assert counts["accepted"] > 10 * counts["refused"] and counts["raised"] > 0, counts
    return counts


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=60)
    seconds = parser.parse_args().seconds
    faulthandler.dump_traceback_later(seconds * 3 + 60, exit=True)
    sys.setswitchinterval(1e-5)
    sys.unraisablehook = lambda unraisable: None  # cross-thread drops report here by design
    for sync in ("full_sync", "account_sync"):
        started = time.monotonic()
        counts = run(sync, seconds / 2)
        print(f"{sync}: {time.monotonic() - started:.1f} s, {dict(counts)}, no report")


if __name__ == "__main__":
    main()
