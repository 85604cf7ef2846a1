"""vantrel.core.Order and its parts: constructors, properties, copy semantics, representations."""

import pytest
from hypothesis import given, strategies as st

from vantrel.core import Order, OrderMargin, OrderOperation, OrderPosition
from vantrel.param import AccountId, Leverage, PositionSide, Price, Quantity, Side, TradeAmount
from repr_kit import quoted
from stand_ins import StrSubclass

NumpyBool = type("bool_", (), {"__module__": "numpy", "__bool__": lambda self: self.value, "__init__":
                               lambda self, value: setattr(self, "value", value)})

NOT_ASSET = "asset must be a str"
EMPTY_ASSET = "asset must not be empty"


def raises(kind, text, call):
    with pytest.raises(kind) as info:
        call()
    assert type(info.value) is kind
    assert str(info.value) == text


def limit_operation(**overrides):
    fields = dict(underlying_asset="BTC", settlement_asset="USD", account_id=AccountId.from_int(7),
                  side=Side.BUY, trade_amount=TradeAmount.quantity(10), price=100)
    fields.update(overrides)
    return OrderOperation(**fields)


# ---- representations

REPRS = [
    (Order(), "Order(operation=None, position=None, margin=None)"),
    (OrderOperation(account_id=AccountId.from_int(7)),
     "OrderOperation(underlying_asset=None, settlement_asset=None, side=None, trade_amount=None, price=None)"),
    (OrderOperation(underlying_asset="BTC", settlement_asset="USD", trade_amount=TradeAmount.quantity(10), price=100),
     'OrderOperation(underlying_asset=Some("BTC"), settlement_asset=Some("USD"), side=None, '
     'trade_amount=Some("TradeAmount.quantity(value=Quantity(10))"), price=Some("100"))'),
    (OrderOperation(side="sell", trade_amount=TradeAmount.volume("2.50"), price="-1.50"),
     'OrderOperation(underlying_asset=None, settlement_asset=None, side=Some(Side.SELL), '
     'trade_amount=Some("TradeAmount.volume(value=Volume(2.50))"), price=Some("-1.50"))'),
    (OrderPosition(), "OrderPosition(position_side=None, reduce_only=false, close_position=false)"),
    (OrderPosition(position_side=PositionSide.SHORT, reduce_only=True),
     "OrderPosition(position_side=Some(PositionSide.SHORT), reduce_only=true, close_position=false)"),
    (OrderMargin(leverage=10, collateral_asset="USDT"),
     'OrderMargin(leverage=Some(10.0), collateral_asset=Some("USDT"), auto_borrow=false)'),
    (OrderMargin(leverage=1.1, auto_borrow=True), "OrderMargin(leverage=Some(1.1), collateral_asset=None, auto_borrow=true)"),
    (OrderMargin(leverage=Leverage(2.5)), "OrderMargin(leverage=Some(2.5), collateral_asset=None, auto_borrow=false)"),
    (Order(margin=OrderMargin()),
     'Order(operation=None, position=None, margin=Some("OrderMargin(leverage=None, collateral_asset=None, '
     'auto_borrow=false)"))'),
    # Quotes and backslashes are escaped once per level of nesting; a single quote stands.
    (Order(operation=OrderOperation(underlying_asset='a"b', settlement_asset="it's\\")),
     'Order(operation=Some("OrderOperation(underlying_asset=Some(\\"a\\\\\\"b\\"), '
     'settlement_asset=Some(\\"it\'s\\\\\\\\\\"), side=None, trade_amount=None, price=None)"), '
     "position=None, margin=None)"),
    (OrderOperation(underlying_asset="x\ty\n\x00\u0301"),
     'OrderOperation(underlying_asset=Some("x\\ty\\n\\0\\u{301}"), settlement_asset=None, side=None, '
     "trade_amount=None, price=None)"),
]


@pytest.mark.parametrize("record, text", REPRS)
def test_representation(record, text):
    assert repr(record) == text


def test_each_side_and_position_side_prints_apart():
    texts = {repr(OrderOperation(side=s)) for s in [None, "buy", "sell"]}
    texts |= {repr(OrderPosition(position_side=s)) for s in [None, "long", "short"]}
    assert len(texts) == 6


# ---- accepted values and their errors, constructor and setter alike

