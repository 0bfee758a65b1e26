"""Dates, times, datetimes and UUIDs of the exact standard classes are written
natively; the text, the exceptions and the calls made into Python code must
be those of isoformat() and str()."""

import datetime as dt
import json
import random
import subprocess
import sys
import uuid

import pytest

import mervanta

zoneinfo = pytest.importorskip("zoneinfo")

TD = dt.timedelta
OFFSETS = [
    TD(0),
    TD(hours=5, minutes=30),
    TD(hours=-8),
    TD(minutes=-1),
    TD(seconds=1),
    TD(seconds=-1),
    TD(microseconds=1),
    TD(microseconds=-1),
    TD(hours=23, minutes=59, seconds=59, microseconds=999999),
    -TD(hours=23, minutes=59, seconds=59, microseconds=999999),
    TD(hours=-3, seconds=-7, microseconds=-250),
    TD(minutes=45, microseconds=10),
]


def expected(values, ensure_ascii=True):
    texts = [v.isoformat() if hasattr(v, "isoformat") else str(v) for v in values]
    return json.dumps(texts, ensure_ascii=ensure_ascii)


def assert_written_like_slow_path(values):
    for ensure_ascii in (True, False):
        assert mervanta.dumps(values, ensure_ascii=ensure_ascii) == expected(values, ensure_ascii)
    assert mervanta.dumpb(values) == expected(values, ensure_ascii=False).encode()


def random_values(seed, count=300):
    rng = random.Random(seed)
    values = []
    for _ in range(count):
        moment = dt.datetime.min + TD(seconds=rng.randrange(315537897600), microseconds=rng.choice([0, rng.randrange(10**6)]))
        moment = moment.replace(fold=rng.randrange(2))
        zone = rng.choice([None, dt.timezone.utc, dt.timezone(rng.choice(OFFSETS)), dt.timezone(TD(hours=2), "CEST")])
        values += [moment, moment.date(), moment.time(), moment.replace(tzinfo=zone), moment.timetz().replace(tzinfo=zone)]
        values.append(uuid.UUID(int=rng.getrandbits(rng.choice([128, 64, 8]))))
    return values


@pytest.mark.parametrize("seed", range(4))
def test_random_values(seed):
    assert_written_like_slow_path(random_values(seed))


@pytest.mark.parametrize(
    "value",
    [
        dt.date.min,
        dt.date.max,
        dt.date(999, 12, 31),
        dt.date(5, 1, 2),
        dt.datetime.min,
        dt.datetime.max,
        dt.datetime(12, 3, 4, 5, 6, 7, 80),
        dt.time(),
        dt.time.max,
        dt.time(0, 0, 0, 1),
        dt.time(23, 0, 0, 100000),
        dt.time(1, 2, 3, fold=1),
        dt.datetime(2024, 2, 29, 12, fold=1),
        uuid.UUID(int=0),
        uuid.UUID(int=2**128 - 1),
        uuid.UUID("12345678-90ab-cdef-0123-456789abcdef"),
    ],
)
def test_edge_values(value):
    assert_written_like_slow_path([value])


@pytest.mark.parametrize("offset", OFFSETS)
@pytest.mark.parametrize("make", [lambda z: dt.datetime(1, 1, 2, tzinfo=z), lambda z: dt.time(12, 30, 5, 7, tzinfo=z)])
def test_timezone_offsets(offset, make):
    assert_written_like_slow_path([make(dt.timezone(offset))])


@pytest.mark.parametrize("fold", [0, 1])
@pytest.mark.parametrize(
    ("zone", "moment"),
    [
        ("America/New_York", dt.datetime(2024, 11, 3, 1, 30)),  # repeated hour
        ("America/New_York", dt.datetime(2024, 3, 10, 2, 30)),  # skipped hour
        ("Europe/Dublin", dt.datetime(2023, 10, 29, 1, 15, 0, 5)),
        ("Asia/Kolkata", dt.datetime(1941, 10, 1)),  # +05:53:20 local mean time era
        ("Europe/Amsterdam", dt.datetime(1937, 6, 1)),  # +00:19:32
    ],
)
def test_zoneinfo(zone, moment, fold):
    try:
        tz = zoneinfo.ZoneInfo(zone)
    except zoneinfo.ZoneInfoNotFoundError:
        pytest.skip("no time zone data")
    value = moment.replace(tzinfo=tz, fold=fold)
    assert_written_like_slow_path([value, dt.time(1, 2, tzinfo=tz)])


