"""A plain Python pre-trade engine: the baseline the Python drivers compare against.

It does what a careful host would write by hand with `decimal.Decimal`: a list of
policies, each with a start hook and a main hook that may stage an undo; a reservation
that commits or rolls the staged undos back. The five checks mirror the built-in
policies used by the drivers (order validation, an order size limit, a fixed-window rate
limit, a funds hold, a P&L bound); it keeps no locks, like a single-threaded host would.
"""

from __future__ import annotations

import time
from decimal import Decimal

ZERO = Decimal(0)


class PlainOrder:
    __slots__ = ("account", "side", "quantity", "price", "underlying", "settlement")

    def __init__(self, account, side, quantity, price, underlying="BTC", settlement="USD"):
        self.account = account
        self.side = side
        self.quantity = Decimal(quantity)
        self.price = Decimal(price)
        self.underlying = underlying
        self.settlement = settlement


class Reject:
    __slots__ = ("policy", "code", "reason")

    def __init__(self, policy, code, reason):
        self.policy = policy
        self.code = code
        self.reason = reason


class Context:
    __slots__ = ("account",)

    def __init__(self, account):
        self.account = account


class Reservation:
    __slots__ = ("_undo", "_open")

    def __init__(self, undo):
        self._undo = undo
        self._open = True

    def commit(self):
        if not self._open:
            raise RuntimeError("reservation has already been finalized")
        self._open = False
        self._undo = None

    def rollback(self):
        if not self._open:
            raise RuntimeError("reservation has already been finalized")
        self._open = False
        for undo in reversed(self._undo):
            undo()


class Result:
    __slots__ = ("ok", "rejects", "reservation")

    def __init__(self, rejects, reservation):
        self.ok = reservation is not None
        self.rejects = rejects
        self.reservation = reservation


class PlainEngine:
    def __init__(self, policies):
        self.policies = list(policies)

    def execute_pre_trade(self, order):
        ctx = Context(order.account)
        rejects = []
        for policy in self.policies:
            found = policy.check_pre_trade_start(ctx, order)
            if found is not None:
                rejects.extend(found)
        if rejects:
            return Result(rejects, None)
        undo = []
        for policy in self.policies:
            found = policy.perform_pre_trade_check(ctx, order, undo)
            if found is not None:
                rejects.extend(found)
        if rejects:
            for step in reversed(undo):
                step()
            return Result(rejects, None)
        return Result(rejects, Reservation(undo))


class Policy:
    def check_pre_trade_start(self, ctx, order):
        return None

    def perform_pre_trade_check(self, ctx, order, undo):
        return None


class NoOp(Policy):
    """What a policy that does nothing costs inside this engine."""


class Validation(Policy):
    def check_pre_trade_start(self, ctx, order):
        if order.quantity.is_zero():
            return [Reject("OrderValidationPolicy", "InvalidFieldValue", "order quantity must be non-zero")]
        return None


class SizeLimit(Policy):
    def __init__(self, max_quantity, max_notional):
        self.max_quantity = Decimal(max_quantity)
        self.max_notional = Decimal(max_notional)

    def check_pre_trade_start(self, ctx, order):
        if order.account is None:
            return [Reject("OrderSizeLimitPolicy", "MissingRequiredField", "account ID is missing")]
        if order.quantity > self.max_quantity:
            return [Reject("OrderSizeLimitPolicy", "OrderQtyExceedsLimit", "order quantity exceeds limit")]
        if order.quantity * order.price > self.max_notional:
            return [Reject("OrderSizeLimitPolicy", "OrderNotionalExceedsLimit", "order notional exceeds limit")]
        return None


class RateLimit(Policy):
    """A broker-wide fixed window."""

    def __init__(self, max_orders, window_ns):
        self.max_orders = max_orders
        self.window_ns = window_ns
        self.window_start = time.monotonic_ns()
        self.count = 0

    def check_pre_trade_start(self, ctx, order):
        now = time.monotonic_ns()
        if now - self.window_start >= self.window_ns:
            self.window_start = now
            self.count = 0
        self.count += 1
        if self.count > self.max_orders:
            return [Reject("RateLimitPolicy", "RateLimitExceeded", "rate limit exceeded")]
        return None


class FundsHold(Policy):
    """Holds price x quantity of the settlement asset for a buy; the undo gives it back."""

    def __init__(self):
        self.available = {}
        self.held = {}

    def deposit(self, account, asset, amount):
        key = (account, asset)
        self.available[key] = self.available.get(key, ZERO) + Decimal(amount)

    def perform_pre_trade_check(self, ctx, order, undo):
        if order.side != "BUY":
            return None
        need = order.price * order.quantity
        key = (order.account, order.settlement)
        usable = self.available.get(key, ZERO)
        if need > usable:
            return [Reject("SpotFundsPolicy", "InsufficientFunds", "insufficient funds")]
        self.available[key] = usable - need
        self.held[key] = self.held.get(key, ZERO) + need

        def give_back():
            self.available[key] += need
            self.held[key] -= need

        undo.append(give_back)
        return None


class PnlBound(Policy):
    def __init__(self, lower, upper):
        self.lower = Decimal(lower)
        self.upper = Decimal(upper)
        self.pnl = {}

    def check_pre_trade_start(self, ctx, order):
        pnl = self.pnl.get((order.account, order.settlement), ZERO)
        if pnl < self.lower or pnl > self.upper:
            return [Reject("PnlBoundsKillSwitchPolicy", "PnlKillSwitchTriggered", "pnl kill switch triggered")]
        return None
