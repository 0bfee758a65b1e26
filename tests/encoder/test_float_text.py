"""Float text against an independent reference built from repr()'s digits."""
import random

import pytest
from float_cases import random_bit_patterns as random_doubles
from float_cases import reference_text

import mervanta


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
