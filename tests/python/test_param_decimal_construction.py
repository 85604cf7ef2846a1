"""Decimal value classes: constructors, factories, conversions of Python arguments, text forms."""

from decimal import Decimal
from fractions import Fraction

import pytest
from hypothesis import given, strategies as st

from vantrel import ParamError
from decimal_kinds import KINDS, MAX_MANTISSA, NEVER_NEGATIVE, SIGNED, NumpyBool, canonical, cls, other_kind
from stand_ins import Index


@pytest.mark.parametrize("name", KINDS)
@pytest.mark.parametrize(
    "value, text",
    [
        ("1.50", "1.50"),
        ("+2", "2"),
        ("1_000.5", "1000.5"),
        (".5", "0.5"),
        ("5.", "5"),
        ("1e3", "1000"),
        ("1E3", "1000"),
        ("-0", "0"),
        ("-0.00", "0.00"),
        (Decimal("1.50"), "1.50"),
        (Decimal("1E+3"), "1000"),
        (Decimal("-0"), "0"),
        (7, "7"),
        (Index(12), "12"),
        (2**63, "9223372036854775808"),
        (2**64 - 1, "18446744073709551615"),
        (2**64, "18446744073709552000"),  # beyond 64 bits the int goes through its double
        (0.1, "0.1"),
        (1e-7, "0.0000001"),
        (1e20, "100000000000000000000"),
        (-0.0, "0"),
        (Fraction(1, 4), "0.25"),
    ],
)
def test_constructor_accepts(name, value, text):
    made = cls(name)(value)
    assert type(made) is cls(name) and str(made) == text
    assert str(cls(name)(value=value)) == text


@pytest.mark.parametrize("name", KINDS)
@pytest.mark.parametrize("value, text", [(-1, "-1"), ("-0.5", "-0.5"), (-0.1, "-0.1"), (Decimal("-1.0"), "-1.0")])
def test_constructor_sign_rule(name, value, text):
    if name in NEVER_NEGATIVE:
        with pytest.raises(ParamError, match=f"^value must be non-negative for {name}$"):
            cls(name)(value)
    else:
        assert str(cls(name)(value)) == text


@pytest.mark.parametrize("name", KINDS)
@pytest.mark.parametrize(
    "value, error",
    [
        (True, ValueError),
        (NumpyBool(), ValueError),
        (None, ValueError),
        ([1], ValueError),
        (b"1", ValueError),
        (object(), ValueError),
        (10**400, ValueError),  # no double holds it
        ("other kind", TypeError),
    ],
)
def test_constructor_refusals(name, value, error):
    if value == "other kind":
        value = other_kind(name)(1)
    with pytest.raises(error) as info:
        cls(name)(value)
    assert type(info.value) is error
    assert str(info.value) == f"{name} must be a Decimal, str, int, or float"


@pytest.mark.parametrize("name", KINDS)
@pytest.mark.parametrize(
    "value, text",
    [
        ("abc", "abc"),
        (" 1", " 1"),
        ("", ""),
        ("_1", "_1"),
        ("e", "e"),
        (float("nan"), "NaN"),
        (float("inf"), "inf"),
        (float("-inf"), "-inf"),
        (Decimal("NaN"), "NaN"),
        (1e30, "1000000000000000000000000000000"),
    ],
)
def test_constructor_parse_failures(name, value, text):
    with pytest.raises(ParamError) as info:
        cls(name)(value)
    assert str(info.value) == f"invalid format for {name}: '{text}'"


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        (("1", "2"), {}, "{}.__new__() takes 1 positional arguments but 2 were given"),
        ((), {}, "{}.__new__() missing 1 required positional argument: 'value'"),
        (("1",), {"value": "2"}, "{}.__new__() got multiple values for argument 'value'"),
        ((), {"value": "1", "scale": 2}, "{}.__new__() got an unexpected keyword argument 'scale'"),
    ],
)
@pytest.mark.parametrize("name", KINDS)
def test_constructor_takes_exactly_one_value(name, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        cls(name)(*args, **kwargs)
    assert str(info.value) == message.format(name)


@pytest.mark.parametrize("name", KINDS)
def test_own_instance_passes_unchanged(name):
    original = cls(name)("1.50")
    assert repr(cls(name)(original)) == f"{name}(Decimal('1.50'))"


@pytest.mark.parametrize(
    "call, text",
    [
        (lambda c: c.from_string("1.50"), "1.50"),
        (lambda c: c.from_string(value="1e3"), "1000"),
        (lambda c: c.from_int(2**64), "18446744073709551616"),
        (lambda c: c.from_int(True), "1"),
        (lambda c: c.from_int(Index(5)), "5"),
        (lambda c: c.from_int(MAX_MANTISSA), str(MAX_MANTISSA)),
        (lambda c: c.from_float(0.1), "0.1"),
        (lambda c: c.from_float(1e-7), "0.0000001"),
        (lambda c: c.from_float(True), "1"),
        (lambda c: c.from_float(Decimal("2.5")), "2.5"),
        (lambda c: c.from_decimal(Decimal("1.50")), "1.50"),
        (lambda c: c.from_decimal(Decimal("-0.00")), "0.00"),
        (lambda c: c.from_decimal(Decimal("1E+3")), "1000"),
        (lambda c: c.from_decimal(Decimal("1.5E-7")), "0.00000015"),
    ],
)
@pytest.mark.parametrize("name", KINDS)
def test_factories(name, call, text):
    made = call(cls(name))
    assert type(made) is cls(name) and str(made) == text


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda c: c.from_string(1), TypeError, "argument 'value': 'int' object cannot be converted to 'PyString'"),
        (lambda c: c.from_string(" 1"), ParamError, "invalid format for {}: ' 1'"),
        (lambda c: c.from_int(1.5), TypeError, "argument 'value': 'float' object cannot be interpreted as an integer"),
        (lambda c: c.from_int(2**100), ParamError, "invalid format for {}: '1267650600228229401496703205376'"),
        (lambda c: c.from_int(2**127), OverflowError, None),
        (lambda c: c.from_float("1"), TypeError, "argument 'value': must be real number, not str"),
        (lambda c: c.from_float(float("nan")), ParamError, "invalid float value"),
        (lambda c: c.from_float(float("-inf")), ParamError, "invalid float value"),
        (lambda c: c.from_float(1e30), ParamError, "invalid float value"),
        (lambda c: c.from_float(10**400), OverflowError, None),
        (lambda c: c.from_decimal(1.5), TypeError, "{}.from_decimal expects decimal.Decimal"),
        (lambda c: c.from_decimal("1"), TypeError, "{}.from_decimal expects decimal.Decimal"),
        (lambda c: c.from_decimal(Decimal("NaN")), ParamError, "Invalid decimal: unknown character"),
        (lambda c: c.from_decimal(Decimal("-Infinity")), ParamError, "Invalid decimal: unknown character"),
        (lambda c: c.from_decimal(Decimal("sNaN")), ParamError, "Invalid decimal: unknown character"),
        (lambda c: c.from_int(), TypeError, "{}.from_int() missing 1 required positional argument: 'value'"),
        (lambda c: c.from_float(1, 2), TypeError, "{}.from_float() takes 1 positional arguments but 2 were given"),
        (lambda c: c.from_decimal(val=1), TypeError, "{}.from_decimal() got an unexpected keyword argument 'val'"),
        (lambda c: c(), TypeError, "{}.__new__() missing 1 required positional argument: 'value'"),
        (lambda c: c(1, value=1), TypeError, "{}.__new__() got multiple values for argument 'value'"),
    ],
)
@pytest.mark.parametrize("name", KINDS)
def test_factory_errors(name, call, error, message):
    with pytest.raises(error) as info:
        call(cls(name))
    assert type(info.value) is error
    if message is not None:
        assert str(info.value) == message.format(name)


