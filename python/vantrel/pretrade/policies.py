"""Built-in policies and their configuration records."""

from __future__ import annotations

from .._exports import classes_of, exceptions

_classes = classes_of("vantrel.pretrade.policies")
globals().update(_classes)
globals().update(exceptions())

__all__ = list(_classes)
