"""vantrel.core.AccountAdjustment and its records: constructors, properties, copies, representations."""

import pytest

from vantrel.core import (
    AccountAdjustment,
    AccountAdjustmentAmount,
    AccountAdjustmentBalanceOperation,
    AccountAdjustmentBounds,
    AccountAdjustmentPositionOperation,
)
from vantrel.param import AdjustmentAmount, Leverage, PositionMode, PositionSize, Price

BOUNDS = ["balance_upper", "balance_lower", "held_upper", "held_lower", "incoming_upper", "incoming_lower"]
NOT_OPERATION = ("operation must be vantrel.core.AccountAdjustmentBalanceOperation or "
                 "vantrel.core.AccountAdjustmentPositionOperation")


def raises(kind, text, call):
    with pytest.raises(Exception) as info:
        call()
    if isinstance(kind, str):
        assert type(info.value).__name__ == kind
    else:
        assert type(info.value) is kind
    assert str(info.value) == text


REPRS = [
    (AccountAdjustment(), "AccountAdjustment(operation=None, amount=None, bounds=None)"),
    (AccountAdjustmentBounds(balance_lower=0),
     'AccountAdjustmentBounds(balance_upper=None, balance_lower=Some("0"), held_upper=None, held_lower=None, '
     "incoming_upper=None, incoming_lower=None)"),
    (AccountAdjustmentBalanceOperation(asset="USD", average_entry_price="1.50"),
     'AccountAdjustmentBalanceOperation(asset=Some("USD"), average_entry_price=Some("1.50"))'),
    (AccountAdjustmentPositionOperation(leverage=1, mode="hedged"),
     "AccountAdjustmentPositionOperation(underlying_asset=None, settlement_asset=None, collateral_asset=None, "
     "average_entry_price=None, mode=Some(PositionMode.HEDGED), leverage=Some(1.0))"),
    (AccountAdjustmentPositionOperation(underlying_asset="BTC", collateral_asset="U\\SD", leverage=2.5,
                                        mode=PositionMode.NETTING),
     'AccountAdjustmentPositionOperation(underlying_asset=Some("BTC"), settlement_asset=None, '
     'collateral_asset=Some("U\\\\SD"), average_entry_price=None, mode=Some(PositionMode.NETTING), '
     "leverage=Some(2.5))"),
    (AccountAdjustmentAmount(balance=AdjustmentAmount.delta("-3"), incoming=AdjustmentAmount.absolute(0)),
     'AccountAdjustmentAmount(balance=Some("AdjustmentAmount.delta(value=PositionSize(-3))"), held=None, '
     'incoming=Some("AdjustmentAmount.absolute(value=PositionSize(0))"))'),
    (AccountAdjustment(operation=AccountAdjustmentBalanceOperation(asset="BTC"), bounds=AccountAdjustmentBounds()),
     'AccountAdjustment(operation=Some("AccountAdjustmentBalanceOperation(asset=Some(\\"BTC\\"), '
     'average_entry_price=None)"), amount=None, bounds=Some("AccountAdjustmentBounds(balance_upper=None, '
     'balance_lower=None, held_upper=None, held_lower=None, incoming_upper=None, incoming_lower=None)"))'),
    (AccountAdjustment(amount=AccountAdjustmentAmount(held=AdjustmentAmount.delta(1))),
     'AccountAdjustment(operation=None, amount=Some("AccountAdjustmentAmount(balance=None, '
     'held=Some(\\"AdjustmentAmount.delta(value=PositionSize(1))\\"), incoming=None)"), bounds=None)'),
]


@pytest.mark.parametrize("record, text", REPRS)
def test_representation(record, text):
    assert repr(record) == text


def test_mode_prints_apart_from_absence():
    texts = {repr(AccountAdjustmentPositionOperation(mode=m)) for m in [None, "netting", "hedged"]}
    assert len(texts) == 3


# Conversion errors carry the converter's own message, no argument name.
FIELD_ERRORS = [
    (AccountAdjustmentBalanceOperation, "asset", 1, TypeError, "asset must be a str"),
    (AccountAdjustmentBalanceOperation, "asset", "  ", ValueError, "asset must not be empty"),
    (AccountAdjustmentBalanceOperation, "average_entry_price", PositionSize(1), TypeError,
     "Price must be a Decimal, str, int, or float"),
    (AccountAdjustmentBalanceOperation, "average_entry_price", "x", "ParamError", "invalid format for Price: 'x'"),
    (AccountAdjustmentPositionOperation, "collateral_asset", 1, TypeError, "asset must be a str"),
    (AccountAdjustmentPositionOperation, "mode", 1, TypeError, "mode must be a str or vantrel.param.PositionMode"),
    (AccountAdjustmentPositionOperation, "mode", "cross", TypeError,
     "ValueError: invalid position mode \"cross\"; expected 'netting' or 'hedged'"),
    (AccountAdjustmentPositionOperation, "leverage", "3", TypeError,
     "leverage must be vantrel.param.Leverage, int, or float"),
    (AccountAdjustmentPositionOperation, "leverage", 3000.5, ValueError, "invalid leverage value"),
    (AccountAdjustmentAmount, "held", 1, TypeError, "value must be vantrel.param.AdjustmentAmount"),
    (AccountAdjustmentAmount, "incoming", PositionSize(1), TypeError, "value must be vantrel.param.AdjustmentAmount"),
    (AccountAdjustmentBounds, "held_lower", Price(1), TypeError, "PositionSize must be a Decimal, str, int, or float"),
    (AccountAdjustmentBounds, "incoming_upper", "1e", "ParamError", "invalid format for PositionSize: '1e'"),
    (AccountAdjustment, "operation", AccountAdjustmentAmount(), TypeError, NOT_OPERATION),
    (AccountAdjustment, "amount", AccountAdjustmentBounds(), TypeError,
     "amount must be vantrel.core.AccountAdjustmentAmount"),
    (AccountAdjustment, "bounds", 0, TypeError, "bounds must be vantrel.core.AccountAdjustmentBounds"),
]


