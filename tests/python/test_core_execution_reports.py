"""vantrel.core.ExecutionReport and its parts: constructors, properties, copy semantics, representations."""

import pytest

from vantrel.core import (
    ExecutionReport,
    ExecutionReportFillDetails,
    ExecutionReportOperation,
    ExecutionReportPositionImpact,
    FinancialImpact,
)
from vantrel.param import AccountId, Fee, PositionEffect, PositionSide, Pnl, Quantity, Side, Trade
from vantrel.pretrade import Lock


def raises(kind, text, call):
    with pytest.raises(Exception) as info:
        call()
    if isinstance(kind, str):
        assert type(info.value).__name__ == kind
    else:
        assert type(info.value) is kind
    assert str(info.value) == text


def fill(**fields):
    fields.setdefault("lock", Lock())
    return ExecutionReportFillDetails(**fields)


# ---- representations

def test_nested_three_levels_escapes_quotes_at_each_level():
    report = ExecutionReport(fill=fill(last_trade=Trade(price="101.25", quantity=3), lock=Lock([(0, "1.50")])))
    inner = 'Trade(price="101.25", quantity="3")'
    fill_text = (
        'ExecutionReportFillDetails(last_trade=Some("Trade(price=\\"101.25\\", quantity=\\"3\\")"), '
        'leaves_quantity=None, lock="Lock([(0, 1.50)])", is_final=None)'
    )
    assert repr(report.fill) == fill_text
    assert fill_text.count(inner.replace('"', '\\"')) == 1
    assert repr(report) == (
        "ExecutionReport(operation=None, financial_impact=None, fill=Some(\""
        'ExecutionReportFillDetails(last_trade=Some(\\"Trade(price=\\\\\\"101.25\\\\\\", quantity=\\\\\\"3\\\\\\")\\"), '
        'leaves_quantity=None, lock=\\"Lock([(0, 1.50)])\\", is_final=None)"), position_impact=None)'
    )


REPRS = [
    (ExecutionReport(), "ExecutionReport(operation=None, financial_impact=None, fill=None, position_impact=None)"),
    (ExecutionReportOperation(account_id=AccountId.from_int(7)),
     "ExecutionReportOperation(underlying_asset=None, settlement_asset=None, account_id=Some(7), side=None)"),
    (ExecutionReportOperation(underlying_asset="BTC", settlement_asset="USD", side="buy",
                              account_id=AccountId.from_int(2**64 - 1)),
     'ExecutionReportOperation(underlying_asset=Some("BTC"), settlement_asset=Some("USD"), '
     "account_id=Some(18446744073709551615), side=Some(Side.BUY))"),
    (FinancialImpact(pnl="-1.50", fee="0.01"), 'FinancialImpact(pnl="-1.50", fee="0.01")'),
    (fill(), 'ExecutionReportFillDetails(last_trade=None, leaves_quantity=None, lock="Lock([])", is_final=None)'),
    (fill(leaves_quantity="0.50", is_final=False, lock=Lock([(3, 2), (0, "1.0")])),
     'ExecutionReportFillDetails(last_trade=None, leaves_quantity=Some("0.50"), '
     'lock="Lock([(0, 1.0), (3, 2)])", is_final=Some(false))'),
    (ExecutionReportPositionImpact(), "ExecutionReportPositionImpact(position_effect=None, position_side=None)"),
    (ExecutionReportPositionImpact(position_effect=" Close ", position_side="long"),
     "ExecutionReportPositionImpact(position_effect=Some(PositionEffect.CLOSE), position_side=Some(PositionSide.LONG))"),
]


@pytest.mark.parametrize("record, text", REPRS)
def test_representation(record, text):
    assert repr(record) == text


# ---- accepted values and their errors

