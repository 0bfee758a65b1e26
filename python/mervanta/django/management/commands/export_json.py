"""``manage.py export_json app_label.ModelName``: a model's rows as JSON."""

from __future__ import annotations

import sys
import time
from collections.abc import Callable, Iterable
from typing import Any, TextIO

from django.apps import apps
from django.core.exceptions import FieldDoesNotExist
from django.core.management.base import BaseCommand, CommandError

from mervanta.django.encoding import JSONEncoder
from mervanta.django.streaming import BatchWriter, stream_chunks


def _progress(rows: Iterable[Any], queryset: Any, stream: TextIO) -> Iterable[Any]:
    """``rows`` with a progress bar on ``stream`` when it is a terminal and
    tqdm (the ``progress`` extra) is installed."""
    if not stream.isatty():
        return rows
    try:
        from tqdm import tqdm
    except ImportError:
        return rows
    return tqdm(rows, total=queryset.count(), file=stream, unit=" rows", unit_scale=True)


def _stdout_writer(out: Any) -> Callable[[bytes], Any]:
    """Bytes to the command's stdout: straight to the binary buffer of a real
    stream, decoded for a text-only one (``call_command(stdout=StringIO())``)."""
    binary = getattr(getattr(out, "_out", None), "buffer", None)
    if binary is not None:
        out.flush()
        return binary.write
    return lambda piece: out.write(piece.decode(), ending="")


def export(queryset: Any, write: Callable[[bytes], Any], lines: bool, chunk_size: int, progress_to: TextIO) -> int:
    """Hands the rows of ``queryset``, as UTF-8 JSON pieces, to ``write``
    without filling the result cache; returns the number of rows."""
    rows = _progress(queryset.iterator(chunk_size=chunk_size), queryset, progress_to)
    encode = BatchWriter(JSONEncoder(ensure_ascii=False), lines)
    for piece in stream_chunks(rows, chunk_size, False, encode):
        write(piece)
    return encode.rows


class Command(BaseCommand):
    """``export_json app_label.ModelName``."""

    help = (
        "Write a model's rows (values() rows) as one JSON array, or as JSON Lines, "
        "reading and writing in chunks so memory stays flat. Only the JSON goes "
        "to the output; counts, timings and the progress bar go to standard error."
    )

    def add_arguments(self, parser: Any) -> None:
        """The model label and the options."""
        parser.add_argument("model", help="app_label.ModelName")
        parser.add_argument("--output", "-o", help="file to write (default: standard output)")
        parser.add_argument("--lines", action="store_true", help="JSON Lines: one row per line")
        parser.add_argument("--fields", help="comma-separated field names (default: all concrete fields)")
        parser.add_argument("--chunk-size", type=int, default=2000, help="rows per database read (default 2000)")

    def handle(self, *args: Any, **options: Any) -> None:
        """Exports the rows; the report goes to standard error."""
        model = self._model(options["model"])
        fields = self._fields(model, options["fields"])
        chunk_size = options["chunk_size"]
        if chunk_size < 1:
            raise CommandError("--chunk-size must be 1 or more")
        queryset = model._default_manager.values(*fields)
        started = time.perf_counter()
        if options["output"]:
            with open(options["output"], "wb") as out:
                count = export(queryset, out.write, options["lines"], chunk_size, self._stderr_stream())
        else:
            count = export(queryset, _stdout_writer(self.stdout), options["lines"], chunk_size, self._stderr_stream())
            if not options["lines"]:
                self.stdout.write("")
        elapsed = time.perf_counter() - started
        self.stderr.write(
            f"Exported {count} rows of {model._meta.label} in {elapsed:.2f} s",
            style_func=lambda text: text,
        )

    def _stderr_stream(self) -> TextIO:
        """The stream under the command's stderr wrapper."""
        return getattr(self.stderr, "_out", sys.stderr)

    @staticmethod
    def _model(label: str) -> Any:
        """The model class named ``app_label.ModelName``."""
        try:
            return apps.get_model(label)
        except (LookupError, ValueError) as exc:
            raise CommandError(f"Unknown model {label!r}: use app_label.ModelName") from exc

    @staticmethod
    def _fields(model: Any, names: str | None) -> list[str]:
        """The checked field names of ``--fields`` (all when empty)."""
        if not names:
            return []
        fields = [name.strip() for name in names.split(",") if name.strip()]
        for name in fields:
            try:
                model._meta.get_field(name)
            except FieldDoesNotExist as exc:
                raise CommandError(f"{model._meta.label} has no field {name!r}") from exc
        return fields
