"""A child interpreter for the exit tests: `python exit_child.py KIND MODE [DIR]`.

Threads drive one engine through one kind of callback (KINDS) without end.

MODE "teardown": daemon threads, and the main thread returns at once; at
module teardown, after the interpreter has started to finalise, a finalizer
run there calls the same engine, opening funds slots for new accounts
(writers on the funds table, which the daemon threads' funds work then waits
for), and runs Python between the calls. Each time it gives the interpreter
lock up, a daemon thread that was waiting for that lock, inside a callback
nearly always, is ended there by the interpreter. It prints how many engine
calls it made and how many of them raised.

MODE "gate": one daemon thread, whose first callback waits on a gate (the
interpreter lock given up meanwhile). The main thread returns; the finalizer
opens the gate and sleeps, so the interpreter ends the thread right there,
inside the callback; then it calls the engine, on that thread's account too,
and prints "alive".

MODE "late" (the kinds in SLEEPY): eight daemon threads each sleep inside a
callback until the interpreter has finished; an exit function of the
toolkit's test module (in DIR) wakes them then, and they are ended on their
way back in. Nothing is printed.

The child must exit with status 0 whatever it met. The kind "class_attr"
needs the toolkit's test module, in DIR.

The kinds of ERROR_TEXT_KINDS reach the engine from an argument's failed
conversion instead: the error's __str__, or the __del__ of what the error
holds, calls the module while the binding words the argument's error. The
kind "unraisable" (DIR as for "class_attr") reaches the toolkit's test module
from sys.unraisablehook, reporting the failure of a function that has no
failure value.
"""

import builtins
import os
import sys
import threading
import time

import vantrel
from vantrel import (
    AccountAdjustment,
    AccountAdjustmentAmount,
    AccountAdjustmentBalanceOperation,
    AccountId,
    AdjustmentAmount,
    ExecutionReport,
    ExecutionReportOperation,
    Instrument,
    Order,
    OrderOperation,
    PositionSize,
    Price,
    Quantity,
    Side,
    TradeAmount,
)
from vantrel.marketdata import Quote, QuoteResolution, QuoteTtl
from vantrel.pretrade import AccountBlock
from vantrel.pretrade.policies import SpotFundsPolicy

STAGES = ("start", "main", "post", "adjust")
KINDS = tuple(f"{stage}_{shape}" for shape in ("hook", "gen", "prop") for stage in STAGES) + (
    "batch", "action", "del", "account_group", "class_attr")
# "{road}_{callee}": the conversion that fails (Price.from_int, AccountBlock's
# user_data) and what its error's text or release calls.
ERROR_TEXT_KINDS = tuple(f"{road}_{callee}" for road in ("str", "del", "userdata")
                         for callee in ("order", "adjust", "id"))
KINDS += ERROR_TEXT_KINDS + ("unraisable",)

# Callbacks that sleep, the lock given up, until the interpreter has finished
# (its thread-state key deleted): MODE "late" only. (The reject's user_data
# whose __index__ sleeps is read by a call no note of the thread's end wraps:
# only the check on each release guards it.)
SLEEPY = ("start_sleepgen", "adjust_sleepgen", "start_sleepcode", "start_sleepindex")

THREADS = 16
TEARDOWN_CALLS = 300
TEARDOWN_ASSETS = 40  # funds slots each teardown call opens

KIND, MODE = sys.argv[1:3]
assert (KIND in KINDS and MODE in ("teardown", "gate")) or (KIND in SLEEPY and MODE == "late"), sys.argv
STAGE, _, SHAPE = KIND.partition("_")
if MODE == "gate":
    THREADS = 1
elif KIND in ERROR_TEXT_KINDS + ("unraisable",):
    THREADS = 12
if MODE == "late":
    THREADS = 8
    WAKE_R, WAKE_W = os.pipe()
    asleep = threading.Semaphore(0)

# A short switch interval: the lock changes hands often, so threads wait for
# it inside callbacks often.
sys.setswitchinterval(1e-5)

started = threading.Semaphore(0)


waiting = threading.Event()
gate = threading.Lock()
gate.acquire()


def busy():
    if MODE == "gate":
        if threading.current_thread() is not threading.main_thread():
            waiting.set()
            gate.acquire()  # until the interpreter finalises: it ends the thread here
        return
    # Python work long enough to be asked for the lock now and then.
    for _ in range(20):
        sum(range(100))


def gen():
    busy()
    return
    yield


class Fields:
    def __init__(self, **fields):
        self.__dict__.update(fields)


class BusyRejects:
    # A result whose `rejects` property runs Python.
    mutations = ()
    account_adjustments = ()

    @property
    def rejects(self):
        busy()
        return ()

    @property
    def account_blocks(self):
        busy()
        return ()


