"""Huge documents, run by hand (they need several GiB of memory and minutes):

    python scripts/huge_documents.py [--loads-gib 1.0] [--dumps-gib 2.2] [--skip-loads] [--skip-dumps]
                                     [--compare-json]

- loads of a document of about --loads-gib GiB (str and bytes input), checked
  element by element;
- dumps, dumpb and dump of a value whose text passes --dumps-gib GiB (more
  than 2 GiB by default, past every 32-bit length), checked by length, by its
  ends and by reading it back;
- a streamed dump of the same rows with the default chunk size.

Prints size, time and peak resident memory of each step; with
--compare-json, the standard library's time on the same input as a ratio.
"""

from __future__ import annotations

import argparse
import gc
import json
import resource
import sys
import time

import mervanta

GIB = 1024**3


def peak_rss_gib() -> float:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024 / GIB


def timed(label: str, call):
    gc.collect()
    start = time.perf_counter()
    result = call()
    elapsed = time.perf_counter() - start
    print(f"  {label:<44} {elapsed:8.2f} s   peak RSS {peak_rss_gib():6.2f} GiB", flush=True)
    return result, elapsed


def element(index: int) -> str:
    # About 1 KiB: mostly string bytes, with every kind of value around them.
    return ('{"id": %d, "name": "row \\u00e9 %d", "score": %d.25, "flags": [true, false, null],'
            ' "nested": {"a": [1, -2, 3e5]}, "text": "%s"}' % (index, index, index, "x" * 880))


def check_loads(gib: float, compare: bool) -> None:
    count = int(gib * GIB / len(element(0)))
    text = "[" + ", ".join(element(index) for index in range(count)) + "]"
    print(f"loads: {len(text) / GIB:.2f} GiB, {count} elements", flush=True)
    value, ours = timed("loads(str)", lambda: mervanta.loads(text))
    assert isinstance(value, list) and len(value) == count
    for index in (0, count // 2, count - 1):
        assert value[index] == json.loads(element(index)), index
    del value
    encoded = text.encode()
    value, _ = timed("loads(bytes)", lambda: mervanta.loads(encoded))
    assert len(value) == count and value[-1]["id"] == count - 1
    del value
    if compare:
        _, theirs = timed("json.loads(str)", lambda: json.loads(text))
        print(f"  loads time / json.loads time: {ours / theirs:.2f}")


def check_dumps(gib: float, compare: bool) -> None:
    piece = ("é" * 100 + "a" * 900 + "\n\t\"") * 1024  # ~1 MiB of text, with escapes
    row_bytes = len(mervanta.dumps([{"i": 0, "text": piece}]))  # ensure_ascii: é takes 6 bytes
    count = int(gib * GIB / row_bytes) + 1
    value = [{"i": index, "text": piece} for index in range(count)]
    print(f"dumps: {count} rows of {len(piece)} characters", flush=True)

    text, ours = timed("dumps (ensure_ascii)", lambda: mervanta.dumps(value))
    print(f"  output {len(text) / GIB:.2f} GiB")
    assert len(text) > 2 * GIB, "the document must pass 2 GiB"
    assert text.startswith('[{"i": 0, "text": "\\u00e9') and text.endswith('\\n\\t\\""}]')
    back, _ = timed("loads of that output", lambda: mervanta.loads(text))
    assert len(back) == count and back[-1] == value[-1]
    del back
    if compare:
        _, theirs = timed("json.dumps", lambda: json.dumps(value))
        print(f"  dumps time / json.dumps time: {ours / theirs:.2f}")
    del text

    data, _ = timed("dumpb", lambda: mervanta.dumpb(value))
    print(f"  output {len(data) / GIB:.2f} GiB")
    assert data.endswith(b'\\n\\t\\""}]') and data.count(b'"i": ') == count
    del data

    class Sink:
        def __init__(self):
            self.calls = 0
            self.size = 0

        def write(self, chunk):
            self.calls += 1
            self.size += len(chunk)

    sink = Sink()
    timed("dump(fp)", lambda: mervanta.dump(value, sink))
    assert sink.calls == 1 and sink.size > GIB
    sink = Sink()
    timed("stream_dump_queryset (default chunk)", lambda: mervanta.stream_dump_queryset(value, sink))
    print(f"  {sink.calls} writes, {sink.size / GIB:.2f} GiB")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--loads-gib", type=float, default=1.0)
    parser.add_argument("--dumps-gib", type=float, default=2.2)
    parser.add_argument("--skip-loads", action="store_true")
    parser.add_argument("--skip-dumps", action="store_true")
    parser.add_argument("--compare-json", action="store_true")
    options = parser.parse_args()
    print(f"mervanta {mervanta.__version__} on Python {sys.version.split()[0]}")
    if not options.skip_loads:
        check_loads(options.loads_gib, options.compare_json)
        gc.collect()
    if not options.skip_dumps:
        check_dumps(options.dumps_gib, options.compare_json)
    print("all huge-document checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
