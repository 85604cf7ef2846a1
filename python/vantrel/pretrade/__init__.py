"""Pre-trade results, rejects, requests, reservations and the price lock."""

from __future__ import annotations

from .._exports import classes_of, exceptions

_classes = classes_of("vantrel.pretrade")
globals().update(_classes)
globals().update(exceptions())

__all__ = list(_classes)
