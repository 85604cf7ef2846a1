"""Python round trips of a one-price Lock through each serialised form, beside pickle of
the same lock's entries (the nearest thing a host would do without them).

Run with the package importable (``make bench`` installs it; a developer build works with
PYTHONPATH=<build>/stage).
"""

from __future__ import annotations

import pickle
import timeit

from vantrel.pretrade import Lock

ROUNDS = 7
NUMBER = 200_000

LOCK = Lock([(0, "101.25")])
NAMESPACE = {
    "Lock": Lock,
    "lock": LOCK,
    "pickle": pickle,
    "j": LOCK.to_json(),
    "m": LOCK.to_msgpack(),
    "c": LOCK.to_cbor(),
    "entries": [(g, str(p)) for g, p in LOCK.entries()],
}

CASES = [
    ("to_json", "lock.to_json()"),
    ("from_json", "Lock.from_json(j)"),
    ("json round trip", "Lock.from_json(lock.to_json())"),
    ("msgpack round trip", "Lock.from_msgpack(lock.to_msgpack())"),
    ("cbor round trip", "Lock.from_cbor(lock.to_cbor())"),
    ("pickle of entries (baseline)", "pickle.loads(pickle.dumps(entries))"),
]


def per_call_ns(statement: str) -> float:
    timer = timeit.Timer(statement, globals=NAMESPACE)
    return min(timer.repeat(repeat=ROUNDS, number=NUMBER)) / NUMBER * 1e9


def main() -> None:
    print(f"{'operation':<30} {'per call':>10}")
    for label, statement in CASES:
        print(f"{label:<30} {per_call_ns(statement):>8.1f}ns")


if __name__ == "__main__":
    main()