class CountingZone(dt.tzinfo):
    def __init__(self, offset):
        self.offset = offset
        self.calls = []

    def utcoffset(self, value):
        self.calls.append(value)
        return self.offset

    def dst(self, value):
        return None


@pytest.mark.parametrize("offset", [None, TD(hours=1, seconds=1), TD(microseconds=-5)])
def test_utcoffset_called_once_with_the_value(offset):
    zone = CountingZone(offset)
    moment = dt.datetime(2020, 5, 17, 4, 5, 6, tzinfo=zone, fold=1)
    clock = dt.time(4, 5, 6, tzinfo=zone)
    text = mervanta.dumps([moment, clock])
    assert zone.calls == [moment, None]
    assert zone.calls[0].fold == 1
    assert text == expected([moment, clock])
    assert len(zone.calls) == 4  # expected() called isoformat once per value


class RaisingZone(dt.tzinfo):
    def __init__(self, result):
        self.result = result

    def utcoffset(self, value):
        if isinstance(self.result, BaseException):
            raise self.result
        return self.result


class DeltaSubclass(dt.timedelta):
    @property
    def days(self):
        raise AssertionError("isoformat reads the fields directly")


@pytest.mark.parametrize(
    "result",
    [
        ZeroDivisionError("boom"),
        KeyError("zone"),
        3600,
        "01:00",
        TD(days=1),
        TD(hours=-24),
        TD(hours=24, microseconds=-1) * 2,
    ],
)
@pytest.mark.parametrize("make", [lambda z: dt.datetime(2020, 1, 1, tzinfo=z), lambda z: dt.time(1, tzinfo=z)])
def test_bad_utcoffset_raises_like_isoformat(result, make):
    value = make(RaisingZone(result))
    with pytest.raises(BaseException) as slow:
        value.isoformat()
    with pytest.raises(BaseException) as fast:
        mervanta.dumps([value])
    assert type(fast.value) is type(slow.value)
    assert str(fast.value) == str(slow.value)
    if isinstance(result, BaseException):
        assert fast.value is result


@pytest.mark.parametrize("offset", [TD(hours=-2, microseconds=3), TD(minutes=90)])
@pytest.mark.parametrize("zone", [RaisingZone, dt.timezone])
def test_timedelta_subclass_offset_read_like_isoformat(offset, zone):
    tz = zone(DeltaSubclass(seconds=offset.total_seconds()))
    values = [dt.datetime(2020, 1, 1, tzinfo=tz), dt.time(3, tzinfo=tz)]
    assert mervanta.dumps(values) == expected(values)


class date(dt.date):  # noqa: N801 - the type name chooses the branch
    def isoformat(self):
        return "own date"


class datetime(dt.datetime):  # noqa: N801
    pass


class time:  # noqa: N801 - a look-alike, not a subclass
    def isoformat(self):
        return "look-alike time"


class UUID(uuid.UUID):
    def __str__(self):
        return "own uuid"


PlainUUID = type("UUID", (uuid.UUID,), {})
PlainDate = type("date", (dt.date,), {})


def test_subclasses_and_look_alikes_keep_their_own_methods():
    plain = PlainUUID(int=5)
    values = [date(2020, 1, 2), datetime(2020, 1, 2, 3, tzinfo=CountingZone(TD(hours=1))), time(), UUID(int=1), plain]
    assert mervanta.dumps(values) == json.dumps(["own date", "2020-01-02T03:00:00+01:00", "look-alike time", "own uuid", str(plain)])


