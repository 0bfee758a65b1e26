"""Django model instances, querysets and lazy strings, on a real SQLite
database made by Django's schema editor."""

import datetime as dt
import io
import json
import threading
import uuid
from decimal import Decimal

import pytest

import mervanta

pytest.importorskip("django")

from django.db import connection  # noqa: E402
from django.db.utils import OperationalError  # noqa: E402
from django.test.utils import CaptureQueriesContext  # noqa: E402
from django.utils.functional import lazy  # noqa: E402
from django.utils.text import format_lazy  # noqa: E402
from django.utils.translation import gettext_lazy  # noqa: E402

PLUS2 = dt.timezone(dt.timedelta(hours=2))


@pytest.fixture(scope="module")
def library(django_models):
    m = django_models
    frank = m.Author.objects.create(name="Frank", born=dt.date(1920, 10, 8))
    lukasz = m.Author.objects.create(name="\u0141ukasz \u00dcnal", born=None)
    chilton = m.Publisher.objects.create(name="Chilton")
    books = [
        m.Book.objects.create(
            title="Dune", author=frank, publisher=chilton, published=dt.date(1965, 8, 1),
            updated=dt.datetime(2024, 1, 2, 5, 4, 5, tzinfo=PLUS2), price=Decimal("12.50"),
            uid=uuid.UUID(int=1), reading_time=dt.timedelta(hours=9, minutes=30),
            extra={"tags": ["sf"], "z": 1, "a": 2}, rating=4.5, in_print=True,
        ),
        m.Book.objects.create(
            title='\u017bywot "quoted" \u2603', author=lukasz, publisher=None, published=dt.date(2001, 2, 3),
            updated=dt.datetime(2020, 6, 30, 23, 59, 59, 123456, tzinfo=dt.timezone.utc), price=Decimal("0.99"),
            uid=uuid.UUID(int=2), reading_time=dt.timedelta(0), extra=[1, "two", None], rating=None,
            in_print=False,
        ),
        m.Book.objects.create(
            title="Third", author=frank, publisher=chilton, published=dt.date(1999, 12, 31),
            updated=dt.datetime(1999, 12, 31, 23, 0, tzinfo=dt.timezone.utc), price=Decimal("100.00"),
            uid=uuid.UUID(int=3), reading_time=dt.timedelta(days=1, seconds=1), extra={}, rating=-0.5,
        ),
    ]
    yield m, [m.Book.objects.get(pk=book.pk) for book in books]
    m.Book.objects.all().delete()
    m.Author.objects.all().delete()
    m.Publisher.objects.all().delete()


def author_text(author):
    born = "null" if author.born is None else f'"{author.born.isoformat()}"'
    return f'{{"id": {author.pk}, "name": {json.dumps(author.name, ensure_ascii=False)}, "born": {born}}}'


DURATIONS = {dt.timedelta(hours=9, minutes=30): "PT9H30M", dt.timedelta(0): "PT0S", dt.timedelta(1, 1): "P1DT1S"}


def book_text(book, author=None, publisher=None):
    """The expected text, built field by field from the loaded values."""
    rating = "null" if book.rating is None else repr(book.rating)
    publisher = publisher or ("null" if book.publisher is None else f'{{"id": {book.publisher.pk}, "name": "Chilton"}}')
    return (
        f'{{"id": {book.pk}, "title": {json.dumps(book.title, ensure_ascii=False)}, '
        f'"author": {author or author_text(book.author)}, "publisher": {publisher}, '
        f'"published": "{book.published.isoformat()}", "updated": "{book.updated.isoformat()}", '
        f'"price": "{book.price}", "uid": "{book.uid}", "reading_time": "{DURATIONS[book.reading_time]}", '
        f'"extra": {json.dumps(book.extra)}, "rating": {rating}, "in_print": {json.dumps(book.in_print)}}}'
    )


def test_model_instance_exact_text(library):
    m, books = library
    dune = books[0]
    expected = (
        f'{{"id": {dune.pk}, "title": "Dune", "author": {{"id": {dune.author_id}, "name": "Frank", '
        f'"born": "1920-10-08"}}, "publisher": {{"id": {dune.publisher_id}, "name": "Chilton"}}, '
        '"published": "1965-08-01", "updated": "2024-01-02T03:04:05+00:00", "price": "12.50", '
        '"uid": "00000000-0000-0000-0000-000000000001", "reading_time": "PT9H30M", '
        '"extra": {"tags": ["sf"], "z": 1, "a": 2}, "rating": 4.5, "in_print": true}'
    )
    assert mervanta.dumps(dune) == expected
    assert mervanta.dump_queryset(m.Book.objects.filter(pk=dune.pk)) == f"[{expected}]"
    assert book_text(dune) == expected


