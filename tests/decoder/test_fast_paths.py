"""Strings built from ASCII runs, decoded code points and escapes, and bytes
input parsed before its UTF-8 is checked: every path gives the text the
interpreter's own decoding gives."""

import json
import random

import pytest
from hypothesis import given
from hypothesis import strategies as st

import mervanta

PIECES = ["a", "plain words ", "é", "ÿ", "Ā", "日本語", "😀", "\n", '"', "\\", "/", "\x00", "\x7f", "\u2028"]


def variants(text):
    raw = text.encode()
    return [text, raw, bytearray(raw)]


def outcome(call, arg):
    try:
        return ("ok", call(arg))
    except Exception as error:  # the type and the message are both compared
        return (type(error).__name__, str(error))


@pytest.mark.parametrize("ensure_ascii", [False, True])
@pytest.mark.parametrize("seed", range(40))
def test_mixed_strings_as_keys_and_values(seed, ensure_ascii):
    rng = random.Random(seed)
    value = "".join(rng.choice(PIECES) for _ in range(rng.randrange(0, 30)))
    key = "".join(rng.choice(PIECES) for _ in range(rng.randrange(0, 6)))
    document = {key: [value, value[::-1], {value: key}]}
    text = json.dumps(document, ensure_ascii=ensure_ascii)
    for arg in variants(text):
        assert mervanta.loads(arg) == document


@pytest.mark.parametrize("char", ["é", "ÿ", "Ā", "\uffff", "😀", "\\n", "\\u00e9", "\\ud83d\\ude00"])
@pytest.mark.parametrize("at", [0, 1, 14, 15, 16, 17, 31, 32, 33])
def test_special_character_at_each_block_offset(char, at):
    body = "x" * at + char + "y" * (40 - at)
    expected = json.loads(f'"{body}"')
    for arg in variants(f'["{body}", "{body}"]'):
        assert mervanta.loads(arg) == [expected, expected]


@pytest.mark.parametrize("size", [127, 128, 129, 1000, 70000])
@pytest.mark.parametrize("piece", ["é", "日", "😀", "\\u00e9", "a\\n", "x\\/\\u00ff"])
def test_long_strings_grow_the_code_point_array(size, piece):
    text = json.dumps([piece * size, "tail"], ensure_ascii=False).replace("\\\\", "\\")
    expected = json.loads(text)
    for arg in variants(text):
        assert mervanta.loads(arg) == expected


@pytest.mark.parametrize(
    ("escaped", "value"),
    [
        ("\\ud83d\\ude00", "😀"),
        ("\\uD83D\\uDE00x", "😀x"),
        ("\\ud83dx", "x"),
        ("a\\ude00b", "ab"),
        ("\\ude00\\ud83d", ""),
        ("\\ud83d\\ud83d\\ude00", "😀"),
        ("日\\ud83d", "日"),
        ("\\ud83d\\u0041", "A"),
    ],
)
def test_surrogate_escapes(escaped, value):
    for arg in variants(f'{{"{escaped}": "{escaped}"}}'):
        assert mervanta.loads(arg) == {value: value}


def test_equal_decoded_strings_are_distinct_objects():
    first, second = mervanta.loads('["日本\\n", "日本\\n"]')
    assert first == second and first is not second


BAD_SEQUENCES = [b"\xff", b"\x80", b"\xc3", b"\xc0\xaf", b"\xe2\x82", b"\xed\xa0\x80", b"\xf0\x9f\x98", b"\xf4\x90\x80\x80"]
TEMPLATE = b'{"key\xc3\xa9": ["value \xe6\x97\xa5", 12, true, null, "x\\n"], "k": "' + b"s" * 20 + b'"}'


@pytest.mark.parametrize("bad", BAD_SEQUENCES)
def test_invalid_utf8_at_every_position_acts_as_replacement(bad):
    for at in range(len(TEMPLATE) + 1):
        raw = TEMPLATE[:at] + bad + TEMPLATE[at:]
        expected = outcome(mervanta.loads, raw.decode("utf-8", "replace"))
        assert outcome(mervanta.loads, raw) == expected, raw
        assert outcome(mervanta.loads, bytearray(raw)) == expected, raw


@pytest.mark.parametrize(
    "raw",
    [b'"abc\xff', b'"\xff\\', b'"\xff\\x"', b'["a" "\xff"]', b'{"\xff" 1}', b"[1, 2\xff]", b"\xff", b"[1] \xff"],
)
def test_errors_of_invalid_bytes_match_the_repaired_text(raw):
    assert outcome(mervanta.loads, raw) == outcome(mervanta.loads, raw.decode("utf-8", "replace"))


def test_hooks_run_once_per_object_on_invalid_bytes():
    raw = b'[{"a": "\xff"}, {"b": 1}, {"c": "\xe6\x97"}]'
    seen = []
    result = mervanta.loads(raw, object_hook=lambda obj: seen.append(obj) or obj)
    assert result == [{"a": "\ufffd"}, {"b": 1}, {"c": "\ufffd"}]
    assert seen == result


@given(st.text(), st.booleans())
def test_any_text_round_trips_from_str_and_bytes(text, ensure_ascii):
    encoded = json.dumps({text: text}, ensure_ascii=ensure_ascii)
    for arg in variants(encoded):
        assert mervanta.loads(arg) == {text: text}
