"""The funds policy from Python: configuration, pricing, holds, reports, adjustments."""

from __future__ import annotations

import datetime
import faulthandler
import sys
import threading
import types
from decimal import Decimal

import pytest

from engine_kit import NoOpPolicy
from spot_funds_util import (acct, adjustment, bounds, deposit, funds_engine, only_reject, order, report, slot)
from vantrel import (AccountAdjustment, AccountAdjustmentPositionOperation, AccountGroupId, Engine, Instrument,
                     Price, Quote, QuoteTtl, ReadyEngineBuilder, Side)
from vantrel.pretrade.policies import SpotFundsPolicy

D = Decimal


def market(sync="full_sync", ttl=None, mark="100", bid=None, ask=None):
    service = getattr(Engine.builder(), sync)().market_data(ttl or QuoteTtl.infinite()).build()
    iid = service.register(Instrument("BTC", "USD"))
    quote = Quote(mark=None if mark is None else Price(mark), bid=None if bid is None else Price(bid),
                  ask=None if ask is None else Price(ask))
    service.push(iid, quote)
    return service, iid


# ---- configuration ----

def test_text_signature():
    assert ReadyEngineBuilder._add_builtin_spot_funds.__text_signature__ == (
        "($self, *, policy_group_id=0, market_data=None, default_slippage_bps=None, pricing_source=None, "
        "overrides=...)")


def test_adder_returns_the_same_builder_and_appends_in_order():
    ready = Engine.builder().no_sync().builtin(SpotFundsPolicy())
    assert ready._add_builtin_spot_funds(policy_group_id=3) is ready
    with pytest.raises(ValueError, match="^duplicate policy name in engine configuration: SpotFundsPolicy$"):
        ready.build()


def test_without_arguments_market_buys_are_refused():
    engine = funds_engine()
    reject = only_reject(engine.execute_pre_trade(order(qty=1)))
    assert (reject.reason, reject.details, reject.code, reject.policy) == (
        "market orders not supported", "", "UnsupportedOrderType", "SpotFundsPolicy")


def _configure(keywords, sync="full_sync"):
    return getattr(Engine.builder(), sync)().builtin(SpotFundsPolicy(**keywords))


