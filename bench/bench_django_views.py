"""Django views benchmark: mervanta.rest_framework.JSONRenderer against DRF's,
mervanta.django.JsonResponse against Django's (1,000 serialized rows of a
ten-field model); StreamingJsonResponse and export_json over a 20,000-row
eight-field SQLite table against iterating the same rows without encoding;
values() dicts against values_list() tuples; peak memory of streaming
10,000 against 1,000,000 rows. Ratios are measured in this one process.

Run by hand:  python bench/bench_django_views.py [--rows N] [--skip-memory]
"""

import argparse
import datetime as dt
import io
import json
import os
import subprocess
import sys
import tempfile
import time
import uuid
from decimal import Decimal

import django
from django.conf import settings

settings.configure(
    SECRET_KEY="bench",
    USE_TZ=True,
    TIME_ZONE="UTC",
    INSTALLED_APPS=["mervanta.django", "rest_framework"],
    DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": ":memory:"}},
    DEFAULT_AUTO_FIELD="django.db.models.AutoField",
)
django.setup()

from django.core.serializers.json import DjangoJSONEncoder  # noqa: E402
from django.db import connection, models  # noqa: E402
from django.http import JsonResponse as DjangoJsonResponse  # noqa: E402
from rest_framework import serializers  # noqa: E402
from rest_framework.renderers import JSONRenderer as DRFRenderer  # noqa: E402

from mervanta.django.management.commands.export_json import export  # noqa: E402
from mervanta.django import JsonResponse, StreamingJsonResponse  # noqa: E402
from mervanta.rest_framework import JSONRenderer  # noqa: E402


class Article(models.Model):
    """Ten fields, as a typical API row."""

    title = models.CharField(max_length=200)
    slug = models.SlugField()
    body = models.TextField()
    views = models.IntegerField()
    score = models.FloatField()
    price = models.DecimalField(max_digits=10, decimal_places=2)
    published = models.DateTimeField()
    token = models.UUIDField()
    active = models.BooleanField()

    class Meta:
        app_label = "bench"


class Order(models.Model):
    """Eight fields: Decimal, datetime, UUID, text and more."""

    customer = models.CharField(max_length=100)
    quantity = models.IntegerField()
    price = models.DecimalField(max_digits=10, decimal_places=2)
    created = models.DateTimeField()
    paid = models.BooleanField()
    reference = models.UUIDField()
    note = models.TextField()

    class Meta:
        app_label = "bench"


class ArticleSerializer(serializers.ModelSerializer):
    class Meta:
        model = Article
        fields = "__all__"


START = dt.datetime(2024, 1, 1, tzinfo=dt.timezone.utc)


def fill(articles, orders):
    with connection.schema_editor() as editor:
        editor.create_model(Article)
        editor.create_model(Order)
    Article.objects.bulk_create(
        Article(
            title=f"Article {i} \u00e9t\u00e9", slug=f"article-{i}", body="Lorem ipsum dolor sit amet " * 4,
            views=i * 37, score=i / 7, price=Decimal(i % 10000) / 100, published=START + dt.timedelta(minutes=i),
            token=uuid.UUID(int=i), active=i % 2 == 0,
        )
        for i in range(articles)
    )
    Order.objects.bulk_create(
        (
            Order(
                customer=f"Customer {i % 977}", quantity=i % 50, price=Decimal(i % 10000) / 100,
                created=START + dt.timedelta(seconds=37 * i, microseconds=i % 1000), paid=i % 3 == 0,
                reference=uuid.UUID(int=i * 7919), note="deliver to the back door" if i % 4 else "",
            )
            for i in range(orders)
        ),
        batch_size=2000,
    )


def best_of(repeats, function):
    """Least CPU time of this process over the repeats (CPU time, so that
    other load on the machine distorts the ratios less)."""
    times = []
    for _ in range(repeats):
        begin = time.process_time()
        function()
        times.append(time.process_time() - begin)
    return min(times)


def show(title, timings, baseline):
    print(f"\n{title}")
    for name, seconds in timings.items():
        print(f"  {name:<52} {seconds * 1000:9.2f} ms  x{seconds / timings[baseline]:6.2f}")


def consume(response):
    for _ in response.streaming_content:
        pass


