"""Orders, reports and barrier objects for the limit policy tests."""

from __future__ import annotations

import vantrel
from vantrel.core import ExecutionReport, ExecutionReportOperation, FinancialImpact, Order, OrderOperation
from vantrel.param import AccountId, Price, Quantity, TradeAmount, Volume


def limit_order(account=7, settlement="USD", *, quantity=None, volume=None, price="1"):
    kwargs = {"underlying_asset": "BTC", "settlement_asset": settlement}
    if account is not None:
        kwargs["account_id"] = AccountId.from_int(account)
    if volume is not None:
        kwargs["trade_amount"] = TradeAmount.volume(Volume(volume))
    else:
        kwargs["trade_amount"] = TradeAmount.quantity(Quantity(quantity if quantity is not None else "1"))
    if price is not None:
        kwargs["price"] = Price(price)
    return Order(operation=OrderOperation(**kwargs))


def pnl_report(account=7, settlement="USD", pnl=None, fee="0"):
    kwargs = {"underlying_asset": "BTC", "settlement_asset": settlement}
    if account is not None:
        kwargs["account_id"] = AccountId.from_int(account)
    impact = FinancialImpact(pnl=pnl, fee=fee) if pnl is not None else None
    return ExecutionReport(operation=ExecutionReportOperation(**kwargs), financial_impact=impact)


class Barrier:
    """A duck-typed kill-switch barrier: only the attributes given exist."""

    def __init__(self, **attributes):
        for name, value in attributes.items():
            setattr(self, name, value)


def engine_with(*builtins, sync="full_sync"):
    builder = getattr(vantrel.Engine.builder(), sync)()
    for b in builtins:
        builder = builder.builtin(b)
    return builder.build()


def only_reject(result):
    assert not result.ok
    (reject,) = result.rejects
    return reject


def reject_fields(reject):
    return (reject.code, reject.reason, reject.details, reject.policy, reject.scope, reject.user_data)
