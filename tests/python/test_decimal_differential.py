"""Differential test of the C++ decimal core against an oracle built on Python integers.

The oracle states each rule directly on exact values (integers and fractions): a result
keeps its natural scale when that fits 96 bits and scale 28, otherwise it is rounded half to
even at the largest scale <= 28 that fits (by the strategy asked for, for the directed sums and
products), and fails when no scale does. Every operation
gets VANTREL_DIFF_CASES random cases (default 100000) per run, all through one driver process.
"""

import math
import os
import pathlib
import random
import struct
import subprocess
import sys
from decimal import Decimal as PyDecimal

import pytest

from differential_kit import run_driver

MAX = 2**96 - 1
MAX_SCALE = 28
CASES = int(os.environ.get("VANTREL_DIFF_CASES", "100000"))
SEED = int(os.environ.get("VANTREL_DIFF_SEED", "20240611"))
ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("VANTREL_CPP_BUILD", ROOT / "build" / "cpp"))
DRIVER = BUILD / "tests" / "cpp" / "driver_decimal"

BIT_LENGTHS = (0, 1, 31, 32, 33, 63, 64, 65, 95, 96)
WHITE_SPACE = (
    "\t\n\x0b\x0c\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006"
    "\u2007\u2008\u2009\u200a\u2028\u2029\u202f\u205f\u3000"
)
STRATEGIES = ("midpointnearesteven", "midpointawayfromzero", "up", "down")


# ---- oracle -------------------------------------------------------------------------------

def round_half_even(n, d):
    """n / d rounded half to even, for n >= 0, d > 0."""
    q, r = divmod(n, d)
    if 2 * r > d or (2 * r == d and q % 2 == 1):
        q += 1
    return q


def fit(num, den, natural_scale):
    """|value| = num / den, exact at natural_scale when that fits; else the largest scale
    <= 28 whose half-even rounding fits 96 bits. Returns (mantissa, scale) or None."""
    for scale in range(min(natural_scale, MAX_SCALE), -1, -1):
        m = round_half_even(num * 10**scale, den)
        if m <= MAX:
            return m, scale
    return None


def signed(res, negative):
    if res is None:
        return None
    m, s = res
    return (m, s, negative and m != 0)


def round_by(n, d, name, negative):
    """n / d rounded by the named strategy, for n >= 0, d > 0, a value of that sign."""
    q, r = divmod(n, d)
    if r == 0:
        return q
    if name == "midpointnearesteven":
        up = 2 * r > d or (2 * r == d and q % 2 == 1)
    elif name == "midpointawayfromzero":
        up = 2 * r >= d
    elif name == "up":  # towards positive infinity
        up = not negative
    else:  # towards negative infinity
        up = negative
    return q + up


def fit_by(num, den, natural_scale, name, negative):
    """As fit, the rounding by the named strategy."""
    for scale in range(min(natural_scale, MAX_SCALE), -1, -1):
        m = round_by(num * 10**scale, den, name, negative)
        if m <= MAX:
            return m, scale
    return None


def o_add_by(a, b, name):
    (ma, sa, na), (mb, sb, nb) = a, b
    s = max(sa, sb)
    total = (-ma if na else ma) * 10 ** (s - sa) + (-mb if nb else mb) * 10 ** (s - sb)
    return signed(fit_by(abs(total), 10**s, s, name, total < 0), total < 0)


def o_mul_by(a, b, name):
    (ma, sa, na), (mb, sb, nb) = a, b
    s = sa + sb
    return signed(fit_by(ma * mb, 10**s, s, name, na != nb), na != nb)


def o_add(a, b, flip=False):
    (ma, sa, na), (mb, sb, nb) = a, b
    if flip:
        nb = not nb
    s = max(sa, sb)
    total = (-ma if na else ma) * 10 ** (s - sa) + (-mb if nb else mb) * 10 ** (s - sb)
    return signed(fit(abs(total), 10**s, s), total < 0)


def o_mul(a, b):
    (ma, sa, na), (mb, sb, nb) = a, b
    s = sa + sb
    return signed(fit(ma * mb, 10**s, s), na != nb)


def o_div(a, b):
    (ma, sa, na), (mb, sb, nb) = a, b
    if mb == 0:
        return None
    num, den = ma * 10**sb, mb * 10**sa
    g = math.gcd(num, den)
    num, den = num // g, den // g
    twos = fives = 0
    rest = den
    while rest % 2 == 0:
        rest //= 2
        twos += 1
    while rest % 5 == 0:
        rest //= 5
        fives += 1
    if rest == 1 and max(twos, fives) <= MAX_SCALE:
        scale = max(twos, fives, sa - sb, 0)
        m = num * 10**scale // den
        if m <= MAX:
            return (m, scale, (na != nb) and m != 0)
    return signed(fit(num, den, MAX_SCALE), na != nb)


