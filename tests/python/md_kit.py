"""The market-data classes as the probe module builds them, for tests that need
a MarketDataService before the engine builders hand one out."""

import types


def kit(probe):
    c = probe.probe_class
    e = probe.probe_exception
    ns = types.SimpleNamespace(
        probe=probe,
        Quote=c("Quote"),
        QuoteTtl=c("QuoteTtl"),
        QuoteResolution=c("QuoteResolution"),
        InstrumentId=c("InstrumentId"),
        AccountId=c("AccountId"),
        AccountGroupId=c("AccountGroupId"),
        Instrument=c("Instrument"),
        MarketDataBuilder=c("MarketDataBuilder"),
        MarketDataService=c("MarketDataService"),
    )
    for name in ("MarketDataError", "UnknownInstrument", "QuoteUnavailable", "AlreadyRegistered",
                 "RegistrationError", "UnknownInstrumentId"):
        setattr(ns, name, e(name))
    ns.ALL = ns.QuoteResolution.ACCOUNT_THEN_GROUP_THEN_DEFAULT
    ns.GROUP = ns.QuoteResolution.ACCOUNT_THEN_GROUP
    ns.ONLY = ns.QuoteResolution.ACCOUNT_ONLY

    def service(default_ttl=None, sync="full_sync"):
        ttl = default_ttl if default_ttl is not None else ns.QuoteTtl.infinite()
        return probe.market_data_builder(sync, ttl).build()

    ns.service = service
    ns.account = ns.AccountId.from_int
    ns.group = ns.AccountGroupId.from_int
    return ns


class Info:
    """An account_info whose account_group is a plain attribute; counts nothing."""

    def __init__(self, group=None):
        self.account_group = group


class CountingInfo:
    """An account_info that counts reads of account_group and can raise."""

    def __init__(self, group=None, error=None):
        self.group, self.error, self.reads = group, error, 0

    @property
    def account_group(self):
        self.reads += 1
        if self.error is not None:
            raise self.error
        return self.group
