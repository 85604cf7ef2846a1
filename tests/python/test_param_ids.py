"""AccountId, AccountGroupId and InstrumentId."""

import gc
import os
import subprocess
import sys

import pytest
from hypothesis import given, strategies as st

from vantrel import _vantrel
from vantrel.marketdata import InstrumentId
from vantrel.param import AccountGroupId, AccountId
from stand_ins import Index, IntSubclass, RaisingIndex, StrSubclass

U64_MAX = 2**64 - 1
U32_MAX = 2**32 - 1
ACCOUNT_RANGE = "account id must be a non-negative integer in range 0..=18446744073709551615"
GROUP_RANGE = "account_group_id must be an integer in range 1..=4294967295"
RESERVED = "account group id must not equal the reserved default group"
BLANKS = ["", " ", " \t\n\r\x0b\x0c", "\u3000", "\u00a0\u2028\u0085", "\u2000\u200a\u202f\u205f"]


def fnv1a(data: bytes, bits: int) -> int:
    """Independent FNV-1a over the given bytes."""
    h, prime = (0xCBF29CE484222325, 0x100000001B3) if bits == 64 else (0x811C9DC5, 0x01000193)
    for byte in data:
        h = ((h ^ byte) * prime) % (1 << bits)
    return h


# -- AccountId


@pytest.mark.parametrize("value", [0, 1, 42, 2**63, U64_MAX, IntSubclass(7), Index(9), True])
def test_account_id_from_int(value):
    account = AccountId.from_int(value)
    assert type(account) is AccountId
    assert account.value == int(value.__index__())
    assert type(account.value) is int
    assert repr(account) == str(account) == f"AccountId(value={int(value.__index__())})"
    assert AccountId.from_int(value=value) == account


@pytest.mark.parametrize(
    "value",
    [-1, 2**64, -(2**70), 2**200, "5", 1.0, float("nan"), None, b"1", [1], Index(-1), Index(2**64), RaisingIndex()],
)
def test_account_id_from_int_refuses_with_overflow_error(value):
    with pytest.raises(OverflowError) as info:
        AccountId.from_int(value)
    assert type(info.value) is OverflowError
    assert str(info.value) == ACCOUNT_RANGE
    assert info.value.__context__ is None  # the conversion's own error is discarded


@pytest.mark.parametrize("text", ["a", " a", "a ", "account-1", "é", "€uro", "\U0001f600", "x" * 1000, "\x00"])
def test_account_id_from_string_hashes_utf8_untrimmed(text):
    account = AccountId.from_string(text)
    assert account.value == fnv1a(text.encode(), 64)
    assert AccountId.from_string(StrSubclass(text)) == account


def test_account_id_published_vector():
    assert AccountId.from_string("foobar").value == 0x85944171F73967E8
    assert AccountId.from_string("a") != AccountId.from_string(" a")


TEXT = st.text(alphabet=st.characters(blacklist_categories=("Cs",)))


@given(TEXT, TEXT)
def test_from_string_matches_reference(prefix, suffix):
    text = prefix + "x" + suffix  # never blank
    assert AccountId.from_string(text).value == fnv1a(text.encode(), 64)
    assert AccountGroupId.from_string(text).value == (fnv1a(text.encode(), 32) or 1)


@pytest.mark.parametrize("text", BLANKS)
def test_account_id_from_string_refuses_blank(text):
    with pytest.raises(ValueError) as info:
        AccountId.from_string(text)
    assert type(info.value) is ValueError
    assert str(info.value) == "account id string must not be empty"


@pytest.mark.parametrize(
    "value, type_name", [(5, "int"), (None, "NoneType"), (b"a", "bytes"), (AccountId.from_int(1), "AccountId")]
)
def test_from_string_refuses_non_str(value, type_name):
    for cls in (AccountId, AccountGroupId):
        with pytest.raises(TypeError) as info:
            cls.from_string(value)
        assert str(info.value) == f"argument 'value': '{type_name}' object cannot be converted to 'PyString'"


def test_from_string_lone_surrogate_is_the_encoding_error():
    with pytest.raises(UnicodeEncodeError):
        AccountId.from_string("\ud800")


# -- AccountGroupId


@pytest.mark.parametrize("value", [1, 7, U32_MAX, True, Index(5), IntSubclass(3)])
def test_group_from_int(value):
    group = AccountGroupId.from_int(value)
    assert group.value == int(value.__index__())
    assert hash(group) == group.value
    assert repr(group) == str(group) == f"AccountGroupId(value={group.value})"


