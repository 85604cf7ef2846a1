"""Decimal value classes: arithmetic, comparison, hashing and the other slots."""

import operator
from decimal import Decimal, localcontext
from fractions import Fraction

import pytest
from hypothesis import given, strategies as st

from vantrel import ParamError
from vantrel.param import CashFlow, Fee, Leverage, Pnl, PositionSize, Price, Quantity, Volume
from decimal_kinds import KINDS, MAX_MANTISSA, NEVER_NEGATIVE, SIGNED, NumpyBool, canonical, cls, other_kind


def exact(expression):
    """Python's decimal with room for every exact result here."""
    with localcontext() as context:
        context.prec = 200
        return expression()


@pytest.mark.parametrize(
    "expression, text",
    [
        (lambda: Price(1) + Price("2.50"), "3.50"),
        (lambda: Pnl(-1) - Pnl(2), "-3"),
        (lambda: CashFlow(-5) + CashFlow(2), "-3"),
        (lambda: Price(2) * 3, "6"),
        (lambda: 3 * Price(2), "6"),
        (lambda: Price(2) * Decimal("1.5"), "3.0"),  # the Decimal is taken as a double
        (lambda: Price(2) * Fraction(1, 4), "0.50"),
        (lambda: Price(2) * (2**64 - 1), "36893488147419103230"),
        (lambda: Price("1.50") * 0, "0.00"),
        (lambda: Price(1) / 3, "0.3333333333333333333333333333"),
        (lambda: Price(3) / 2, "1.5"),
        (lambda: Price(-7) % 2, "-1"),
        (lambda: Price(7) % -2, "1"),
        (lambda: Quantity(3) * 2, "6"),
        (lambda: 2 * Quantity(3), "6"),
        (lambda: Quantity(3) * 2.0, "6"),
        (lambda: Quantity("1.50") * 0, "0"),
        (lambda: Quantity("1.50") * 0.0, "0"),
        (lambda: Quantity(2) - Quantity(2), "0"),
        (lambda: Volume(7) % 2, "1"),
        (lambda: Quantity(1) / 4, "0.25"),
    ],
)
def test_arithmetic_results(expression, text):
    assert str(expression()) == text


@pytest.mark.parametrize("name", KINDS)
@pytest.mark.parametrize(
    "expression, message",
    [
        (lambda c: c(2) * 2**64, "integer operand is out of range for i64/u64"),
        (lambda c: c(2) / (-(2**63) - 1), "integer operand is out of range for i64/u64"),
        (lambda c: c(2) * float("inf"), "invalid float value"),
        (lambda c: c(2) / float("nan"), "invalid float value"),
        (lambda c: c(2) * 1e30, "invalid float value"),
        (lambda c: c(3) / 0, "division by zero in {}"),
        (lambda c: c(3) / 0.0, "division by zero in {}"),
        (lambda c: c(3) % 0, "division by zero in {}"),
        (lambda c: c(3) / 1e-300, "division by zero in {}"),
        (lambda c: c.from_int(MAX_MANTISSA) + c(1), "arithmetic overflow in {}"),
        (lambda c: c.from_int(MAX_MANTISSA) * 2, "arithmetic overflow in {}"),
        (lambda c: c.from_int(MAX_MANTISSA) / 0.5, "arithmetic overflow in {}"),
    ],
)
def test_arithmetic_errors(name, expression, message):
    with pytest.raises(ParamError) as info:
        expression(cls(name))
    assert str(info.value) == message.format(name)


@pytest.mark.parametrize("name", sorted(NEVER_NEGATIVE))
@pytest.mark.parametrize(
    "expression, message",
    [
        (lambda c: c(1) - c(2), "arithmetic underflow in {}"),
        (lambda c: c(3) * -2, "value must be non-negative for {}"),
        (lambda c: -2 * c(3), "value must be non-negative for {}"),
        (lambda c: c(0) * -1, "value must be non-negative for {}"),  # the operand is checked first
        (lambda c: c(3) * -0.5, "value must be non-negative for {}"),
        (lambda c: c(1) / -2, "value must be non-negative for {}"),
        (lambda c: c(1) % Decimal("-1.5"), "value must be non-negative for {}"),
        (lambda c: c(1) / float("inf"), "invalid float value"),
        (lambda c: c(1) % 0.0, "division by zero in {}"),
    ],
)
def test_never_negative_operands(name, expression, message):
    with pytest.raises(ParamError) as info:
        expression(cls(name))
    assert str(info.value) == message.format(name)


@pytest.mark.parametrize("name", KINDS)
@pytest.mark.parametrize(
    "expression",
    [
        lambda c: c(1) + 1,
        lambda c: 1 + c(1),
        lambda c: c(1) - Decimal(1),
        lambda c: c(1) + other_kind(c.__name__)(1),
        lambda c: c(1) * c(2),
        lambda c: c(2) / c(1),
        lambda c: 2 / c(1),
        lambda c: 2 % c(1),
        lambda c: c(2) * True,
        lambda c: c(2) * NumpyBool(),
        lambda c: c(2) * "3",
        lambda c: c(2) * None,
        lambda c: c(2) * Leverage(2),
        lambda c: c(2) * other_kind(c.__name__)(1),
        lambda c: c(2) // 1,
        lambda c: c(2) ** 2,
        lambda c: +c(2),
        lambda c: abs(c(2)),
        lambda c: int(c(2)),
        lambda c: operator.index(c(2)),
        lambda c: round(c(2)),
        lambda c: c(1) < 1,
        lambda c: c(1) >= other_kind(c.__name__)(1),
    ],
)
def test_unsupported_operands_are_the_interpreters_type_error(name, expression):
    with pytest.raises(TypeError):
        expression(cls(name))


