"""Real Django querysets under the reliability checks: leaks on success and
on failure, many threads at once, and model relations that lead back to the
instance being written."""

from __future__ import annotations

import datetime as dt
import io
import itertools
import sys
import threading
import uuid
from decimal import Decimal

import pytest

import mervanta
from leakcheck import assert_no_leak, need, swallowing

pytest.importorskip("django")


@pytest.fixture(scope="module")
def shelf(request):
    try:
        m = request.getfixturevalue("django_models")
    except pytest.FixtureLookupError:
        pytest.skip("the Django test project is not available")
    author = m.Author.objects.create(name="Ágnes", born=dt.date(1950, 1, 2))
    publisher = m.Publisher.objects.create(name="Press")
    for index in range(12):
        m.Book.objects.create(
            title=f"Book {index} ☃", author=author, publisher=publisher if index % 2 else None,
            published=dt.date(2000, 1, 1) + dt.timedelta(days=index),
            updated=dt.datetime(2020, 1, 1, index, tzinfo=dt.timezone.utc), price=Decimal(index) / 4,
            uid=uuid.UUID(int=index), reading_time=dt.timedelta(minutes=index), extra={"i": [index]},
            rating=index / 3 if index % 3 else None,
        )
    loop = m.Node.objects.create(name="loop")
    loop.parent = loop
    loop.save()
    yield m
    m.Node.objects.all().delete()
    m.Book.objects.all().delete()
    m.Author.objects.all().delete()
    m.Publisher.objects.all().delete()


def books(m):
    return m.Book.objects.select_related("author", "publisher")


def extended_ready():
    # dumps of a date raises until the framework-aware encoder exists.
    try:
        mervanta.dumps(dt.date(2000, 1, 1))
    except TypeError:
        return False
    return True


@pytest.fixture
def framework(shelf):
    if not extended_ready():
        pytest.skip("the framework-aware encoder is not implemented yet")
    return shelf


def failing_after(rows, count):
    yield from itertools.islice(rows, count)
    raise RuntimeError("connection lost")


# --- leaks ------------------------------------------------------------------------------------

QUERYSET_CALLS = {
    "dump_queryset": lambda m: mervanta.dump_queryset(books(m)),
    "dump_queryset_bytes": lambda m: mervanta.dump_queryset_bytes(m.Book.objects.values()),
    "stream_dump_queryset": lambda m: mervanta.stream_dump_queryset(books(m), io.StringIO(), 1),
    "stream_dump_queryset_jsonl": lambda m: mervanta.stream_dump_queryset_jsonl(m.Book.objects.values_list(),
                                                                               io.StringIO(), 0),
    "dumps": lambda m: mervanta.dumps({"books": books(m)}, indent=2, sort_keys=True),
    "dumpb": lambda m: mervanta.dumpb([books(m).first(), m.Publisher._meta.get_field("name").verbose_name]),
}


@pytest.mark.parametrize("name", QUERYSET_CALLS)
def test_real_querysets_do_not_leak(framework, name):
    need(name)
    call = QUERYSET_CALLS[name]
    assert_no_leak(lambda: call(framework), calls_per_round=40, rounds=4, warmup=20)


@pytest.mark.parametrize("name", ["stream_dump_queryset", "stream_dump_queryset_jsonl"])
def test_querysets_failing_mid_iteration_do_not_leak(framework, name):
    need(name)
    function = getattr(mervanta, name)
    m = framework

    def call():
        written = io.StringIO()
        with pytest.raises(RuntimeError, match="connection lost"):
            function(failing_after(books(m), 7), written, 0)
        assert written.getvalue()

    assert_no_leak(call, calls_per_round=40, rounds=4, warmup=20)


def test_queryset_whose_query_fails_does_not_leak(framework):
    need("dump_queryset", "stream_dump_queryset")
    from django.db.utils import OperationalError

    m = framework
    assert_no_leak(swallowing(lambda: mervanta.dump_queryset(m.Unmigrated.objects.all()), OperationalError),
                   calls_per_round=40, rounds=4, warmup=20)
    assert_no_leak(swallowing(lambda: mervanta.stream_dump_queryset(m.Unmigrated.objects.all(), io.StringIO()),
                              OperationalError), calls_per_round=40, rounds=4, warmup=20)


# --- a relation that leads back to the instance -------------------------------------------------


def recursion_outcome(call, stack_size=0):
    outcome = []

    def attempt():
        try:
            call()
            outcome.append("no error")
        except RecursionError:
            outcome.append("RecursionError")
        except BaseException as error:  # noqa: B036
            outcome.append(f"{type(error).__name__}: {error}")
        finally:
            from django.db import connection

            connection.close()

    if stack_size:
        threading.stack_size(stack_size)
    try:
        worker = threading.Thread(target=attempt)
        worker.start()
        worker.join()
    finally:
        threading.stack_size(0)
    return outcome[0]


@pytest.mark.parametrize("stack_size", [0, 4 * 1024 * 1024], ids=["default stack", "4 MiB stack"])
def test_model_that_refers_to_itself_raises_recursion_error(framework, stack_size):
    m = framework
    loop = m.Node.objects.get(name="loop")
    calls = [lambda: mervanta.dumps(loop), lambda: mervanta.dumpb([loop], pretty=True)]
    if extended_ready() and all(map(lambda n: __import__("leakcheck").implemented(n),
                                    ("dump_queryset", "stream_dump_queryset_jsonl"))):
        calls += [lambda: mervanta.dump_queryset(m.Node.objects.filter(name="loop")),
                  lambda: mervanta.stream_dump_queryset_jsonl(m.Node.objects.all(), io.StringIO())]
    for call in calls:
        assert recursion_outcome(call, stack_size) == "RecursionError"
    with pytest.raises(RecursionError):
        mervanta.dumps({"node": loop})


# --- threads ----------------------------------------------------------------------------------

THREADS = 6
ITERATIONS = 8


def test_querysets_from_many_threads_at_once(framework):
    need("dump_queryset", "stream_dump_queryset")
    from django.db import connection
    from django.utils.translation import gettext_lazy

    m = framework
    lazy_text = gettext_lazy("publisher name")
    calls = {
        "dump_queryset": lambda: mervanta.dump_queryset(books(m)),
        "values": lambda: mervanta.dump_queryset_bytes(m.Book.objects.values("title", "price", "updated")),
        "stream": lambda: _streamed(books(m)),
        "lazy": lambda: mervanta.dumps([lazy_text] * 20, ensure_ascii=False),
    }
    expected = {name: call() for name, call in calls.items()}
    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    barrier = threading.Barrier(THREADS)
    problems: list[str] = []

    def worker(index):
        try:
            barrier.wait()
            for iteration in range(ITERATIONS):
                for name, call in calls.items():
                    if call() != expected[name]:
                        problems.append(f"{name} differs in thread {index}, iteration {iteration}")
        except BaseException as error:  # noqa: B036
            problems.append(f"thread {index}: {type(error).__name__}: {error}")
        finally:
            connection.close()

    try:
        threads = [threading.Thread(target=worker, args=(index,)) for index in range(THREADS)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(timeout=120)
    finally:
        sys.setswitchinterval(previous)
    assert not any(thread.is_alive() for thread in threads)
    assert problems == []


def _streamed(rows):
    written = io.StringIO()
    mervanta.stream_dump_queryset(rows, written, chunk_size=1)
    return written.getvalue()
