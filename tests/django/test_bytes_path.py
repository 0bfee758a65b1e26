"""The private bytes entry of the Django and DRF modules: dumps(...).encode()
without the str, for every setting and every outcome."""

import datetime as dt
import decimal
import itertools
import math

import pytest

import mervanta
from mervanta._core import _dumpb_with

VALUES = [
    {"b": 1, "a": [1.5, -0.0, 1e-7, 2**70, True, None]},
    ["\u00e9t\u00e9 \u2028 \u2029 \x7f \x00 \U0001f600 \"q\" \\ \n", {"\u00e9": "\u2028"}],
    {"nested": {"empty": {}, "list": [], "deep": [[{"z": 0, "y": [1]}]]}},
    {"when": dt.datetime(2024, 1, 2, 3, 4, 5, 678, tzinfo=dt.timezone.utc), "price": decimal.Decimal("1.10")},
    "plain",
    [],
]

SETTINGS = [
    dict(zip(("ensure_ascii", "indent", "separators", "sort_keys"), combination))
    for combination in itertools.product(
        [True, False], [None, 0, 2, "\t", 300], [None, (",", ":"), (", ", ": "), (",", ": ")], [False, True]
    )
]


def both(value, default=None, allow_nan=True, **settings):
    """The outcome of each path: bytes, or the exception's type and text."""
    outcomes = []
    for call in (
        lambda: mervanta.dumps(value, allow_nan=allow_nan, default=default, **settings).encode(),
        lambda: _dumpb_with(
            value, settings["ensure_ascii"], allow_nan, settings["indent"], settings["separators"],
            settings["sort_keys"], default,
        ),
    ):
        try:
            outcomes.append(call())
        except Exception as error:
            outcomes.append((type(error), str(error)))
    return outcomes


@pytest.mark.parametrize("settings", SETTINGS)
@pytest.mark.parametrize("value", VALUES, ids=range(len(VALUES)))
def test_same_bytes_as_dumps(value, settings):
    text, body = both(value, **settings)
    assert isinstance(body, bytes) and body == text


class Unknown:
    pass


def to_name(value):
    if isinstance(value, Unknown):
        return {"unknown": "\u00e9"}
    raise TypeError(f"no {type(value).__name__}")


PLAIN = dict(ensure_ascii=False, indent=None, separators=(",", ":"), sort_keys=False)


@pytest.mark.parametrize(
    "value,default,allow_nan",
    [
        ([1.0, math.nan], None, False),  # NaN refused, no hook
        ({"x": [math.inf]}, None, False),
        ([math.nan, Unknown()], to_name, False),  # refused, then retried whole through the hook
        ([Unknown(), {"a": Unknown()}], to_name, True),  # nested unknown values through the hook
        ([Unknown()], None, True),  # no hook: TypeError
        (Unknown(), to_name, True),
        ({1: "non-str key"}, None, True),
        ({1: "non-str key"}, to_name, True),
        ([math.nan, -math.inf], None, True),
    ],
)
def test_same_outcome_as_dumps_on_hooks_and_errors(value, default, allow_nan):
    text, body = both(value, default=default, allow_nan=allow_nan, **PLAIN)
    assert body == text


def test_hook_exception_passes_through_unchanged():
    def hook(value):
        raise KeyError("from the hook")

    with pytest.raises(KeyError, match="from the hook"):
        _dumpb_with([Unknown()], False, True, None, None, False, hook)


def test_private_name_stays_out_of_the_public_names():
    assert "_dumpb_with" not in mervanta.__all__
    assert "_dumpb_with" not in mervanta._core.__all__


@pytest.mark.parametrize("unicode", [True, False])
@pytest.mark.parametrize("text", ["\u2019 \u2028 \u20ac \u2029", "\u2027\u202a\u2fff", "\u3000 \x7f \u00e9"])
def test_renderer_escapes_only_the_line_separators(django_models, text, unicode):
    pytest.importorskip("rest_framework")
    from rest_framework import renderers

    from mervanta import rest_framework

    attrs = {"ensure_ascii": not unicode}
    theirs = type("Theirs", (renderers.JSONRenderer,), attrs)()
    ours = type("Ours", (rest_framework.JSONRenderer,), attrs)()
    data = {"text": text, "list": [text, {text: 1}]}
    assert ours.render(data) == theirs.render(data)
