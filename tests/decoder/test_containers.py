"""Arrays, objects, object hooks and nesting."""

import threading

import pytest

from mervanta import loads


def decode_error(text, **hooks):
    with pytest.raises(ValueError) as caught:
        loads(text, **hooks)
    assert caught.type is ValueError
    return caught.value.args[0]


@pytest.mark.parametrize(
    ("text", "value"),
    [
        ("[]", []),
        ("[ ]", []),
        ("{ }", {}),
        ("[ 1 , 2 ]", [1, 2]),
        ('{"a":1,"b":[true,{"c":null}]}', {"a": 1, "b": [True, {"c": None}]}),
        ('\n{\n  "a" :\t[ 1 ,\r\n 2 ] ,"b":{}}\n', {"a": [1, 2], "b": {}}),
        ('{"\u00e9\\n":"\\u00e9"}', {"\u00e9\n": "\u00e9"}),
        ('[[[[]]], {"": ""}]', [[[[]]], {"": ""}]),
    ],
)
def test_containers(text, value):
    assert loads(text) == value


@pytest.mark.parametrize(
    ("text", "message"),
    [
        ("[1 2]", "Expected ',' or ']' at row 1, column 5"),
        ("[1", "Expected ',' or ']' at row 1, column 3"),
        ("[1,]", "Invalid JSON at row 1, column 4"),
        ("[1,", "Invalid JSON at row 1, column 4"),
        ("[", "Invalid JSON at row 1, column 2"),
        ("[,1]", "Invalid JSON at row 1, column 2"),
        ("[1}", "Expected ',' or ']' at row 1, column 4"),
        ('{"a" 1}', "Expected ':' at row 1, column 7"),
        ('{"a"', "Expected ':' at row 1, column 5"),
        ('{"a":}', "Invalid JSON at row 1, column 6"),
        ('{"a":', "Invalid JSON at row 1, column 6"),
        ('{"a":1', "Expected ',' or '}' at row 1, column 7"),
        ('{"a":1 "b":2}', "Expected ',' or '}' at row 1, column 9"),
        ('{"a":1]', "Expected ',' or '}' at row 1, column 8"),
        ("{", "Unterminated string at row 1, column 2"),
        ('{"a":1,', "Unterminated string at row 1, column 8"),
        ('{"a', "Unterminated string at row 1, column 4"),
        # A key must open with a quotation mark.
        ('{a":1}', "Invalid JSON at row 1, column 2"),
        ('{"a":1,}', "Invalid JSON at row 1, column 8"),
        ("{,}", "Invalid JSON at row 1, column 2"),
        ("{1:2}", "Invalid JSON at row 1, column 2"),
        ('{ \n \u00e9":1}', "Invalid JSON at row 2, column 2"),
        ('{"a":1, \'b\':2}', "Invalid JSON at row 1, column 9"),
    ],
)
def test_container_errors(text, message):
    assert decode_error(text) == message


def test_duplicate_keys_keep_first_key_and_last_value():
    decoded = loads('{"a": 1, "b": 2, "a": 3}')
    assert decoded == {"a": 3, "b": 2}
    assert list(decoded) == ["a", "b"]


def test_object_pairs_hook_gets_lists_in_document_order():
    assert loads('{"a": 1, "a": 2}', object_pairs_hook=list) == [["a", 2]]
    assert loads('{"b": 1, "a": 2}', object_pairs_hook=list) == [["b", 1], ["a", 2]]
    pairs = loads('{"b": 1, "c": 3, "b": 2}', object_pairs_hook=list)
    assert pairs == [["b", 2], ["c", 3]]
    assert all(type(pair) is list for pair in pairs)


def test_empty_object_hooks():
    seen = []
    assert loads("{}", object_pairs_hook=lambda pairs: seen.append(pairs) or "p") == "p"
    assert loads("{ }", object_hook=lambda obj: seen.append(obj) or "o") == "o"
    assert seen == [[], {}]
    assert type(seen[0]) is list and type(seen[1]) is dict


def test_pairs_hook_wins_over_object_hook():
    def object_hook(_):
        raise AssertionError("object_hook must not be called")

    assert loads('{"a": {}}', object_hook=object_hook, object_pairs_hook=tuple) == (["a", ()],)


def test_hooks_run_bottom_up():
    order = []

    def hook(obj):
        order.append(dict(obj))
        return ("hooked", obj)

    decoded = loads('{"a": {"b": 1}, "c": [{"d": 2}]}', object_hook=hook)
    assert decoded == ("hooked", {"a": ("hooked", {"b": 1}), "c": [("hooked", {"d": 2})]})
    assert order == [{"b": 1}, {"d": 2}, {"a": ("hooked", {"b": 1}), "c": [("hooked", {"d": 2})]}]


def test_hook_results_of_any_kind_take_the_objects_place():
    assert loads('[{"a": 1}, {}]', object_hook=lambda obj: None) == [None, None]


def test_non_callable_hooks():
    with pytest.raises(TypeError, match="'int' object is not callable"):
        loads("{}", object_hook=5)
    assert loads("[]", object_hook=5) == []
    assert loads("[1]", parse_float=5) == [1]
    with pytest.raises(TypeError, match="'int' object is not callable"):
        loads("[1]", parse_int=5)


def test_hook_exception_stops_decoding():
    def hook(_):
        raise RuntimeError("stop")

    with pytest.raises(RuntimeError, match="stop"):
        loads('[{"a": 1}, {"b": 2}]', object_pairs_hook=hook)


def test_error_after_a_hook_ran():
    assert decode_error('[{"a": 1}, x]', object_hook=dict) == "Invalid JSON at row 1, column 12"


# Nesting -----------------------------------------------------------------


def nested(depth, kind="array"):
    if kind == "array":
        return "[" * depth + "]" * depth
    return '{"a":' * depth + "1" + "}" * depth


@pytest.mark.parametrize("kind", ["array", "object"])
def test_moderate_nesting_decodes(kind):
    value = loads(nested(500, kind))
    for _ in range(499):
        value = value[0] if kind == "array" else value["a"]
    assert value == ([] if kind == "array" else {"a": 1})


@pytest.mark.parametrize("kind", ["array", "object"])
@pytest.mark.parametrize("depth", [5000, 100000])
def test_runaway_nesting_raises_recursion_error(kind, depth):
    with pytest.raises(RecursionError):
        loads(nested(depth, kind))


def test_runaway_nesting_in_another_thread():
    outcome = []

    def run():
        try:
            loads(nested(200000))
        except RecursionError:
            outcome.append("RecursionError")
        try:
            outcome.append(len(loads(nested(500))))
        except BaseException as error:  # pragma: no cover - reported below
            outcome.append(repr(error))

    thread = threading.Thread(target=run)
    thread.start()
    thread.join()
    assert outcome == ["RecursionError", 1]


def test_recursion_error_leaves_decoder_usable():
    with pytest.raises(RecursionError):
        loads(nested(100000))
    assert loads(nested(100)) == loads(nested(100))
