"""vantrel.marketdata: Quote, QuoteTtl and QuoteResolution."""

import datetime
import decimal
import types

import pytest

from vantrel.marketdata import Quote, QuoteResolution, QuoteTtl
from vantrel.param import Price, Quantity


@pytest.mark.parametrize(
    "kwargs, text",
    [
        ({}, "Quote(mark=None, bid=None, ask=None)"),
        ({"mark": 101.5}, "Quote(mark=Some(Price(101.5)), bid=None, ask=None)"),
        ({"mark": None, "bid": "1.50", "ask": decimal.Decimal("-2")},
         "Quote(mark=None, bid=Some(Price(1.50)), ask=Some(Price(-2)))"),
        ({"ask": Price(3), "bid": 7}, "Quote(mark=None, bid=Some(Price(7)), ask=Some(Price(3)))"),
    ],
)
def test_quote_fields_and_repr(kwargs, text):
    quote = Quote(**kwargs)
    assert repr(quote) == text
    for name in ("mark", "bid", "ask"):
        value = getattr(quote, name)
        given = kwargs.get(name)
        if given is None:
            assert value is None
        else:
            assert type(value) is Price and value == Price(given)


def test_quote_equality_is_numeric_and_unhashable():
    assert Quote() == Quote()
    assert Quote(mark=1) == Quote(mark="1.00")
    assert Quote(mark=1) != Quote(mark=1, bid=1)
    assert Quote(bid=1) != Quote(ask=1)
    assert (Quote() == 5) is False and (Quote() != None) is True  # noqa: E711
    with pytest.raises(TypeError, match="^Quote supports only == and !=$"):
        Quote() < Quote()
    with pytest.raises(TypeError, match="^Quote supports only == and !=$"):
        Quote(mark=1) >= Quote(mark=2)
    with pytest.raises(TypeError):
        hash(Quote())
    with pytest.raises(TypeError):
        Quote() < 1  # both sides NotImplemented: the interpreter's error


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"mark": "x"}, "ParamError", None),
        ({"bid": Quantity(1)}, TypeError, "Price must be a Decimal, str, int, or float"),
        ({"ask": object()}, ValueError, "Price must be a Decimal, str, int, or float"),
        ({"mark": "x", "bid": object()}, "ParamError", None),  # mark is converted first
    ],
)
def test_quote_conversion_errors(kwargs, error, message):
    import vantrel

    expected = getattr(vantrel, error) if isinstance(error, str) else error
    with pytest.raises(expected) as info:
        Quote(**kwargs)
    if message is not None:
        assert str(info.value) == message


def test_quote_is_keyword_only_frozen_and_final():
    with pytest.raises(TypeError):
        Quote(1)
    with pytest.raises(AttributeError):
        Quote().mark = Price(1)
    with pytest.raises(TypeError):
        type("Sub", (Quote,), {})


@pytest.mark.parametrize(
    "duration, text",
    [
        (datetime.timedelta(0), "QuoteTtl.within(0ns)"),
        (datetime.timedelta(seconds=1.5), "QuoteTtl.within(1.5s)"),
        (datetime.timedelta(milliseconds=250), "QuoteTtl.within(250ms)"),
        (datetime.timedelta(microseconds=3), "QuoteTtl.within(3\u00b5s)"),
        (datetime.timedelta(days=1), "QuoteTtl.within(86400s)"),
        (datetime.timedelta.max, "QuoteTtl.within(86399999999999.999999s)"),
        # Duck-typed: microseconds past a second are carried.
        (types.SimpleNamespace(days=0, seconds=1, microseconds=1_500_000), "QuoteTtl.within(2.5s)"),
        (types.SimpleNamespace(days=True, seconds=0, microseconds=0), "QuoteTtl.within(86400s)"),
    ],
)
def test_quote_ttl_within(duration, text):
    assert repr(QuoteTtl.within(duration)) == text
    assert repr(QuoteTtl.within(duration=duration)) == text


class RaisingDays:
    def __init__(self, error):
        self.error = error

    @property
    def days(self):
        raise self.error


@pytest.mark.parametrize(
    "duration, error, message",
    [
        (RaisingDays(TypeError("nope")), TypeError, "argument 'duration': nope"),
        (RaisingDays(KeyError("k")), KeyError, "'k'"),
        (datetime.timedelta(seconds=-1), ValueError, "duration must not be negative"),
        (datetime.timedelta(microseconds=-1), ValueError, "duration must not be negative"),
        (types.SimpleNamespace(days=10**15, seconds=0, microseconds=0), OverflowError,
         "duration has more seconds than a 64-bit count holds"),
        (types.SimpleNamespace(days=10**30, seconds=0, microseconds=0), OverflowError, None),
        (types.SimpleNamespace(days="1", seconds=0, microseconds=0), TypeError, "argument 'duration': "),
        (types.SimpleNamespace(days=1.0, seconds=0, microseconds=0), TypeError, "argument 'duration': "),
        (5, AttributeError, None),
        (types.SimpleNamespace(days=1, seconds=0), AttributeError, None),
    ],
)
def test_quote_ttl_within_errors(duration, error, message):
    with pytest.raises(error) as info:
        QuoteTtl.within(duration)
    assert type(info.value) is error
    if message is not None:
        assert str(info.value).startswith(message)


def test_quote_ttl_identity_and_infinite():
    assert repr(QuoteTtl.infinite()) == "QuoteTtl.infinite()"
    a, b = QuoteTtl.infinite(), QuoteTtl.infinite()
    assert a == a and a != b  # identity equality
    assert len({a, b, a}) == 2  # identity hashing
    with pytest.raises(TypeError, match="No constructor defined for QuoteTtl"):
        QuoteTtl()
    with pytest.raises(TypeError):
        QuoteTtl.infinite(1)


@pytest.mark.parametrize(
    "member, value, text",
    [
        (QuoteResolution.ACCOUNT_ONLY, 0, "QuoteResolution.ACCOUNT_ONLY"),
        (QuoteResolution.ACCOUNT_THEN_GROUP, 1, "QuoteResolution.ACCOUNT_THEN_GROUP"),
        (QuoteResolution.ACCOUNT_THEN_GROUP_THEN_DEFAULT, 2, "QuoteResolution.ACCOUNT_THEN_GROUP_THEN_DEFAULT"),
    ],
)
def test_quote_resolution_members(member, value, text):
    assert int(member) == value and repr(member) == text
    assert member == value and not (member != value)
    assert member != value + 1 and member != 2**70 and member != -(2**70)
    assert (member == str(value)) is False
    others = [m for m in (QuoteResolution.ACCOUNT_ONLY, QuoteResolution.ACCOUNT_THEN_GROUP,
                          QuoteResolution.ACCOUNT_THEN_GROUP_THEN_DEFAULT) if int(m) != value]
    assert all(member != other for other in others)
    with pytest.raises(TypeError):
        member < 1
    with pytest.raises(TypeError):
        member < member
    with pytest.raises(TypeError):
        hash(member)


def test_quote_resolution_class():
    assert QuoteResolution.__doc__ == "Resolution mode that controls which quote buckets a read may fall through to."
    assert QuoteResolution.ACCOUNT_THEN_GROUP == True  # noqa: E712
    with pytest.raises(TypeError, match="No constructor defined for QuoteResolution"):
        QuoteResolution()
