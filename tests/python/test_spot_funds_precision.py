"""Orders whose amounts need more digits than a 96-bit decimal has: no account is blocked,
every finished order leaves nothing held, a cancel gives back to the digit what the hold
took, and each account ends at its exact cash flows (a product of more than 36 places
rounded once, against the account), read as the engine reports them.

Each case is one account, one limit order and its reports, in every locking mode; the
exact figures are worked out in 120-digit decimals."""

from __future__ import annotations

from dataclasses import dataclass, field
from decimal import Decimal

import pytest

from spot_funds_util import LEDGER, deposit, funds_engine, ledger_product, order, report, reported, slot
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
    # Desk amounts: a fill at the limit, then a final report without one; a fill, then a
    # cancel in the next report; a fill and the final in one report.
    PrecisionCase("fill at the limit, then final without a fill", {"USD": "10000"},
                  "buy", "1.234567890123456789", "3123.45678901",
                  [filled("3123.45678901", "1.000000000000000001", "0.234567890123456788", final=False),
                   cancelled("0.234567890123456788")]),
    PrecisionCase("fill, then a cancel in the next report", {"USD": "300000"},
                  "buy", "6.613812840851947674", "44952.11134022",
                  [filled("44952.11134022", "6.368248133177167416", "0.245564707674780258", final=False),
                   cancelled("0.245564707674780258")]),
    PrecisionCase("fill and final in one report", {"USD": "34967828.54"},
                  "buy", "7.036304512204433312", "4532132.344162",
                  [filled("4532132.344162", "0.773993496342487664", "6.262311015861945648")]),
    # Cents balances, an 18-decimal quantity at an 8-decimal price, cancelled at once.
    *[PrecisionCase(f"cents balance {usd}, cancelled at once", {"USD": usd}, "buy", qty, price, [cancelled(qty)])
      for usd, qty, price in (("58983398.40", "0.623195555824052630", "44894.70123456"),
                              ("1.00", "0.000000000000000001", "0.00000001"),
                              ("99999999.99", "0.876053428479969896", "62825.83748812"))],
]


def requirement(case: PrecisionCase) -> dict[str, Decimal]:
    """What the hold takes: the exact need, rounded up at the 36th place where it has more."""
    qty, price = D(case.qty), D(case.price)
    if case.side == "buy":
        return {"USD": max(ledger_product(price, qty, up=True), D(0)), "BTC": D(0)}
    return {"BTC": qty, "USD": max(ledger_product(price, qty, up=False).copy_negate(), D(0))}


def flows(case: PrecisionCase, trade: tuple[str, str]) -> dict[str, Decimal]:
    """The cash flows of one trade for the account: a buy pays px × qty rounded up, a sell receives it rounded down."""
    px, qty = D(trade[0]), D(trade[1])
    if case.side == "buy":
        return {"USD": ledger_product(px, qty, up=True).copy_negate(), "BTC": qty}
    return {"USD": ledger_product(px, qty, up=False), "BTC": qty.copy_negate()}


def deltas(outcomes, asset) -> tuple[Decimal | None, Decimal | None]:
    """The entry's (balance, held) deltas for `asset`, None where absent."""
    for outcome in outcomes:
        if outcome.entry.asset == asset:
            return tuple(None if a is None else D(str(a.delta)) for a in (outcome.entry.balance, outcome.entry.held))
    return None, None


@pytest.mark.parametrize("sync", MODES)
@pytest.mark.parametrize("case", CASES, ids=[c.name for c in CASES])
def test_finished_orders_neither_block_nor_strand_nor_create_funds(case, sync):
    engine = funds_engine(sync)
    exact = {asset: D(0) for asset in ASSETS}
    for asset, amount in case.balances.items():
        deposit(engine, 1, asset, amount)
        exact[asset] = D(amount)
    before = {asset: slot(engine, 1, asset) for asset in ASSETS}

    side = Side.BUY if case.side == "buy" else Side.SELL
    placed = engine.execute_pre_trade(order(1, side, qty=case.qty, price=case.price))
    assert placed.ok, [(r.reason, r.details) for r in placed.rejects]
    reservation = placed.reservation
    for asset, needed in requirement(case).items():
        # The entry tells what moved, exactly where a decimal holds it, else rounded down.
        expected = (reported(needed.copy_negate()), reported(needed)) if needed else (None, None)
        assert deltas(reservation.account_adjustments(), asset) == expected, asset
        assert slot(engine, 1, asset) == (reported(LEDGER.subtract(exact[asset], needed)), reported(needed), 0)
    lock = reservation.lock()
    reservation.commit()

    for fill in case.reports:
        out = engine.apply_execution_report(report(1, side, trade=fill.trade, leaves=fill.leaves, final=fill.final,
                                                   lock=lock))
        assert out.account_blocks == [], [(b.reason, b.details) for b in out.account_blocks]
        if fill.trade is not None:
            for asset, flow in flows(case, fill.trade).items():
                exact[asset] = LEDGER.add(exact[asset], flow)

    after = {asset: slot(engine, 1, asset) for asset in ASSETS}
    if all(fill.trade is None for fill in case.reports):
        assert after == before  # a cancel gives back to the digit what the hold took
    for asset in ASSETS:
        assert after[asset] == (reported(exact[asset]), 0, 0), (asset, after[asset], exact[asset])