@pytest.mark.parametrize("make, error, text", [
    (lambda md, i: dict(market_data=md, pricing_source="nope"), ValueError,
     "default_slippage_bps is required when market_data is provided"),
    (lambda md, i: dict(market_data=md, default_slippage_bps=10001), ValueError,
     "slippage 10001 bps is out of range (must be <= 10 000 bps)"),
    (lambda md, i: dict(market_data=md, default_slippage_bps=-1), OverflowError,
     "out of range integral type conversion attempted"),
    (lambda md, i: dict(market_data=md, default_slippage_bps=70000), OverflowError,
     "out of range integral type conversion attempted"),
    # Beyond a machine word: the same text, for every 16-bit argument.
    (lambda md, i: dict(market_data=md, default_slippage_bps=2**70), OverflowError,
     "out of range integral type conversion attempted"),
    (lambda md, i: dict(default_slippage_bps=-2**70), OverflowError,
     "out of range integral type conversion attempted"),
    (lambda md, i: dict(overrides=[(i, None, None, 2**64)]), OverflowError,
     "out of range integral type conversion attempted"),
    (lambda md, i: dict(policy_group_id=2**64), OverflowError, "out of range integral type conversion attempted"),
    (lambda md, i: dict(policy_group_id=65536), OverflowError, "out of range integral type conversion attempted"),
    (lambda md, i: dict(market_data=md, default_slippage_bps=1, pricing_source="BookTop "), ValueError,
     "pricing_source must be 'Mark' or 'BookTop', got \"BookTop \""),
    (lambda md, i: dict(market_data=md, default_slippage_bps=1, pricing_source="mark"), ValueError,
     "pricing_source must be 'Mark' or 'BookTop', got \"mark\""),
    (lambda md, i: dict(market_data=md, default_slippage_bps=1, overrides=[(i, None, None, 10001)]), ValueError,
     "slippage 10001 bps is out of range (must be <= 10 000 bps)"),
    (lambda md, i: dict(overrides=[(i, acct(1), AccountGroupId.from_int(2), None)]), ValueError,
     "spot funds override cannot target both an account and a group"),
    (lambda md, i: dict(overrides=None), TypeError,
     "argument 'overrides': 'NoneType' object cannot be converted to 'Sequence'"),
    (lambda md, i: dict(overrides="ab"), TypeError, "argument 'overrides': Can't extract `str` to `Vec`"),
    (lambda md, i: dict(overrides=[(i, None, None)]), ValueError, "expected tuple of length 4, but got tuple of length 3"),
    (lambda md, i: dict(overrides=[[i, None, None, None]]), TypeError,
     "argument 'overrides': 'list' object cannot be converted to 'PyTuple'"),
    (lambda md, i: dict(overrides=[(1, None, None, None)]), TypeError,
     "argument 'overrides': 'int' object cannot be converted to 'InstrumentId'"),
    (lambda md, i: dict(overrides=[(i, 1, None, None)]), TypeError,
     "argument 'overrides': 'int' object cannot be converted to 'AccountId'"),
    (lambda md, i: dict(overrides=[(i, None, 1, None)]), TypeError,
     "argument 'overrides': 'int' object cannot be converted to 'AccountGroupId'"),
    (lambda md, i: dict(overrides=[(i, None, None, 7.0)]), TypeError,
     "argument 'overrides': 'float' object cannot be interpreted as an integer"),
    (lambda md, i: dict(market_data=1), TypeError,
     "argument 'market_data': 'int' object cannot be converted to 'MarketDataService'"),
    (lambda md, i: dict(pricing_source=1), TypeError,
     "argument 'pricing_source': 'int' object cannot be converted to 'PyString'"),
    (lambda md, i: dict(policy_group_id="1"), TypeError, "argument 'policy_group_id': "),
    # Conversions run in declaration order, then each override's target.
    (lambda md, i: dict(market_data=1, default_slippage_bps=-1), TypeError, "argument 'market_data'"),
    (lambda md, i: dict(default_slippage_bps=-1, pricing_source=1), OverflowError, "out of range"),
    (lambda md, i: dict(pricing_source=1, overrides=[(i, acct(1), AccountGroupId.from_int(2), None)]), TypeError,
     "argument 'pricing_source'"),
    (lambda md, i: dict(overrides=[(i, acct(1), AccountGroupId.from_int(2), None), (1, None, None, None)]), TypeError,
     "argument 'overrides'"),
])
def test_configuration_errors(make, error, text):
    md, iid = market()
    with pytest.raises(error) as info:
        _configure(make(md, iid))
    assert str(info.value).startswith(text)


class _ClaimsToBeLong:
    def __init__(self, length):
        self.length = length

    def __len__(self):
        return self.length

    def __getitem__(self, index):
        raise IndexError(index)


@pytest.mark.parametrize("length", [sys.maxsize, 2**40, 3])
def test_overrides_that_misreport_their_length_raise_their_own_error(length):
    with pytest.raises(IndexError):
        _configure(dict(overrides=_ClaimsToBeLong(length)))


def test_configuration_that_passes_without_market_data():
    md, iid = market()
    # Without market data, bps are neither range-tested nor kept.
    _configure(dict(default_slippage_bps=20000 % 65536, pricing_source="nonsense",
                    overrides=[(iid, None, None, 20000)])).build()
    _configure(dict(market_data=md, default_slippage_bps=10000, pricing_source="BookTop")).build()


@pytest.mark.parametrize("engine_sync, ok", [("no_sync", True), ("full_sync", False), ("account_sync", False)])
def test_market_data_without_locks(engine_sync, ok):
    md, _ = market(sync="no_sync")
    if ok:
        _configure(dict(market_data=md, default_slippage_bps=1), engine_sync).build()
        return
    with pytest.raises(ValueError) as info:
        _configure(dict(market_data=md, default_slippage_bps=1), engine_sync)
    assert str(info.value) == ("market data service is in no-sync mode but the engine is multi-threaded; call "
                               ".full_sync() on the market-data builder before .build()")


def test_spent_builder_checks_arguments_first():
    md, iid = market()
    ready = Engine.builder().full_sync().builtin(SpotFundsPolicy())
    ready.build()
    with pytest.raises(ValueError, match="cannot target both"):
        ready._add_builtin_spot_funds(overrides=[(iid, acct(1), AccountGroupId.from_int(2), None)])
    with pytest.raises(ValueError, match="^engine builder is no longer available$"):
        ready._add_builtin_spot_funds(market_data=md)
    # The package layer's class forwards its keywords and validates nothing itself.
    policy = SpotFundsPolicy(overrides=None)
    with pytest.raises(TypeError, match="argument 'overrides'"):
        Engine.builder().no_sync().builtin(policy)