@pytest.mark.parametrize("name", KINDS)
def test_comparison(name):
    c = cls(name)
    assert c("1.50") == c("1.5") and not c("1.50") != c("1.5")
    assert c(1) < c(2) <= c(2) and c(3) > c("2.99") >= c("2.99")
    assert c(0) == c("0.000") == c("-0")
    assert c(1) != 1 and not c(1) == 1 and not c(1) == Decimal(1)
    assert not c(1) == other_kind(name)(1) and c(1) != other_kind(name)(1)
    assert c(1).__eq__(1) is NotImplemented


# Mantissas at the edges of the fast comparison: 64-bit mantissas whose scales
# differ by exactly 20 (one more than the fast path widens), and the largest
# mantissa that still takes one more digit.
@pytest.mark.parametrize(
    "left, right",
    [
        (10208471007628153904, "0.18446744073709551615"),
        (18446744073709551615, "0.18446744073709551615"),
        ("0.00000000000000000001", "18446744073709551615"),
        ("7922816251426433759354395033", "7922816251426433759354395033.0"),
        ("7922816251426433759354395033.0", "7922816251426433759354395034"),
        ("7922816251426433759354395034", "7922816251426433759354395033.4"),
        ("79228162514264337593543950335", "7922816251426433759354395033.5"),
    ],
)
@pytest.mark.parametrize("swap", [False, True])
def test_comparison_across_scales_matches_decimal(left, right, swap):
    if swap:
        left, right = right, left
    ours = (cls("Price")(left), cls("Price")(right))
    exact = (Decimal(left), Decimal(right))
    assert (ours[0] < ours[1], ours[0] == ours[1], ours[0] > ours[1]) == (
        exact[0] < exact[1], exact[0] == exact[1], exact[0] > exact[1])
    assert (ours[0] <= ours[1], ours[0] != ours[1]) == (exact[0] <= exact[1], exact[0] != exact[1])


@pytest.mark.parametrize("name", SIGNED)
def test_signed_ordering_and_negation(name):
    c = cls(name)
    assert c(-2) < c(-1) < c(0) < c(1)
    assert str(-c("1.5")) == "-1.5" and str(-c(-2)) == "2"
    assert str(-c("0.00")) == "0.00"  # a zero keeps its sign flag and scale


@pytest.mark.parametrize("name", sorted(NEVER_NEGATIVE))
def test_never_negative_has_no_negation(name):
    with pytest.raises(TypeError):
        -cls(name)(1)


@pytest.mark.parametrize("name", KINDS)
def test_bool_float_hash(name):
    c = cls(name)
    assert not c("0.00") and not c("-0") and not c.ZERO and c("0.01")
    assert float(c("1.1")) == 1.1 and float(c.from_int(2**64)) == 2.0**64 and float(c(0)) == 0.0
    assert hash(c("1.5")) == hash(c("1.50")) and hash(c.ZERO) == hash(c("0.000"))
    assert hash(c(1)) == hash(other_kind(name)(1))  # equal numbers hash alike across kinds
    assert hash(c(2)) != hash(c(1))


def test_negative_zero_behaves_as_zero():
    zeros = [Fee(0).to_pnl(), CashFlow.from_volume_outflow(Volume("0.00")), PositionSize.from_fee(Fee(0))]
    for zero in zeros:
        assert str(zero).startswith("-0") and not zero
        assert zero == type(zero).ZERO and hash(zero) == hash(type(zero).ZERO)
        assert str(-zero) == str(zero)  # unary minus leaves every zero as it is
    assert float(zeros[0]) == 0.0


def test_operands_are_not_changed():
    a, b = Price("1.5"), Price("2.5")
    results = [a + b, a - b, a * 2, a / 2, a % 1, -a]
    assert (str(a), str(b)) == ("1.5", "2.5")
    assert all(type(r) is Price and r is not a for r in results)


# ---- differential: exact results agree with Python's decimal ----------------------------

# Aligned to a common scale, sums of these still fit the 96-bit mantissa, so they are exact.
amounts = st.builds(
    lambda m, s, neg: canonical(m, s, neg and m != 0),
    st.integers(min_value=0, max_value=10**15),
    st.integers(min_value=0, max_value=12),
    st.booleans(),
)


@given(a=amounts, b=amounts, name=st.sampled_from(SIGNED))
def test_sum_difference_product_agree_with_decimal(a, b, name):
    c, da, db = cls(name), Decimal(a), Decimal(b)
    for ours, theirs in [(c(a) + c(b), exact(lambda: da + db)), (c(a) - c(b), exact(lambda: da - db))]:
        assert ours.decimal == theirs and ours.decimal.as_tuple().exponent == theirs.as_tuple().exponent


@given(
    mantissa=st.integers(min_value=0, max_value=2**60),
    scale=st.integers(min_value=0, max_value=12),
    negative=st.booleans(),
    n=st.integers(min_value=-(2**63), max_value=2**64 - 1),
    name=st.sampled_from(SIGNED),
)
def test_integer_operands_agree_with_decimal(mantissa, scale, negative, n, name):
    c, text = cls(name), canonical(mantissa, scale, negative and mantissa != 0)
    value, reference = c(text), Decimal(text)
    if mantissa * abs(n) <= MAX_MANTISSA:  # the product is exact
        product = exact(lambda: reference * n)
        for ours in (value * n, n * value):
            assert ours.decimal == product and ours.decimal.as_tuple().exponent == product.as_tuple().exponent
    if n != 0:
        remainder = exact(lambda: reference % n)
        assert (value % n).decimal == remainder
        assert (value % n).decimal.as_tuple().exponent == remainder.as_tuple().exponent
        quotient = exact(lambda: reference / n)
        assert abs((value / n).decimal - quotient) <= abs(quotient) * Decimal("1e-27") + Decimal("1e-28")
