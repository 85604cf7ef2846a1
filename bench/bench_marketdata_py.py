"""End-to-end cost of a quote push and a quote read from Python, beside the
cheapest pure-Python store (a dict) for scale.

Run with the package importable (``make bench`` installs it). Until the engine
builders hand out market-data builders, the service comes from the test-only
probe module of a C++ build (VANTREL_CPP_BUILD, default build/cpp).
"""

from __future__ import annotations

import os
import pathlib
import sys
import timeit

ROUNDS = 7
NUMBER = 300_000


def market_data_classes():
    """(builder factory, class namespace) from the engine, or from the probe module."""
    try:
        import vantrel
        from vantrel import marketdata, param

        builder = vantrel.Engine.builder().full_sync()
        return (lambda ttl: builder.market_data(ttl)), {
            "Quote": marketdata.Quote, "QuoteTtl": marketdata.QuoteTtl,
            "QuoteResolution": marketdata.QuoteResolution, "InstrumentId": marketdata.InstrumentId,
            "AccountId": param.AccountId, "Instrument": vantrel.core.Instrument}
    except (ImportError, AttributeError):
        pass
    root = pathlib.Path(__file__).resolve().parents[1]
    directory = pathlib.Path(os.environ.get("VANTREL_CPP_BUILD", root / "build" / "cpp")) / "bindings" / "python"
    sys.path.insert(0, str(directory))
    import _vantrel_probe as probe

    names = ("Quote", "QuoteTtl", "QuoteResolution", "InstrumentId", "AccountId", "Instrument")
    return (lambda ttl: probe.market_data_builder("full_sync", ttl)), {n: probe.probe_class(n) for n in names}


class Info:
    account_group = None


def per_call_ns(statement: str, namespace: dict) -> float:
    timer = timeit.Timer(statement, globals=namespace)
    return min(timer.repeat(ROUNDS, NUMBER)) / NUMBER * 1e9


def main() -> None:
    make_builder, c = market_data_classes()
    service = make_builder(c["QuoteTtl"].infinite()).build()
    iid = service.register(c["Instrument"]("BTC", "USD"))
    quote = c["Quote"](mark=101, bid=100, ask=102)
    service.push(iid, quote)
    namespace = {"service": service, "iid": iid, "quote": quote, "account": c["AccountId"].from_int(5),
                 "info": Info(), "ALL": c["QuoteResolution"].ACCOUNT_THEN_GROUP_THEN_DEFAULT,
                 "store": {}, "key": (0, 0)}
    unlocked = make_builder(c["QuoteTtl"].infinite()).no_sync().build()
    unlocked.register(c["Instrument"]("BTC", "USD"))
    unlocked.push(iid, quote)
    namespace["unlocked"] = unlocked
    cases = [
        ("push of a prebuilt quote", "service.push(iid, quote)", "store[key] = quote"),
        ("push, no-sync service", "unlocked.push(iid, quote)", "store[key] = quote"),
        ("get hit (default bucket)", "service.get(iid, account, info, ALL)", "store.get(key)"),
    ]
    for label, ours, baseline in cases:
        print(f"{label:28s} {per_call_ns(ours, namespace):7.1f} ns   (dict: {per_call_ns(baseline, namespace):5.1f} ns)")


if __name__ == "__main__":
    main()
