"""The float writer against repr()'s shortest digits."""
import math
import random

import pytest

import mervanta
from float_cases import edge_doubles, random_bit_patterns, reference_text


def assert_written_like_repr(values):
    texts = mervanta.dumps(values, separators=(",", ":"))[1:-1].split(",")
    wrong = [(v, t) for v, t in zip(values, texts) if t != reference_text(v)]
    assert wrong[:5] == []


@pytest.mark.parametrize("seed", range(4))
def test_random_bit_patterns(seed):
    values = random_bit_patterns(50_000, seed)
    assert_written_like_repr(values + [-v for v in values[:1000]])


def short_decimals(count, seed):
    # Decimals of 1 to 16 digits at every scale: their shortest form is found
    # before the interval's full width, often with zeros to trim.
    rng = random.Random(seed)
    values = []
    for _ in range(count):
        digits = rng.randint(1, 16)
        value = float(f"{rng.randrange(10 ** (digits - 1), 10**digits)}e{rng.randint(-340, 310)}")
        if math.isfinite(value) and value != 0:
            values.append(value)
    return values


@pytest.mark.parametrize("seed", range(2))
def test_short_decimals(seed):
    assert_written_like_repr(short_decimals(50_000, seed))


def test_powers_boundaries_and_extremes():
    assert_written_like_repr(edge_doubles())


@pytest.mark.parametrize("value", [0.0, -0.0, 1e16, 1e15, 0.00001, 1e-6, 1e22, 5e-324, 1.5, 100.0, -2.5e-7])
def test_each_value_alone(value):
    assert mervanta.dumps(value) == reference_text(value)
