"""Cost of a typical limit order: building it in Python, and converting it into the engine's record.

Run with the package importable (``make bench`` installs it; a developer build works with
PYTHONPATH=<build>/stage). Building prints ours beside a slotted pure-Python record of the same
shape. The conversion runs through the test-only probe module built with the C++ suite
(``make cpp``; VANTREL_CPP_BUILD names another build directory) and prints beside its 80 ns budget.
"""

from __future__ import annotations

import importlib
import os
import pathlib
import sys
import timeit

from vantrel.core import Order, OrderOperation
from vantrel.param import AccountId, Price, Side, TradeAmount

ROUNDS = 7
NUMBER = 200_000
EXTRACT_BUDGET_NS = 80.0
ROOT = pathlib.Path(__file__).resolve().parents[1]


class PyOperation:
    __slots__ = ("underlying_asset", "settlement_asset", "account_id", "side", "trade_amount", "price")

    def __init__(self, *, underlying_asset=None, settlement_asset=None, account_id=None, side=None,
                 trade_amount=None, price=None):
        self.underlying_asset = underlying_asset
        self.settlement_asset = settlement_asset
        self.account_id = account_id
        self.side = side
        self.trade_amount = trade_amount
        self.price = price


class PyOrder:
    __slots__ = ("operation", "position", "margin")

    def __init__(self, *, operation=None, position=None, margin=None):
        self.operation = operation
        self.position = position
        self.margin = margin


def per_call_ns(statement: str, namespace: dict, number: int = NUMBER) -> float:
    timer = timeit.Timer(statement, globals=namespace)
    return min(timer.repeat(repeat=ROUNDS, number=number)) / number * 1e9


def load_probe():
    directory = pathlib.Path(os.environ.get("VANTREL_CPP_BUILD", ROOT / "build" / "cpp")) / "bindings" / "python"
    if not (directory / "_vantrel_probe.abi3.so").exists():
        return None
    sys.path.insert(0, str(directory))
    try:
        return importlib.import_module("_vantrel_probe")
    finally:
        sys.path.remove(str(directory))


def main() -> None:
    build = ('Order(operation=OrderOperation(underlying_asset="BTC", settlement_asset="USD", '
             'account_id=account, side=Side.BUY, trade_amount=amount, price=price))')
    namespace = {"Order": Order, "OrderOperation": OrderOperation, "Side": Side,
                 "account": AccountId.from_int(7), "amount": TradeAmount.quantity(1), "price": Price("101.25")}
    baseline = {"Order": PyOrder, "OrderOperation": PyOperation, "Side": Side,
                "account": 7, "amount": 1, "price": "101.25"}
    ours, theirs = per_call_ns(build, namespace), per_call_ns(build, baseline)
    print(f"{'operation':<30} {'vantrel':>10} {'baseline':>10} {'ratio':>7}")
    print(f"{'build a limit order':<30} {ours:>8.1f}ns {theirs:>8.1f}ns {ours / theirs:>7.2f}")

    probe = load_probe()
    if probe is None:
        print("extract_order: probe module not built (make cpp), skipped")
        return
    c = probe.probe_class
    order = c("Order")(operation=c("OrderOperation")(
        underlying_asset="BTC", settlement_asset="USD", account_id=c("AccountId").from_int(7), side="buy",
        trade_amount=c("TradeAmount").quantity(1), price="101.25"))
    calls = 1_000_000
    loop = {"loop": probe.extract_order_loop, "order": order, "n": calls}
    total = per_call_ns("loop(order, n)", loop, number=1) / calls
    print(f"{'extract_order (budget)':<30} {total:>8.1f}ns {EXTRACT_BUDGET_NS:>8.1f}ns {total / EXTRACT_BUDGET_NS:>7.2f}")


if __name__ == "__main__":
    main()
