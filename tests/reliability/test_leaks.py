"""Reference and memory leaks: every function, on success and on every kind of failure."""

from __future__ import annotations

import ctypes
import dataclasses
import datetime
import decimal
import enum
import io
import uuid

import pytest

import mervanta
from leakcheck import SANITIZED, assert_no_leak, heap_in_use, need, swallowing



def _panic_class():
    try:
        mervanta.dumps({RaisingStr(), RaisingStr()})
    except BaseException as error:  # noqa: B036 - the class derives from BaseException
        return type(error)
    raise AssertionError("a failing str() during the set sort must raise")



# --- inputs -------------------------------------------------------------------------


class Colour(enum.Enum):
    RED = 1
    BLUE = (2, "b")


@dataclasses.dataclass
class Point:
    x: int
    y: list


CORE_DOCUMENT = {
    "text": "plain",
    "escapes": 'tab\t quote" backslash\\ \x00 \x1f',
    "unicode": "é ☃ 😀 \u2028",
    "ints": [0, -1, 2**63 - 1, -(2**63), 2**64 - 1, 2**64, 10**30],
    "floats": [0.0, -0.0, 1.5, 1e16, 1e-7, float("nan"), float("inf")],
    "nested": [[[]], {}, {"a": {"b": [None, True, False]}}],
    "tuple": (1, "two", 3.0),
    "set": {3, 1, 2},
    "frozenset": frozenset({"b", "a"}),
    "bytes": b"\x00\xffabc",
    "bytearray": bytearray(b"xyz"),
    "decimal": decimal.Decimal("1.10"),
    "uuid": uuid.UUID(int=7),
}

EXTENDED_DOCUMENT = {
    "date": datetime.date(2024, 2, 29),
    "datetime": datetime.datetime(2024, 2, 29, 12, 30, 15, 123456, tzinfo=datetime.timezone.utc),
    "time": datetime.time(1, 2, 3),
    "timedelta": datetime.timedelta(days=-1, seconds=5, microseconds=7),
    "enum": [Colour.RED, Colour.BLUE],
    "dataclass": Point(1, [2, 3]),
}

JSON_TEXT = (
    '{"a": [1, -2, 3.5, 1e400, -0.0, 18446744073709551616, -92233720368547758090],'
    ' "b": {"c": null, "d": true, "e": false}, "s": "x\\n\\u00e9\\ud83d\\ude00\\ud800y",'
    ' "é": "raw é", "": [], "dup": 1, "dup": 2, "deep": [[[[{"k": "v"}]]]]}'
)


def broken(exception=ValueError):
    def hook(*args):
        raise exception("hook failed")

    return hook


class RaisingWriter:
    def __init__(self, after: int = 0):
        self.after = after
        self.calls = 0

    def write(self, text):
        self.calls += 1
        if self.calls > self.after:
            raise OSError("disk full")


def failing_rows(count: int, exception=RuntimeError):
    for index in range(count):
        yield {"row": index, "text": "x" * 50}
    raise exception("cursor lost")


class RaisingReader:
    # One class for every call: classes made per call grow the interpreter's
    # own tables, which would read as a leak.
    def read(self):
        raise OSError("device gone")


class RaisingStr:
    def __str__(self):
        raise ValueError("no text")


PanicException = _panic_class()


class WrongIndex:
    def __index__(self):
        return "not an int"

    def __float__(self):
        raise ArithmeticError("no float either")


# --- the helper itself --------------------------------------------------------------


def test_leakcheck_detects_a_python_object_leak():
    if SANITIZED:
        pytest.skip("leak measurements need the interpreter's own allocator")
    kept = []
    with pytest.raises(AssertionError, match="allocated blocks"):
        assert_no_leak(lambda: kept.append(object()), rounds=3)


def test_leakcheck_detects_a_c_heap_leak():
    if SANITIZED or heap_in_use() == 0:
        pytest.skip("no C heap figure on this platform")
    libc = ctypes.CDLL(None)
    libc.malloc.restype = ctypes.c_void_p
    libc.malloc.argtypes = [ctypes.c_size_t]
    with pytest.raises(AssertionError, match="C heap"):
        assert_no_leak(lambda: libc.malloc(1024), rounds=3)


def test_leakcheck_passes_a_clean_call():
    assert_no_leak(lambda: mervanta.dumps([1, 2, 3]))


