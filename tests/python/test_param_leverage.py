"""Leverage and its margin arithmetic."""

import fractions
import struct

import pytest

from vantrel import ParamError
from vantrel.param import Leverage, Notional, Volume
from stand_ins import Floaty, Index, IntSubclass

INVALID = "invalid leverage value"
OVERFLOW = "arithmetic overflow in Leverage"
NOT_LEVERAGE = "leverage must be vantrel.param.Leverage, int, or float"


def single(value: float) -> float:
    return struct.unpack("<f", struct.pack("<f", value))[0]


class Raising:
    def __index__(self):
        raise RuntimeError("boom")

    def __float__(self):
        raise RuntimeError("boom")


class FakeNumpyBool:
    """Stands for numpy.bool_: only the type's name and module are looked at."""

    def __index__(self):
        return 1


FakeNumpyBool.__module__ = "numpy"
FakeNumpyBool.__name__ = "bool_"
FakeNumpyBool2 = type("bool", (), {"__module__": "numpy", "__float__": lambda self: 2.0})


@pytest.mark.parametrize(
    "multiplier, text",
    [
        (1, "1.0"), (3000, "3000.0"), (5, "5.0"), (2.5, "2.5"), (1.1, "1.1"), (2.30000000001, "2.3"),
        (2.29999999995, "2.3"), (2.30000000005, "2.3"), (0.99999999995, "1.0"), (2999.99999999995, "3000.0"),
        (IntSubclass(4), "4.0"), (Index(7), "7.0"), (Floaty(2.5), "2.5"), (fractions.Fraction(5, 2), "2.5"),
        (2999.9, "2999.9"), (Notional(2), "2.0"),
    ],
)
def test_constructor_accepts(multiplier, text):
    leverage = Leverage(multiplier)
    assert repr(leverage) == str(leverage) == f"Leverage(value={text})"
    assert Leverage(multiplier=multiplier).value == leverage.value
    assert Leverage(leverage).value == leverage.value


@pytest.mark.parametrize(
    "multiplier, message",
    [
        (0, INVALID), (3001, INVALID), (-1, INVALID), (6553, INVALID), (6554, OVERFLOW), (65535, OVERFLOW),
        (70000, INVALID), (2**64, INVALID), (2.55, INVALID), (2.3000001, INVALID), (0.95, INVALID),
        (3000.04, INVALID), (2.2999999985, INVALID), (2.3000000015, INVALID), (2.2999999995, INVALID),
        (2.3000000005, INVALID), (float("nan"), INVALID), (float("inf"), INVALID), (-float("inf"), INVALID),
        (-1.0, INVALID), (Index(6554), OVERFLOW), (Index(-5), INVALID),
        (True, NOT_LEVERAGE), (False, NOT_LEVERAGE), ("2", NOT_LEVERAGE), (None, NOT_LEVERAGE), ([2], NOT_LEVERAGE),
        (b"2", NOT_LEVERAGE), (2**2000, NOT_LEVERAGE), (Raising(), NOT_LEVERAGE),
        (FakeNumpyBool(), NOT_LEVERAGE), (FakeNumpyBool2(), NOT_LEVERAGE),
    ],
)
def test_constructor_refuses_with_plain_value_error(multiplier, message):
    with pytest.raises(ValueError) as info:
        Leverage(multiplier)
    assert type(info.value) is ValueError
    assert str(info.value) == message


@pytest.mark.parametrize(
    "multiplier, text", [(1, "1.0"), (3000, "3000.0"), (True, "1.0"), (Index(12), "12.0"), (IntSubclass(3), "3.0")]
)
def test_from_int(multiplier, text):
    assert repr(Leverage.from_int(multiplier)) == f"Leverage(value={text})"
    assert repr(Leverage.from_int(multiplier=multiplier)) == f"Leverage(value={text})"


@pytest.mark.parametrize(
    "multiplier, message",
    [(0, INVALID), (False, INVALID), (-1, INVALID), (65536, INVALID), (3001, INVALID), (6554, OVERFLOW),
     (65535, OVERFLOW), (2**63 - 1, INVALID), (-(2**63), INVALID)],
)
def test_from_int_refuses(multiplier, message):
    with pytest.raises(ValueError) as info:
        Leverage.from_int(multiplier)
    assert type(info.value) is ValueError and str(info.value) == message


@pytest.mark.parametrize(
    "multiplier, message",
    [
        (2.5, "argument 'multiplier': 'float' object cannot be interpreted as an integer"),
        ("2", "argument 'multiplier': 'str' object cannot be interpreted as an integer"),
        (None, "argument 'multiplier': 'NoneType' object cannot be interpreted as an integer"),
    ],
)
def test_from_int_type_errors(multiplier, message):
    with pytest.raises(TypeError) as info:
        Leverage.from_int(multiplier)
    assert str(info.value) == message


def test_from_int_passes_other_errors():
    with pytest.raises(OverflowError):
        Leverage.from_int(2**63)
    with pytest.raises(RuntimeError, match="boom"):
        Leverage.from_int(Raising())


@pytest.mark.parametrize(
    "multiplier, text",
    [(2.5, "2.5"), (5, "5.0"), (True, "1.0"), (2.30000000001, "2.3"), (Floaty(12.5), "12.5"), (Index(3), "3.0")],
)
def test_from_float(multiplier, text):
    assert repr(Leverage.from_float(multiplier)) == f"Leverage(value={text})"


