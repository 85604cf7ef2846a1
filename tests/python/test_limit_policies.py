"""The limit policies at work inside an engine."""

from __future__ import annotations

import decimal
import faulthandler
import threading

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vantrel
from limit_kit import Barrier, engine_with, limit_order, only_reject, pnl_report, reject_fields
from vantrel.param import AccountId
from vantrel.pretrade.policies import (
    OrderSizeLimit,
    OrderSizeLimitPolicy,
    PnlBoundsKillSwitchPolicy,
    RateLimitPolicy,
)

MINUTE_NS = 60 * 10**9


def size_limit(q, n):
    return OrderSizeLimit(max_quantity=q, max_notional=n)


# ---- order size limit

def test_size_texts_keep_their_scales():
    engine = engine_with(OrderSizeLimitPolicy(broker=size_limit("10", "2")))
    reject = only_reject(engine.start_pre_trade(limit_order(quantity="1.50", price="2.0")))
    assert reject_fields(reject) == ("OrderNotionalExceedsLimit", "order notional exceeded",
                                     "requested 3.000, max allowed: 2", "OrderSizeLimitPolicy", "order", 0)


# The account and asset limit replaces the asset limit for its account, looser or stricter;
# only its breach has scope account.
@pytest.mark.parametrize("account_asset_max, asset_max, passes, refused, scope", [
    ("100", "10", 7, 8, "order"),
    ("10", "100", 8, 7, "account"),
])
def test_size_account_asset_limit_replaces_asset_limit(account_asset_max, asset_max, passes, refused, scope):
    engine = engine_with(OrderSizeLimitPolicy(asset_barriers=[(size_limit(asset_max, "1e9"), "USD")],
                                              account_asset_barriers=[(size_limit(account_asset_max, "1e9"), 7,
                                                                       "USD")]))
    assert engine.start_pre_trade(limit_order(passes, quantity="50")).ok
    reject = only_reject(engine.start_pre_trade(limit_order(refused, quantity="50")))
    assert (reject.code, reject.reason, reject.details, reject.scope) == (
        "OrderQtyExceedsLimit", "order quantity exceeded", "requested 50, max allowed: 10", scope)


def test_size_broker_limit_always_applies():
    engine = engine_with(OrderSizeLimitPolicy(broker=size_limit("10", "1e9"),
                                              account_asset_barriers=[(size_limit("1000", "1e9"), 7, "USD")]))
    reject = only_reject(engine.start_pre_trade(limit_order(7, quantity="50")))
    assert (reject.details, reject.scope) == ("requested 50, max allowed: 10", "order")
    assert engine.start_pre_trade(limit_order(7, quantity="5")).ok


def test_size_account_breach_blocks_with_a_copy():
    engine = engine_with(OrderSizeLimitPolicy(account_asset_barriers=[(size_limit("1", "1e9"), 7, "USD")]))
    first = only_reject(engine.start_pre_trade(limit_order(7, quantity="2", price="3")))
    assert (first.code, first.scope) == ("OrderQtyExceedsLimit", "account")
    later = only_reject(engine.start_pre_trade(limit_order(7, quantity="1")))
    assert reject_fields(later) == ("AccountBlocked", "order quantity exceeded", "requested 2, max allowed: 1",
                                    "OrderSizeLimitPolicy", "account", 0)


@pytest.mark.parametrize("max_q, price, at, above", [
    ("2", "1.5", "3.0", "3.1"),
    ("7", "-0.003", "0.021", "0.0210000000000000000000000001"),
    ("1000000", "12345.6789", "12345678900", "12345678900.0001"),
])
def test_size_volume_at_the_quantity_boundary(max_q, price, at, above):
    engine = engine_with(OrderSizeLimitPolicy(broker=size_limit(max_q, "1e20")))
    limit = decimal.Decimal(max_q) * abs(decimal.Decimal(price))
    assert decimal.Decimal(at) == limit and decimal.Decimal(above) > limit
    assert engine.start_pre_trade(limit_order(volume=at, price=price)).ok
    reject = only_reject(engine.start_pre_trade(limit_order(volume=above, price=price)))
    assert reject.code == "OrderQtyExceedsLimit"