# --- encoder --------------------------------------------------------------------------

ENCODER_SUCCESSES = {
    "compact": lambda: mervanta.dumps(CORE_DOCUMENT),
    "options": lambda: mervanta.dumps(CORE_DOCUMENT, indent=3, sort_keys=True, ensure_ascii=False,
                                      separators=(";", "="), foo=1),
    "default hook": lambda: mervanta.dumps([object(), {"k": object()}], default=lambda o: {"seen": [1]}),
    "top-level retry": lambda: mervanta.dumps({"n": float("nan")}, allow_nan=False, default=lambda o: "fixed"),
    "dump": lambda: mervanta.dump(CORE_DOCUMENT, io.StringIO(), indent=2),
    "dumpb": lambda: mervanta.dumpb(CORE_DOCUMENT),
    "dumpb pretty": lambda: mervanta.dumpb(CORE_DOCUMENT, pretty=True),
    "index and float protocols": lambda: mervanta.dumps([WrongIndex(), decimal.Decimal("2")],
                                                        default=lambda o: None),
}


@pytest.mark.parametrize("call", ENCODER_SUCCESSES.values(), ids=ENCODER_SUCCESSES.keys())
def test_encoder_success_does_not_leak(call):
    assert_no_leak(call)


def test_extended_types_do_not_leak():
    need("dumps")
    try:
        mervanta.dumps(EXTENDED_DOCUMENT)
    except TypeError:
        pytest.skip("extended types are not implemented yet")
    assert_no_leak(lambda: mervanta.dumps(EXTENDED_DOCUMENT, sort_keys=True))
    assert_no_leak(lambda: mervanta.dumpb(EXTENDED_DOCUMENT))


def _self_containing():
    items = [1]
    items.append(items)
    return items


def _growing_dict():
    data = {"a": 1, "b": object()}

    def hook(value):
        data["new" + str(len(data))] = 1
        return None

    return data, hook


def _swapping_dict():
    data = {"a": object(), "b": 2}

    def hook(value):
        # Same size, but the iteration now yields one member more than it had.
        data.pop("a", None)
        data["c"] = 3
        return None

    return data, hook


ENCODER_FAILURES = {
    "hook raises": (lambda: mervanta.dumps([1, object()], default=broken()), ValueError),
    "hook returns unknown": (lambda: mervanta.dumps({"k": [object()]}, default=lambda o: object()), RecursionError),
    "unknown type": (lambda: mervanta.dumps({"k": [1, object()]}), TypeError),
    "nan refused": (lambda: mervanta.dumps([1.0, {"x": float("nan")}], allow_nan=False), ValueError),
    "int key": (lambda: mervanta.dumps({"a": 1, 2: 3}), TypeError),
    "int key sorted": (lambda: mervanta.dumps({"a": 1, 2: 3}, sort_keys=True), TypeError),
    "lone surrogate value": (lambda: mervanta.dumps(["ok", "\ud800"]), UnicodeEncodeError),
    "lone surrogate key": (lambda: mervanta.dumpb({"\udfff": 1}), UnicodeEncodeError),
    "self-containing list": (lambda: mervanta.dumps(_self_containing()), RecursionError),
    "set item str raises": (lambda: mervanta.dumps({RaisingStr(), RaisingStr()}), PanicException),
    "decimal str raises": (lambda: mervanta.dumps([type("Decimal", (), {"__str__": RaisingStr.__str__})()]),
                           ValueError),
    "missing argument": (lambda: mervanta.dump(1), TypeError),
    "bad strict bool": (lambda: mervanta.dumps(1, sort_keys=None), TypeError),
    "bad pretty": (lambda: mervanta.dumpb(1, pretty=1), TypeError),
    "unexpected keyword": (lambda: mervanta.dumpb(1, indent=2), TypeError),
    "bad separators": (lambda: mervanta.dumps(1, separators=(",",)), IndexError),
    "separator not str": (lambda: mervanta.dumps(1, separators=(",", 1)), TypeError),
    "write raises": (lambda: mervanta.dump(CORE_DOCUMENT, RaisingWriter()), OSError),
    "no write": (lambda: mervanta.dump(CORE_DOCUMENT, object()), AttributeError),
    "retry hook raises": (lambda: mervanta.dumps(object(), default=broken(KeyError)), KeyError),
}


