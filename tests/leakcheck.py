"""Helpers for the reliability tests: leak checks and availability probes.

`assert_no_leak(call)` runs `call` many times and fails when the
interpreter's allocated blocks, the C heap in use or the resident set keep
growing from round to round. A real leak grows in every round; noise (free
lists, caches filling, the allocator keeping pages) does not, so the check
looks at the smallest growth over several rounds after a warm-up.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import gc
import io
import os
import sys
from dataclasses import dataclass
from functools import cache

import pytest

import mervanta

# The sanitizer run routes every allocation through the checked allocator
# (PYTHONMALLOC=malloc), which leaves no block count and makes RSS meaningless.
SANITIZED = os.environ.get("MERVANTA_SANITIZED") == "1"


# --- availability -------------------------------------------------------------

_PROBES = {
    "dumps": lambda: mervanta.dumps(1),
    "dump": lambda: mervanta.dump(1, io.StringIO()),
    "dumpb": lambda: mervanta.dumpb(1),
    "dump_queryset": lambda: mervanta.dump_queryset([]),
    "dump_queryset_bytes": lambda: mervanta.dump_queryset_bytes([]),
    "stream_dump_queryset": lambda: mervanta.stream_dump_queryset([], io.StringIO()),
    "stream_dump_queryset_jsonl": lambda: mervanta.stream_dump_queryset_jsonl([], io.StringIO()),
    "loads": lambda: mervanta.loads("1"),
    "load": lambda: mervanta.load(io.StringIO("1")),
    "deserialize_direct_fn": lambda: mervanta.deserialize_direct_fn("1"),
    "deserialize_strict_fn": lambda: mervanta.deserialize_strict_fn("1"),
}

ALL_FUNCTIONS = tuple(_PROBES)


@cache
def implemented(name: str) -> bool:
    """False while the function is still a stub raising NotImplementedError."""
    try:
        _PROBES[name]()
    except NotImplementedError:
        return False
    return True


def need(*names: str) -> None:
    """Skips the calling test unless every named function is implemented."""
    missing = [name for name in names if not implemented(name)]
    if missing:
        pytest.skip("not implemented yet: " + ", ".join(missing))


# --- measurements --------------------------------------------------------------


class _Mallinfo2(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_size_t)
        for name in ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                     "keepcost")
    ]


def _load_mallinfo2():
    if SANITIZED or not sys.platform.startswith("linux"):
        return None
    try:
        libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6")
        function = libc.mallinfo2
    except (OSError, AttributeError):
        return None
    function.restype = _Mallinfo2
    function.argtypes = []
    return function


_mallinfo2 = _load_mallinfo2()


def heap_in_use() -> int:
    """Bytes of the C heap in use (glibc), or 0 where that cannot be read."""
    if _mallinfo2 is None:
        return 0
    info = _mallinfo2()
    return info.uordblks + info.hblkhd


def resident_bytes() -> int:
    """Resident set size of the process, or 0 where that cannot be read."""
    if SANITIZED:
        return 0
    try:
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    except (OSError, ValueError, IndexError):
        return 0


@dataclass
class Sample:
    blocks: int
    heap: int
    rss: int


def _sample() -> Sample:
    gc.collect()
    return Sample(sys.getallocatedblocks(), heap_in_use(), resident_bytes())


# --- the check ---------------------------------------------------------------------


def _growth(call, calls_per_round: int, rounds: int) -> list[tuple[int, int, int]]:
    deltas = []
    before = _sample()
    for _ in range(rounds):
        for _ in range(calls_per_round):
            call()
        after = _sample()
        deltas.append((after.blocks - before.blocks, after.heap - before.heap, after.rss - before.rss))
        before = after
    return deltas


def _leaking(deltas, calls_per_round: int) -> str | None:
    block_tolerance = max(16, calls_per_round // 10)
    # 64 bytes a call is below anything the module allocates per call.
    heap_tolerance = max(64 * 1024, calls_per_round * 64)
    rss_tolerance = max(1024 * 1024, calls_per_round * 512)
    blocks = min(d[0] for d in deltas)
    heap = min(d[1] for d in deltas)
    rss = min(d[2] for d in deltas)
    if blocks > block_tolerance:
        return f"allocated blocks grew by at least {blocks} in every round of {calls_per_round} calls"
    if heap > heap_tolerance:
        return f"C heap grew by at least {heap} bytes in every round of {calls_per_round} calls"
    if rss > rss_tolerance:
        return f"resident memory grew by at least {rss} bytes in every round of {calls_per_round} calls"
    return None


def assert_no_leak(call, *, calls_per_round: int = 200, rounds: int = 5, warmup: int = 100) -> None:
    """Fails when repeated calls of `call()` keep allocating memory.

    `call` must swallow the exceptions it expects; anything else escapes and
    fails the test. A suspected leak is measured once more before failing,
    so a single unlucky run does not fail the suite.
    """
    if SANITIZED:
        pytest.skip("leak measurements need the interpreter's own allocator")
    for _ in range(warmup):
        call()
    verdict = _leaking(_growth(call, calls_per_round, rounds), calls_per_round)
    if verdict is not None:
        verdict = _leaking(_growth(call, calls_per_round, rounds), calls_per_round)
    assert verdict is None, verdict


def swallowing(function, *exceptions):
    """`function` wrapped so that the given exceptions count as an outcome."""

    def call():
        try:
            function()
        except exceptions:
            pass

    return call
