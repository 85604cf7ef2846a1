"""vantrel: a pre-trade risk-control engine with exact decimals."""

from __future__ import annotations

from . import _vantrel
from ._exports import EXCEPTION_NAMES, classes_of, exceptions
from . import core, marketdata, param, pretrade
from .pretrade import policies
from .param import PositionEffect, PositionMode, PositionSide, Side

globals().update(exceptions())

# Every public class of the extension is reachable from the top level too.
_public = {}
for _module in ("vantrel", "vantrel.param", "vantrel.core", "vantrel.marketdata",
                "vantrel.pretrade", "vantrel.pretrade.policies"):
    _public.update(classes_of(_module))
globals().update(_public)

__all__ = [
    *EXCEPTION_NAMES,
    *_public,
    "Side",
    "PositionSide",
    "PositionEffect",
    "PositionMode",
    "core",
    "marketdata",
    "param",
    "pretrade",
    "policies",
]

del _module