@pytest.mark.parametrize("multiplier", [2.55, 2.3000001, float("nan"), 0.95, -1.0, 0, 3000.1, 1e300])
def test_from_float_refuses(multiplier):
    with pytest.raises(ValueError) as info:
        Leverage.from_float(multiplier)
    assert type(info.value) is ValueError and str(info.value) == INVALID


def test_from_float_errors():
    with pytest.raises(TypeError) as info:
        Leverage.from_float("2")
    assert str(info.value).startswith("argument 'multiplier': ")
    with pytest.raises(TypeError) as info:
        Leverage.from_float(None)
    assert str(info.value).startswith("argument 'multiplier': ")
    with pytest.raises(OverflowError):
        Leverage.from_float(2**2000)
    with pytest.raises(RuntimeError, match="boom"):
        Leverage.from_float(Raising())


@pytest.mark.parametrize("tenths", [10, 11, 23, 25, 99, 12345, 29999, 30000])
def test_value_is_widened_single_precision_quotient(tenths):
    leverage = Leverage.from_int(tenths // 10) if tenths % 10 == 0 else Leverage.from_float(tenths / 10)
    assert leverage.value == single(single(tenths) / single(10.0))
    assert type(leverage.value) is float
    assert repr(leverage) == f"Leverage(value={tenths // 10}.{tenths % 10})"


def test_value_examples():
    assert Leverage.from_float(2.3).value == 2.299999952316284
    assert Leverage(1.1).value == 1.100000023841858
    assert Leverage(2.5).value == 2.5


def test_identity_semantics():
    a, b = Leverage(2), Leverage(2)
    assert a != b and not (a == b)
    assert a == a
    assert hash(a) != hash(b) or a is not b
    assert bool(Leverage(1))
    for op in (lambda: a < b, lambda: float(a), lambda: int(a), lambda: a + a, lambda: -a):
        with pytest.raises(TypeError):
            op()


def test_final_and_frozen():
    with pytest.raises(TypeError):
        type("Sub", (Leverage,), {})
    with pytest.raises(AttributeError):
        Leverage(2).value = 3.0


@pytest.mark.parametrize(
    "notional, leverage, expected",
    [
        (1000, 4, 250), (1000, Leverage(4), 250), (1000, 2.5, 400), ("1000", Leverage(2.5), 400), (0, 3000, 0),
        (1000, 10, 100), ("1000000000000000000000000000.5", 1, "1000000000000000000000000000.5"),
    ],
)
def test_margin_both_ways(notional, leverage, expected):
    from_notional = Notional(notional).calculate_margin_required(leverage)
    from_leverage = Leverage(leverage).calculate_margin_required(notional)
    assert type(from_notional) is Notional and type(from_leverage) is Notional
    assert from_notional == from_leverage == Notional(expected)
    assert Leverage(leverage).calculate_margin_required(notional=notional) == from_notional


def test_margin_errors():
    with pytest.raises(ParamError) as info:
        Leverage(4).calculate_margin_required(-1)
    assert str(info.value) == "value must be non-negative for Notional"
    with pytest.raises(ParamError) as info:
        Leverage(2).calculate_margin_required("10000000000000000000000000000")
    assert str(info.value) == "arithmetic overflow in Notional"
    with pytest.raises(TypeError) as info:
        Leverage(2).calculate_margin_required(Volume(1))
    assert str(info.value) == "Notional must be a Decimal, str, int, or float"
    with pytest.raises(ValueError) as info:
        Notional(1000).calculate_margin_required("4")
    assert type(info.value) is ValueError and str(info.value) == NOT_LEVERAGE
    with pytest.raises(TypeError) as info:
        Leverage(2).calculate_margin_required()
    assert str(info.value) == "Leverage.calculate_margin_required() missing 1 required positional argument: 'notional'"


def test_signatures():
    assert Leverage.__text_signature__ == "(multiplier)"
    assert Leverage.from_int.__text_signature__ == Leverage.from_float.__text_signature__ == "(multiplier)"
    assert Leverage.from_int.__doc__ is None and Leverage.from_float.__doc__ is None  # no text after the signature
    assert Leverage.calculate_margin_required.__text_signature__ == "($self, notional)"
    with pytest.raises(TypeError) as info:
        Leverage()
    assert str(info.value) == "Leverage.__new__() missing 1 required positional argument: 'multiplier'"


ODD_VALUES = [
    None, True, -0.0, float("nan"), float("-inf"), 2**64, -(2**64), 2**3000, b"1", "", "2", object(), [], 1j,
    Raising(), Index(2**70), Index(-(2**70)), Floaty(float("nan")), Floaty("x"), FakeNumpyBool(), IntSubclass(2),
]


@pytest.mark.parametrize(
    "call, errors",
    [
        (Leverage, (ValueError,)),
        (Leverage.from_int, (ValueError, TypeError, OverflowError, RuntimeError)),
        (Leverage.from_float, (ValueError, TypeError, OverflowError, RuntimeError)),
        (lambda v: Leverage(2).calculate_margin_required(v), (ValueError, TypeError)),
        (lambda v: Notional(1).calculate_margin_required(v), (ValueError,)),
    ],
)
@pytest.mark.parametrize("value", ODD_VALUES, ids=repr)
def test_odd_arguments(call, errors, value):
    import sys

    before = sys.getrefcount(value)
    for _ in range(3):
        try:
            call(value)
        except errors as error:
            assert not isinstance(error, ParamError) or call is not Leverage
    if not any(value is singleton for singleton in (None, True, False)):  # their counts move on their own
        assert sys.getrefcount(value) == before