# ---- pricing ----

def held_usd(engine, account):
    return slot(engine, account, "USD")[1]


def test_override_precedence():
    md, iid = market(mark="100")
    default_group = AccountGroupId.DEFAULT
    engine = funds_engine(market_data=md, default_slippage_bps=10, overrides=[
        (iid, acct(7), None, 50), (iid, None, AccountGroupId.from_int(3), 40), (iid, None, None, 30),
        (iid, None, None, None), (iid, None, default_group, 1)])
    engine.accounts().register_group([acct(7), acct(8)], AccountGroupId.from_int(3))
    expected = {7: D("100.5"), 8: D("100.4"), 9: D("100.3")}
    for account, price in expected.items():
        deposit(engine, account, "USD", 1000)
        result = engine.execute_pre_trade(order(account, qty=1))
        assert result.ok
        assert held_usd(engine, account) == price
        result.reservation.rollback()
    # Another instrument: the default.
    engine2 = funds_engine(market_data=md, default_slippage_bps=10, overrides=[(iid, None, None, 30)])
    md.push(md.register(Instrument("ETH", "USD")), Quote(mark=Price("100")))
    deposit(engine2, 1, "USD", 1000)
    kept = engine2.execute_pre_trade(order(1, qty=1, underlying="ETH"))
    assert kept.ok
    assert held_usd(engine2, 1) == D("100.1")


def test_full_slippage_doubles_buys_and_fails_sells():
    md, _ = market(mark="100")
    engine = funds_engine(market_data=md, default_slippage_bps=10000)
    deposit(engine, 1, "USD", 1000)
    deposit(engine, 1, "BTC", 10)
    kept = engine.execute_pre_trade(order(qty=1))
    assert kept.ok
    assert held_usd(engine, 1) == 200
    reject = only_reject(engine.execute_pre_trade(order(side=Side.SELL, vol=50)))
    assert (reject.reason, reject.code) == ("price calculation failed", "OrderValueCalculationFailed")
    # A sell by quantity does not need the price: it passes and locks nothing.
    result = engine.execute_pre_trade(order(side=Side.SELL, qty=2))
    assert result.ok and result.reservation.lock().entries() == []


def test_stale_quote_counts_as_missing():
    md, _ = market(ttl=QuoteTtl.within(datetime.timedelta(0)))
    engine = funds_engine(market_data=md, default_slippage_bps=0)
    deposit(engine, 1, "USD", 1000)
    reject = only_reject(engine.execute_pre_trade(order(qty=1)))
    assert (reject.reason, reject.code) == ("mark price unavailable", "MarkPriceUnavailable")


def test_book_top():
    md, _ = market(mark="100", bid="98")
    engine = funds_engine(market_data=md, default_slippage_bps=0, pricing_source="BookTop")
    deposit(engine, 1, "USD", 1000)
    assert only_reject(engine.execute_pre_trade(order(qty=1))).reason == "mark price unavailable"
    deposit(engine, 1, "BTC", 10)
    result = engine.execute_pre_trade(order(side=Side.SELL, vol=49))
    assert result.ok
    assert slot(engine, 1, "BTC")[1] == D("0.5")


def test_sell_by_quantity_at_market_values_the_order():
    md, _ = market(mark="2")
    engine = funds_engine(market_data=md, default_slippage_bps=0)
    deposit(engine, 1, "BTC", "79228162514264337593543950335")
    reject = only_reject(engine.execute_pre_trade(order(side=Side.SELL, qty="79228162514264337593543950335")))
    assert reject.reason == "order value calculation failed"


# ---- a trading day ----

