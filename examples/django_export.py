"""Export a Django table with mervanta.

Creates an in-memory SQLite database with one Django model, fills it with
100,000 rows, and exports them with dump_queryset (one JSON document) and with
stream_dump_queryset_jsonl (JSON Lines, written to a file in chunks). For
comparison it times json.dumps with Django's DjangoJSONEncoder over values()
and Django's own serializers.serialize("json", ...) on the same rows.

    pip install . django && python examples/django_export.py [--rows N]
"""

import argparse
import datetime as dt
import json
import os
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
    INSTALLED_APPS=[],
    DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": ":memory:"}},
    DEFAULT_AUTO_FIELD="django.db.models.AutoField",
)
django.setup()

from django.core import serializers  # noqa: E402
from django.core.serializers.json import DjangoJSONEncoder  # noqa: E402
from django.db import connection, models  # noqa: E402

import mervanta  # noqa: E402


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


def fill(count):
    with connection.schema_editor() as editor:
        editor.create_model(Sale)
    start = dt.datetime(2025, 1, 1, tzinfo=dt.timezone.utc)
    Sale.objects.bulk_create(
        (
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
            for i in range(count)
        ),
        batch_size=2000,
    )


def timed(label, rows, function):
    begin = time.perf_counter()
    result = function()
    seconds = time.perf_counter() - begin
    print(f"  {label:<52} {seconds:7.2f} s  {rows / seconds:11,.0f} rows/s")
    return result, seconds


def main():
    parser = argparse.ArgumentParser(description="Export Django rows with mervanta.")
    parser.add_argument("--rows", type=int, default=100_000)
    rows = parser.parse_args().rows

    print(f"Filling an in-memory SQLite table with {rows:,} rows ...")
    fill(rows)
    queryset = Sale.objects.order_by("id")
    print(f"Exporting {queryset.count():,} rows (query and encoding, each from a fresh queryset):")

    text, ours = timed("mervanta.dump_queryset(qs)", rows, lambda: mervanta.dump_queryset(queryset.all()))
    _, ours_values = timed(
        "mervanta.dump_queryset(qs.values())", rows, lambda: mervanta.dump_queryset(queryset.all().values())
    )
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "sales.jsonl")

        def stream():
            with open(path, "w", encoding="utf-8") as fp:
                mervanta.stream_dump_queryset_jsonl(queryset.all(), fp)

        _, streamed = timed("mervanta.stream_dump_queryset_jsonl -> file", rows, stream)
        with open(path, encoding="utf-8") as fp:
            lines = sum(1 for _ in fp)
        size = os.path.getsize(path)
    _, standard = timed(
        "json.dumps(list(qs.values()), cls=DjangoJSONEncoder)",
        rows,
        lambda: json.dumps(list(queryset.all().values()), cls=DjangoJSONEncoder),
    )
    _, django_own = timed('serializers.serialize("json", qs)', rows, lambda: serializers.serialize("json", queryset.all()))

    assert len(json.loads(text)) == rows and lines == rows
    print(f"\nOne document: {len(text):,} characters; JSON Lines file: {lines:,} lines, {size:,} bytes.")
    print("First row:", text[1 : text.index("}") + 1])
    print(
        f"Over values(), dump_queryset was {standard / ours_values:.1f}x as fast as json.dumps with "
        f"DjangoJSONEncoder; over model instances, {django_own / ours:.1f}x as fast as serializers.serialize.\n"
        f"Streaming to a file took {streamed / ours:.2f}x the time of dump_queryset, in bounded memory."
    )


if __name__ == "__main__":
    main()
