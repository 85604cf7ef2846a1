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
