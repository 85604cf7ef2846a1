"""The shared argument conversions that later subsystems call, driven through the probe module.

The probe has class and exception objects of its own: instances handed to it come from
`probe.probe_class(...)`, and its exceptions are recognised by their qualified names.
"""

import sys
import types
from decimal import Decimal
from typing import NamedTuple

import pytest

import vantrel.core
import vantrel.param
from vantrel.param import PositionEffect, PositionMode, PositionSide, Side
from stand_ins import Index, IntSubclass, RaisingIndex, StrSubclass

U32_MAX = 2**32 - 1
U64_MAX = 2**64 - 1
NOT_ACCOUNT_ID = "account_id must be vantrel.param.AccountId"
RESERVED = "account group id must not equal the reserved default group"
GROUP_ARGUMENT = "account_group_id must be an AccountGroupId or integer in range 1..=4294967295"
NOT_ASSET = "asset must be a str"
EMPTY_ASSET = "asset must not be empty"
NOT_INSTRUMENT = "instrument must be vantrel.core.Instrument"
NOT_POSITION_SIZE = "PositionSize must be a Decimal, str, int, or float"
GROUP_READ = "account_info.account_group must be AccountGroupId or None, got: "

# The Unicode White_Space set, and look-alikes outside it that must survive trimming.
WHITE_SPACE = [chr(c) for c in [*range(0x09, 0x0E), 0x20, 0x85, 0xA0, 0x1680, *range(0x2000, 0x200B)]] + [
    "\u2028", "\u2029", "\u202f", "\u205f", "\u3000"
]
NOT_WHITE_SPACE = ["\u200b", "\u180e", "\ufeff", "\x1c", "\x1f", "\u2060"]


class Raises(NamedTuple):
    """An expected exception: a built-in class (matched exactly) or the probe's own type name."""

    type: type | str
    text: str


def check(call, expected):
    if not isinstance(expected, Raises):
        assert call() == expected
        return
    base = expected.type if isinstance(expected.type, type) else Exception
    with pytest.raises(base) as info:
        call()
    if isinstance(expected.type, type):
        assert type(info.value) is expected.type
    else:
        assert type(info.value).__name__ == expected.type
    assert str(info.value) == expected.text


def ns(**attrs):
    return types.SimpleNamespace(**attrs)


class Recorder:
    """Answers the attributes it was given, raising what is an exception, and records every read."""

    def __init__(self, **attrs):
        self.reads = []
        self.attrs = attrs

    def __getattr__(self, name):
        self.reads.append(name)
        if name not in self.attrs:
            raise AttributeError(name)
        value = self.attrs[name]
        if isinstance(value, BaseException):
            raise value
        return value


@pytest.fixture
def cls(probe):
    return probe.probe_class


# -- identifiers


@pytest.mark.parametrize(
    "items, expected",
    [
        (lambda c: [], ()),
        (lambda c: [c("AccountId").from_int(0), c("AccountId").from_int(U64_MAX)], (0, U64_MAX)),
        (lambda c: (c("AccountId").from_int(v) for v in (5, 6)), (5, 6)),
        (lambda c: [c("AccountId").from_int(1), 2], Raises(TypeError, NOT_ACCOUNT_ID)),
        (lambda c: [True], Raises(TypeError, NOT_ACCOUNT_ID)),
        (lambda c: ["1"], Raises(TypeError, NOT_ACCOUNT_ID)),
        (lambda c: [c("AccountGroupId").from_int(1)], Raises(TypeError, NOT_ACCOUNT_ID)),
        (lambda c: [c("InstrumentId")(1)], Raises(TypeError, NOT_ACCOUNT_ID)),
    ],
)
def test_next_account_id_item(probe, cls, items, expected):
    check(lambda: probe.account_ids(items(cls)), expected)


def test_next_account_id_item_passes_iterator_error(probe, cls):
    failure = KeyError("iterator broke")

    def items():
        yield cls("AccountId").from_int(1)
        raise failure

    with pytest.raises(KeyError) as info:
        probe.account_ids(items())
    assert info.value is failure


