"""Decimal value classes: own members and the conversions between kinds."""

from decimal import Decimal, localcontext

import pytest
from hypothesis import given, strategies as st

from vantrel import ParamError
from vantrel.param import CashFlow, Fee, Leverage, Notional, Pnl, PositionSize, Price, Quantity, Volume
from decimal_kinds import MAX_MANTISSA, canonical


@pytest.mark.parametrize(
    "call, kind, text",
    [
        # sign-keeping and sign-flipping copies: mantissa and scale never change
        (lambda: Fee("1.50").to_pnl(), Pnl, "-1.50"),
        (lambda: Fee("-0.25").to_cash_flow(), CashFlow, "0.25"),
        (lambda: Fee(3).to_position_size(), PositionSize, "-3"),
        (lambda: Fee(0).to_pnl(), Pnl, "-0"),
        (lambda: Fee("0.00").to_position_size(), PositionSize, "-0.00"),
        (lambda: Pnl.from_fee(Fee("0.25")), Pnl, "-0.25"),
        (lambda: Pnl.from_fee(fee=Fee("-0.25")), Pnl, "0.25"),
        (lambda: Pnl("-3.20").to_cash_flow(), CashFlow, "-3.20"),
        (lambda: Pnl(5).to_position_size(), PositionSize, "5"),
        (lambda: Pnl("-0.00").to_cash_flow(), CashFlow, "0.00"),
        (lambda: CashFlow.from_pnl(Pnl("-3.20")), CashFlow, "-3.20"),
        (lambda: CashFlow.from_fee(Fee("1.50")), CashFlow, "-1.50"),
        (lambda: CashFlow.from_fee(fee=Fee(0)), CashFlow, "-0"),
        (lambda: CashFlow.from_volume_inflow(Volume("2.50")), CashFlow, "2.50"),
        (lambda: CashFlow.from_volume_outflow(volume=Volume("2.50")), CashFlow, "-2.50"),
        (lambda: CashFlow.from_volume_outflow(Volume(0)), CashFlow, "-0"),
        (lambda: Volume("2.50").to_cash_flow_inflow(), CashFlow, "2.50"),
        (lambda: Volume("2.50").to_cash_flow_outflow(), CashFlow, "-2.50"),
        (lambda: Volume("0.00").to_cash_flow_outflow(), CashFlow, "-0.00"),
        (lambda: Volume("1.50").to_position_size(), PositionSize, "1.50"),
        (lambda: Quantity("1.50").to_position_size(), PositionSize, "1.50"),
        (lambda: Notional.from_volume(Volume("1.50")), Notional, "1.50"),
        (lambda: Notional("1.50").to_volume(), Volume, "1.50"),
        (lambda: PositionSize.from_pnl(Pnl(-3)), PositionSize, "-3"),
        (lambda: PositionSize.from_fee(Fee("0.25")), PositionSize, "-0.25"),
        (lambda: PositionSize.from_fee(fee=Fee(0)), PositionSize, "-0"),
        # products and quotients at a price
        (lambda: Price(-2).calculate_volume(Quantity(3)), Volume, "6"),
        (lambda: Price(-2).calculate_position_size(quantity=Quantity(3)), PositionSize, "-6"),
        (lambda: Price(0).calculate_position_size(Quantity(3)), PositionSize, "0"),
        (lambda: Quantity("1.5").calculate_volume(Price("2.00")), Volume, "3.000"),
        (lambda: Quantity("1.5").calculate_volume(price=Price("-2.00")), Volume, "3.000"),
        (lambda: Quantity("1.5").calculate_volume(Price(0)), Volume, "0"),
        (lambda: Volume(10).calculate_quantity(Price(-4)), Quantity, "2.5"),
        (lambda: Volume(0).calculate_quantity(Price(5)), Quantity, "0"),
        (lambda: Volume(1).calculate_quantity(Price(3)), Quantity, "0.3333333333333333333333333333"),
        (lambda: Notional.from_price_quantity(Price("-2.5"), Quantity("1.50")), Notional, "3.750"),
        (lambda: Notional.from_price_quantity(quantity=Quantity(2), price=Price(0)), Notional, "0"),
        (lambda: Notional(1000).calculate_margin_required(4), Notional, "250"),
        (lambda: Notional(1000).calculate_margin_required(leverage=2.5), Notional, "400"),
        (lambda: Notional(1000).calculate_margin_required(Leverage(10)), Notional, "100"),
        (lambda: Notional(0).calculate_margin_required(3000), Notional, "0"),
        # positions from a quantity and a side
        (lambda: PositionSize.from_quantity_and_side(Quantity("1.50"), "sell"), PositionSize, "-1.50"),
        (lambda: PositionSize.from_quantity_and_side(Quantity("1.50"), " Buy "), PositionSize, "1.50"),
        (lambda: PositionSize.from_quantity_and_side(side="SELL", quantity=Quantity(0)), PositionSize, "-0"),
        (lambda: PositionSize("0.5").checked_add_quantity(Quantity(1), "sell"), PositionSize, "-0.5"),
        (lambda: PositionSize(-2).checked_add_quantity(qty=Quantity("0.5"), side="buy"), PositionSize, "-1.5"),
    ],
)
def test_conversions(call, kind, text):
    result = call()
    assert type(result) is kind and str(result) == text


