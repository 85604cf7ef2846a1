"""vantrel.pretrade.Lock: grouping, mutation, comparison, representation, re-entrancy."""

import decimal
import gc
import os
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from vantrel.param import ParamError, Price
from vantrel.pretrade import Lock
from hostile_kit import Boom, RaisingIndex, RaisingIter, RaisingNext, feed

GROUP_ERROR = "policy_group_id must be an integer in range 0..=65535"


def as_pairs(lock):
    return [(group, str(price)) for group, price in lock.entries()]


def test_empty_lock():
    for lock in (Lock(), Lock(None), Lock(entries=None), Lock([])):
        assert len(lock) == 0 and not lock
        assert lock.entries() == [] and lock.prices_of(0) == []
        assert repr(lock) == str(lock) == "Lock([])"


def test_grouping_and_section_order():
    lock = Lock([(7, "1"), (0, "2"), (7, "3"), (3, "4")])
    assert as_pairs(lock) == [(0, "2"), (7, "1"), (7, "3"), (3, "4")]
    assert [str(p) for p in lock.prices_of(7)] == ["1", "3"]
    assert lock.prices_of(5) == [] and len(lock) == 4 and lock
    group, price = lock.entries()[0]
    assert type(group) is int and type(price) is Price
    lock.push(3, "5")
    lock.push(True, "6")  # True is 1
    lock.push(0, 7)
    assert repr(lock) == "Lock([(0, 2), (0, 7), (7, 1), (7, 3), (3, 4), (3, 5), (1, 6)])"


def test_repr_keeps_scale_and_sign():
    lock = Lock()
    lock.push(0, "101.50")
    lock.push(7, decimal.Decimal("-99.250"))
    lock.push(65535, Price("0.0000000000000000000000000001"))
    lock.push(65535, "-7.9228162514264337593543950335")  # the widest item
    assert repr(lock) == ("Lock([(0, 101.50), (7, -99.250), (65535, 0.0000000000000000000000000001), "
                          "(65535, -7.9228162514264337593543950335)])")


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize("group", [65536, -1, "7", 7.0, None, 2**64, Index(70000), Index(-3), object()])
def test_bad_group_id_changes_nothing(group):
    lock = Lock([(7, "1")])
    for call in (lambda: lock.push(group, "1"), lambda: lock.push_many(group, ["1"]),
                 lambda: lock.extend([(group, "1")]), lambda: lock.prices_of(group),
                 lambda: Lock([(group, "1")])):
        with pytest.raises(ValueError) as info:
            call()
        assert type(info.value) is ValueError and str(info.value) == GROUP_ERROR
    assert as_pairs(lock) == [(7, "1")]


def test_group_id_through_index_protocol():
    lock = Lock([(Index(65535), "1"), (Index(0), "2")])
    assert as_pairs(lock) == [(0, "2"), (65535, "1")]


@pytest.mark.parametrize(
    "price, error, message",
    [
        ("abc", ParamError, "invalid format for Price: 'abc'"),
        (object(), ValueError, "Price must be a Decimal, str, int, or float"),
        (True, ValueError, "Price must be a Decimal, str, int, or float"),
    ],
)
def test_bad_price_changes_nothing(price, error, message):
    lock = Lock([(7, "1")])
    with pytest.raises(error) as info:
        lock.push(7, price)
    assert str(info.value) == message
    with pytest.raises(error):
        lock.push_many(7, ["2", price])
    assert as_pairs(lock) == [(7, "1")]


def test_push_many_is_all_or_nothing_and_extend_is_not():
    lock = Lock()
    lock.push_many(9, [])
    assert lock.entries() == [] and lock.prices_of(9) == []
    lock.push_many(9, "123")  # any iterable, a text included
    assert as_pairs(lock) == [(9, "1"), (9, "2"), (9, "3")]
    with pytest.raises(ParamError):
        lock.push_many(9, ["4", "x"])
    assert len(lock) == 3
    with pytest.raises(ParamError):
        lock.extend([(9, "4"), (9, "x"), (9, "5")])
    assert as_pairs(lock)[-1] == (9, "4") and len(lock) == 4


@pytest.mark.parametrize(
    "entries, message",
    [
        (5, "entries must be an iterable of (policy_group_id, price) pairs"),
        ([[1, "2"]], "each entry must be a (policy_group_id, price) two-element tuple"),
        ([(1, "2", 3)], "each entry must be a (policy_group_id, price) two-element tuple"),
        ([(1,)], "each entry must be a (policy_group_id, price) two-element tuple"),
        (["12"], "each entry must be a (policy_group_id, price) two-element tuple"),
    ],
)
def test_entries_shape(entries, message):
    with pytest.raises(TypeError) as info:
        Lock(entries)
    assert str(info.value) == message
    lock = Lock()
    with pytest.raises(TypeError) as info:
        lock.extend(entries)
    assert str(info.value) == message


