"""Values the core encoder hands on: type-name table, Enum members,
dataclasses, the default hook and the final TypeError."""

import dataclasses
import datetime as dt
import enum
import subprocess
import sys
import threading

import pytest

import mervanta

DAY = dt.timedelta(days=1)


@pytest.mark.parametrize(
    ("value", "text"),
    [
        (dt.timedelta(0), "PT0S"),
        (DAY, "P1D"),
        (dt.timedelta(weeks=2), "P14D"),
        (dt.timedelta(days=1, hours=2, minutes=3, seconds=4), "P1DT2H3M4S"),
        (dt.timedelta(minutes=90), "PT1H30M"),
        (dt.timedelta(hours=25), "P1DT1H"),
        (dt.timedelta(hours=1, seconds=5), "PT1H5S"),
        (dt.timedelta(seconds=5, microseconds=123), "PT5.000123S"),
        (dt.timedelta(microseconds=1), "PT0.000001S"),
        (dt.timedelta(minutes=2, microseconds=500000), "PT2M0.500000S"),
        (-DAY, "P-1D"),
        (dt.timedelta(seconds=-1), "P-1DT23H59M59S"),
        (dt.timedelta(microseconds=-1), "P-1DT23H59M59.999999S"),
        (dt.timedelta.max, "P999999999DT23H59M59.999999S"),
        (dt.timedelta.min, "P-999999999D"),
    ],
)
def test_duration_text(value, text):
    assert mervanta.dumps(value) == f'"{text}"'
    assert mervanta.dumpb([value]) == f'["{text}"]'.encode()


def inner_hook_calls(value):
    """Values the hook saw below the top level (dumps retries the hook once on
    the top-level value after a failed run; that call is left out)."""
    calls = []
    top = [value]
    try:
        mervanta.dumps(top, default=calls.append)
    except Exception:  # noqa: BLE001 - only the calls matter here
        pass
    return [call for call in calls if call is not top]


def fake_timedelta(days, seconds, microseconds):
    return type("timedelta", (), {"days": days, "seconds": seconds, "microseconds": microseconds})()


@pytest.mark.parametrize(
    ("parts", "text"),
    [
        # Truncating division with the dividend's sign, micros as the low 32 bits.
        ((0, -3661, 0), "PT-1H-1M-1S"),
        ((0, 59, -1), "PT59.4294967295S"),
        ((0, 0, 2**32), "PT0S"),
        ((-2, 7200, 5), "P-2DT2H0.000005S"),
    ],
)
def test_duration_of_any_class_named_timedelta(parts, text):
    assert mervanta.dumps(fake_timedelta(*parts)) == f'"{text}"'


@pytest.mark.parametrize(
    ("parts", "error", "message"),
    [
        (("x", 0, 0), TypeError, "'str' object cannot be interpreted as an integer"),
        ((0, 2**70, 0), OverflowError, "Python int too large to convert to C long"),
        ((0, 0, None), TypeError, "'NoneType' object cannot be interpreted as an integer"),
    ],
)
def test_duration_attribute_failures_are_final(parts, error, message):
    value = fake_timedelta(*parts)
    with pytest.raises(error) as caught:
        mervanta.dumps(value)
    assert str(caught.value) == message
    assert inner_hook_calls(value) == []


def test_duration_missing_attribute():
    value = type("timedelta", (), {"days": 1})()
    with pytest.raises(AttributeError, match="has no attribute 'seconds'"):
        mervanta.dumps(value)


UTC2 = dt.timezone(dt.timedelta(hours=2))


@pytest.mark.parametrize(
    "value",
    [
        dt.datetime(2024, 2, 29, 13, 5, 9),
        dt.datetime(2024, 2, 29, 13, 5, 9, 120, tzinfo=UTC2),
        dt.datetime(1, 1, 1, tzinfo=dt.timezone.utc),
        dt.date(2024, 2, 29),
        dt.time(23, 59, 59, 999999),
        dt.time(1, 2, tzinfo=dt.timezone(-dt.timedelta(hours=5, minutes=30))),
    ],
)
def test_dates_and_times_as_isoformat(value):
    assert mervanta.dumps(value) == f'"{value.isoformat()}"'
    assert mervanta.dumps({"k": [value]}, indent=1) == f'{{\n "k": [\n  "{value.isoformat()}"\n ]\n}}'


