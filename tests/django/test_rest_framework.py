import io
import itertools
import json

import pytest

pytest.importorskip("rest_framework")


@pytest.fixture(scope="module")
def drf(django_models):
    from rest_framework import parsers, renderers

    from mervanta import rest_framework as ours

    return renderers, parsers, ours


def serialized(books):
    from djangoapp.api import BookSerializer

    return BookSerializer(books, many=True).data


EXTRA = {
    "text": "\u00e9 \x7f \u2028 \u2029 \U0001f600 \"q\" \\ \n \x00",
    "numbers": [0, -1, 2**70, 0.1, 1.5, -2.25, 123456.789, True, False, None],
    "nested": {"empty_list": [], "empty_dict": {}, "list": [[1, {"a": "b"}]]},
}

SETTINGS = list(itertools.product([True, False], repeat=3))


def pair(drf, compact, unicode, strict):
    renderers, _, ours = drf
    attrs = {"compact": compact, "ensure_ascii": not unicode, "strict": strict}
    return type("Theirs", (renderers.JSONRenderer,), attrs)(), type("Ours", (ours.JSONRenderer,), attrs)()


@pytest.mark.parametrize("compact,unicode,strict", SETTINGS)
def test_renderer_bytes_equal_drf(drf, books, compact, unicode, strict):
    theirs, ours = pair(drf, compact, unicode, strict)
    for data in (serialized(books), serialized(books)[0], EXTRA, [], "x", 5):
        assert ours.render(data) == theirs.render(data)


@pytest.mark.parametrize("compact,unicode,strict", SETTINGS)
@pytest.mark.parametrize("accepted,context", [("application/json; indent=4", {}), ("application/json", {"indent": 2})])
def test_indent_decodes_to_the_same_value(drf, books, compact, unicode, strict, accepted, context):
    theirs, ours = pair(drf, compact, unicode, strict)
    data = {"rows": serialized(books), **EXTRA}
    mine = ours.render(data, accepted, context)
    assert json.loads(mine) == json.loads(theirs.render(data, accepted, context))
    assert b"\n    " in mine if "indent=4" in accepted else b"\n  " in mine


def test_none_renders_empty(drf):
    assert pair(drf, True, True, True)[1].render(None) == b""


@pytest.mark.parametrize("value", [float("nan"), float("inf"), -float("inf")])
@pytest.mark.parametrize("nest", [lambda v: v, lambda v: {"a": [1, v]}])
def test_strict_rejects_non_finite_floats_like_drf(drf, value, nest):
    theirs, ours = pair(drf, True, True, True)
    with pytest.raises(ValueError) as expected:
        theirs.render(nest(value))
    with pytest.raises(ValueError) as caught:
        ours.render(nest(value))
    assert str(caught.value) == str(expected.value)
    lax_theirs, lax_ours = pair(drf, True, True, False)
    assert lax_ours.render(nest(value)) == lax_theirs.render(nest(value))


def test_unknown_values_go_through_the_encoder_class(drf):
    theirs, ours = pair(drf, True, True, False)

    class Point:
        def __init__(self):
            self.x = 1

        def __getitem__(self, key):
            return {"x": 1}[key]

        def keys(self):
            return ["x"]

    for make in (lambda: {"p": Point(), "g": (i for i in range(2))}, lambda: {1: "int key"}):
        assert ours.render(make()) == theirs.render(make())
    with pytest.raises(TypeError) as expected:
        theirs.render({"o": object()})
    with pytest.raises(TypeError) as caught:
        ours.render({"o": object()})
    assert str(caught.value) == str(expected.value)


def test_views_render_with_ours(drf, books, client_):
    renderers, _, _ = drf
    response = client_.get("/api/books")
    assert response.status_code == 200
    assert response.content == renderers.JSONRenderer().render(serialized(type(books.first()).objects.all()))


@pytest.fixture
def client_(django_models):
    from django.test import Client

    return Client()


@pytest.mark.parametrize(
    "body,charset",
    [('{"a": ["\u00e9", 1.5, null]}', "utf-8"), ('{"a": ["\u00e9"]}', "latin-1"), ('[1, "\u00e9"]', "utf-16")],
)
def test_parser_decodes_with_the_request_charset(drf, body, charset):
    _, parsers, ours = drf
    context = {"encoding": charset}
    got = ours.JSONParser().parse(io.BytesIO(body.encode(charset)), None, context)
    assert got == parsers.JSONParser().parse(io.BytesIO(body.encode(charset)), None, context)


@pytest.mark.parametrize("body", [b'{"a": 1} x', b"[1,]", b"", b"\xff", b'{"a": NaN}', b'"\xed\xa0\x80"'])
@pytest.mark.parametrize("strict", [True, False])
def test_parser_errors_are_parse_errors_as_in_drf(drf, body, strict):
    from rest_framework.exceptions import ParseError

    _, parsers, ours = drf
    theirs = type("Theirs", (parsers.JSONParser,), {"strict": strict})()
    mine = type("Ours", (ours.JSONParser,), {"strict": strict})()
    try:
        expected = theirs.parse(io.BytesIO(body), None, {})
    except ParseError:
        with pytest.raises(ParseError):
            mine.parse(io.BytesIO(body), None, {})
    else:
        assert repr(mine.parse(io.BytesIO(body), None, {})) == repr(expected)


def test_parser_deep_nesting_is_a_parse_error(drf):
    from rest_framework.exceptions import ParseError

    with pytest.raises(ParseError):
        drf[2].JSONParser().parse(io.BytesIO(b"[" * 100000 + b"]" * 100000), None, {})


def test_parser_in_a_view(drf, django_models):
    from rest_framework.test import APIRequestFactory

    from djangoapp.api import book_echo

    factory = APIRequestFactory()
    ok = book_echo(factory.post("/api/echo", b'{"x": [1, "\\u00e9"]}', content_type="application/json"))
    assert ok.status_code == 200 and ok.data == {"x": [1, "\u00e9"]}
    bad = book_echo(factory.post("/api/echo", b'{"x": 1} 2', content_type="application/json"))
    bad.render()
    assert bad.status_code == 400 and json.loads(bad.content)["detail"].startswith("JSON parse error - ")