@pytest.mark.parametrize(
    "value, expected",
    [
        (lambda c: c("AccountGroupId").DEFAULT, 0),
        (lambda c: c("AccountGroupId").from_int(7), 7),
        (lambda c: c("AccountGroupId").from_int(U32_MAX), U32_MAX),
        (lambda c: 1, 1),
        (lambda c: U32_MAX, U32_MAX),
        (lambda c: True, 1),
        (lambda c: IntSubclass(5), 5),
        (lambda c: Index(9), 9),
        (lambda c: 0, Raises(ValueError, RESERVED)),
        (lambda c: False, Raises(ValueError, RESERVED)),
        (lambda c: Index(0), Raises(ValueError, RESERVED)),
        (lambda c: -1, Raises(ValueError, GROUP_ARGUMENT)),
        (lambda c: U32_MAX + 1, Raises(ValueError, GROUP_ARGUMENT)),
        (lambda c: 2**64, Raises(ValueError, GROUP_ARGUMENT)),
        (lambda c: "1", Raises(ValueError, GROUP_ARGUMENT)),
        (lambda c: 1.0, Raises(ValueError, GROUP_ARGUMENT)),
        (lambda c: None, Raises(ValueError, GROUP_ARGUMENT)),
        (lambda c: RaisingIndex(), Raises(ValueError, GROUP_ARGUMENT)),
        (lambda c: c("AccountId").from_int(3), Raises(ValueError, GROUP_ARGUMENT)),
    ],
)
def test_extract_account_group_id(probe, cls, value, expected):
    check(lambda: probe.account_group_id(value(cls)), expected)


# -- assets

TEXT_CASES = [
    ("BTC", "BTC"),
    (" ETH", " ETH"),
    ("\tUSD \n", "\tUSD \n"),
    ("é€😀", "é€😀"),
    ('B"T\\C', 'B"T\\C'),
    *[(f"{c}X{c}", f"{c}X{c}") for c in WHITE_SPACE[:3]],
    *[(c, c) for c in NOT_WHITE_SPACE],
    ("", Raises(ValueError, EMPTY_ASSET)),
    ("   ", Raises(ValueError, EMPTY_ASSET)),
    ("".join(WHITE_SPACE), Raises(ValueError, EMPTY_ASSET)),
    *[(c, Raises(ValueError, EMPTY_ASSET)) for c in WHITE_SPACE],
]


@pytest.mark.parametrize("conversion", ["asset", "parse_asset", "optional_asset"])
@pytest.mark.parametrize("text, expected", TEXT_CASES)
def test_asset_text(probe, conversion, text, expected):
    check(lambda: getattr(probe, conversion)(text), expected)


@pytest.mark.parametrize("conversion", ["asset", "optional_asset"])
@pytest.mark.parametrize(
    "value, expected",
    [
        (StrSubclass("SOL "), "SOL "),
        (5, Raises(TypeError, NOT_ASSET)),
        (b"BTC", Raises(TypeError, NOT_ASSET)),
        (["BTC"], Raises(TypeError, NOT_ASSET)),
        (Side.BUY, "BUY"),
        ("\ud800", Raises(TypeError, NOT_ASSET)),
    ],
)
def test_extract_asset_object(probe, conversion, value, expected):
    check(lambda: getattr(probe, conversion)(value), expected)
    if not isinstance(expected, Raises):
        assert type(getattr(probe, conversion)(value)) is str


def test_asset_to_optional_string_keeps_absence(probe):
    assert probe.optional_asset(None) is None


# -- instruments


class FailingProperty:
    """`underlying_asset` and `settlement_asset` are plain; `_inner` raises a non-attribute error."""

    underlying_asset = "BTC"
    settlement_asset = "USD"

    @property
    def _inner(self):
        raise RuntimeError("inner broke")