def named(name, **attributes):
    return type(name, (), attributes)()


@pytest.mark.parametrize(
    ("iso", "ensure_ascii", "expected"),
    [
        ("plain", True, '"plain"'),
        ("d\u00e9j\u00e0\n", True, '"d\\u00e9j\\u00e0\\n"'),
        ("d\u00e9j\u00e0", False, '"d\u00e9j\u00e0"'),
    ],
)
def test_isoformat_text_is_escaped_as_a_string(iso, ensure_ascii, expected):
    value = named("time", isoformat=lambda self: iso)
    assert mervanta.dumps(value, ensure_ascii=ensure_ascii) == expected


@pytest.mark.parametrize(
    ("result", "message"),
    [
        (5, "'int' object is not an instance of 'str'"),
        (None, "'None' is not an instance of 'str'"),
        (b"2020", "'bytes' object is not an instance of 'str'"),
    ],
)
def test_isoformat_must_return_str(result, message):
    value = named("date", isoformat=lambda self: result)
    with pytest.raises(TypeError) as caught:
        mervanta.dumps(value)
    assert str(caught.value) == message
    assert inner_hook_calls(value) == []


def test_isoformat_lone_surrogate_fails_strictly():
    with pytest.raises(UnicodeEncodeError):
        mervanta.dumps(named("datetime", isoformat=lambda self: "a\ud800"))


def test_class_named_date_without_isoformat_never_reaches_the_hook():
    value = named("date")
    with pytest.raises(AttributeError, match="'date' object has no attribute 'isoformat'"):
        mervanta.dumps(value)
    assert inner_hook_calls(value) == []


class MyDateTime(dt.datetime):
    pass


def test_subclass_with_another_name_is_not_in_the_table():
    value = MyDateTime(2020, 1, 1)
    with pytest.raises(TypeError) as caught:
        mervanta.dumps(value)
    assert str(caught.value) == "Object of type MyDateTime is not JSON serializable"
    assert mervanta.dumps(value, default=lambda o: "hooked") == '"hooked"'


def with_type_name(name_getter):
    meta = type("Meta", (type,), {"__name__": property(name_getter)})
    return meta("Anything", (), {})()


@pytest.mark.parametrize(
    ("getter", "message"),
    [
        (lambda cls: 1 / 0, "Object of type  is not JSON serializable"),
        (lambda cls: 42, "Object of type  is not JSON serializable"),
        (lambda cls: "a\ud800b", "Object of type a\ufffd\ufffd\ufffdb is not JSON serializable"),
        (lambda cls: "Gr\u00fc\u00dfe", "Object of type Gr\u00fc\u00dfe is not JSON serializable"),
    ],
)
def test_type_name_read_for_the_message(getter, message):
    with pytest.raises(TypeError) as caught:
        mervanta.dumps(with_type_name(getter))
    assert str(caught.value) == message


def test_type_name_is_read_from_the_type_not_its_module():
    # A metaclass can name any class "timedelta"; only the name counts.
    meta = type("Meta", (type,), {"__name__": property(lambda cls: "timedelta")})
    value = meta("Other", (), {"days": 3, "seconds": 0, "microseconds": 0})()
    assert mervanta.dumps(value) == '"P3D"'


class Color(enum.Enum):
    RED = 3
    PAIR = (1, "two")
    WHEN = dt.date(2020, 5, 17)
    NESTED = None  # replaced below
    ODD = object()


class Outer(enum.Enum):
    INNER = Color.RED


@pytest.mark.parametrize(
    ("value", "text"),
    [
        (Color.RED, "3"),
        (Color.PAIR, '[1, "two"]'),
        (Color.WHEN, '"2020-05-17"'),
        (Outer.INNER, "3"),
        ([Color.RED, {"c": Outer.INNER}], '[3, {"c": 3}]'),
    ],
)
def test_enum_members_by_value(value, text):
    assert mervanta.dumps(value) == text
    assert mervanta.dumps(value, default=lambda o: pytest.fail("hook called")) == text