@pytest.mark.parametrize(
    "call", [lambda c: c.from_int(-1), lambda c: c.from_string("-0.5"), lambda c: c.from_float(-0.1),
             lambda c: c.from_decimal(Decimal("-1"))]
)
@pytest.mark.parametrize("name", KINDS)
def test_factories_sign_rule(name, call):
    if name in NEVER_NEGATIVE:
        with pytest.raises(ParamError, match=f"^value must be non-negative for {name}$"):
            call(cls(name))
    else:
        assert call(cls(name)) < cls(name).ZERO


@pytest.mark.parametrize("name", KINDS)
def test_text_forms(name):
    value = cls(name)("1.50")
    assert str(value) == "1.50"
    assert repr(value) == f"{name}(Decimal('1.50'))"
    json = value.to_json_value()
    assert type(json) is str and json == "1.50"
    assert type(value.decimal) is Decimal and str(value.decimal) == "1.50"
    assert value.decimal is not value.decimal  # a new object on every read
    zero = cls(name).ZERO
    assert zero is cls(name).ZERO and type(zero) is cls(name) and str(zero) == "0"


@pytest.mark.parametrize("name", SIGNED)
def test_negative_text_forms(name):
    value = cls(name)(-3)
    assert (str(value), value.to_json_value(), repr(value)) == ("-3", "-3", f"{name}(Decimal('-3'))")


@pytest.mark.parametrize("name", KINDS)
def test_member_metadata(name):
    c = cls(name)
    warning = "WARNING:\nfloat values are inherently imprecise.\nUse decimal/string inputs for external monetary data."
    assert c.from_float.__doc__ == warning
    assert c.from_float.__text_signature__ == "(value)"
    for member in ("from_decimal", "from_string", "from_int"):
        assert getattr(c, member).__text_signature__ == "(value)" and not getattr(c, member).__doc__
    for member in ("from_decimal_rounded", "from_string_rounded", "from_float_rounded"):
        assert getattr(c, member).__text_signature__ == "(value, scale, strategy)"
        assert not getattr(c, member).__doc__
    assert c.to_json_value.__text_signature__ == "($self)"
    with pytest.raises(AttributeError):
        c(1).decimal = Decimal(2)
    with pytest.raises(TypeError):
        type("Sub", (c,), {})


@st.composite
def decimal_texts(draw):
    mantissa = draw(st.integers(min_value=0, max_value=MAX_MANTISSA))
    scale = draw(st.integers(min_value=0, max_value=28))
    return canonical(mantissa, scale, negative=mantissa != 0 and draw(st.booleans()))


@given(text=decimal_texts(), name=st.sampled_from(KINDS))
def test_text_round_trips(text, name):
    if name in NEVER_NEGATIVE and text.startswith("-"):
        return
    for made in (cls(name)(text), cls(name).from_string(text), cls(name).from_decimal(Decimal(text))):
        assert str(made) == text and made.to_json_value() == text
        assert made.decimal == Decimal(text)
        assert made.decimal.as_tuple().exponent == Decimal(text).as_tuple().exponent


@given(
    mantissa=st.integers(min_value=0, max_value=10**18),
    scale=st.integers(min_value=0, max_value=10),
    extra=st.integers(min_value=0, max_value=10),
    negative=st.booleans(),
    name=st.sampled_from(SIGNED),
)
def test_equal_values_hash_equal_across_scales(mantissa, scale, extra, negative, name):
    short = cls(name)(canonical(mantissa, scale, negative and mantissa != 0))
    longer = cls(name)(canonical(mantissa * 10**extra, scale + extra, negative and mantissa != 0))
    assert short == longer and hash(short) == hash(longer)
