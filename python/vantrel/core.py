"""Core records: orders, execution reports, account adjustments, instruments."""

from __future__ import annotations

from ._exports import classes_of, exceptions

_classes = classes_of("vantrel.core")
globals().update(_classes)
globals().update(exceptions())

__all__ = list(_classes)