def o_rem(a, b):
    (ma, sa, na), (mb, sb, nb) = a, b
    if mb == 0:
        return None
    s = max(sa, sb)
    x, y = ma * 10 ** (s - sa), mb * 10 ** (s - sb)
    r = x % y  # truncating division on magnitudes: the remainder takes the dividend's sign
    return (r, s, na and r != 0)


def o_round(a, target, name):
    m, s, neg = a
    if s <= target:
        return (m, s, neg)
    d = 10 ** (s - target)
    if m == 0:
        return (0, target, neg)
    q, r = divmod(m, d)
    if name == "midpointnearesteven":
        up = 2 * r > d or (2 * r == d and q % 2 == 1)
    elif name == "midpointawayfromzero":
        up = 2 * r >= d
    elif name == "up":
        up = r != 0 and not neg
    else:
        up = r != 0 and neg
    q += up
    return (q, target, neg and q != 0)


def o_cmp(a, b):
    (ma, sa, na), (mb, sb, nb) = a, b
    x = (-ma if na else ma) * 10 ** (MAX_SCALE - sa)
    y = (-mb if nb else mb) * 10 ** (MAX_SCALE - sb)
    return (x > y) - (x < y)


def o_fmt(a):
    m, s, neg = a
    digits = str(m).rjust(s + 1, "0")
    body = digits if s == 0 else digits[:-s] + "." + digits[-s:]
    return ("-" if neg else "") + body


def o_hash_bytes(a):
    m, s, neg = a
    if m == 0:
        m, s, neg = 0, 0, False
    while s > 0 and m % 10 == 0:
        m, s = m // 10, s - 1
    flags = (s << 16) | (0x80000000 if neg else 0)
    return struct.pack("<IIII", m & 0xFFFFFFFF, (m >> 32) & 0xFFFFFFFF, m >> 64, flags)


def o_to_double(a):
    m, s, neg = a
    from fractions import Fraction

    v = float(Fraction(m, 10**s))
    return -v if neg else v


def o_from_double(x):
    if not math.isfinite(x):
        return None
    if x == 0:
        return (0, 0, False)
    sign, digits, exponent = PyDecimal(repr(x)).as_tuple()
    d = int("".join(map(str, digits)))
    if exponent >= 0:
        m, s = d * 10**exponent, 0
    elif -exponent <= MAX_SCALE:
        m, s = d, -exponent
    else:
        m, s = round_half_even(d, 10 ** (-exponent - MAX_SCALE)), MAX_SCALE
    if m > MAX:
        return None
    if m == 0:
        return (0, 0, False)
    while s > 0 and m % 10 == 0:
        m, s = m // 10, s - 1
    return (m, s, bool(sign))


def o_parse_plain(t):
    if t == "":
        return "Invalid decimal: empty"
    body = t[1:] if t[0] in "+-" else t
    negative = t[0] == "-"
    whole, frac, seen_point, seen_digit = [], [], False, False
    for c in body:
        if c in "0123456789":
            seen_digit = True
            (frac if seen_point else whole).append(c)
        elif c == ".":
            if seen_point:
                return "Invalid decimal: two decimal points"
            seen_point = True
        elif c == "_":
            if not seen_digit:
                return "Invalid decimal: must start lead with a number"
        else:
            return "Invalid decimal: unknown character"
    if not seen_digit:
        return "Invalid decimal: no digits found"
    if int("".join(whole) or "0") > MAX:
        return "Invalid decimal: overflow from too many digits"
    res = fit(int("".join(whole + frac)), 10 ** len(frac), len(frac))
    if res is None:
        return "Invalid decimal: overflow from mantissa after rounding"
    return signed(res, negative)


def o_parse_scientific(t):
    cut = min(i for i in (t.find("e"), t.find("E")) if i >= 0)
    mant, exp = t[:cut], t[cut + 1 :]
    negative = mant[:1] == "-"
    body = mant[1:] if mant[:1] in ("+", "-") else mant
    digits, frac_count, seen_point = [], 0, False
    for c in body:
        if c in "0123456789":
            digits.append(c)
            frac_count += seen_point
        elif c == "." and not seen_point:
            seen_point = True
        elif c == "_" and digits:
            pass
        else:
            return "Failed to parse"
    exp_digits = exp[1:] if exp[:1] in ("+", "-") else exp
    if not digits or not exp_digits or any(c not in "0123456789" for c in exp_digits):
        return "Failed to parse"
    scale = frac_count - int(exp)
    if scale > MAX_SCALE:
        return f"Scale exceeds the maximum precision allowed: {scale} > 28"
    d = int("".join(digits))
    if scale >= 0:
        res = fit(d, 10**scale, scale)
    elif d == 0:
        res = (0, 0)
    elif -scale > 29:
        res = None  # at least 10**30
    else:
        res = fit(d * 10**-scale, 1, 0)
    if res is None:
        if negative:
            return "Number less than minimum value that can be represented."
        return "Number exceeds maximum value that can be represented."
    return signed(res, negative)


