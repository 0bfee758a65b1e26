"""Threads: every function called from many threads at once on shared
inputs, with hooks and writers that let other threads run, gives the results
of a single thread; the process-wide caches fill exactly once."""

from __future__ import annotations

import dataclasses
import datetime
import decimal
import enum
import io
import os
import subprocess
import sys
import threading
import time
import uuid

import pytest

import mervanta
from leakcheck import ALL_FUNCTIONS, implemented

THREADS = 8
ITERATIONS = 25


class Tag(enum.Enum):
    A = "a"


@dataclasses.dataclass
class Pair:
    left: int
    right: str


class Opaque:
    def __init__(self, index):
        self.index = index


def sleepy_default(value):
    time.sleep(0)  # gives up the interpreter lock
    if isinstance(value, Opaque):
        return {"opaque": value.index}
    return str(value)


def sleepy_object_hook(value):
    time.sleep(0)
    return sorted(value.items())


def sleepy_parse_int(text):
    time.sleep(0)
    return int(text) * 2


class IOWriter:
    """Writes every chunk to the null device as well: real I/O releases the lock."""

    def __init__(self, null_fd):
        self.null_fd = null_fd
        self.parts: list[str] = []

    def write(self, text):
        os.write(self.null_fd, text.encode("utf-8", "surrogatepass"))
        time.sleep(0)
        self.parts.append(text)
        return len(text)

    def text(self):
        return "".join(self.parts)


def sleepy_rows(rows):
    for row in rows:
        time.sleep(0)
        yield row


DOCUMENT = {
    "ints": list(range(-50, 50)) + [2**63 - 1, -(2**63), 2**64 - 1],
    "floats": [index / 7 for index in range(60)] + [1e16, 5e-324, float("nan")],
    "text": ["é☃😀\u2028", "tab\tquote\"", "x" * 300],
    "nested": [{"k%d" % index: [index, {"inner": (index, None, True)}]} for index in range(40)],
    "set": {5, 3, 11, 1},
    "bytes": b"\x00\x01binary\xff",
    "decimal": decimal.Decimal("3.14"),
    "uuid": uuid.UUID(int=12345),
    "opaque": [Opaque(index) for index in range(20)],
    "extended": [datetime.date(2024, 1, 2), datetime.timedelta(hours=5), Tag.A, Pair(1, "x")],
}

ROWS = [{"id": index, "name": "row é %d" % index, "values": [index, index / 2]} for index in range(120)]

# The decoder reads no NaN, so the document for the load functions leaves it out.
TEXT = mervanta.dumps({"ints": DOCUMENT["ints"], "floats": DOCUMENT["floats"][:-1], "text": DOCUMENT["text"],
                       "nested": DOCUMENT["nested"], "set": DOCUMENT["set"], "bytes": DOCUMENT["bytes"]})
TEXT_BYTES = TEXT.encode()
TEXT_BYTEARRAY = bytearray(TEXT_BYTES)


def workload(null_fd):
    """Name -> zero-argument call, each returning a comparable result."""

    def dump_to_writer(function, *args, **kwargs):
        writer = IOWriter(null_fd)
        function(*args, writer, **kwargs)
        return writer.text()

    return {
        "dumps": lambda: mervanta.dumps(DOCUMENT, default=sleepy_default, sort_keys=True, indent=2),
        "dump": lambda: dump_to_writer(lambda w, **k: mervanta.dump(DOCUMENT, w, **k), default=sleepy_default),
        "dumpb": lambda: mervanta.dumpb([DOCUMENT["nested"], DOCUMENT["text"], DOCUMENT["set"]], pretty=True),
        "dump_queryset": lambda: mervanta.dump_queryset(ROWS),
        "dump_queryset_bytes": lambda: mervanta.dump_queryset_bytes([ROWS, DOCUMENT["nested"]]),
        "stream_dump_queryset": lambda: dump_to_writer(mervanta.stream_dump_queryset, sleepy_rows(ROWS),
                                                       chunk_size=1),
        "stream_dump_queryset_jsonl": lambda: dump_to_writer(mervanta.stream_dump_queryset_jsonl,
                                                             sleepy_rows(ROWS), chunk_size=0),
        "loads": lambda: (mervanta.loads(TEXT, object_hook=sleepy_object_hook),
                          mervanta.loads(TEXT_BYTEARRAY, parse_int=sleepy_parse_int)),
        "load": lambda: mervanta.load(io.StringIO(TEXT), object_pairs_hook=tuple),
        "deserialize_direct_fn": lambda: mervanta.deserialize_direct_fn(TEXT + "tail", parse_int=sleepy_parse_int),
        "deserialize_strict_fn": lambda: mervanta.deserialize_strict_fn(TEXT, object_hook=sleepy_object_hook),
    }


def comparable(value):
    """NaN compares unequal to itself; compare texts of decoded values instead."""
    if isinstance(value, (str, bytes)):
        return value
    return repr(value)


@pytest.fixture
def null_fd():
    fd = os.open(os.devnull, os.O_WRONLY)
    yield fd
    os.close(fd)