def test_trading_day():
    engine = funds_engine(policy_group_id=5)
    deposit(engine, 1, "USD", 100)
    first = engine.execute_pre_trade(order(qty=4, price=10))
    assert first.ok and slot(engine, 1, "USD") == (60, 40, 0)
    assert str(first.reservation.lock()) == "Lock([(5, 10)])"
    lock = first.reservation.lock()
    first.reservation.commit()
    filled = engine.apply_execution_report(report(trade=("9", "3"), leaves="1", final=False, lock=lock))
    assert filled.account_blocks == []
    assert slot(engine, 1, "USD") == (63, 10, 0) and slot(engine, 1, "BTC") == (3, 0, 0)
    final = engine.apply_execution_report(report(leaves="1", final=True, lock=lock))
    assert slot(engine, 1, "USD") == (73, 0, 0)
    assert [str(o) for o in final.account_adjustments] == [
        'AccountAdjustmentOutcome(policy_group_id=5, entry=AccountOutcomeEntry(asset="USD", '
        'balance=Some("OutcomeAmount(delta=10, absolute=73)"), held=Some("OutcomeAmount(delta=-10, absolute=0)"), '
        'incoming=None))']
    # Dropped without finalising: rolled back.
    dropped = engine.execute_pre_trade(order(qty=1, price=73))
    assert slot(engine, 1, "USD") == (0, 73, 0)
    del dropped
    assert slot(engine, 1, "USD") == (73, 0, 0)


def test_batches_are_all_or_nothing():
    engine = funds_engine()
    deposit(engine, 1, "USD", 20)
    position = AccountAdjustment(operation=AccountAdjustmentPositionOperation(underlying_asset="BTC"))
    result = engine.apply_account_adjustment(acct(1), [adjustment("USD", balance=5), adjustment("EUR", balance=1),
                                                        position])
    assert (result.ok, result.failed_index) == (False, 2)
    assert result.rejects[0].reason == "failed to access required field 'balance asset'"
    assert result.rejects[0].scope == "account"
    assert slot(engine, 1, "USD") == (20, 0, 0) and slot(engine, 1, "EUR") == (0, 0, 0)
    refused = engine.apply_account_adjustment(
        acct(1), [adjustment("USD", balance=-50, bounds=bounds(balance_lower=0))])
    assert refused.rejects[0].details == "account 1, asset USD: balance -30, lower Some(PositionSize(0)), upper None"
    assert refused.rejects[0].code == "AccountAdjustmentBoundsExceeded"
    # A value with more places than a decimal shows is rounded away from the bound it breached.
    deposit(engine, 2, "USD", 5)
    engine.execute_pre_trade(order(2, qty="0.000000000000000001", price="0.000000000000000001")).reservation.commit()
    above = engine.apply_account_adjustment(
        acct(2), [adjustment("USD", balance=1, bounds=bounds(balance_upper="5.9999999999999999999999999999"))])
    assert above.rejects[0].details == ("account 2, asset USD: balance 6.0000000000000000000000000000, lower None, "
                                        "upper Some(PositionSize(5.9999999999999999999999999999))")
    below = engine.apply_account_adjustment(acct(2), [adjustment("USD", balance=-4, bounds=bounds(balance_lower=1))])
    assert below.rejects[0].details == ("account 2, asset USD: balance 0.9999999999999999999999999999, "
                                        "lower Some(PositionSize(1)), upper None")


def test_negative_held_is_settled_and_restored():
    engine = funds_engine()
    engine.apply_account_adjustment(acct(1), [adjustment("USD", balance=25, held=-20, absolute=True)])
    first = engine.execute_pre_trade(order(vol=5, price=1))
    assert first.ok and slot(engine, 1, "USD") == (0, 5, 0)
    assert only_reject(engine.execute_pre_trade(order(vol=5, price=1))).details == (
        "account 1, asset USD: available 0, requested 5")
    first.reservation.rollback()
    assert slot(engine, 1, "USD") == (25, -20, 0)


def test_market_orders_while_a_feed_pushes():
    md, iid = market(mark="100")
    engine = funds_engine(market_data=md, default_slippage_bps=25)
    for account in range(4):
        deposit(engine, account, "USD", 10**9)
    stop = threading.Event()
    errors = []

    def feed():
        n = 0
        while not stop.is_set():
            n += 1
            md.push(iid, Quote(mark=Price(100 + n % 7), bid=Price(99), ask=Price(101)))

    def trader(account):
        try:
            for _ in range(300):
                result = engine.start_pre_trade(order(account, qty=1)).request.execute()
                assert result.ok, result.rejects
                result.reservation.rollback()
        except BaseException as exc:  # noqa: BLE001 - reported below
            errors.append(exc)

    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    faulthandler.dump_traceback_later(60, exit=True)
    try:
        pusher = threading.Thread(target=feed)
        traders = [threading.Thread(target=trader, args=(a,)) for a in range(4)]
        pusher.start()
        for t in traders:
            t.start()
        for t in traders:
            t.join()
        stop.set()
        pusher.join()
    finally:
        faulthandler.cancel_dump_traceback_later()
        sys.setswitchinterval(old)
    assert errors == []
    for account in range(4):
        assert slot(engine, account, "USD") == (10**9, 0, 0)


