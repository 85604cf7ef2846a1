"""Decimal value classes fed arbitrary Python objects: only the documented exceptions, no leaks."""

import operator
import subprocess
import sys
from decimal import Decimal

import pytest

from vantrel import ParamError
from vantrel.param import Fee, Notional, Pnl, PositionSize, Price, Quantity, Volume
from decimal_kinds import KINDS, NumpyBool, cls
from hostile_kit import Boom, RaisingIndex, StrSub, feed


class RaisingStr(Decimal):
    def __str__(self):
        raise Boom("str")


class RaisingFloat:
    def __float__(self):
        raise Boom("float")


class WrongFloat:
    def __float__(self):
        return "not a float"


class IntSub(int):
    pass


class DecimalSub(Decimal):
    pass


class HostileMeta(type):
    @property
    def __module__(cls):
        raise Boom("module")


class HostileType(metaclass=HostileMeta):
    pass


OddType = type("OddType", (), {"__module__": 5})


HOSTILE = [
    None, True, False, 0, -1, 2**63, 2**64, -(2**64), 2**200, 10**400, float("nan"), float("inf"), -0.0, 1e308,
    5e-324, b"1", bytearray(b"1"), "1.5", "", "\ud800", "1" * 10_000, StrSub("2.5"), IntSub(3), DecimalSub("1.5"),
    Decimal("sNaN"), Decimal("-Infinity"), Decimal("1E+999999"), RaisingStr("1"), RaisingIndex(), RaisingFloat(),
    WrongFloat(), NumpyBool(), HostileType(), OddType(), object(), [1], {}, Price(1), Quantity(1), Fee(-1),
]
ALLOWED = (TypeError, ValueError, OverflowError, Boom)  # ParamError is a ValueError


def entry_points(c):
    """Every way a Python object reaches one decimal class, as callables of that object."""
    yield c
    yield c.from_decimal
    yield c.from_string
    yield c.from_int
    yield c.from_float
    for rounded in (c.from_string_rounded, c.from_float_rounded, c.from_decimal_rounded):
        yield lambda x, r=rounded: r(x, 2, "Up")
        yield lambda x, r=rounded: r("1.5" if r is not c.from_float_rounded else 1.5, x, "Up")
        yield lambda x, r=rounded, v=Decimal("1.5"): r(v if r is c.from_decimal_rounded else "1", 2, x)
    value = c(1)
    for op in (operator.add, operator.sub, operator.mul, operator.truediv, operator.mod, operator.lt, operator.eq):
        yield lambda x, op=op: op(value, x)
        yield lambda x, op=op: op(x, value)


def own_member_calls():
    yield Price(1).calculate_volume
    yield Price(1).calculate_position_size
    yield Quantity(1).calculate_volume
    yield Volume(1).calculate_quantity
    yield Notional(1).calculate_margin_required
    yield Notional.from_volume
    yield lambda x: Notional.from_price_quantity(Price(1), x)
    yield Pnl.from_fee
    yield lambda x: PositionSize.from_quantity_and_side(Quantity(1), x)
    yield lambda x: PositionSize(1).checked_add_quantity(Quantity(1), x)


@pytest.mark.parametrize("name", KINDS)
def test_hostile_arguments_raise_only_documented_errors(name):
    feed(list(entry_points(cls(name))) + list(own_member_calls()), HOSTILE, ALLOWED)


def test_errors_of_inspected_objects_pass_through():
    with pytest.raises(Boom, match="str"):
        Price(RaisingStr("1"))
    with pytest.raises(Boom, match="module"):
        Price(HostileType())
    with pytest.raises(Boom, match="module"):
        Price(1) * HostileType()
    with pytest.raises(Boom, match="index"):
        Price.from_int(RaisingIndex())
    with pytest.raises(Boom, match="float"):
        Price.from_float(RaisingFloat())
    with pytest.raises(TypeError, match="cannot be converted to 'PyString'"):
        Price(OddType())


@pytest.mark.parametrize(
    "obj, error",
    [(RaisingIndex(), ValueError), (RaisingFloat(), ValueError), (WrongFloat(), ValueError), ("\ud800", ValueError)],
)
def test_failed_conversions_are_value_errors(obj, error):
    with pytest.raises(error):
        Price(obj)
    with pytest.raises(TypeError):
        Price(1) * obj


def test_interrupts_are_not_swallowed():
    class Interrupting:
        def __float__(self):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        Price(Interrupting())
    with pytest.raises(KeyboardInterrupt):
        Price(1) * Interrupting()


def test_no_reference_leaks():
    keep = [RaisingStr("1"), RaisingIndex(), Decimal("1.5"), "1.5", 2**70, 1.5, object(), Price(2)]
    calls = list(entry_points(Price)) + list(own_member_calls())

    def run():
        for call in calls:
            for obj in keep:
                try:
                    call(obj)
                except ALLOWED:
                    pass

    run()  # warm caches (interned names, the decimal module)
    before = [sys.getrefcount(obj) for obj in keep] + [sys.getrefcount(Price), sys.getrefcount(Decimal)]
    for _ in range(50):
        run()
    after = [sys.getrefcount(obj) for obj in keep] + [sys.getrefcount(Price), sys.getrefcount(Decimal)]
    assert after == before


FIRST_USE_FROM_THREADS = """
import sys, threading
from vantrel.param import Price
if "decimal" in sys.modules:
    sys.exit(3)  # already imported by the package: nothing left to test
results = []
def work():
    for _ in range(200):
        results.append(str(Price(1).decimal))
threads = [threading.Thread(target=work) for _ in range(8)]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
assert results == ["1"] * 1600
"""


def test_first_use_of_decimal_from_many_threads():
    # The first conversion imports the decimal module, which lets other threads in.
    code = subprocess.run([sys.executable, "-c", FIRST_USE_FROM_THREADS], timeout=60).returncode
    if code == 3:
        pytest.skip("the package imports decimal itself")
    assert code == 0