def test_nullable_relation_non_ascii_and_microseconds(library):
    _, books = library
    book = books[1]
    raw = mervanta.dump_queryset(book)
    assert '"publisher": null' in raw and '"updated": "2020-06-30T23:59:59.123456+00:00"' in raw
    assert '"title": "\u017bywot \\"quoted\\" \u2603"' in raw
    assert raw == book_text(book)
    escaped = mervanta.dumps(book)
    assert escaped == json.dumps(json.loads(raw))  # ensure_ascii escapes keys and values alike
    assert "\\u0141ukasz \\u00dcnal" in escaped


def test_pretty_layout(library):
    _, books = library
    author = books[0].author
    assert mervanta.dumpb(author, pretty=True) == (
        f'{{\n  "id": {author.pk},\n  "name": "Frank",\n  "born": "1920-10-08"\n}}'.encode()
    )
    assert mervanta.dumps([author], indent=1, separators=(";", "=")) == (
        f'[\n {{\n  "id"={author.pk};\n  "name"="Frank";\n  "born"="1920-10-08"\n }}\n]'
    )


def test_sort_keys_leaves_model_members_in_field_order(library):
    _, books = library
    text = mervanta.dumps(books[0], sort_keys=True)
    assert text.startswith(f'{{"id": {books[0].pk}, "title": "Dune", "author": {{"id"')
    assert '"extra": {"a": 2, "tags": ["sf"], "z": 1}' in text


def test_querysets(library):
    m, books = library
    everything = "[" + ", ".join(book_text(book) for book in books) + "]"
    assert mervanta.dump_queryset(m.Book.objects.all()) == everything
    assert mervanta.dump_queryset(m.Book.objects.order_by("-id")) == (
        "[" + ", ".join(book_text(book) for book in reversed(books)) + "]"
    )
    assert mervanta.dump_queryset(m.Book.objects.filter(in_print=True, rating__gt=0)) == f"[{book_text(books[0])}]"
    for empty in (m.Book.objects.none(), m.Book.objects.filter(title="nothing")):
        assert mervanta.dump_queryset(empty) == "[]"
        assert mervanta.dump_queryset_bytes(empty) == b"[]"
        assert mervanta.dumpb(empty, pretty=True) == b"[\n  \n]"


def test_querysets_at_any_depth(library):
    m, books = library
    inner = "[" + ", ".join(book_text(book) for book in books) + "]"
    assert mervanta.dumps({"books": m.Book.objects.all(), "n": 3}, ensure_ascii=False) == f'{{"books": {inner}, "n": 3}}'
    authors = m.Author.objects.order_by("id")
    pretty = mervanta.dumpb([authors.filter(born=None)], pretty=True).decode()
    author = books[1].author
    assert pretty == (
        f'[\n  [\n    {{\n      "id": {author.pk},\n      "name": "\u0141ukasz \u00dcnal",\n'
        '      "born": null\n    }\n  ]\n]'
    )


def test_evaluated_queryset_reuses_its_rows(library):
    m, books = library
    queryset = m.Book.objects.select_related("author", "publisher")
    with CaptureQueriesContext(connection) as queries:
        first = mervanta.dump_queryset(queryset)
    assert len(queries) == 1  # related objects came with the rows
    with CaptureQueriesContext(connection) as queries:
        assert mervanta.dump_queryset(queryset) == first
    assert len(queries) == 0
    assert first == "[" + ", ".join(book_text(book) for book in books) + "]"


