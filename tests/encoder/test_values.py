"""Scalars, strings and numbers through the encoder."""
import collections
import decimal
import enum
import fractions
import io
import uuid

import pytest

import mervanta


@pytest.mark.parametrize(
    "value, text",
    [
        (None, "null"), (True, "true"), (False, "false"),
        (0, "0"), (-1, "-1"), (2**63 - 1, "9223372036854775807"), (-2**63, "-9223372036854775808"),
        (2**63, "9223372036854775808"), (2**64 - 1, "18446744073709551615"),
        # beyond 64 bits integers stay exact (never a rounded double)
        (2**64, "18446744073709551616"), (-2**63 - 1, "-9223372036854775809"),
        (-(2**64) - 5, "-18446744073709551621"),
        (1.0, "1.0"), (0.1, "0.1"), (1e16, "1e16"), (1e15, "1000000000000000.0"), (0.00001, "0.00001"),
        (0.000001, "1e-6"), (-0.0, "-0.0"), (0.0, "0.0"), (5e-324, "5e-324"), (1e22, "1e22"),
        (1.7976931348623157e308, "1.7976931348623157e308"), (1.5e-10, "1.5e-10"), (123.456, "123.456"),
        (9007199254740992.0, "9007199254740992.0"), (1234567890123456.8, "1234567890123456.8"),
        (1.2345678901234568e17, "1.2345678901234568e17"), (-2.5, "-2.5"), (0.0001, "0.0001"),
        (float("nan"), "NaN"), (-float("nan"), "NaN"), (float("inf"), "Infinity"), (-float("inf"), "-Infinity"),
        (b"", '""'), (b"\x00\xff", '"AP8="'), (bytearray(b"abc"), '"YWJj"'), (b"ab", '"YWI="'),
        (decimal.Decimal("1.10"), '"1.10"'), (uuid.UUID(int=5), '"00000000-0000-0000-0000-000000000005"'),
        (fractions.Fraction(1, 2), "0.5"),
    ],
)
def test_scalar_text(value, text):
    assert mervanta.dumps(value) == text
    assert mervanta.dumpb(value) == text.encode()


def test_big_integers_are_exact():
    assert mervanta.dumps(10**400) == str(10**400)
    assert mervanta.dumps([-(10**30)]) == "[-" + "1" + "0" * 30 + "]"


def test_int_subclasses_and_index_objects():
    class Color(enum.IntEnum):
        RED = 3

    class Big(int):
        def __str__(self):
            return "not used"

    class Index:
        def __index__(self):
            return 2**63 + 7

    assert mervanta.dumps([Color.RED, Big(2**70), Index()]) == f"[3, {2**70}, {2**63 + 7}]"


def test_objects_with_float_conversion():
    class Half:
        def __float__(self):
            return 0.5

    class Broken:
        def __index__(self):
            raise RuntimeError("cleared")

        def __float__(self):
            return 2.0

    assert mervanta.dumps([Half(), Broken()]) == "[0.5, 2.0]"


def test_types_named_like_decimal_or_uuid_are_written_as_str():
    class UUID:
        def __str__(self):
            return "custom"

    class Decimal:
        def __str__(self):
            raise ValueError("from __str__")

    assert mervanta.dumps(UUID()) == '"custom"'
    with pytest.raises(ValueError, match="from __str__"):
        mervanta.dumps(Decimal())


def test_non_finite_floats_refused_without_allow_nan():
    for value in (float("nan"), float("inf"), -float("inf")):
        with pytest.raises(ValueError) as info:
            mervanta.dumps([value], allow_nan=False)
        assert str(info.value) == "Out of range float values are not JSON compliant"
    # dumpb always allows them
    assert mervanta.dumpb(float("nan")) == b"NaN"


