"""Python records into the engine's own records, driven through the probe module.

The probe has class objects of its own: every record handed to it is built from
`probe.probe_class(...)`.
"""

import decimal
import os
import sys
import tracemalloc

import pytest

import vantrel.param
from vantrel.param import Side


@pytest.fixture(scope="module")
def c(probe):
    """The probe's record and value classes by name: c.Order, c.AccountId, ..."""

    class Classes:
        def __getattr__(self, name):
            return probe.probe_class(name)

    return Classes()


def limit_order(c, **operation):
    fields = dict(underlying_asset="BTC", settlement_asset="USD", account_id=c.AccountId.from_int(7), side="buy",
                  trade_amount=c.TradeAmount.quantity("1.5"), price="101.25")
    fields.update(operation)
    return c.Order(operation=c.OrderOperation(**fields))


# ---- orders

def test_empty_order(probe, c):
    order = c.Order()
    assert probe.order_record(order) == {"operation": None, "position": None, "margin": None, "source": order}


def test_full_order(probe, c):
    order = limit_order(c)
    order.position = c.OrderPosition(position_side="short", close_position=True)
    order.margin = c.OrderMargin(leverage=2.5, collateral_asset="USDT", auto_borrow=True)
    assert probe.order_record(order) == {
        "operation": {"instrument": ("BTC", "USD"), "account_id": 7, "side": "buy",
                      "trade_amount": ("quantity", "1.5"), "price": "101.25"},
        "position": {"position_side": "short", "reduce_only": False, "close_position": True},
        "margin": {"leverage_tenths": 25, "collateral_asset": "USDT", "auto_borrow": True},
        "source": order,
    }


@pytest.mark.parametrize("missing", ["underlying_asset", "settlement_asset"])
def test_a_lone_asset_is_dropped(probe, c, missing):
    order = limit_order(c, **{missing: None})
    operation = probe.order_record(order)["operation"]
    assert operation["instrument"] is None and operation["price"] == "101.25"


def test_the_instrument_needs_only_the_two_assets(probe, c):
    order = c.Order(operation=c.OrderOperation(underlying_asset=" ETH", settlement_asset="USDC"))
    assert probe.order_record(order)["operation"] == {
        "instrument": (" ETH", "USDC"), "account_id": None, "side": None, "trade_amount": None, "price": None}
    report = c.ExecutionReport(operation=c.ExecutionReportOperation(underlying_asset="A", settlement_asset="B"))
    assert probe.execution_report_record(report)["operation"] == {
        "instrument": ("A", "B"), "account_id": None, "side": None}


def test_default_parts_are_present(probe, c):
    record = probe.order_record(c.Order(position=c.OrderPosition(), margin=c.OrderMargin()))
    assert record["position"] == {"position_side": None, "reduce_only": False, "close_position": False}
    assert record["margin"] == {"leverage_tenths": None, "collateral_asset": None, "auto_borrow": False}
    assert record["operation"] is None


def test_the_record_is_a_snapshot(probe, c):
    order = limit_order(c)
    first = probe.order_record(order)
    order.operation.price = 5
    order.operation = None
    assert first["operation"]["price"] == "101.25"
    assert probe.order_record(order)["operation"] is None


def test_a_subclass_instance_is_the_source_itself(probe, c):
    sub = type("MyOrder", (c.Order,), {})
    order = sub(operation=c.OrderOperation(price=1))
    assert probe.order_record(order)["source"] is order


@pytest.mark.parametrize("convert, text, wrong", [
    ("order_record", "order must inherit from vantrel.Order", "ExecutionReport"),
    ("execution_report_record", "report must inherit from vantrel.ExecutionReport", "Order"),
])
def test_one_type_error_each(probe, c, convert, text, wrong):
    for value in [5, None, getattr(c, wrong)(), vantrel.core.Order()]:  # the real module's class is not the probe's
        with pytest.raises(TypeError) as info:
            getattr(probe, convert)(value)
        assert str(info.value) == text


