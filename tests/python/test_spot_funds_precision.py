"""Orders whose amounts need more digits than a slot keeps next to its own: no account is
blocked for a rounding, every finished order leaves nothing held, a cancel gives back to
the digit what the hold took, and no account ever ends above the exact cash flows.

Each case is one account, one limit order and its reports, in every locking mode; the
exact figures are worked out in 60-digit decimals."""

from __future__ import annotations

from dataclasses import dataclass, field
from decimal import Decimal

import pytest

from spot_funds_util import (WIDE, deposit, funds_engine, last_place_slack, order, report, slot, total, unit_of)
from vantrel import Side

D = Decimal
ASSETS = ("BTC", "USD")
MODES = ("no_sync", "account_sync", "full_sync")


@dataclass
class ReportLine:
    """One report: a trade (price, quantity) or none, the leaves quantity and the finality flag."""
    trade: tuple[str, str] | None
    leaves: str
    final: bool = True


@dataclass
class PrecisionCase:
    name: str
    balances: dict[str, str]
    side: str
    qty: str
    price: str
    reports: list[ReportLine] = field(default_factory=list)


def filled(px, qty, leaves, final=True):
    return ReportLine((px, qty), leaves, final)


def cancelled(leaves):
    return ReportLine(None, leaves)


Q28 = "1.0000000000000000000000000001"  # 28 places
CASES = [
    # Rows measured blocked: a slot with many fractional digits cannot take the exact sum.
    PrecisionCase("cents balance, part fill, then the rest released", {"USD": "91774.32"},
                  "buy", "0.8197770633412746", "70309.775523",
                  [filled("67075.525848942", "0.0614832797505955", "0.7582937835906791")]),
    PrecisionCase("28-digit balance, cancelled unfilled", {"USD": "9713.226403560902853626478781"},
                  "buy", "0.61630228225363056940", "8812.581870598038361231001",
                  [cancelled("0.61630228225363056940")]),
    PrecisionCase("28-digit balances, sell filled at the limit, the rest released",
                  {"USD": "69.87884716237750733502933787", "BTC": "4.045050872161901548880670967"},
                  "sell", "0.5392995532913090677585", "5036.96840149499",
                  [filled("5036.96840149499", "0.3974637707756947829380", "0.1418357825156142848205")]),
    PrecisionCase("28 places in price and quantity, cancelled unfilled", {"USD": "10"},
                  "buy", "3.0000000000000000000000000001", Q28, [cancelled("3.0000000000000000000000000001")]),
    # Rows measured leaving a residue held.
    PrecisionCase("a hold rounded up, cancelled unfilled", {"USD": "2"}, "buy", Q28, Q28, [cancelled(Q28)]),
    PrecisionCase("28-digit balance, 20-place price, cancelled unfilled", {"USD": "59.40336908515679885681988207"},
                  "buy", "0.781183198343459", "10.94342330598699409987", [cancelled("0.781183198343459")]),
    PrecisionCase("28-digit balance, part fill at the limit, the rest released",
                  {"USD": "1903.380086849578158417840603"}, "buy", "0.63041270", "74.24289716213982626242939",
                  [filled("74.24289716213982626242939", "0.01639073", "0.61402197")]),
    PrecisionCase("host amounts, part fill at the limit, then a cancel", {"USD": "1000000.00"},
                  "buy", "0.20536301402749984", "7.241307",
                  [filled("7.241307", "0.05536301402749984", "0.15", final=False), cancelled("0.15")]),
    # A sell at a negative price pays: what it holds is the payment rounded up.
    PrecisionCase("sell at a negative price, cancelled unfilled", {"USD": "10", "BTC": "5"},
                  "sell", "3.0000000000000000000000000001", "-" + Q28, [cancelled("3.0000000000000000000000000001")]),
    PrecisionCase("sell at a negative price, part fill above the limit, the rest released", {"USD": "10", "BTC": "5"},
                  "sell", "3.0000000000000000000000000001", "-" + Q28,
                  [filled("-0.9999999999999999999999999999", Q28, "2")]),
    # The hold needs more digits than the balance beside it can take.
    PrecisionCase("whole balance, 28-place quantity, cancelled unfilled", {"USD": "20000"},
                  "buy", Q28, "1", [cancelled(Q28)]),
    PrecisionCase("whole balance, 28-place sell, cancelled unfilled", {"BTC": "20000"},
                  "sell", Q28, "5", [cancelled(Q28)]),
    # Filled whole in two parts: nothing of the rounded-up hold may stay behind.
    PrecisionCase("filled whole in two parts below the limit", {"USD": "59.40336908515679885681988207"},
                  "buy", "0.781183198343459", "10.94342330598699409987",
                  [filled("10.94342330598699409986", "0.5", "0.281183198343459", final=False),
                   filled("10.9434233059869940998", "0.281183198343459", "0")]),
]