def test_converted_negative_zero_equals_zero():
    for zero in (Fee(0).to_pnl(), CashFlow.from_volume_outflow(Volume(0)), PositionSize.from_quantity_and_side(Quantity(0), "sell")):
        assert zero == type(zero).ZERO and not zero and hash(zero) == hash(type(zero).ZERO)
        assert repr(zero) == f"{type(zero).__name__}(Decimal('-0'))" and zero.to_json_value() == "-0"
        assert str(zero.decimal) == "-0"


def test_margin_required_of_one_third():
    margin = Notional(1000).calculate_margin_required(3000)
    assert abs(margin.decimal - Decimal(1) / 3) < Decimal("1e-26")


@pytest.mark.parametrize(
    "size, open_, close",
    [
        ("-2.50", ("2.50", "SELL"), ("2.50", "BUY")),
        ("2.50", ("2.50", "BUY"), ("2.50", "SELL")),
        ("0.000", ("0", "BUY"), ("0", None)),
    ],
)
def test_open_and_close_quantities(size, open_, close):
    for value in [PositionSize(size)] + ([PositionSize.from_fee(Fee(0))] if size == "0.000" else []):
        for method, (text, side) in ((value.to_open_quantity, open_), (value.to_close_quantity, close)):
            quantity, got_side = method()
            assert type(quantity) is Quantity and str(quantity) == text
            assert got_side == side and (side is None or type(got_side) is str)


def test_checked_add_quantity_leaves_self_unchanged():
    size = PositionSize("0.5")
    size.checked_add_quantity(Quantity(1), "sell")
    assert str(size) == "0.5"


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: Pnl.from_fee(0.25), TypeError, "argument 'fee': 'float' object cannot be converted to 'Fee'"),
        (lambda: Pnl.from_fee(Pnl(1)), TypeError, "argument 'fee': 'Pnl' object cannot be converted to 'Fee'"),
        (lambda: Pnl.from_fee(), TypeError, "Pnl.from_fee() missing 1 required positional argument: 'fee'"),
        (lambda: CashFlow.from_pnl(Fee(1)), TypeError, "argument 'pnl': 'Fee' object cannot be converted to 'Pnl'"),
        (lambda: CashFlow.from_fee(Pnl(1)), TypeError, "argument 'fee': 'Pnl' object cannot be converted to 'Fee'"),
        (lambda: CashFlow.from_volume_inflow(5), TypeError,
         "argument 'volume': 'int' object cannot be converted to 'Volume'"),
        (lambda: Notional.from_volume(Notional(1)), TypeError,
         "argument 'volume': 'Notional' object cannot be converted to 'Volume'"),
        (lambda: Price(2).calculate_volume(3), TypeError,
         "argument 'quantity': 'int' object cannot be converted to 'Quantity'"),
        (lambda: Price(2).calculate_position_size(Decimal(3)), TypeError,
         "argument 'quantity': 'Decimal' object cannot be converted to 'Quantity'"),
        (lambda: Quantity(1).calculate_volume(2), TypeError,
         "argument 'price': 'int' object cannot be converted to 'Price'"),
        (lambda: Volume(1).calculate_quantity(Pnl(1)), TypeError,
         "argument 'price': 'Pnl' object cannot be converted to 'Price'"),
        (lambda: Volume(10).calculate_quantity(Price("0.00")), ParamError, "invalid price value"),
        (lambda: Notional.from_price_quantity(1, "x"), TypeError,
         "argument 'price': 'int' object cannot be converted to 'Price'"),
        (lambda: Notional.from_price_quantity(Price(1), Volume(1)), TypeError,
         "argument 'quantity': 'Volume' object cannot be converted to 'Quantity'"),
        (lambda: Notional(1).calculate_margin_required("2"), ValueError,
         "leverage must be vantrel.param.Leverage, int, or float"),
        (lambda: Notional(1).calculate_margin_required(0), ValueError, "invalid leverage value"),
        (lambda: PositionSize.from_quantity_and_side(Decimal(1), "buy"), TypeError,
         "argument 'quantity': 'Decimal' object cannot be converted to 'Quantity'"),
        (lambda: PositionSize.from_quantity_and_side(Quantity(1), 1), TypeError,
         "argument 'side': 'int' object cannot be converted to 'PyString'"),
        (lambda: PositionSize.from_quantity_and_side(Pnl(1), 1), TypeError,
         "argument 'quantity': 'Pnl' object cannot be converted to 'Quantity'"),
        (lambda: PositionSize.from_quantity_and_side(Quantity(1), "long"), ValueError,
         "invalid side \"long\"; expected 'buy' or 'sell'"),
        (lambda: PositionSize(1).checked_add_quantity(1, "buy"), TypeError,
         "argument 'qty': 'int' object cannot be converted to 'Quantity'"),
        (lambda: PositionSize.from_pnl(Fee(1)), TypeError, "argument 'pnl': 'Fee' object cannot be converted to 'Pnl'"),
        (lambda: Fee(1).to_pnl(1), TypeError, None),
        (lambda: Volume(1).to_cash_flow_outflow(x=1), TypeError, None),
        (lambda: PositionSize(1).to_open_quantity(1), TypeError, None),
    ],
)
def test_member_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert type(info.value) is error
    if message is not None:
        assert str(info.value) == message


