"""The native extension: the eleven functions re-exported by ``mervanta``."""

from collections.abc import Callable, Iterable
from typing import Any, Protocol

__version__: str
__all__ = [
    "dumps",
    "loads",
    "dump",
    "load",
    "dumpb",
    "dump_queryset",
    "dump_queryset_bytes",
    "stream_dump_queryset",
    "stream_dump_queryset_jsonl",
    "deserialize_direct_fn",
    "deserialize_strict_fn",
    "__version__",
]

class _Writer(Protocol):
    def write(self, text: str, /) -> Any: ...

class _Reader(Protocol):
    def read(self) -> str: ...

def dumps(
    obj: Any,
    skipkeys: bool = False,
    ensure_ascii: bool = True,
    check_circular: bool = True,
    allow_nan: bool = True,
    cls: Any = None,
    indent: int | None = None,
    separators: tuple[str, str] | None = None,
    default: Callable[[Any], Any] | None = None,
    sort_keys: bool = False,
    **_kw: Any,
) -> str:
    """``obj`` as JSON text, with the keywords of ``json.dumps``.

    ``indent`` pretty-prints when it is an int 0..255 (anything else gives
    compact text); ``separators`` replaces the item and key separators;
    ``default`` is called for values the encoder does not know, and once more
    on the whole ``obj`` when the first pass fails. Keys must be ``str``;
    ``skipkeys``, ``check_circular`` and ``cls`` are accepted and ignored.
    Dates, times, durations, ``Decimal``, ``UUID``, ``Enum`` members,
    dataclasses, sets, bytes (Base64) and Django models, querysets and lazy
    strings are written without ``default``."""

def loads(
    s: str | bytes | bytearray,
    cls: Any = None,
    object_hook: Callable[[dict[str, Any]], Any] | None = None,
    object_pairs_hook: Callable[[list[list[Any]]], Any] | None = None,
    parse_float: Callable[[str], Any] | None = None,
    parse_int: Callable[[str], Any] | None = None,
    parse_constant: Any = None,
    strict: bool = True,
    **_kw: Any,
) -> Any:
    """The Python value of the JSON text ``s`` (``str`` or UTF-8 bytes).

    The hooks work as in ``json.loads`` except that ``object_pairs_hook``
    receives ``[key, value]`` lists. Data after the value is ignored;
    ``NaN`` and ``Infinity`` are never accepted. Errors are ``ValueError``
    with the row and byte column."""

def dump(
    obj: Any,
    fp: _Writer,
    skipkeys: bool = False,
    ensure_ascii: bool = True,
    check_circular: bool = True,
    allow_nan: bool = True,
    cls: Any = None,
    indent: int | None = None,
    separators: tuple[str, str] | None = None,
    default: Callable[[Any], Any] | None = None,
    sort_keys: bool = False,
    **_kw: Any,
) -> None:
    """``dumps(obj, ...)`` written to ``fp`` with one ``fp.write`` call."""

def load(
    fp: _Reader,
    cls: Any = None,
    object_hook: Callable[[dict[str, Any]], Any] | None = None,
    object_pairs_hook: Callable[[list[list[Any]]], Any] | None = None,
    parse_float: Callable[[str], Any] | None = None,
    parse_int: Callable[[str], Any] | None = None,
    parse_constant: Any = None,
    strict: bool = True,
    **_kw: Any,
) -> Any:
    """``loads(fp.read(), ...)``; ``fp.read()`` must return ``str`` (a text
    file), whose surrounding Unicode whitespace is trimmed."""

def dumpb(obj: Any, pretty: bool = False) -> bytes:
    """``obj`` as compact UTF-8 JSON ``bytes`` (non-ASCII not escaped);
    ``pretty`` indents by two spaces. No ``default`` hook: an unknown value
    raises ``TypeError``."""

def _dumpb_with(
    obj: Any,
    ensure_ascii: bool,
    allow_nan: bool,
    indent: int | None,
    separators: tuple[str, str] | None,
    sort_keys: bool,
    default: Callable[[Any], Any] | None,
) -> bytes:
    """``dumps(obj, ensure_ascii=..., allow_nan=..., indent=..., separators=...,
    sort_keys=..., default=...).encode()`` without the ``str`` in between:
    the same encoder, the same errors, UTF-8 ``bytes``. Private: for the
    Django and REST framework modules."""

def dump_queryset(queryset: Any) -> str:
    """A queryset (or any value) as one compact JSON document. A queryset is
    iterated as Django iterates it, filling its result cache; model
    instances write every related object in full."""

def dump_queryset_bytes(queryset: Any) -> bytes:
    """``dump_queryset`` as UTF-8 ``bytes``: the same bytes as ``dumpb``."""

def stream_dump_queryset(queryset: Iterable[Any], fp: _Writer, chunk_size: int = 1000) -> None:
    """The rows of ``queryset`` written to ``fp`` as one JSON array, handed to
    ``fp.write`` whenever about ``chunk_size`` x 128 bytes are buffered.
    Pass ``qs.iterator()`` (or use ``mervanta.django``) to keep a QuerySet's
    result cache empty. A failure leaves what was written, without ``]``."""

def stream_dump_queryset_jsonl(queryset: Iterable[Any], fp: _Writer, chunk_size: int = 1000) -> None:
    """``stream_dump_queryset`` as JSON Lines: each row followed by a newline."""

def deserialize_direct_fn(
    s: str,
    object_hook: Callable[[dict[str, Any]], Any] | None = None,
    object_pairs_hook: Callable[[list[list[Any]]], Any] | None = None,
    parse_float: Callable[[str], Any] | None = None,
    parse_int: Callable[[str], Any] | None = None,
) -> Any:
    """The Python value of the JSON text ``s``; data after the value is ignored."""

def deserialize_strict_fn(
    s: str,
    object_hook: Callable[[dict[str, Any]], Any] | None = None,
    object_pairs_hook: Callable[[list[list[Any]]], Any] | None = None,
    parse_float: Callable[[str], Any] | None = None,
    parse_int: Callable[[str], Any] | None = None,
) -> Any:
    """The Python value of the JSON text ``s``; only whitespace may follow it."""
