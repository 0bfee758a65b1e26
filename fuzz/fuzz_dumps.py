"""Fuzzes the encoder with random object trees.

    python fuzz/fuzz_dumps.py [libFuzzer options] [corpus directories]

The fuzzer's bytes drive a FuzzedDataProvider that builds a tree of values
(non-ASCII and lone-surrogate strings, huge and negative integers, NaN and
infinities, nested containers, sets, dates, Enum members, dataclasses, byte
strings, unknown objects) and picks keywords. Properties checked:
- errors are only TypeError, ValueError, RecursionError or UnicodeEncodeError,
  never PanicException (no input here mutates a dict while it is written);
- a tree of plain JSON values (and of values with an obvious JSON form) is
  never refused, and its text is exactly the reference layout;
- every successful output is JSON that the standard library reads back, to
  an equal value for plain trees;
- dumpb, dump, dump_queryset(_bytes) and the two streams agree with dumps.
"""

from __future__ import annotations

import dataclasses
import datetime
import decimal
import enum
import fractions
import io
import sys
import uuid

import atheris

from common import (Unexpected, implemented, is_panic, mervanta, outcome, pure_python_json, reference_dumps, strictly_equal,
                    with_corpus)

# The instrumented decoder reads every output back, so the fuzzer's coverage
# follows the shape of the JSON text as well as the choices of the builder.
json = pure_python_json()

ENCODE_ERRORS = (TypeError, ValueError, RecursionError, UnicodeEncodeError)


class Colour(enum.Enum):
    RED = 1
    PAIR = (2, "two")
    DATE = datetime.date(2000, 1, 1)


class Level(enum.IntEnum):
    LOW = -5


@dataclasses.dataclass
class Record:
    name: str
    values: list


class Unknown:
    def __init__(self, tag):
        self.tag = tag


class Fickle:
    """Its str() changes on every call, so the set sort sees an inconsistent order."""

    calls = 0

    def __init__(self, tag):
        self.tag = tag

    def __str__(self):
        Fickle.calls += 1
        return str(Fickle.calls * 31 % 17)

    def __hash__(self):
        return hash(self.tag)


class Text(str):
    pass


class Mapping(dict):
    pass


class Tags(set):
    pass


class Plainness:
    """Tracks whether the tree built so far is plain JSON (dumps gives the
    reference text and json reads it back equal) and whether it can fail."""

    def __init__(self):
        self.plain = True
        self.non_finite = False
        self.surrogates = False
        self.unknown = False
        self.non_str_keys = False
        self.fickle = False  # set order differs from one call to the next


@atheris.instrument_func
def build(fdp: atheris.FuzzedDataProvider, depth: int, notes: Plainness):
    kind = fdp.ConsumeIntInRange(0, 25 if depth < 6 else 9)
    if kind == 0:
        return None
    if kind == 1:
        return fdp.ConsumeBool()
    if kind == 2:
        return fdp.ConsumeIntInRange(-(2**63), 2**64 - 1)
    if kind == 3:
        return fdp.ConsumeInt(fdp.ConsumeIntInRange(1, 40))  # far beyond 64 bits: written exactly
    if kind == 4:
        value = fdp.ConsumeFloat()
        notes.non_finite |= value != value or value in (float("inf"), float("-inf"))
        return value
    if kind == 5:
        return fdp.ConsumeUnicodeNoSurrogates(fdp.ConsumeIntInRange(0, 24))
    if kind == 6:
        value = fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 12))
        notes.surrogates |= any(0xD800 <= ord(c) <= 0xDFFF for c in value)
        return value
    if kind == 7:
        notes.plain = False
        return fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 20))
    if kind == 8:
        notes.plain = False
        return fdp.PickValueInList([decimal.Decimal("1.10"), decimal.Decimal("NaN"), uuid.UUID(int=99),
                                    fractions.Fraction(1, 3), Level.LOW, Text("é"), bytearray(b"ab")])
    if kind == 9:
        notes.plain = False
        notes.unknown |= not EXTENDED_READY
        return fdp.PickValueInList([datetime.date(2024, 2, 29), datetime.time(23, 59, 59, 999999),
                                    datetime.datetime(1, 1, 1, tzinfo=datetime.timezone.utc),
                                    datetime.timedelta(days=-1, microseconds=1), Colour.RED, Colour.PAIR,
                                    Colour.DATE, Record("r", [1, 2])])
    if kind == 10:
        notes.plain = False
        notes.unknown = True
        return Unknown(fdp.ConsumeIntInRange(0, 9))
    count = fdp.ConsumeIntInRange(0, 6)
    if kind <= 15:
        return [build(fdp, depth + 1, notes) for _ in range(count)]
    if kind <= 18:
        items = {}
        for _ in range(count):
            if fdp.ConsumeIntInRange(0, 15) == 0:
                key = fdp.PickValueInList([1, 2.5, None, True, ("t",)])
                notes.non_str_keys = True
            else:
                key = fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 6))
                notes.surrogates |= any(0xD800 <= ord(c) <= 0xDFFF for c in key)
            items[key] = build(fdp, depth + 1, notes)
        return items
    notes.plain = False
    if kind <= 20:
        return tuple(build(fdp, depth + 1, notes) for _ in range(count))
    if kind == 21:
        return Mapping({str(index): build(fdp, depth + 1, notes) for index in range(count)})
    scalars = [fdp.PickValueInList([0, -1, 10, 9, "a", "B", "é", 2**70, 1.5, None, True, b"x", Colour.RED,
                                    Fickle(index)]) for index in range(count)]
    notes.unknown |= Colour.RED in scalars and not EXTENDED_READY
    notes.fickle |= any(isinstance(item, Fickle) for item in scalars)
    notes.unknown |= notes.fickle
    factory = fdp.PickValueInList([set, frozenset, Tags])
    return factory(scalars)