digits = st.integers(min_value=1, max_value=10**9)
scales = st.integers(min_value=0, max_value=6)


@settings(max_examples=300, deadline=None)
@given(q=digits, qs=scales, p=digits, ps=scales, delta=st.integers(min_value=-3, max_value=3), vs=scales)
def test_size_volume_verdict_matches_decimal(q, qs, p, ps, delta, vs):
    max_q = decimal.Decimal(q).scaleb(-qs)
    price = decimal.Decimal(p).scaleb(-ps)
    volume = max_q * price + decimal.Decimal(delta).scaleb(-vs)
    if volume < 0:
        return
    engine = engine_with(OrderSizeLimitPolicy(broker=size_limit(str(max_q), "1e25")), sync="no_sync")
    result = engine.start_pre_trade(limit_order(volume=str(volume), price=str(price)))
    with decimal.localcontext(decimal.Context(prec=60)):
        exceeds = volume / price > max_q
    assert result.ok is (not exceeds)
    if exceeds:
        assert only_reject(result).code == "OrderQtyExceedsLimit"


def test_size_value_failures():
    engine = engine_with(OrderSizeLimitPolicy(asset_barriers=[(size_limit("10", "100"), "USD")]))
    cases = [
        (limit_order(price=None), "price not provided for evaluating cash flow/notional/volume"),
        (limit_order(volume="5", price="0"), "price or volume could not be used to evaluate order quantity"),
        (limit_order(quantity="1", price="-2"), "price or quantity could not be used to evaluate order notional"),
    ]
    for order, details in cases:
        reject = only_reject(engine.start_pre_trade(order))
        assert (reject.code, reject.reason, reject.details, reject.scope) == (
            "OrderValueCalculationFailed", "order value calculation failed", details, "order")
    assert engine.start_pre_trade(limit_order(settlement="EUR", price=None)).ok


# ---- rate limit

def test_rate_broker_window():
    engine = engine_with(RateLimitPolicy(broker=(2, MINUTE_NS)))
    assert engine.start_pre_trade(limit_order(1)).ok
    assert engine.start_pre_trade(limit_order(2)).ok
    reject = only_reject(engine.start_pre_trade(limit_order(3)))
    assert reject_fields(reject) == ("RateLimitExceeded", "rate limit exceeded: broker barrier",
                                     "submitted 3 orders in 60s window, max allowed: 2", "RateLimitPolicy", "order", 0)
    assert only_reject(engine.start_pre_trade(limit_order(3))).details.startswith("submitted 4 orders")


def test_rate_window_texts_use_the_micro_sign():
    engine = engine_with(RateLimitPolicy(asset_barriers=[("USD", 0, 1500)]))
    assert only_reject(engine.start_pre_trade(limit_order())).details == \
        "submitted 1 orders in 1.5\u00b5s window, max allowed: 0"


def test_rate_account_barrier_is_a_trip_wire():
    engine = engine_with(RateLimitPolicy(account_barriers=[(7, 1, MINUTE_NS)],
                                         account_asset_barriers=[(8, "USD", 0, MINUTE_NS)]))
    assert engine.start_pre_trade(limit_order(7)).ok
    first = only_reject(engine.start_pre_trade(limit_order(7)))
    assert (first.code, first.scope) == ("RateLimitExceeded", "account")
    for _ in range(2):
        later = only_reject(engine.start_pre_trade(limit_order(7)))
        assert reject_fields(later) == ("AccountBlocked", "rate limit exceeded: account barrier",
                                        "submitted 2 orders in 60s window, max allowed: 1", "RateLimitPolicy",
                                        "account", 0)
    other = only_reject(engine.start_pre_trade(limit_order(8)))
    assert other.reason == "rate limit exceeded: account+asset barrier"
    assert engine.start_pre_trade(limit_order(9)).ok