def test_patched_uuid_str_is_called(monkeypatch):
    value = uuid.UUID(int=7)
    monkeypatch.setattr(uuid.UUID, "__str__", lambda self: "patched")
    assert mervanta.dumps([value]) == '["patched"]'
    monkeypatch.undo()
    assert mervanta.dumps([value]) == json.dumps([str(value)])


def test_patched_uuid_int_is_read(monkeypatch):
    value = uuid.UUID(int=7)
    monkeypatch.setattr(uuid.UUID, "int", property(lambda self: 255))
    assert mervanta.dumps(value) == json.dumps(str(value))
    assert str(value).endswith("ff")


@pytest.mark.parametrize("number", [-1, 2**128, 2**200, True, "abc", 12.5])
def test_uuid_with_odd_int_goes_through_str(number):
    value = uuid.UUID(int=0)
    object.__setattr__(value, "int", number)
    try:
        text = json.dumps(str(value))
    except Exception as error:
        with pytest.raises(type(error), match=None) as raised:
            mervanta.dumps(value)
        assert str(raised.value) == str(error)
    else:
        assert mervanta.dumps(value) == text


def test_uuid_without_int_raises_like_str():
    value = uuid.UUID.__new__(uuid.UUID)
    with pytest.raises(AttributeError) as slow:
        str(value)
    with pytest.raises(AttributeError) as fast:
        mervanta.dumps(value)
    assert str(fast.value) == str(slow.value)


def nested_error(value, depth):
    nested = value
    for _ in range(depth):
        nested = [nested]
    try:
        mervanta.dumps(nested)
    except RecursionError as error:
        return str(error)
    return None


def deepest_writable(value):
    """The deepest list nesting at which value can still be written, and the
    message one level deeper."""
    low, high = 0, 1
    while nested_error(value, high) is None:
        low, high = high, high * 2
    while high - low > 1:
        middle = (low + high) // 2
        if nested_error(value, middle) is None:
            low = middle
        else:
            high = middle
    return low, nested_error(value, high)


@pytest.mark.parametrize(
    ("exact", "slow_value"),
    [
        (dt.date(2020, 1, 1), PlainDate(2020, 1, 1)),
        (dt.datetime(2020, 1, 1), datetime(2020, 1, 1)),
        (dt.datetime(2020, 1, 1, tzinfo=dt.timezone.utc), datetime(2020, 1, 1, tzinfo=dt.timezone.utc)),
        (dt.time(1, tzinfo=CountingZone(TD(hours=1))), type("time", (dt.time,), {})(1, tzinfo=CountingZone(TD(hours=1)))),
        (uuid.UUID(int=3), PlainUUID(int=3)),
    ],
)
def test_recursion_limit_reached_at_the_same_depth(exact, slow_value):
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(200)
    try:
        assert deepest_writable(exact) == deepest_writable(slow_value)
    finally:
        sys.setrecursionlimit(limit)


def test_modules_not_imported_for_other_values():
    code = (
        "import sys, mervanta\n"
        "class date: isoformat = lambda self: 'd'\n"
        "class UUID: __str__ = lambda self: 'u'\n"
        "print(mervanta.dumps([1, 'a', None, date(), UUID()]))\n"
        "print('datetime' in sys.modules, 'uuid' in sys.modules)\n"
        "sys.modules['datetime'] = sys.modules['uuid'] = None\n"
        "print(mervanta.dumps([date(), UUID()]))\n"
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert result.stdout.split("\n")[:3] == ['[1, "a", null, "d", "u"]', "False False", '["d", "u"]']


def test_uuid_str_patched_before_first_use():
    code = (
        "import functools, uuid, mervanta\n"
        "original = uuid.UUID.__str__\n"
        "uuid.UUID.__str__ = functools.wraps(original)(lambda self: original(self).upper())\n"
        "print(mervanta.dumps(uuid.UUID(int=255)))\n"
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert result.stdout == '"00000000-0000-0000-0000-0000000000FF"\n'
