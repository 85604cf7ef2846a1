"""TradeAmount, AdjustmentAmount, Trade and OutcomeAmount."""

import decimal
import sys

import pytest

from vantrel import ParamError
from vantrel.param import AdjustmentAmount, PositionSize, Price, Quantity, Trade, TradeAmount, Volume
from vantrel.pretrade import OutcomeAmount


class Raising:
    def __str__(self):
        raise RuntimeError("boom")

    def __index__(self):
        raise RuntimeError("boom")

    def __float__(self):
        raise RuntimeError("boom")


# (factory, value class, repr head, is-getters, as-getters)
TAGGED = [
    (TradeAmount.quantity, Quantity, "TradeAmount.quantity", ("is_quantity", "is_volume"), ("as_quantity", "as_volume")),
    (TradeAmount.volume, Volume, "TradeAmount.volume", ("is_volume", "is_quantity"), ("as_volume", "as_quantity")),
    (AdjustmentAmount.delta, PositionSize, "AdjustmentAmount.delta", ("is_delta", "is_absolute"),
     ("as_delta", "as_absolute")),
    (AdjustmentAmount.absolute, PositionSize, "AdjustmentAmount.absolute", ("is_absolute", "is_delta"),
     ("as_absolute", "as_delta")),
]


@pytest.mark.parametrize("factory, value_cls, head, flags, getters", TAGGED)
@pytest.mark.parametrize(
    "value, text",
    [("1.5", "1.5"), (250, "250"), (decimal.Decimal("0.10"), "0.10"), (2.25, "2.25"), ("0", "0"), ("1e3", "1000")],
)
def test_tagged_variants(factory, value_cls, head, flags, getters, value, text):
    amount = factory(value)
    assert type(amount) is (TradeAmount if head.startswith("TradeAmount") else AdjustmentAmount)
    assert repr(amount) == str(amount) == f"{head}(value={value_cls.__name__}({text}))"
    assert getattr(amount, flags[0]) is True and getattr(amount, flags[1]) is False
    inner = getattr(amount, getters[0])
    assert type(inner) is value_cls and inner == value_cls(text)
    assert str(inner) == text
    assert getattr(amount, getters[1]) is None
    assert getattr(amount, getters[0]) is not inner  # each read builds a new object
    assert repr(factory(value=value)) == repr(amount)


def test_adjustment_keeps_negative_values():
    amount = AdjustmentAmount.delta("-3")
    assert repr(amount) == "AdjustmentAmount.delta(value=PositionSize(-3))"
    assert amount.as_delta == PositionSize(-3) and amount.as_absolute is None


@pytest.mark.parametrize(
    "factory, value, error, message",
    [
        (TradeAmount.quantity, "-1", ParamError, "value must be non-negative for Quantity"),
        (TradeAmount.volume, -1, ParamError, "value must be non-negative for Volume"),
        (TradeAmount.quantity, True, ValueError, "Quantity must be a Decimal, str, int, or float"),
        (TradeAmount.quantity, Volume(1), TypeError, "Quantity must be a Decimal, str, int, or float"),
        (TradeAmount.volume, None, ValueError, "Volume must be a Decimal, str, int, or float"),
        (TradeAmount.quantity, "abc", ParamError, "invalid format for Quantity: 'abc'"),
        (AdjustmentAmount.absolute, Price(1), TypeError, "PositionSize must be a Decimal, str, int, or float"),
        (AdjustmentAmount.delta, [1], ValueError, "PositionSize must be a Decimal, str, int, or float"),
        (AdjustmentAmount.delta, float("inf"), ParamError, "invalid format for PositionSize: 'inf'"),
    ],
)
def test_tagged_conversion_errors_carry_no_argument_name(factory, value, error, message):
    with pytest.raises(error) as info:
        factory(value)
    assert type(info.value) is error
    assert str(info.value) == message


