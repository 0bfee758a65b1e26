"""Streams and writers under hostile conditions: `chunk_size` at every
boundary, `fp.write` that misbehaves, and interrupts raised by the Python
code the module calls."""

from __future__ import annotations

import sys

import pytest

import mervanta
from leakcheck import need
from test_reliability_hostile import Opaque, catch, named, raising

# --- chunk_size ------------------------------------------------------------------------------------


class Recorder:
    def __init__(self):
        self.chunks: list[str] = []

    def write(self, text):
        self.chunks.append(text)


class WatchedRows:
    def __init__(self, rows):
        self.rows = rows
        self.started = False

    def __iter__(self):
        self.started = True
        return iter(self.rows)


STREAMS = ["stream_dump_queryset", "stream_dump_queryset_jsonl"]


@pytest.mark.parametrize("name", STREAMS)
@pytest.mark.parametrize("chunk_size", [0, 1, True, 1000, 2**20])
def test_chunk_sizes_that_work(name, chunk_size):
    need(name)
    rows = [{"i": index, "text": "é" * index} for index in range(300)]
    recorder = Recorder()
    getattr(mervanta, name)(rows, recorder, chunk_size)
    expected_rows = [mervanta.dumpb(row).decode() for row in rows]
    if name == "stream_dump_queryset":
        assert "".join(recorder.chunks) == "[" + ",".join(expected_rows) + "]"
    else:
        assert "".join(recorder.chunks) == "".join(row + "\n" for row in expected_rows)
    if type(chunk_size) is int and chunk_size == 0:  # every row is written at once
        assert len(recorder.chunks) >= 300


@pytest.mark.parametrize("name", STREAMS)
@pytest.mark.parametrize(
    "chunk_size,expected_type",
    [(-1, OverflowError), (2**64, OverflowError), (2**100, OverflowError), (None, TypeError), (1.0, TypeError),
     ("1", TypeError)],
)
def test_chunk_sizes_refused_by_the_conversion(name, chunk_size, expected_type):
    need(name)
    rows = WatchedRows([1, 2])
    recorder = Recorder()
    error = catch(lambda: getattr(mervanta, name)(rows, recorder, chunk_size=chunk_size))
    assert type(error) is expected_type
    if sys.version_info >= (3, 11):
        assert error.__notes__ == ["while processing 'chunk_size'"]
    assert not rows.started and recorder.chunks == []


@pytest.mark.parametrize("name", STREAMS)
@pytest.mark.parametrize("chunk_size", [2**40, 2**55, 2**56, 2**57, 2**58, 2**63, 2**64 - 1])
def test_chunk_sizes_too_large_to_allocate(name, chunk_size):
    need(name)
    rows = WatchedRows([1, 2])
    recorder = Recorder()
    error = catch(lambda: getattr(mervanta, name)(rows, recorder, chunk_size))
    assert isinstance(error, (OverflowError, MemoryError)), repr(error)
    assert not rows.started
    assert recorder.chunks == []
    assert mervanta.dumps([1]) == "[1]"


def test_index_of_chunk_size_that_raises():
    need("stream_dump_queryset")
    error = catch(lambda: mervanta.stream_dump_queryset([1], Recorder(), named("C", __index__=raising(KeyError("i")))))
    assert type(error) is KeyError


@pytest.mark.parametrize("name", STREAMS)
def test_threshold_is_exceeded_only_by_more_than_chunk_size_times_128(name):
    need(name)
    # A string row of n characters takes n + 3 bytes with the newline of
    # JSON Lines, or with the "[" before the first row of the array.
    exact, over = "x" * 125, "x" * 126
    recorder = Recorder()
    getattr(mervanta, name)([exact], recorder, 1)
    assert len(recorder.chunks) == 1  # only the final write
    recorder = Recorder()
    getattr(mervanta, name)([over, "y"], recorder, 1)
    assert len(recorder.chunks) == 2 and len(recorder.chunks[0]) == 129


# --- fp.write that misbehaves -------------------------------------------------------------------


def test_write_that_mutates_the_rows_being_streamed():
    need("stream_dump_queryset")
    rows = [1, 2, 3]

    class Meddler:
        def __init__(self):
            self.chunks = []

        def write(self, text):
            self.chunks.append(text)
            if len(rows) < 6:
                rows.append(len(rows) + 1)

    meddler = Meddler()
    mervanta.stream_dump_queryset(rows, meddler, chunk_size=0)
    assert "".join(meddler.chunks) == "[1,2,3,4,5,6]"


def test_write_that_calls_the_module_again():
    need("stream_dump_queryset_jsonl")
    nested: list[str] = []

    class Writer:
        def write(self, text):
            nested.append(mervanta.dumps(text))

    mervanta.stream_dump_queryset_jsonl([{"a": 1}, [2]], Writer(), 0)
    assert nested == ['"{\\"a\\": 1}\\n"', '"[2]\\n"']


def test_dump_write_attribute_that_raises_on_lookup():
    class Writer:
        @property
        def write(self):
            raise PermissionError("read-only")

    error = catch(lambda: mervanta.dump([1], Writer()))
    assert type(error) is PermissionError and str(error) == "read-only"


# --- exceptions that are not errors pass through untouched -----------------------------------------


@pytest.mark.parametrize("exception", [KeyboardInterrupt, SystemExit, GeneratorExit])
def test_interrupt_in_the_default_hook_is_not_retried(exception):
    calls = []

    def hook(value):
        calls.append(value)
        raise exception("stop")

    error = catch(lambda: mervanta.dumps({"a": [Opaque()]}, default=hook))
    assert type(error) is exception and str(error) == "stop"
    assert len(calls) == 1


@pytest.mark.parametrize("exception", [KeyboardInterrupt, SystemExit])
def test_interrupts_from_python_code_pass_through(exception):
    need("loads", "load", "stream_dump_queryset")

    def raise_it(*args):
        raise exception("stop")

    reader = type("Reader", (), {"read": raise_it})()
    writer = type("Writer", (), {"write": raise_it})()

    def rows():
        yield 1
        raise_it()

    for call in (lambda: mervanta.loads('[{"a": 1}]', object_hook=raise_it),
                 lambda: mervanta.loads("[1.5]", parse_float=raise_it),
                 lambda: mervanta.load(reader),
                 lambda: mervanta.dump([1], writer),
                 lambda: mervanta.stream_dump_queryset(rows(), Recorder())):
        error = catch(call)
        assert type(error) is exception and str(error) == "stop"
