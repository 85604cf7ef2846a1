"""Sells by volume hold v / price, a quotient of up to 28 fractional digits, next to
balances of any size. Every hold, undo, commit, fill and release must move
amounts the slot keeps exactly: checked against a ledger in exact decimals."""

from __future__ import annotations

import decimal
from decimal import Decimal
from fractions import Fraction

from hypothesis import event, example, given, settings
from hypothesis import strategies as st

from spot_funds_util import deposit, funds_engine, order, report, slot
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


def check_entries(before, outcomes):
    """Each entry's delta is exactly what its amount moved by."""
    for entry in (o.entry for o in outcomes):
        old = before[entry.asset]
        for index, field in ((0, "balance"), (1, "held")):
            amount = getattr(entry, field)
            if amount is not None:
                assert EXACT.add(old[index], Decimal(str(amount.delta))) == Decimal(str(amount.absolute)), (entry, old)


def at_precision_edge(*amounts):
    """Some amount already has 28 or more significant digits, where 96 bits leave no room for an exact sum."""
    return max(len(a.normalize().as_tuple().digits) for a in amounts) >= 28


def total(engine, asset):
    return EXACT.add(EXACT.add(*slot(engine, 1, asset)[:2]), slot(engine, 1, asset)[2])


sells = st.lists(st.tuples(scaled(10**9, 10), scaled(10**7, 8), st.sampled_from(["commit", "rollback"]),
                           st.integers(0, 10), st.booleans()),
                 min_size=1, max_size=4)


@settings(max_examples=200, deadline=None)
@example(funds=Decimal(20000), sells=[(Decimal("2.5"), Decimal("99.5"), "commit", 3, True)], sync="full_sync")
@given(funds=scaled(10**20, 12), sells=sells, sync=st.sampled_from(["no_sync", "account_sync", "full_sync"]))
def test_sells_by_volume_neither_create_nor_lose_funds(funds, sells, sync):
    engine = funds_engine(sync)
    deposit(engine, 1, "BTC", plain(funds))
    ledger = {"BTC": funds, "USD": Decimal(0)}
    kept = []
    for volume, price, action, fill_digits, filled in sells:
        before = {"BTC": slot(engine, 1, "BTC")}
        result = engine.execute_pre_trade(order(1, Side.SELL, vol=plain(volume), price=plain(price)))
        if not result.ok:
            reasons = [r.reason for r in result.rejects]
            if reasons == ["arithmetic overflow"]:
                # No exact move exists once the slot already needs all 96 bits: refused, nothing moved.
                assert at_precision_edge(*before["BTC"], quotient(volume, price))
                assert slot(engine, 1, "BTC") == before["BTC"]
                event("refused at the 96-bit edge")
                return
            assert reasons == ["spot funds insufficient"]
            assert slot(engine, 1, "BTC") == before["BTC"]
            event("refused")
            continue
        reservation = result.reservation
        outcomes = reservation.account_adjustments()
        check_entries(before, outcomes)
        held = Decimal(str(outcomes[0].entry.held.delta))
        q = quotient(volume, price)
        # At least the quotient is held, rounded up by less than one unit of the scale kept.
        assert q <= held < EXACT.add(q, Decimal(1).scaleb(held.as_tuple().exponent))
        event("held rounded up" if held != q else "held exactly")
        assert total(engine, "BTC") == ledger["BTC"]
        if action == "rollback":
            reservation.rollback()
            assert slot(engine, 1, "BTC") == before["BTC"]
            event("refused")
            continue
        reservation.commit()
        assert total(engine, "BTC") == ledger["BTC"]
        fill = q.quantize(Decimal(1).scaleb(-fill_digits), rounding=decimal.ROUND_DOWN) if filled else Decimal(0)
        kept.append((q, fill, price))

    for q, fill, price in kept:
        before = {asset: slot(engine, 1, asset) for asset in ("BTC", "USD")}
        trade = (plain(price), plain(fill)) if fill else None
        leaves = EXACT.subtract(q, fill)
        out = engine.apply_execution_report(report(1, Side.SELL, trade=trade, leaves=plain(leaves), lock=Lock()))
        if [b.reason for b in out.account_blocks] == ["arithmetic overflow"]:
            # The account is blocked instead of rounding a slot that needs all 96 bits; nothing was lost.
            assert at_precision_edge(*before["BTC"], leaves)
            assert total(engine, "BTC") == ledger["BTC"] and total(engine, "USD") == ledger["USD"]
            event("blocked at the 96-bit edge")
            return
        assert out.account_blocks == []
        check_entries(before, out.account_adjustments)
        ledger["BTC"] = EXACT.subtract(ledger["BTC"], fill)
        ledger["USD"] = EXACT.add(ledger["USD"], EXACT.multiply(price, fill))
        assert total(engine, "BTC") == ledger["BTC"]
        assert total(engine, "USD") == ledger["USD"]
    # Every order finished: what stays held is what rounding up set aside, never a debt.
    assert slot(engine, 1, "BTC")[1] >= 0
