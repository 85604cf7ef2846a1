"""Host reads whose account_info runs Python while feed threads push: no hang."""

import faulthandler
import sys
import threading
import time

import pytest

from md_kit import kit

# Far past what the tests here take, even under a sanitizer on a loaded machine.
WATCHDOG_SECONDS = 600


@pytest.fixture
def md(probe):
    return kit(probe)


@pytest.fixture
def busy_interpreter():
    """Switch threads as often as the interpreter allows; a hang dumps every stack."""
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    faulthandler.dump_traceback_later(WATCHDOG_SECONDS, exit=True)
    yield
    faulthandler.cancel_dump_traceback_later()
    sys.setswitchinterval(interval)


def test_reads_with_python_account_info_beside_a_feed(md, busy_interpreter):
    service = md.service()
    ids = [service.register(md.Instrument(f"I{i}", "USD")) for i in range(4)]
    desk = md.group(5)
    stop = threading.Event()
    errors = []

    class SleepyInfo:
        @property
        def account_group(self):
            time.sleep(0)  # gives the interpreter lock away mid-read
            return desk

    class NestedInfo:
        """Reads the same service again from inside the read."""

        def __init__(self, iid):
            self.iid = iid

        @property
        def account_group(self):
            inner = service.get(self.iid, md.account(3), SleepyInfo(), md.ALL)
            if inner is not None and inner.mark is None:
                errors.append("nested read saw a quote without its mark")
            return desk

    def feed():
        n = 0
        while not stop.is_set() and n < 200_000:
            n += 1
            iid = ids[n % len(ids)]
            service.push(iid, md.Quote(mark=n, bid=n, ask=n))
            service.push_for_patch(iid, md.Quote(mark=n), [], [desk])
            if n % 97 == 0:
                service.set_account_group_ttl(desk, md.QuoteTtl.infinite())

    def reader(make_info):
        try:
            for n in range(3000):
                iid = ids[n % len(ids)]
                quote = service.get(iid, md.account(n % 7), make_info(iid), md.ALL)
                if quote is not None and quote.mark is None:
                    errors.append("read a quote without its mark")
        except Exception as exc:  # pragma: no cover - reported below
            errors.append(repr(exc))

    feeders = [threading.Thread(target=feed) for _ in range(2)]
    readers = [threading.Thread(target=reader, args=(lambda iid: SleepyInfo(),)),
               threading.Thread(target=reader, args=(NestedInfo,))]
    for t in feeders + readers:
        t.start()
    for t in readers:
        t.join()
    stop.set()
    for t in feeders:
        t.join()
    assert errors == []
    assert all(service.get(i, md.account(1), SleepyInfo(), md.ALL) is not None for i in ids)


def test_an_account_info_that_writes_to_the_same_service_does_not_deadlock(md, busy_interpreter):
    service = md.service()
    iid = service.register(md.Instrument("BTC", "USD"))
    service.push(iid, md.Quote(mark=1))

    class WritingInfo:
        @property
        def account_group(self):
            service.push(iid, md.Quote(mark=2))
            service.set_instrument_ttl(iid, md.QuoteTtl.infinite())
            return None

    assert service.get(iid, md.account(1), WritingInfo(), md.ALL) == md.Quote(mark=2)


def test_registrations_race_to_one_id(md, busy_interpreter):
    service = md.service()
    results = []
    barrier = threading.Barrier(8)

    def register(k):
        barrier.wait()
        try:
            if k % 2:
                results.append(("push", service.push_by_instrument(md.Instrument("BTC", "USD"), md.Quote())))
            else:
                results.append(("register", service.register(md.Instrument("BTC", "USD"))))
        except md.AlreadyRegistered:
            results.append(("refused", None))

    threads = [threading.Thread(target=register, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert sum(1 for kind, _ in results if kind == "register") <= 1
    assert {iid for kind, iid in results if iid is not None} == {md.InstrumentId(0)}
    assert service.resolve(md.Instrument("BTC", "USD")) == md.InstrumentId(0)


def test_a_service_without_locks_keeps_the_interpreter_lock(md, busy_interpreter):
    # Its state is unguarded, so only the interpreter lock keeps two Python
    # threads from changing it at once: every method must keep it.
    service = md.service(sync="no_sync")
    per_thread = 400

    def register(k):
        for n in range(per_thread):
            iid = service.register(md.Instrument(f"T{k}-{n}", "USD"))
            service.push_for(iid, md.Quote(mark=n), [md.account(k)], [md.group(k + 1)])
            service.set_account_ttl(md.account(n), md.QuoteTtl.infinite())

    threads = [threading.Thread(target=register, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    ids = {service.resolve(md.Instrument(f"T{k}-{n}", "USD")) for k in range(4) for n in range(per_thread)}
    assert ids == {md.InstrumentId(i) for i in range(4 * per_thread)}