def test_enum_member_with_unsupported_value():
    with pytest.raises(TypeError, match="^Object of type object is not JSON serializable$"):
        mervanta.dumps(Color.ODD)
    seen = []
    assert mervanta.dumps(Color.ODD, default=lambda o: seen.append(o) or "x") == '"x"'
    assert seen == [Color.ODD.value]


def test_enum_value_property_failure_is_final():
    class Broken(enum.Enum):
        A = 1

        @property
        def value(self):
            raise LookupError("no value")

    with pytest.raises(LookupError, match="no value"):
        mervanta.dumps(Broken.A)
    assert inner_hook_calls(Broken.A) == []


@dataclasses.dataclass
class Point:
    y: int
    x: int
    tags: list = dataclasses.field(default_factory=list)


@dataclasses.dataclass
class Segment:
    start: Point
    end: Point
    when: dt.date


class Both(enum.Enum):
    A = 5


Both.__dataclass_fields__ = {}  # asdict would give {}


def test_dataclass_instances_through_asdict():
    segment = Segment(Point(2, 1), Point(4, 3, [Color.RED]), dt.date(2021, 1, 1))
    expected = '{"start": {"y": 2, "x": 1, "tags": []}, "end": {"y": 4, "x": 3, "tags": [3]}, "when": "2021-01-01"}'
    assert mervanta.dumps(segment) == expected
    assert mervanta.dumps(Point(2, 1), sort_keys=True) == '{"tags": [], "x": 1, "y": 2}'
    assert mervanta.dumpb(Point(2, 1), pretty=True) == b'{\n  "y": 2,\n  "x": 1,\n  "tags": [\n    \n  ]\n}'


def test_enum_test_comes_before_the_dataclass_test():
    assert mervanta.dumps(Both.A) == "5"


def test_dataclass_type_object_fails_in_asdict():
    with pytest.raises(TypeError, match="^asdict\\(\\) should be called on dataclass instances$"):
        mervanta.dumps(Point)
    assert inner_hook_calls(Point) == []


class RaisingFields:
    @property
    def __dataclass_fields__(self):
        raise RuntimeError("probe")


def test_raising_dataclass_probe_counts_as_no_match():
    assert mervanta.dumps(RaisingFields(), default=lambda o: "hooked") == '"hooked"'
    with pytest.raises(TypeError, match="^Object of type RaisingFields is not JSON serializable$"):
        mervanta.dumps(RaisingFields())


class Opaque:
    def __init__(self, payload):
        self.payload = payload


def test_hook_results_are_encoded_again_with_the_hook():
    seen = []

    def hook(value):
        seen.append(value.payload)
        return value.payload

    value = Opaque({"a": Opaque([1, Opaque(dt.timedelta(hours=1))])})
    assert mervanta.dumps(value, default=hook) == '{"a": [1, "PT1H"]}'
    assert len(seen) == 3


def test_hook_not_called_for_values_written_by_earlier_steps():
    calls = []
    values = [dt.date(2020, 1, 1), dt.timedelta(1), Color.RED, Point(1, 2)]
    assert mervanta.dumps(values, default=calls.append) == mervanta.dumps(values)
    assert calls == []


def test_hook_exception_reaches_the_caller_unchanged():
    def hook(value):
        raise ValueError("refused")

    with pytest.raises(ValueError, match="^refused$"):
        mervanta.dumps([Opaque(1)], default=hook)


def test_no_hook_gives_type_error_naming_the_type():
    for dump in (mervanta.dumps, mervanta.dumpb, mervanta.dump_queryset, mervanta.dump_queryset_bytes):
        with pytest.raises(TypeError) as caught:
            dump({"k": [Opaque(1)]})
        assert str(caught.value) == "Object of type Opaque is not JSON serializable"