@pytest.mark.parametrize("value", [0, False, Index(0)])
def test_group_from_int_refuses_default(value):
    with pytest.raises(ValueError) as info:
        AccountGroupId.from_int(value)
    assert type(info.value) is ValueError
    assert str(info.value) == RESERVED


@pytest.mark.parametrize("value", [-1, U32_MAX + 1, 2**64, "1", 1.0, None, Index(-3), RaisingIndex()])
def test_group_from_int_refuses_with_overflow_error(value):
    with pytest.raises(OverflowError) as info:
        AccountGroupId.from_int(value)
    assert type(info.value) is OverflowError
    assert str(info.value) == GROUP_RANGE


@pytest.mark.parametrize("text", ["a", " a", "foobar", "group-7", "é"])
def test_group_from_string(text):
    assert AccountGroupId.from_string(text).value == fnv1a(text.encode(), 32)


def test_group_hash_zero_becomes_one():
    assert fnv1a(b"BR42qf", 32) == 0
    assert AccountGroupId.from_string("BR42qf").value == 1
    assert AccountGroupId.from_string("BR42qf") == AccountGroupId.from_int(1)


@pytest.mark.parametrize("text", BLANKS)
def test_group_from_string_refuses_blank(text):
    with pytest.raises(ValueError) as info:
        AccountGroupId.from_string(text)
    assert str(info.value) == "account group id string must not be empty"


def test_group_default():
    default = AccountGroupId.DEFAULT
    assert type(default) is AccountGroupId
    assert default.value == 0 and hash(default) == 0
    assert repr(default) == "AccountGroupId(value=0)"
    assert AccountGroupId.DEFAULT is default
    assert default == AccountGroupId.DEFAULT
    assert default != AccountGroupId.from_int(1)


# -- InstrumentId


@pytest.mark.parametrize("value", [0, 7, U64_MAX, True, Index(3), IntSubclass(12)])
def test_instrument_id(value):
    instrument = InstrumentId(value)
    assert instrument.value == int(value.__index__())
    assert repr(instrument) == str(instrument) == f"InstrumentId({instrument.value})"
    assert InstrumentId(value=value) == instrument


@pytest.mark.parametrize("value", [-1, 2**64, 2**100])
def test_instrument_id_passes_overflow_error(value):
    with pytest.raises(OverflowError):
        InstrumentId(value)


@pytest.mark.parametrize(
    "value, message",
    [
        ("5", "argument 'value': 'str' object cannot be interpreted as an integer"),
        (1.5, "argument 'value': 'float' object cannot be interpreted as an integer"),
        (None, "argument 'value': 'NoneType' object cannot be interpreted as an integer"),
    ],
)
def test_instrument_id_type_errors_name_the_argument(value, message):
    with pytest.raises(TypeError) as info:
        InstrumentId(value)
    assert str(info.value) == message


