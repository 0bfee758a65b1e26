"""Float text against an independent reference built from repr()'s digits."""
import math
import random
import struct

import pytest

import mervanta


def reference_text(value):
    """Shortest round-trip digits (repr's) in the encoder's layout."""
    if value == 0:
        return "-0.0" if math.copysign(1, value) < 0 else "0.0"
    sign = "-" if value < 0 else ""
    mantissa, _, exponent = repr(abs(value)).partition("e")
    exponent = int(exponent or 0)
    whole, _, fraction = mantissa.partition(".")
    digits = (whole + fraction).lstrip("0")
    point = len(whole) + exponent - (len(whole + fraction) - len((whole + fraction).lstrip("0")))
    digits = digits.rstrip("0")
    count = len(digits)
    kk = point  # 10^(kk-1) <= |value| < 10^kk
    k = kk - count
    if k >= 0 and kk <= 16:
        body = digits + "0" * k + ".0"
    elif 1 <= kk <= 16:
        body = digits[:kk] + "." + digits[kk:]
    elif -4 <= kk <= 0:
        body = "0." + "0" * -kk + digits
    elif count == 1:
        body = f"{digits}e{kk - 1}"
    else:
        body = f"{digits[0]}.{digits[1:]}e{kk - 1}"
    return sign + body


def random_doubles(count, seed):
    generator = random.Random(seed)
    values = []
    while len(values) < count:
        (value,) = struct.unpack("<d", generator.getrandbits(64).to_bytes(8, "little"))
        if math.isfinite(value):
            values.append(value)
    return values


EDGES = [5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, 0.1, 0.2, 0.3, 1 / 3, 2 / 3, 1e23, 9.5e-5,
         1e-4, 1e-5, 123456789012345678.0, 1e16, 9999999999999998.0, 0.5, 100.0, 1e21, 1e-7, 4.35, 2**53 + 2.0]


@pytest.mark.parametrize("value", EDGES + [-v for v in EDGES])
def test_edge_floats(value):
    assert mervanta.dumps(value) == reference_text(value)


def test_random_bit_patterns_round_trip_with_shortest_digits():
    values = random_doubles(20000, seed=7)
    text = mervanta.dumps(values)
    assert text == "[" + ", ".join(reference_text(v) for v in values) + "]"
    assert [float(part) for part in text[1:-1].split(", ")] == values


def test_decimal_looking_floats():
    generator = random.Random(3)
    values = [round(generator.uniform(-1000, 1000), generator.randrange(0, 12)) for _ in range(5000)]
    assert mervanta.dumpb(values).decode() == "[" + ", ".join(reference_text(v) for v in values) + "]"
