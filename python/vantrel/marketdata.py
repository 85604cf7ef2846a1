"""Market data: instruments, quotes and their staleness limits."""

from __future__ import annotations

from ._exports import classes_of, exceptions

_classes = classes_of("vantrel.marketdata")
globals().update(_classes)
globals().update(exceptions())

__all__ = list(_classes)
