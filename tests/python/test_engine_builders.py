"""The builder chain: modes, registration, build checks and the built-in adder."""

import gc

import pytest

import vantrel
from vantrel.marketdata import QuoteTtl
from vantrel.pretrade.policies import OrderValidationPolicy

from engine_kit import SYNC_MODES, Scripted, build, order


@pytest.mark.parametrize(
    "cls",
    [vantrel.Engine, vantrel.EngineBuilder, vantrel.SyncedEngineBuilder, vantrel.ReadyEngineBuilder,
     vantrel.Accounts, vantrel.AccountControl, vantrel.AccountAdjustmentContext,
     vantrel.pretrade.Request, vantrel.pretrade.Reservation, vantrel.pretrade.Context,
     vantrel.pretrade.PostTradeContext],
)
def test_no_constructor(cls):
    with pytest.raises(TypeError, match=f"^No constructor defined for {cls.__name__}$"):
        cls()


def test_docstrings_are_the_systems_own():
    assert vantrel.Accounts.__doc__.startswith("Handle to the engine's account-group registry.\n\nObtained from")
    assert "request it\nbelongs to \u2014 from the callback" in vantrel.AccountControl.__doc__


@pytest.mark.parametrize("sync", SYNC_MODES)
def test_chain_yields_each_builder_kind(sync):
    synced = getattr(vantrel.Engine.builder(), sync)()
    assert type(synced) is vantrel.SyncedEngineBuilder
    ready = synced.pre_trade(Scripted())
    assert type(ready) is vantrel.ReadyEngineBuilder
    assert ready.pre_trade(Scripted("other")) is ready
    assert type(ready.build()) is vantrel.Engine


def test_build_errors_and_their_order():
    ready = vantrel.Engine.builder().full_sync().builtin(type("Nothing", (), {"_build": lambda self, r: None})())
    with pytest.raises(ValueError, match="^no policies registered$"):
        ready.build()
    # Spent even though the build failed: the first error is not repeated.
    with pytest.raises(ValueError, match="^engine builder is no longer available$"):
        ready.build()
    with pytest.raises(ValueError, match="^engine builder is no longer available$"):
        ready.pre_trade(Scripted())
    with pytest.raises(ValueError, match="^engine builder is no longer available$"):
        ready._add_builtin_order_validation()


@pytest.mark.parametrize(
    "policies, error",
    [
        ([("a", 0), ("b", 0)], None),
        ([("a", 7), ("b", 7)], "duplicate non-default policy_group_id: 7"),
        ([("a", 3), ("b", 3), ("a", 0)], "duplicate policy name in engine configuration: a"),
    ],
)
def test_duplicate_checks(policies, error):
    ready = vantrel.Engine.builder().no_sync()
    for name, group in policies:
        ready = ready.pre_trade(Scripted(name, group=group))
    if error is None:
        ready.build()
    else:
        with pytest.raises(ValueError, match=f"^{error}$"):
            ready.build()


def test_builtin_and_python_names_collide():
    ready = vantrel.Engine.builder().full_sync().builtin(OrderValidationPolicy())
    ready.pre_trade(Scripted("OrderValidationPolicy"))
    with pytest.raises(ValueError, match="duplicate policy name in engine configuration: OrderValidationPolicy"):
        ready.build()


def test_one_synced_builder_makes_independent_engines():
    synced = vantrel.Engine.builder().full_sync()
    one = synced.pre_trade(Scripted()).build()
    two = synced.pre_trade(Scripted()).build()
    one.accounts().register_group([vantrel.param.AccountId.from_int(1)], 5)
    assert two.accounts().group_of(vantrel.param.AccountId.from_int(1)) is None


def test_builtin_hands_the_ready_builder_and_ignores_the_result():
    seen = []

    class Builder:
        def _build(self, ready):
            seen.append(ready)
            ready._add_builtin_order_validation(policy_group_id=4)
            return "ignored"

    synced = vantrel.Engine.builder().account_sync()
    ready = synced.builtin(Builder())
    assert seen == [ready]
    assert ready.builtin(Builder()) is ready
    assert seen[1] is ready
    with pytest.raises(ValueError, match="duplicate policy name"):
        ready.build()


