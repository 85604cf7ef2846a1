"""End-to-end cost of making an account identifier beside what Python offers without it.

Run with the package importable (``make bench`` installs it; a developer build works with
PYTHONPATH=<build>/stage). Each line prints ours, then the baseline call.
"""

from __future__ import annotations

import timeit

from vantrel.param import AccountId

ROUNDS = 7
NUMBER = 500_000


class PyAccountId:
    """The smallest pure-Python equivalent: a slotted, range-checked value object."""

    __slots__ = ("value",)

    def __init__(self, value: int) -> None:
        if not 0 <= value <= 0xFFFFFFFFFFFFFFFF:
            raise OverflowError("account id must be a non-negative integer in range 0..=18446744073709551615")
        self.value = value

    @classmethod
    def from_int(cls, value: int) -> "PyAccountId":
        return cls(value)


CASES = [
    ("AccountId.from_int(7)", "AccountId.from_int(7)", "PyAccountId.from_int(7)", "pure-Python class"),
    ("AccountId.from_int(7)", "AccountId.from_int(7)", "int(7)", "builtin int(7)"),
]

NAMESPACE = {"AccountId": AccountId, "PyAccountId": PyAccountId}


def per_call_ns(statement: str) -> float:
    timer = timeit.Timer(statement, globals=NAMESPACE)
    return min(timer.repeat(repeat=ROUNDS, number=NUMBER)) / NUMBER * 1e9


def main() -> None:
    print(f"{'operation':<24} {'vantrel':>10} {'baseline':>10} {'ratio':>7}  baseline")
    for label, ours, theirs, name in CASES:
        ours_ns, theirs_ns = per_call_ns(ours), per_call_ns(theirs)
        print(f"{label:<24} {ours_ns:>8.1f}ns {theirs_ns:>8.1f}ns {ours_ns / theirs_ns:>7.2f}  {name}")


if __name__ == "__main__":
    main()