@pytest.mark.parametrize(
    "text, ascii_text, raw_text",
    [
        ("", '""', '""'),
        ("plain text with / and \x7f", '"plain text with / and \x7f"', '"plain text with / and \x7f"'),
        ("a\tb\nc\rd\be\ff", r'"a\tb\nc\rd\be\ff"', r'"a\tb\nc\rd\be\ff"'),
        ('"\\', r'"\"\\"', r'"\"\\"'),
        ("\x00\x1b\x1f", r'"\u0000\u001b\u001f"', r'"\u0000\u001b\u001f"'),
        ("é", r'"\u00e9"', '"é"'),
        ("\u2028\uffff", r'"\u2028\uffff"', '"\u2028\uffff"'),
        ("\U0001F600", r'"\ud83d\ude00"', '"\U0001F600"'),
    ],
)
def test_string_escaping(text, ascii_text, raw_text):
    assert mervanta.dumps(text) == ascii_text
    assert mervanta.dumps(text, ensure_ascii=False) == raw_text
    assert mervanta.dumpb(text) == raw_text.encode()


@pytest.mark.parametrize("length", [1, 15, 16, 17, 31, 33, 4095, 4096, 4097, 10000])
@pytest.mark.parametrize("special", ["\n", '"', "é", "\U0001F600", "\x01", "\\"])
def test_long_strings_escape_like_the_standard_library(length, special):
    import json

    for position in (0, length // 2, length - 1):
        text = "x" * position + special + "y" * (length - position)
        assert mervanta.dumps(text) == json.dumps(text)
        assert mervanta.dumps(text, ensure_ascii=False) == json.dumps(text, ensure_ascii=False)


def test_lone_surrogates_raise_unicode_encode_error():
    cases = ("\ud800", ["ok", "a\udfffb"], {"\ud800": 1}, {"k": "\udc80"}, [{"k": 1}, {"k": "\udc80"}],
             ("ok", 1, "\udc80"), ["ok"] * 100 + ["x" * 40 + "\udc80"])
    for value in cases:
        with pytest.raises(UnicodeEncodeError):
            mervanta.dumps(value)
        assert mervanta.dumps(["ok"]) == '["ok"]'  # nothing left pending


def test_str_subclass_is_written_as_its_text():
    class Name(str):
        def __str__(self):
            return "ignored"

    assert mervanta.dumps(Name("value")) == '"value"'


def test_memoryview_is_not_bytes():
    with pytest.raises(TypeError) as info:
        mervanta.dumps(memoryview(b"x"))
    assert str(info.value) == "Object of type memoryview is not JSON serializable"


def test_unknown_object_error_names_its_type():
    class Thing:
        pass

    for function in (mervanta.dumps, mervanta.dumpb):
        with pytest.raises(TypeError) as info:
            function([1, {"a": Thing()}])
        assert str(info.value) == "Object of type Thing is not JSON serializable"


def test_named_tuple_is_an_array():
    Point = collections.namedtuple("Point", "x y")
    assert mervanta.dumps(Point(1, 2)) == "[1, 2]"


def test_dump_writes_once():
    calls = []

    class Writer:
        def write(self, text):
            calls.append(text)
            return 12345

    assert mervanta.dump({"a": [1, "é"]}, Writer()) is None
    assert calls == ['{"a": [1, "\\u00e9"]}']


def test_dump_touches_fp_only_after_successful_encoding():
    class Writer:
        def __getattr__(self, name):
            raise AssertionError("fp used")

    with pytest.raises(TypeError):
        mervanta.dump([object()], Writer())
    with pytest.raises(AttributeError):
        mervanta.dump([1], object())
    sink = io.StringIO()
    mervanta.dump("é", sink, ensure_ascii=False)
    assert sink.getvalue() == '"é"'


def test_integers_of_every_length():
    values = [0, 7, 8, 9]
    for exponent in range(1, 20):
        values += [10**exponent - 1, 10**exponent, 10**exponent + 1, 2 * 10**exponent - 1]
    values += [2**63 - 1, 2**64 - 1]
    values = [v for v in values if v < 2**64]
    values += [-v for v in values if v <= 2**63]
    assert mervanta.dumps(values) == "[" + ", ".join(map(str, values)) + "]"
