from collections.abc import Callable, Iterable
from typing import Any, Protocol

__version__: str
__all__: list[str]

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
) -> str: ...
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
) -> Any: ...
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
) -> None: ...
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
) -> Any: ...
def dumpb(obj: Any, pretty: bool = False) -> bytes: ...
def dump_queryset(queryset: Any) -> str: ...
def dump_queryset_bytes(queryset: Any) -> bytes: ...
def stream_dump_queryset(queryset: Iterable[Any], fp: _Writer, chunk_size: int = 1000) -> None: ...
def stream_dump_queryset_jsonl(queryset: Iterable[Any], fp: _Writer, chunk_size: int = 1000) -> None: ...
def deserialize_direct_fn(
    s: str,
    object_hook: Callable[[dict[str, Any]], Any] | None = None,
    object_pairs_hook: Callable[[list[list[Any]]], Any] | None = None,
    parse_float: Callable[[str], Any] | None = None,
    parse_int: Callable[[str], Any] | None = None,
) -> Any: ...
def deserialize_strict_fn(
    s: str,
    object_hook: Callable[[dict[str, Any]], Any] | None = None,
    object_pairs_hook: Callable[[list[list[Any]]], Any] | None = None,
    parse_float: Callable[[str], Any] | None = None,
    parse_int: Callable[[str], Any] | None = None,
) -> Any: ...