@pytest.mark.parametrize("call,expected", ENCODER_FAILURES.values(), ids=ENCODER_FAILURES.keys())
def test_encoder_failure_does_not_leak(call, expected):
    with pytest.raises(expected):
        call()
    # A runaway recursion is a thousand nested calls by itself.
    assert_no_leak(swallowing(call, expected), calls_per_round=20 if expected is RecursionError else 100)


@pytest.mark.parametrize("factory", [_growing_dict, _swapping_dict])
def test_dict_mutation_guards_do_not_leak(factory):
    def call():
        data, hook = factory()
        try:
            mervanta.dumps(data, default=hook)
        except BaseException as error:  # PanicException is no Exception
            assert "during iteration" in str(error)
        else:
            raise AssertionError("the dict guard did not fire")

    assert_no_leak(call, calls_per_round=100)


# --- queryset dumps and streams -----------------------------------------------------------


def failing_queryset_type():
    """A QuerySet whose iteration fails after `count` rows (None without Django):
    only querysets are iterated by the queryset dumps."""
    try:
        from django.db.models.query import QuerySet
    except ImportError:
        return None

    class FailingQuerySet(QuerySet):
        def __init__(self, count):  # no model, no query: only the iteration is used
            self.count_before_failure = count

        def __iter__(self):
            return failing_rows(self.count_before_failure)

        def __len__(self):
            return self.count_before_failure

    return FailingQuerySet


ROWS = [{"id": index, "name": "név %d" % index, "tags": ("a", "b"), "score": index / 3} for index in range(40)]


@pytest.mark.parametrize("name", ["dump_queryset", "dump_queryset_bytes"])
def test_queryset_dumps_do_not_leak(name):
    need(name)
    function = getattr(mervanta, name)
    assert_no_leak(lambda: function(ROWS))
    queryset_type = failing_queryset_type()
    if queryset_type is not None:
        assert_no_leak(swallowing(lambda: function(queryset_type(5)), RuntimeError), calls_per_round=100)
    assert_no_leak(swallowing(lambda: function([ROWS[0], object()]), TypeError), calls_per_round=100)
    assert_no_leak(swallowing(lambda: function(), TypeError), calls_per_round=100)


STREAM_CASES = {
    "rows": (lambda f: f(ROWS, io.StringIO()), None),
    "chunk 0": (lambda f: f(ROWS, io.StringIO(), chunk_size=0), None),
    "chunk 1": (lambda f: f(ROWS, io.StringIO(), 1), None),
    "empty": (lambda f: f(iter(()), io.StringIO()), None),
    "iteration fails": (lambda f: f(failing_rows(30), io.StringIO(), chunk_size=1), RuntimeError),
    "row fails": (lambda f: f(ROWS + [object()], io.StringIO(), chunk_size=1), TypeError),
    "first write fails": (lambda f: f(ROWS, RaisingWriter(0), chunk_size=1), OSError),
    "later write fails": (lambda f: f(ROWS, RaisingWriter(3), chunk_size=1), OSError),
    "final write fails": (lambda f: f(ROWS[:1], RaisingWriter(0)), OSError),
    "no write": (lambda f: f(ROWS, object(), chunk_size=0), AttributeError),
    "not iterable": (lambda f: f(5, io.StringIO()), TypeError),
    "negative chunk": (lambda f: f(ROWS, io.StringIO(), chunk_size=-1), OverflowError),
    "huge chunk": (lambda f: f(ROWS, io.StringIO(), chunk_size=2**64), OverflowError),
    "chunk none": (lambda f: f(ROWS, io.StringIO(), chunk_size=None), TypeError),
    "missing fp": (lambda f: f(ROWS), TypeError),
}


@pytest.mark.parametrize("name", ["stream_dump_queryset", "stream_dump_queryset_jsonl"])
@pytest.mark.parametrize("case,expected", STREAM_CASES.values(), ids=STREAM_CASES.keys())
def test_streams_do_not_leak(name, case, expected):
    need(name)
    function = getattr(mervanta, name)
    if expected is None:
        assert_no_leak(lambda: case(function), calls_per_round=100)
    else:
        with pytest.raises(expected):
            case(function)
        assert_no_leak(swallowing(lambda: case(function), expected), calls_per_round=100)


# --- decoder -----------------------------------------------------------------------------

