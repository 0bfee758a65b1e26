"""Short strings, the buffer's first kilobyte and repeated key objects, checked
against the standard library where the two write the same text."""

import json

import pytest

import mervanta

SPECIALS = ['"', "\\", "\n", "\x00", "\x1f", "\u00e9", "\u4e2d", "\U0001f600"]


def short_texts():
    # Across the one-block and two-block short paths (16 and 32 bytes).
    for length in range(0, 36):
        yield "a" * length
        for special in SPECIALS:
            for position in range(length):
                yield "a" * position + special + "a" * (length - position - 1)


@pytest.mark.parametrize("ensure_ascii", [True, False])
def test_short_strings_match_json(ensure_ascii):
    for text in short_texts():
        expected = json.dumps(text, ensure_ascii=ensure_ascii)
        assert mervanta.dumps(text, ensure_ascii=ensure_ascii) == expected, repr(text)
        # The second object's key is remembered from the first.
        members = [{text: text}, {text: [text, text]}]
        expected = json.dumps(members, ensure_ascii=ensure_ascii)
        assert mervanta.dumps(members, ensure_ascii=ensure_ascii) == expected, repr(text)


@pytest.mark.parametrize("ensure_ascii", [True, False])
def test_delete_character_is_written_as_is(ensure_ascii):
    # Unlike the standard library's ASCII mode, which escapes U+007F.
    for length in range(1, 40):
        for position in range(length):
            text = "a" * position + "\x7f" + "a" * (length - position - 1)
            assert mervanta.dumps(text, ensure_ascii=ensure_ascii) == f'"{text}"'


def test_short_strings_as_bytes():
    for text in short_texts():
        assert mervanta.dumpb([text, {text: text}]) == json.dumps([text, {text: text}], ensure_ascii=False).encode()


@pytest.mark.parametrize("size", [1000, 1010, 1017, 1018, 1019, 1020, 1021, 1022, 1023, 1024, 1025, 1030, 5000])
def test_output_around_the_first_kilobyte(size):
    document = ["x" * size, "\u00e9" * (size // 3), list(range(size // 4))]
    assert mervanta.dumpb(document) == json.dumps(document, ensure_ascii=False).encode()
    assert mervanta.dumps(document) == json.dumps(document)


@pytest.mark.parametrize("key_length", [1, 16, 17, 32, 33, 200])
def test_remembered_key_copied_after_the_buffer_moved(key_length):
    key = "".join(["k\u00e9"] * key_length)
    document = {key: "v" * 3000, "nested": [{key: 1}, {key: {key: "x" * 70000}}], "last": {key: None}}
    assert mervanta.dumpb(document) == json.dumps(document, ensure_ascii=False).encode()
    assert mervanta.dumps(document) == json.dumps(document)


class Opaque:
    def __init__(self, index):
        self.index = index


def fresh_keys(value):
    # New key objects each call; the result is freed once written.
    return {"".join(["key", str(value.index)]): value.index, "".join(["key", "x"]): [str(value.index)]}


def test_default_hook_results_with_fresh_keys():
    document = {"items": [Opaque(i % 7) for i in range(200)], "key0": "s"}
    assert mervanta.dumps(document, default=fresh_keys) == json.dumps(document, default=fresh_keys)


def test_default_hook_that_mutates_a_shared_key_holder():
    shared = {"alpha": 1}
    key = next(iter(shared))

    def hook(value):
        shared["beta" + str(value.index)] = value.index
        return {key: value.index}

    document = [shared, Opaque(1), {key: 2}, Opaque(2)]
    text = mervanta.dumps(document, default=hook)
    assert json.loads(text) == [{"alpha": 1}, {"alpha": 1}, {"alpha": 2}, {"alpha": 2}]


@pytest.mark.parametrize(
    "layout",
    [
        {},
        {"indent": 2},
        {"indent": 0},
        {"separators": (",", ":")},
        {"separators": (" , longer than sixteen ", " :: longer than sixteen ")},
        {"sort_keys": True},
        {"indent": 3, "sort_keys": True, "separators": (";", "=" * 20)},
    ],
)
def test_remembered_keys_under_every_layout(layout):
    key = "".join(["shared", "key"])
    document = {key: [{key: i, "b": {key: None}} for i in range(3)], "z": {key: "x" * 2000}}
    assert mervanta.dumps(document, **layout) == json.dumps(document, **layout)


class IntSubclass(int):
    pass


# Numbers and constants in short lists, and the items that make such a list
# fall back to the general writers part-way through.
SCALAR_ROWS = [
    [1.5, -0.0, 1e-07, 5e-324, 1.7976931348623157e308, 2.0, 123456789.125],
    [0, -1, 2**63 - 1, -(2**63), 10**8, None, True, False],
    [1, 2**64, 3],
    [1, 2, "three"],
    [0.5, {"a": 1}],
    [1, IntSubclass(7)],
    [1.0, float("nan"), float("inf"), float("-inf")],
    list(range(16)),
    list(range(17)),
]


@pytest.mark.parametrize("separators", [None, (",", ":"), ("; ", " = "), (" " * 20, ":")])
def test_short_lists_of_scalars_match_items_written_alone(separators):
    item_separator, key_separator = separators or (", ", ": ")
    for row in SCALAR_ROWS:
        alone = "[" + item_separator.join(mervanta.dumps(item, separators=separators) for item in row) + "]"
        assert mervanta.dumps(row, separators=separators) == alone, row
        nested = "[" + alone + item_separator + alone + "]"
        assert mervanta.dumps([row, row], separators=separators) == nested, row
        member = "{" + f'"k"{key_separator}{alone}{item_separator}"j"{key_separator}[{alone}]' + "}"
        assert mervanta.dumps({"k": row, "j": [row]}, separators=separators) == member, row


def test_non_finite_float_in_a_short_list_follows_allow_nan():
    with pytest.raises(ValueError, match="Out of range float values are not JSON compliant"):
        mervanta.dumps([[1.0, float("nan")]], allow_nan=False)


def test_short_list_of_numbers_beyond_the_depth_limit_still_raises():
    value = [1, 2.5]
    for _ in range(1100):
        value = [value]
    with pytest.raises(RecursionError):
        mervanta.dumps(value)


def long_mixed_row():
    # Every kind of item, often enough to cross the run's room several times;
    # strings around the one-piece escaping limit (4096 bytes).
    strings = ["", "plain", "a" * 33, 'say "hi"\n', "caf\u00e9 \u4e2d", "\U0001f600" * 3, "x" * 4096, "\n" * 4097]
    kinds = strings + [None, True, False, 0, -(2**63), 2**64, 0.1, -1234.5, float("nan"), [], [1, "two", None],
                       list(range(17)), [[1.5, 2.5]], {}, {"k": [1, "v"]}, (1, "t"), [{"a": 1}], DefaultOnly()]
    return [kinds[(i * 7) % len(kinds)] for i in range(600)]


class DefaultOnly:
    pass


def as_text(value):
    return "through default"


@pytest.mark.parametrize("ensure_ascii", [True, False])
@pytest.mark.parametrize("separators", [None, (",", ":"), (" ; ", ":")])
@pytest.mark.parametrize("shape", ["list", "tuple", "member"])
def test_long_mixed_sequences_match_json(ensure_ascii, separators, shape):
    row = long_mixed_row()
    value = {"list": row, "tuple": tuple(row), "member": {"a": [row, row], "b": row}}[shape]
    options = {"ensure_ascii": ensure_ascii, "separators": separators, "default": as_text}
    assert mervanta.dumps(value, **options) == json.dumps(value, **options)
