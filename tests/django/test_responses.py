import asyncio
import datetime as dt
import json
from decimal import Decimal

import pytest


@pytest.fixture(scope="module")
def http(django_models):
    from django import http

    import mervanta.django as ours

    return http, ours


@pytest.mark.parametrize(
    "data,kwargs",
    [
        ({"a": [1, 2.5, "\u00e9"], "d": dt.date(2020, 1, 2), "n": Decimal("1.5")}, {}),
        ([1, 2], {"safe": False}),
        ({"b": 1, "a": 2}, {"json_dumps_params": {"sort_keys": True, "separators": (",", ":")}}),
        ({"s": {3, 1}}, {"status": 201, "headers": {"X-Rows": "1"}}),
    ],
)
def test_json_response_like_django(http, data, kwargs):
    django_http, ours = http
    theirs = django_http.JsonResponse(data, **{"encoder": ours.JSONEncoder, **kwargs})
    mine = ours.JsonResponse(data, **kwargs)
    assert json.loads(mine.content) == json.loads(theirs.content)
    assert (mine.status_code, mine["Content-Type"], mine.get("X-Rows")) == (
        theirs.status_code,
        theirs["Content-Type"],
        theirs.get("X-Rows"),
    )


def test_json_response_rules_like_django(http):
    django_http, ours = http
    for cls in (django_http.JsonResponse, ours.JsonResponse):
        with pytest.raises(TypeError, match="set the safe parameter to False"):
            cls([1])
    with pytest.raises(TypeError) as expected:
        django_http.JsonResponse({"o": object()})
    with pytest.raises(TypeError) as caught:
        ours.JsonResponse({"o": object()})
    assert str(caught.value) == str(expected.value)


def test_json_response_with_a_foreign_encoder(http):
    django_http, ours = http

    class Encoder(json.JSONEncoder):
        def default(self, o):
            return "custom"

    data = {"o": object(), "x": [1]}
    mine = ours.JsonResponse(data, encoder=Encoder, json_dumps_params={"indent": 1})
    assert mine.content == django_http.JsonResponse(data, encoder=Encoder, json_dumps_params={"indent": 1}).content


def body(response):
    return b"".join(response.streaming_content)


@pytest.mark.parametrize("chunk_size", [1, 2, 1000])
@pytest.mark.parametrize("rows", [[], [{"a": 1}], [{"a": i, "t": "\u00e9"} for i in range(5)], [dt.date(2020, 1, 1), None]])
def test_streaming_equals_one_document(http, rows, chunk_size):
    import mervanta

    _, ours = http
    array = ours.StreamingJsonResponse(iter(rows), chunk_size=chunk_size)
    assert array["Content-Type"] == "application/json"
    assert body(array) == mervanta.dumpb(rows)
    lines = ours.StreamingJsonResponse(iter(rows), lines=True, chunk_size=chunk_size)
    assert lines["Content-Type"] == "application/x-ndjson"
    assert body(lines) == b"".join(mervanta.dumpb(row) + b"\n" for row in rows)


def test_streaming_writes_unknown_values_through_the_encoder(http):
    _, ours = http

    class Encoder(ours.JSONEncoder):
        def default(self, o):
            return "?"

    assert body(ours.StreamingJsonResponse([1, object()], encoder=Encoder)) == b'[1, "?"]'
    with pytest.raises(TypeError, match="not JSON serializable"):
        body(ours.StreamingJsonResponse([object()]))


def test_streaming_queryset_leaves_the_result_cache_empty(http, books):
    _, ours = http
    queryset = books.values("title")
    text = body(ours.StreamingJsonResponse(queryset, chunk_size=1))
    assert queryset._result_cache is None
    assert json.loads(text) == list(books.values("title"))
    evaluated = books.values("title")
    list(evaluated)
    assert json.loads(body(ours.StreamingJsonResponse(evaluated))) == json.loads(text)


@pytest.mark.parametrize("url", ["/books/stream", "/books/lines", "/books/json"])
def test_views(books, url):
    from django.test import Client

    response = Client().get(url)
    text = b"".join(response.streaming_content) if response.streaming else response.content
    titles = [row["title"] if isinstance(row, dict) else row for row in _rows(text, url)]
    assert set(titles) >= {book.title for book in books}


def _rows(text, url):
    if url.endswith("lines"):
        return [json.loads(line) for line in text.split(b"\n")[:-1]]
    document = json.loads(text)
    return document["books"] if isinstance(document, dict) else document


def test_async_view_streams_asynchronously(books):
    from django.test import AsyncClient

    async def fetch():
        response = await AsyncClient().get("/books/astream")
        assert response.is_async
        return b"".join([chunk async for chunk in response.streaming_content])

    assert set(row["title"] for row in json.loads(asyncio.run(fetch()))) >= {b.title for b in books}


@pytest.mark.parametrize("lines", [False, True])
def test_async_iterables_and_explicit_choice(http, lines):
    import mervanta

    _, ours = http

    async def rows():
        for i in range(5):
            yield {"i": i}

    async def collect(response):
        assert response.is_async
        return b"".join([chunk async for chunk in response.streaming_content])

    expected = b"".join(mervanta.dumpb({"i": i}) + b"\n" for i in range(5)) if lines else mervanta.dumpb([{"i": i} for i in range(5)])
    assert asyncio.run(collect(ours.StreamingJsonResponse(rows(), lines=lines, chunk_size=2))) == expected
    sync_rows = ({"i": i} for i in range(5))
    forced = ours.StreamingJsonResponse(sync_rows, lines=lines, chunk_size=2, asynchronous=True)
    assert asyncio.run(collect(forced)) == expected
    with pytest.raises(TypeError, match="asynchronous=True"):
        ours.StreamingJsonResponse(rows(), asynchronous=False)


@pytest.mark.parametrize("chunk_size", [0, -1, 1.5])
def test_streaming_rejects_bad_chunk_size(http, chunk_size):
    with pytest.raises(ValueError, match="chunk_size"):
        http[1].StreamingJsonResponse([], chunk_size=chunk_size)
