"""MarketDataService: registration, staleness settings, pushes and reads."""

import datetime

import pytest

from md_kit import CountingInfo, Info, kit

SECOND = 1_000_000_000


@pytest.fixture(scope="module")
def md(probe):
    return kit(probe)


@pytest.fixture
def clock(probe):
    """The service's monotonic clock, under the test's control."""

    class Clock:
        now = 1000 * SECOND

        def set(self, ns):
            self.now = ns
            probe.set_fake_clock(ns)

        def advance(self, ns):
            self.set(self.now + ns)

    c = Clock()
    c.set(c.now)
    yield c
    probe.set_fake_clock(None)


def ttl_ns(md, ns):
    return md.QuoteTtl.within(datetime.timedelta(microseconds=ns // 1000))


@pytest.fixture(params=["full_sync", "no_sync"])
def service(md, request):
    return md.service(sync=request.param)


def btc(md, name="BTC"):
    return md.Instrument(name, "USD")


# -- builder


@pytest.mark.parametrize("engine_mode, synced", [("no_sync", 0), ("full_sync", 1), ("account_sync", 1)])
def test_builder_sync_mode_follows_the_engine_and_can_be_changed(md, engine_mode, synced):
    builder = md.probe.market_data_builder(engine_mode, md.QuoteTtl.infinite())
    assert type(builder) is md.MarketDataBuilder
    assert md.probe.market_data_sync_mode(builder.build()) == synced
    assert builder.full_sync() is builder
    assert md.probe.market_data_sync_mode(builder.build()) == 1
    assert builder.no_sync() is builder
    assert md.probe.market_data_sync_mode(builder.build()) == 0


def test_builder_builds_independent_services(md):
    builder = md.probe.market_data_builder("full_sync", md.QuoteTtl.infinite())
    a, b = builder.build(), builder.build()
    assert a.register(btc(md)) == md.InstrumentId(0)
    assert b.resolve(btc(md)) is None
    a.push(md.InstrumentId(0), md.Quote(mark=1))
    b.register(md.Instrument("ETH", "USD"))
    assert b.get(md.InstrumentId(0), md.account(1), Info(), md.ALL) is None
    with pytest.raises(TypeError, match="^argument 'default_ttl': 'int' object cannot be converted to 'QuoteTtl'$"):
        md.probe.market_data_builder("full_sync", 5)


def test_docstrings(md):
    builder = md.MarketDataBuilder
    assert builder.full_sync.__doc__.startswith("Upgrades the builder to use full synchronization.\n\n")
    assert builder.no_sync.__doc__.endswith("No-op when the builder is already None.")
    s = md.MarketDataService
    assert s.push_for.__doc__ == (
        "Push a full quote snapshot to specific accounts and/or groups.\n\n"
        "To target the default (\"everyone-else\") bucket, include\n"
        "``AccountGroupId.DEFAULT`` in ``account_group_ids``.")
    assert s.push_for_patch.__doc__.startswith("Push a partial quote patch")
    assert s.set_account_group_ttl.__doc__.startswith("Sets the TTL override for the given account group.\n\n")
    assert s.clear_account_group_ttl.__doc__.endswith("assignment fall into).")
    assert s.set_instrument_account_group_ttl.__doc__.endswith("(the \"everyone-else\" bucket for this instrument).")
    assert s.clear_instrument_account_group_ttl.__doc__.startswith("Clears the per-instrument TTL override")
    assert s.push.__doc__ in (None, "")
    with pytest.raises(TypeError, match="No constructor defined for MarketDataService"):
        md.MarketDataService()


# -- registration


def test_automatic_ids_skip_explicit_ones(md, service):
    assert service.register_with_id(md.Instrument("X", "USD"), md.InstrumentId(1)) == md.InstrumentId(1)
    assert service.register(md.Instrument("Y", "USD")) == md.InstrumentId(0)
    assert service.register_with_ttl(md.Instrument("Z", "USD"), md.QuoteTtl.infinite()) == md.InstrumentId(2)
    assert service.resolve(md.Instrument("X", "USD")) == md.InstrumentId(1)
    assert service.resolve(md.Instrument("X", "EUR")) is None
    assert service.push_by_instrument(md.Instrument("W", "USD"), md.Quote()) == md.InstrumentId(3)


def test_registration_errors(md, service):
    debug = 'Instrument { underlying_asset: Asset("B\\"TC"), settlement_asset: Asset("USD") }'
    x = md.Instrument('B"TC', "USD")
    assert service.register(x) == md.InstrumentId(0)
    for call in (lambda: service.register(x), lambda: service.register_with_ttl(x, md.QuoteTtl.infinite())):
        with pytest.raises(md.AlreadyRegistered) as info:
            call()
        assert str(info.value) == f"instrument {debug} is already registered"
    # The instrument is looked up before the id, even when both are taken.
    for call in (lambda: service.register_with_id(x, md.InstrumentId(0)),
                 lambda: service.register_with_id_and_ttl(x, md.InstrumentId(9), md.QuoteTtl.infinite())):
        with pytest.raises(md.RegistrationError) as info:
            call()
        assert str(info.value) == f"instrument {debug} is already registered"
    with pytest.raises(md.RegistrationError, match="^instrument id 0 is already registered$"):
        service.register_with_id(md.Instrument("Y", "USD"), md.InstrumentId(0))
    # Failures leave the counter alone.
    assert service.register(md.Instrument("Y", "USD")) == md.InstrumentId(1)


@pytest.mark.parametrize(
    "method, args, error, message",
    [
        ("register", (5,), TypeError, "instrument must be vantrel.core.Instrument"),
        ("register_with_ttl", (5, 5), TypeError, "instrument must be vantrel.core.Instrument"),
        ("register_with_ttl", ("I", 5), TypeError, "argument 'ttl': 'int' object cannot be converted to 'QuoteTtl'"),
        ("register_with_id", ("I", 0), TypeError, "argument 'id': 'int' object cannot be converted to 'InstrumentId'"),
        ("register_with_id_and_ttl", ("I", "ID", None), TypeError,
         "argument 'ttl': 'NoneType' object cannot be converted to 'QuoteTtl'"),
        ("set_instrument_ttl", (0, "TTL"), TypeError,
         "argument 'instrument_id': 'int' object cannot be converted to 'InstrumentId'"),
        ("set_account_ttl", (1, "TTL"), TypeError, "account_id must be vantrel.param.AccountId"),
        ("set_account_group_ttl", (0, "TTL"), ValueError, "account group id must not equal the reserved default group"),
        ("set_account_group_ttl", ("7", "TTL"), ValueError,
         "account_group_id must be an AccountGroupId or integer in range 1..=4294967295"),
        ("clear_instrument_account_ttl", ("ID", 3), TypeError, "account_id must be vantrel.param.AccountId"),
        ("push", ("ID", 5), TypeError, "argument 'quote': 'int' object cannot be converted to 'Quote'"),
        ("get", ("ID", "ACC", None, 7), TypeError,
         "argument 'resolution': 'int' object cannot be converted to 'QuoteResolution'"),
        # instrument_id, then resolution, then account_id
        ("get", (0, 5, None, 7), TypeError,
         "argument 'instrument_id': 'int' object cannot be converted to 'InstrumentId'"),
        ("get_or_err", ("ID", 5, None, 7), TypeError,
         "argument 'resolution': 'int' object cannot be converted to 'QuoteResolution'"),
        ("get_or_err", ("ID", 5, None, "ALL"), TypeError, "account_id must be vantrel.param.AccountId"),
    ],
)
def test_argument_errors_leave_the_service_unchanged(md, method, args, error, message):
    service = md.service()
    stand_in = {"I": md.Instrument("A", "B"), "ID": md.InstrumentId(0), "TTL": md.QuoteTtl.infinite(),
                "ACC": md.account(1), "ALL": md.ALL}
    args = tuple(stand_in.get(a, a) if isinstance(a, str) and a in stand_in else a for a in args)
    with pytest.raises(error) as info:
        getattr(service, method)(*args)
    assert type(info.value) is error and str(info.value) == message
    assert service.register(md.Instrument("A", "B")) == md.InstrumentId(0)


def test_unknown_instrument_ids(md, service):
    ttl = md.QuoteTtl.infinite()
    unknown = md.InstrumentId(12345)
    for call in (
        lambda: service.set_instrument_ttl(unknown, ttl),
        lambda: service.clear_instrument_ttl(unknown),
        lambda: service.set_instrument_account_ttl(unknown, md.account(1), ttl),
        lambda: service.clear_instrument_account_ttl(unknown, md.account(1)),
        lambda: service.set_instrument_account_group_ttl(unknown, md.group(1), ttl),
        lambda: service.clear_instrument_account_group_ttl(unknown, md.AccountGroupId.DEFAULT),
        lambda: service.push(unknown, md.Quote()),
        lambda: service.push_patch(unknown, md.Quote()),
        lambda: service.push_for(unknown, md.Quote(), [md.account(1)], []),
        lambda: service.push_for_patch(unknown, md.Quote(), [], [md.AccountGroupId.DEFAULT]),
    ):
        with pytest.raises(md.UnknownInstrumentId, match="^unknown instrument id: 12345$"):
            call()
    assert service.clear(unknown) is None
    assert service.get(unknown, md.account(1), Info(), md.ALL) is None
    with pytest.raises(md.UnknownInstrument, match="^unknown instrument$") as info:
        service.get_or_err(unknown, md.account(1), Info(), md.ALL)
    assert isinstance(info.value, md.MarketDataError)
    # Service levels need no instrument.
    assert service.set_account_ttl(md.account(1), ttl) is None
    assert service.clear_account_ttl(md.account(2)) is None
    assert service.set_account_group_ttl(md.AccountGroupId.DEFAULT, ttl) is None
    assert service.clear_account_group_ttl(md.group(4)) is None


# -- pushes and reads


def setup_instrument(md, service):
    return service.register(btc(md))


def test_a_registered_instrument_without_quotes(md, service):
    iid = setup_instrument(md, service)
    assert service.get(iid, md.account(1), Info(), md.ALL) is None
    with pytest.raises(md.QuoteUnavailable, match="^quote unavailable$"):
        service.get_or_err(iid, md.account(1), Info(), md.ALL)


# buckets filled: account 1 -> mark 1, group 5 -> mark 2, default -> mark 3
@pytest.mark.parametrize(
    "filled, resolution, group, expected",
    [
        ("d", "ONLY", 5, None),
        ("d", "GROUP", 5, None),
        ("d", "ALL", 5, 3),
        ("agd", "ONLY", 5, 1),
        ("agd", "GROUP", None, 1),
        ("ad", "ALL", 5, 1),
        ("gd", "GROUP", 5, 2),
        ("gd", "GROUP", None, None),
        ("gd", "ALL", None, 3),
        ("gd", "GROUP", "DEFAULT", 3),
        ("gd", "ALL", 6, 3),
        ("g", "ALL", 6, None),
    ],
)
def test_bucket_walk(md, service, filled, resolution, group, expected):
    iid = setup_instrument(md, service)
    if "a" in filled:
        service.push_for(iid, md.Quote(mark=1), [md.account(1)], [])
    if "g" in filled:
        service.push_for(iid, md.Quote(mark=2), (), iter([md.group(5)]))
    if "d" in filled:
        service.push(iid, md.Quote(mark=3))
    g = md.AccountGroupId.DEFAULT if group == "DEFAULT" else (md.group(group) if group else None)
    got = service.get(iid, md.account(1), Info(g), getattr(md, resolution))
    assert got == (None if expected is None else md.Quote(mark=expected))


def test_pushes_and_patches(md, service, clock):
    iid = setup_instrument(md, service)
    service.push(iid, md.Quote(mark=10, bid=9, ask=11))
    clock.advance(5)
    service.push_patch(iid, md.Quote(bid=8))
    acc = md.account(1)
    assert service.get(iid, acc, Info(), md.ALL) == md.Quote(mark=10, bid=8, ask=11)
    service.push_patch(iid, md.Quote())
    assert service.get(iid, acc, Info(), md.ALL) == md.Quote(mark=10, bid=8, ask=11)
    service.push(iid, md.Quote(ask=1))
    assert service.get(iid, acc, Info(), md.ALL) == md.Quote(ask=1)
    service.push_for_patch(iid, md.Quote(mark=4), [acc, acc], [])
    assert service.get(iid, acc, Info(), md.ONLY) == md.Quote(mark=4)
    service.push_for(iid, md.Quote(), [acc], [])  # an empty account quote hides the lower buckets
    assert service.get(iid, acc, Info(), md.ALL) == md.Quote()
    service.clear(iid)
    assert service.get(iid, acc, Info(), md.ALL) is None
    service.push_patch(iid, md.Quote())  # an empty patch of an empty bucket stores an empty quote
    assert service.get(iid, md.account(2), Info(), md.ALL) == md.Quote()
    service.push_for(iid, md.Quote(mark=7), [], [md.AccountGroupId.DEFAULT])  # same as push
    assert service.get(iid, md.account(2), Info(), md.ALL) == md.Quote(mark=7)
    eth = md.Instrument("ETH", "USD")
    first = service.push_by_instrument(eth, md.Quote(mark=1))
    assert first == md.InstrumentId(1) == service.push_by_instrument_patch(eth, md.Quote(bid=2))
    assert service.get(first, acc, Info(), md.ALL) == md.Quote(mark=1, bid=2)


@pytest.mark.parametrize(
    "accounts, groups, error, message",
    [
        ([], [], ValueError, "push_for requires at least one account or group target"),
        ((), iter(()), ValueError, "push_for requires at least one account or group target"),
        (["ACC", 2], [], TypeError, "account_id must be vantrel.param.AccountId"),
        (["ACC"], [3, 0], ValueError, "account group id must not equal the reserved default group"),
        (None, [], TypeError, None),
        (["ACC"], None, TypeError, None),
        ("ab", [], TypeError, "account_id must be vantrel.param.AccountId"),
    ],
)
@pytest.mark.parametrize("patch", [False, True])
def test_push_for_errors_write_nothing(md, accounts, groups, error, message, patch):
    service = md.service()
    acc = md.account(1)
    fix = (lambda xs: [acc if x == "ACC" else x for x in xs] if isinstance(xs, list) else xs)
    method = service.push_for_patch if patch else service.push_for
    # An empty target list is refused before the instrument is looked up.
    with pytest.raises(error) as info:
        method(md.InstrumentId(99), md.Quote(mark=1), fix(accounts), fix(groups))
    if message is None and error is not ValueError:
        info_type = type(info.value)
        assert info_type is TypeError
    elif message is not None:
        assert str(info.value) == message
    iid = setup_instrument(md, service)
    if message != "push_for requires at least one account or group target":
        with pytest.raises(error):
            method(iid, md.Quote(mark=1), fix(accounts), fix(groups))
    assert service.get(iid, acc, Info(md.group(3)), md.ALL) is None


# -- the account group of a read


def test_account_info_is_read_lazily_and_once(md, service):
    iid = setup_instrument(md, service)
    acc = md.account(1)
    service.push_for(iid, md.Quote(mark=1), [acc], [])
    # An account hit with an instrument+account limit never needs the group.
    service.set_instrument_account_ttl(iid, acc, md.QuoteTtl.infinite())
    assert service.get(iid, acc, object(), md.ALL) == md.Quote(mark=1)
    service.clear_instrument_account_ttl(iid, acc)
    with pytest.raises(AttributeError):
        service.get(iid, acc, object(), md.ALL)
    info = CountingInfo(md.group(4))
    assert service.get(iid, md.account(2), info, md.ALL) is None
    assert info.reads == 1
    info = CountingInfo(md.group(4))
    service.get(iid, md.account(2), info, md.ONLY)
    assert info.reads == 0


@pytest.mark.parametrize(
    "value, error, text",
    [
        (5, TypeError, "account_info.account_group must be AccountGroupId or None, got: "
                       "TypeError: 'int' object cannot be converted to 'AccountGroupId'"),
        ("x", TypeError, "account_info.account_group must be AccountGroupId or None, got: "
                         "TypeError: 'str' object cannot be converted to 'AccountGroupId'"),
        (KeyError("boom"), KeyError, "'boom'"),
    ],
)
@pytest.mark.parametrize("quote_found", [True, False])
def test_account_info_errors_win_over_every_outcome(md, value, error, text, quote_found):
    service = md.service()
    iid = setup_instrument(md, service)
    if quote_found:
        service.push(iid, md.Quote(mark=1))
    info = CountingInfo(error=value) if isinstance(value, Exception) else CountingInfo(value)
    for method in (service.get, service.get_or_err):
        with pytest.raises(error) as raised:
            method(iid, md.account(1), info, md.ALL)
        assert str(raised.value) == text
    assert info.reads == 2


# -- staleness


def test_staleness_at_the_limit_and_huge_limits(md, clock):
    service = md.service(ttl_ns(md, SECOND))
    iid = service.register(btc(md))
    acc = md.account(1)
    service.push(iid, md.Quote(mark=1))
    clock.advance(SECOND - 1000)
    assert service.get(iid, acc, Info(), md.ALL) == md.Quote(mark=1)
    clock.advance(1000)  # age equal to the limit: stale
    assert service.get(iid, acc, Info(), md.ALL) is None
    service.push(iid, md.Quote(mark=2))
    clock.advance(-5 * SECOND)  # a clock reading earlier than the push: age 0
    assert service.get(iid, acc, Info(), md.ALL) == md.Quote(mark=2)
    service.set_instrument_ttl(iid, md.QuoteTtl.within(datetime.timedelta(0)))
    assert service.get(iid, acc, Info(), md.ALL) is None
    service.clear(iid)  # empties the buckets only: the id and the limits stay
    service.push(iid, md.Quote(mark=2))
    assert service.get(iid, acc, Info(), md.ALL) is None
    service.set_instrument_ttl(iid, md.QuoteTtl.within(datetime.timedelta.max))
    clock.set(2**63 - 1)
    assert service.get(iid, acc, Info(), md.ALL) == md.Quote(mark=2)


def test_staleness_chain_across_set_and_clear(md, clock):
    service = md.service(ttl_ns(md, 8000))
    x = service.register_with_ttl(btc(md), md.QuoteTtl.infinite())
    acc, desk, default = md.account(1), md.group(5), md.AccountGroupId.DEFAULT
    service.push(x, md.Quote(mark=1))
    info = Info(desk)

    def limit():
        start = clock.now
        try:
            for age in range(0, 10_000, 1000):
                clock.set(start + age)
                if service.get(x, acc, info, md.ALL) is None:
                    return age
            return None
        finally:
            clock.set(start)

    assert limit() is None  # the instrument's own infinite limit
    service.set_account_group_ttl(default, ttl_ns(md, 6000))
    assert limit() == 6000  # the service default group wins over the instrument
    service.set_account_group_ttl(desk, ttl_ns(md, 5000))
    assert limit() == 5000
    service.set_account_ttl(acc, ttl_ns(md, 4000))
    assert limit() == 4000
    service.set_instrument_account_group_ttl(x, default, ttl_ns(md, 3000))
    assert limit() == 3000
    service.set_instrument_account_group_ttl(x, desk, ttl_ns(md, 2000))
    assert limit() == 2000
    service.set_instrument_account_ttl(x, acc, ttl_ns(md, 1000))
    assert limit() == 1000
    for clear, expected in [
        (lambda: service.clear_instrument_account_ttl(x, acc), 2000),
        (lambda: service.clear_instrument_account_group_ttl(x, desk), 3000),
        (lambda: service.clear_instrument_account_group_ttl(x, default), 4000),
        (lambda: service.clear_account_ttl(acc), 5000),
        (lambda: service.clear_account_group_ttl(desk), 6000),
        (lambda: service.clear_account_group_ttl(default), None),
        (lambda: service.clear_instrument_ttl(x), 8000),
        (lambda: service.set_account_ttl(acc, ttl_ns(md, 4000)), 4000),
        (lambda: service.clear_account_ttl(acc), 8000),
    ]:
        clear()
        assert limit() == expected
    # The account-level limit also governs a quote taken from the default bucket.
    assert service.get(x, md.account(2), Info(), md.ALL) == md.Quote(mark=1)