@pytest.mark.parametrize(
    "value, expected",
    [
        (lambda c: c("Instrument")("BTC", "USD"), ("BTC", "USD")),
        (lambda c: c("Instrument")(" BTC", "USD\t"), (" BTC", "USD\t")),
        (lambda c: ns(_inner=c("Instrument")("ETH", "EUR"), underlying_asset="BTC", settlement_asset="USD"),
         ("ETH", "EUR")),
        (lambda c: ns(_inner=c("Instrument")("ETH", "EUR")), ("ETH", "EUR")),
        (lambda c: ns(_inner=("ETH", "EUR"), underlying_asset="BTC", settlement_asset="USD"), ("BTC", "USD")),
        (lambda c: ns(_inner=None, underlying_asset="BTC", settlement_asset="USD"), ("BTC", "USD")),
        (lambda c: FailingProperty(), ("BTC", "USD")),
        (lambda c: ns(underlying_asset=" BTC", settlement_asset=StrSubclass("USD")), (" BTC", "USD")),
        (lambda c: vantrel.core.Instrument("SOL", "USDT"), ("SOL", "USDT")),
        (lambda c: ns(_inner=ns(underlying_asset="BTC", settlement_asset="USD")), Raises(TypeError, NOT_INSTRUMENT)),
        (lambda c: ns(underlying_asset="BTC"), Raises(TypeError, NOT_INSTRUMENT)),
        (lambda c: ns(settlement_asset="USD"), Raises(TypeError, NOT_INSTRUMENT)),
        (lambda c: ns(underlying_asset=5), Raises(TypeError, NOT_INSTRUMENT)),
        (lambda c: object(), Raises(TypeError, NOT_INSTRUMENT)),
        (lambda c: None, Raises(TypeError, NOT_INSTRUMENT)),
        (lambda c: "BTC/USD", Raises(TypeError, NOT_INSTRUMENT)),
        (lambda c: ("BTC", "USD"), Raises(TypeError, NOT_INSTRUMENT)),
        (lambda c: ns(underlying_asset=5, settlement_asset="USD"), Raises(TypeError, NOT_ASSET)),
        (lambda c: ns(underlying_asset="BTC", settlement_asset=""), Raises(ValueError, EMPTY_ASSET)),
        (lambda c: ns(underlying_asset=" ", settlement_asset=5), Raises(ValueError, EMPTY_ASSET)),
        (lambda c: ns(underlying_asset="BTC", settlement_asset=None), Raises(TypeError, NOT_ASSET)),
    ],
)
def test_extract_instrument(probe, cls, value, expected):
    check(lambda: probe.instrument(value(cls)), expected)


def test_extract_instrument_reads_underlying_then_settlement(probe):
    source = Recorder(underlying_asset="BTC", settlement_asset="USD")
    assert probe.instrument(source) == ("BTC", "USD")
    assert source.reads == ["_inner", "underlying_asset", "settlement_asset"]


def test_extract_instrument_passes_attribute_errors_other_than_missing(probe):
    failure = RuntimeError("settlement broke")
    with pytest.raises(RuntimeError) as info:
        probe.instrument(Recorder(underlying_asset="BTC", settlement_asset=failure))
    assert info.value is failure


# -- outcome amounts


@pytest.mark.parametrize(
    "value, expected",
    [
        (lambda c: None, None),
        (lambda c: c("OutcomeAmount")(delta="1.50", absolute="-2"), ("1.50", "-2")),
        (lambda c: ns(delta="1.50", absolute="-2"), ("1.50", "-2")),
        (lambda c: ns(delta=3, absolute=0.25), ("3", "0.25")),
        (lambda c: ns(delta=c("PositionSize").from_fee(c("Fee")("0.00")), absolute=Decimal("1E+3")),
         ("-0.00", "1000")),
        (lambda c: ns(delta="-0", absolute=c("PositionSize")("-7.10")), ("0", "-7.10")),
        (lambda c: ns(delta="1"), Raises(AttributeError, "'types.SimpleNamespace' object has no attribute 'absolute'")),
        (lambda c: ns(absolute="1"), Raises(AttributeError, "'types.SimpleNamespace' object has no attribute 'delta'")),
        (lambda c: 0, Raises(AttributeError, "'int' object has no attribute 'delta'")),
        (lambda c: ns(delta=True, absolute="1"), Raises(ValueError, NOT_POSITION_SIZE)),
        (lambda c: ns(delta="1", absolute=[1]), Raises(ValueError, NOT_POSITION_SIZE)),
        (lambda c: ns(delta=c("Price")(1), absolute="1"), Raises(TypeError, NOT_POSITION_SIZE)),
        (lambda c: ns(delta="abc", absolute=True), Raises("ParamError", "invalid format for PositionSize: 'abc'")),
    ],
)
def test_extract_outcome_amount(probe, cls, value, expected):
    check(lambda: probe.outcome_amount(value(cls)), expected)