# ---- execution reports

def test_empty_report(probe, c):
    report = c.ExecutionReport()
    assert probe.execution_report_record(report) == {
        "operation": None, "financial_impact": None, "fill": None, "position_impact": None, "source": report}


def test_full_report(probe, c):
    lock = c.Lock([(0, "1.50"), (9, 2), (0, 3), (4, 5)])
    report = c.ExecutionReport(
        operation=c.ExecutionReportOperation(settlement_asset="USD", account_id=c.AccountId.from_int(3), side="sell"),
        financial_impact=c.FinancialImpact(pnl="-1.50", fee="0.01"),
        fill=c.ExecutionReportFillDetails(last_trade=c.Trade(price=10, quantity=2), leaves_quantity=0, lock=lock,
                                          is_final=True),
        position_impact=c.ExecutionReportPositionImpact(position_effect="close", position_side="long"),
    )
    lock.push(0, 99)  # the fill holds its own copy
    assert probe.execution_report_record(report) == {
        "operation": {"instrument": None, "account_id": 3, "side": "sell"},
        "financial_impact": ("-1.50", "0.01"),
        "fill": {"last_trade": ("10", "2"), "leaves_quantity": "0",
                 "lock": [(0, "1.50"), (0, "3"), (9, "2"), (4, "5")], "is_final": True},
        "position_impact": {"position_effect": "close", "position_side": "long"},
        "source": report,
    }


# ---- account adjustments

def test_adjustment_batch(probe, c):
    balance = c.AccountAdjustment(
        operation=c.AccountAdjustmentBalanceOperation(asset="USD", average_entry_price=2),
        amount=c.AccountAdjustmentAmount(balance=c.AdjustmentAmount.delta(-3)),
    )
    position = c.AccountAdjustment(
        operation=c.AccountAdjustmentPositionOperation(underlying_asset="BTC", mode="hedged", leverage=3),
        bounds=c.AccountAdjustmentBounds(held_lower=0),
    )
    empty = c.AccountAdjustment()
    records = probe.account_adjustment_records(iter([balance, position, empty]))
    assert records[0] == {
        "operation": {"kind": "balance", "asset": "USD", "average_entry_price": "2"},
        "amount": {"balance": ("delta", "-3"), "held": None, "incoming": None},
        "bounds": None, "source": balance,
    }
    assert records[1]["operation"] == {"kind": "position", "underlying_asset": "BTC", "settlement_asset": None,
                                       "collateral_asset": None, "average_entry_price": None, "mode": "hedged",
                                       "leverage_tenths": 30}
    assert records[1]["bounds"] == {"balance_upper": None, "balance_lower": None, "held_upper": None,
                                    "held_lower": "0", "incoming_upper": None, "incoming_lower": None}
    assert records[2] == {"operation": None, "amount": None, "bounds": None, "source": empty}


def test_adjustment_batch_stops_at_the_first_error(probe, c):
    with pytest.raises(TypeError) as info:
        probe.account_adjustment_records([c.AccountAdjustment(), c.AccountAdjustmentAmount()])
    assert str(info.value) == "adjustment must inherit from vantrel.AccountAdjustment"

    def failing():
        yield c.AccountAdjustment()
        raise KeyError("from the iterable")

    with pytest.raises(KeyError, match="from the iterable"):
        probe.account_adjustment_records(failing())


# ---- the source handle

@pytest.mark.parametrize("make", [
    lambda c: limit_order(c),
    lambda c: c.ExecutionReport(fill=c.ExecutionReportFillDetails(lock=c.Lock([(0, 1)]))),
    lambda c: c.AccountAdjustment(operation=c.AccountAdjustmentBalanceOperation(asset="USD")),
])
def test_a_record_dropped_on_a_worker_thread_queues_its_release(probe, c, make):
    obj = make(c)
    count = sys.getrefcount(obj)
    before, after = probe.drop_on_worker(obj)
    assert after == before  # the worker had no interpreter lock: nothing touched
    assert sys.getrefcount(obj) == count  # released once the lock came back


