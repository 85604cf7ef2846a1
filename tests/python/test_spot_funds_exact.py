"""Sells by volume hold v / price, a quotient of up to 28 fractional digits, next to
balances of any size: held takes each hold whole and gives it back whole, and every
slot reads as an exact ledger beside it reports its amounts."""

from __future__ import annotations

import decimal
from decimal import Decimal
from fractions import Fraction

from hypothesis import event, example, given, settings
from hypothesis import strategies as st

from spot_funds_util import LEDGER, deposit, funds_engine, ledger_product, order, report, reported, slot
from vantrel import Lock, Side

EXACT = decimal.Context(prec=100, traps=[decimal.Inexact])


def plain(x):
    return format(x, "f")


def scaled(max_mantissa, max_scale):
    return st.builds(lambda m, s: Decimal(m).scaleb(-s), st.integers(1, max_mantissa), st.integers(0, max_scale))


def quotient(volume, price):
    """v / price as the engine has it: half to even at the finest scale <= 28 that 96 bits hold."""
    exact = Fraction(volume) / Fraction(price)
    for scale in range(28, -1, -1):
        n = exact * 10**scale
        m = round(n)  # half to even
        if m < 2**96:
            return EXACT.scaleb(Decimal(m), -scale)
    raise AssertionError("quotient out of range")


def entries(outcomes):
    """{asset: (balance delta, held delta)} as the entries report them, 0 where absent."""
    moved = {}
    for o in outcomes:
        moved[o.entry.asset] = tuple(Decimal(0) if a is None else Decimal(str(a.delta))
                                     for a in (o.entry.balance, o.entry.held))
    return moved


sells = st.lists(st.tuples(scaled(10**9, 10), scaled(10**7, 8), st.sampled_from(["commit", "rollback"]),
                           st.integers(0, 10), st.booleans()),
                 min_size=1, max_size=4)


@settings(max_examples=200, deadline=None, derandomize=True, database=None)
@example(funds=Decimal(20000), sells=[(Decimal("2.5"), Decimal("99.5"), "commit", 3, True)], sync="full_sync")
@given(funds=scaled(10**20, 12), sells=sells, sync=st.sampled_from(["no_sync", "account_sync", "full_sync"]))
def test_sells_by_volume_hold_and_give_back_exactly_what_they_need(funds, sells, sync):
    engine = funds_engine(sync)
    deposit(engine, 1, "BTC", plain(funds))
    ledger = {"BTC": [funds, Decimal(0)], "USD": [Decimal(0), Decimal(0)]}  # available, held

    def check():
        for asset in ("BTC", "USD"):
            assert slot(engine, 1, asset) == (reported(ledger[asset][0]), reported(ledger[asset][1]), 0), asset

    kept = []
    for volume, price, action, fill_digits, filled in sells:
        before = slot(engine, 1, "BTC")
        result = engine.execute_pre_trade(order(1, Side.SELL, vol=plain(volume), price=plain(price)))
        q = quotient(volume, price)
        if q > ledger["BTC"][0]:
            assert [r.reason for r in result.rejects] == ["spot funds insufficient"]
            assert slot(engine, 1, "BTC") == before
            event("refused")
            continue
        reservation = result.reservation
        assert entries(reservation.account_adjustments()) == {"BTC": (reported(q.copy_negate()), reported(q))}
        ledger["BTC"] = [LEDGER.subtract(ledger["BTC"][0], q), LEDGER.add(ledger["BTC"][1], q)]
        event("available past 96 bits" if reported(ledger["BTC"][0]) != ledger["BTC"][0] else "exact")
        check()
        if action == "rollback":
            reservation.rollback()
            ledger["BTC"] = [LEDGER.add(ledger["BTC"][0], q), LEDGER.subtract(ledger["BTC"][1], q)]
            assert slot(engine, 1, "BTC") == before
            continue
        reservation.commit()
        fill = q.quantize(Decimal(1).scaleb(-fill_digits), rounding=decimal.ROUND_DOWN) if filled else Decimal(0)
        kept.append((q, fill, price))

    for q, fill, price in kept:
        trade = (plain(price), plain(fill)) if fill else None
        leaves = EXACT.subtract(q, fill)
        out = engine.apply_execution_report(report(1, Side.SELL, trade=trade, leaves=plain(leaves), lock=Lock()))
        assert out.account_blocks == []
        proceeds = ledger_product(price, fill, up=False)
        ledger["BTC"] = [LEDGER.add(ledger["BTC"][0], leaves), LEDGER.subtract(ledger["BTC"][1], q)]
        ledger["USD"][0] = LEDGER.add(ledger["USD"][0], proceeds)
        moved = entries(out.account_adjustments)
        assert moved["BTC"] == (reported(leaves), reported(q.copy_negate()))
        assert moved.get("USD", (0, 0)) == (reported(proceeds), 0)
        check()
    # Every order finished: nothing stays held.
    assert ledger["BTC"][1] == 0 and slot(engine, 1, "BTC")[1] == 0