def runaway_cases():
    class SelfValued(enum.Enum):
        A = 1

        @property
        def value(self):
            return self

    return [
        lambda: mervanta.dumps(Opaque(1), default=lambda o: o),
        lambda: mervanta.dumps([Opaque(1)], default=lambda o: [o]),
        lambda: mervanta.dumps(Opaque(1), default=lambda o: Opaque(o)),
        lambda: mervanta.dumps(SelfValued.A),
        lambda: mervanta.dump_queryset([SelfValued.A]),
    ]


@pytest.mark.parametrize("case", range(5))
def test_runaway_nesting_ends_in_recursion_error(case):
    with pytest.raises(RecursionError):
        runaway_cases()[case]()


@pytest.mark.parametrize("case", range(5))
def test_runaway_nesting_in_another_thread(case):
    outcome = []

    def run():
        try:
            runaway_cases()[case]()
        except BaseException as error:  # noqa: BLE001 - recorded for the main thread
            outcome.append(type(error))

    thread = threading.Thread(target=run)
    thread.start()
    thread.join()
    assert outcome == [RecursionError]


def run_python(code):
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    return result.stdout


def test_nothing_of_django_imported_for_core_values():
    out = run_python(
        "import sys, mervanta\n"
        "mervanta.dumps({'a': [1, 2.5, 'x', None, True]})\n"
        "mervanta.dump_queryset([{'a': 1}])\n"
        "print(sorted(m for m in sys.modules if m.split('.')[0] in ('django', 'enum_x')))\n"
    )
    assert out == "[]\n"


def test_missing_django_disables_only_the_django_tests():
    pytest.importorskip("django")
    out = run_python(
        "import sys, enum, datetime, mervanta\n"
        "sys.modules['django'] = None  # any import of Django now fails\n"
        "class E(enum.Enum):\n    A = 1\n"
        "print(mervanta.dumps([E.A, datetime.date(2020, 1, 2)]))\n"
        "print(mervanta.dumps(object(), default=lambda o: 'hooked'))\n"
        "try:\n    mervanta.dumps(object())\nexcept TypeError as e:\n    print(e)\n"
        "del sys.modules['django']\n"
        "from django.utils.functional import lazy\n"
        "print(mervanta.dumps(lazy(lambda: 'late', str)()))\n"
    )
    assert out == '[1, "2020-01-02"]\n"hooked"\nObject of type object is not JSON serializable\n"late"\n'


VALUES = [
    [],
    {},
    [{"a": 1, "b": [1.5, None, True]}, {"\u00e9": "\u2603 \U0001f600"}],
    {"nan": float("nan"), "inf": [float("inf"), -float("inf")]},
    (1, 2, {3, 1, 2}, frozenset()),
    b"\x00\xff",
    bytearray(b"abc"),
    dt.datetime(2020, 1, 1, 12, tzinfo=dt.timezone.utc),
    [Color.PAIR, Point(1, 2), dt.timedelta(seconds=-1)],
    "plain \"text\"\n",
    2**64,
    -(2**63),
]


@pytest.mark.parametrize("value", VALUES)
def test_queryset_dumps_match_dumpb(value):
    expected = mervanta.dumpb(value)
    assert mervanta.dump_queryset_bytes(value) == expected
    assert mervanta.dump_queryset(value) == expected.decode()
    assert mervanta.dump_queryset(queryset=value) == expected.decode()


from hypothesis import given  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

scalars = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(),
    st.floats(),
    st.text(),
    st.binary(max_size=20),
    st.dates(),
    st.datetimes(timezones=st.none() | st.timezones()),
    st.times(),
    st.timedeltas(),
    st.decimals(allow_nan=False),
    st.uuids(),
    st.sampled_from(list(Color)[:4]),
)
documents = st.recursive(
    scalars,
    lambda inner: st.lists(inner, max_size=5)
    | st.tuples(inner, inner)
    | st.dictionaries(st.text(max_size=8), inner, max_size=5)
    | st.builds(Point, st.integers(), st.integers(), st.lists(inner, max_size=3)),
    max_leaves=20,
)


@given(documents)
def test_queryset_dumps_equal_dumpb_for_any_value(value):
    expected = mervanta.dumpb(value)
    assert mervanta.dump_queryset_bytes(value) == expected
    assert mervanta.dump_queryset(value) == expected.decode()
