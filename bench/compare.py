"""mervanta, orjson, msgspec and the standard library's json, side by side.

    python bench/compare.py [--corpus DIR] [--repeats N] [--target-ms MS]

Every candidate of one cell takes its turn in each round, in one process, and
keeps its best round, so load on the machine shifts all of them alike. Each
table gives throughput relative to the reference in its title (above 1 is
faster); its last line is the reference's own time per call.
"""

import argparse
import datetime
import json
import platform
import sys
import time
from pathlib import Path

import mervanta

try:
    import orjson
except ImportError:
    sys.exit("orjson is needed: it is the reference of every table")
try:
    import msgspec
except ImportError:
    msgspec = None

CORPUS = Path(__file__).resolve().parents[2] / "shared" / "corpus" / "bench"
DOCS = ["twitter", "citm_catalog", "canada"]
SMALL = "100-byte"
SMALL_DOC = {"id": 12345, "name": "Alice Smith", "email": "alice@example.com", "active": True, "score": 98.6,
             "tags": ["a", "b"]}


def candidates():
    """Per operation: (name, function of (data, text, raw)); the reference first."""
    ops = {
        "dumpb / orjson.dumps": [
            ("orjson.dumps", lambda d, t, r: orjson.dumps(d)),
            ("mervanta.dumpb", lambda d, t, r: mervanta.dumpb(d)),
        ],
        "dumps / orjson.dumps + decode": [
            ("orjson.dumps+decode", lambda d, t, r: orjson.dumps(d).decode()),
            ("mervanta.dumps", lambda d, t, r: mervanta.dumps(d)),
            ("json.dumps", lambda d, t, r: json.dumps(d)),
        ],
        "loads(str) / orjson.loads(str)": [
            ("orjson.loads", lambda d, t, r: orjson.loads(t)),
            ("mervanta.loads", lambda d, t, r: mervanta.loads(t)),
            ("json.loads", lambda d, t, r: json.loads(t)),
        ],
        "loads(bytes) / loads(str) of the same library": [
            ("mervanta.loads(str)", lambda d, t, r: mervanta.loads(t)),
            ("mervanta.loads(bytes)", lambda d, t, r: mervanta.loads(r)),
        ],
    }
    if msgspec is not None:
        encoder, decoder = msgspec.json.Encoder(), msgspec.json.Decoder()
        ops["dumpb / orjson.dumps"].append(("msgspec.encode", lambda d, t, r: encoder.encode(d)))
        ops["dumps / orjson.dumps + decode"].append(("msgspec.encode+decode", lambda d, t, r: encoder.encode(d).decode()))
        ops["loads(str) / orjson.loads(str)"].append(("msgspec.decode", lambda d, t, r: decoder.decode(t)))
    return ops


def load_docs(corpus):
    docs = {}
    for name in DOCS:
        path = corpus / f"{name}.json"
        if path.is_file():
            raw = path.read_bytes()
            docs[name] = (json.loads(raw), raw.decode(), raw)
    raw = orjson.dumps(SMALL_DOC)
    docs[SMALL] = (SMALL_DOC, raw.decode(), raw)
    return docs


def calls_per_round(function, args, target):
    """Enough calls for one round to take about `target` seconds."""
    count = 1
    while True:
        start = time.perf_counter()
        for _ in range(count):
            function(*args)
        if time.perf_counter() - start >= target / 4:
            return max(1, int(count * target / (time.perf_counter() - start)))
        count *= 4


def best_times(functions, args, repeats, target):
    """Best seconds per call of each function, the functions taking turns."""
    counts = [calls_per_round(function, args, target) for function in functions]
    best = [float("inf")] * len(functions)
    for _ in range(repeats):
        for i, function in enumerate(functions):
            start = time.perf_counter()
            for _ in range(counts[i]):
                function(*args)
            best[i] = min(best[i], (time.perf_counter() - start) / counts[i])
    return best


def microseconds(seconds):
    us = seconds * 1e6
    return f"{us:.0f}" if us >= 100 else f"{us:.1f}" if us >= 10 else f"{us:.3f}"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--corpus", type=Path, default=CORPUS, help="folder of twitter/citm_catalog/canada.json")
    parser.add_argument("--repeats", type=int, default=15, help="rounds per cell (best one kept)")
    parser.add_argument("--target-ms", type=float, default=5.0, help="length of one round of one candidate")
    options = parser.parse_args()

    docs = load_docs(options.corpus)
    names = list(docs)
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    print(f"{now}; {platform.python_implementation()} {platform.python_version()} on {platform.machine()}; "
          f"mervanta {mervanta.__version__}, orjson {orjson.__version__}"
          + (f", msgspec {msgspec.__version__}" if msgspec else ""))
    print(f"best of {options.repeats} interleaved rounds; ratio = reference time / candidate time")
    for title, entries in candidates().items():
        print(f"\n{title}")
        print(f"  {'':24}" + "".join(f"{name:>14}" for name in names))
        cells = {name: best_times([f for _, f in entries], docs[name], options.repeats, options.target_ms / 1000)
                 for name in names}
        for row, (label, _) in enumerate(entries[1:], start=1):
            print(f"  {label:24}" + "".join(f"{cells[name][0] / cells[name][row]:14.2f}" for name in names))
        print(f"  {entries[0][0] + ' (us)':24}" + "".join(f"{microseconds(cells[name][0]):>14}" for name in names))
    return 0


if __name__ == "__main__":
    sys.exit(main())
