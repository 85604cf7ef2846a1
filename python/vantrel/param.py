"""Parameter values: exact decimal amounts, identifiers and the side and position enums."""

from __future__ import annotations

import enum

from ._exports import classes_of, exceptions


class Side(enum.StrEnum):
    BUY = "BUY"
    SELL = "SELL"


class PositionSide(enum.StrEnum):
    LONG = "LONG"
    SHORT = "SHORT"


class PositionEffect(enum.StrEnum):
    OPEN = "OPEN"
    CLOSE = "CLOSE"


class PositionMode(enum.StrEnum):
    NETTING = "netting"
    HEDGED = "hedged"


_classes = classes_of("vantrel.param")
globals().update(_classes)
globals().update(exceptions())

__all__ = [*_classes, "Side", "PositionSide", "PositionEffect", "PositionMode"]
