"""``json`` classes backed by the extension, for the places where Django (and
the standard library) take an encoder or decoder class."""

from __future__ import annotations

import json
from collections.abc import Callable
from typing import Any

from django.core.serializers.json import DjangoJSONEncoder
from django.db.models.fields.files import FieldFile

import mervanta
from mervanta._core import _dumpb_with


class _WholeDocument(Exception):
    """The extension handed the top-level value to ``default``: it could not
    write the document (or retried it after a failure)."""


def default(value: Any) -> Any:
    """``default`` hook for ``mervanta.dumps``: a file field as its stored
    name (``None`` when empty), anything else as ``DjangoJSONEncoder`` does."""
    if isinstance(value, FieldFile):
        return value.name or None
    return DjangoJSONEncoder.default(_DJANGO, value)


_DJANGO = DjangoJSONEncoder()


def _is_native_indent(indent: Any) -> bool:
    """Whether the extension can indent by ``indent``."""
    # The extension indents by an int 0..255; json also takes strings.
    return indent is None or (isinstance(indent, int) and 0 <= indent <= 255)


def stdlib_encode(encoder: json.JSONEncoder, obj: Any) -> str:
    """``obj`` written by the standard library's code with ``encoder``'s
    options and ``default`` (whatever ``encode`` the class overrides)."""
    if isinstance(obj, str):
        escape = json.encoder.encode_basestring_ascii if encoder.ensure_ascii else json.encoder.encode_basestring
        return escape(obj)
    return "".join(json.JSONEncoder.iterencode(encoder, obj, _one_shot=True))


def _dumps(obj: Any, ensure_ascii: bool, allow_nan: bool, indent: Any, separators: Any, sort_keys: bool, default: Any) -> str:
    """``mervanta.dumps`` with the arguments of ``_dumpb_with``."""
    return mervanta.dumps(
        obj,
        ensure_ascii=ensure_ascii,
        allow_nan=allow_nan,
        indent=indent,
        separators=separators,
        sort_keys=sort_keys,
        default=default,
    )


def _native(encoder: json.JSONEncoder, obj: Any, write: Callable[..., Any]) -> Any:
    """``obj`` written by ``write`` (``_dumps`` or ``_dumpb_with``) with
    ``encoder``'s options, its ``default`` called for values the extension
    does not know; ``None`` when the document must go to the standard
    library's path."""
    indent: Any = encoder.indent
    if not _is_native_indent(indent):
        return None
    hook_default = encoder.default

    def hook(value: Any) -> Any:
        """``default`` for nested values; the top-level value goes to ``fallback``."""
        # The extension retries the whole top-level value through the hook
        # after any failure; that call must not turn an error into text.
        if value is obj:
            raise _WholeDocument
        return hook_default(value)

    separators = (encoder.item_separator, encoder.key_separator)
    try:
        return write(obj, encoder.ensure_ascii, encoder.allow_nan, indent, separators, encoder.sort_keys, hook)
    except _WholeDocument:
        return None


def encode_with(encoder: json.JSONEncoder, obj: Any, fallback: Callable[[], str]) -> str:
    """``obj`` written by the extension with ``encoder``'s options, its
    ``default`` called for values the extension does not know.

    What the extension cannot write as a whole (non-str keys, NaN with
    ``allow_nan=False``, a cycle, an error raised by ``default``) goes to
    ``fallback``, the standard library's path, which writes it or raises
    exactly what ``json`` raises."""
    text = _native(encoder, obj, _dumps)
    if text is None:
        return fallback()
    if encoder.ensure_ascii and "\x7f" in text:
        # json escapes DEL under ensure_ascii; the extension writes it raw.
        text = text.replace("\x7f", "\\u007f")
    return text


def encode_bytes_with(encoder: json.JSONEncoder, obj: Any, fallback: Callable[[], str]) -> bytes:
    """``encode_with(...).encode()``, without the text in between when the
    extension writes the document."""
    body = _native(encoder, obj, _dumpb_with)
    if body is None:
        return fallback().encode()
    if encoder.ensure_ascii and b"\x7f" in body:
        body = body.replace(b"\x7f", b"\\u007f")
    return body


class JSONEncoder(DjangoJSONEncoder):
    """``DjangoJSONEncoder`` whose text is written by ``mervanta.dumps``.

    Use it wherever Django takes an encoder class: ``JsonResponse(encoder=)``,
    ``models.JSONField(encoder=)``, ``Client(json_encoder=)``,
    ``json.dumps(cls=)``. Options (``skipkeys``, ``ensure_ascii``,
    ``allow_nan``, ``sort_keys``, ``indent``, ``separators``) are honoured and
    ``default()`` (override it in a subclass) is called for values the
    extension does not write itself. Dates, times, durations, ``Decimal`` and
    ``UUID`` are written by the extension (see the README for the text)."""

    def default(self, o: Any) -> Any:
        """A file field as its stored name, else as ``DjangoJSONEncoder``."""
        if isinstance(o, FieldFile):
            return o.name or None
        return super().default(o)

    def encode(self, o: Any) -> str:
        """The JSON text of ``o``."""
        return encode_with(self, o, lambda: stdlib_encode(self, o))

    def iterencode(self, o: Any, _one_shot: bool = False) -> Any:
        """The text of ``o`` as one chunk."""
        return iter((self.encode(o),))


def _pairs_as_tuples(hook: Callable[[list[tuple[str, Any]]], Any]) -> Callable[[list[list[Any]]], Any]:
    """``hook`` given each pair as a tuple, as ``json`` gives it."""
    # The extension hands each pair over as a list; json gives tuples.
    return lambda pairs: hook([tuple(pair) for pair in pairs])


class JSONDecoder(json.JSONDecoder):
    """``json.JSONDecoder`` whose ``decode()`` parses with the extension,
    honouring ``object_hook``, ``object_pairs_hook``, ``parse_float``,
    ``parse_int`` and ``parse_constant``. Data after the value is an error, as
    in ``json``. Text the extension rejects (``NaN``, ``Infinity``, any error)
    is parsed again by ``json``, so errors are ``json.JSONDecodeError``.

    Use it as ``models.JSONField(decoder=JSONDecoder)`` or
    ``json.loads(text, cls=JSONDecoder)``."""

    def decode(self, s: str, _w: Any = None) -> Any:
        """The Python value of the JSON text ``s``."""
        pairs_hook = self.object_pairs_hook
        try:
            return mervanta.deserialize_strict_fn(
                s,
                object_hook=self.object_hook,
                object_pairs_hook=None if pairs_hook is None else _pairs_as_tuples(pairs_hook),
                parse_float=None if self.parse_float is float else self.parse_float,
                parse_int=None if self.parse_int is int else self.parse_int,
            )
        except ValueError:
            return super().decode(s)