@pytest.mark.parametrize("cls, field, value, kind, text", FIELD_ERRORS)
def test_field_refusals(cls, field, value, kind, text):
    raises(kind, text, lambda: cls(**{field: value}))
    record = cls()
    before = repr(record)
    raises(kind, text, lambda: setattr(record, field, value))
    assert repr(record) == before


@pytest.mark.parametrize(
    "cls, kwargs, text",
    [
        (AccountAdjustmentPositionOperation, dict(leverage="x", mode=1, settlement_asset=1, collateral_asset=1),
         "asset must be a str"),
        (AccountAdjustmentPositionOperation, dict(leverage="x", mode=1, average_entry_price=[]),
         "Price must be a Decimal, str, int, or float"),
        (AccountAdjustmentPositionOperation, dict(leverage="x", mode=1),
         "mode must be a str or vantrel.param.PositionMode"),
        (AccountAdjustmentAmount, dict(incoming=1, held=2, balance=PositionSize(3)),
         "value must be vantrel.param.AdjustmentAmount"),
        (AccountAdjustmentBounds, dict(incoming_lower=[], balance_upper="?"), "invalid format for PositionSize: '?'"),
        (AccountAdjustment, dict(bounds=1, amount=1, operation=1), NOT_OPERATION),
        (AccountAdjustment, dict(bounds=1, amount=1), "amount must be vantrel.core.AccountAdjustmentAmount"),
    ],
)
def test_conversion_order(cls, kwargs, text):
    with pytest.raises(Exception) as info:
        cls(**kwargs)
    assert str(info.value) == text


PROPERTIES = (
    [(AccountAdjustment, f) for f in ["operation", "amount", "bounds"]]
    + [(AccountAdjustmentBalanceOperation, f) for f in ["asset", "average_entry_price"]]
    + [(AccountAdjustmentPositionOperation, f) for f in
       ["underlying_asset", "settlement_asset", "collateral_asset", "average_entry_price", "mode", "leverage"]]
    + [(AccountAdjustmentAmount, f) for f in ["balance", "held", "incoming"]]
    + [(AccountAdjustmentBounds, f) for f in BOUNDS]
)


@pytest.mark.parametrize("cls, field", PROPERTIES)
def test_deletion_is_refused_and_none_clears(cls, field):
    record = cls()
    raises(AttributeError, "can't delete attribute", lambda: delattr(record, field))
    setattr(record, field, None)
    assert getattr(record, field) is None


@pytest.mark.parametrize("field", BOUNDS)
def test_each_bound_is_its_own_field(field):
    bounds = AccountAdjustmentBounds(**{field: "1.5"})
    assert getattr(bounds, field) == PositionSize("1.5") and type(getattr(bounds, field)) is PositionSize
    assert [getattr(bounds, f) is None for f in BOUNDS].count(True) == 5
    assert repr(bounds).count("None") == 5


def test_values_read_back():
    operation = AccountAdjustmentPositionOperation(mode=" Netting ", leverage=Leverage(10), average_entry_price=2)
    assert operation.mode is PositionMode.NETTING
    assert repr(operation.leverage) == "Leverage(value=10.0)" and operation.leverage is not operation.leverage
    assert operation.average_entry_price == Price(2)
    amount = AccountAdjustmentAmount(held=AdjustmentAmount.absolute(5))
    assert repr(amount.held) == "AdjustmentAmount.absolute(value=PositionSize(5))"
    assert amount.held is not amount.held
    operation.mode = "hedged"
    assert operation.mode is PositionMode.HEDGED


def test_children_are_copied_in_and_stored_objects_read_back():
    passed = AccountAdjustmentAmount(balance=AdjustmentAmount.delta(1))
    adjustment = AccountAdjustment(amount=passed)
    passed.balance = AdjustmentAmount.delta(2)
    assert repr(adjustment.amount.balance) == "AdjustmentAmount.delta(value=PositionSize(1))"
    adjustment.amount.balance = AdjustmentAmount.delta(3)
    assert repr(adjustment.amount.balance) == "AdjustmentAmount.delta(value=PositionSize(3))"
    assert adjustment.amount is adjustment.amount and adjustment.amount is not passed


@pytest.mark.parametrize("base", [AccountAdjustmentBalanceOperation, AccountAdjustmentPositionOperation])
def test_operation_subclasses_are_stored_as_their_base(base):
    sub = type("Sub", (base,), {})
    adjustment = AccountAdjustment(operation=sub())
    assert type(adjustment.operation) is base
    adjustment.operation = base()
    assert type(adjustment.operation) is base
