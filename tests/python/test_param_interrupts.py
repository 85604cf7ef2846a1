"""Conversions that fall back to another rule drop ordinary errors only:
Ctrl-C and SystemExit raised by a user's `__index__` or `__float__` get through."""

import pytest

from vantrel.param import AccountGroupId, AccountId, Leverage, Notional, Price, Quantity


class Interrupting:
    """Raises `error` from whichever numeric protocol is tried; counts the tries."""

    def __init__(self, error):
        self.error, self.tries = error, 0

    def __index__(self):
        self.tries += 1
        raise self.error

    def __float__(self):
        self.tries += 1
        raise self.error


class FloatInterrupting(Interrupting):
    """An integer it is not; only its float conversion is interrupted."""

    __index__ = None


LEVERAGE = Leverage(10)

CALLS = {
    "Leverage": Leverage,
    "Leverage.from_int": Leverage.from_int,
    "Leverage.from_float": Leverage.from_float,
    "calculate_margin_required": LEVERAGE.calculate_margin_required,
    "AccountId.from_int": AccountId.from_int,
    "AccountGroupId.from_int": AccountGroupId.from_int,
    "Price": Price,
    "Quantity.from_int": Quantity.from_int,
    "Price.from_float": Price.from_float,
    "Price.from_float_rounded": lambda v: Price.from_float_rounded(v, 2, "Down"),
    "Price * x": lambda v: Price(1) * v,
    "Notional / x": lambda v: Notional(1) / v,
}


@pytest.mark.parametrize("error_type", [KeyboardInterrupt, SystemExit])
@pytest.mark.parametrize("holder", [Interrupting, FloatInterrupting])
@pytest.mark.parametrize("name", sorted(CALLS))
def test_interrupts_are_never_swallowed(name, holder, error_type):
    error = error_type("stop")
    value = holder(error)
    with pytest.raises(BaseException) as info:
        CALLS[name](value)
    if value.tries:
        assert info.value is error
    else:  # no protocol was tried: the call refused the type outright
        assert isinstance(info.value, Exception)
