"""Sells by volume hold v / price, a quotient of up to 28 fractional digits, next to
balances of any size. Held takes each hold whole and gives it back whole; a result
the slot cannot keep exactly is rounded down, never refused: checked against a
ledger in exact decimals."""

from __future__ import annotations

import decimal
from decimal import Decimal
from fractions import Fraction

import pytest
from hypothesis import event, example, given, settings
from hypothesis import strategies as st

from spot_funds_util import acct, adjustment, beyond_96_bits, deposit, fits_96_bits, funds_engine, order, report, slot
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
    """Each entry's delta is what its amount moved by: exactly, or rounded down where the delta
    itself needs more places than 96 bits hold."""
    for entry in (o.entry for o in outcomes):
        old = before[entry.asset]
        for index, field in ((0, "balance"), (1, "held")):
            amount = getattr(entry, field)
            if amount is not None:
                delta, absolute = Decimal(str(amount.delta)), Decimal(str(amount.absolute))
                moved = EXACT.subtract(absolute, old[index])
                assert delta <= moved < EXACT.add(delta, Decimal(1).scaleb(delta.as_tuple().exponent)), (entry, old)


def significant_digits(x):
    """Counted, never rounded: the default 28-digit context would round 29 nines up to a short number."""
    return len(x.normalize(EXACT).as_tuple().digits)


def at_precision_edge(*amounts):
    """Some amount already has 28 or more significant digits, where 96 bits leave no room for an exact sum."""
    return max(significant_digits(a) for a in amounts) >= 28


# Hypothesis found a slot at 79227.999999999999999999999999, which 28 digits round to 79228.
@pytest.mark.parametrize(("amount", "digits"), [
    ("79227.999999999999999999999999", 29),
    ("9.999999999999999999999999999", 28),
    ("0.0000000000000000000000000001", 1),
    ("50000000000000000000000000000", 1),
    ("123456789012345678901234567", 27),
])
def test_significant_digits_are_counted_without_rounding(amount, digits):
    assert significant_digits(Decimal(amount)) == digits
    assert at_precision_edge(Decimal(1), Decimal(amount)) == (digits >= 28)


def total(engine, asset):
    return EXACT.add(EXACT.add(*slot(engine, 1, asset)[:2]), slot(engine, 1, asset)[2])


sells = st.lists(st.tuples(scaled(10**9, 10), scaled(10**7, 8), st.sampled_from(["commit", "rollback"]),
                           st.integers(0, 10), st.booleans()),
                 min_size=1, max_size=4)


def unit(x):
    """One unit of the last place x keeps."""
    return Decimal(1).scaleb(x.as_tuple().exponent)


@settings(max_examples=200, deadline=None, derandomize=True, database=None)
@example(funds=Decimal(20000), sells=[(Decimal("2.5"), Decimal("99.5"), "commit", 3, True)], sync="full_sync")
@given(funds=scaled(10**20, 12), sells=sells, sync=st.sampled_from(["no_sync", "account_sync", "full_sync"]))
def test_sells_by_volume_hold_and_give_back_exactly_what_they_need(funds, sells, sync):
    engine = funds_engine(sync)
    deposit(engine, 1, "BTC", plain(funds))
    ledger = {"BTC": funds, "USD": Decimal(0)}
    slack = {"BTC": Decimal(0), "USD": Decimal(0)}  # what the roundings so far may have cost
    drift = Decimal(0)  # how far held may stray from the open orders' holds where it keeps no more places

    def check(asset):
        a, h, _ = slot(engine, 1, asset)
        slack[asset] = EXACT.add(slack[asset], EXACT.add(unit(a), unit(h)))
        short = EXACT.subtract(ledger[asset], total(engine, asset))
        assert Decimal(0) <= short <= slack[asset], (asset, short, slack[asset])

    kept = []
    for volume, price, action, fill_digits, filled in sells:
        before = {"BTC": slot(engine, 1, "BTC")}
        result = engine.execute_pre_trade(order(1, Side.SELL, vol=plain(volume), price=plain(price)))
        if not result.ok:
            assert [r.reason for r in result.rejects] == ["spot funds insufficient"]
            assert slot(engine, 1, "BTC") == before["BTC"]
            event("refused")
            continue
        reservation = result.reservation
        outcomes = reservation.account_adjustments()
        check_entries(before, outcomes)
        q = quotient(volume, price)
        # At least the quotient is held (rounded up only by less than a unit of the places kept),
        # unless held cannot keep every place of its sum with it; available keeps what places it can.
        after_held = slot(engine, 1, "BTC")[1]
        held = EXACT.subtract(after_held, before["BTC"][1])
        if fits_96_bits(EXACT.add(before["BTC"][1], q)):
            assert q <= held < EXACT.add(q, unit(held)), (q, held)
        else:
            assert EXACT.subtract(held, q).copy_abs() < unit(after_held), (q, held)
            drift = EXACT.add(drift, unit(after_held))
            event("held rounded")
        event("available rounded down" if Decimal(str(outcomes[0].entry.balance.delta)) != -q else "exact")
        check("BTC")
        if action == "rollback":
            reservation.rollback()
            assert slot(engine, 1, "BTC") == before["BTC"]
            continue
        reservation.commit()
        fill = q.quantize(Decimal(1).scaleb(-fill_digits), rounding=decimal.ROUND_DOWN) if filled else Decimal(0)
        kept.append((q, fill, price))

    for q, fill, price in kept:
        before = {asset: slot(engine, 1, asset) for asset in ("BTC", "USD")}
        trade = (plain(price), plain(fill)) if fill else None
        leaves = EXACT.subtract(q, fill)
        out = engine.apply_execution_report(report(1, Side.SELL, trade=trade, leaves=plain(leaves), lock=Lock()))
        assert out.account_blocks == []
        check_entries(before, out.account_adjustments)
        ledger["BTC"] = EXACT.subtract(ledger["BTC"], fill)
        ledger["USD"] = EXACT.add(ledger["USD"], EXACT.multiply(price, fill))
        for asset in ("BTC", "USD"):
            check(asset)
    # Every order finished: nothing stays held, but for what rounding held itself took.
    assert slot(engine, 1, "BTC")[1].copy_abs() <= drift