DECODER_SUCCESSES = {
    "loads str": lambda: mervanta.loads(JSON_TEXT),
    "loads bytes": lambda: mervanta.loads(JSON_TEXT.encode()),
    "loads bytearray": lambda: mervanta.loads(bytearray(JSON_TEXT.encode() + b"\xff")),
    "loads invalid utf-8": lambda: mervanta.loads(b'["\xff\xfe", "\xc3"]'),
    "loads hooks": lambda: mervanta.loads(JSON_TEXT, object_hook=lambda d: d, parse_float=decimal.Decimal,
                                          parse_int=str, cls=1, strict=False, foo=2),
    "loads pairs hook": lambda: mervanta.loads(JSON_TEXT, object_pairs_hook=tuple, object_hook=dict),
    "load": lambda: mervanta.load(io.StringIO("\u00a0\n" + JSON_TEXT + "\u3000\x0b")),
    "direct": lambda: mervanta.deserialize_direct_fn(JSON_TEXT + " trailing", object_hook=len),
    "strict": lambda: mervanta.deserialize_strict_fn(JSON_TEXT + " \n\t", object_pairs_hook=list,
                                                     parse_int=float),
}

DECODER_NEEDS = {
    "load": "load",
    "direct": "deserialize_direct_fn",
    "strict": "deserialize_strict_fn",
}


@pytest.mark.parametrize("key", DECODER_SUCCESSES)
def test_decoder_success_does_not_leak(key):
    need(DECODER_NEEDS.get(key, "loads"))
    assert_no_leak(DECODER_SUCCESSES[key])


def _every_prefix_and_corruption(text: str) -> list[str]:
    documents = [text[:end] for end in range(len(text))]
    for position in range(len(text)):
        for replacement in ("x", "]", "}", ",", '"', "\\"):
            documents.append(text[:position] + replacement + text[position + 1:])
    return documents


@pytest.mark.parametrize("name", ["loads", "deserialize_direct_fn", "deserialize_strict_fn"])
def test_decoder_error_at_every_position_does_not_leak(name):
    need(name)
    function = getattr(mervanta, name)
    documents = _every_prefix_and_corruption('{"a": [1, 2.5e3, "x\\u00e9y", {"b": null}], "c": true}')

    def call():
        for document in documents:
            try:
                function(document, object_hook=dict)
            except ValueError:
                pass

    failures = 0
    for document in documents:
        try:
            function(document)
        except ValueError:
            failures += 1
    assert failures > len(documents) // 2
    assert_no_leak(call, calls_per_round=10, rounds=4, warmup=3)


DECODER_FAILURES = {
    "object hook raises": (lambda: mervanta.loads('[{"a": {"b": 1}}]', object_hook=broken()), ValueError),
    "pairs hook raises": (lambda: mervanta.loads('{"a": {}}', object_pairs_hook=broken(KeyError)), KeyError),
    "parse_float raises": (lambda: mervanta.loads('[1, 2.5]', parse_float=broken(ArithmeticError)),
                           ArithmeticError),
    "parse_int raises": (lambda: mervanta.loads('{"a": [7]}', parse_int=broken(LookupError)), LookupError),
    "hook not callable": (lambda: mervanta.loads('[{}]', object_hook=5), TypeError),
    "int() rejects": (lambda: mervanta.loads('[1, -]'), ValueError),
    "too many digits": (lambda: mervanta.loads("[" + "9" * 5000 + "]"), ValueError),
    "wrong input type": (lambda: mervanta.loads(memoryview(b"[]")), TypeError),
    "none input": (lambda: mervanta.loads(None), TypeError),
    "lone surrogate input": (lambda: mervanta.loads('["\ud800"]'), UnicodeEncodeError),
    "bad strict": (lambda: mervanta.loads("[]", strict=1), TypeError),
    "missing argument": (lambda: mervanta.loads(), TypeError),
    "extra data": (lambda: mervanta.deserialize_strict_fn('{"a": [1]} x'), ValueError),
    "bytes to direct": (lambda: mervanta.deserialize_direct_fn(b"[]"), TypeError),
    "unexpected keyword": (lambda: mervanta.deserialize_strict_fn("[]", strict=True), TypeError),
    "read raises": (lambda: mervanta.load(RaisingReader()), OSError),
    "read returns bytes": (lambda: mervanta.load(io.BytesIO(b"[1]")), TypeError),
    "no read": (lambda: mervanta.load(object()), AttributeError),
}


