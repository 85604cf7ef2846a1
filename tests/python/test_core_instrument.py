"""vantrel.core.Instrument."""

import sys

import pytest

from vantrel.core import Instrument


class StrSub(str):
    pass


@pytest.mark.parametrize(
    "underlying, settlement, text",
    [
        ("BTC", "USD", 'Instrument(underlying_asset="BTC", settlement_asset="USD")'),
        (" ETH", "USDT ", 'Instrument(underlying_asset=" ETH", settlement_asset="USDT ")'),
        ('a"b', "c\\d", 'Instrument(underlying_asset="a\\"b", settlement_asset="c\\\\d")'),
        ("x\ty", "it's", 'Instrument(underlying_asset="x\\ty", settlement_asset="it\'s")'),
        ("e\u0301", "\u20ac", 'Instrument(underlying_asset="e\\u{301}", settlement_asset="\u20ac")'),
        ("a\x00b\x7f", "\u200bz", 'Instrument(underlying_asset="a\\0b\\u{7f}", settlement_asset="\\u{200b}z")'),
        ("\u05d0\u05b0", "\u0915\u093e", 'Instrument(underlying_asset="\u05d0\\u{5b0}", settlement_asset="\u0915\\u{93e}")'),
        (StrSub("SOL"), "USD", 'Instrument(underlying_asset="SOL", settlement_asset="USD")'),
    ],
)
def test_instrument(underlying, settlement, text):
    instrument = Instrument(underlying, settlement)
    assert repr(instrument) == str(instrument) == text
    assert instrument.underlying_asset == underlying and type(instrument.underlying_asset) is str
    assert instrument.settlement_asset == settlement
    assert repr(Instrument(settlement_asset=settlement, underlying_asset=underlying)) == text


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        (("BTC", ""), {}, ValueError, "asset must not be empty"),
        (("BTC", " \u3000"), {}, ValueError, "asset must not be empty"),
        ((5, ""), {}, TypeError, "asset must be a str"),  # underlying first
        (("BTC", None), {}, TypeError, "asset must be a str"),
        ((b"BTC", "USD"), {}, TypeError, "asset must be a str"),
        (("\ud800", "USD"), {}, TypeError, "asset must be a str"),
        (("BTC",), {}, TypeError, "Instrument.__new__() missing 1 required positional argument: 'settlement_asset'"),
        (("a", "b", "c"), {}, TypeError, "Instrument.__new__() takes 2 positional arguments but 3 were given"),
        (("a",), {"underlying_asset": "b"}, TypeError, "Instrument.__new__() got multiple values for argument 'underlying_asset'"),
    ],
)
def test_instrument_errors(args, kwargs, error, message):
    with pytest.raises(error) as info:
        Instrument(*args, **kwargs)
    assert type(info.value) is error and str(info.value) == message


def test_instrument_is_final_read_only_and_identity_equal():
    with pytest.raises(TypeError):
        type("Sub", (Instrument,), {})
    instrument = Instrument("BTC", "USD")
    for name in ("underlying_asset", "settlement_asset"):
        with pytest.raises(AttributeError):
            setattr(instrument, name, "ETH")
        with pytest.raises(AttributeError):
            delattr(instrument, name)
    assert instrument != Instrument("BTC", "USD") and instrument == instrument


def test_instrument_arguments_are_not_leaked():
    underlying, settlement, bad = "L" * 40, "S" * 40, object()
    counts = [sys.getrefcount(x) for x in (underlying, settlement, bad)]
    for _ in range(100):
        Instrument(underlying, settlement)
        with pytest.raises(TypeError):
            Instrument(underlying, bad)
    assert [sys.getrefcount(x) for x in (underlying, settlement, bad)] == counts