# ---- slots that already use 28 or 29 significant digits ----

def edge_amount(low=10**27, high=2**96 - 1):
    """A mantissa of 28 or 29 digits at any scale: no sum with another fraction fits exactly."""
    return st.builds(lambda m, s: EXACT.scaleb(Decimal(m), -s), st.integers(low, high), st.integers(0, 28))


factors = st.one_of(scaled(10**6, 4), edge_amount(10**27, 5 * 10**28).map(lambda x: EXACT.scaleb(x, -x.adjusted())))
steps = st.lists(st.one_of(
    st.tuples(st.just("deposit"), st.sampled_from(["BTC", "USD"]), st.decimals(-10, 10, places=2)),
    st.tuples(st.sampled_from(["buy", "sell"]), factors, factors, st.sampled_from(["commit", "rollback"]),
              st.integers(0, 6))), min_size=1, max_size=5)


def reported_change(outcomes, asset):
    """The entries' deltas over all three amounts: what the change says it did to the slot's total."""
    change = Decimal(0)
    for entry in (o.entry for o in outcomes):
        if entry.asset == asset:
            for amount in (entry.balance, entry.held, entry.incoming):
                if amount is not None:
                    change = EXACT.add(change, Decimal(str(amount.delta)))
    return change


@settings(max_examples=150, deadline=None, derandomize=True, database=None)
@example(usd=Decimal("79227.999999999999999999999999"), btc=Decimal("50000000000000000000000000000"),
         steps=[("sell", Decimal("0.05"), Decimal("1"), "commit", 2), ("deposit", "USD", Decimal("0.5"))],
         sync="no_sync")
@example(usd=Decimal("42995115941683571703859617460"), btc=Decimal(0),
         steps=[("buy", Decimal(1), Decimal("88286.0663947"), "commit", 0)], sync="account_sync")
@example(usd=Decimal("5.000000000000000000000000000"), btc=Decimal("50000000000000000000000000000"),
         steps=[("buy", Decimal("0.4"), Decimal("1.0000000000000000000000000001"), "commit", 1)], sync="full_sync")
@given(usd=edge_amount(), btc=edge_amount(), steps=steps,
       sync=st.sampled_from(["no_sync", "account_sync", "full_sync"]))
