"""A risk desk in miniature: one engine with the five built-in policies and a
market-data feed guards an account through a deposit, a burst of orders, the
venue's answers, a quiet feed and a losing streak, then measures how fast it
checks orders on this machine."""

from __future__ import annotations

import os
import time
from datetime import timedelta
from decimal import Decimal
from types import SimpleNamespace

import vantrel
from vantrel.core import (
    AccountAdjustment,
    AccountAdjustmentAmount,
    AccountAdjustmentBalanceOperation,
    ExecutionReport,
    ExecutionReportFillDetails,
    ExecutionReportOperation,
    FinancialImpact,
    Instrument,
    Order,
    OrderOperation,
)
from vantrel.marketdata import Quote, QuoteTtl
from vantrel.param import AccountId, AdjustmentAmount, PositionSize, Price, Quantity, Trade, TradeAmount
from vantrel.pretrade.policies import (
    OrderSizeLimit,
    OrderSizeLimitPolicy,
    OrderValidationPolicy,
    PnlBoundsKillSwitchPolicy,
    RateLimitPolicy,
    SpotFundsPolicy,
)

ACCOUNT = AccountId.from_int(1)
RATE = 8
QUOTE_TTL_MS = 500
SETUP = [
    ("OrderValidationPolicy", "refuses an order without a trade amount or with a zero one"),
    ("OrderSizeLimitPolicy", "USD orders: at most 2 BTC and 150,000 USD each"),
    ("RateLimitPolicy", f"at most {RATE} orders a second across the desk"),
    ("SpotFundsPolicy", "holds what each order needs; market orders priced at the mark + 10 bps"),
    ("PnlBoundsKillSwitchPolicy", "stops account 1 once its realized USD P&L is below -1,000"),
    ("market data", f"ETH/USDT mark 3,000; a quote is stale after {QUOTE_TTL_MS} ms"),
]
FUNDS_HEADER = f"  {'#':<4} {'order':<22} {'verdict':<11} funds: available / held"


def build_engine(rate: int, quote_ttl):
    """The five built-in policies over one feed that prices ETH/USDT."""
    feed = vantrel.Engine.builder().full_sync().market_data(QuoteTtl.infinite()).build()
    feed.push(feed.register_with_ttl(Instrument("ETH", "USDT"), quote_ttl), Quote(mark=Price("3000")))
    floor = SimpleNamespace(account_id=ACCOUNT, settlement_asset="USD", initial_pnl="0",
                            lower_bound="-1000", upper_bound=None)
    # A size limit needs a price, so it refuses market orders in its asset: it covers
    # USD, where this desk sends limit orders, and leaves USDT to the feed.
    return (vantrel.Engine.builder().full_sync()
            .builtin(OrderValidationPolicy())
            .builtin(OrderSizeLimitPolicy(asset_barriers=[
                (OrderSizeLimit(max_quantity="2", max_notional="150000"), "USD")]))
            .builtin(RateLimitPolicy(broker=(rate, 1_000_000_000)))
            .builtin(SpotFundsPolicy(market_data=feed, default_slippage_bps=10))
            .builtin(PnlBoundsKillSwitchPolicy(account_barriers=[floor]))
            .build())


def order(side: str, qty: str, asset: str, price: str | None = None) -> Order:
    return Order(operation=OrderOperation(
        underlying_asset=asset, settlement_asset="USD" if asset == "BTC" else "USDT", account_id=ACCOUNT,
        side=side, trade_amount=TradeAmount.quantity(Quantity(qty)), price=None if price is None else Price(price)))


def amount(value) -> str:
    """Plain digits with thousands separators and no trailing zeros."""
    return f"{Decimal(str(value)).normalize():,f}"


def describe(o: Order) -> str:
    op = o.operation
    price = "market" if op.price is None else amount(op.price)
    return f"{op.side.lower():<4} {amount(op.trade_amount.as_quantity)} {op.underlying_asset} @ {price}"


def deposit(asset: str, cash: str) -> AccountAdjustment:
    return AccountAdjustment(operation=AccountAdjustmentBalanceOperation(asset=asset),
                             amount=AccountAdjustmentAmount(balance=AdjustmentAmount.delta(PositionSize(cash))))