@pytest.mark.parametrize("call,expected", DECODER_FAILURES.values(), ids=DECODER_FAILURES.keys())
def test_decoder_failure_does_not_leak(call, expected):
    need("loads", "load", "deserialize_direct_fn", "deserialize_strict_fn")
    with pytest.raises(expected):
        call()
    assert_no_leak(swallowing(call, expected), calls_per_round=100)


def test_hook_failing_deep_inside_releases_partial_results():
    need("loads")
    document = "[" * 50 + '{"a": [1, 2, 3], "b": "text"}' * 1 + "]" * 50
    seen = []

    def hook(value):
        seen.append(1)
        if len(seen) % 2 == 0:
            raise ValueError("second object")
        return value

    doubled = "[" + document + ", " + document + "]"
    assert_no_leak(swallowing(lambda: mervanta.loads(doubled, object_hook=hook), ValueError), calls_per_round=100)


DOCUMENTS = [
    '{"a": [1, 2.5, "x\\n", null, true, {"b": 18446744073709551616}]}',
    '[{"k": [1.5, "s", 12345678901234567890123, "\\u00e9"]}, {"k": {}}]',
    '{"a": 1, "a": 2, "b": [[], {}]}',
]
BROKEN = ['{"a": [1, {"b": x}]}', '[1, 2', '{"a" 1}', '"abc', '[1e]', '["\\ud800\\u12x4"]', "[" * 3000, '{"a":' * 3000]
HOOK_SETS = [{}, {"object_pairs_hook": list}, {"object_hook": dict, "parse_float": str, "parse_int": str}]


def test_every_input_type_and_hook_set_does_not_leak():
    need("loads", "load")

    def decode_all():
        for text in DOCUMENTS + BROKEN:
            for hooks in HOOK_SETS:
                for source in (text, text.encode(), bytearray(text.encode())):
                    try:
                        mervanta.loads(source, **hooks)
                    except (ValueError, RecursionError):
                        pass
                try:
                    mervanta.load(io.StringIO(text), **hooks)
                except (ValueError, RecursionError):
                    pass

    decode_all()  # also on the sanitizer build, where the measurement is skipped
    assert_no_leak(decode_all, calls_per_round=10, rounds=4, warmup=5)


# --- argument errors, for every function ----------------------------------------------------------

ARGUMENT_ERRORS = {
    "dumps": [lambda f: f(), lambda f: f(1, obj=2), lambda f: f(*range(11)), lambda f: f(1, ensure_ascii=None)],
    "dump": [lambda f: f(1), lambda f: f(1, io.StringIO(), fp=2), lambda f: f(1, io.StringIO(), allow_nan=0)],
    "dumpb": [lambda f: f(), lambda f: f(1, True, 3), lambda f: f(1, pretty="yes"), lambda f: f(1, indent=2)],
    "dump_queryset": [lambda f: f(), lambda f: f(1, 2), lambda f: f([], indent=4)],
    "dump_queryset_bytes": [lambda f: f(), lambda f: f([], queryset=[])],
    "stream_dump_queryset": [lambda f: f([]), lambda f: f([], io.StringIO(), -1), lambda f: f([], io.StringIO(), x=1)],
    "stream_dump_queryset_jsonl": [lambda f: f(), lambda f: f([], io.StringIO(), None)],
    "loads": [lambda f: f(), lambda f: f("1", s="2"), lambda f: f("1", strict=None), lambda f: f(*range(9))],
    "load": [lambda f: f(), lambda f: f(io.StringIO("1"), strict=1)],
    "deserialize_direct_fn": [lambda f: f(), lambda f: f("1", strict=True), lambda f: f(*range(6))],
    "deserialize_strict_fn": [lambda f: f(), lambda f: f("1", foo=1), lambda f: f(b"1")],
}


@pytest.mark.parametrize("name", ARGUMENT_ERRORS)
def test_argument_errors_do_not_leak(name):
    need(name)
    function = getattr(mervanta, name)
    calls = ARGUMENT_ERRORS[name]
    for call in calls:
        with pytest.raises((TypeError, OverflowError)):
            call(function)

    def every_error():
        for call in calls:
            try:
                call(function)
            except (TypeError, OverflowError):
                pass

    assert_no_leak(every_error, calls_per_round=100)