def test_records_release_their_source(probe, c):
    order = limit_order(c)
    count = sys.getrefcount(order)
    for _ in range(100):
        probe.order_record(order)["source"]
    assert sys.getrefcount(order) == count


# ---- borrow flags

def test_writing_a_record_while_its_getter_runs_is_refused(probe, c, monkeypatch):
    operation = c.OrderOperation(side="buy")
    seen = []

    def side_class(text):
        try:
            operation.side = "sell"  # the getter still holds its read
        except RuntimeError as error:
            seen.append(str(error))
        return Side(text)

    monkeypatch.setattr(vantrel.param, "Side", side_class)
    assert operation.side is Side.BUY
    assert seen == ["Already borrowed"]
    monkeypatch.undo()
    assert operation.side is Side.BUY


class ReadsBack:
    """Values whose conversion runs Python code that reads the record being assigned."""

    def __init__(self, read):
        self.read, self.seen = read, []

    def attempt(self):
        try:
            self.read()
        except RuntimeError as error:
            self.seen.append(str(error))
        else:
            self.seen.append("read went through")

    def flag(self):
        hook = self

        class bool_:
            def __bool__(self):
                hook.attempt()
                return True

        bool_.__module__ = "numpy"
        return bool_()

    def decimal(self):
        hook = self

        class Sneaky(decimal.Decimal):
            def __str__(self):
                hook.attempt()
                return super().__str__()

        return Sneaky("2.5")


@pytest.mark.parametrize("make, field, kind, expected", [
    (lambda c: c.OrderPosition(), "reduce_only", "flag", True),
    (lambda c: c.OrderMargin(), "auto_borrow", "flag", True),
    (lambda c: c.ExecutionReportFillDetails(lock=c.Lock()), "is_final", "flag", True),
    (lambda c: c.OrderOperation(price=1), "price", "decimal", "2.5"),
    (lambda c: c.FinancialImpact(pnl=1, fee=1), "fee", "decimal", "2.5"),
    (lambda c: c.ExecutionReportFillDetails(lock=c.Lock()), "leaves_quantity", "decimal", "2.5"),
    (lambda c: c.AccountAdjustmentBounds(), "held_upper", "decimal", "2.5"),
    (lambda c: c.AccountAdjustmentBalanceOperation(), "average_entry_price", "decimal", "2.5"),
])
def test_reading_a_record_while_its_setter_converts_is_refused(c, make, field, kind, expected):
    record = make(c)
    for read in (lambda: getattr(record, field), lambda: repr(record)):
        hook = ReadsBack(read)
        setattr(record, field, getattr(hook, kind)())
        assert hook.seen == ["Already mutably borrowed"]
        value = getattr(record, field)
        assert (value if isinstance(value, bool) else str(value)) == expected


def test_enum_getter_errors_propagate(c, monkeypatch):
    monkeypatch.delattr(vantrel.param, "PositionSide")
    position = c.OrderPosition(position_side="long")
    with pytest.raises(AttributeError):
        position.position_side
    assert "PositionSide.LONG" in repr(position)  # a representation never calls into Python


# ---- robustness

class Hostile(Exception):
    pass


class Boom:
    def __getattr__(self, name):
        raise Hostile(name)

    def __index__(self):
        raise Hostile("index")

    def __float__(self):
        raise Hostile("float")

    def __str__(self):
        raise Hostile("str")


class HostileStr(str):
    def __eq__(self, other):
        raise Hostile("eq")

    __hash__ = str.__hash__


HOSTILE = [Boom(), HostileStr("buy"), float("nan"), float("inf"), 10**400, -(10**30), b"BTC", [], {}, object(),
           "\ud800", "\x00", type, Ellipsis, NotImplemented, True, 1j]

