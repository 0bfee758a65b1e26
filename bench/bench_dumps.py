"""Encoding throughput of mervanta against its peers, one process, one run.

    python bench/bench_dumps.py [--seconds 1.0]

Prints MB/s per library and corpus, and each as a ratio to the standard
library and to orjson. Skips corpora or peers that are not available.
"""
import argparse
import json
import sys
import time
from pathlib import Path

import mervanta

CORPUS = Path(__file__).resolve().parents[2] / "shared" / "corpus" / "bench"
NAMES = ["twitter.json", "citm_catalog.json", "canada.json"]


def peers():
    candidates = {"mervanta.dumpb": mervanta.dumpb, "mervanta.dumps": mervanta.dumps, "json.dumps": json.dumps}
    try:
        import orjson
        candidates["orjson.dumps"] = orjson.dumps
    except ImportError:
        pass
    try:
        import msgspec
        candidates["msgspec.json.encode"] = msgspec.json.encode
    except ImportError:
        pass
    try:
        import ujson
        candidates["ujson.dumps"] = ujson.dumps
    except ImportError:
        pass
    return candidates


def best_time(function, value, seconds):
    function(value)
    runs = []
    deadline = time.perf_counter() + seconds
    while time.perf_counter() < deadline or len(runs) < 5:
        start = time.perf_counter()
        function(value)
        runs.append(time.perf_counter() - start)
    return min(runs)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=1.0)
    options = parser.parse_args()
    if not CORPUS.is_dir():
        print(f"corpus not found at {CORPUS}; nothing to measure")
        return 0
    candidates = peers()
    print(f"Python {sys.version.split()[0]}; best of repeated runs over {options.seconds}s each")
    for name in NAMES:
        path = CORPUS / name
        if not path.exists():
            continue
        value = json.loads(path.read_text(encoding="utf-8"))
        size = len(json.dumps(value).encode())
        times = {label: best_time(function, value, options.seconds) for label, function in candidates.items()}
        print(f"\n{name} ({size / 1e6:.2f} MB as JSON)")
        print(f"  {'library':22} {'MB/s':>9} {'x json':>8} {'x orjson':>9}")
        for label, seconds in times.items():
            ratio_json = times["json.dumps"] / seconds
            ratio_orjson = times["orjson.dumps"] / seconds if "orjson.dumps" in times else float("nan")
            print(f"  {label:22} {size / seconds / 1e6:9.1f} {ratio_json:8.2f} {ratio_orjson:9.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
