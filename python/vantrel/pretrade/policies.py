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