def views():
    data = ArticleSerializer(Article.objects.all(), many=True).data
    theirs, ours = DRFRenderer(), JSONRenderer()
    assert json.loads(ours.render(data)) == json.loads(theirs.render(data))
    timings = {
        "DRF JSONRenderer.render": best_of(30, lambda: theirs.render(data)),
        "mervanta.rest_framework JSONRenderer.render": best_of(30, lambda: ours.render(data)),
        "django JsonResponse": best_of(30, lambda: DjangoJsonResponse({"results": data})),
        "mervanta.django JsonResponse": best_of(30, lambda: JsonResponse({"results": data})),
    }
    show(f"Encoding only: {len(data):,} serialized rows of a ten-field model", timings, "DRF JSONRenderer.render")
    renderer = timings["DRF JSONRenderer.render"] / timings["mervanta.rest_framework JSONRenderer.render"]
    response = timings["django JsonResponse"] / timings["mervanta.django JsonResponse"]
    print(f"  => renderer {renderer:.1f}x DRF's (target >= 5x); JsonResponse {response:.1f}x Django's (target >= 5x)")
    # Every title above holds non-ASCII letters; the renderer's str round trip
    # (dumps, then .encode()) costs most with those.
    ascii_rows = [dict(row, title=f"Article {row['id']}") for row in data]
    ascii_ratio = best_of(30, lambda: theirs.render(ascii_rows)) / best_of(30, lambda: ours.render(ascii_rows))
    print(f"  => renderer on the same rows with ASCII-only titles: {ascii_ratio:.1f}x DRF's")


def export_to(path):
    # The command's own writer (the bench app is not installed, so the
    # command cannot look the model up by label).
    with open(path, "wb") as out:
        export(Order.objects.values(), out.write, False, 2000, io.StringIO())


def streaming(rows):
    qs = Order.objects
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "orders.json")
        timings = {
            "iterate values().iterator() (no encoding)": best_of(5, lambda: [None for _ in qs.values().iterator(chunk_size=1000)]),
            "iterate values_list().iterator() (no encoding)": best_of(
                5, lambda: [None for _ in qs.values_list().iterator(chunk_size=1000)]
            ),
            "StreamingJsonResponse(values())": best_of(5, lambda: consume(StreamingJsonResponse(qs.values()))),
            "StreamingJsonResponse(values(), lines=True)": best_of(
                5, lambda: consume(StreamingJsonResponse(qs.values(), lines=True))
            ),
            "StreamingJsonResponse(values_list())": best_of(5, lambda: consume(StreamingJsonResponse(qs.values_list()))),
            "export_json to a file": best_of(5, lambda: export_to(path)),
            "json.dumps(list(values()), cls=DjangoJSONEncoder)": best_of(
                5, lambda: json.dumps(list(qs.values()), cls=DjangoJSONEncoder)
            ),
        }
    show(f"End to end: {rows:,} rows of an eight-field model in SQLite", timings, "iterate values().iterator() (no encoding)")
    floor = timings["iterate values().iterator() (no encoding)"]
    print(
        f"  => StreamingJsonResponse {timings['StreamingJsonResponse(values())'] / floor:.3f}x and export_json "
        f"{timings['export_json to a file'] / floor:.3f}x the time to iterate the rows (target <= 1.15x); "
        f"values_list() tuples {timings['StreamingJsonResponse(values_list())'] / timings['StreamingJsonResponse(values())']:.2f}x "
        "the time of values() dicts"
    )


MEMORY_CHILD = r"""
import datetime as dt, sys, uuid
from decimal import Decimal
import django
from django.conf import settings
settings.configure(SECRET_KEY="bench", USE_TZ=True, INSTALLED_APPS=[])
django.setup()
from mervanta.django import StreamingJsonResponse

def rows(count):
    start = dt.datetime(2024, 1, 1, tzinfo=dt.timezone.utc)
    for i in range(count):
        yield {"id": i, "customer": f"Customer {i % 977}", "price": Decimal(i % 10000) / 100,
               "created": start + dt.timedelta(seconds=i), "reference": uuid.UUID(int=i),
               "paid": i % 3 == 0, "weight": i / 8, "note": "deliver to the back door"}

size = 0
for chunk in StreamingJsonResponse(rows(int(sys.argv[1])), lines=sys.argv[2] == "lines").streaming_content:
    size += len(chunk)
# VmHWM belongs to this process image (ru_maxrss would carry the parent's peak).
with open("/proc/self/status") as status:
    print(size, next(line.split()[1] for line in status if line.startswith("VmHWM:")))
"""


def memory():
    print("\nPeak memory of a process streaming generated rows through StreamingJsonResponse:")
    for kind in ("array", "lines"):
        peaks = {}
        for count in (10_000, 1_000_000):
            out = subprocess.run([sys.executable, "-c", MEMORY_CHILD, str(count), kind], check=True, capture_output=True, text=True)
            size, peak = out.stdout.split()
            peaks[count] = int(peak) / 1024
            print(f"  {kind:<6} {count:>9,} rows ({int(size) / 1e6:7.1f} MB streamed): peak RSS {peaks[count]:6.1f} MiB")
        print(f"  => growth {peaks[1_000_000] - peaks[10_000]:.1f} MiB for 100x the rows (bound: 20 MB)")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--rows", type=int, default=20_000)
    parser.add_argument("--skip-memory", action="store_true")
    options = parser.parse_args()
    print(f"Python {sys.version.split()[0]}, Django {django.get_version()}")
    fill(1000, options.rows)
    views()
    streaming(options.rows)
    if not options.skip_memory:
        memory()


if __name__ == "__main__":
    main()
