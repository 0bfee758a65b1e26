"""Time loads against the standard library json, orjson, msgspec and ujson.

Run by hand: python bench/bench_loads.py [repeat]
One process, one run; the libraries take turns round by round so that a burst
of machine noise hits them alike, and each keeps its best round. Prints each
library's time per document and its throughput as a ratio to the standard
library and to orjson.
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


def best_times(functions, data, repeat):
    best = {name: float("inf") for name in functions}
    for _ in range(repeat):
        for name, function in functions.items():
            start = time.perf_counter()
            function(data)
            best[name] = min(best[name], time.perf_counter() - start)
    return best


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
        if functions["mervanta"](data) != expected:
            raise SystemExit(f"mervanta decodes {document} differently from json")
        times = best_times(functions, data, repeat)
        for name, seconds in times.items():
            versus_json = times["json"] / seconds
            versus_orjson = times["orjson"] / seconds if "orjson" in times else float("nan")
            print(f"{document:<18}{name:<10}{seconds * 1e3:9.3f}{versus_json:10.2f}{versus_orjson:11.2f}")
        print()


if __name__ == "__main__":
    main()
