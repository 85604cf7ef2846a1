"""The funds policy against a small reference model of holdings in exact decimals.

Every step (adjustments with bounds, failing batches, limit and market orders
by quantity and volume, commit, rollback, release by del, fills, final reports,
quote pushes) is applied to both; after every step the verdicts agree and every
slot equals the model's.
"""

from __future__ import annotations

import decimal
import gc
import re
from decimal import Decimal

from hypothesis import settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, precondition, rule

from spot_funds_util import acct, adjustment, funds_engine, order, report, slot
from vantrel import (AccountAdjustment, AccountAdjustmentAmount, AccountAdjustmentBalanceOperation,
                     AccountAdjustmentBounds, AccountAdjustmentPositionOperation, AdjustmentAmount, Engine, Instrument,
                     Lock, PositionSize, Price, Quote, QuoteTtl, Side)

CTX = decimal.Context(prec=60)
ACCOUNTS = (1, 2)
ASSETS = ("BTC", "USD")
SLIPPAGE_BPS = 25
ZERO = Decimal(0)

amounts = st.decimals(min_value=0, max_value=50, places=2, allow_nan=False, allow_infinity=False)
signed = st.decimals(min_value=-999, max_value=999, places=2, allow_nan=False, allow_infinity=False)
prices = st.one_of(st.none(), st.decimals(min_value=-5, max_value=500, places=2), st.sampled_from([Decimal(0)]))


def hold_step(slot_, amount):
    """(verdict, usable, moved, new slot) as the policy holds."""
    a, h, i = slot_
    usable = CTX.add(a, h) if h < 0 else a
    if amount > usable:
        return "insufficient", usable, None, slot_
    moved = CTX.subtract(amount, h) if h < 0 else amount
    return "held", usable, moved, (CTX.subtract(a, moved), CTX.add(h, moved), i)


class FundsMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.md = Engine.builder().full_sync().market_data(QuoteTtl.infinite()).build()
        self.iid = self.md.register(Instrument("BTC", "USD"))
        self.mark = Decimal(100)
        self.md.push(self.iid, Quote(mark=Price("100")))
        self.engine = funds_engine(market_data=self.md, default_slippage_bps=SLIPPAGE_BPS)
        self.model = {}
        self.orders = []  # dicts: reservation, side, by_volume, lock, holds, committed, remaining

    def get(self, account, asset):
        return self.model.get((account, asset), (ZERO, ZERO, ZERO))

    def put(self, account, asset, value):
        if all(v == 0 for v in value):
            self.model.pop((account, asset), None)
        else:
            self.model[(account, asset)] = value

    # ---- adjustments ----

    @rule(account=st.sampled_from(ACCOUNTS), asset=st.sampled_from(ASSETS),
          fields=st.lists(st.one_of(st.none(), st.tuples(st.booleans(), signed)), min_size=3, max_size=3),
          lower=st.one_of(st.none(), signed), upper=st.one_of(st.none(), signed), bounded=st.integers(0, 2))
    def adjust(self, account, asset, fields, lower, upper, bounded):
        names = ("balance", "held", "incoming")
        amount = {}
        for name, field in zip(names, fields):
            if field is not None:
                absolute, value = field
                amount[name] = (absolute, value)
        limits = {}
        if lower is not None:
            limits[f"{names[bounded]}_lower"] = lower
        if upper is not None:
            limits[f"{names[bounded]}_upper"] = upper
        def make(name):
            if name not in amount:
                return None
            absolute, value = amount[name]
            size = PositionSize(str(value))
            return AdjustmentAmount.absolute(size) if absolute else AdjustmentAmount.delta(size)

        record = AccountAdjustment(
            operation=AccountAdjustmentBalanceOperation(asset=asset),
            amount=AccountAdjustmentAmount(**{n: make(n) for n in names}),
            bounds=AccountAdjustmentBounds(**{k: PositionSize(str(v)) for k, v in limits.items()}) if limits else None)
        result = self.engine.apply_account_adjustment(acct(account), [record])

        old = self.get(account, asset)
        new = list(old)
        refused = False
        for idx, name in enumerate(names):
            if name not in amount:
                continue
            absolute, value = amount[name]
            new[idx] = value if absolute else CTX.add(old[idx], value)
            lo, hi = limits.get(f"{name}_lower"), limits.get(f"{name}_upper")
            if (lo is not None and new[idx] < lo) or (hi is not None and new[idx] > hi):
                refused = True
                assert not result.ok
                reject = result.rejects[0]
                assert (reject.reason, reject.code, reject.scope) == (
                    "account adjustment bounds exceeded", "AccountAdjustmentBoundsExceeded", "account")
                assert reject.details.startswith(f"account {account}, asset {asset}: {name} ")
                break
        if refused:
            return
        assert result.ok, result.rejects
        if not amount:
            assert result.outcomes == []
            return
        self.put(account, asset, tuple(new))
        entry = result.outcomes[0].entry
        for idx, name in enumerate(names):
            got = getattr(entry, name)
            if name in amount:
                assert Decimal(str(got.delta)) == new[idx] - old[idx]
                assert Decimal(str(got.absolute)) == new[idx]
            else:
                assert got is None

    @rule(account=st.sampled_from(ACCOUNTS), asset=st.sampled_from(ASSETS),
          value=st.decimals(min_value=1000, max_value=99999, places=4))
    def fund(self, account, asset, value):
        result = self.engine.apply_account_adjustment(acct(account), [adjustment(asset, balance=value)])
        assert result.ok
        a, h, i = self.get(account, asset)
        self.put(account, asset, (CTX.add(a, value), h, i))

    @rule(account=st.sampled_from(ACCOUNTS), asset=st.sampled_from(ASSETS), value=signed)
    def failing_batch(self, account, asset, value):
        position = AccountAdjustment(operation=AccountAdjustmentPositionOperation(underlying_asset="BTC"))
        result = self.engine.apply_account_adjustment(acct(account), [adjustment(asset, balance=value), position])
        assert (result.ok, result.failed_index) == (False, 1)

    # ---- orders ----

    def valuation(self, side):
        f = CTX.divide(Decimal(SLIPPAGE_BPS), Decimal(10000))
        if side == Side.BUY:
            return CTX.multiply(self.mark, 1 + f) if self.mark > 0 else None
        value = CTX.multiply(self.mark, 1 - f)
        return value if value > 0 else None

    @rule(account=st.sampled_from(ACCOUNTS), buy=st.booleans(), by_volume=st.booleans(), size=amounts, price=prices,
          commit=st.booleans())
    def place(self, account, buy, by_volume, size, price, commit):
        side = Side.BUY if buy else Side.SELL
        valued = price
        if price is None:
            valued = self.valuation(side)
            assert valued is not None  # the mark stays positive and slippage is small
        qty = size
        if by_volume and not buy:
            if valued == 0:
                by_volume = False  # a zero price cannot turn a volume into a quantity
            else:
                qty = size
                size = CTX.multiply(size, abs(valued))  # exact: q = v / |price| comes back as drawn
        # The model's requirements.
        if buy:
            underlying = ZERO
            if by_volume:
                settlement = size if valued > 0 else ZERO
            else:
                settlement = max(CTX.multiply(valued, qty), ZERO)
            lock = valued
        else:
            underlying = qty
            settlement = max(-CTX.multiply(valued, qty), ZERO)
            lock = valued if settlement != 0 else None

        result = self.engine.execute_pre_trade(order(
            account, side, qty=None if by_volume else size, vol=size if by_volume else None, price=price))

        holds = []
        verdict = None
        trial = dict(self.model)
        for asset, amount in (("BTC", underlying), ("USD", settlement)):
            if amount == 0:
                continue
            outcome, usable, moved, new = hold_step(self.get(account, asset), amount)
            if outcome != "held":
                verdict = (asset, usable, amount)
                break
            self.put(account, asset, new)
            holds.append((asset, moved, new))
        if verdict is not None:
            self.model = trial
            assert not result.ok
            reject = result.rejects[0]
            assert (reject.reason, reject.code) == ("spot funds insufficient", "InsufficientFunds")
            m = re.fullmatch(r"account (\d+), asset (\w+): available (\S+), requested (\S+)", reject.details)
            assert m and (int(m[1]), m[2]) == (account, verdict[0])
            assert (Decimal(m[3]), Decimal(m[4])) == (verdict[1], verdict[2])
            return
        assert result.ok, result.rejects
        reservation = result.reservation
        entries = [o.entry for o in reservation.account_adjustments()]
        assert [e.asset for e in entries] == [h[0] for h in holds]
        for entry, (asset, moved, new) in zip(entries, holds):
            assert Decimal(str(entry.balance.delta)) == -moved and Decimal(str(entry.balance.absolute)) == new[0]
            assert Decimal(str(entry.held.delta)) == moved and Decimal(str(entry.held.absolute)) == new[1]
        prices_locked = [Decimal(str(p)) for _, p in reservation.lock().entries()]
        assert prices_locked == ([] if lock is None else [lock])
        self.orders.append(dict(reservation=reservation, account=account, side=side, by_volume=by_volume,
                                lock=lock, holds=holds, committed=commit, remaining=qty))
        if commit:
            reservation.commit()

    def open_order(self, data, committed):
        candidates = [o for o in self.orders if o["committed"] == committed]
        return data.draw(st.sampled_from(candidates)) if candidates else None

    def undo(self, o):
        for asset, moved, _ in reversed(o["holds"]):
            a, h, i = self.get(o["account"], asset)
            self.put(o["account"], asset, (CTX.add(a, moved), CTX.subtract(h, moved), i))
        self.orders.remove(o)

    @precondition(lambda self: any(not o["committed"] for o in self.orders))
    @rule(data=st.data(), how=st.sampled_from(["commit", "commit", "rollback", "del"]))
    def finalise(self, data, how):
        o = self.open_order(data, committed=False)
        if how == "commit":
            o["reservation"].commit()
            o["committed"] = True
            return
        if how == "rollback":
            o["reservation"].rollback()
        else:
            o["reservation"] = None
            gc.collect()
        self.undo(o)

    def settle(self, o, qty, px, final):
        account, side, lock = o["account"], o["side"], o["lock"]
        if qty > 0:
            notional = CTX.multiply(px, qty)
            s = ZERO if lock is None else CTX.multiply(lock, qty)
            consume = max(s if side == Side.BUY else -s, ZERO)
            legs = ([("USD", consume, -notional), ("BTC", ZERO, qty)] if side == Side.BUY
                    else [("BTC", qty, -qty), ("USD", consume, notional)])
            for asset, c, flow in legs:
                credit = CTX.add(c, flow)
                if c == 0 and credit == 0:
                    continue
                a, h, i = self.get(account, asset)
                self.put(account, asset, (CTX.add(a, credit), CTX.subtract(h, c), i))
            o["remaining"] -= qty
        if final and o["remaining"] != 0:
            r = o["remaining"]
            releases = []
            if side == Side.SELL:
                releases.append(("BTC", r))
            amount = ZERO if lock is None else CTX.multiply(lock, r)
            releases.append(("USD", max(amount if side == Side.BUY else -amount, ZERO)))
            for asset, amount in releases:
                if amount == 0:
                    continue
                a, h, i = self.get(account, asset)
                self.put(account, asset, (CTX.add(a, amount), CTX.subtract(h, amount), i))

    @precondition(lambda self: any(o["committed"] and not o["by_volume"] for o in self.orders))
    @rule(data=st.data(), px=st.decimals(min_value=-5, max_value=500, places=2), final=st.booleans())
    def execution_report(self, data, px, final):
        candidates = [o for o in self.orders if o["committed"] and not o["by_volume"]]
        o = data.draw(st.sampled_from(candidates))
        qty = data.draw(st.decimals(min_value=0, max_value=o["remaining"], places=2))
        trade = (px, qty) if qty > 0 else None
        out = self.engine.apply_execution_report(report(
            o["account"], o["side"], trade=trade, leaves=o["remaining"] - qty, final=final,
            lock=self._lock_of(o)))
        assert out.account_blocks == []
        self.settle(o, qty, px, final)
        if final:
            self.orders.remove(o)

    @staticmethod
    def _lock_of(o):
        lock = Lock()
        if o["lock"] is not None:
            lock.push(0, Price(str(o["lock"])))
        return lock

    @rule(mark=st.integers(min_value=1, max_value=1000))
    def push_quote(self, mark):
        self.mark = Decimal(mark)
        self.md.push(self.iid, Quote(mark=Price(mark)))

    # ---- invariants ----

    @invariant()
    def slots_equal_the_model(self):
        for account in ACCOUNTS:
            for asset in ASSETS:
                assert slot(self.engine, account, asset) == self.get(account, asset), (account, asset)


FundsMachine.TestCase.settings = settings(max_examples=80, stateful_step_count=50, deadline=None)
TestFunds = FundsMachine.TestCase