def row(left: str, verdict: str, funds: str) -> None:
    """One line in the columns of FUNDS_HEADER."""
    print(f"  {left:<27} {verdict:<11} {funds}")


def explain(verdict) -> None:
    """Who refused (or blocked) and why: policy, code, reason, then the details."""
    print(f"{'':<7}{verdict.policy:<26} {verdict.code:<24} {verdict.reason}")
    if verdict.details:
        print(f"{'':<34}{verdict.details}")


class Desk:
    """The host's side: sends orders, answers for the venue, prints each verdict."""

    def __init__(self, engine):
        self.engine = engine
        self.sent = 0
        self.realized = Decimal(0)

    def funds(self, asset: str) -> tuple[str, str]:
        """(available, held) in `asset`; a batch of zero deltas reads the slot and changes nothing."""
        zero = AdjustmentAmount.delta(PositionSize("0"))
        read = AccountAdjustment(operation=AccountAdjustmentBalanceOperation(asset=asset),
                                 amount=AccountAdjustmentAmount(balance=zero, held=zero))
        entry = self.engine.apply_account_adjustment(ACCOUNT, [read]).outcomes[0].entry
        return amount(entry.balance.absolute), amount(entry.held.absolute)

    def watch(self, assets, step):
        """Runs `step`; returns its result and, per asset, how the funds slot moved."""
        before = [self.funds(a) for a in assets]
        result = step()
        moves = []
        for asset, was in zip(assets, before):
            now = self.funds(asset)
            moved = "unchanged" if now == was else f"-> {now[0]:>8} / {now[1]}"
            moves.append(f"{asset:<4} {was[0]:>8} / {was[1]:<7} {moved}")
        return result, moves

    def send(self, o: Order):
        """Both pre-trade stages in one call; returns the reservation, or None if refused."""
        self.sent += 1
        op = o.operation
        held = op.settlement_asset if op.side == "BUY" else op.underlying_asset
        result, (funds,) = self.watch([held], lambda: self.engine.execute_pre_trade(o))
        row(f"#{self.sent:<3} {describe(o)}", "accepted" if result.ok else "REFUSED", funds)
        for reject in result.rejects:
            explain(reject)
        return result.reservation

    def fill(self, n: int, o: Order, lock, price: str, pnl: str, fee: str) -> None:
        """Reports order #n filled in full at `price`, with the P&L and fee the venue booked."""
        op = o.operation
        report = ExecutionReport(
            operation=ExecutionReportOperation(underlying_asset=op.underlying_asset,
                                               settlement_asset=op.settlement_asset, account_id=ACCOUNT, side=op.side),
            financial_impact=FinancialImpact(pnl=pnl, fee=fee),
            fill=ExecutionReportFillDetails(last_trade=Trade(price=Price(price), quantity=op.trade_amount.as_quantity),
                                            leaves_quantity=Quantity("0"), lock=lock, is_final=True))
        result, (paid, bought) = self.watch([op.settlement_asset, op.underlying_asset],
                                            lambda: self.engine.apply_execution_report(report))
        row(f"#{n:<3} {describe(o)}", "filled", paid)
        row(f"     at {amount(price)}", "", bought)
        booked = f"pnl {pnl}, fee {fee}"
        if op.settlement_asset == "USD":  # the one asset with a P&L floor here
            self.realized += Decimal(pnl) - Decimal(fee)
            booked += f": realized USD P&L {self.realized}"
        print(f"{'':<7}{booked}")
        for block in result.account_blocks:
            print(f"{'':<7}ACCOUNT 1 BLOCKED")
            explain(block)


def heading(text: str, columns: bool = False) -> None:
    print(f"\n{text}")
    if columns:
        print(FUNDS_HEADER)


def orders_per_second(check, seconds: float = 0.3) -> float:
    """How many calls of `check` (one order each) run per second, over about `seconds`."""
    for _ in range(1000):
        check()
    done, start = 0, time.perf_counter()
    while (elapsed := time.perf_counter() - start) < seconds:
        for _ in range(2000):
            check()
        done += 2000
    return done / elapsed


