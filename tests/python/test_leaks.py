"""Entry points run many times leave live instances and resident memory flat.

Checked builds (debug, sanitizers) count live instances per class; the plain
build is measured by resident memory instead (a sanitizer's quarantine makes
resident memory meaningless, so that check is skipped there)."""

import datetime
import decimal
import gc
import os

import pytest

import vantrel
from vantrel import ParamError, _vantrel
from vantrel.core import Instrument
from vantrel.marketdata import InstrumentId
from vantrel.param import (
    AccountGroupId, AccountId, AdjustmentAmount, CashFlow, Fee, Leverage, Notional,
    Pnl, PositionSize, Price, Quantity, Trade, TradeAmount, Volume,
)
from vantrel.marketdata import Quote, QuoteTtl
from vantrel.pretrade import AccountBlock, Lock, OutcomeAmount, PostTradeResult
from vantrel.core import ExecutionReport, Order, OrderOperation
from md_kit import CountingInfo, kit
from engine_kit import NoOpPolicy, Scripted, build, order

ITERATIONS = int(os.environ.get("VANTREL_LEAK_ITERATIONS", "100000"))
UNDER_SANITIZER = os.environ.get("VANTREL_SANITIZED") == "1"
PRICE, QTY = Price("101.25"), Quantity("3")


def failing(call, error):
    def run():
        try:
            call()
        except error:
            return
        raise AssertionError("expected a failure")

    return run


ENTRY_POINTS = {
    "Price(str)": lambda: Price("101.25"),
    "Price(int)": lambda: Price(2**70),
    "Price(float)": lambda: Price(0.1),
    "Price(Decimal)": lambda: Price(decimal.Decimal("1.5")),
    "Price bad text": failing(lambda: Price("x"), ParamError),
    "Price bad type": failing(lambda: Price(None), ValueError),
    "Price.from_string_rounded": lambda: Price.from_string_rounded("98765432109.876543210987654329", 17, "Down"),
    "Price.from_float_rounded": lambda: Price.from_float_rounded(1.5e-28, 28, "Up"),
    "bad strategy": failing(lambda: Price.from_float_rounded(1.5, 2, "nearest"), ValueError),
    "Price.decimal": lambda: PRICE.decimal,
    "Price arithmetic": lambda: (PRICE + PRICE - PRICE) * 2 / 3,
    "Price compare and hash": lambda: (PRICE < Price(7), hash(PRICE), PRICE == PRICE),
    "Price str and repr": lambda: (str(PRICE), repr(PRICE)),
    "calculate_volume": lambda: PRICE.calculate_volume(QTY),
    "to_json_value": lambda: PRICE.to_json_value(),
    "Quantity negative": failing(lambda: Quantity("-1"), ParamError),
    "PositionSize.from_quantity_and_side": lambda: PositionSize.from_quantity_and_side(QTY, "SELL"),
    "Pnl, Fee, CashFlow": lambda: CashFlow.from_pnl(Pnl(-3)) + CashFlow.from_fee(Fee("0.1")),
    "Volume and Notional": lambda: Notional.from_volume(Volume(5)).to_volume(),
    "AccountId": lambda: (AccountId.from_int(7).value, AccountId.from_string("desk-1").value),
    "AccountId overflow": failing(lambda: AccountId.from_int(-1), OverflowError),
    "AccountGroupId": lambda: AccountGroupId.from_int(3) == AccountGroupId.from_string("g"),
    "InstrumentId": lambda: InstrumentId(9).value,
    "Leverage": lambda: Leverage(2.5).calculate_margin_required(Notional(100)),
    "Leverage refused": failing(lambda: Leverage("2"), ValueError),
    "Trade": lambda: repr(Trade(price=PRICE, quantity=QTY)),
    "TradeAmount": lambda: TradeAmount.quantity(QTY).as_quantity,
    "AdjustmentAmount": lambda: repr(AdjustmentAmount.delta(PositionSize(1)).as_delta),
    "OutcomeAmount": lambda: OutcomeAmount(delta=5, absolute=105).absolute,
    "Instrument": lambda: repr(Instrument("BTC", "USD")),
    "Instrument refused": failing(lambda: Instrument("", "USD"), ValueError),
    "Quote and QuoteTtl": lambda: (repr(Quote(mark=1, bid="0.5")), QuoteTtl.within(datetime.timedelta(seconds=2))),
    "Lock codecs": lambda: Lock.from_json(Lock([(7, "1.5"), (3, "2")]).to_json()).prices_of(7),
    "Lock refused": failing(lambda: Lock([(70000, "1")]), ValueError),
    "Order": lambda: repr(Order(operation=OrderOperation(underlying_asset="BTC", price=PRICE))),
    "ExecutionReport": lambda: ExecutionReport().operation,
    "AccountBlock": lambda: repr(AccountBlock(policy="Kill", code="AccountBlocked", reason="r", details="d")),
    "PostTradeResult": lambda: PostTradeResult(account_blocks=[]).account_blocks,
}


