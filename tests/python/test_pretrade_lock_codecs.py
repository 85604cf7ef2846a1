"""The serialised forms of vantrel.pretrade.Lock: JSON, MessagePack and CBOR."""

import resource

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from vantrel.pretrade import Lock

PRICE = "expected a Decimal type representing a fixed-point number"


def lock_of(*pairs):
    return Lock(list(pairs))


@pytest.mark.parametrize(
    "pairs, json, msgpack, cbor",
    [
        ((), "[]", "90", "80"),
        (((0, "1.5"), (7, "2")), '[["1.5"],[7,"2"]]', "92 91 a3 31 2e 35 92 07 a1 32", "82 81 63 31 2e 35 82 07 61 32"),
        (((7, "2"),), '[[],[7,"2"]]', "92 90 92 07 a1 32", "82 80 82 07 61 32"),
        (((300, "-0.50"), (0, "100")), '[["100"],[300,"-0.50"]]',
         "92 91 a3 31 30 30 92 cd 01 2c a5 2d 30 2e 35 30", "82 81 63 31 30 30 82 19 01 2c 65 2d 30 2e 35 30"),
    ],
)
def test_writers_are_exact(pairs, json, msgpack, cbor):
    lock = lock_of(*pairs)
    assert lock.to_json() == json and type(lock.to_json()) is str
    assert lock.to_msgpack() == bytes.fromhex(msgpack) and type(lock.to_msgpack()) is bytes
    assert lock.to_cbor() == bytes.fromhex(cbor)
    assert Lock.from_json(json) == Lock.from_msgpack(bytes.fromhex(msgpack)) == Lock.from_cbor(bytes.fromhex(cbor)) == lock


@pytest.mark.parametrize(
    "text, pairs, rewritten",
    [
        ('[[],[7,"1"],[3,"2"],[7,"3"]]', [(7, "1"), (7, "3"), (3, "2")], '[[],[7,"1","3"],[3,"2"]]'),
        ("[[],[9]]", [], "[]"),
        ("[[]]", [], "[]"),
        ('[[7,"1"]]', [(0, "7"), (0, "1")], '[["7","1"]]'),
        ('[[1.5, 2, "1.50"]]', [(0, "1.5"), (0, "2"), (0, "1.50")], '[["1.5","2","1.50"]]'),
        # A number keeps its value but not its scale; a text keeps both.
        ("[[1.50, 1E2, -0.0]]", [(0, "1.5"), (0, "100"), (0, "0")], '[["1.5","100","0"]]'),
        ('[["0.0000000000000000000000000001"]]', [(0, "0.0000000000000000000000000001")],
         '[["0.0000000000000000000000000001"]]'),
    ],
)
def test_json_reads_normalised(text, pairs, rewritten):
    lock = Lock.from_json(text)
    assert [(g, str(p)) for g, p in lock.entries()] == pairs
    assert lock.to_json() == rewritten


# The positions: 1-based lines; the column counts the code points read on the line when
# reading stopped (a number up to its last character, a refused array up to its bracket).
JSON_ERRORS = [
    ("[[],[]]", "invalid length 0, expected non-default group section must start with a group_id at line 1 column 6"),
    ('[[],[0,"1"]]', "default group must be encoded as the first sublist, not as a tagged section at line 1 column 6"),
    ('[[],[70000,"1"]]', "invalid value: integer `70000`, expected u16 at line 1 column 10"),
    ('[[],[-1,"1"]]', "invalid value: integer `-1`, expected u16 at line 1 column 7"),
    ('[[],["7","1"]]', 'invalid type: string "7", expected u16 at line 1 column 8'),
    ('[[],[7.0,"1"]]', "invalid type: floating point `7.0`, expected u16 at line 1 column 8"),
    ('[["abc"]]', f'invalid value: string "abc", {PRICE} at line 1 column 7'),
    ("[[true]]", f"invalid type: boolean `true`, {PRICE} at line 1 column 6"),
    ("[5]", "invalid type: integer `5`, expected a list of prices for the default group at line 1 column 2"),
    ("[[],{}]", "invalid type: map, expected a non-default group section [group_id, prices...] at line 1 column 5"),
    ("[] x", "trailing characters at line 1 column 4"),
    # The reader's own wording, cut at the first byte of the code point: still valid text.
    ("[\n[1,\n\u00e92]]",
     "syntax error while parsing value - invalid literal; last read: '1,<U+000A>\ufffd' at line 3 column 1"),
    ('[[1.00000000000000000001]]', f"invalid value: number `1.00000000000000000001`, {PRICE} at line 1 column 24"),
    ('[["1\\u0000"]]', f'invalid value: string "1\\0", {PRICE} at line 1 column 11'),
    ('[\n  ["\u00e9\u00e9", 1]]', f'invalid value: string "\u00e9\u00e9", {PRICE} at line 2 column 7'),
    # The parser shows a control byte as "<U+00XX>"; typed in the input those are eight
    # bytes, and the quote holds the input's first 64.
    ('[["' + "<U+0041>" * 200 + '\t"]]',
     "syntax error while parsing value - invalid string: control character U+0009 (HT) must be escaped to \\u0009 or "
     "\\t; last read: '\"" + ("<U+0041>" * 8)[:63] + "' (cut to its first 64 bytes) at line 1 column 1604"),
]