@pytest.mark.parametrize(
    "attrs, error, reads",
    [
        ({"absolute": "1"}, AttributeError, ["delta"]),
        ({"delta": True, "absolute": "1"}, ValueError, ["delta", "absolute"]),
        ({"delta": "1", "absolute": "1"}, None, ["delta", "absolute"]),
    ],
)
def test_extract_outcome_amount_reads(probe, attrs, error, reads):
    source = Recorder(**attrs)
    if error is None:
        assert probe.outcome_amount(source) == ("1", "1")
    else:
        with pytest.raises(error):
            probe.outcome_amount(source)
    assert source.reads == reads


# -- position enumerations

# Per parser: the text for an object that is not a str, and the one for an unknown word.
PARSER_TEXTS = {
    "position_side": (
        "position_side must be a str or vantrel.PositionSide",
        "ValueError: invalid position side {}; expected 'long' or 'short'",
    ),
    "position_mode": (
        "mode must be a str or vantrel.param.PositionMode",
        "ValueError: invalid position mode {}; expected 'netting' or 'hedged'",
    ),
    "position_effect": (
        "position_effect must be a str or vantrel.PositionEffect",
        "ValueError: invalid position effect {}; expected 'open' or 'close'",
    ),
}


@pytest.mark.parametrize(
    "parser, value, index",
    [
        ("position_side", "long", 0),
        ("position_side", " SHORT\t", 1),
        ("position_side", "\u3000Long\u2029", 0),
        ("position_side", StrSubclass("short"), 1),
        ("position_side", PositionSide.LONG, 0),
        ("position_side", PositionSide.SHORT, 1),
        ("position_mode", "HEDGED", 1),
        ("position_mode", " netting\n", 0),
        ("position_mode", PositionMode.NETTING, 0),
        ("position_mode", PositionMode.HEDGED, 1),
        ("position_effect", "open", 0),
        ("position_effect", "Close\u00a0", 1),
        ("position_effect", PositionEffect.OPEN, 0),
        ("position_effect", PositionEffect.CLOSE, 1),
    ],
)
def test_position_parser_accepts(probe, parser, value, index):
    assert getattr(probe, parser)(value) == index


@pytest.mark.parametrize("parser", list(PARSER_TEXTS))
@pytest.mark.parametrize("value", [1, 0, None, True, b"long", ["open"], 1.0])
def test_position_parser_refuses_non_str(probe, parser, value):
    check(lambda: getattr(probe, parser)(value), Raises(TypeError, PARSER_TEXTS[parser][0]))


@pytest.mark.parametrize(
    "parser, value, shown",
    [
        ("position_side", "flat", '"flat"'),
        ("position_side", " Fl\tAT ", '"fl\\tat"'),
        ("position_side", "", '""'),
        ("position_side", Side.BUY, '"buy"'),
        ("position_side", "\uff2c\uff2f\uff2e\uff27", '"\uff2c\uff2f\uff2e\uff27"'),  # only ASCII is folded
        ("position_side", 'lo"ng\\', '"lo\\"ng\\\\"'),
        ("position_mode", "flat", '"flat"'),
        ("position_mode", "NET", '"net"'),
        ("position_mode", PositionSide.LONG, '"long"'),
        ("position_effect", "opened", '"opened"'),
        ("position_effect", "\u200bopen", '"\\u{200b}open"'),  # a zero-width space is not white space
        ("position_effect", "cl\x01ose", '"cl\\u{1}ose"'),
    ],
)
def test_position_parser_unknown_word(probe, parser, value, shown):
    unknown_word = PARSER_TEXTS[parser][1]
    check(lambda: getattr(probe, parser)(value), Raises(TypeError, unknown_word.format(shown)))


