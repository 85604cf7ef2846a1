"""Run by `make wheel-check` inside a fresh environment holding only the installed wheel:
the extension loads from there, and an engine, a price and a lock work end to end."""

import sys

import vantrel
import vantrel._vantrel
from vantrel.core import Order, OrderOperation
from vantrel.param import AccountId, Price, Quantity, TradeAmount
from vantrel.pretrade import Lock
from vantrel.pretrade.policies import OrderValidationPolicy

assert vantrel._vantrel.__file__.startswith(sys.prefix), vantrel._vantrel.__file__

assert str(Price("1.50") * 2) == "3.00"
lock = Lock([(0, "101.25"), (7, "2")])
assert Lock.from_cbor(lock.to_cbor()) == Lock.from_json(lock.to_json()) == lock

engine = vantrel.Engine.builder().full_sync().builtin(OrderValidationPolicy()).build()
order = Order(operation=OrderOperation(account_id=AccountId.from_int(1), side="BUY",
                                       trade_amount=TradeAmount.quantity(Quantity(3)), price=Price(100)))
result = engine.execute_pre_trade(order)
assert result.ok, result
result.reservation.commit()
print("wheel smoke: imported from", vantrel._vantrel.__file__)