def test_rate_missing_fields_count_nothing():
    engine = engine_with(RateLimitPolicy(broker=(1, MINUTE_NS), account_barriers=[(7, 5, MINUTE_NS)]))
    reject = only_reject(engine.start_pre_trade(limit_order(None)))
    assert (reject.code, reject.details) == ("MissingRequiredField", "failed to access field 'operation.account_id'")
    assert engine.start_pre_trade(limit_order(7)).ok


def test_rate_broker_barrier_counts_orders_without_fields():
    engine = engine_with(RateLimitPolicy(broker=(1, MINUTE_NS)))
    assert engine.start_pre_trade(vantrel.core.Order()).ok
    assert only_reject(engine.start_pre_trade(vantrel.core.Order())).reason == "rate limit exceeded: broker barrier"


def test_one_rate_limit_object_builds_independent_engines():
    policy = RateLimitPolicy(broker=(1, MINUTE_NS))
    first, second = engine_with(policy), engine_with(policy)
    assert first.start_pre_trade(limit_order()).ok
    assert second.start_pre_trade(limit_order()).ok
    assert not first.start_pre_trade(limit_order()).ok


@pytest.mark.parametrize("sync", ["full_sync", "account_sync"])
def test_rate_broker_admits_exactly_max_across_threads(sync):
    limit = 300
    engine = engine_with(RateLimitPolicy(broker=(limit, 120 * 10**9)), sync=sync)
    admitted = []
    barrier = threading.Barrier(8)

    def worker(n):
        barrier.wait()
        ok = 0
        for i in range(100):
            ok += engine.start_pre_trade(limit_order(n * 1000 + i)).ok
        admitted.append(ok)

    faulthandler.dump_traceback_later(60, exit=True)
    try:
        threads = [threading.Thread(target=worker, args=(n,)) for n in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        faulthandler.cancel_dump_traceback_later()
    assert sum(admitted) == limit


# ---- P&L kill switch

def usd_floor(lower):
    return PnlBoundsKillSwitchPolicy(broker_barriers=[Barrier(settlement_asset="USD", lower_bound=lower)])


def test_pnl_reports_accumulate_and_block():
    engine = engine_with(usd_floor("-65"))
    assert engine.start_pre_trade(limit_order(7)).ok
    result = engine.apply_execution_report(pnl_report(7, pnl="-60.00", fee="10"))
    (block,) = result.account_blocks
    assert (block.code, block.reason, block.details, block.policy, block.user_data) == (
        "PnlKillSwitchTriggered", "pnl kill switch triggered", "realized pnl -70.00, settlement asset USD, account 7",
        "PnlBoundsKillSwitchPolicy", 0)
    later = only_reject(engine.start_pre_trade(limit_order(7)))
    assert (later.code, later.reason, later.scope) == ("PnlKillSwitchTriggered", "pnl kill switch triggered", "account")
    assert engine.start_pre_trade(limit_order(8)).ok


def test_pnl_initial_value_rejects_before_any_report():
    barrier = Barrier(account_id=AccountId.from_int(7), settlement_asset="USD", initial_pnl="-150",
                      lower_bound="-100", upper_bound=None)
    engine = engine_with(PnlBoundsKillSwitchPolicy(account_barriers=[barrier]))
    reject = only_reject(engine.start_pre_trade(limit_order(7)))
    assert reject_fields(reject) == (
        "PnlKillSwitchTriggered", "pnl kill switch triggered: account + asset barrier",
        "lower bound breached: realized pnl -150, lower_bound Some(Pnl(-100)), upper_bound None, "
        "settlement asset USD, account 7", "PnlBoundsKillSwitchPolicy", "account", 0)
    later = only_reject(engine.start_pre_trade(limit_order(7)))
    assert (later.code, later.reason) == ("AccountBlocked", "pnl kill switch triggered: account + asset barrier")


def test_pnl_report_without_account_refuses_every_account():
    engine = engine_with(usd_floor("-1"))
    (block,) = engine.apply_execution_report(pnl_report(None, settlement="EUR", pnl="1")).account_blocks
    assert block.reason == "failed to access required field 'account ID'"
    reject = only_reject(engine.start_pre_trade(limit_order(3, settlement="JPY")))
    assert (reject.reason, reject.code) == ("account is blocked due to kill-switch", "AccountBlocked")


def test_pnl_report_without_financial_impact_blocks_even_uncovered():
    engine = engine_with(usd_floor("-1"))
    (block,) = engine.apply_execution_report(pnl_report(5, settlement="JPY")).account_blocks
    assert (block.code, block.reason, block.details) == (
        "MissingRequiredField", "failed to access required field 'P&L'", "failed to access field 'financial_impact.pnl'")
    assert not engine.apply_execution_report(pnl_report(6, settlement="JPY", pnl="-1000")).account_blocks


def test_pnl_reports_across_threads_sum_exactly():
    engine = engine_with(usd_floor("-1"))
    lowest = []
    barrier = threading.Barrier(8)

    def worker():
        barrier.wait()
        for _ in range(1000):
            for block in engine.apply_execution_report(pnl_report(7, pnl="-0.01")).account_blocks:
                lowest.append(decimal.Decimal(block.details.split(",")[0].split()[-1]))

    faulthandler.dump_traceback_later(60, exit=True)
    try:
        threads = [threading.Thread(target=worker) for _ in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        faulthandler.cancel_dump_traceback_later()
    assert min(lowest) == decimal.Decimal("-80.00")
    assert str(min(lowest)) == "-80.00"


# ---- barriers for the same key

def _killswitch_account(initial, **bounds):
    return Barrier(account_id=AccountId.from_int(7), settlement_asset="USD", initial_pnl=initial, **bounds)


_PNL_TAIL = ", settlement asset USD, account 7"
_RATE_OVER = "submitted 2 orders in 60s window, max allowed: 1"


# A later barrier for a key replaces the earlier one whole (no merging of bounds or limits).
# Orders of quantity 5 and then 50 from account 7 in USD; None where the order passes.
@pytest.mark.parametrize("policy, details", [
    (OrderSizeLimitPolicy(asset_barriers=[(size_limit("1", "1e9"), "USD"), (size_limit("10", "1e9"), "USD")]),
     [None, "requested 50, max allowed: 10"]),
    (OrderSizeLimitPolicy(account_asset_barriers=[(size_limit("1", "1e9"), 7, "USD"),
                                                  (size_limit("10", "1e9"), 7, "USD")]),
     [None, "requested 50, max allowed: 10"]),
    (RateLimitPolicy(asset_barriers=[("USD", 0, MINUTE_NS), ("USD", 1, MINUTE_NS)]), [None, _RATE_OVER]),
    (RateLimitPolicy(account_barriers=[(7, 0, MINUTE_NS), (7, 1, MINUTE_NS)]), [None, _RATE_OVER]),
    (RateLimitPolicy(account_asset_barriers=[(7, "USD", 0, MINUTE_NS), (7, "USD", 1, MINUTE_NS)]),
     [None, _RATE_OVER]),
    (PnlBoundsKillSwitchPolicy(broker_barriers=[Barrier(settlement_asset="USD", lower_bound="1"),
                                                Barrier(settlement_asset="USD", upper_bound="-0.5")]),
     ["upper bound breached: realized pnl 0, lower_bound None, upper_bound Some(Pnl(-0.5))" + _PNL_TAIL] * 2),
    (PnlBoundsKillSwitchPolicy(account_barriers=[_killswitch_account("0", lower_bound="-1", upper_bound="1"),
                                                 _killswitch_account("-5", lower_bound="-1")]),
     ["lower bound breached: realized pnl -5, lower_bound Some(Pnl(-1)), upper_bound None" + _PNL_TAIL] * 2),
])
def test_later_barrier_for_the_same_key_wins(policy, details):
    engine = engine_with(policy)
    seen = []
    for quantity in ("5", "50"):
        result = engine.start_pre_trade(limit_order(7, quantity=quantity))
        seen.append(None if result.ok else only_reject(result).details)
    assert seen == details