def o_parse(t):
    r = o_parse_plain(t)
    if isinstance(r, str) and ("e" in t or "E" in t):
        return o_parse_scientific(t)
    return r


def o_strategy(text):
    trimmed = text.strip(WHITE_SPACE)
    lowered = "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in trimmed)
    if lowered in STRATEGIES:
        return lowered, None
    return None, (
        f"invalid rounding strategy {lowered}; expected 'MidpointNearestEven', "
        "'MidpointAwayFromZero', 'Up', or 'Down'"
    )


# ---- generators ---------------------------------------------------------------------------

def gen_decimal(rng):
    kind = rng.random()
    if kind < 0.15:
        # Round numbers: exact quotients, trailing zeros, aligned scales.
        m = rng.randint(1, 999) * 10 ** rng.randint(0, 26)
    else:
        bits = rng.choice(BIT_LENGTHS)
        m = 0 if bits == 0 else rng.randint(1 << (bits - 1), (1 << bits) - 1)
    if rng.random() < 0.05:
        m = rng.choice((MAX, MAX - 1, 1, 0, 10**28, 10**28 - 1, 2**64, 2**64 - 1))
    scale = rng.choice((0, 1, 27, 28, rng.randint(0, 28)))
    return (min(m, MAX), scale, rng.random() < 0.5)


def show(d):
    if d is None:
        return "none"
    m, s, neg = d
    return f"{'-' if neg else ''}{m}:{s}"


def insert_underscores(rng, digits):
    out = digits[0]
    for c in digits[1:]:
        if rng.random() < 0.1:
            out += "_" * rng.randint(1, 2)
        out += c
    return out


def gen_parse_text(rng):
    r = rng.random()
    if r < 0.2:
        return "".join(rng.choice("0123456789._+-eE_ x") for _ in range(rng.randint(0, 12)))
    sign = rng.choice(("", "", "-", "+"))
    whole = "".join(rng.choice("0123456789") for _ in range(rng.choice((0, 1, 3, 15, 28, 29, 30, 31))))
    frac_len = rng.choice((0, 1, 2, 9, 20, 27, 28, 29, 30, 40, 60))
    frac = "".join(rng.choice("0123456789") for _ in range(frac_len))
    if rng.random() < 0.1:
        frac = frac[: max(0, len(frac) - 6)] + rng.choice(("5", "50000", "49999", "50001"))
    if rng.random() < 0.1 and whole:
        whole = rng.choice(("79228162514264337593543950335", "79228162514264337593543950336", "7922816251426433759354395033"))
    if not whole and not frac:
        whole = "0"
    digits = whole + ("." + frac if frac or rng.random() < 0.1 else "")
    if whole and rng.random() < 0.2:
        digits = insert_underscores(rng, digits)
    text = sign + digits
    if r < 0.45:
        exponent = rng.choice(("", "+", "-", "+-")) + str(rng.choice((0, 1, 3, 7, 27, 28, 29, 30, 31, 40, rng.randint(0, 99))))
        text += rng.choice("eE") + exponent
    if rng.random() < 0.05:
        pos = rng.randint(0, len(text))
        text = text[:pos] + rng.choice(".e_x-+ ") + text[pos:]
    return text


def gen_double(rng):
    r = rng.random()
    if r < 0.3:
        return rng.uniform(-1, 1) * 10 ** rng.randint(-35, 30)
    if r < 0.5:
        return float(rng.randint(-(10**6), 10**6)) / 10 ** rng.randint(0, 8)
    if r < 0.55:
        return rng.choice((0.0, -0.0, math.inf, -math.inf, math.nan, 7.922816251426433e28,
                           7.922816251426434e28, 1e-28, 5e-29, 1.5e-28, 2.5e-28, 5e-324))
    bits = rng.getrandbits(64)
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