CONSTRUCTORS = {
    "OrderOperation": ["underlying_asset", "settlement_asset", "account_id", "side", "trade_amount", "price"],
    "OrderPosition": ["position_side", "reduce_only", "close_position"],
    "OrderMargin": ["leverage", "collateral_asset", "auto_borrow"],
    "Order": ["operation", "position", "margin"],
    "ExecutionReportOperation": ["underlying_asset", "settlement_asset", "account_id", "side"],
    "FinancialImpact": ["pnl", "fee"],
    "ExecutionReportFillDetails": ["last_trade", "leaves_quantity", "lock", "is_final"],
    "ExecutionReportPositionImpact": ["position_effect", "position_side"],
    "ExecutionReport": ["operation", "financial_impact", "fill", "position_impact"],
    "AccountAdjustmentBalanceOperation": ["asset", "average_entry_price"],
    "AccountAdjustmentPositionOperation": ["underlying_asset", "settlement_asset", "collateral_asset",
                                           "average_entry_price", "mode", "leverage"],
    "AccountAdjustmentAmount": ["balance", "held", "incoming"],
    "AccountAdjustmentBounds": ["balance_upper", "balance_lower", "held_upper", "held_lower", "incoming_upper",
                                "incoming_lower"],
    "AccountAdjustment": ["operation", "amount", "bounds"],
}
REQUIRED = {"FinancialImpact": {"pnl": 0, "fee": 0}, "ExecutionReportFillDetails": {"lock": vantrel.pretrade.Lock()}}


@pytest.mark.parametrize("name", list(CONSTRUCTORS))
def test_hostile_arguments_raise_only_documented_errors(name):
    cls = getattr(vantrel.core, name)
    base = dict(REQUIRED.get(name, {}))
    record = cls(**base)
    for field in CONSTRUCTORS[name]:
        for value in HOSTILE:
            for call in (lambda: cls(**{**base, field: value}), lambda: setattr(record, field, value)):
                try:
                    call()
                except (TypeError, ValueError, Hostile, UnicodeEncodeError):
                    pass
            repr(record)


UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def test_no_growth_over_many_records(probe, c):
    account = c.AccountId.from_int(7)
    amount = c.TradeAmount.quantity(1)
    lock = c.Lock([(0, 1), (3, 2)])

    def cycle(i):
        order = c.Order(operation=c.OrderOperation(underlying_asset="BTC", settlement_asset="USD", account_id=account,
                                                   side="buy", trade_amount=amount, price=1),
                        margin=c.OrderMargin(collateral_asset="A" * 40))
        probe.order_record(order)
        repr(order)
        report = c.ExecutionReport(fill=c.ExecutionReportFillDetails(lock=lock, last_trade=c.Trade(price=1, quantity=1)))
        probe.execution_report_record(report)
        report.fill.lock
        adjustment = c.AccountAdjustment(operation=c.AccountAdjustmentBalanceOperation(asset="B" * 40))
        if i % 16 == 0:  # a thread per call: sampled
            probe.drop_on_worker(adjustment)
        else:
            probe.account_adjustment_records([adjustment])

    counts = [sys.getrefcount(x) for x in (account, amount, lock)]
    for i in range(2000):
        cycle(i)
    rss = resident_bytes()
    tracemalloc.start()
    try:
        start = tracemalloc.get_traced_memory()[0]
        for i in range(100_000 // 3):
            cycle(i)
        grown = tracemalloc.get_traced_memory()[0] - start
    finally:
        tracemalloc.stop()
    assert grown < 64 * 1024  # Python objects
    if not UNDER_ASAN:  # the sanitizer's quarantine keeps freed memory resident
        assert resident_bytes() - rss < 4 * 1024 * 1024  # and the C++ side: asset names beyond the inline room
    assert [sys.getrefcount(x) for x in (account, amount, lock)] == counts
