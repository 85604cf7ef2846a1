"""Decimal value classes: the rounded constructors and their argument handling."""

from decimal import ROUND_CEILING, ROUND_FLOOR, ROUND_HALF_EVEN, ROUND_HALF_UP, Context, Decimal

import pytest
from hypothesis import given, strategies as st

from vantrel import ParamError, _vantrel
from decimal_kinds import KINDS, NEVER_NEGATIVE, SIGNED, canonical, cls

STRATEGY_ERROR = (
    "invalid rounding strategy {}; expected 'MidpointNearestEven', 'MidpointAwayFromZero', 'Up', or 'Down'"
)


@pytest.mark.parametrize(
    "name, text, scale, strategy, expected",
    [
        ("Price", "2.345", 2, "MidpointNearestEven", "2.34"),
        ("Price", "2.345", 2, "MidpointAwayFromZero", "2.35"),
        ("Price", "2.355", 2, "MidpointNearestEven", "2.36"),
        ("Pnl", "-2.345", 2, "MidpointAwayFromZero", "-2.35"),
        ("Pnl", "-2.345", 2, "Up", "-2.34"),
        ("Pnl", "-2.345", 2, "Down", "-2.35"),
        ("Price", "2.341", 2, "Up", "2.35"),
        ("Price", "2.349", 2, "Down", "2.34"),
        ("Price", "1.999", 2, "Up", "2.00"),
        ("Price", "1.5", 3, "down", "1.5"),  # no trailing zeros are added
        ("Price", "1.25", 0, "UP", "2"),
        ("Price", "1.55", 2**32 - 1, "Up", "1.55"),
        ("Pnl", "-0.001", 2, "Up", "0.00"),  # a rounded zero carries no sign
        ("Quantity", "-0.001", 2, "Up", "0.00"),  # the sign rule sees the rounded value
        ("Quantity", "-0.004", 2, "MidpointNearestEven", "0.00"),
        ("Fee", "1e3", 0, " \u3000midpointnearesteven\t", "1000"),
        # Texts too long to be collected exactly are rounded from their digits as they come.
        ("Price", "0.1250000000000000000000", 2, "MidpointAwayFromZero", "0.13"),
        ("Price", "0.1251000000000000000000", 2, "MidpointAwayFromZero", "0.13"),
        ("Pnl", "-0.1250000000000000000000", 2, "MidpointAwayFromZero", "-0.13"),
        ("Price", "0.1249999999999999999999", 2, "MidpointAwayFromZero", "0.12"),
        ("Price", "0.1250000000000000000000", 2, "MidpointNearestEven", "0.12"),
    ],
)
def test_from_string_rounded(name, text, scale, strategy, expected):
    made = cls(name).from_string_rounded(text, scale, strategy)
    assert type(made) is cls(name) and str(made) == expected
    assert str(cls(name).from_string_rounded(value=text, strategy=strategy, scale=scale)) == expected


@pytest.mark.parametrize("name", sorted(NEVER_NEGATIVE))
@pytest.mark.parametrize(
    "call",
    [
        lambda c: c.from_string_rounded("-0.004", 2, "Down"),
        lambda c: c.from_string_rounded("-0.001", 2, "Down"),
        lambda c: c.from_float_rounded(-0.006, 2, "MidpointNearestEven"),
        lambda c: c.from_decimal_rounded(Decimal("-0.5"), 0, "MidpointAwayFromZero"),
    ],
)
def test_rounded_value_below_zero_is_refused(name, call):
    with pytest.raises(ParamError, match=f"^value must be non-negative for {name}$"):
        call(cls(name))


@pytest.mark.parametrize("value, strategy, expected", [
    (0.125, "MidpointAwayFromZero", "0.13"),
    (0.1251, "MidpointAwayFromZero", "0.13"),
    (-0.125, "MidpointAwayFromZero", "-0.13"),
    (0.1249, "MidpointAwayFromZero", "0.12"),
    (0.125, "MidpointNearestEven", "0.12"),
])
def test_float_midpoints(value, strategy, expected):
    assert str(cls("Pnl").from_float_rounded(value, 2, strategy)) == expected


