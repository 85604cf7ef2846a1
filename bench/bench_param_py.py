"""End-to-end cost of the decimal value classes beside decimal.Decimal, the baseline they must not trail.

Run with the package importable (``make bench`` installs it; a developer build works with
PYTHONPATH=<build>/stage). Each line prints ours, then the same operation on decimal.Decimal.
"""

from __future__ import annotations

import timeit
from decimal import Decimal

from vantrel.param import Price

ROUNDS = 7
NUMBER = 200_000

# (label, ours, the same on decimal.Decimal); the last two isolate the operator.
CASES = [
    ('Price("123.45")', 'Price("123.45")', 'Decimal("123.45")'),
    ("Price(1) + Price(2)", "Price(1) + Price(2)", "Decimal(1) + Decimal(2)"),
    ("Price(x) * 3", "Price(x) * 3", "Decimal(x) * 3"),
    ("a + b (operator only)", "a + b", "da + db"),
    ("p * 3 (operator only)", "p * 3", "dp * 3"),
]

NAMESPACE = {
    "Price": Price,
    "Decimal": Decimal,
    "x": "123.45",
    "a": Price(1),
    "b": Price(2),
    "p": Price("123.45"),
    "da": Decimal(1),
    "db": Decimal(2),
    "dp": Decimal("123.45"),
}


def per_call_ns(statement: str) -> float:
    timer = timeit.Timer(statement, globals=NAMESPACE)
    return min(timer.repeat(repeat=ROUNDS, number=NUMBER)) / NUMBER * 1e9


def main() -> None:
    print(f"{'operation':<24} {'vantrel':>10} {'decimal':>10} {'ratio':>7}")
    for label, ours, theirs in CASES:
        ours_ns, theirs_ns = per_call_ns(ours), per_call_ns(theirs)
        print(f"{label:<24} {ours_ns:>8.1f}ns {theirs_ns:>8.1f}ns {ours_ns / theirs_ns:>7.2f}")


if __name__ == "__main__":
    main()
