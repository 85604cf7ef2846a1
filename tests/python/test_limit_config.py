"""The limit policies' configuration: conversion order and the exact errors."""

from __future__ import annotations

import pytest

import vantrel
from limit_kit import Barrier
from vantrel.param import AccountId
from vantrel.pretrade.policies import (
    OrderSizeLimit,
    OrderSizeLimitPolicy,
    PnlBoundsKillSwitchPolicy,
    RateLimitPolicy,
)

LIMIT = OrderSizeLimit(max_quantity="10", max_notional="100")
SPENT = object()


def ready(spent=False):
    builder = vantrel.Engine.builder().full_sync().builtin(vantrel.pretrade.policies.OrderValidationPolicy())
    if spent:
        builder.build()
    return builder


def raises(call, exc, text):
    with pytest.raises(exc) as info:
        call()
    assert type(info.value) is exc or issubclass(type(info.value), exc)
    assert str(info.value) == text


def test_order_size_limit_record():
    raises(lambda: OrderSizeLimit(max_quantity=None, max_notional=1), ValueError,
           "Quantity must be a Decimal, str, int, or float")
    raises(lambda: OrderSizeLimit(max_quantity=1, max_notional=[]), ValueError,
           "Volume must be a Decimal, str, int, or float")
    raises(lambda: OrderSizeLimit(max_quantity=vantrel.param.Price(1), max_notional=1), TypeError,
           "Quantity must be a Decimal, str, int, or float")
    raises(lambda: OrderSizeLimit(max_quantity="-1", max_notional=1), vantrel.ParamError,
           "value must be non-negative for Quantity")
    with pytest.raises(TypeError):
        OrderSizeLimit(1, 2)
    with pytest.raises(TypeError):
        OrderSizeLimit(max_quantity=1)


SIZE_ERRORS = [
    ({}, ValueError, "at least one broker, asset, or account+asset barrier must be configured"),
    ({"policy_group_id": 70000, "broker": 5}, OverflowError, "out of range integral type conversion attempted"),
    ({"broker": 5, "asset_barriers": "USD"}, TypeError,
     "argument 'broker': 'int' object cannot be converted to 'OrderSizeLimit'"),
    ({"asset_barriers": "USD"}, TypeError, "argument 'asset_barriers': 'str' object cannot be converted to 'Sequence'"),
    ({"asset_barriers": 5}, TypeError, "argument 'asset_barriers': 'int' object cannot be converted to 'Sequence'"),
    ({"asset_barriers": [[LIMIT, "USD"]]}, TypeError,
     "argument 'asset_barriers': 'list' object cannot be converted to 'PyTuple'"),
    ({"asset_barriers": [(LIMIT,)]}, ValueError, "expected tuple of length 2, but got tuple of length 1"),
    ({"asset_barriers": [("USD", LIMIT)]}, TypeError,
     "argument 'asset_barriers': 'str' object cannot be converted to 'OrderSizeLimit'"),
    ({"asset_barriers": [(LIMIT, 5)]}, TypeError,
     "argument 'asset_barriers': 'int' object cannot be converted to 'PyString'"),
    ({"asset_barriers": [(LIMIT, " \t")], "account_asset_barriers": 5}, ValueError, "asset must not be empty"),
    ({"account_asset_barriers": [(LIMIT, 1, "USD", 2)]}, ValueError,
     "expected tuple of length 3, but got tuple of length 4"),
    ({"account_asset_barriers": [(LIMIT, 1.0, "USD")]}, TypeError,
     "argument 'account_asset_barriers': 'float' object cannot be interpreted as an integer"),
    ({"account_asset_barriers": [(LIMIT, AccountId.from_int(1), "USD")]}, TypeError,
     "argument 'account_asset_barriers': 'vantrel.param.AccountId' object cannot be interpreted as an integer"),
    ({"account_asset_barriers": [(LIMIT, 7, "")]}, ValueError, "asset must not be empty"),
]


@pytest.mark.parametrize("kwargs, exc, text", SIZE_ERRORS)
def test_order_size_limit_errors(kwargs, exc, text):
    builder = ready()
    raises(lambda: builder._add_builtin_order_size_limit(**kwargs), exc, text)
    # Nothing was appended: the builder still builds with its one policy.
    builder.build()


def test_order_size_limit_account_ids_out_of_range_overflow():
    for account in (-1, 2**64):
        with pytest.raises(OverflowError):
            ready()._add_builtin_order_size_limit(account_asset_barriers=[(LIMIT, account, "USD")])
    ready()._add_builtin_order_size_limit(account_asset_barriers=[(LIMIT, True, "USD"), (LIMIT, 2**64 - 1, "X")])