FIELD_ERRORS = [
    # (class, field, value, exception, text)
    (OrderOperation, "underlying_asset", 1, TypeError, NOT_ASSET),
    (OrderOperation, "settlement_asset", " \t", ValueError, EMPTY_ASSET),
    (OrderOperation, "account_id", 7, TypeError, "account_id must be vantrel.param.AccountId"),
    (OrderOperation, "side", 1, TypeError, "side must be a str or vantrel.Side"),
    (OrderOperation, "side", "hold", TypeError, "ValueError: invalid side \"hold\"; expected 'buy' or 'sell'"),
    (OrderOperation, "trade_amount", Quantity(1), TypeError, "trade_amount must be vantrel.param.TradeAmount"),
    (OrderOperation, "price", Quantity(1), TypeError, "Price must be a Decimal, str, int, or float"),
    (OrderOperation, "price", "abc", "ParamError", "invalid format for Price: 'abc'"),
    (OrderPosition, "position_side", 1, TypeError, "position_side must be a str or vantrel.PositionSide"),
    (OrderPosition, "position_side", "flat", TypeError,
     "ValueError: invalid position side \"flat\"; expected 'long' or 'short'"),
    (OrderMargin, "leverage", "2", TypeError, "leverage must be vantrel.param.Leverage, int, or float"),
    (OrderMargin, "leverage", 0.5, ValueError, "invalid leverage value"),
    (OrderMargin, "collateral_asset", b"USD", TypeError, NOT_ASSET),
    (Order, "operation", OrderPosition(), TypeError, "operation must be vantrel.core.OrderOperation"),
    (Order, "position", OrderMargin(), TypeError, "position must be vantrel.core.OrderPosition"),
    (Order, "margin", 1, TypeError, "margin must be vantrel.core.OrderMargin"),
]


def check_error(kind, text, call):
    if isinstance(kind, str):
        with pytest.raises(Exception) as info:
            call()
        assert type(info.value).__name__ == kind
        assert str(info.value) == text
    else:
        raises(kind, text, call)


@pytest.mark.parametrize("cls, field, value, kind, text", FIELD_ERRORS)
def test_field_refusals(cls, field, value, kind, text):
    check_error(kind, text, lambda: cls(**{field: value}))
    record = cls()
    before = repr(record)
    check_error(kind, text, lambda: setattr(record, field, value))
    assert repr(record) == before  # a failed assignment changes nothing


FLAGS = [(OrderPosition, "reduce_only"), (OrderPosition, "close_position"), (OrderMargin, "auto_borrow")]


@pytest.mark.parametrize("cls, field", FLAGS)
@pytest.mark.parametrize("value", [None, 0, 1, "true", 1.0])
def test_flags_take_only_bools(cls, field, value):
    type_name = type(value).__name__
    raises(TypeError, f"argument '{field}': '{type_name}' object cannot be converted to 'PyBool'",
           lambda: cls(**{field: value}))
    record = cls()
    raises(TypeError, f"argument 'value': '{type_name}' object cannot be converted to 'PyBool'",
           lambda: setattr(record, field, value))


@pytest.mark.parametrize("cls, field", FLAGS)
def test_flags_take_numpy_bools_by_their_truth(cls, field):
    record = cls(**{field: NumpyBool(True)})
    assert getattr(record, field) is True
    setattr(record, field, NumpyBool(False))
    assert getattr(record, field) is False


CONVERSION_ORDER = [
    # Two bad arguments: the first in conversion order wins.
    (OrderOperation, dict(underlying_asset=1, price="x"), TypeError, NOT_ASSET),
    (OrderOperation, dict(settlement_asset="", underlying_asset=1), TypeError, NOT_ASSET),
    (OrderOperation, dict(price="x", trade_amount=1), TypeError, "trade_amount must be vantrel.param.TradeAmount"),
    (OrderOperation, dict(side=1, account_id=1), TypeError, "account_id must be vantrel.param.AccountId"),
    (OrderPosition, dict(position_side=1, close_position=None), TypeError,
     "argument 'close_position': 'NoneType' object cannot be converted to 'PyBool'"),
    (OrderPosition, dict(close_position=None, reduce_only=None), TypeError,
     "argument 'reduce_only': 'NoneType' object cannot be converted to 'PyBool'"),
    (OrderMargin, dict(leverage="x", auto_borrow=None), TypeError,
     "argument 'auto_borrow': 'NoneType' object cannot be converted to 'PyBool'"),
    (OrderMargin, dict(collateral_asset=1, leverage="x"), TypeError,
     "leverage must be vantrel.param.Leverage, int, or float"),
    (Order, dict(margin=1, position=1, operation=1), TypeError, "operation must be vantrel.core.OrderOperation"),
    (Order, dict(margin=1, position=1), TypeError, "position must be vantrel.core.OrderPosition"),
]


@pytest.mark.parametrize("cls, kwargs, kind, text", CONVERSION_ORDER)
def test_conversion_order(cls, kwargs, kind, text):
    raises(kind, text, lambda: cls(**kwargs))