def test_slots_at_the_edge_round_only_against_the_account(usd, btc, steps, sync):
    """Where slots have no room left: every total moves by exactly what the entries report, never by more
    than the trade or deposit is worth to the account (a hold may cost the account what available cannot
    keep); undos restore exactly or block."""
    engine = funds_engine(sync)
    for asset, amount in (("USD", usd), ("BTC", btc)):
        result = engine.apply_account_adjustment(acct(1), [adjustment(asset, balance=plain(amount), absolute=True)])
        assert result.ok
    ledger = {"USD": usd, "BTC": btc}  # what the account is worth, exactly
    reported = dict(ledger)          # what the entries say moved

    def check():
        for asset in ("USD", "BTC"):
            # Entries never say more moved than did (a delta too long for 96 bits is rounded down),
            # and no total passes the exact figure.
            assert reported[asset] <= total(engine, asset) <= ledger[asset]

    for step in steps:
        if step[0] == "deposit":
            _, asset, amount = step
            result = engine.apply_account_adjustment(acct(1), [adjustment(asset, balance=plain(amount))])
            # Refused only where the integer part cannot be held.
            assert result.ok or beyond_96_bits(EXACT.add(slot(engine, 1, asset)[0], amount)), result.rejects
            if result.ok:
                moved = reported_change(result.outcomes, asset)
                assert moved <= amount  # rounded down, if at all
                event("deposit rounded down" if moved != amount else "deposit exact")
                reported[asset] = EXACT.add(reported[asset], moved)
                ledger[asset] = EXACT.add(ledger[asset], amount)
            check()
            continue
        side_name, qty, price, action, fill_digits = step
        side = Side.BUY if side_name == "buy" else Side.SELL
        before = {asset: slot(engine, 1, asset) for asset in ("BTC", "USD")}
        placed = engine.execute_pre_trade(order(1, side, qty=plain(qty), price=plain(price)))
        needed = EXACT.multiply(qty, price) if side == Side.BUY else qty
        if not placed.ok:
            reasons = [r.reason for r in placed.rejects]
            assert reasons in (["spot funds insufficient"], ["arithmetic overflow"])
            if reasons == ["arithmetic overflow"]:
                # Only where the integer part cannot be held.
                paying = "USD" if side == Side.BUY else "BTC"
                assert beyond_96_bits(EXACT.add(before[paying][1], needed), EXACT.subtract(before[paying][0], needed))
            assert {asset: slot(engine, 1, asset) for asset in before} == before
            continue
        reservation = placed.reservation
        holds = reservation.account_adjustments()
        check_entries(before, holds)
        unheld = dict(reported)
        for asset in ("BTC", "USD"):
            reported[asset] = EXACT.add(reported[asset], reported_change(holds, asset))
        # The hold covers at least the exact requirement.
        held = Decimal(str(holds[0].entry.held.delta))
        assert held >= needed
        event(f"{side_name} held rounded up" if held != needed else f"{side_name} held exactly")
        check()
        if action == "rollback":
            reservation.rollback()
            reported = unheld
            after = {asset: slot(engine, 1, asset) for asset in before}
            if after != before:
                # Only an undo that cannot move back exactly differs; it then moves nothing and blocks.
                refused = engine.execute_pre_trade(order(1, Side.BUY, qty="1", price="0")).rejects
                assert refused[0].reason == "rollback overflow: slot left inconsistent"
                event("undo blocked")
                return
            continue
        lock = reservation.lock()
        reservation.commit()
        fill = qty.quantize(Decimal(1).scaleb(-fill_digits), rounding=decimal.ROUND_DOWN)
        trade = (plain(price), plain(fill)) if fill else None
        before = {asset: slot(engine, 1, asset) for asset in ("BTC", "USD")}
        out = engine.apply_execution_report(
            report(1, side, trade=trade, leaves=plain(EXACT.subtract(qty, fill)), lock=lock))
        check_entries(before, out.account_adjustments)
        for asset in ("BTC", "USD"):
            assert slot(engine, 1, asset)[1] <= before[asset][1]  # no report adds to held
            reported[asset] = EXACT.add(reported[asset], reported_change(out.account_adjustments, asset))
        if fill:
            cost = EXACT.multiply(price, fill)
            paid, got = ("USD", "BTC") if side == Side.BUY else ("BTC", "USD")
            ledger[paid] = EXACT.subtract(ledger[paid], cost if side == Side.BUY else fill)
            ledger[got] = EXACT.add(ledger[got], fill if side == Side.BUY else cost)
        if out.account_blocks:
            # Only where some figure's integer part cannot be held.
            assert [b.reason for b in out.account_blocks] == ["arithmetic overflow"]
            figures = [*ledger.values(), EXACT.multiply(price, fill), *before["BTC"], *before["USD"]]
            assert beyond_96_bits(*figures), [b.details for b in out.account_blocks]
            event("report blocked beyond 96 bits")
            return
        for asset in ("BTC", "USD"):
            assert slot(engine, 1, asset)[1] == 0, f"the finished order left {asset} held"
        event("report settled below the exact ledger" if reported != ledger else "report settled exactly")
        check()
