"""Time loads against the standard library json, orjson, msgspec and ujson.

Run by hand: python bench/bench_loads.py [repeat]
One process, one run; prints each library's time per document and its
throughput as a ratio to the standard library and to orjson.
"""

import json
import sys
import time
from pathlib import Path

import mervanta

CORPUS = Path(__file__).resolve().parents[1].parent / "shared" / "corpus" / "bench"
DOCUMENTS = ("twitter.json", "citm_catalog.json", "canada.json")


def peers():
    found = {"mervanta": mervanta.loads, "json": json.loads}
    for name in ("orjson", "msgspec", "ujson"):
        try:
            module = __import__(name)
        except ImportError:
            continue
        found[name] = module.json.decode if name == "msgspec" else module.loads
    return found


def best_time(function, data, repeat):
    timings = []
    for _ in range(repeat):
        start = time.perf_counter()
        function(data)
        timings.append(time.perf_counter() - start)
    return min(timings)


def main():
    repeat = int(sys.argv[1]) if len(sys.argv) > 1 else 30
    if not CORPUS.is_dir():
        print(f"corpus not found: {CORPUS}")
        return
    functions = peers()
    print(f"{'document':<18}{'library':<10}{'ms':>9}{'vs json':>10}{'vs orjson':>11}")
    for document in DOCUMENTS:
        data = (CORPUS / document).read_text(encoding="utf-8")
        expected = json.loads(data)
        times = {}
        for name, function in functions.items():
            if name == "mervanta" and function(data) != expected:
                raise SystemExit(f"mervanta decodes {document} differently from json")
            times[name] = best_time(function, data, repeat)
        for name, seconds in times.items():
            versus_json = times["json"] / seconds
            versus_orjson = times["orjson"] / seconds if "orjson" in times else float("nan")
            print(f"{document:<18}{name:<10}{seconds * 1e3:9.3f}{versus_json:10.2f}{versus_orjson:11.2f}")
        print()


if __name__ == "__main__":
    main()