FIELD_ERRORS = [
    (ExecutionReportOperation, "underlying_asset", 1, TypeError, "asset must be a str"),
    (ExecutionReportOperation, "settlement_asset", "", ValueError, "asset must not be empty"),
    (ExecutionReportOperation, "account_id", 7, TypeError, "account_id must be vantrel.param.AccountId"),
    (ExecutionReportOperation, "side", 1, TypeError, "side must be a str or vantrel.Side"),
    (ExecutionReportOperation, "side", "x", TypeError, "ValueError: invalid side \"x\"; expected 'buy' or 'sell'"),
    (ExecutionReportPositionImpact, "position_effect", 1, TypeError,
     "position_effect must be a str or vantrel.PositionEffect"),
    (ExecutionReportPositionImpact, "position_effect", "opened", TypeError,
     "ValueError: invalid position effect \"opened\"; expected 'open' or 'close'"),
    (ExecutionReportPositionImpact, "position_side", 1, TypeError,
     "position_side must be a str or vantrel.PositionSide"),
    (ExecutionReport, "operation", FinancialImpact(pnl=0, fee=0), TypeError,
     "operation must be vantrel.core.ExecutionReportOperation"),
    (ExecutionReport, "financial_impact", 1, TypeError, "financial_impact must be vantrel.core.FinancialImpact"),
    (ExecutionReport, "fill", Lock(), TypeError, "fill must be vantrel.core.ExecutionReportFillDetails"),
    (ExecutionReport, "position_impact", 1, TypeError,
     "position_impact must be vantrel.core.ExecutionReportPositionImpact"),
]


@pytest.mark.parametrize("cls, field, value, kind, text", FIELD_ERRORS)
def test_field_refusals(cls, field, value, kind, text):
    raises(kind, text, lambda: cls(**{field: value}))
    record = cls()
    before = repr(record)
    raises(kind, text, lambda: setattr(record, field, value))
    assert repr(record) == before


# Fill details and financial impact have required arguments: checked with a full record.
REQUIRED_ERRORS = [
    # (make, field, value, kind, constructor text, setter text)
    (fill, "last_trade", 1, TypeError, "argument 'last_trade': 'int' object cannot be converted to 'Trade'",
     "argument 'value': 'int' object cannot be converted to 'Trade'"),
    (fill, "lock", None, TypeError, "argument 'lock': 'NoneType' object cannot be converted to 'Lock'",
     "argument 'value': 'NoneType' object cannot be converted to 'Lock'"),
    (fill, "lock", [(0, 1)], TypeError, "argument 'lock': 'list' object cannot be converted to 'Lock'",
     "argument 'value': 'list' object cannot be converted to 'Lock'"),
    (fill, "is_final", 1, TypeError, "argument 'is_final': 'int' object cannot be converted to 'PyBool'",
     "argument 'value': 'int' object cannot be converted to 'PyBool'"),
    (fill, "leaves_quantity", "-1", "ParamError", "value must be non-negative for Quantity",
     "value must be non-negative for Quantity"),
    (fill, "leaves_quantity", Pnl(1), TypeError, "Quantity must be a Decimal, str, int, or float",
     "Quantity must be a Decimal, str, int, or float"),
    (lambda **kw: FinancialImpact(**{"pnl": 0, "fee": 0, **kw}), "pnl", None, TypeError,
     "Pnl must be a Decimal, str, int, or float", "Pnl must be a Decimal, str, int, or float"),
    (lambda **kw: FinancialImpact(**{"pnl": 0, "fee": 0, **kw}), "fee", None, TypeError,
     "Fee must be a Decimal, str, int, or float", "Fee must be a Decimal, str, int, or float"),
    (lambda **kw: FinancialImpact(**{"pnl": 0, "fee": 0, **kw}), "fee", "1..", "ParamError",
     "invalid format for Fee: '1..'", "invalid format for Fee: '1..'"),
]


@pytest.mark.parametrize("make, field, value, kind, text, setter_text", REQUIRED_ERRORS)
def test_required_record_refusals(make, field, value, kind, text, setter_text):
    raises(kind, text, lambda: make(**{field: value}))
    record = make()
    before = repr(record)
    raises(kind, setter_text, lambda: setattr(record, field, value))
    assert repr(record) == before


def test_missing_required_arguments_come_before_any_conversion():
    raises(TypeError, "ExecutionReportFillDetails.__new__() missing 1 required keyword argument: 'lock'",
           lambda: ExecutionReportFillDetails(is_final=1))
    raises(TypeError, "FinancialImpact.__new__() missing 1 required keyword argument: 'fee'",
           lambda: FinancialImpact(pnl="bad"))