@pytest.fixture
def busy_switching():
    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(previous)


def test_every_function_from_many_threads_at_once(null_fd, busy_switching):
    calls = {name: call for name, call in workload(null_fd).items() if implemented(name)}
    expected = {name: comparable(call()) for name, call in calls.items()}
    names = list(calls)
    barrier = threading.Barrier(THREADS)
    mismatches: list[str] = []
    errors: list[BaseException] = []

    def worker(offset):
        try:
            barrier.wait()
            for iteration in range(ITERATIONS):
                # Each thread walks the functions in its own order, so that
                # different functions overlap.
                for step in range(len(names)):
                    name = names[(offset + iteration + step) % len(names)]
                    result = comparable(calls[name]())
                    if result != expected[name]:
                        mismatches.append(f"{name} in thread {offset}, iteration {iteration}")
        except BaseException as error:  # a PanicException would otherwise vanish with the thread
            errors.append(error)

    threads = [threading.Thread(target=worker, args=(index,)) for index in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=120)
    assert not any(thread.is_alive() for thread in threads), "a thread hangs"
    assert errors == []
    assert mismatches == []
    assert len(names) >= 3


def test_failures_on_many_threads_keep_their_own_messages(busy_switching):
    def fail_with(index):
        def hook(value):
            time.sleep(0)
            raise ValueError(f"hook {index}")

        return hook

    outcomes: dict[int, str] = {}
    barrier = threading.Barrier(THREADS)

    def worker(index):
        barrier.wait()
        for _ in range(ITERATIONS):
            try:
                mervanta.dumps([1, Opaque(index)], default=fail_with(index))
            except ValueError as error:
                outcomes.setdefault(index, str(error))
                if str(error) != f"hook {index}":
                    outcomes[index] = "crossed: " + str(error)
            try:
                mervanta.dumps({"k": [index]}, sort_keys=None)
            except TypeError as error:
                assert str(error) == "'None' is not an instance of 'bool'"

    threads = [threading.Thread(target=worker, args=(index,)) for index in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=60)
    assert outcomes == {index: f"hook {index}" for index in range(THREADS)}


# --- the caches fill once ------------------------------------------------------------------------

CACHE_CHILD = r"""
import faulthandler, sys, threading, time, types
faulthandler.dump_traceback_later(60, exit=True)
import operator as real_operator
import mervanta

lookups = []

class SlowOperator(types.ModuleType):
    @property
    def length_hint(self):
        lookups.append(threading.get_ident())
        time.sleep(0.2)  # lets every other thread reach the empty cell meanwhile
        return real_operator.length_hint

sys.modules["operator"] = SlowOperator("operator")

class Tags(set):
    pass

THREADS = 16
barrier = threading.Barrier(THREADS)
results, panics = [], []

class Unprintable:
    def __str__(self):
        time.sleep(0.01)
        raise KeyError("no text")

def worker():
    barrier.wait()
    results.append(mervanta.dumps(Tags({3, 1, 2})))
    try:
        mervanta.dumps({Unprintable(), Unprintable()})
    except BaseException as error:
        panics.append(type(error))

threads = [threading.Thread(target=worker) for _ in range(THREADS)]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
print("lookups", len(lookups))
print("results", sorted(set(results)), len(results))
print("panic classes", len(set(map(id, panics))), len(panics), panics[0].__name__)
"""


def test_caches_fill_once_without_deadlock():
    result = subprocess.run([sys.executable, "-c", CACHE_CHILD], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr[-3000:]
    assert result.stdout.splitlines() == [
        "lookups 1",
        "results ['[1, 2, 3]'] 16",
        "panic classes 1 16 PanicException",
    ]


FORK_CHILD = r"""
import os, signal, sys, threading, time, types
import operator as real_operator
import mervanta

class SlowOperator(types.ModuleType):
    @property
    def length_hint(self):
        time.sleep(0.5)  # the filling thread holds the cell's once-lock, not the interpreter lock
        return real_operator.length_hint

sys.modules["operator"] = SlowOperator("operator")

class Tags(set):
    pass

filler = threading.Thread(target=lambda: mervanta.dumps(Tags({1, 2})))
filler.start()
time.sleep(0.1)
pid = os.fork()
if pid == 0:
    signal.alarm(10)
    print("child", mervanta.dumps(Tags({3})), flush=True)
    os._exit(0)
filler.join()
print("parent", os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]), flush=True)
"""


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_fork_while_a_cache_is_being_filled():
    # The child has only the forking thread: a once-lock held by the filling
    # thread must not make the child's first use of the cell wait forever.
    result = subprocess.run([sys.executable, "-W", "ignore", "-c", FORK_CHILD], capture_output=True, text=True,
                            timeout=60)
    assert result.stdout.splitlines() == ["child [3]", "parent 0"], result.stderr[-2000:]


def test_all_functions_are_covered():
    # The workload names every exported function; a new one needs a line there.
    assert set(workload(0)) == set(ALL_FUNCTIONS) == set(mervanta.__all__) - {"__version__"}