@pytest.mark.parametrize("effect, member", [(None, None), (0, PositionEffect.OPEN), (1, PositionEffect.CLOSE)])
def test_position_effect_to_py(probe, effect, member):
    assert probe.position_effect_to_py(effect) is member


def test_position_effect_to_py_calls_the_package_enum(probe, monkeypatch):
    calls = []
    made = object()

    def fake(*args, **kwargs):
        calls.append((args, kwargs))
        return made

    monkeypatch.setattr(vantrel.param, "PositionEffect", fake)
    assert probe.position_effect_to_py(1) is made
    assert probe.position_effect_to_py(0) is made
    assert calls == [(("CLOSE",), {}), (("OPEN",), {})]


def test_position_effect_to_py_passes_python_errors(probe, monkeypatch):
    failure = LookupError("enum broke")

    def failing(_):
        raise failure

    monkeypatch.setattr(vantrel.param, "PositionEffect", failing)
    with pytest.raises(LookupError) as info:
        probe.position_effect_to_py(0)
    assert info.value is failure

    monkeypatch.delattr(vantrel.param, "PositionEffect")
    with pytest.raises(AttributeError, match="PositionEffect"):
        probe.position_effect_to_py(0)

    monkeypatch.setitem(sys.modules, "vantrel.param", None)
    with pytest.raises(ImportError):
        probe.position_effect_to_py(1)
    assert probe.position_effect_to_py(None) is None


# -- registry and market-data errors

REGISTERED = (
    'instrument Instrument { underlying_asset: Asset("BTC"), settlement_asset: Asset("USD") } is already registered'
)


@pytest.mark.parametrize(
    "builder, args, exception, message",
    [
        ("account_group_error", lambda c: ("ReservedDefaultGroup",), "AccountGroupRegistrationError",
         "the reserved default account group is not a valid target"),
        ("account_group_error", lambda c: ("AlreadyInGroup", 7, 3), "AccountGroupRegistrationError",
         "account 7 is already registered in group 3"),
        ("account_group_error", lambda c: ("AlreadyInGroup", U64_MAX, U32_MAX), "AccountGroupRegistrationError",
         f"account {U64_MAX} is already registered in group {U32_MAX}"),
        ("account_group_error", lambda c: ("NotInGroup", 7, 3), "AccountGroupRegistrationError",
         "account 7 is not in group 3; it belongs to no group"),
        ("account_group_error", lambda c: ("NotInGroup", 7, 3, 5), "AccountGroupRegistrationError",
         "account 7 is not in group 3; it belongs to group 5"),
        ("register_error", lambda c: (c("Instrument")("BTC", "USD"),), "AlreadyRegistered", REGISTERED),
        ("register_error", lambda c: (ns(underlying_asset="BTC", settlement_asset="USD"),), "AlreadyRegistered",
         REGISTERED),
        ("register_error", lambda c: (c("Instrument")('B"T\\C', " U\nSD"),), "AlreadyRegistered",
         'instrument Instrument { underlying_asset: Asset("B\\"T\\\\C"), settlement_asset: Asset(" U\\nSD") }'
         " is already registered"),
        ("register_with_id_error", lambda c: (c("Instrument")("BTC", "USD"),), "RegistrationError", REGISTERED),
        ("register_with_id_error", lambda c: (42,), "RegistrationError", "instrument id 42 is already registered"),
        ("register_with_id_error", lambda c: (U64_MAX,), "RegistrationError",
         f"instrument id {U64_MAX} is already registered"),
        ("unknown_instrument_id", lambda c: (0,), "UnknownInstrumentId", "unknown instrument id: 0"),
        ("unknown_instrument_id", lambda c: (U64_MAX,), "UnknownInstrumentId", f"unknown instrument id: {U64_MAX}"),
    ],
)
def test_registry_error_builders(probe, cls, builder, args, exception, message):
    build = getattr(probe, builder)
    error = build(*args(cls))
    assert (type(error).__module__, type(error).__qualname__) == ("vantrel", exception)
    assert type(error).__bases__ == (Exception,)
    assert error.args == (message,)
    # Raised the way the callers will raise it: the same type and text.
    with pytest.raises(type(error)) as info:
        build(*args(cls), raised=True)
    assert info.value.args == (message,)