@pytest.mark.parametrize(
    "kwargs, text",
    [
        # is_final converts first, the lock last.
        (dict(is_final=1, last_trade=1, leaves_quantity="x", lock=None),
         "argument 'is_final': 'int' object cannot be converted to 'PyBool'"),
        (dict(last_trade=1, leaves_quantity="x", lock=None),
         "argument 'last_trade': 'int' object cannot be converted to 'Trade'"),
        (dict(leaves_quantity=Pnl(1), lock=None), "Quantity must be a Decimal, str, int, or float"),
    ],
)
def test_fill_conversion_order(kwargs, text):
    raises(TypeError, text, lambda: ExecutionReportFillDetails(**kwargs))


@pytest.mark.parametrize(
    "cls, kwargs, text",
    [
        (FinancialImpact, dict(fee=None, pnl=None), "Pnl must be a Decimal, str, int, or float"),
        (ExecutionReportOperation, dict(side=1, account_id=1, settlement_asset=1), "asset must be a str"),
        (ExecutionReportPositionImpact, dict(position_side=1, position_effect=1),
         "position_effect must be a str or vantrel.PositionEffect"),
        (ExecutionReport, dict(position_impact=1, fill=1, financial_impact=1),
         "financial_impact must be vantrel.core.FinancialImpact"),
    ],
)
def test_conversion_order(cls, kwargs, text):
    raises(TypeError, text, lambda: cls(**kwargs))


# ---- properties and copies

PROPERTIES = [
    (ExecutionReport, f) for f in ["operation", "financial_impact", "fill", "position_impact"]
] + [(ExecutionReportOperation, f) for f in ["underlying_asset", "settlement_asset", "account_id", "side"]] + [
    (ExecutionReportPositionImpact, f) for f in ["position_effect", "position_side"]
]


@pytest.mark.parametrize("cls, field", PROPERTIES)
def test_deletion_is_refused(cls, field):
    raises(AttributeError, "can't delete attribute", lambda: delattr(cls(), field))


@pytest.mark.parametrize("field", ["last_trade", "leaves_quantity", "lock", "is_final"])
def test_fill_deletion_is_refused(field):
    raises(AttributeError, "can't delete attribute", lambda: delattr(fill(), field))


def test_values_read_back():
    f = fill(last_trade=Trade(price=2, quantity="1.5"), leaves_quantity=3, is_final=True)
    assert repr(f.last_trade) == "Trade(price=2, quantity=1.5)" and f.last_trade is not f.last_trade
    assert f.leaves_quantity == Quantity(3) and f.is_final is True
    impact = FinancialImpact(pnl="-2", fee=Fee("0.1"))
    assert impact.pnl == Pnl(-2) and type(impact.fee) is Fee
    position = ExecutionReportPositionImpact(position_effect="OPEN", position_side=PositionSide.SHORT)
    assert position.position_effect is PositionEffect.OPEN and position.position_side is PositionSide.SHORT
    assert ExecutionReportOperation(side="SELL").side is Side.SELL


def test_is_final_clears_with_none():
    f = fill(is_final=False)
    assert f.is_final is False
    f.is_final = None
    assert f.is_final is None


def test_lock_is_copied_in_and_out():
    passed = Lock([(0, 1)])
    f = fill(lock=passed)
    passed.push(0, 2)
    assert f.lock == Lock([(0, 1)])
    read = f.lock
    read.push(5, 3)
    assert f.lock == Lock([(0, 1)]) and f.lock is not f.lock
    f.lock = Lock([(9, 4)])
    assert f.lock == Lock([(9, 4)])


def test_parts_are_copied_on_the_way_in():
    class FillSub(ExecutionReportFillDetails):
        pass

    passed = FillSub(lock=Lock(), is_final=False)
    report = ExecutionReport(fill=passed)
    assert report.fill is not passed and type(report.fill) is ExecutionReportFillDetails
    assert report.fill is report.fill
    passed.is_final = True
    assert report.fill.is_final is False
    report.fill.is_final = True
    assert report.fill.is_final is True
    report.fill = None
    assert report.fill is None