@pytest.mark.parametrize("name", KINDS)
def test_float_and_decimal_sources(name):
    c = cls(name)
    assert str(c.from_float_rounded(2.345, 2, "Down")) == "2.34"
    assert str(c.from_float_rounded(-0.004, 2, "MidpointNearestEven")) == "0.00"
    assert str(c.from_float_rounded(3, 1, "Up")) == "3"
    assert str(c.from_decimal_rounded(Decimal("2.345"), 2, "MidpointAwayFromZero")) == "2.35"
    assert str(c.from_decimal_rounded(Decimal("1.5E-7"), 28, "Up")) == "0.00000015"
    for constant in ("_ROUNDING_STRATEGY_DEFAULT", "_ROUNDING_STRATEGY_BANKER", "_ROUNDING_STRATEGY_CONSERVATIVE_PROFIT"):
        assert str(c.from_string_rounded("2.5", 0, getattr(_vantrel, constant))) == "2"


@pytest.mark.parametrize("name", KINDS)
@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda c: c.from_string_rounded("1.5", 2, "nearest"), ValueError, STRATEGY_ERROR.format("nearest")),
        (lambda c: c.from_string_rounded("1.5", 2, " Nearest "), ValueError, STRATEGY_ERROR.format("nearest")),
        (lambda c: c.from_string_rounded("1.5", 2, ""), ValueError, STRATEGY_ERROR.format("")),
        (lambda c: c.from_string_rounded("abc", 2, "Up"), ParamError, "invalid format for {}: 'abc'"),
        (lambda c: c.from_string_rounded(" 1", 2, "Up"), ParamError, "invalid format for {}: ' 1'"),
        (lambda c: c.from_float_rounded(float("nan"), 2, "Up"), ParamError, "invalid float value"),
        (lambda c: c.from_float_rounded(1e30, 2, "Up"), ParamError, "invalid float value"),
        (lambda c: c.from_decimal_rounded(1.5, 2, "Up"), TypeError, "{}.from_decimal expects decimal.Decimal"),
        (lambda c: c.from_decimal_rounded(Decimal("NaN"), 2, "Up"), ParamError, "Invalid decimal: unknown character"),
        # both bad: the string and float forms judge the strategy first, the decimal form the value
        (lambda c: c.from_string_rounded("abc", 2, "x"), ValueError, STRATEGY_ERROR.format("x")),
        (lambda c: c.from_float_rounded(float("inf"), 2, "x"), ValueError, STRATEGY_ERROR.format("x")),
        (lambda c: c.from_decimal_rounded("1", 2, "x"), TypeError, "{}.from_decimal expects decimal.Decimal"),
        # argument conversion, in the order value, scale, strategy
        (lambda c: c.from_string_rounded(1.5, "x", 5), TypeError,
         "argument 'value': 'float' object cannot be converted to 'PyString'"),
        (lambda c: c.from_float_rounded("1", 2, "Up"), TypeError, "argument 'value': must be real number, not str"),
        (lambda c: c.from_string_rounded("1", 2.0, 5), TypeError,
         "argument 'scale': 'float' object cannot be interpreted as an integer"),
        (lambda c: c.from_decimal_rounded(1.5, 2, 5), TypeError,
         "argument 'strategy': 'int' object cannot be converted to 'PyString'"),
        (lambda c: c.from_string_rounded("1", -1, "Up"), OverflowError, "out of range integral type conversion attempted"),
        (lambda c: c.from_float_rounded(1.0, 2**32, "Up"), OverflowError, "out of range integral type conversion attempted"),
        (lambda c: c.from_decimal_rounded(Decimal(1), 2**64, "Up"), OverflowError, None),
        (lambda c: c.from_string_rounded("1", 2), TypeError,
         "{}.from_string_rounded() missing 1 required positional argument: 'strategy'"),
    ],
)
def test_rounded_errors(name, call, error, message):
    with pytest.raises(error) as info:
        call(cls(name))
    assert type(info.value) is error
    if message is not None:
        assert str(info.value) == message.format(name)


MODES = {
    "MidpointNearestEven": ROUND_HALF_EVEN,
    "MidpointAwayFromZero": ROUND_HALF_UP,  # Python's HALF_UP rounds halves away from zero
    "Up": ROUND_CEILING,
    "Down": ROUND_FLOOR,
}


