"""The four load functions: input types, UTF-8 handling, load's trimming, keywords."""

import io
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from mervanta import deserialize_direct_fn, deserialize_strict_fn, load, loads


def decode_error(function, *args, **kwargs):
    with pytest.raises(ValueError) as caught:
        function(*args, **kwargs)
    assert caught.type is ValueError
    return caught.value.args[0]


class StrSub(str):
    pass


class BytesSub(bytes):
    pass


class ByteArraySub(bytearray):
    pass


@pytest.mark.parametrize(
    "source", ["[1, 2]", b"[1, 2]", bytearray(b"[1, 2]"), StrSub("[1, 2]"), BytesSub(b"[1, 2]"), ByteArraySub(b"[1, 2]")]
)
def test_loads_input_kinds(source):
    assert loads(source) == [1, 2]


@pytest.mark.parametrize("source", ["", b"", bytearray()])
def test_empty_inputs(source):
    assert decode_error(loads, source) == "Invalid JSON at row 1, column 1"


@pytest.mark.parametrize(
    ("source", "message"),
    [
        (memoryview(b"[]"), "'memoryview' object is not an instance of 'str'"),
        (None, "'None' is not an instance of 'str'"),
        (5, "'int' object is not an instance of 'str'"),
        ([], "'list' object is not an instance of 'str'"),
    ],
)
def test_loads_rejects_other_types(source, message):
    with pytest.raises(TypeError) as caught:
        loads(source)
    assert str(caught.value) == message
    assert not getattr(caught.value, "__notes__", None)


@pytest.mark.parametrize("function", [deserialize_direct_fn, deserialize_strict_fn])
@pytest.mark.parametrize(
    ("source", "name"), [(b"[]", "bytes"), (bytearray(b"[]"), "bytearray"), (memoryview(b"[]"), "memoryview")]
)
def test_deserialize_functions_take_only_str(function, source, name):
    with pytest.raises(TypeError) as caught:
        function(source)
    assert str(caught.value) == f"'{name}' object is not an instance of 'str'"
    assert function(StrSub("[]")) == []


def test_lone_surrogate_str_raises_unicode_encode_error():
    with pytest.raises(UnicodeEncodeError):
        loads('"\ud800"')


@pytest.mark.parametrize(
    ("source", "value"),
    [
        (b'"\xff"', "\ufffd"),
        (bytearray(b'"\xff"'), "\ufffd"),
        (b'"a\xe2\x82"', "a\ufffd"),
        (b'"\xed\xa0\x80"', "\ufffd\ufffd\ufffd"),
        (b'"\xf0\x9f\x98\x80"', "\U0001f600"),
        (b'"\xc0\xaf"', "\ufffd\ufffd"),
        (b'"\xf4\x90\x80\x80"', "\ufffd\ufffd\ufffd\ufffd"),
    ],
)
def test_invalid_utf8_is_replaced(source, value):
    assert loads(source) == value


def test_columns_count_bytes_of_replaced_text():
    # The replacement character takes three bytes in the decoded text.
    assert decode_error(loads, b'["\xff", x]') == "Invalid JSON at row 1, column 9"


# Random bytes mixed with well-formed characters (and surrogates in their
# three-byte form), so that long valid runs and near-valid sequences occur.
utf8_pieces = st.lists(
    st.one_of(
        st.binary(max_size=4),
        st.text(max_size=3).map(lambda text: text.encode("utf-8")),
        st.integers(0xD800, 0xDFFF).map(lambda code: chr(code).encode("utf-8", "surrogatepass")),
        st.just(b"a" * 17),
    ),
    max_size=12,
).map(b"".join)


@settings(max_examples=500, deadline=None)
@given(utf8_pieces)
def test_utf8_replacement_matches_bytes_decode(payload):
    raw = b'"' + payload.replace(b"\\", b"").replace(b'"', b"") + b'"'
    expected = raw.decode("utf-8", "replace")[1:-1]
    assert loads(raw) == expected
    assert loads(bytearray(raw)) == expected


@settings(max_examples=200, deadline=None)
@given(st.text(max_size=30))
def test_string_roundtrip_against_stdlib(text):
    import json

    for encoded in (json.dumps(text), json.dumps(text, ensure_ascii=False)):
        assert loads(encoded) == text
        assert loads(encoded.encode("utf-8")) == text


def test_bom_is_rejected():
    assert decode_error(loads, "\ufeff[1]") == "Invalid JSON at row 1, column 1"
    assert decode_error(loads, b"\xef\xbb\xbf[1]") == "Invalid JSON at row 1, column 1"
    assert decode_error(load, io.StringIO("\ufeff[1]")) == "Invalid JSON at row 1, column 1"


def test_bytearray_is_copied_before_hooks_run():
    source = bytearray(b'[{"a": 1}, "zz"]')

    def hook(obj):
        source[:] = b"x" * len(source)
        return obj

    assert loads(source, object_hook=hook) == [{"a": 1}, "zz"]


