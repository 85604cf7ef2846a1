"""Baseline for bench_decimal: the same operations with Python's decimal module (timeit).

Prints nanoseconds per operation so the figures sit beside the Google Benchmark output of
bench_decimal. Needs only the standard library.
"""

import decimal
import timeit
from decimal import Decimal

# The native type keeps 28 fractional digits; give the context room for 96-bit mantissas.
decimal.getcontext().prec = 29

A, B = Decimal("12345.6789"), Decimal("2.5000")
CASES = [
    ("add same scale", "a + b", {"a": A, "b": B}),
    ("add mixed scale", "a + b", {"a": A, "b": Decimal("2.5")}),
    ("sub same scale", "a - b", {"a": A, "b": Decimal("99999.0001")}),
    ("mul", "a * b", {"a": A, "b": Decimal("2.5")}),
    ("div exact", "a / b", {"a": A, "b": Decimal("2.5")}),
    ("div 1/3", "a / b", {"a": Decimal(1), "b": Decimal(3)}),
    ("rem", "a % b", {"a": A, "b": Decimal("2.5")}),
    ("compare same scale", "a < b", {"a": A, "b": Decimal("12345.6790")}),
    ("compare mixed scale", "a < b", {"a": A, "b": Decimal("12345.67")}),
    ("parse '12345.6789'", "D(t)", {"D": Decimal, "t": "12345.6789"}),
    ("text form", "str(a)", {"a": A}),
    ("round to 2", "a.quantize(q, rounding=r)", {"a": A, "q": Decimal("0.01"), "r": decimal.ROUND_HALF_EVEN}),
    ("hash", "hash(a)", {"a": A}),
    ("from float", "D(repr(x))", {"D": Decimal, "x": 12345.6789}),
    ("to float", "float(a)", {"a": A}),
]


def main():
    print("Python decimal baseline (ns per operation; compare with bench_decimal)")
    for name, stmt, env in CASES:
        timer = timeit.Timer(stmt, globals=env)
        loops, _ = timer.autorange()
        best = min(timer.repeat(repeat=5, number=loops)) / loops
        print(f"  {name:<22} {best * 1e9:8.1f} ns")


if __name__ == "__main__":
    main()
