"""Export a Django table with mervanta.

Fills an in-memory SQLite table with 100,000 sales (a progress bar while it
fills and while it exports, when tqdm is installed and the terminal shows it),
then:

- streams the table as JSON Lines to a file with StreamingJsonResponse, the way
  a view would, reading the rows in chunks: memory does not grow with the rows;
- prints END-TO-END figures (query + building rows + encoding) and
  ENCODING-ONLY figures (rows already in memory) against json.dumps with
  Django's DjangoJSONEncoder, each under its name.

    pip install django tqdm && python examples/django_export.py [--rows N]

(mervanta itself installed once with `pip install .`; the demo command installs
only Django and tqdm and rebuilds nothing.)
"""

import argparse
import datetime as dt
import json
import os
import resource
import sys
import tempfile
import time
import uuid
from decimal import Decimal

import django
from django.conf import settings

settings.configure(
    SECRET_KEY="demo",
    USE_TZ=True,
    TIME_ZONE="UTC",
    INSTALLED_APPS=["mervanta.django"],
    DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": ":memory:"}},
    DEFAULT_AUTO_FIELD="django.db.models.AutoField",
)
django.setup()

from django.core.serializers.json import DjangoJSONEncoder  # noqa: E402
from django.db import connection, models  # noqa: E402

import mervanta  # noqa: E402
from mervanta.django import StreamingJsonResponse  # noqa: E402

try:
    from tqdm import tqdm
except ImportError:  # the demo runs without it, silently
    tqdm = None


class Sale(models.Model):
    product = models.CharField(max_length=100)
    quantity = models.IntegerField()
    unit_price = models.DecimalField(max_digits=10, decimal_places=2)
    sold_at = models.DateTimeField()
    delivery = models.DateField(null=True)
    paid = models.BooleanField()
    receipt = models.UUIDField()
    discount = models.FloatField()

    class Meta:
        app_label = "demo"


def progress(iterable, total, what):
    if tqdm is None or not sys.stderr.isatty():
        return iterable
    return tqdm(iterable, total=total, desc=what, unit=" rows", unit_scale=True, file=sys.stderr)


def fill(count, batch=5000):
    with connection.schema_editor() as editor:
        editor.create_model(Sale)
    start = dt.datetime(2025, 1, 1, tzinfo=dt.timezone.utc)
    for first in progress(range(0, count, batch), (count + batch - 1) // batch, "filling (batches)"):
        Sale.objects.bulk_create(
            Sale(
                product=f"Produit n\u00b0{i % 500}",
                quantity=1 + i % 20,
                unit_price=Decimal(100 + i % 9900) / 100,
                sold_at=start + dt.timedelta(seconds=61 * i),
                delivery=None if i % 10 == 0 else dt.date(2025, 1, 2) + dt.timedelta(days=i % 365),
                paid=i % 4 != 0,
                receipt=uuid.UUID(int=i),
                discount=(i % 5) * 0.05,
            )
            for i in range(first, min(first + batch, count))
        )


def timed(function):
    begin = time.perf_counter()
    result = function()
    return result, time.perf_counter() - begin


def peak_mib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def stream_to_file(path, rows):
    """What a view returning StreamingJsonResponse sends, written to a file."""
    response = StreamingJsonResponse(Sale.objects.order_by("id").values(), lines=True, chunk_size=2000)
    with open(path, "wb") as out:
        for piece in progress(response.streaming_content, None, "exporting (pieces)"):
            out.write(piece)


def main():
    parser = argparse.ArgumentParser(description="Export Django rows with mervanta.")
    parser.add_argument("--rows", type=int, default=100_000)
    rows = parser.parse_args().rows

    print(f"Filling an in-memory SQLite table with {rows:,} rows ...")
    fill(rows)
    queryset = Sale.objects.order_by("id")

    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "sales.jsonl")
        before = peak_mib()
        _, streamed = timed(lambda: stream_to_file(path, rows))
        with open(path, encoding="utf-8") as fp:
            lines = sum(1 for _ in fp)
        size = os.path.getsize(path)
    print(
        f"\nStreamed {lines:,} rows ({size / 1e6:.1f} MB of JSON Lines) in {streamed:.2f} s; "
        f"peak memory of the process {before:.0f} MiB before, {peak_mib():.0f} MiB after "
        "(the rows are read 2,000 at a time, never all at once)."
    )

    print("\nEND TO END (query, Django building the rows, encoding):")
    _, iterate = timed(lambda: [None for _ in queryset.values().iterator(chunk_size=2000)])
    _, ours = timed(lambda: mervanta.dumpb(list(queryset.values())))
    _, theirs = timed(lambda: json.dumps(list(queryset.values()), cls=DjangoJSONEncoder))
    print(f"  only iterating the rows, no encoding                  {iterate:6.2f} s")
    print(f"  mervanta.dumpb(list(qs.values()))                    {ours:6.2f} s")
    print(f"  json.dumps(list(qs.values()), cls=DjangoJSONEncoder) {theirs:6.2f} s")
    print(f"  => end to end, mervanta is {theirs / ours:.1f}x as fast: Django building the rows is most of the time")

    print("\nENCODING ONLY (the same values() rows already in memory):")
    values = list(queryset.values())
    _, ours = timed(lambda: mervanta.dumpb(values))
    _, theirs = timed(lambda: json.dumps(values, cls=DjangoJSONEncoder))
    print(f"  mervanta.dumpb(rows)                                 {ours:6.3f} s")
    print(f"  json.dumps(rows, cls=DjangoJSONEncoder)              {theirs:6.3f} s")
    print(f"  => encoding only, mervanta is {theirs / ours:.1f}x as fast")
    print("\nFirst row:", mervanta.dumps(values[0], ensure_ascii=False))


if __name__ == "__main__":
    main()