def gen_strategy_text(rng):
    name = rng.choice(("MidpointNearestEven", "MidpointAwayFromZero", "Up", "Down"))
    if rng.random() < 0.3:
        name = "".join(c.upper() if rng.random() < 0.5 else c.lower() for c in name)
    if rng.random() < 0.2:
        spaces = WHITE_SPACE.replace("\n", "")  # the line protocol's separator
        name = "".join(rng.choices(spaces, k=rng.randint(0, 2))) + name + "".join(
            rng.choices(spaces, k=rng.randint(0, 2)))
    if rng.random() < 0.05:
        name = rng.choice(("nearest", "", "\x1cUp", "Up\x1c", "UP ", "Ünicode", "down\u3000"))
    return name


# ---- the batch ----------------------------------------------------------------------------

OPS = ("parse", "fmt", "add", "sub", "mul", "div", "rem", "round", "fromdbl", "todbl", "cmp", "hash", "addr", "mulr")
CHUNK = 50_000


def build_cases(rng, count):
    """count random cases per operation: {op: [(driver line, expected output)]}."""
    cases = {op: [] for op in OPS}
    hash_inputs = []
    for i in range(count):
        t = gen_parse_text(rng)
        r = o_parse(t)
        cases["parse"].append((f"parse {t}", "!" + r if isinstance(r, str) else show(r)))

        a, b = gen_decimal(rng), gen_decimal(rng)
        if rng.random() < 0.1:
            b = (b[0], a[1], b[2])  # same scale: the fast paths
        da, db = show(a), show(b)
        cases["fmt"].append((f"fmt {da}", o_fmt(a)))
        cases["add"].append((f"add {da} {db}", show(o_add(a, b))))
        cases["sub"].append((f"sub {da} {db}", show(o_add(a, b, flip=True))))
        cases["mul"].append((f"mul {da} {db}", show(o_mul(a, b))))
        cases["div"].append((f"div {da} {db}", show(o_div(a, b))))
        cases["rem"].append((f"rem {da} {db}", show(o_rem(a, b))))
        cases["cmp"].append((f"cmp {da} {db}", str(o_cmp(a, b))))
        directed = STRATEGIES[i % len(STRATEGIES)]  # no draw: the other operations keep their cases
        cases["addr"].append((f"addr {da} {db} {directed}", show(o_add_by(a, b, directed))))
        cases["mulr"].append((f"mulr {da} {db} {directed}", show(o_mul_by(a, b, directed))))

        target = rng.choice((0, 1, 2, 27, 28, 29, rng.randint(0, 30)))
        stext = gen_strategy_text(rng)
        name, err = o_strategy(stext)
        cases["round"].append(
            (f"round {da} {target} {stext}", "!" + err if err else show(o_round(a, target, name)))
        )

        x = gen_double(rng)
        bits = struct.unpack("<Q", struct.pack("<d", x))[0]
        cases["fromdbl"].append((f"fromdbl {bits:016x}", show(o_from_double(x))))
        tbits = struct.unpack("<Q", struct.pack("<d", o_to_double(a)))[0]
        cases["todbl"].append((f"todbl {da}", f"{tbits:016x}"))

        hash_inputs.append(o_hash_bytes(a).hex())
        cases["hash"].append((f"hash {da}", None))

    # Python's bytes hash with a zero seed is SipHash-1-3 with zero keys: an independent oracle.
    script = "import sys\nfor l in sys.stdin: print(hash(bytes.fromhex(l.strip())))"
    out = subprocess.run(
        [sys.executable, "-c", script], input="\n".join(hash_inputs) + "\n", text=True,
        capture_output=True, check=True, env={**os.environ, "PYTHONHASHSEED": "0"},
    ).stdout.split()
    cases["hash"] = [(line, h) for (line, _), h in zip(cases["hash"], out)]
    return cases


@pytest.fixture(scope="module")
def outcomes():
    """Per operation: (cases checked, mismatches). One driver process takes every chunk."""
    if not DRIVER.exists():
        pytest.skip(f"decimal driver not built at {DRIVER} (set VANTREL_CPP_BUILD)")
    rng = random.Random(SEED)
    chunks = (build_cases(rng, min(CHUNK, CASES - start)) for start in range(0, CASES, CHUNK))
    return run_driver(DRIVER, OPS, chunks)


@pytest.mark.parametrize("op", OPS)
def test_matches_oracle(outcomes, op):
    if op == "hash" and sys.hash_info.algorithm != "siphash13":
        pytest.skip("this interpreter's bytes hash is not SipHash-1-3")
    checked, mismatches = outcomes
    assert checked[op] >= CASES
    assert not mismatches[op], f"mismatches (first {len(mismatches[op])}): {mismatches[op]}"