@pytest.mark.parametrize("cls, other", [(TradeAmount, TradeAmount.volume(3)), (AdjustmentAmount, AdjustmentAmount.absolute(-2))])
def test_copy_constructor(cls, other):
    copy = cls(other)
    assert type(copy) is cls and copy is not other
    assert repr(copy) == repr(other)
    assert copy != other  # no equality of its own: identity
    assert cls(other=other) != copy

    class Sub(cls):
        pass

    sub = Sub(other)
    assert type(sub) is Sub and repr(sub) == repr(other)
    assert type(cls(sub)) is cls
    # the static constructors always build the base class
    assert type(Sub.quantity(1) if cls is TradeAmount else Sub.delta(1)) is cls


@pytest.mark.parametrize(
    "cls, value, type_name",
    [
        (TradeAmount, Quantity(1), "Quantity"),
        (TradeAmount, AdjustmentAmount.delta(1), "AdjustmentAmount"),
        (AdjustmentAmount, TradeAmount.quantity(1), "TradeAmount"),
        (AdjustmentAmount, None, "NoneType"),
    ],
)
def test_copy_constructor_refuses_other_classes(cls, value, type_name):
    with pytest.raises(TypeError) as info:
        cls(value)
    assert str(info.value) == f"argument 'other': '{type_name}' object cannot be converted to '{cls.__name__}'"


def test_tagged_have_no_value_semantics():
    a, b = TradeAmount.quantity(1), TradeAmount.quantity(1)
    assert a != b and a == a and len({a, b}) == 2
    with pytest.raises(TypeError):
        a < b  # noqa: B015
    with pytest.raises(AttributeError):
        a.is_quantity = False


def test_docstrings_and_signatures():
    assert TradeAmount.quantity.__doc__ == "Create a quantity-based trade amount."
    assert TradeAmount.volume.__doc__ == "Create a volume-based trade amount."
    assert AdjustmentAmount.delta.__doc__ == "Create a delta-type adjustment amount."
    assert AdjustmentAmount.absolute.__doc__ == "Create an absolute-type adjustment amount."
    assert TradeAmount.quantity.__text_signature__ == "(value)"
    assert AdjustmentAmount.absolute.__text_signature__ == "(value)"


# -- Trade


@pytest.mark.parametrize(
    "price, quantity, text",
    [(10, 0, "Trade(price=10, quantity=0)"), ("101.25", 3, "Trade(price=101.25, quantity=3)"),
     ("-5.50", decimal.Decimal("1.000"), "Trade(price=-5.50, quantity=1.000)"),
     (Price("2"), Quantity("0.5"), "Trade(price=2, quantity=0.5)")],
)
def test_trade(price, quantity, text):
    trade = Trade(price=price, quantity=quantity)
    assert repr(trade) == str(trade) == text
    assert type(trade.price) is Price and trade.price == Price(price)
    assert type(trade.quantity) is Quantity and trade.quantity == Quantity(quantity)
    assert Trade(quantity=quantity, price=price) != trade


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"price": 1, "quantity": -1}, ParamError, "value must be non-negative for Quantity"),
        ({"price": "x", "quantity": -1}, ParamError, "invalid format for Price: 'x'"),  # price first
        ({"price": Quantity(1), "quantity": 1}, TypeError, "Price must be a Decimal, str, int, or float"),
        ({"price": 1, "quantity": None}, ValueError, "Quantity must be a Decimal, str, int, or float"),
        ({"price": 1}, TypeError, "Trade.__new__() missing 1 required keyword argument: 'quantity'"),
        ({}, TypeError, "Trade.__new__() missing 2 required keyword arguments: 'price' and 'quantity'"),
        ({"price": 1, "quantity": 1, "side": 1}, TypeError, "Trade.__new__() got an unexpected keyword argument 'side'"),
    ],
)
def test_trade_errors(kwargs, error, message):
    with pytest.raises(error) as info:
        Trade(**kwargs)
    assert type(info.value) is error and str(info.value) == message