def test_values_and_values_list(library):
    m, books = library
    dune = books[0]
    assert mervanta.dump_queryset(m.Book.objects.filter(pk=dune.pk).values()) == (
        f'[{{"id": {dune.pk}, "title": "Dune", "author_id": {dune.author_id}, "publisher_id": {dune.publisher_id}, '
        '"published": "1965-08-01", "updated": "2024-01-02T03:04:05+00:00", "price": "12.50", '
        '"uid": "00000000-0000-0000-0000-000000000001", "reading_time": "PT9H30M", '
        '"extra": {"tags": ["sf"], "z": 1, "a": 2}, "rating": 4.5, "in_print": true}]'
    )
    assert mervanta.dump_queryset(m.Book.objects.values("author__name", "price")) == (
        '[{"author__name": "Frank", "price": "12.50"}, {"author__name": "\u0141ukasz \u00dcnal", "price": "0.99"}, '
        '{"author__name": "Frank", "price": "100.00"}]'
    )
    assert mervanta.dump_queryset(m.Book.objects.values_list("published", "reading_time", "rating")) == (
        '[["1965-08-01", "PT9H30M", 4.5], ["2001-02-03", "PT0S", null], ["1999-12-31", "P1DT1S", -0.5]]'
    )
    ids = [book.pk for book in books]
    assert mervanta.dump_queryset(m.Book.objects.values_list("id", flat=True)) == json.dumps(ids)


@pytest.mark.parametrize(
    "make_rows",
    [
        lambda m: m.Book.objects.all(),
        lambda m: m.Book.objects.select_related("author").values("title", "author__born", "extra"),
        lambda m: m.Author.objects.values_list("name", "born"),
        lambda m: m.Book.objects.order_by("-id"),
    ],
)
def test_queryset_dumps_bytes_equal_dumpb(library, make_rows):
    m, _ = library
    assert mervanta.dump_queryset_bytes(make_rows(m)) == mervanta.dumpb(make_rows(m))
    assert mervanta.dump_queryset(make_rows(m)).encode() == mervanta.dumpb(make_rows(m))


def test_queryset_iterator_is_no_queryset(library):
    m, _ = library
    with pytest.raises(TypeError, match="^Object of type generator is not JSON serializable$"):
        mervanta.dump_queryset(m.Book.objects.iterator())


def test_lazy_translated_values(django_models):
    m = django_models
    values = [
        gettext_lazy("Hello"),
        m.Publisher._meta.get_field("name").verbose_name,
        format_lazy("{}-{}", "a", gettext_lazy("b")),
        lazy(lambda: 5, int)(),
        lazy(lambda: "caf\u00e9", str)(),
    ]
    # A lazy int has __index__, so the core writes it as a number first.
    assert mervanta.dump_queryset(values) == '["Hello", "publisher name", "a-b", 5, "caf\u00e9"]'
    assert mervanta.dumps(values[-1]) == '"caf\\u00e9"'
    unsaved = m.Publisher(name=gettext_lazy("Hello"))
    assert mervanta.dumps(unsaved) == '{"id": null, "name": "Hello"}'


def test_lazy_failure_is_final(django_models):
    def broken():
        raise KeyError("catalog")

    with pytest.raises(KeyError, match="catalog"):
        mervanta.dumpb([lazy(broken, str)()])


class Field:
    def __init__(self, name):
        self.name = name


def with_fields(instance, *names, **values):
    instance._meta = type("Meta", (), {"fields": [Field(name) for name in names]})()
    for key, value in values.items():
        setattr(instance, key, value)
    return instance


def test_only_meta_fields_are_read(django_models):
    m = django_models
    empty = with_fields(m.Node(name="n"))
    assert mervanta.dumps(empty) == "{}"
    assert mervanta.dumpb(empty, pretty=True) == b"{\n  \n}"
    odd = with_fields(m.Node(name="n"), 'k"\u00e9', "name", **{'k"\u00e9': m.Node.objects.none()})
    assert mervanta.dump_queryset(odd) == '{"k\\"\u00e9": [], "name": "n"}'
    assert mervanta.dumps(odd) == '{"k\\"\\u00e9": [], "name": "n"}'


@pytest.mark.parametrize(
    ("meta", "error", "message"),
    [
        (type("Meta", (), {})(), AttributeError, "'Meta' object has no attribute 'fields'"),
        (type("Meta", (), {"fields": [Field(3)]})(), TypeError, "'int' object is not an instance of 'str'"),
        (type("Meta", (), {"fields": [Field(None)]})(), TypeError, "'None' is not an instance of 'str'"),
        (type("Meta", (), {"fields": [Field("missing")]})(), AttributeError, "'Node' object has no attribute 'missing'"),
        (type("Meta", (), {"fields": 5})(), AttributeError, "'int' object has no attribute '__iter__'"),
    ],
)
def test_model_failures_are_final(django_models, meta, error, message):
    node = django_models.Node(name="n")
    node._meta = meta
    with pytest.raises(error) as caught:
        mervanta.dumpb([node])
    assert str(caught.value) == message


