"""JSONTestSuite parsing cases, vendored in tests/data/JSONTestSuite."""

import json
import math
from pathlib import Path

import pytest

from mervanta import deserialize_strict_fn, loads

SUITE = Path(__file__).resolve().parents[1] / "data" / "JSONTestSuite" / "test_parsing"
CASES = sorted(path.name for path in SUITE.glob("*.json"))

# Rejected by the suite, accepted by our grammar on purpose.
DATA_AFTER_VALUE = "only the first value is read; deserialize_strict_fn rejects the rest"
ACCEPTED_ON_PURPOSE = {
    "n_array_comma_after_close.json": DATA_AFTER_VALUE,
    "n_array_extra_close.json": DATA_AFTER_VALUE,
    "n_multidigit_number_then_00.json": DATA_AFTER_VALUE,
    "n_object_trailing_comment.json": DATA_AFTER_VALUE,
    "n_object_trailing_comment_open.json": DATA_AFTER_VALUE,
    "n_object_trailing_comment_slash_open.json": DATA_AFTER_VALUE,
    "n_object_trailing_comment_slash_open_incomplete.json": DATA_AFTER_VALUE,
    "n_object_with_trailing_garbage.json": DATA_AFTER_VALUE,
    "n_string_with_trailing_garbage.json": DATA_AFTER_VALUE,
    "n_structure_array_trailing_garbage.json": DATA_AFTER_VALUE,
    "n_structure_array_with_extra_array_close.json": DATA_AFTER_VALUE,
    "n_structure_close_unopened_array.json": DATA_AFTER_VALUE,
    "n_structure_double_array.json": DATA_AFTER_VALUE,
    "n_structure_number_with_trailing_garbage.json": DATA_AFTER_VALUE,
    "n_structure_object_followed_by_closing_object.json": DATA_AFTER_VALUE,
    "n_structure_object_with_trailing_garbage.json": DATA_AFTER_VALUE,
    "n_structure_trailing_#.json": DATA_AFTER_VALUE,
    "n_number_-01.json": "leading zeros are accepted",
    "n_number_neg_int_starting_with_zero.json": "leading zeros are accepted",
    "n_number_with_leading_zero.json": "leading zeros are accepted",
    "n_number_-2..json": "a bare point is accepted",
    "n_number_0.e1.json": "a bare point is accepted",
    "n_number_2.e+3.json": "a bare point is accepted",
    "n_number_2.e-3.json": "a bare point is accepted",
    "n_number_2.e3.json": "a bare point is accepted",
    "n_number_real_without_fractional_part.json": "a bare point is accepted",
    "n_number_neg_real_without_int_part.json": "a sign before a point is accepted",
    "n_string_unescaped_ctrl_char.json": "raw control characters are accepted in strings",
    "n_string_unescaped_newline.json": "raw control characters are accepted in strings",
    "n_string_unescaped_tab.json": "raw control characters are accepted in strings",
}

# Rejected, but by the nesting bound rather than as a syntax error.
TOO_DEEP = {"n_structure_100000_opening_arrays.json", "n_structure_open_array_object.json"}


def same(left, right):
    """Equality that also holds for NaN and checks types and key order."""
    if type(left) is not type(right):
        return False
    if isinstance(left, float):
        return left == right or (math.isnan(left) and math.isnan(right))
    if isinstance(left, list):
        return len(left) == len(right) and all(same(a, b) for a, b in zip(left, right))
    if isinstance(left, dict):
        return list(left) == list(right) and all(same(left[key], right[key]) for key in left)
    return left == right


def read(name):
    return (SUITE / name).read_bytes()


def as_text(raw):
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return None


@pytest.mark.parametrize("name", [name for name in CASES if name.startswith("y_")])
def test_accepted_cases_match_stdlib(name):
    raw = read(name)
    text = as_text(raw)
    expected = json.loads(raw if text is not None else raw.decode("utf-8", "replace"))
    assert same(loads(raw), expected)
    if text is not None:
        assert same(loads(text), expected)


@pytest.mark.parametrize("name", [name for name in CASES if name.startswith("n_")])
def test_rejected_cases(name):
    raw = read(name)
    if name in ACCEPTED_ON_PURPOSE:
        loads(raw)
        text = as_text(raw)
        if ACCEPTED_ON_PURPOSE[name] == DATA_AFTER_VALUE and text is not None:
            with pytest.raises(ValueError, match="^Extra data after JSON value at row 1"):
                deserialize_strict_fn(text)
        return
    expected = RecursionError if name in TOO_DEEP else ValueError
    with pytest.raises(expected):
        loads(raw)


@pytest.mark.parametrize("name", [name for name in CASES if name.startswith("i_")])
def test_implementation_defined_cases_do_not_crash(name):
    raw = read(name)
    try:
        value = loads(raw)
    except ValueError:
        return
    # Invalid UTF-8 is decoded exactly as its replacement-decoded text.
    assert value == loads(raw.decode("utf-8", "replace"))


def test_every_listed_case_exists():
    # A missing corpus must fail, not leave the parametrized tests empty.
    assert len(CASES) >= 300, f"JSONTestSuite cases missing from {SUITE}"
    assert set(ACCEPTED_ON_PURPOSE) | TOO_DEEP <= set(CASES)