def speed() -> None:
    load = os.getloadavg()[0]
    heading(f"6. Speed on this machine ({os.cpu_count()} CPUs, load {load:.1f}): one thread, "
            "calls from Python, all five policies")
    engine = build_engine(2**63, QuoteTtl.infinite())
    for asset in ("USD", "USDT"):
        engine.apply_account_adjustment(ACCOUNT, [deposit(asset, "1000000000")])

    def accepted_then_rolled_back(o):
        def check():
            result = engine.execute_pre_trade(o)
            assert result.ok, result.rejects
            result.reservation.rollback()
        return check

    oversized = order("BUY", "3", "BTC", "60000")
    cases = [
        ("limit buy, accepted, rolled back", accepted_then_rolled_back(order("BUY", "0.1", "BTC", "60000"))),
        ("market buy priced from the feed, rolled back", accepted_then_rolled_back(order("BUY", "1", "ETH"))),
        ("buy refused by the size limit", lambda: engine.execute_pre_trade(oversized)),
    ]
    for label, check in cases:
        rate = orders_per_second(check)
        print(f"  {label:<46} {rate:>11,.0f} orders/s  {1e6 / rate:5.2f} µs each")


def main() -> None:
    print("vantrel risk desk: one engine, five built-in policies, one market-data feed\n")
    for name, what in SETUP:
        print(f"  {name:<27} {what}")
    desk = Desk(build_engine(RATE, QuoteTtl.within(timedelta(milliseconds=QUOTE_TTL_MS))))

    heading("1. Deposits to account 1", columns=True)
    for asset, cash in (("USD", "100000"), ("USDT", "20000")):
        _, (funds,) = desk.watch([asset], lambda: desk.engine.apply_account_adjustment(ACCOUNT, [deposit(asset, cash)]))
        row(f"     deposit {amount(cash)} {asset}", "done", funds)

    heading(f"2. A burst of ten orders; the rate limit allows {RATE} a second", columns=True)
    burst = [order("BUY", "1", "BTC", "60000"), order("BUY", "0", "BTC", "60000"),
             order("BUY", "3", "BTC", "60000"), order("BUY", "1", "BTC", "60000"),
             order("BUY", "2", "ETH"), order("SELL", "0.5", "BTC", "61000"),
             order("BUY", "0.5", "BTC", "59900")] + [order("BUY", "0.1", "BTC", "59950")] * 3
    open_orders = {}
    for o in burst:
        reservation = desk.send(o)
        if reservation is not None:
            open_orders[desk.sent] = (o, reservation)
    print(f"  {len(open_orders)} accepted, {len(burst) - len(open_orders)} refused")

    heading("3. The venue answers: #7 refused there (rolled back), the others sent (committed)", columns=True)
    locks = {}
    for n, (o, reservation) in open_orders.items():
        locks[n] = reservation.lock()  # for the fill's report; a finalised reservation no longer gives it
        step = reservation.rollback if n == 7 else reservation.commit
        _, (funds,) = desk.watch([o.operation.settlement_asset], step)
        row(f"#{n:<3} {describe(o)}", "rolled back" if n == 7 else "committed", funds)

    heading(f"4. The ETH feed goes quiet for a second (its quotes live {QUOTE_TTL_MS} ms)", columns=True)
    time.sleep(1.0)  # past the quote's life, and past the rate window: #11 starts a new one
    desk.send(order("BUY", "1", "ETH"))

    heading("5. Fills arrive; the kill switch sums each report's pnl - fee", columns=True)
    for n, price, fee in ((1, "59980", "30"), (5, "3001", "3"), (8, "59950", "3")):
        desk.fill(n, open_orders[n][0], locks[n], price, "0", fee)
    for qty, price, pnl, fee in (("0.6", "59400", "-348", "18"), ("0.5", "58800", "-590", "15")):
        o = order("SELL", qty, "BTC", price)
        reservation = desk.send(o)
        lock = reservation.lock()
        reservation.commit()
        desk.fill(desk.sent, o, lock, price, pnl, fee)
    desk.send(order("BUY", "0.1", "BTC", "58800"))

    speed()


if __name__ == "__main__":
    main()