@pytest.mark.parametrize("text, message", JSON_ERRORS)
def test_json_errors(text, message):
    with pytest.raises(ValueError) as info:
        Lock.from_json(text)
    assert type(info.value) is ValueError and str(info.value) == "lock json decode failed: " + message


@pytest.mark.parametrize(
    "data, message",
    [
        ("", "IO error while reading marker: failed to fill whole buffer"),
        ("92 91 a3 31", "IO error while reading data: failed to fill whole buffer"),
        ("dd ff ff ff ff 90", "IO error while reading marker: failed to fill whole buffer"),
        ("92 90 90", "invalid length 0, expected non-default group section must start with a group_id"),
        ("92 90 92 ce 00 01 11 70 a1 31", "invalid value: integer `70000`, expected u16"),
        ("91 91 c0", f"invalid type: null, {PRICE}"),
        ("91 91 a2 31 ff", f'invalid value: string "1\ufffd", {PRICE}'),
    ],
)
def test_msgpack_errors(data, message):
    with pytest.raises(ValueError) as info:
        Lock.from_msgpack(bytes.fromhex(data))
    assert str(info.value) == "lock msgpack decode failed: " + message


@pytest.mark.parametrize(
    "data, message",
    [
        ("", 'Io("failed to fill whole buffer")'),
        ("82 80 80", 'Semantic(None, "invalid length 0, expected non-default group section must start with a group_id")'),
        ("82 80 82 20 61 31", 'Semantic(None, "unexpected negative integer")'),
        ("82 80 82 c2 41 01 61 31", 'Semantic(None, "integer too large")'),
        ("81 41 05", 'Semantic(None, "invalid type: integer `5`, expected tuple struct Price")'),
        ("41 05", 'Semantic(None, "invalid type: integer `5`, expected a list of prices for the default group")'),
        ("81 81 63 61 62 63", f'Semantic(None, "invalid value: string \\"abc\\", {PRICE}")'),
        ("f7", 'Semantic(None, "invalid type: undefined, expected array")'),
        ("1c", "Syntax(0)"),
        ("c6" * 200 + "80", "RecursionLimitExceeded"),
        ("c6" * 129 + "80", "RecursionLimitExceeded"),
        # An empty array or byte string is a level as a full one is.
        ("c6" * 128 + "80", "RecursionLimitExceeded"),
        ("81" + "c6" * 127 + "80", "RecursionLimitExceeded"),
        ("81" + "c6" * 127 + "40", "RecursionLimitExceeded"),
        ("81" + "c6" * 127 + "9f ff", "RecursionLimitExceeded"),
        # The input ends between the chunks of a string: cut short, not malformed.
        ("81 81 7f 61 31", 'Io("failed to fill whole buffer")'),
        ("82 80 5f", 'Io("failed to fill whole buffer")'),
        # A value of exactly 64 bytes is quoted whole, whatever byte follows it.
        ("81 81 78 40" + "61" * 62 + "c3 a9 a9", f'Semantic(None, "invalid value: string \\"{"a" * 62}\u00e9\\", {PRICE}")'),
        ("c6" * 128 + "81" + "c6" * 127 + "81 61 31", "RecursionLimitExceeded"),
        ("f8 18", "Syntax(0)"),
        ("81 81 7f 5a 00 00 00 02", "Syntax(3)"),
    ],
)
def test_cbor_errors(data, message):
    with pytest.raises(ValueError) as info:
        Lock.from_cbor(bytes.fromhex(data))
    assert str(info.value) == "lock cbor decode failed: " + message


BIG = 3 << 20


