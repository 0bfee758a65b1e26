"""Per-value cost of writing dates, times, datetimes and UUIDs: mervanta.dumps
against json.dumps with Django's DjangoJSONEncoder, on lists of 10,000 values.

Run by hand:  python bench/bench_native_formats.py
"""

import datetime as dt
import json
import random
import time
import uuid

import mervanta

try:
    from django.core.serializers.json import DjangoJSONEncoder
except ImportError:  # pragma: no cover
    DjangoJSONEncoder = None

COUNT = 10_000


def samples():
    rng = random.Random(7)
    start = dt.datetime(2000, 1, 1)

    def moment():
        return start + dt.timedelta(seconds=rng.randrange(10**9), microseconds=rng.randrange(10**6))

    offset = dt.timezone(dt.timedelta(hours=2))
    return {
        "uuid": [uuid.UUID(int=rng.getrandbits(128)) for _ in range(COUNT)],
        "aware datetime": [moment().replace(tzinfo=dt.timezone.utc if i % 2 else offset) for i in range(COUNT)],
        "naive datetime": [moment() for _ in range(COUNT)],
        "date": [moment().date() for _ in range(COUNT)],
        "time": [moment().time() for _ in range(COUNT)],
    }


def per_value_ns(function, values, repeats=15):
    best = float("inf")
    for _ in range(repeats):
        began = time.process_time_ns()
        function(values)
        best = min(best, time.process_time_ns() - began)
    return best / len(values)


def main():
    print(f"{'values':<16}{'mervanta ns':>12}{'Django ns':>12}{'ratio':>8}")
    for name, values in samples().items():
        ours = per_value_ns(mervanta.dumps, values)
        if DjangoJSONEncoder is None:
            print(f"{name:<16}{ours:>12.0f}")
            continue
        peer = per_value_ns(lambda v: json.dumps(v, cls=DjangoJSONEncoder), values)
        print(f"{name:<16}{ours:>12.0f}{peer:>12.0f}{peer / ours:>8.1f}x")


if __name__ == "__main__":
    main()
