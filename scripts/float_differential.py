"""Long differential run of the float writer and reader, by hand:

    python scripts/float_differential.py [--cases 30000000] [--seed 1]

The writer against repr()'s digits on random bit patterns, the reader against
float() on random digit strings (long mantissas, halfway cases, exponents past
both ends of the range). Prints the counts of cases and mismatches."""
import argparse
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests"))

import mervanta  # noqa: E402
from float_cases import (  # noqa: E402
    edge_doubles,
    halfway_texts,
    limit_texts,
    random_bit_patterns,
    random_decimal_texts,
    reference_text,
    same_double,
)

BATCH = 100_000


def check_writer(values):
    texts = mervanta.dumps(values, separators=(",", ":"))[1:-1].split(",")
    return [(v, t) for v, t in zip(values, texts) if t != reference_text(v)]


def check_reader(texts):
    values = mervanta.loads("[" + ",".join(texts) + "]")
    return [(t, v) for t, v in zip(texts, values) if not same_double(v, float(t))]


def run(label, check, batches):
    cases = wrong = 0
    started = time.monotonic()
    for batch in batches:
        mismatches = check(batch)
        cases += len(batch)
        wrong += len(mismatches)
        for mismatch in mismatches[:3]:
            print(f"{label} mismatch: {mismatch!r}", flush=True)
        if cases % (10 * BATCH) < len(batch):
            print(f"{label}: {cases} cases, {wrong} mismatches, {time.monotonic() - started:.0f} s", flush=True)
    print(f"{label}: {cases} cases, {wrong} mismatches", flush=True)
    return wrong


def writer_batches(cases, seed):
    yield edge_doubles()
    for index in range(max(1, cases // BATCH)):
        values = random_bit_patterns(BATCH, seed * 1_000_003 + index)
        yield values[: BATCH // 2] + [-v for v in values[BATCH // 2 :]]


def reader_batches(cases, seed):
    yield limit_texts()
    for index in range(max(1, cases // BATCH)):
        key = seed * 1_000_003 + index
        if index % 10 == 9:
            yield halfway_texts(BATCH // 2, key)
        elif index % 2:
            yield [repr(v) for v in random_bit_patterns(BATCH, key)]
        else:
            yield random_decimal_texts(BATCH, key)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cases", type=int, default=1_000_000, help="per direction")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--only", choices=["writer", "reader"])
    options = parser.parse_args()
    wrong = 0
    if options.only != "reader":
        wrong += run("writer", check_writer, writer_batches(options.cases, options.seed))
    if options.only != "writer":
        wrong += run("reader", check_reader, reader_batches(options.cases, options.seed))
    sys.exit(1 if wrong else 0)


if __name__ == "__main__":
    main()
