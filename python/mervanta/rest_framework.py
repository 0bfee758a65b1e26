"""Django REST framework renderer and parser backed by the extension.

    REST_FRAMEWORK = {
        "DEFAULT_RENDERER_CLASSES": ["mervanta.rest_framework.JSONRenderer", ...],
        "DEFAULT_PARSER_CLASSES": ["mervanta.rest_framework.JSONParser", ...],
    }
"""

from __future__ import annotations

from typing import Any

from mervanta._requires import require

require("rest_framework", "mervanta.rest_framework", "rest")

import mervanta  # noqa: E402
from mervanta._core import _dumpb_with  # noqa: E402
from rest_framework import parsers, renderers  # noqa: E402
from rest_framework.exceptions import ParseError  # noqa: E402
from rest_framework.utils import json as drf_json  # noqa: E402

_SHORT = (",", ":")
_LONG = (", ", ": ")
_INDENTED = (",", ": ")
_LS = "\u2028".encode()
_PS = "\u2029".encode()


class _WholeDocument(Exception):
    """The extension handed the top-level value to ``default``."""


class JSONRenderer(renderers.JSONRenderer):
    """DRF's ``JSONRenderer`` with the text written by the extension.

    For serializer data the bytes equal DRF's under every combination of
    ``COMPACT_JSON``, ``UNICODE_JSON`` and ``STRICT_JSON``, except that a
    float whose shortest form has an exponent is written as ``1e-7`` (not
    ``1e-07``), and that with an indent empty containers keep a line break.
    Raw values DRF's encoder writes differently (datetime, Decimal,
    timedelta, bytes, sets) are listed in the README. What the extension
    cannot write (NaN under ``STRICT_JSON``, non-str keys, unknown values
    that the encoder class rejects) is rendered by DRF's own code, so the
    errors are DRF's."""

    def render(self, data: Any, accepted_media_type: str | None = None, renderer_context: Any = None) -> bytes:
        """``data`` as JSON bytes; ``None`` gives ``b""``."""
        if data is None:
            return b""
        indent = self.get_indent(accepted_media_type, renderer_context or {})
        if indent is None:
            separators = _SHORT if self.compact else _LONG
        elif not (isinstance(indent, int) and 0 <= indent <= 255):
            return super().render(data, accepted_media_type, renderer_context)
        else:
            separators = _INDENTED
        encoder_default = self.encoder_class().default

        def hook(value: Any) -> Any:
            """DRF's encoder for unknown values; the whole document goes to DRF's path."""
            # dumps retries the top-level value through the hook after any
            # failure (a NaN under STRICT_JSON among them): DRF's path decides.
            if value is data:
                raise _WholeDocument
            return encoder_default(value)

        try:
            body = _dumpb_with(data, self.ensure_ascii, not self.strict, indent, separators, False, hook)
        except _WholeDocument:
            return super().render(data, accepted_media_type, renderer_context)
        if self.ensure_ascii:
            # json escapes DEL under ensure_ascii; the extension writes it raw.
            if b"\x7f" in body:
                body = body.replace(b"\x7f", b"\\u007f")
        elif b"\xe2" in body:
            # Keep the text a JavaScript subset, as DRF does. b"\xe2" leads
            # U+2000..U+2FFF in UTF-8, and a one-byte search is memchr, far
            # cheaper than searching for the sequences themselves.
            body = body.replace(_LS, b"\\u2028").replace(_PS, b"\\u2029")
        return body


class JSONParser(parsers.JSONParser):
    """DRF's ``JSONParser`` with the body parsed by the extension.

    The body is decoded with the request's charset; data after the value is
    rejected; every decode error is DRF's ``ParseError``. A body the
    extension rejects is parsed again by DRF's own code, so ``NaN`` is
    accepted unless ``STRICT_JSON`` and the messages are DRF's. The
    extension accepts a few texts ``json`` rejects (leading zeros, ``1.``)."""

    renderer_class = JSONRenderer

    def parse(self, stream: Any, media_type: str | None = None, parser_context: Any = None) -> Any:
        """The Python value of the request body."""
        parser_context = parser_context or {}
        encoding = _encoding(parser_context)
        body = stream.read()
        try:
            return mervanta.deserialize_strict_fn(body.decode(encoding))
        except (ValueError, RecursionError):
            pass
        try:
            text = body.decode(encoding)
            parse_constant = drf_json.strict_constant if self.strict else None
            return drf_json.loads(text, parse_constant=parse_constant)
        except (ValueError, RecursionError) as exc:
            # Too deep a document is a client error too (DRF lets it escape).
            raise ParseError("JSON parse error - %s" % str(exc)) from exc


def _encoding(parser_context: Any) -> str:
    """The request's charset, checked as DRF checks it (when it can)."""
    get_encoding = getattr(parsers, "get_encoding", None)
    if get_encoding is not None:
        return get_encoding(parser_context)
    from django.conf import settings

    return parser_context.get("encoding", settings.DEFAULT_CHARSET)


__all__ = ["JSONParser", "JSONRenderer"]