def test_duplicate_final_report_makes_nothing_spendable():
    engine = funds_engine()
    deposit(engine, 1, "USD", 20)
    placed = engine.execute_pre_trade(order(qty=2, price=10))
    lock = placed.reservation.lock()
    placed.reservation.commit()
    done = report(trade=("10", "2"), leaves="0", final=True, lock=lock)
    engine.apply_execution_report(done)
    assert slot(engine, 1, "USD") == (0, 0, 0)
    # A host error: the same report twice. The debt stays in held.
    engine.apply_execution_report(done)
    assert slot(engine, 1, "USD") == (0, -20, 0)
    assert only_reject(engine.execute_pre_trade(order(vol=5, price=1))).details == (
        "account 1, asset USD: available -20, requested 5")
    deposit(engine, 1, "USD", 25)
    kept = engine.execute_pre_trade(order(vol=5, price=1))
    assert kept.ok and slot(engine, 1, "USD") == (0, 5, 0)


class _Spender(NoOpPolicy):
    """On the batch's second item, spends the first item's deposit, then refuses."""

    name = "Spender"

    def __init__(self):
        self.engine = None
        self.calls = 0
        self.kept = None

    def apply_account_adjustment(self, ctx, account_id, adjustment_):
        self.calls += 1
        if self.calls != 2:
            return None
        self.kept = self.engine.execute_pre_trade(order(qty=2, price=10))
        assert self.kept.ok
        self.kept.reservation.commit()
        return [types.SimpleNamespace(code="Other", reason="no", details="", scope="order")]


def test_rolled_back_deposit_that_was_already_held():
    spender = _Spender()
    engine = Engine.builder().full_sync().builtin(SpotFundsPolicy()).pre_trade(spender).build()
    spender.engine = engine
    result = engine.apply_account_adjustment(acct(1), [adjustment("USD", balance=20), adjustment("EUR", balance=1)])
    assert (result.ok, result.failed_index) == (False, 1)
    # The undo completes: available goes below zero, and nothing is blocked.
    assert slot(engine, 1, "USD") == (-20, 20, 0)
    assert only_reject(engine.execute_pre_trade(order(qty=1, price=1))).reason == "spot funds insufficient"


class _NestedSetter(NoOpPolicy):
    """Commits a nested batch from its adjustment hook, then refuses the outer one."""

    name = "NestedSetter"

    def __init__(self, incoming):
        self.engine = None
        self.incoming = incoming
        self.nesting = False
        self.nested = None

    def apply_account_adjustment(self, ctx, account_id, adjustment_):
        if self.nesting:
            return None  # the nested batch itself passes
        self.nesting = True
        # Through zero: no single delta from the outer value to the new one fits 96 bits.
        self.nested = self.engine.apply_account_adjustment(
            account_id, [adjustment("USD", incoming=0, absolute=True),
                         adjustment("USD", incoming=self.incoming, absolute=True)])
        return [types.SimpleNamespace(code="Other", reason="no", details="", scope="account")]


@pytest.mark.parametrize("sync", ["no_sync", "account_sync", "full_sync"])
def test_undo_of_incoming_never_rounds(sync):
    setter = _NestedSetter("7.5000000000000000000000000001")
    engine = getattr(Engine.builder(), sync)().builtin(SpotFundsPolicy()).pre_trade(setter).build()
    setter.engine = engine
    result = engine.apply_account_adjustment(acct(1), [adjustment("USD", incoming="-0.5")])
    assert setter.nested.ok
    assert (result.ok, result.failed_index) == (False, 0)
    # Taking -0.5 back gives 8.0000000000000000000000000001, exactly: read rounded down, and
    # 8 to the digit once the last unit goes. Nothing blocks.
    assert slot(engine, 1, "USD") == (0, 0, Decimal("8.000000000000000000000000000"))
    deposit_result = engine.apply_account_adjustment(
        acct(1), [adjustment("USD", incoming="-0.0000000000000000000000000001")])
    assert deposit_result.ok
    assert Decimal(str(deposit_result.outcomes[0].entry.incoming.absolute)) == 8
    assert engine.execute_pre_trade(order(qty=1, price=0)).ok
