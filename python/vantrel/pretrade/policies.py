"""Built-in policies and their configuration records."""

from __future__ import annotations

from .._exports import classes_of, exceptions

_classes = classes_of("vantrel.pretrade.policies")
globals().update(_classes)
globals().update(exceptions())

__all__ = list(_classes)


class OrderValidationPolicy:
    """Refuses, at the start stage, an order without a trade amount or with a zero one.

    Hand it to ``builtin()`` on an engine builder; its settings are checked there.
    """

    __slots__ = ("_policy_group_id",)

    def __init__(self, *, policy_group_id=0):
        self._policy_group_id = policy_group_id

    def _build(self, ready):
        ready._add_builtin_order_validation(policy_group_id=self._policy_group_id)

    def __repr__(self):
        return f"OrderValidationPolicy(policy_group_id={self._policy_group_id!r})"


__all__.append("OrderValidationPolicy")


class OrderSizeLimitPolicy:
    """Refuses, at the start stage, an order whose quantity or notional is above its limit.

    Limits apply broker-wide (``broker``), per settlement asset (``asset_barriers``: tuples
    ``(OrderSizeLimit, asset)``) and per account and settlement asset
    (``account_asset_barriers``: tuples ``(OrderSizeLimit, account_id, asset)``); an account
    and asset limit replaces the asset limit for that account, and the broker limit always
    applies too. The settings are kept as given and checked when the policy is built into an
    engine; each engine gets its own policy.
    """

    __slots__ = ("_policy_group_id", "_broker", "_asset_barriers", "_account_asset_barriers")

    def __init__(self, *, policy_group_id=0, broker=None, asset_barriers=(), account_asset_barriers=()):
        self._policy_group_id = policy_group_id
        self._broker = broker
        self._asset_barriers = asset_barriers
        self._account_asset_barriers = account_asset_barriers

    def _build(self, ready):
        ready._add_builtin_order_size_limit(
            policy_group_id=self._policy_group_id,
            broker=self._broker,
            asset_barriers=self._asset_barriers,
            account_asset_barriers=self._account_asset_barriers,
        )


class RateLimitPolicy:
    """Caps how many orders enter the start stage within a window.

    ``broker`` is ``(max_orders, window_ns)``; ``asset_barriers`` holds tuples
    ``(asset, max_orders, window_ns)``, ``account_barriers`` tuples
    ``(account_id, max_orders, window_ns)`` and ``account_asset_barriers`` tuples
    ``(account_id, asset, max_orders, window_ns)``. Broker and asset barriers count in fixed
    windows and refuse single orders; account barriers keep a sliding log, and the first
    order above one blocks the account for the life of the engine. Each engine the policy is
    built into counts on its own.
    """

    __slots__ = ("_policy_group_id", "_broker", "_asset_barriers", "_account_barriers", "_account_asset_barriers")

    def __init__(
        self, *, policy_group_id=0, broker=None, asset_barriers=(), account_barriers=(), account_asset_barriers=()
    ):
        self._policy_group_id = policy_group_id
        self._broker = broker
        self._asset_barriers = asset_barriers
        self._account_barriers = account_barriers
        self._account_asset_barriers = account_asset_barriers

    def _build(self, ready):
        ready._add_builtin_rate_limit(
            policy_group_id=self._policy_group_id,
            broker=self._broker,
            asset_barriers=self._asset_barriers,
            account_barriers=self._account_barriers,
            account_asset_barriers=self._account_asset_barriers,
        )


class PnlBoundsKillSwitchPolicy:
    """Stops trading for an account whose realized P&L in a settlement asset leaves its bounds.

    ``broker_barriers`` are objects with ``settlement_asset``, ``lower_bound`` and
    ``upper_bound``; ``account_barriers`` objects also carry ``account_id`` (an ``AccountId``)
    and ``initial_pnl``. Every breach blocks the account for the life of the engine; a new
    engine starts from the configured ``initial_pnl``. Each engine keeps its own running P&L.
    """

    __slots__ = ("_policy_group_id", "_broker_barriers", "_account_barriers")

    def __init__(self, *, policy_group_id=0, broker_barriers=(), account_barriers=()):
        self._policy_group_id = policy_group_id
        self._broker_barriers = broker_barriers
        self._account_barriers = account_barriers

    def _build(self, ready):
        ready._add_builtin_pnl_bounds_killswitch(
            policy_group_id=self._policy_group_id,
            broker_barriers=self._broker_barriers,
            account_barriers=self._account_barriers,
        )


__all__ += ["OrderSizeLimitPolicy", "RateLimitPolicy", "PnlBoundsKillSwitchPolicy"]


_OMITTED = object()


class SpotFundsPolicy:
    """Funds per account and asset: available, held for open orders, incoming.

    Orders the account cannot pay for are refused; an accepted order holds what
    it needs until execution reports consume it or a final report releases the
    remainder. Orders without a price are valued from ``market_data`` (mark or
    top of book) moved by slippage against the trader; overrides by instrument,
    account group or account (the account beats the group, the group beats the
    instrument).

    Held funds are one total per account and asset, not one per order, so the
    host keeps to this protocol: one final report per committed order, never
    ``rollback()`` of an order that was sent, never a report for an order that
    was rolled back. With ``account_sync()`` the host also keeps calls that
    touch one account (executes, finalising its reservations, reports,
    adjustments) from overlapping.

    The keywords are those of ``ReadyEngineBuilder._add_builtin_spot_funds``;
    they are checked when the engine builder adds the policy.
    """

    __slots__ = ("_keywords",)

    def __init__(self, *, policy_group_id=0, market_data=None, default_slippage_bps=None,
                 pricing_source=None, overrides=_OMITTED):
        self._keywords = {
            "policy_group_id": policy_group_id,
            "market_data": market_data,
            "default_slippage_bps": default_slippage_bps,
            "pricing_source": pricing_source,
        }
        if overrides is not _OMITTED:
            self._keywords["overrides"] = overrides

    def _build(self, ready):
        ready._add_builtin_spot_funds(**self._keywords)


__all__.append("SpotFundsPolicy")