def test_order_size_limit_spent_and_keyword_only():
    raises(lambda: ready(spent=True)._add_builtin_order_size_limit(broker=LIMIT), ValueError,
           "engine builder is no longer available")
    with pytest.raises(TypeError):
        ready()._add_builtin_order_size_limit(LIMIT)
    builder = ready()
    assert builder._add_builtin_order_size_limit(broker=LIMIT) is builder


RATE_ERRORS = [
    ({}, ValueError, "at least one broker, asset, account, or account+asset barrier must be configured"),
    ({"broker": (10, 0)}, ValueError, "rate limit window must be positive and fit in u64 nanoseconds, got 0ns"),
    ({"asset_barriers": [("  ", 1, 0)]}, ValueError, "asset must not be empty"),
    ({"broker": (1, 0), "account_asset_barriers": [(1, "", 1, 1)]}, ValueError, "asset must not be empty"),
    ({"account_barriers": [(3, 1, 0)]}, ValueError,
     "rate limit window must be positive and fit in u64 nanoseconds, got 0ns"),
    ({"broker": (1,)}, ValueError, "expected tuple of length 2, but got tuple of length 1"),
    ({"broker": [1, 2]}, TypeError, "argument 'broker': 'list' object cannot be converted to 'PyTuple'"),
    ({"asset_barriers": [("USD", 1)]}, ValueError, "expected tuple of length 3, but got tuple of length 2"),
    ({"account_barriers": [(1, 2)]}, ValueError, "expected tuple of length 3, but got tuple of length 2"),
    ({"account_asset_barriers": [(1, "USD", 1)]}, ValueError, "expected tuple of length 4, but got tuple of length 3"),
    ({"asset_barriers": [(5, 1, 1)]}, TypeError, "argument 'asset_barriers': 'int' object cannot be converted to 'PyString'"),
    ({"broker": (1.5, 1)}, TypeError, "argument 'broker': 'float' object cannot be interpreted as an integer"),
    ({"account_barriers": "abc"}, TypeError,
     "argument 'account_barriers': 'str' object cannot be converted to 'Sequence'"),
    # Arguments are read in signature order, before any check of their values.
    ({"broker": (1, 0), "account_barriers": [(1, 2)]}, ValueError,
     "expected tuple of length 3, but got tuple of length 2"),
]


@pytest.mark.parametrize("kwargs, exc, text", RATE_ERRORS)
def test_rate_limit_errors(kwargs, exc, text):
    builder = ready()
    raises(lambda: builder._add_builtin_rate_limit(**kwargs), exc, text)
    builder.build()


@pytest.mark.parametrize("value", [-1, 2**64])
def test_rate_limit_integers_overflow(value):
    with pytest.raises(OverflowError):
        ready()._add_builtin_rate_limit(broker=(value, 1))
    with pytest.raises(OverflowError):
        ready()._add_builtin_rate_limit(account_barriers=[(value, 1, 1)])


def test_rate_limit_spent_check_comes_after_reading_before_checking():
    raises(lambda: ready(spent=True)._add_builtin_rate_limit(), ValueError, "engine builder is no longer available")
    raises(lambda: ready(spent=True)._add_builtin_rate_limit(asset_barriers=[(" ", 1, 0)]), ValueError,
           "engine builder is no longer available")
    raises(lambda: ready(spent=True)._add_builtin_rate_limit(broker=(1, 2, 3)), ValueError,
           "expected tuple of length 2, but got tuple of length 3")
    ready()._add_builtin_rate_limit(broker=(2**64 - 1, 2**64 - 1)).build()


def bound(**kw):
    base = {"settlement_asset": "USD", "lower_bound": "-1", "upper_bound": None}
    base.update(kw)
    return Barrier(**{k: v for k, v in base.items() if v is not ...})


def account(**kw):
    base = {"account_id": AccountId.from_int(7), "initial_pnl": "0"}
    base.update(kw)
    return bound(**base)


