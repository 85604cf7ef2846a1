"""Builders for funds-policy tests: engines, orders, reports, adjustments, slot reads."""

from __future__ import annotations

import decimal
from decimal import Decimal

from vantrel import (
    AccountAdjustment,
    AccountAdjustmentAmount,
    AccountAdjustmentBalanceOperation,
    AccountAdjustmentBounds,
    AccountId,
    AdjustmentAmount,
    Engine,
    ExecutionReport,
    ExecutionReportFillDetails,
    ExecutionReportOperation,
    Lock,
    Order,
    OrderOperation,
    PositionSize,
    Price,
    Quantity,
    Side,
    Trade,
    TradeAmount,
    Volume,
)
from vantrel.pretrade.policies import SpotFundsPolicy


def funds_engine(sync: str = "full_sync", **keywords):
    return getattr(Engine.builder(), sync)().builtin(SpotFundsPolicy(**keywords)).build()


def acct(n: int) -> AccountId:
    return AccountId.from_int(n)


def order(account=1, side=Side.BUY, *, qty=None, vol=None, price=None, underlying="BTC", settlement="USD"):
    amount = TradeAmount.quantity(Quantity(str(qty))) if qty is not None else TradeAmount.volume(Volume(str(vol)))
    return Order(operation=OrderOperation(
        underlying_asset=underlying, settlement_asset=settlement, account_id=acct(account), side=side,
        trade_amount=amount, price=None if price is None else Price(str(price))))


def report(account=1, side=Side.BUY, *, trade=None, leaves="0", final=True, lock=None, underlying="BTC",
           settlement="USD"):
    last = None if trade is None else Trade(price=Price(str(trade[0])), quantity=Quantity(str(trade[1])))
    return ExecutionReport(
        operation=ExecutionReportOperation(underlying_asset=underlying, settlement_asset=settlement,
                                           account_id=acct(account), side=side),
        fill=ExecutionReportFillDetails(last_trade=last, leaves_quantity=Quantity(str(leaves)),
                                        lock=lock if lock is not None else Lock(), is_final=final))


def _amount(value, absolute):
    if value is None:
        return None
    size = PositionSize(str(value))
    return AdjustmentAmount.absolute(size) if absolute else AdjustmentAmount.delta(size)


def adjustment(asset, *, balance=None, held=None, incoming=None, absolute=False, bounds=None):
    return AccountAdjustment(
        operation=AccountAdjustmentBalanceOperation(asset=asset),
        amount=AccountAdjustmentAmount(balance=_amount(balance, absolute), held=_amount(held, absolute),
                                       incoming=_amount(incoming, absolute)),
        bounds=bounds)


def bounds(**limits):
    return AccountAdjustmentBounds(**{k: PositionSize(str(v)) for k, v in limits.items()})


def deposit(engine, account, asset, amount):
    result = engine.apply_account_adjustment(acct(account), [adjustment(asset, balance=amount)])
    assert result.ok, result.rejects
    return result


def slot(engine, account, asset):
    """(available, held, incoming) read through a batch of zero deltas, which changes nothing."""
    result = engine.apply_account_adjustment(acct(account), [adjustment(asset, balance=0, held=0, incoming=0)])
    assert result.ok
    entry = result.outcomes[0].entry
    return tuple(Decimal(str(getattr(entry, f).absolute)) for f in ("balance", "held", "incoming"))


def only_reject(result):
    assert not result.ok
    assert len(result.rejects) == 1
    return result.rejects[0]


WIDE = decimal.Context(prec=60)  # 60 digits, for figures of generated amounts


# ---- the ledger's own figures ----

LEDGER = decimal.Context(prec=120, traps=[decimal.Inexact])  # exact for every ledger amount and product
WIDE_LEDGER = decimal.Context(prec=120)  # the same, for rounding on purpose
PLACE = Decimal("1E-36")  # the last place the ledger keeps


def ledger_product(a: Decimal, b: Decimal, up: bool) -> Decimal:
    """a × b as the ledger keeps it: exact to 36 places, else rounded once at the 36th, up or down."""
    p = LEDGER.multiply(a, b)
    if p.as_tuple().exponent >= -36:
        return p
    return p.quantize(PLACE, rounding=decimal.ROUND_CEILING if up else decimal.ROUND_FLOOR, context=WIDE_LEDGER)


def overflows(x: Decimal) -> bool:
    """Whether x is out of the ledger's range (a magnitude above 2^96 - 1)."""
    return x.copy_abs() > Decimal(2**96 - 1)


def reported(x: Decimal) -> Decimal:
    """The 96-bit decimal the ledger reports for x: x where it fits, else rounded down at the finest
    scale that holds it."""
    places = max(-x.as_tuple().exponent, 0)
    for scale in range(min(places, 28), -1, -1):
        q = x.quantize(Decimal(1).scaleb(-scale), rounding=decimal.ROUND_FLOOR, context=WIDE_LEDGER)
        if abs(int(q.scaleb(scale, WIDE_LEDGER))) < 2**96:
            return q
    raise AssertionError(f"{x} is out of range")