def requirement(case: PrecisionCase) -> dict[str, Decimal]:
    """What the hold must cover at least, exactly."""
    qty, price = D(case.qty), D(case.price)
    if case.side == "buy":
        return {"USD": max(WIDE.multiply(price, qty), D(0)), "BTC": D(0)}
    return {"BTC": qty, "USD": max(WIDE.multiply(price, qty).copy_negate(), D(0))}


def flows(case: Case, trade: tuple[str, str]) -> dict[str, Decimal]:
    """The exact cash flows of one trade for the account."""
    px, qty = D(trade[0]), D(trade[1])
    paid = WIDE.multiply(px, qty)
    if case.side == "buy":
        return {"USD": paid.copy_negate(), "BTC": qty}
    return {"USD": paid, "BTC": qty.copy_negate()}


def delta(outcomes, asset, field) -> Decimal:
    for outcome in outcomes:
        amount = getattr(outcome.entry, field)
        if outcome.entry.asset == asset and amount is not None:
            return D(str(amount.delta))
    return D(0)


@pytest.mark.parametrize("sync", MODES)
@pytest.mark.parametrize("case", CASES, ids=[c.name for c in CASES])
def test_finished_orders_neither_block_nor_strand_nor_create_funds(case, sync):
    engine = funds_engine(sync)
    exact = {asset: D(0) for asset in ASSETS}
    for asset, amount in case.balances.items():
        deposit(engine, 1, asset, amount)
        exact[asset] = D(amount)
    before = {asset: slot(engine, 1, asset) for asset in ASSETS}
    assert {asset: total(before[asset]) for asset in ASSETS} == exact

    side = Side.BUY if case.side == "buy" else Side.SELL
    placed = engine.execute_pre_trade(order(1, side, qty=case.qty, price=case.price))
    assert placed.ok, [(r.reason, r.details) for r in placed.rejects]
    reservation = placed.reservation
    took = {asset: delta(reservation.account_adjustments(), asset, "held") for asset in ASSETS}
    given = {asset: delta(reservation.account_adjustments(), asset, "balance").copy_negate() for asset in ASSETS}
    for asset, needed in requirement(case).items():
        # Rounded up if at all, by less than a unit of the last place kept.
        assert needed <= took[asset] <= WIDE.add(needed, last_place_slack(needed, *before[asset])), asset
    lock = reservation.lock()
    reservation.commit()

    slack = {asset: WIDE.subtract(given[asset], took[asset]) for asset in ASSETS}  # what the hold's rounding cost
    for fill in case.reports:
        out = engine.apply_execution_report(report(1, side, trade=fill.trade, leaves=fill.leaves, final=fill.final,
                                                   lock=lock))
        assert out.account_blocks == [], [(b.reason, b.details) for b in out.account_blocks]
        moved = flows(case, fill.trade) if fill.trade is not None else {asset: D(0) for asset in ASSETS}
        for asset, flow in moved.items():
            exact[asset] = WIDE.add(exact[asset], flow)
            # A fill or a release the slot cannot keep exactly lands rounded down.
            slack[asset] += last_place_slack(exact[asset], flow, *slot(engine, 1, asset))

    after = {asset: slot(engine, 1, asset) for asset in ASSETS}
    if all(fill.trade is None for fill in case.reports):
        if given == took:
            # A cancel gives back to the digit what the hold took.
            assert after == before
        else:
            # Available could not keep every place of the hold and was rounded down then: it
            # comes back short by at most one unit of the places it kept.
            for asset in ASSETS:
                short = WIDE.subtract(before[asset][0], after[asset][0])
                assert D(0) <= short <= unit_of(WIDE.subtract(before[asset][0], given[asset])), (asset, short)
    for asset in ASSETS:
        assert after[asset][1] == 0, f"{asset} left held: {after[asset]}"
        # Never above the exact figure; below it by rounding only.
        assert total(after[asset]) <= exact[asset], (asset, after[asset], exact[asset])
        assert WIDE.subtract(exact[asset], total(after[asset])) <= slack[asset], (asset, after[asset], exact[asset])