PNL_ERRORS = [
    ({}, ValueError, "at least one broker or account+asset barrier must be configured"),
    ({"broker_barriers": [bound(lower_bound=None)]}, ValueError,
     "at least one of lower_bound or upper_bound must be configured for settlement asset USD"),
    ({"broker_barriers": [bound(settlement_asset=" EUR ", lower_bound=..., upper_bound=None)]}, ValueError,
     "at least one of lower_bound or upper_bound must be configured for settlement asset  EUR "),
    ({"broker_barriers": [bound(settlement_asset=...)]}, AttributeError, None),
    ({"broker_barriers": [bound(lower_bound=[])]}, ValueError, "Pnl must be a Decimal, str, int, or float"),
    ({"broker_barriers": [bound(upper_bound=vantrel.param.Fee(1))]}, TypeError,
     "Pnl must be a Decimal, str, int, or float"),
    # The asset is converted after both bounds.
    ({"broker_barriers": [bound(settlement_asset=5, lower_bound=[])]}, ValueError,
     "Pnl must be a Decimal, str, int, or float"),
    ({"broker_barriers": [bound(settlement_asset=5)]}, TypeError, "asset must be a str"),
    ({"broker_barriers": [bound(settlement_asset="\n")]}, ValueError, "asset must not be empty"),
    ({"broker_barriers": "USD"}, TypeError, "argument 'broker_barriers': 'str' object cannot be converted to 'Sequence'"),
    ({"account_barriers": [account(account_id=7)]}, TypeError, "account_id must be vantrel.param.AccountId"),
    ({"account_barriers": [account(account_id=7, settlement_asset=5)]}, TypeError, "asset must be a str"),
    ({"account_barriers": [account(initial_pnl=None)]}, ValueError, "Pnl must be a Decimal, str, int, or float"),
    ({"account_barriers": [account(initial_pnl=...)]}, AttributeError, None),
    # A missing account_id wins over the missing bounds.
    ({"account_barriers": [account(account_id=..., lower_bound=None)]}, AttributeError, None),
    ({"broker_barriers": [bound(lower_bound=None)], "account_barriers": [account(account_id=...)]},
     AttributeError, None),
    ({"account_barriers": [account(lower_bound=None)], "broker_barriers": [bound(), bound(settlement_asset="X",
                                                                                        lower_bound=None)]},
     ValueError, "at least one of lower_bound or upper_bound must be configured for settlement asset X"),
]


@pytest.mark.parametrize("kwargs, exc, text", PNL_ERRORS)
def test_pnl_killswitch_errors(kwargs, exc, text):
    builder = ready()
    with pytest.raises(exc) as info:
        builder._add_builtin_pnl_bounds_killswitch(**kwargs)
    if text is not None:
        assert str(info.value) == text
    builder.build()


def test_pnl_killswitch_spent_check_precedes_barrier_reading():
    raises(lambda: ready(spent=True)._add_builtin_pnl_bounds_killswitch(broker_barriers=[object()]), ValueError,
           "engine builder is no longer available")
    raises(lambda: ready(spent=True)._add_builtin_pnl_bounds_killswitch(broker_barriers=5), TypeError,
           "argument 'broker_barriers': 'int' object cannot be converted to 'Sequence'")


def test_pnl_killswitch_missing_bound_attribute_is_absent():
    barrier = Barrier(settlement_asset="USD", upper_bound=500)
    ready()._add_builtin_pnl_bounds_killswitch(broker_barriers=[barrier]).build()


def test_pnl_attribute_errors_other_than_missing_propagate():
    class Exploding:
        settlement_asset = "USD"

        @property
        def lower_bound(self):
            raise KeyError("boom")

    with pytest.raises(KeyError):
        ready()._add_builtin_pnl_bounds_killswitch(broker_barriers=[Exploding()])


@pytest.mark.parametrize("make", [
    lambda: OrderSizeLimitPolicy(asset_barriers="USD"),
    lambda: RateLimitPolicy(asset_barriers="USD"),
    lambda: PnlBoundsKillSwitchPolicy(broker_barriers="USD"),
])
def test_package_builders_keep_arguments_as_given(make):
    policy = make()
    with pytest.raises(TypeError, match="argument 'broker_barriers'|argument 'asset_barriers'"):
        vantrel.Engine.builder().no_sync().builtin(policy)


def test_package_builders_are_keyword_only():
    for cls in (OrderSizeLimitPolicy, RateLimitPolicy, PnlBoundsKillSwitchPolicy):
        with pytest.raises(TypeError):
            cls(0)


def test_size_limit_spent_check_is_the_append():
    # The size limit checks its own settings first; only appending finds the builder spent.
    raises(lambda: ready(spent=True)._add_builtin_order_size_limit(), ValueError,
           "at least one broker, asset, or account+asset barrier must be configured")


@pytest.mark.parametrize("name, signature", [
    ("_add_builtin_order_size_limit",
     "($self, *, policy_group_id=0, broker=None, asset_barriers=(), account_asset_barriers=())"),
    ("_add_builtin_rate_limit",
     "($self, *, policy_group_id=0, broker=None, asset_barriers=..., account_barriers=..., "
     "account_asset_barriers=...)"),
    ("_add_builtin_pnl_bounds_killswitch", "($self, *, policy_group_id=0, broker_barriers=..., account_barriers=...)"),
])
def test_adder_signatures(name, signature):
    assert getattr(vantrel.ReadyEngineBuilder, name).__text_signature__ == signature
