"""Shared tables for the decimal value class tests."""

from vantrel import param

KINDS = ["Price", "Quantity", "Volume", "Notional", "Pnl", "Fee", "CashFlow", "PositionSize"]
NEVER_NEGATIVE = {"Quantity", "Volume", "Notional"}
SIGNED = [name for name in KINDS if name not in NEVER_NEGATIVE]
MAX_MANTISSA = 2**96 - 1


def cls(name):
    return getattr(param, name)


def other_kind(name):
    """A decimal class other than `name`, for the never-mix rules."""
    return cls("Fee" if name != "Fee" else "Pnl")


def canonical(mantissa, scale, negative=False):
    """The canonical text of (sign) mantissa / 10**scale, as the classes print it."""
    digits = str(mantissa).rjust(scale + 1, "0")
    text = f"{digits[:-scale]}.{digits[-scale:]}" if scale else digits
    return f"-{text}" if negative else text


# numpy's boolean scalar is recognised by its type's module and name alone.
NumpyBool = type("bool_", (), {"__module__": "numpy", "__float__": lambda self: 1.0, "__index__": lambda self: 1})
