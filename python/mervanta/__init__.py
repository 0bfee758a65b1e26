"""mervanta: a fast JSON encoder and decoder for CPython, with Django support."""

from mervanta._core import (
    __version__,
    deserialize_direct_fn,
    deserialize_strict_fn,
    dump,
    dump_queryset,
    dump_queryset_bytes,
    dumpb,
    dumps,
    load,
    loads,
    stream_dump_queryset,
    stream_dump_queryset_jsonl,
)

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
