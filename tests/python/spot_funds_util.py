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


# ---- exact figures, for tests that judge rounding ----

WIDE = decimal.Context(prec=60)  # the reference: 60 digits, well past the 29 a slot keeps
LARGEST = Decimal(2**96 - 1)  # the largest integer part a slot can hold
NEAR_LARGEST = Decimal(2**96 - 2)


def beyond_96_bits(*values) -> bool:
    """Whether some exact figure has an integer part no slot can hold (rounding the last unit up may
    already overflow, hence the one unit of slack): the only reason a funds move may block."""
    return any(v.copy_abs() >= NEAR_LARGEST for v in values)


def last_place_slack(*values) -> Decimal:
    """Ten units of the last place that 96 bits keep for the largest of `values`: a value with an
    integer part of d digits keeps at least 28 - d places, and never more than 28."""
    top = max((v.copy_abs() for v in values if v), default=Decimal(0))
    exponent = top.adjusted() - 26 if top >= 1 else -27
    return Decimal(1).scaleb(exponent)


def total(values) -> Decimal:
    """available + held + incoming of a slot read by `slot`."""
    return WIDE.add(WIDE.add(values[0], values[1]), values[2])


def fits_96_bits(x: Decimal) -> bool:
    """Whether a slot can keep x exactly: at most 28 places and a mantissa below 2**96."""
    sign, digits, exponent = x.normalize(WIDE).as_tuple() if x else (0, (0,), 0)
    mantissa = int("".join(map(str, digits)))
    if exponent > 0:
        mantissa *= 10**exponent
        exponent = 0
    return -exponent <= 28 and mantissa < 2**96


def unit_of(x: Decimal) -> Decimal:
    """One unit of the last place x keeps."""
    return Decimal(1).scaleb(x.as_tuple().exponent)
