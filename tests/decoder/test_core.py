"""Parser core: drivers, whitespace, literals, strings, numbers and error positions."""

import decimal
import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from mervanta import deserialize_direct_fn, deserialize_strict_fn, loads


def decode_error(function, text, **hooks):
    with pytest.raises(ValueError) as caught:
        function(text, **hooks)
    assert caught.type is ValueError
    assert len(caught.value.args) == 1
    return caught.value.args[0]


@pytest.mark.parametrize(
    ("text", "message"),
    [
        ("", "Invalid JSON at row 1, column 1"),
        ("   ", "Invalid JSON at row 1, column 4"),
        ("\n\n  x", "Invalid JSON at row 3, column 3"),
        ("nul", "Invalid null at row 1, column 1"),
        ("nulL", "Invalid null at row 1, column 1"),
        ("tru", "Invalid boolean at row 1, column 1"),
        ("fals", "Invalid boolean at row 1, column 1"),
        ("trUe", "Invalid boolean at row 1, column 1"),
        ("NaN", "Invalid JSON at row 1, column 1"),
        ("Infinity", "Invalid JSON at row 1, column 1"),
        ("+1", "Invalid JSON at row 1, column 1"),
        ("\ufeff[]", "Invalid JSON at row 1, column 1"),
        ("\x0b1", "Invalid JSON at row 1, column 1"),
        ("\u00a01", "Invalid JSON at row 1, column 1"),
        ("[nullx]", "Expected ',' or ']' at row 1, column 7"),
        ('["\u00e9", x]', "Invalid JSON at row 1, column 8"),
        ("[\r\nx]", "Invalid JSON at row 2, column 1"),
        ("[\r\r\rx]", "Invalid JSON at row 1, column 5"),
        ("[1,\n 2,\n x]", "Invalid JSON at row 3, column 2"),
        ("\n", "Invalid JSON at row 2, column 1"),
        ("[1,\n", "Invalid JSON at row 2, column 1"),
    ],
)
def test_core_errors(text, message):
    assert decode_error(loads, text) == message
    assert decode_error(deserialize_direct_fn, text) == message
    assert decode_error(deserialize_strict_fn, text) == message


@pytest.mark.parametrize(
    ("text", "value", "column"),
    [("[1] x", [1], 5), ("nullx", None, 5), ("{} x", {}, 4), ("truex", True, 5), ('"a""b"', "a", 4), ("1 2", 1, 3)],
)
def test_data_after_value(text, value, column):
    assert loads(text) == value
    assert deserialize_direct_fn(text) == value
    assert decode_error(deserialize_strict_fn, text) == f"Extra data after JSON value at row 1, column {column}"


@pytest.mark.parametrize("text", ["[1]\n\t ", " \r\n[1]", "[1]\r"])
def test_trailing_json_whitespace_is_accepted_by_both_drivers(text):
    assert deserialize_direct_fn(text) == [1]
    assert deserialize_strict_fn(text) == [1]


def test_strict_driver_rejects_unicode_space_after_value():
    assert decode_error(deserialize_strict_fn, "[1]\u00a0") == "Extra data after JSON value at row 1, column 4"


@pytest.mark.parametrize(("text", "value"), [("true", True), ("false", False), ("null", None), (" \t\r\ntrue ", True)])
def test_literals(text, value):
    assert loads(text) is value


def test_errors_inside_hooks_pass_through():
    def hook(_):
        raise KeyError("boom")

    with pytest.raises(KeyError, match="boom"):
        loads("[1.5]", parse_float=hook)


# Strings -----------------------------------------------------------------