WIDE = Context(prec=200)


def rounded_once(exact, digits, strategy):
    """The exact value rounded once by the strategy at the largest scale up to
    `digits` (and 28) whose mantissa fits 96 bits; None when none does."""
    if -exact.as_tuple().exponent <= min(digits, 28) and abs(exact.scaleb(-exact.as_tuple().exponent)) < 2**96:
        return exact
    for s in range(min(digits, 28), -1, -1):
        q = exact.quantize(Decimal(1).scaleb(-s), rounding=MODES[strategy], context=WIDE)
        if abs(q.scaleb(s, context=WIDE)) < 2**96:
            return q
    return None


# Past 10^20 and 28 decimals the input no longer fits 96 bits at its own
# scale; a directed strategy must still land on its side of the exact input.
@given(
    mantissa=st.one_of(st.integers(min_value=0, max_value=10**20), st.integers(min_value=10**28, max_value=10**40)),
    scale=st.integers(min_value=0, max_value=40),
    negative=st.booleans(),
    # Often just below the input's scale, where at most a few digits go.
    below=st.one_of(st.integers(min_value=-2, max_value=12), st.integers(min_value=-40, max_value=40)),
    strategy=st.sampled_from(sorted(MODES)),
    name=st.sampled_from(SIGNED),
)
def test_rounding_agrees_with_decimal(mantissa, scale, negative, below, strategy, name):
    digits = max(0, scale - below)
    text = canonical(mantissa, scale, negative and mantissa != 0)
    exact = Decimal(text)
    expected = rounded_once(exact, digits, strategy)
    if expected is None:
        with pytest.raises(ParamError):
            cls(name).from_string_rounded(text, digits, strategy)
        return
    ours = cls(name).from_string_rounded(text, digits, strategy)
    assert ours.decimal == expected
    assert ours.decimal.as_tuple().exponent == expected.as_tuple().exponent
    assert not (ours.decimal.is_zero() and ours.decimal.is_signed())
    if strategy == "Down":
        assert ours.decimal <= exact
    if strategy == "Up":
        assert ours.decimal >= exact
    # The decimal.Decimal source rounds the same way (its str() is plain text here
    # unless the value is a zero with more than 28 places, which the text rule refuses).
    if "E" not in str(exact):
        assert cls(name).from_decimal_rounded(exact, digits, strategy).decimal == expected


@given(
    value=st.one_of(
        st.floats(allow_nan=False, allow_infinity=False, min_value=-1e28, max_value=1e28),
        st.floats(min_value=1e-30, max_value=1e-20),
    ),
    digits=st.integers(min_value=0, max_value=30),
    strategy=st.sampled_from(sorted(MODES)),
)
def test_float_rounding_rounds_the_shortest_digits_once(value, digits, strategy):
    exact = Decimal(repr(value))
    ours = cls("Pnl").from_float_rounded(value, digits, strategy)
    expected = rounded_once(exact, digits, strategy)
    assert ours.decimal == expected
    if strategy == "Down":
        assert ours.decimal <= exact
    if strategy == "Up":
        assert ours.decimal >= exact


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda: cls("Quantity").from_string_rounded("98765432109.876543210987654329", 17, "Down"),
         "98765432109.87654321098765432"),
        (lambda: cls("Quantity").from_string_rounded("98765432109.876543210987654329", 17, "Up"),
         "98765432109.87654321098765433"),
        (lambda: cls("Price").from_float_rounded(1.5e-28, 28, "Down"), "0.0000000000000000000000000001"),
        (lambda: cls("Price").from_float_rounded(1.5e-28, 28, "Up"), "0.0000000000000000000000000002"),
        (lambda: cls("Pnl").from_string_rounded("-79228162514264337593543950335.4", 0, "Up"),
         "-79228162514264337593543950335"),
    ],
)
def test_directed_rounding_of_wide_inputs(call, expected):
    assert str(call()) == expected


def test_rounding_up_past_the_largest_mantissa_is_refused():
    with pytest.raises(ParamError, match="^invalid format for Price: "):
        cls("Price").from_string_rounded("79228162514264337593543950335.4", 0, "Up")
