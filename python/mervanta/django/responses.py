"""HTTP responses whose JSON body is written by the extension."""

from __future__ import annotations

import codecs
import json
from typing import Any

from django.http import HttpResponse, StreamingHttpResponse

import mervanta
from mervanta.django.encoding import JSONEncoder, encode_bytes_with, encode_with, stdlib_encode
from mervanta.django.streaming import BatchWriter, stream_chunks, wants_async

_NOT_A_DICT = "In order to allow non-dict objects to be serialized set the safe parameter to False."


def _body(data: Any, encoder: type[json.JSONEncoder] | None, params: dict[str, Any], utf8: bool) -> bytes | str:
    """The response body: bytes from the extension, or text from an encoder
    (bytes only when the response's charset is UTF-8, as the text would be
    encoded)."""
    if encoder is None and not params:
        try:
            return mervanta.dumpb(data)
        except Exception:
            # Unknown values and the errors json would raise: the hook path.
            return JSONEncoder(ensure_ascii=False).encode(data)
    cls = encoder or JSONEncoder
    instance = cls(**params)
    own_code = cls.encode is not json.JSONEncoder.encode or cls.iterencode is not json.JSONEncoder.iterencode
    if issubclass(cls, JSONEncoder) and cls.encode is JSONEncoder.encode and utf8:
        return encode_bytes_with(instance, data, lambda: stdlib_encode(instance, data))
    if issubclass(cls, JSONEncoder) or own_code:
        return instance.encode(data)
    fallback = lambda: json.dumps(data, cls=cls, **params)  # noqa: E731
    return encode_bytes_with(instance, data, fallback) if utf8 else encode_with(instance, data, fallback)


class JsonResponse(HttpResponse):
    """Django's ``JsonResponse`` with the body written by the extension.

    Same signature and rules: ``safe=True`` accepts only a ``dict``,
    ``content_type`` defaults to ``application/json``. Without ``encoder``
    and ``json_dumps_params`` the body is compact UTF-8 (non-ASCII text is
    not escaped); values the extension does not know go to
    ``JSONEncoder.default``. With an ``encoder`` class, its options and
    ``default`` are used (an encoder that overrides ``encode`` is called
    itself)."""

    def __init__(
        self,
        data: Any,
        encoder: type[json.JSONEncoder] | None = None,
        safe: bool = True,
        json_dumps_params: dict[str, Any] | None = None,
        **kwargs: Any,
    ) -> None:
        """Builds the response; ``TypeError`` for a non-dict when ``safe``."""
        if safe and not isinstance(data, dict):
            raise TypeError(_NOT_A_DICT)
        kwargs.setdefault("content_type", "application/json")
        super().__init__(**kwargs)
        utf8 = codecs.lookup(self.charset).name == "utf-8"
        self.content = _body(data, encoder, json_dumps_params or {}, utf8)


class StreamingJsonResponse(StreamingHttpResponse):
    """A streamed JSON array of ``rows`` (JSON Lines with ``lines=True``,
    content type ``application/x-ndjson``), written ``chunk_size`` rows at a
    time, so memory does not grow with the number of rows.

    An unevaluated ``QuerySet`` is read with ``.iterator(chunk_size=...)``
    (``.aiterator()`` when asynchronous): its result cache is never filled.
    Prefer ``.values()`` or ``.values_list()`` querysets: model instances
    write each related object in full, with one query each.

    ``asynchronous`` picks the kind of ``streaming_content``: ``True`` under
    ASGI (an async iterator, no warning from Django), ``False`` under WSGI.
    ``None`` (default) decides from ``rows``: an async-only iterable streams
    asynchronously, a ``QuerySet`` does when the response is built inside a
    running event loop (an ``async def`` view), anything else synchronously.
    ``encoder`` is the class whose ``default`` writes unknown values."""

    def __init__(
        self,
        rows: Any,
        *,
        lines: bool = False,
        chunk_size: int = 1000,
        asynchronous: bool | None = None,
        encoder: type[json.JSONEncoder] | None = None,
        **kwargs: Any,
    ) -> None:
        """Builds the streamed response."""
        if not isinstance(chunk_size, int) or chunk_size < 1:
            raise ValueError(f"chunk_size must be a positive integer, not {chunk_size!r}")
        kwargs.setdefault("content_type", "application/x-ndjson" if lines else "application/json")
        if asynchronous is None:
            asynchronous = wants_async(rows)
        write = BatchWriter((encoder or JSONEncoder)(ensure_ascii=False), lines)
        content = stream_chunks(rows, chunk_size, asynchronous, write)
        super().__init__(content, **kwargs)