@pytest.mark.parametrize(
    ("body", "value"),
    [
        ("abc", "abc"),
        ("", ""),
        ("\\u00e9", "\u00e9"),
        ("\u00e9", "\u00e9"),
        ("\u00e9\\n", "\u00e9\n"),
        ("\\u0000", "\x00"),
        ("\\ud83d\\ude00", "\U0001f600"),
        ("\\ud800x", "x"),
        ("\\ude00", ""),
        ("\\ud800\\u0041", "A"),
        ("\\ud83d\\ud83d\\ude00", "\U0001f600"),
        ("\\ud800\\ud800", ""),
        ("\\ud800\\\\", "\\"),
        ("a\nb\tc\x00\x1f\x7f", "a\nb\tc\x00\x1f\x7f"),
        ("\\/", "/"),
        ("\\u004A\\u004a", "JJ"),
        ('\\"\\\\\\/\\b\\f\\n\\r\\t', '"\\/\b\f\n\r\t'),
        ("\\u20AC\\u0800\\u07ff\\uffff", "\u20ac\u0800\u07ff\uffff"),
        ("\U0001f600 \u4e2d\u6587 x" * 20 + "\\n", "\U0001f600 \u4e2d\u6587 x" * 20 + "\n"),
        ("a" * 100 + "\\t" + "b" * 100, "a" * 100 + "\t" + "b" * 100),
        # Escaped ASCII text is decoded as bytes until a character needs more.
        ("\\u00e9\\u00ff\\u0100x", "\u00e9\u00ff\u0100x"),
        ("a\\/b\u00e9\\n", "a/b\u00e9\n"),
        ("\\u00e9" * 300, "\u00e9" * 300),
        # Text escaped to ASCII from beyond Latin-1 comes as runs of escapes.
        ("\\u041f\\u0440\\ud83d\\ude00\\u0438 x", "\u041f\u0440\U0001f600\u0438 x"),
        ("\\u65e5\\ud800\\u672c", "\u65e5\u672c"),
    ],
)
def test_string_bodies(body, value):
    decoded = loads(f'"{body}"')
    assert type(decoded) is str
    assert decoded == value


@pytest.mark.parametrize(
    ("text", "message"),
    [
        ('"abc', "Unterminated string at row 1, column 5"),
        ('"', "Unterminated string at row 1, column 2"),
        ('"a\\"', "Unterminated string at row 1, column 5"),
        ('"a\\x"', "Invalid escape at row 1, column 5"),
        ('"\\', "Invalid escape at row 1, column 3"),
        ('"\\U0041"', "Invalid escape at row 1, column 4"),
        ('"\\u12"', "Invalid hex at row 1, column 7"),
        ('"\\u12', "Invalid Unicode escape at row 1, column 6"),
        ('"\\u', "Invalid Unicode escape at row 1, column 4"),
        ('"\\uGGGG"', "Invalid hex at row 1, column 5"),
        ('"\\ud800\\u12x4"', "Invalid hex at row 1, column 13"),
        ('"\u00e9\\x"', "Invalid escape at row 1, column 6"),
        ('"ab\\/cd\\x"', "Invalid escape at row 1, column 10"),
        ('"\\t\\u00e9\\u12x4"', "Invalid hex at row 1, column 15"),
        ('"a\\/b', "Unterminated string at row 1, column 6"),
        ('"ab\\u00GG"', "Invalid hex at row 1, column 9"),
        ('"\\u65e5\\u672G"', "Invalid hex at row 1, column 14"),
        ('"\\u65e5\\u67', "Invalid Unicode escape at row 1, column 12"),
    ],
)
def test_string_errors(text, message):
    assert decode_error(loads, text) == message


def test_strings_are_fresh_objects():
    first, second = loads('["key", "key"]')
    assert first == second and first is not second


# Numbers -----------------------------------------------------------------


@pytest.mark.parametrize(
    ("text", "value"),
    [
        ("0123", 123),
        ("-0", 0),
        ("00.5", 0.5),
        ("1.", 1.0),
        ("-.5", -0.5),
        ("1.e5", 100000.0),
        ("1e5", 100000.0),
        ("1E+5", 100000.0),
        ("1e-5", 1e-05),
        ("1e400", math.inf),
        ("-1e400", -math.inf),
        ("1e-400", 0.0),
        ("-1e-400", -0.0),
        ("2e-324", 0.0),
        ("3e-324", 5e-324),
        ("1.7976931348623157e308", 1.7976931348623157e308),
        ("1.7976931348623159e308", math.inf),
        ("0.1", 0.1),
        ("123456789012345678901234567890e-20", 1234567890.1234567),
        ("2.2250738585072011e-308", 2.2250738585072011e-308),
        ("9007199254740993", 9007199254740993),
        ("9007199254740993.0", 9007199254740992.0),
        ("1" + "0" * 400 + "e-400", 1.0),
        ("9223372036854775807", 9223372036854775807),
        ("-9223372036854775808", -9223372036854775808),
        ("18446744073709551615", 18446744073709551615),
        ("18446744073709551616", 18446744073709551616),
        ("-9223372036854775809", -9223372036854775809),
        ("999999999999999999", 999999999999999999),
        ("-999999999999999999", -999999999999999999),
        ("0000000000000000000000000000042", 42),
        ("-0000000000000000000000000000042", -42),
        ("1" * 300, int("1" * 300)),
        ("123abc", 123),
        ("1.5.3", 1.5),
        ("1-2", 1),
    ],
)
def test_numbers(text, value):
    decoded = loads(text)
    assert type(decoded) is type(value)
    assert decoded == value
    assert math.copysign(1, decoded) == math.copysign(1, value)


