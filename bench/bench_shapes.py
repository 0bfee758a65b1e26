"""dumpb and loads against orjson on shapes of data the three corpora do not cover.

    python bench/bench_shapes.py [--rounds N]

Each shape is a list of 2,000 items. The string shapes run from short to long
in one process, as a server meets them: the C allocator's state carries over
from one size to the next, and the minor page faults per call show when it
hands memory back to the system and faults it in again on every call.
Figures are throughput ratios (above 1 is faster than orjson).
"""

import argparse
import json
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
    """(name, value, its JSON text) for each shape."""
    rng = random.Random(1)
    for length in (8, 24, 40, 70, 100, 200, 400, 1000):
        value = [prose(rng, length) for _ in range(ITEMS)]
        yield f"ASCII strings of ~{length} bytes", value, json.dumps(value)
    value = [f"héllo wörld {index} 日本語テキスト" for index in range(ITEMS)]
    yield "non-ASCII strings", value, json.dumps(value, ensure_ascii=False)
    yield "the same, escaped to ASCII", value, json.dumps(value)
    value = [f'he said "hi"\n{index}' for index in range(ITEMS)]
    yield "strings with escapes", value, json.dumps(value)
    value = [f"https://example.com/path/to/page{index}/index.html" for index in range(ITEMS)]
    yield "URLs with escaped slashes", value, json.dumps(value).replace("/", "\\/")
    yield "ints", *both(rng.randint(-(10**12), 10**12) for _ in range(ITEMS))
    yield "floats", *both(rng.random() * 1000 for _ in range(ITEMS))
    yield "records", *both({"id": index, "name": prose(rng, 12), "active": index % 3 == 0, "score": index / 7,
                            "tags": ["a", "b"]} for index in range(ITEMS))


def both(items):
    value = list(items)
    return value, json.dumps(value)


def timed(function, argument, calls):
    faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
    start = time.perf_counter()
    for _ in range(calls):
        function(argument)
    elapsed = time.perf_counter() - start
    return elapsed / calls, (resource.getrusage(resource.RUSAGE_SELF).ru_minflt - faults) / calls


def ratio(reference, candidate, argument, rounds):
    """Best-round time ratio and the candidate's page faults per call."""
    calls = max(1, int(0.02 / max(timed(reference, argument, 1)[0], 1e-7)))
    best = {reference: (float("inf"), 0.0), candidate: (float("inf"), 0.0)}
    for _ in range(rounds):
        for function in best:
            best[function] = min(best[function], timed(function, argument, calls))
    return best[reference][0] / best[candidate][0], best[candidate][1]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=7)
    rounds = parser.parse_args().rounds
    print(f"{'shape':<32}{'dumpb':>8}{'faults':>8}{'loads':>8}")
    for name, value, text in shapes():
        dumped, faults = ratio(orjson.dumps, mervanta.dumpb, value, rounds)
        loaded, _ = ratio(orjson.loads, mervanta.loads, text, rounds)
        print(f"{name:<32}{dumped:>8.2f}{faults:>8.1f}{loaded:>8.2f}")


if __name__ == "__main__":
    main()