def test_tuple_subclass_entries_and_iterator_errors():
    class Pair(tuple):
        pass

    assert as_pairs(Lock([Pair((4, "1"))])) == [(4, "1")]

    def failing():
        yield (1, "1")
        raise KeyError("boom")

    with pytest.raises(KeyError):
        Lock(failing())
    with pytest.raises(TypeError) as info:
        Lock().push_many(0, 5)
    assert str(info.value) == "prices must be an iterable of Price values"


def test_copy_is_independent():
    a = Lock([(0, "1"), (4, "2")])
    b = Lock(a)
    assert a == b and a is not b
    b.push(4, "3")
    a.push(0, "9")
    assert as_pairs(a) == [(0, "1"), (0, "9"), (4, "2")]
    assert as_pairs(b) == [(0, "1"), (4, "2"), (4, "3")]
    entries = a.entries()
    a.push(0, "5")
    assert len(entries) == 3


@pytest.mark.parametrize(
    "a, b, equal",
    [
        ([(0, "1.0")], [(0, "1.00")], True),
        ([(7, "1"), (3, "2")], [(3, "2"), (7, "1")], False),
        ([(7, "1"), (7, "2")], [(7, "2"), (7, "1")], False),
        ([(7, "1")], [(7, "1"), (7, "1")], False),
        ([(0, "1")], [(1, "1")], False),
        ([], [], True),
    ],
)
def test_equality(a, b, equal):
    x, y = Lock(a), Lock(b)
    assert (x == y) is equal and (y == x) is equal and (x != y) is (not equal)


def test_comparison_rules():
    lock = Lock([(0, "1")])
    for op in ("<", "<=", ">", ">="):
        with pytest.raises(TypeError) as info:
            eval(f"lock {op} Lock()")
        assert str(info.value) == "Lock supports only == and !="
    with pytest.raises(TypeError) as info:
        lock < 0
    assert "not supported between" in str(info.value)
    assert (lock == 0) is False and (lock != 0) is True
    with pytest.raises(TypeError):
        hash(lock)


def test_merge():
    a = Lock([(2, "1")])
    b = Lock([(0, "5"), (4, "2"), (2, "3")])
    a.merge(b)
    assert as_pairs(a) == [(0, "5"), (2, "1"), (2, "3"), (4, "2")]
    assert as_pairs(b) == [(0, "5"), (4, "2"), (2, "3")]
    with pytest.raises(TypeError) as info:
        a.merge([(0, "1")])
    assert str(info.value) == "argument 'other': 'list' object cannot be converted to 'Lock'"
    before = as_pairs(a)
    with pytest.raises(RuntimeError) as info:
        a.merge(a)
    assert str(info.value) == "Already mutably borrowed"
    assert as_pairs(a) == before


def test_reentrant_calls_get_the_borrow_error():
    lock = Lock([(1, "1")])

    def pushing():
        yield (1, "2")
        lock.push(1, "3")

    with pytest.raises(RuntimeError) as info:
        lock.extend(pushing())
    assert str(info.value) == "Already borrowed"
    assert as_pairs(lock) == [(1, "1"), (1, "2")]

    def reading():
        yield "4"
        lock.entries()

    with pytest.raises(RuntimeError) as info:
        lock.push_many(1, reading())
    assert str(info.value) == "Already mutably borrowed"

    class SneakyIndex:
        def __index__(self):
            lock.push(0, "9")
            return 1

    # Every failure of the group id conversion is the one ValueError.
    with pytest.raises(ValueError):
        lock.push(SneakyIndex(), "1")

    class SneakyPrice(decimal.Decimal):
        def __str__(self):
            lock.push(0, "9")
            return "1"

    with pytest.raises(RuntimeError) as info:
        lock.push(1, SneakyPrice("1"))
    assert str(info.value) == "Already borrowed"
    with pytest.raises(RuntimeError):
        lock.extend([(1, SneakyPrice("1"))])
    assert as_pairs(lock) == [(1, "1"), (1, "2")]
    # Reading another lock inside the iteration is fine.
    other = Lock([(5, "5")])
    lock.extend((5, p) for _, p in other.entries())
    assert as_pairs(lock)[-1] == (5, "5")