class BusyReject:
    # A reject whose `code` property runs Python, then names no code: the hook fails.
    reason = details = "busy"
    scope = "order"

    @property
    def code(self):
        busy()
        return "not a code"


def nap():
    # Until the interpreter has finished: the thread is ended on its way back in.
    asleep.release()
    os.read(WAKE_R, 1)


def sleepy_gen():
    nap()
    return
    yield


class SleepyReject:
    # A reject whose `code` property sleeps, then names no code: the hook fails.
    reason = details = "sleepy"
    scope = "order"

    @property
    def code(self):
        nap()
        return "not a code"


class SleepyIndex:
    def __index__(self):
        nap()
        return 7


def sleepy_result_of(stage):
    if STAGE != stage:
        return None
    return {"sleepgen": lambda: sleepy_gen() if stage == "start" else Fields(rejects=sleepy_gen(), mutations=()),
            "sleepcode": lambda: [SleepyReject()],
            "sleepindex": lambda: [Fields(code="OrderQtyExceedsLimit", reason="r", details="d", scope="order",
                                          user_data=SleepyIndex())]}[SHAPE]()


class BusyAction:
    commit = rollback = staticmethod(busy)


class Dying(list):
    def __del__(self):
        busy()


def result_of(stage):
    if KIND in SLEEPY:
        return sleepy_result_of(stage)
    if STAGE != stage and KIND != "batch":
        return None
    if SHAPE == "hook" or KIND == "batch":
        busy()
        return Fields(rejects=(), mutations=[BusyAction()]) if stage in ("main", "adjust") else None
    if SHAPE == "gen":
        return {"start": lambda: gen(),
                "main": lambda: Fields(rejects=gen(), mutations=()),
                "post": lambda: Fields(account_blocks=gen(), account_adjustments=()),
                "adjust": lambda: Fields(rejects=gen(), mutations=())}[stage]()
    if SHAPE == "prop":
        return [BusyReject()] if stage == "start" else BusyRejects()
    return None


class Policy:
    name = "busy"

    def check_pre_trade_start(self, ctx, order):
        if KIND == "del":
            return Dying()
        return result_of("start")

    def perform_pre_trade_check(self, ctx, order):
        if KIND == "action":
            return Fields(rejects=(), mutations=[BusyAction()])
        return result_of("main")

    def apply_execution_report(self, *, ctx, report):
        return result_of("post")

    def apply_account_adjustment(self, ctx, account_id, adjustment):
        return result_of("adjust")


class Info:
    @property
    def account_group(self):
        busy()
        return None


def deposit(asset, amount):
    return AccountAdjustment(operation=AccountAdjustmentBalanceOperation(asset=asset),
                             amount=AccountAdjustmentAmount(balance=AdjustmentAmount.delta(PositionSize(amount))))


def order(account):
    return Order(operation=OrderOperation(
        underlying_asset="BTC", settlement_asset="USD", account_id=AccountId.from_int(account), side=Side.BUY,
        trade_amount=TradeAmount.quantity(Quantity("1")), price=Price("1")))


# Funds first, then the Python policy: an order's main stage holds funds
# before the Python hook runs, and undoes that hold if the hook's thread ends.
engine = vantrel.Engine.builder().full_sync().builtin(SpotFundsPolicy()).pre_trade(Policy()).build()


def engine_loop(account):
    account_id = AccountId.from_int(account)
    engine.apply_account_adjustment(account_id, [deposit("USD", "1000000000")])
    report = ExecutionReport(operation=ExecutionReportOperation(
        underlying_asset="BTC", settlement_asset="USD", account_id=account_id, side=Side.BUY))
    batch = [deposit("USD", "1"), deposit("BTC", "1"), deposit("USD", "-1")]
    flip = False
    started.release()
    while True:
        try:
            if STAGE in ("start", "main") or KIND in ("action", "del"):
                reservation = engine.execute_pre_trade(order(account)).reservation
                flip = not flip
                if reservation is not None:
                    reservation.commit() if flip else reservation.rollback()
            elif STAGE == "post":
                engine.apply_execution_report(report)
            else:
                engine.apply_account_adjustment(account_id, batch if KIND == "batch" else batch[:1])
        except Exception:
            pass  # a failing hook raises here, as designed


def market_data_loop(account):
    service = vantrel.Engine.builder().full_sync().market_data(QuoteTtl.infinite()).build()
    iid = service.register(Instrument("BTC", "USD"))
    service.push(iid, Quote(mark=1))
    started.release()
    while True:
        service.get(iid, AccountId.from_int(account), Info(), QuoteResolution.ACCOUNT_THEN_GROUP_THEN_DEFAULT)