@pytest.mark.parametrize(
    "reader, data",
    [
        *[(Lock.from_cbor, b"\x81\x81\x7a" + BIG.to_bytes(4, "big") + byte * BIG) for byte in (b"\x01", b"\\")],
        *[(Lock.from_msgpack, b"\x91\x91\xdb" + BIG.to_bytes(4, "big") + byte * BIG) for byte in (b"\x00", b'"')],
        *[(Lock.from_json, "[" + space * (BIG // len(space)) + "x") for space in ("\n", "\t", "\r\n")],
    ],
)
def test_refusals_of_large_inputs_quote_a_bounded_prefix(reader, data):
    with pytest.raises(ValueError) as info:
        reader(data)
    assert len(str(info.value)) < 1000
    assert " (cut to its first 64 bytes)" in str(info.value)


@pytest.mark.parametrize("data", ["c6" * 127 + "80", "81" + "c6" * 126 + "80", "81" + "c6" * 126 + "40", "c6" * 127 + "5f ff"])
def test_cbor_reads_empty_lists_up_to_the_nesting_limit(data):
    assert Lock.from_cbor(bytes.fromhex(data)) == Lock([])


def test_binary_readers_ignore_trailing_bytes():
    lock = lock_of((0, "1"), (7, "2"))
    assert Lock.from_msgpack(lock.to_msgpack() + b"\xc1garbage") == lock
    assert Lock.from_cbor(lock.to_cbor() + b"\xff\x1c") == lock
    with pytest.raises(ValueError):
        Lock.from_json(lock.to_json() + "]")


def test_argument_types():
    with pytest.raises(TypeError) as info:
        Lock.from_json(b"[]")
    assert str(info.value) == "argument 'text': 'bytes' object cannot be converted to 'PyString'"
    for reader in (Lock.from_msgpack, Lock.from_cbor):
        for bad in ("\x90", bytearray(b"\x90"), memoryview(b"\x90"), None):
            with pytest.raises(TypeError) as info:
                reader(bad)
            assert str(info.value).startswith("argument 'data': ")
    with pytest.raises(TypeError):
        Lock.from_json()
    with pytest.raises(TypeError):
        Lock().to_json(1)


def test_readers_return_lock_even_through_a_subclass():
    class Sub(Lock):
        pass

    sub = Sub([(3, "1")])
    for data, reader in ((sub.to_json(), Sub.from_json), (sub.to_msgpack(), Sub.from_msgpack),
                         (sub.to_cbor(), Sub.from_cbor)):
        back = reader(data)
        assert type(back) is Lock and back == sub


def test_writers_take_a_shared_borrow():
    lock = lock_of((1, "1"))

    def touching():
        yield (1, "2")
        yield (1, lock.to_json())

    with pytest.raises(RuntimeError) as info:
        lock.extend(touching())
    assert str(info.value) == "Already mutably borrowed"


def test_hostile_inputs_leave_memory_flat():
    hostile = [
        ("msgpack", bytes.fromhex("dd ff ff ff ff 90")),
        ("msgpack", bytes.fromhex("91 db ff ff ff ff 31")),
        ("cbor", bytes.fromhex("9b ff ff ff ff ff ff ff ff 80")),
        ("cbor", bytes.fromhex("81 7b ff ff ff ff ff ff ff ff 31")),
        ("cbor", b"\xc6" * 100_000 + b"\x80"),
        ("json", "[" * 100_000),
    ]
    readers = {"msgpack": Lock.from_msgpack, "cbor": Lock.from_cbor, "json": Lock.from_json}

    def run(rounds):
        for _ in range(rounds):
            for kind, data in hostile:
                with pytest.raises(ValueError):
                    readers[kind](data)

    run(50)
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    run(500)
    assert resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before < 16 * 1024  # KiB


prices = st.one_of(
    st.decimals(allow_nan=False, allow_infinity=False, places=2, min_value=-10**12, max_value=10**12),
    st.integers(min_value=-(2**63), max_value=2**64 - 1),
    st.sampled_from(["0.0000000000000000000000000001", "-0", "79228162514264337593543950335", "1.50"]),
)
groups = st.sampled_from([0, 0, 1, 7, 23, 24, 127, 128, 255, 256, 65535])
locks = st.lists(st.tuples(groups, prices), max_size=20).map(Lock)


@settings(max_examples=200, deadline=None)
@given(locks)
def test_round_trips_agree(lock):
    json, msgpack, cbor = lock.to_json(), lock.to_msgpack(), lock.to_cbor()
    a, b, c = Lock.from_json(json), Lock.from_msgpack(msgpack), Lock.from_cbor(cbor)
    assert a == b == c == lock
    # Decode-encode-decode reaches a fixed point at once; every form carries the same text.
    assert (a.to_json(), b.to_msgpack(), c.to_cbor()) == (json, msgpack, cbor)
    assert Lock.from_json(b.to_json()).to_cbor() == cbor
    assert repr(a) == repr(b) == repr(c) == repr(lock).replace("-0)", "0)").replace("-0,", "0,")