def test_query_errors_propagate(django_models):
    queryset = django_models.Unmigrated.objects.all()
    for run in (
        lambda: mervanta.dump_queryset(queryset.all()),
        lambda: mervanta.dumps({"rows": queryset.all()}, default=str),
        lambda: mervanta.stream_dump_queryset(queryset.all(), io.StringIO()),
    ):
        with pytest.raises(OperationalError, match="^no such table: djangoapp_unmigrated$"):
            run()


@pytest.fixture
def nodes(django_models):
    yield django_models.Node
    django_models.Node.objects.all().delete()


def relation_cycles(Node):
    """An instance whose parent is itself (in memory) and two rows pointing at
    each other (every level runs a query)."""
    own = Node(name="own")
    own.parent = own
    first = Node.objects.create(name="a")
    second = Node.objects.create(name="b", parent=first)
    Node.objects.filter(pk=first.pk).update(parent=second)
    return [own, Node.objects.get(pk=first.pk), Node.objects.filter(pk=first.pk)]


def test_relation_cycles_end_in_recursion_error(nodes):
    for value in relation_cycles(nodes):
        with pytest.raises(RecursionError):
            mervanta.dump_queryset(value)


def test_relation_cycles_in_another_thread(nodes):
    values = relation_cycles(nodes)
    outcome = []

    def run():
        for value in values:
            try:
                mervanta.dumps([value])
            except BaseException as error:  # noqa: BLE001 - recorded for the main thread
                outcome.append(type(error))
        connection.close()

    thread = threading.Thread(target=run)
    thread.start()
    thread.join()
    assert outcome == [RecursionError] * 3


class Recorder:
    def __init__(self):
        self.writes = []

    def write(self, text):
        self.writes.append(text)


def test_stream_querysets_row_by_row(library):
    m, books = library
    recorder = Recorder()
    mervanta.stream_dump_queryset(m.Book.objects.all(), recorder, chunk_size=0)
    assert recorder.writes == ["[" + book_text(books[0])] + ["," + book_text(b) for b in books[1:]] + ["]"]
    recorder = Recorder()
    mervanta.stream_dump_queryset_jsonl(m.Book.objects.values_list("title", "price"), recorder, chunk_size=0)
    assert recorder.writes == [
        '["Dune", "12.50"]\n', '["\u017bywot \\"quoted\\" \u2603", "0.99"]\n', '["Third", "100.00"]\n'
    ]
    recorder = Recorder()
    mervanta.stream_dump_queryset_jsonl(m.Book.objects.none(), recorder)
    assert recorder.writes == []


def test_stream_querysets_to_files(library, tmp_path):
    m, books = library
    path = tmp_path / "books.json"
    with open(path, "w", encoding="utf-8") as fp:
        mervanta.stream_dump_queryset(m.Book.objects.select_related("author", "publisher"), fp)
    assert path.read_text(encoding="utf-8") == "[" + ",".join(book_text(b) for b in books) + "]"
    path = tmp_path / "books.jsonl"
    with open(path, "w", encoding="utf-8") as fp:
        mervanta.stream_dump_queryset_jsonl(m.Book.objects.values("id", "updated").iterator(), fp, chunk_size=1)
    assert path.read_text(encoding="utf-8") == "".join(
        f'{{"id": {b.pk}, "updated": "{b.updated.isoformat()}"}}\n' for b in books
    )
    buffer = io.StringIO()
    mervanta.stream_dump_queryset(m.Author.objects.filter(born=None), buffer)
    assert buffer.getvalue() == f"[{author_text(books[1].author)}]"


class LocalDateTime(dt.datetime):
    pass


def test_field_values_of_every_date_kind(django_models):
    values = {
        "a": dt.time(4, 5, 6, 7),
        "b": dt.timedelta(minutes=-1),
        "c": dt.datetime(2020, 2, 2, 2, 2, tzinfo=PLUS2),
        "d": type("date", (), {"isoformat": lambda self: "any text"})(),
    }
    node = with_fields(django_models.Node(name="n"), *values, **values)
    assert mervanta.dumps(node) == (
        '{"a": "04:05:06.000007", "b": "P-1DT23H59M", "c": "2020-02-02T02:02:00+02:00", "d": "any text"}'
    )
    odd = with_fields(django_models.Node(name="n"), "a", a=LocalDateTime(2020, 1, 1))
    with pytest.raises(TypeError, match="^Object of type LocalDateTime is not JSON serializable$"):
        mervanta.dump_queryset([odd])