@atheris.instrument_func
def default_hook(fdp: atheris.FuzzedDataProvider):
    choice = fdp.ConsumeIntInRange(0, 3)
    if choice == 0:
        return None
    if choice == 1:
        return lambda value: f"<{type(value).__name__}>"
    if choice == 2:
        return lambda value: {"tag": getattr(value, "tag", None)}
    return lambda value: [value]  # runaway: ends in RecursionError


@atheris.instrument_func
def keywords(fdp: atheris.FuzzedDataProvider) -> dict:
    chosen = {}
    if fdp.ConsumeBool():
        chosen["indent"] = fdp.PickValueInList([None, 0, 1, 2, 4, 255, -1, 256, "\t", True])
    if fdp.ConsumeBool():
        chosen["separators"] = fdp.PickValueInList([None, (",", ":"), (", ", ": "), (" ,\n", "\t: ")])
    for flag in ("sort_keys", "ensure_ascii", "allow_nan"):
        if fdp.ConsumeBool():
            chosen[flag] = fdp.ConsumeBool()
    if fdp.ConsumeBool():
        chosen["skipkeys"] = fdp.ConsumeBool()
        chosen["check_circular"] = fdp.ConsumeBool()
    return chosen


def reference_keywords(chosen: dict) -> dict:
    indent = chosen.get("indent")
    if isinstance(indent, bool):
        indent = int(indent)
    elif not (isinstance(indent, int) and 0 <= indent <= 255):
        indent = None
    return {"indent": indent, "separators": chosen.get("separators"), "sort_keys": chosen.get("sort_keys", False),
            "ensure_ascii": chosen.get("ensure_ascii", True)}


# Before the framework-aware encoder exists, dates reach the default hook.
EXTENDED_READY = mervanta.dumps(datetime.date(2000, 1, 1), default=lambda value: 0) != "0"
STREAMS_READY = implemented(lambda: mervanta.stream_dump_queryset([], io.StringIO()))
QUERYSET_READY = implemented(lambda: mervanta.dump_queryset([]))


class Collector:
    def __init__(self):
        self.parts = []

    def write(self, text):
        self.parts.append(text)


@atheris.instrument_func
def check_streams(rows: list, compact: list) -> None:
    for name, joined in (("stream_dump_queryset", "[" + ",".join(compact) + "]"),
                         ("stream_dump_queryset_jsonl", "".join(row + "\n" for row in compact))):
        for chunk_size in (0, 1, 1000):
            collector = Collector()
            ok, error = outcome(lambda: getattr(mervanta, name)(rows, collector, chunk_size), ENCODE_ERRORS, name)
            if not ok or "".join(collector.parts) != joined:
                raise Unexpected(f"{name} with chunk_size {chunk_size}: {error!r} {collector.parts!r} != {joined!r}")