def test_build_inside_build_hook_spends_the_builder():
    class Builder:
        def _build(self, ready):
            ready._add_builtin_order_validation()
            self.engine = ready.build()

    b = Builder()
    ready = vantrel.Engine.builder().full_sync().builtin(b)
    assert type(b.engine) is vantrel.Engine
    with pytest.raises(ValueError, match="engine builder is no longer available"):
        ready.build()


def test_build_hook_errors_propagate():
    class Broken:
        def _build(self, ready):
            raise KeyError("boom")

    with pytest.raises(KeyError, match="boom"):
        vantrel.Engine.builder().full_sync().builtin(Broken())
    with pytest.raises(AttributeError):
        vantrel.Engine.builder().full_sync().builtin(object())


@pytest.mark.parametrize(
    "value, exc, text",
    [
        (65536, OverflowError, "^out of range integral type conversion attempted$"),
        (-1, OverflowError, "^out of range integral type conversion attempted$"),
        ("7", TypeError, "^argument 'policy_group_id': "),
        (7.0, TypeError, "^argument 'policy_group_id': "),
        (None, TypeError, "^argument 'policy_group_id': "),
    ],
)
def test_order_validation_group_id_conversion(value, exc, text):
    ready = vantrel.Engine.builder().full_sync().pre_trade(Scripted())
    with pytest.raises(exc, match=text):
        ready._add_builtin_order_validation(policy_group_id=value)


def test_order_validation_adder_is_keyword_only():
    ready = vantrel.Engine.builder().full_sync().pre_trade(Scripted())
    with pytest.raises(TypeError):
        ready._add_builtin_order_validation(3)
    assert ready._add_builtin_order_validation(policy_group_id=True) is ready


def test_package_builder_surfaces_errors_at_builtin():
    assert repr(OrderValidationPolicy(policy_group_id=3)) == "OrderValidationPolicy(policy_group_id=3)"
    with pytest.raises(TypeError):
        OrderValidationPolicy(3)
    with pytest.raises(OverflowError):
        vantrel.Engine.builder().full_sync().builtin(OrderValidationPolicy(policy_group_id=70000))


@pytest.mark.parametrize("sync", SYNC_MODES)
def test_market_data_builder_works_before_and_after_build(sync):
    synced = getattr(vantrel.Engine.builder(), sync)()
    assert type(synced.market_data(QuoteTtl.infinite())) is vantrel.marketdata.MarketDataBuilder
    ready = synced.pre_trade(Scripted())
    ready.build()
    assert type(ready.market_data(QuoteTtl.infinite()).build()) is vantrel.marketdata.MarketDataService
    with pytest.raises(TypeError):
        synced.market_data(5)


def test_validation_end_to_end():
    engine = build(validation=True)
    assert engine.execute_pre_trade(order(quantity="2")).ok
    result = engine.execute_pre_trade(order(quantity="0.00"))
    assert not result.ok
    (reject,) = result.rejects
    assert (reject.code, reject.reason, reject.details, reject.policy, reject.scope, reject.user_data) == (
        "InvalidFieldValue", "order quantity must be non-zero", "requested quantity 0 is not allowed",
        "OrderValidationPolicy", "order", 0)
    (reject,) = engine.execute_pre_trade(order(volume="0")).rejects
    assert reject.reason == "order volume must be non-zero"
    (reject,) = engine.execute_pre_trade(vantrel.core.Order()).rejects
    assert (reject.code, reject.reason, reject.details) == (
        "MissingRequiredField", "failed to access required field 'trade amount'",
        "failed to access field 'operation.trade_amount'")
    with pytest.raises(vantrel.ParamError):
        vantrel.param.Quantity("-0.5")
    del engine
    gc.collect()
