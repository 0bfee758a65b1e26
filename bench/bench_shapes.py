"""dumpb against orjson.dumps on shapes of data the three corpora do not cover.

    python bench/bench_shapes.py [--rounds N]

Each shape is a list of 2,000 items. The string shapes run from short to long
in one process, as a server meets them: the C allocator's state carries over
from one size to the next, and the minor page faults per call show when it
hands memory back to the system and faults it in again on every call.
Figures are throughput ratios (above 1 is faster than orjson).
"""

import argparse
import random
import resource
import time

import orjson

import mervanta

ITEMS = 2000
WORDS = "lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor".split()


def prose(rng, length):
    text = ""
    while len(text) < length:
        text += rng.choice(WORDS) + " "
    return text[: length + rng.randint(-5, 5)]


def shapes():
    rng = random.Random(1)
    for length in (8, 24, 40, 70, 100, 200, 400, 1000):
        yield f"ASCII strings of ~{length} bytes", [prose(rng, length) for _ in range(ITEMS)]
    yield "non-ASCII strings", [f"héllo wörld {index} 日本語テキスト" for index in range(ITEMS)]
    yield "strings with escapes", [f'he said "hi"\n{index}' for index in range(ITEMS)]
    yield "ints", [rng.randint(-(10**12), 10**12) for _ in range(ITEMS)]
    yield "floats", [rng.random() * 1000 for _ in range(ITEMS)]
    yield "records", [{"id": index, "name": prose(rng, 12), "active": index % 3 == 0, "score": index / 7,
                       "tags": ["a", "b"]} for index in range(ITEMS)]


def timed(function, value, calls):
    faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
    start = time.perf_counter()
    for _ in range(calls):
        function(value)
    elapsed = time.perf_counter() - start
    return elapsed / calls, (resource.getrusage(resource.RUSAGE_SELF).ru_minflt - faults) / calls


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=7)
    rounds = parser.parse_args().rounds
    print(f"{'shape':<32}{'ratio':>8}{'orjson us':>11}{'faults/call':>13}")
    for name, value in shapes():
        calls = max(1, int(0.02 / max(timed(orjson.dumps, value, 1)[0], 1e-7)))
        best = {"orjson": (float("inf"), 0.0), "mervanta": (float("inf"), 0.0)}
        for _ in range(rounds):
            for label, function in (("orjson", orjson.dumps), ("mervanta", mervanta.dumpb)):
                best[label] = min(best[label], timed(function, value, calls))
        ratio = best["orjson"][0] / best["mervanta"][0]
        print(f"{name:<32}{ratio:>8.2f}{best['orjson'][0] * 1e6:>11.1f}{best['mervanta'][1]:>13.1f}")


if __name__ == "__main__":
    main()