def _engine_round(sync, finish):
    engine = build(NoOpPolicy(), sync=sync, validation=True)
    order = Order(operation=OrderOperation(account_id=AccountId.from_int(1), trade_amount=TradeAmount.quantity(QTY)))

    def run():
        result = engine.execute_pre_trade(order)
        if finish:
            getattr(result.reservation, finish)()

    return run


for _sync in ("no_sync", "full_sync"):
    for _finish in ("commit", "rollback", None):
        ENTRY_POINTS[f"Engine.execute_pre_trade {_sync} then {_finish}"] = _engine_round(_sync, _finish)


def live():
    gc.collect()
    return dict(_vantrel._live_instances())


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.sanitizer_aware
@pytest.mark.parametrize("name", sorted(ENTRY_POINTS))
def test_entry_point_leaks_nothing(name):
    call = ENTRY_POINTS[name]
    counted = hasattr(_vantrel, "_live_instances")
    if not counted and UNDER_SANITIZER:
        pytest.skip("neither instance counts nor a meaningful resident size")
    for _ in range(1000):
        call()
    before = live() if counted else None
    resident = resident_bytes()
    for _ in range(ITERATIONS):
        call()
    if counted:
        assert live() == before
    if not UNDER_SANITIZER:
        # A leak of one small object per call would add several megabytes.
        assert resident_bytes() - resident < 2 * 2**20


# Reads that park the exception of a failing account_info and raise it: the
# pending-exception slot and the market-data service must not keep anything.
@pytest.mark.sanitizer_aware
@pytest.mark.parametrize("error", [None, KeyError])
def test_market_data_read_leaks_nothing(probe, error):
    md = kit(probe)
    service = md.service()
    iid = service.register(md.Instrument("BTC", "USD"))
    service.push(iid, md.Quote(mark=3))
    account = md.account(1)

    def read():
        try:
            # A fresh exception each time: one raised again keeps growing its traceback.
            service.get(iid, account, CountingInfo(md.group(2), error and error("no group")), md.ALL)
        except KeyError:
            pass

    name = f"MarketDataService.get raising {error}"
    ENTRY_POINTS[name] = read
    try:
        test_entry_point_leaks_nothing(name)
    finally:
        del ENTRY_POINTS[name]


def test_live_counts_see_instances():
    if not hasattr(_vantrel, "_live_instances"):
        pytest.skip("instance counts exist in checked builds only")
    before = live().get("vantrel.param.Price", 0)
    kept = [Price(i) for i in range(10)]
    assert live().get("vantrel.param.Price", 0) == before + 10

    class Sub(Trade):
        pass

    sub = Sub(price=PRICE, quantity=QTY)
    assert live().get(f"{__name__}.test_live_counts_see_instances.<locals>.Sub") == 1
    del kept, sub
    assert live().get("vantrel.param.Price", 0) == before


# A reservation kept is counted and one released is not, whichever way it ends.
def test_live_counts_see_reservations():
    if not hasattr(_vantrel, "_live_instances"):
        pytest.skip("instance counts exist in checked builds only")
    engine, name = build(Scripted()), "vantrel.pretrade.Reservation"
    before = live().get(name, 0)
    kept = [engine.execute_pre_trade(order(n)).reservation for n in range(4)]
    assert live().get(name, 0) == before + 4
    kept[0].commit()
    kept[1].rollback()
    del kept[:3]  # finished, finished, dropped open
    assert live().get(name, 0) == before + 1
    del kept
    assert live().get(name, 0) == before
