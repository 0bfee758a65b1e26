"""The float reader against float(): correctly rounded, with the same
zeros and infinities at the ends of the range."""
import math

import pytest

import mervanta
from float_cases import (
    edge_doubles,
    halfway_texts,
    limit_texts,
    random_bit_patterns,
    random_decimal_texts,
    same_double,
)


def assert_read_like_float(texts):
    values = mervanta.loads("[" + ",".join(texts) + "]")
    wrong = [(t, v) for t, v in zip(texts, values) if not same_double(v, float(t))]
    assert wrong[:5] == []


@pytest.mark.parametrize("seed", range(3))
def test_random_digit_strings(seed):
    assert_read_like_float(random_decimal_texts(30_000, seed))


def test_repr_of_random_and_edge_doubles():
    values = random_bit_patterns(50_000, 7) + edge_doubles()
    assert_read_like_float([repr(v) for v in values] + [repr(-v) for v in values[:1000]])


def test_halfway_cases():
    assert_read_like_float(halfway_texts(3_000, 11))


def test_limits_and_lenient_forms():
    assert_read_like_float(limit_texts())


@pytest.mark.parametrize("text", ["1e400", "-1e400", "1e-400", "-1e-400"])
def test_out_of_range_values_saturate(text):
    value = mervanta.loads(text)
    assert same_double(value, float(text)) and (math.isinf(value) or value == 0)


@pytest.mark.parametrize("text", ["1e", "1e+", "-.e5", "-.", "1.e", "-E5"])
def test_malformed_floats_are_rejected(text):
    with pytest.raises(ValueError):
        mervanta.loads(text)