@pytest.mark.parametrize(
    "call",
    [
        lambda: PositionSize.from_int(MAX_MANTISSA).checked_add_quantity(Quantity(1), "buy"),
        lambda: PositionSize.from_int(MAX_MANTISSA) + PositionSize(1),
        lambda: PositionSize.from_int(-MAX_MANTISSA) - PositionSize(1),
    ],
)
def test_position_overflow(call):
    with pytest.raises(ParamError, match="^arithmetic overflow in PositionSize$"):
        call()


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Price.from_int(MAX_MANTISSA).calculate_volume(Quantity(2)), "arithmetic overflow in Price"),
        (lambda: Price.from_int(MAX_MANTISSA).calculate_position_size(Quantity(2)), "arithmetic overflow in Price"),
        (lambda: Notional.from_price_quantity(Price.from_int(MAX_MANTISSA), Quantity(2)), "arithmetic overflow in Price"),
        (lambda: Notional.from_int(MAX_MANTISSA).calculate_margin_required(2), "arithmetic overflow in Notional"),
        (lambda: Volume.from_int(MAX_MANTISSA).calculate_quantity(Price("0.1")), "arithmetic overflow in Volume"),
    ],
)
def test_member_overflow(call, message):
    with pytest.raises(ParamError) as info:
        call()
    assert str(info.value) == message


@pytest.mark.parametrize(
    "function, signature",
    [
        (Price.calculate_position_size, "($self, quantity)"),
        (Notional.from_price_quantity, "(price, quantity)"),
        (Fee.to_pnl, "($self)"),
        (PositionSize.checked_add_quantity, "($self, qty, side)"),
    ],
)
def test_member_signatures(function, signature):
    assert function.__text_signature__ == signature and not function.__doc__


# Products of two of these always fit the 96-bit mantissa, so they are exact.
amounts = st.builds(
    canonical, st.integers(min_value=0, max_value=10**13), st.integers(min_value=0, max_value=8), st.booleans()
)


@given(price=amounts, quantity=amounts)
def test_products_at_a_price_agree(price, quantity):
    p, q = Price(price), Quantity(quantity.lstrip("-"))
    volume = q.calculate_volume(p)
    assert volume == p.calculate_volume(q) == Notional.from_price_quantity(p, q).to_volume()
    assert str(volume) == str(p.calculate_volume(q))
    with localcontext() as context:
        context.prec = 60
        product = Decimal(price) * Decimal(quantity.lstrip("-"))
    assert volume.decimal == abs(product) and p.calculate_position_size(q).decimal == product


@given(amount=amounts)
def test_cash_flow_factories_match_source_conversions(amount):
    volume, fee, pnl = Volume(amount.lstrip("-")), Fee(amount), Pnl(amount)
    pairs = [
        (CashFlow.from_volume_inflow(volume), volume.to_cash_flow_inflow()),
        (CashFlow.from_volume_outflow(volume), volume.to_cash_flow_outflow()),
        (CashFlow.from_fee(fee), fee.to_cash_flow()),
        (CashFlow.from_pnl(pnl), pnl.to_cash_flow()),
        (PositionSize.from_fee(fee), fee.to_position_size()),
        (Pnl.from_fee(fee), fee.to_pnl()),
    ]
    for ours, theirs in pairs:
        assert type(ours) is type(theirs) and str(ours) == str(theirs) and ours == theirs
    assert CashFlow.from_fee(fee) == -CashFlow(amount) and str(CashFlow.from_pnl(pnl)) == str(pnl)