# load ----------------------------------------------------------------------


class Reader:
    def __init__(self, content):
        self.content = content
        self.calls = 0

    def read(self, *args):
        assert args == ()
        self.calls += 1
        return self.content


def test_load_reads_once():
    reader = Reader('{"a": [1]}')
    assert load(reader) == {"a": [1]}
    assert reader.calls == 1


@pytest.mark.parametrize(
    "content",
    [
        "\u00a0[1]\x0b",
        "\x0c\x0b\r[1]\x0c",
        "\u0085\u1680\u2000\u200a\u2028\u2029\u202f\u205f\u3000[1]\u3000\u2001\n\r\t ",
        " [1]\u0085",
    ],
)
def test_load_trims_unicode_white_space(content):
    assert load(Reader(content)) == [1]


def test_load_trimming_differs_from_loads():
    assert decode_error(loads, "\u00a0[1]\x0b") == "Invalid JSON at row 1, column 1"
    text = "\n  [1,,2]"
    assert decode_error(load, Reader(text)) == "Invalid JSON at row 1, column 4"
    assert decode_error(loads, text) == "Invalid JSON at row 2, column 6"


@pytest.mark.parametrize("content", ["", "   ", "\u3000\n"])
def test_load_empty_after_trimming(content):
    assert decode_error(load, Reader(content)) == "Invalid JSON at row 1, column 1"


def test_load_keeps_feff_and_data_after_value():
    assert load(Reader("[1]\ufeff")) == [1]
    for not_white_space in ("\u200b", "\u180e", "\ufeff"):
        assert decode_error(load, Reader(not_white_space + "[1]")) == "Invalid JSON at row 1, column 1"
    assert decode_error(load, Reader("\ufeff")) == "Invalid JSON at row 1, column 1"


def test_load_requires_str_from_read(tmp_path):
    path = tmp_path / "data.json"
    path.write_bytes(b"[]")
    with open(path, "rb") as handle, pytest.raises(TypeError) as caught:
        load(handle)
    assert str(caught.value) == "'bytes' object is not an instance of 'str'"
    with pytest.raises(TypeError) as caught:
        load(Reader(None))
    assert str(caught.value) == "'None' is not an instance of 'str'"
    with open(path, encoding="utf-8") as handle:
        assert load(handle) == []


def test_load_read_errors_pass_through():
    class Broken:
        def read(self):
            raise OSError("disk")

    with pytest.raises(OSError, match="disk"):
        load(Broken())
    with pytest.raises(AttributeError):
        load(object())


def test_load_checks_strict_before_reading():
    reader = Reader("[]")
    with pytest.raises(TypeError):
        load(reader, strict=None)
    assert reader.calls == 0


def test_load_with_hooks():
    assert load(Reader('{"a": 1.5, "b": 2}'), object_pairs_hook=list, parse_float=str, parse_int=float) == [
        ["a", "1.5"],
        ["b", 2.0],
    ]


# Keywords ------------------------------------------------------------------


def test_strict_must_be_a_bool():
    assert loads("[]", strict=False) == []
    assert loads("[]", strict=True) == []
    for bad in (None, 1, 0, "yes"):
        with pytest.raises(TypeError) as caught:
            loads("[]", strict=bad)
        if sys.version_info >= (3, 11):
            assert caught.value.__notes__ == ["while processing 'strict'"]


def test_raw_control_characters_accepted_whatever_strict_says():
    assert loads('"a\nb"', strict=True) == "a\nb"
    assert loads('"a\tb"', strict=False) == "a\tb"


def test_ignored_keywords():
    assert loads("[]", cls=object, parse_constant=5, foo=1) == []
    assert load(Reader("[]"), cls=object, parse_constant=5, foo=1) == []
    assert loads(s="[1]", object_hook=None, object_pairs_hook=None, parse_float=None, parse_int=None) == [1]
    assert decode_error(loads, "NaN", parse_constant=float) == "Invalid JSON at row 1, column 1"


@pytest.mark.parametrize("function", [deserialize_direct_fn, deserialize_strict_fn])
def test_deserialize_functions_accept_only_hooks(function):
    with pytest.raises(TypeError):
        function("[]", foo=1)
    with pytest.raises(TypeError):
        function("[]", strict=True)
    assert function(s='{"a": 1.5}', object_hook=None, object_pairs_hook=list, parse_float=str, parse_int=None) == [
        ["a", "1.5"]
    ]
    assert function("[1]", None, None, None, float) == [1.0]


def test_positional_hooks_of_loads():
    assert loads('{"a": 1}', None, dict.items) is not None
    assert loads("[1, 2.5]", None, None, None, str, str) == ["1", "2.5"]


def test_deserialize_data_after_value():
    assert deserialize_direct_fn("[1] x") == [1]
    assert loads("[1] x") == [1]
    assert decode_error(deserialize_strict_fn, "[1] x") == "Extra data after JSON value at row 1, column 5"