DICT_GUARDS = ("dictionary changed size during iteration", "dictionary keys changed during iteration")


def check_dict_mutation(value: dict, chosen: dict) -> None:
    """A hook that adds a member to the top-level dict: the one place where a
    PanicException is specified, and only with the guards' messages."""
    grown = []

    def hook(unknown):
        if not grown:
            grown.append(1)
            value[f"added {len(value)}"] = None
        return None

    keywords = dict(chosen, default=hook)
    try:
        mervanta.dumps(value, **keywords)
    except BaseException as error:  # noqa: B036
        if is_panic(error):
            if str(error) not in DICT_GUARDS or keywords.get("sort_keys"):
                raise Unexpected(f"unexpected PanicException: {error}") from error
        elif not isinstance(error, ENCODE_ERRORS):
            raise Unexpected(f"dict mutation: {type(error).__name__}: {error}") from error


@atheris.instrument_func
def TestOneInput(data: bytes) -> None:
    fdp = atheris.FuzzedDataProvider(data)
    notes = Plainness()
    value = build(fdp, 0, notes)
    chosen = keywords(fdp)
    hook = default_hook(fdp)
    if hook is not None:
        chosen["default"] = hook

    ok, result = outcome(lambda: mervanta.dumps(value, **chosen), ENCODE_ERRORS, "dumps")
    # A clean tree is one that dumps must write without help of the hook.
    clean = not (notes.surrogates or notes.unknown or notes.non_str_keys
                 or (notes.non_finite and chosen.get("allow_nan") is False))
    if ok:
        decoded = json.loads(result)
        if notes.plain and clean and not notes.non_finite and not strictly_equal(decoded, value):
            raise Unexpected(f"json reads {decoded!r} back for {value!r}")
    elif clean and hook is None:
        raise Unexpected(f"dumps refused a clean tree: {result!r}")
    if notes.plain and clean and (not ok or result != reference_dumps(value, **reference_keywords(chosen))):
        raise Unexpected(f"dumps gave {result!r}, not the reference layout")

    if notes.fickle:
        return  # the other functions would write the sets in another order
    if isinstance(value, dict) and notes.unknown:
        check_dict_mutation(value, chosen)
        return  # the value has changed

    writer = io.StringIO()
    dumped = outcome(lambda: mervanta.dump(value, writer, **chosen), ENCODE_ERRORS, "dump")
    if dumped[0] != ok or (ok and writer.getvalue() != result) or (not ok and type(dumped[1]) is not type(result)):
        raise Unexpected("dump disagrees with dumps")

    pretty = fdp.ConsumeBool()
    binary = outcome(lambda: mervanta.dumpb(value, pretty=pretty), ENCODE_ERRORS, "dumpb")
    plain_text = outcome(lambda: mervanta.dumps(value, ensure_ascii=False, indent=2 if pretty else None),
                         ENCODE_ERRORS, "dumps for dumpb")
    if binary[0] != plain_text[0] or (binary[0] and binary[1] != plain_text[1].encode()):
        raise Unexpected(f"dumpb {binary!r} != dumps {plain_text!r}")
    if binary[0]:
        json.loads(binary[1])

    if QUERYSET_READY and not pretty:
        for function, convert in ((mervanta.dump_queryset, str.encode), (mervanta.dump_queryset_bytes, bytes)):
            queried = outcome(lambda: function(value), ENCODE_ERRORS, function.__name__)
            if queried[0] != binary[0] or (queried[0] and convert(queried[1]) != binary[1]):
                raise Unexpected(f"{function.__name__} {queried!r} != dumpb {binary!r}")

    if STREAMS_READY and isinstance(value, list) and not pretty:
        compact = []
        for row in value:
            row_ok, row_text = outcome(lambda: mervanta.dumpb(row), ENCODE_ERRORS, "dumpb row")
            if not row_ok:
                return
            compact.append(row_text.decode())
        check_streams(value, compact)


def main() -> None:
    atheris.Setup(with_corpus(sys.argv, "dumps"), TestOneInput)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