def test_subclass_and_signatures():
    class Sub(Lock):
        pass

    sub = Sub([(3, "1")])
    assert type(sub) is Sub and sub == Lock([(3, "1")]) and Lock(sub) == sub
    assert Lock.__text_signature__ == "(entries=None)"
    assert Lock.push.__text_signature__ == "($self, policy_group_id, price)"
    assert Lock.push_many.__text_signature__ == "($self, policy_group_id, prices)"
    with pytest.raises(TypeError):
        Lock(bad=1)


def test_arguments_are_not_leaked():
    price, bad = "1.25", object()
    entries = [(3, price)]
    counts = [sys.getrefcount(x) for x in (price, bad, entries)]
    for _ in range(200):
        lock = Lock(entries)
        lock.push_many(4, [price, price])
        lock.entries()
        with pytest.raises(ValueError):
            lock.push(3, bad)
        with pytest.raises(ValueError):
            Lock([(bad, price)])
    assert [sys.getrefcount(x) for x in (price, bad, entries)] == counts


prices = st.decimals(allow_nan=False, allow_infinity=False, places=4, min_value=-10**9, max_value=10**9)
entry_lists = st.lists(st.tuples(st.sampled_from([0, 1, 2, 7, 65535]), prices), max_size=12)


@settings(max_examples=150, deadline=None)
@given(entry_lists, entry_lists)
def test_laws(a_entries, b_entries):
    a, b = Lock(a_entries), Lock(b_entries)
    assert Lock(a.entries()) == a
    merged = Lock(a)
    merged.merge(b)
    assert merged == Lock(a.entries() + b.entries())
    assert len(merged) == len(a) + len(b)
    extended = Lock(a)
    extended.extend(b_entries)
    assert extended == merged
    # push_many groups exactly as single pushes would.
    for group in (0, 7):
        many, single = Lock(a), Lock(a)
        many.push_many(group, [p for _, p in b_entries])
        for _, p in b_entries:
            single.push(group, p)
        assert many == single


HOSTILE = [
    None, True, 0, -1, 2**64, 1.5, float("nan"), float("inf"), b"x", "", "\ud800", "x" * 1000, decimal.Decimal("NaN"),
    RaisingIndex(), RaisingIter(), RaisingNext(), object(), [], [None], [(1,)], [(RaisingIndex(), "1")],
    [(1, RaisingIndex())], {}, {1: 2}, iter([(1, "1")]), Lock([(1, "1")]),
]
ALLOWED = (TypeError, ValueError, OverflowError, RuntimeError, Boom)


def lock_calls():
    lock = Lock([(1, "1")])
    yield Lock
    yield lambda x: lock.push(x, "1")
    yield lambda x: lock.push(1, x)
    yield lambda x: lock.push_many(x, ["1"])
    yield lambda x: lock.push_many(1, x)
    yield lock.extend
    yield lock.merge
    yield lock.prices_of
    yield lambda x: lock == x
    yield Lock.from_json
    yield Lock.from_msgpack
    yield Lock.from_cbor


def run_hostile():
    feed(lock_calls(), HOSTILE, ALLOWED)


def test_hostile_arguments_raise_only_documented_errors():
    run_hostile()


def test_interrupts_in_conversions_pass_through():
    class Interrupting:
        def __index__(self):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        Lock([(Interrupting(), "1")])


UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


def rss_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4


def test_no_leaks_over_many_iterations():
    source = Lock([(0, "1.25"), (7, "2"), (9, "3")])
    blob = source.to_cbor()

    def cycle():
        lock = Lock(source)
        lock.push(7, "4.5")
        lock.push_many(3, ["1", "2"])
        lock.merge(source)
        lock.entries(), lock.prices_of(7), repr(lock)
        Lock.from_json(lock.to_json()), Lock.from_msgpack(lock.to_msgpack()), Lock.from_cbor(blob)

    run_hostile()
    for _ in range(1000):
        cycle()
    gc.collect()
    before = (sys.getrefcount(Lock), sys.getrefcount(Price), sys.getrefcount(source), sys.getrefcount(blob))
    rss = rss_kib()
    for _ in range(100_000):
        cycle()
    for _ in range(20):
        run_hostile()
    gc.collect()
    # Every instance holds its class: a leaked lock or price shows in the class's count.
    assert (sys.getrefcount(Lock), sys.getrefcount(Price), sys.getrefcount(source), sys.getrefcount(blob)) == before
    if not UNDER_ASAN:  # the sanitizer's quarantine keeps freed memory resident
        assert rss_kib() - rss < 4096