def test_negative_zero_float():
    assert math.copysign(1.0, loads("-0.0")) == -1.0


@pytest.mark.parametrize(
    ("text", "column"), [("1e", 3), ("1.5e+", 6), ("-.", 3), ("-e5", 4), (".5", None), ("-.e1", 5), ("1E-", 4)]
)
def test_invalid_floats(text, column):
    if column is None:
        assert decode_error(loads, text) == "Invalid JSON at row 1, column 1"
    else:
        assert decode_error(loads, text) == f"Invalid float at row 1, column {column}"


@pytest.mark.parametrize("text", ["-", "-Infinity", "-x"])
def test_lone_minus_goes_to_int(text):
    with pytest.raises(ValueError) as caught:
        loads(text)
    assert caught.type is ValueError
    assert str(caught.value) == "invalid literal for int() with base 10: '-'"
    assert loads(text, parse_int=lambda number: ("int", number)) == ("int", "-")


def test_number_hooks_get_exact_text():
    seen = []

    def record(number):
        seen.append(number)
        return None

    assert loads("[1.10, 1e, 0012, -0, 1E+2]", parse_float=record, parse_int=record) == [None] * 5
    assert seen == ["1.10", "1e", "0012", "-0", "1E+2"]
    assert loads("1.10", parse_float=decimal.Decimal) == decimal.Decimal("1.10")
    assert loads("7", parse_int=float) == 7.0 and type(loads("7", parse_int=float)) is float
    assert loads("[7, 7.5]", parse_float=str) == [7, "7.5"]


def test_big_integers_use_the_builtin_int_looked_up_afresh():
    import builtins

    calls = []
    real_int = builtins.int

    def fake_int(text):
        calls.append(text)
        return real_int(text)

    builtins.int = fake_int
    try:
        decoded = loads("[18446744073709551616, 5, -9223372036854775809]")
    finally:
        builtins.int = real_int
    assert decoded == [18446744073709551616, 5, -9223372036854775809]
    assert calls == ["18446744073709551616", "-9223372036854775809"]


@pytest.mark.parametrize(
    ("text", "message"),
    [("[123abc]", "Expected ',' or ']' at row 1, column 6"), ("[1.5.3]", "Expected ',' or ']' at row 1, column 6")],
)
def test_number_tails_inside_arrays(text, message):
    assert decode_error(loads, text) == message


def test_integer_digit_limit_error_passes_through():
    import sys

    if not hasattr(sys, "set_int_max_str_digits"):
        pytest.skip("no digit limit on this interpreter")
    with pytest.raises(ValueError, match="Exceeds the limit"):
        loads("1" * 5000)


number_texts = st.builds(
    lambda sign, whole, fraction, exponent: sign + whole + fraction + exponent,
    st.sampled_from(["", "-"]),
    st.text("0123456789", min_size=1, max_size=30),
    st.one_of(st.just(""), st.text("0123456789", max_size=30).map(lambda digits: "." + digits)),
    st.one_of(
        st.just(""),
        st.builds(lambda e, s, d: e + s + d, st.sampled_from("eE"), st.sampled_from(["", "+", "-"]),
                  st.integers(0, 400).map(str)),
    ),
)


@settings(max_examples=1000, deadline=None)
@given(number_texts)
def test_numbers_match_the_interpreter(text):
    decoded = loads(text)
    expected = float(text) if any(c in text for c in ".eE") else int(text)
    assert type(decoded) is type(expected)
    assert decoded == expected
    if isinstance(expected, float):
        assert math.copysign(1, decoded) == math.copysign(1, expected)


@settings(max_examples=300, deadline=None)
@given(st.floats(allow_nan=False, allow_infinity=False))
def test_shortest_float_text_round_trips(value):
    assert loads(repr(value)) == value