def test_trade_takes_nothing_by_position():
    with pytest.raises(TypeError) as info:
        Trade(1, 2)
    assert str(info.value) == "Trade.__new__() takes 0 positional arguments but 2 were given"


def test_trade_subclass():
    class MyTrade(Trade):
        pass

    trade = MyTrade(price=1, quantity=2)
    assert type(trade) is MyTrade and repr(trade) == "Trade(price=1, quantity=2)"


# -- OutcomeAmount


def test_outcome_amount():
    amount = OutcomeAmount(delta=5, absolute=105)
    assert repr(amount) == str(amount) == "OutcomeAmount(delta=5, absolute=105)"
    assert type(amount.delta) is PositionSize and amount.delta == PositionSize(5)
    assert amount.absolute == PositionSize(105)
    assert repr(OutcomeAmount(absolute="-0.50", delta=decimal.Decimal("-1.5"))) == (
        "OutcomeAmount(delta=-1.5, absolute=-0.50)"
    )
    assert OutcomeAmount(delta=1, absolute=1) != OutcomeAmount(delta=1, absolute=1)


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        ((), {"delta": True, "absolute": "x"}, ValueError, "PositionSize must be a Decimal, str, int, or float"),
        ((), {"delta": 1, "absolute": "x"}, ParamError, "invalid format for PositionSize: 'x'"),
        ((), {"delta": Price(1), "absolute": 1}, TypeError, "PositionSize must be a Decimal, str, int, or float"),
        ((), {"delta": 1}, TypeError, "OutcomeAmount.__new__() missing 1 required keyword argument: 'absolute'"),
        ((1, 2), {}, TypeError, "OutcomeAmount.__new__() takes 0 positional arguments but 2 were given"),
    ],
)
def test_outcome_amount_errors(args, kwargs, error, message):
    with pytest.raises(error) as info:
        OutcomeAmount(*args, **kwargs)
    assert type(info.value) is error and str(info.value) == message


def test_outcome_amount_is_final_and_read_only():
    with pytest.raises(TypeError):
        type("Sub", (OutcomeAmount,), {})
    amount = OutcomeAmount(delta=1, absolute=2)
    with pytest.raises(AttributeError):
        amount.delta = PositionSize(3)


# -- robustness: every constructor fed arbitrary objects raises only documented types


class StrSub(str):
    pass


class IntSub(int):
    pass


ODD_VALUES = [
    None, True, False, 0, -1, 2**64, 2**200, -(2**200), float("nan"), float("inf"), -0.0, 1e300, b"1", bytearray(b"1"),
    "", " 1", "1e999999", "nan", StrSub("2"), IntSub(3), Raising(), object(), [], {}, (1,), 1j,
    decimal.Decimal("NaN"), decimal.Decimal("sNaN"), decimal.Decimal("-Infinity"), decimal.Decimal("1e-40"),
    Quantity(1), Price(-1), "\ud800", "1" * 100,
]

CALLS = [
    TradeAmount.quantity, TradeAmount.volume, AdjustmentAmount.delta, AdjustmentAmount.absolute, TradeAmount,
    AdjustmentAmount, lambda v: Trade(price=v, quantity=1), lambda v: Trade(price=1, quantity=v),
    lambda v: OutcomeAmount(delta=v, absolute=0), lambda v: OutcomeAmount(delta=0, absolute=v),
]


@pytest.mark.parametrize("call", CALLS)
@pytest.mark.parametrize("value", ODD_VALUES, ids=repr)
def test_odd_arguments_raise_documented_errors(call, value):
    before = sys.getrefcount(value)
    for _ in range(3):
        try:
            result = call(value)
        except (TypeError, ValueError, RuntimeError):
            pass  # ValueError covers ParamError; RuntimeError is Raising's own error passed through
        else:
            assert repr(result)
            del result
    if not any(value is singleton for singleton in (None, True, False)):  # their counts move on their own
        assert sys.getrefcount(value) == before
