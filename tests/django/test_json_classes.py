import datetime as dt
import json
from decimal import Decimal

import pytest


@pytest.fixture(scope="module")
def classes(django_models):
    from django.core.serializers.json import DjangoJSONEncoder

    from mervanta.django import JSONDecoder, JSONEncoder

    return JSONEncoder, JSONDecoder, DjangoJSONEncoder


DATA = [
    {"a": [1, 2.5, None, True], "b": {"c": "\u00e9 \x7f \u2028 \U0001f600"}, "d": []},
    {"z": 1, "a": {"y": 2, "b": 3}},
    [dt.date(2020, 1, 2), Decimal("1.10"), "x"],
    "plain",
    {1: "int key", None: "none key"},
    {"nan": float("nan")},
]
OPTIONS = [
    {},
    {"ensure_ascii": False},
    {"sort_keys": True, "indent": 2},
    {"separators": (",", ":")},
    {"indent": "\t"},
    {"skipkeys": True},
]


@pytest.mark.parametrize("data", DATA)
@pytest.mark.parametrize("options", OPTIONS)
def test_encoder_text_equals_django(classes, data, options):
    ours, _, django = classes
    expected, got = outcome(data, django, options), outcome(data, ours, options)
    if isinstance(options.get("indent"), int) and expected[0] == "text":
        # Indented empty containers keep a line break: same value, other layout.
        assert json.loads(got[1]) == json.loads(expected[1])
    else:
        assert got == expected


def outcome(data, cls, options):
    try:
        return "text", json.dumps(data, cls=cls, **options)
    except Exception as exc:
        return type(exc), str(exc)


@pytest.mark.parametrize(
    "data,options,error",
    [({1: 2, (1,): 3}, {}, TypeError), ({"a": float("inf")}, {"allow_nan": False}, ValueError), ({"o": object()}, {}, TypeError)],
)
def test_encoder_errors_equal_django(classes, data, options, error):
    ours, _, django = classes
    with pytest.raises(error) as expected:
        json.dumps(data, cls=django, **options)
    with pytest.raises(error) as caught:
        json.dumps(data, cls=ours, **options)
    assert str(caught.value) == str(expected.value)


def test_subclass_default_is_called(classes):
    class Money:
        cents = 250

    class Encoder(classes[0]):
        def default(self, o):
            return {"cents": o.cents} if isinstance(o, Money) else super().default(o)

    assert json.dumps({"m": [Money()]}, cls=Encoder) == '{"m": [{"cents": 250}]}'
    with open("/dev/null", "w") as sink:
        json.dump({"m": Money()}, sink, cls=Encoder)


@pytest.mark.parametrize("text", ['{"a": [1, 2.5, "\\u00e9", {"b": null}]}', "[]", '{"a": NaN}', " 7 "])
@pytest.mark.parametrize(
    "hooks",
    [
        {},
        {"parse_float": Decimal, "parse_int": str},
        {"object_hook": lambda d: sorted(d.items())},
        {"object_pairs_hook": lambda pairs: pairs},
        {"parse_constant": lambda name: name},
    ],
)
def test_decoder_equals_json(classes, text, hooks):
    assert repr(json.loads(text, cls=classes[1], **hooks)) == repr(json.loads(text, **hooks))


@pytest.mark.parametrize("text", ['{"a": 1} x', "[1,]", "", '{"a"}'])
def test_decoder_errors_are_json_errors(classes, text):
    with pytest.raises(json.JSONDecodeError) as expected:
        json.loads(text)
    with pytest.raises(json.JSONDecodeError) as caught:
        json.loads(text, cls=classes[1])
    assert str(caught.value) == str(expected.value)


def test_json_field_round_trip(django_models):
    when = dt.datetime(2021, 1, 2, 3, 4, 5, tzinfo=dt.timezone.utc)
    payload = {"when": when, "price": Decimal("9.99"), "tags": ["\u00e9", 1.5], "nested": {"n": None}}
    doc = django_models.Document.objects.create(name="round trip", payload=payload)
    stored = django_models.Document.objects.get(pk=doc.pk).payload
    assert stored == {"when": "2021-01-02T03:04:05+00:00", "price": "9.99", "tags": ["\u00e9", 1.5], "nested": {"n": None}}
    assert django_models.Document.objects.filter(payload__tags__1=1.5, pk=doc.pk).exists()


def test_file_field_written_as_its_name(django_models):
    import mervanta
    from mervanta.django import default

    doc = django_models.Document(name="file", attachment="docs/report.pdf")
    empty = django_models.Document(name="none")
    with pytest.raises(TypeError):
        mervanta.dumps(doc)
    written = json.loads(mervanta.dumps([doc, empty], default=default))
    assert [row["attachment"] for row in written] == ["docs/report.pdf", None]


def test_test_client_json_encoder(classes, django_models):
    from django.test import Client

    response = Client(json_encoder=classes[0]).post(
        "/echo", {"when": dt.date(2020, 5, 6), "n": Decimal("1.5")}, content_type="application/json"
    )
    assert response.json() == {"when": "2020-05-06", "n": "1.5"}