def class_loop(account):
    # `python exit_child.py class_attr DIR`: the toolkit's test module in DIR
    # makes a class whose attribute runs Python, again and again.
    sys.path.insert(0, sys.argv[3])
    import _vantrel_testkit as kit
    started.release()
    while True:
        try:
            kit.fresh_class(busy)
        except Exception:
            pass


class BusyHooks:
    name = "hooks"
    check_pre_trade_start = perform_pre_trade_check = apply_execution_report = apply_account_adjustment = (
        lambda self, *args, **kwargs: busy())


class BusyIndex:
    def __index__(self):
        busy()
        return 7


def error_text_loop(account):
    road, _, callee = KIND.partition("_")
    hooked = vantrel.Engine.builder().full_sync().pre_trade(BusyHooks()).build()
    account_id = AccountId.from_int(account)
    item = [deposit("USD", "1")]
    call = {"order": lambda: hooked.execute_pre_trade(order(account)),
            "adjust": lambda: hooked.apply_account_adjustment(account_id, item),
            "id": lambda: AccountId.from_int(BusyIndex())}[callee]

    class Loud(TypeError):
        def __str__(self):
            call()
            return "loud"

    class Payload:
        def __del__(self):
            call()

    class Failing:
        def __index__(self):
            if road == "del":
                raise TypeError("failing", Payload())  # freed with the error
            raise Loud()

    convert = {"userdata": lambda: AccountBlock(policy="p", code="AccountBlocked", reason="r", details="d",
                                                user_data=Failing())}.get(road, lambda: Price.from_int(Failing()))
    started.release()
    while True:
        try:
            convert()
        except TypeError:
            pass


def unraisable_loop(account):
    sys.path.insert(0, sys.argv[3])
    import _vantrel_testkit as kit
    # The hook calls the module that reports (a module of ours links its own C++ runtime).
    sys.unraisablehook = lambda report: kit.fresh_class(busy)
    started.release()
    while True:
        kit.call_failing_void()


class Teardown:
    """Calls the engine from module teardown: each call opens funds slots for a
    new account, a writer on the funds table."""

    def __init__(self):
        # Module globals are gone by then: everything is kept here.
        self.engine = engine
        self.accounts = [AccountId.from_int(1_000_000 + n) for n in range(TEARDOWN_CALLS)]
        self.items = [deposit(f"T{n}", "1") for n in range(TEARDOWN_ASSETS)]
        self.busy = busy
        self.write = lambda text, write=os.write: write(1, text.encode())

    def __del__(self):
        raised = 0
        for account_id in self.accounts:
            try:
                self.engine.apply_account_adjustment(account_id, self.items)
            except Exception:
                raised += 1
            self.busy()
        self.write(f"teardown calls {len(self.accounts)} raised {raised}\n")


class GateTeardown:
    """Opens the gate from module teardown, lets the interpreter end the thread
    waiting there, then calls the engine."""

    def __init__(self):
        self.engine, self.gate, self.sleep = engine, gate, time.sleep
        self.accounts = [AccountId.from_int(1), AccountId.from_int(3)]  # the ended thread's, and a fresh one
        self.items = [deposit("USD", "10")]
        self.orders = [order(1), order(3)]
        self.write = lambda text, write=os.write: write(1, text.encode())

    def __del__(self):
        self.gate.release()
        self.sleep(0.3)  # the lock given up: the thread takes it back, and is ended
        for account_id, an_order in zip(self.accounts, self.orders):
            assert self.engine.apply_account_adjustment(account_id, self.items).ok
            try:
                self.engine.execute_pre_trade(an_order)
            except Exception:
                pass  # a failing hook raises here, as designed (an internal fault is no Exception)
        self.write("alive\n")


# Two accounts between all threads: threads ended together contend for the
# same funds slots while they undo what they staged.
loop = {"account_group": market_data_loop, "class_attr": class_loop}.get(KIND, engine_loop)
if KIND in ERROR_TEXT_KINDS:
    loop = error_text_loop
elif KIND == "unraisable":
    loop = unraisable_loop
for n in range(THREADS):
    threading.Thread(target=loop, args=(n % 2 + 1,), daemon=True).start()
if MODE == "late":
    # MODE "late": the threads sleep inside the callbacks until the
    # interpreter has finished; the toolkit's test module in DIR wakes them then.
    for _ in range(THREADS):
        asleep.acquire()
    sys.path.insert(0, sys.argv[3])
    import _vantrel_testkit as kit
    kit.wake_after_exit(WAKE_W, THREADS, 0.5)
    sys.exit(0)
if MODE == "gate":
    waiting.wait()
    builtins.exit_teardown = GateTeardown()
    sys.exit(0)
for _ in range(THREADS):
    started.acquire()
# Not a global of this module: the daemon threads' frames keep its globals
# alive to the end. The builtins the interpreter restores at teardown drop it.
builtins.exit_teardown = Teardown()