@pytest.mark.parametrize("cls", [Order, OrderOperation, OrderPosition, OrderMargin])
def test_keyword_only(cls):
    with pytest.raises(TypeError, match="positional"):
        cls(None)
    with pytest.raises(TypeError, match="unexpected keyword argument 'bogus'"):
        cls(bogus=1)


# ---- properties

PROPERTIES = {
    Order: ["operation", "position", "margin"],
    OrderOperation: ["underlying_asset", "settlement_asset", "account_id", "side", "trade_amount", "price"],
    OrderPosition: ["position_side", "reduce_only", "close_position"],
    OrderMargin: ["leverage", "collateral_asset", "auto_borrow"],
}


@pytest.mark.parametrize("cls, field", [(c, f) for c, fields in PROPERTIES.items() for f in fields])
def test_deletion_is_refused(cls, field):
    record = cls()
    before = getattr(record, field)
    raises(AttributeError, "can't delete attribute", lambda: delattr(record, field))
    assert getattr(record, field) == before


def test_values_read_back_as_new_objects():
    operation = limit_operation(side=" Sell ", underlying_asset=StrSubclass("ETH"))
    assert operation.side is Side.SELL
    assert type(operation.underlying_asset) is str and operation.underlying_asset == "ETH"
    assert operation.price is not operation.price and operation.price == Price(100)
    assert repr(operation.account_id) == "AccountId(value=7)"
    assert repr(operation.trade_amount) == "TradeAmount.quantity(value=Quantity(10))"
    margin = OrderMargin(leverage=25)
    assert type(margin.leverage) is Leverage and repr(margin.leverage) == "Leverage(value=25.0)"
    assert OrderPosition(position_side=" Long").position_side is PositionSide.LONG


@pytest.mark.parametrize(
    "cls, field, value",
    [(OrderOperation, "underlying_asset", "BTC"), (OrderOperation, "settlement_asset", "USD"),
     (OrderOperation, "account_id", AccountId.from_int(1)), (OrderOperation, "side", "buy"),
     (OrderOperation, "trade_amount", TradeAmount.volume(1)), (OrderOperation, "price", 5),
     (OrderPosition, "position_side", "short"), (OrderMargin, "leverage", 3),
     (OrderMargin, "collateral_asset", "USDC"), (Order, "operation", OrderOperation()),
     (Order, "position", OrderPosition()), (Order, "margin", OrderMargin())],
)
def test_optional_fields_set_and_clear(cls, field, value):
    record = cls()
    assert getattr(record, field) is None
    setattr(record, field, value)
    assert getattr(record, field) is not None
    setattr(record, field, None)
    assert getattr(record, field) is None


# ---- child records: copied in, the stored object read back

class OperationSub(OrderOperation):
    pass


def test_parts_are_copied_on_the_way_in():
    passed = OperationSub(price=1)
    order = Order(operation=passed)
    stored = order.operation
    assert stored is not passed and type(stored) is OrderOperation
    assert order.operation is stored  # the getter hands out the stored object itself
    passed.price = 2
    assert order.operation.price == Price(1)
    order.operation.price = 3  # through the stored object: reaches the order
    assert order.operation.price == Price(3)
    order.operation = passed
    assert order.operation is not stored and order.operation.price == Price(2)


def test_subclassed_orders_keep_their_own_attributes():
    class MyOrder(Order):
        pass

    order = MyOrder(operation=OrderOperation(price=1))
    order.tag = "x"
    assert order.tag == "x" and order.operation.price == Price(1)
    assert repr(order).startswith("Order(operation=Some(")


def test_records_compare_by_identity():
    a, b = OrderPosition(), OrderPosition()
    assert a != b and a == a


# ---- the nesting law: a parent shows its part's own representation, quoted once more

asset_text = st.text(alphabet=st.characters(max_codepoint=0x7F), min_size=1, max_size=20).filter(
    lambda t: t.strip() != "")


@given(underlying=asset_text, collateral=asset_text)
def test_nested_representations_quote_each_level(underlying, collateral):
    operation = OrderOperation(underlying_asset=underlying)
    margin = OrderMargin(collateral_asset=collateral)
    assert repr(operation) == (f"OrderOperation(underlying_asset=Some({quoted(underlying)}), settlement_asset=None, "
                               "side=None, trade_amount=None, price=None)")
    order = Order(operation=operation, margin=margin)
    assert repr(order) == (f"Order(operation=Some({quoted(repr(operation))}), position=None, "
                           f"margin=Some({quoted(repr(margin))}))")
    assert order.operation.underlying_asset == underlying and order.margin.collateral_asset == collateral