# -- account_info.account_group, read during core work


class GroupProperty:
    """`account_group` is a property that raises the given exception, counting reads."""

    def __init__(self, failure):
        self.failure = failure
        self.reads = []

    @property
    def account_group(self):
        self.reads.append("account_group")
        raise self.failure


NO_ATTRIBUTE = AttributeError("account_info has no group")
BROKEN = ValueError("group lookup broke")


@pytest.mark.parametrize(
    "account_info, group, error",
    [
        (lambda c: Recorder(), None, AttributeError("account_group")),
        (lambda c: Recorder(account_group=None), None, None),
        (lambda c: Recorder(account_group=c("AccountGroupId").DEFAULT), 0, None),
        (lambda c: Recorder(account_group=c("AccountGroupId").from_int(9)), 9, None),
        (lambda c: Recorder(account_group=c("AccountGroupId").from_int(U32_MAX)), U32_MAX, None),
        (lambda c: Recorder(account_group=5), None,
         TypeError(GROUP_READ + "TypeError: 'int' object cannot be converted to 'AccountGroupId'")),
        (lambda c: Recorder(account_group=0), None,
         TypeError(GROUP_READ + "TypeError: 'int' object cannot be converted to 'AccountGroupId'")),
        (lambda c: Recorder(account_group="group"), None,
         TypeError(GROUP_READ + "TypeError: 'str' object cannot be converted to 'AccountGroupId'")),
        (lambda c: Recorder(account_group=c("AccountId").from_int(9)), None,
         TypeError(GROUP_READ + "TypeError: 'AccountId' object cannot be converted to 'AccountGroupId'")),
        (lambda c: GroupProperty(NO_ATTRIBUTE), None, NO_ATTRIBUTE),
        (lambda c: GroupProperty(BROKEN), None, BROKEN),
    ],
)
@pytest.mark.parametrize("reads", [1, 3])
def test_extract_account_info_group(probe, cls, account_info, group, error, reads):
    source = account_info(cls)
    seen = []
    if error is None:
        assert probe.account_info_group(source, reads, seen.append) == group
    else:
        with pytest.raises(type(error)) as info:
            probe.account_info_group(source, reads, seen.append)
        assert type(info.value) is type(error)
        assert str(info.value) == str(error)
        if isinstance(source, GroupProperty):
            assert info.value is error  # the fetched exception itself, not a copy
    # The work went on with the group it read, and the attribute was read once per cell.
    assert seen == [group]
    assert source.reads == ["account_group"]


class InterruptingIndex:
    def __index__(self):
        raise KeyboardInterrupt


@pytest.mark.parametrize(
    "value, expected",
    [(0, 0), (65535, 65535), (True, 1), (False, 0), (IntSubclass(7), 7), (Index(9), 9)],
)
def test_policy_group_id_reads_through_index(probe, value, expected):
    assert probe.policy_group_id(value) == expected


@pytest.mark.parametrize("value", [-1, 65536, 2**64, 7.0, "7", None, Decimal(3), RaisingIndex()])
def test_policy_group_id_refusals_share_one_text(probe, value):
    with pytest.raises(ValueError) as info:
        probe.policy_group_id(value)
    assert type(info.value) is ValueError
    assert str(info.value) == "policy_group_id must be an integer in range 0..=65535"


def test_policy_group_id_lets_an_interrupt_through(probe):
    with pytest.raises(KeyboardInterrupt):
        probe.policy_group_id(InterruptingIndex())