def test_instrument_id_index_errors_pass_through():
    with pytest.raises(RuntimeError, match="no index"):
        InstrumentId(RaisingIndex())


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, "InstrumentId.__new__() missing 1 required positional argument: 'value'"),
        ((1, 2), {}, "InstrumentId.__new__() takes 1 positional arguments but 2 were given"),
        ((), {"id": 1}, "InstrumentId.__new__() got an unexpected keyword argument 'id'"),
    ],
)
def test_instrument_id_argument_errors(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        InstrumentId(*args, **kwargs)
    assert str(info.value) == message


# -- comparison, hashing


def test_equality_is_by_value_within_one_class():
    assert AccountId.from_int(5) == AccountId.from_int(5)
    assert AccountId.from_int(5) != AccountId.from_int(6)
    assert AccountId.from_int(1) != 1 and not (AccountId.from_int(1) == 1)
    assert AccountGroupId.from_int(1) != AccountId.from_int(1)
    assert InstrumentId(1) != InstrumentId(2) and InstrumentId(3) == InstrumentId(3)
    assert InstrumentId(1) != AccountId.from_int(1)
    assert len({AccountId.from_int(9), AccountId.from_int(9), AccountId.from_string("9")}) == 2


@pytest.mark.parametrize(
    "left, right",
    [
        (AccountId.from_int(1), AccountId.from_int(2)),
        (AccountGroupId.from_int(1), AccountGroupId.from_int(2)),
        (InstrumentId(1), 2),
        (AccountId.from_int(1), 2),
    ],
)
def test_ordering_is_the_interpreters_type_error(left, right):
    with pytest.raises(TypeError) as info:
        left < right  # noqa: B015
    assert "not supported between instances" in str(info.value)


@pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
def test_instrument_id_ordering_message(op):
    with pytest.raises(TypeError) as info:
        eval(f"a {op} b", {"a": InstrumentId(1), "b": InstrumentId(2)})
    assert str(info.value) == "InstrumentId supports only == and !="


def python_bytes_hashes(values):
    """The interpreter's SipHash-1-3 of each value's 8 little-endian bytes under a zero key."""
    code = "import sys\nfor v in map(int, sys.argv[1:]): print(hash(v.to_bytes(8, 'little')))"
    env = dict(os.environ, PYTHONHASHSEED="0")
    out = subprocess.run([sys.executable, "-c", code, *map(str, values)], capture_output=True, text=True, env=env,
                         check=True)
    return [int(line) for line in out.stdout.split()]


def test_hash_is_siphash13_of_value_and_stable():
    if sys.hash_info.algorithm != "siphash13":
        pytest.skip("the interpreter does not hash bytes with SipHash-1-3")
    values = [0, 1, 7, 255, 256, 2**32, 2**63 - 1, 2**63, U64_MAX, 0x0123456789ABCDEF]
    expected = python_bytes_hashes(values)
    for value, h in zip(values, expected):
        assert hash(AccountId.from_int(value)) == h
        assert hash(InstrumentId(value)) == h
    assert hash(AccountId.from_int(7)) == hash(InstrumentId(7))


# -- what cannot be done


@pytest.mark.parametrize("cls", [AccountId, AccountGroupId, InstrumentId])
def test_frozen_and_final(cls):
    sample = cls(1) if cls is InstrumentId else cls.from_int(1)
    with pytest.raises(AttributeError):
        sample.value = 2
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_factory_argument_errors():
    with pytest.raises(TypeError) as info:
        AccountId.from_int()
    assert str(info.value) == "AccountId.from_int() missing 1 required positional argument: 'value'"
    with pytest.raises(TypeError) as info:
        AccountGroupId.from_string("a", "b")
    assert str(info.value) == "AccountGroupId.from_string() takes 1 positional arguments but 2 were given"


def test_docstrings():
    assert AccountId.from_int.__text_signature__ == "(value)"
    assert AccountId.from_int.__doc__.endswith("Raises ``OverflowError`` for negative values.")
    assert "approximately n^2 / 2^65" in AccountId.from_string.__doc__
    assert "http://www.isthe.com/chongo/tech/comp/fnv/" in AccountId.from_string.__doc__
    assert AccountGroupId.from_int.__doc__.startswith("Constructs an account-group identifier from an integer.")
    assert "``DEFAULT_ACCOUNT_GROUP`` (``0``)" in AccountGroupId.from_int.__doc__
    assert "n^2 / (2 * 2^32)" in AccountGroupId.from_string.__doc__
    assert _vantrel.AccountGroupId is AccountGroupId


# -- robustness: arbitrary objects raise only the documented types and leak nothing

ODD_VALUES = [
    None, True, -0.0, float("nan"), float("inf"), 2**64, -(2**64), 2**300, b"1", "", " 1", "\ud800", StrSubclass("x"),
    IntSubclass(2**70), Index(2**70), Index("x"), RaisingIndex(), object(), [], 1j,
]
ID_CALLS = [
    (AccountId.from_int, (OverflowError,)),
    (AccountId.from_string, (TypeError, ValueError)),
    (AccountGroupId.from_int, (OverflowError, ValueError)),
    (AccountGroupId.from_string, (TypeError, ValueError)),
    (InstrumentId, (OverflowError, TypeError, RuntimeError)),
]


@pytest.mark.parametrize("call, errors", ID_CALLS)
@pytest.mark.parametrize("value", ODD_VALUES, ids=repr)
def test_odd_arguments(call, errors, value):
    # A collection meanwhile could free other tests' garbage that shares `value` ("" for one).
    gc.collect()
    gc.disable()
    try:
        before = sys.getrefcount(value)
        for _ in range(3):
            try:
                call(value)
            except errors:
                pass
            except UnicodeEncodeError:
                assert value == "\ud800"
        after = sys.getrefcount(value)
    finally:
        gc.enable()
    if not any(value is singleton for singleton in (None, True, False)):  # their counts move on their own
        assert after == before
