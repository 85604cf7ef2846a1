"""An interpreter that exits while daemon threads run inside callbacks the
extension made ends them by pthread_exit, a forced unwind through our frames:
the process must still exit cleanly."""

import concurrent.futures
import subprocess
import sys
import textwrap

import pytest

RUNS = 20
THREADS = 8

CHILD = textwrap.dedent("""
    import random, sys, threading, time
    import vantrel
    from vantrel.core import ExecutionReport, ExecutionReportOperation, Instrument, Order, OrderOperation
    from vantrel.marketdata import Quote, QuoteResolution, QuoteTtl
    from vantrel.param import AccountId, Quantity, TradeAmount

    kind = sys.argv[1]
    started = threading.Semaphore(0)

    def busy():
        # Python work that gives the interpreter lock up now and then, both
        # ways: asked to by another thread, and around a sleep.
        started.release()
        for _ in range(random.randrange(1, 40)):
            sum(range(200))
        time.sleep(0.0002)

    class Action:
        commit = rollback = staticmethod(busy)

    class Staged:
        mutations = [Action()]
        rejects = ()

    class Dying(list):
        def __del__(self):
            busy()

    class Policy:
        name = "busy"
        def check_pre_trade_start(self, ctx, order):
            if kind == "hook":
                busy()
            return Dying() if kind == "del" else None
        def perform_pre_trade_check(self, ctx, order):
            if kind == "hook":
                busy()
            return Staged() if kind == "action" else None
        def apply_execution_report(self, *, ctx, report):
            if kind == "hook":
                busy()
        def apply_account_adjustment(self, ctx, account_id, adjustment):
            return None

    class Info:
        @property
        def account_group(self):
            busy()
            return None

    def order():
        return Order(operation=OrderOperation(account_id=AccountId.from_int(1),
                                              trade_amount=TradeAmount.quantity(Quantity(1))))

    def engine_loop():
        engine = vantrel.Engine.builder().full_sync().pre_trade(Policy()).build()
        report = ExecutionReport(operation=ExecutionReportOperation(account_id=AccountId.from_int(1)))
        flip = False
        while True:
            reservation = engine.execute_pre_trade(order()).reservation
            flip = not flip
            reservation.commit() if flip else reservation.rollback()
            engine.apply_execution_report(report)

    def market_data_loop():
        service = vantrel.Engine.builder().full_sync().market_data(QuoteTtl.infinite()).build()
        iid = service.register(Instrument("BTC", "USD"))
        service.push(iid, Quote(mark=1))
        while True:
            service.get(iid, AccountId.from_int(1), Info(), QuoteResolution.ACCOUNT_THEN_GROUP_THEN_DEFAULT)

    loop = market_data_loop if kind == "account_group" else engine_loop
    for _ in range(8):
        threading.Thread(target=loop, daemon=True).start()
    for _ in range(8):
        started.acquire()
    time.sleep(random.random() * 0.02)
""")


def run_child(kind):
    run = subprocess.run([sys.executable, "-c", CHILD, kind], capture_output=True, text=True, timeout=120)
    return run.returncode, run.stderr[-2000:]


@pytest.mark.parametrize("kind", ["hook", "action", "account_group", "del"])
def test_the_interpreter_exits_cleanly_with_daemon_threads_inside_callbacks(kind):
    with concurrent.futures.ThreadPoolExecutor(max_workers=THREADS) as pool:
        results = list(pool.map(run_child, [kind] * RUNS))
    failures = [(code, err) for code, err in results if code != 0]
    assert not failures, f"{len(failures)} of {RUNS} exits failed; first: {failures[0]}"
