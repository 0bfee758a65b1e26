import io
import json

import pytest


def export(*args, **options):
    from django.core.management import call_command

    out, err = io.StringIO(), io.StringIO()
    call_command("export_json", *args, stdout=out, stderr=err, **options)
    return out.getvalue(), err.getvalue()


def test_array_to_stdout_equals_values(books):
    out, err = export("djangoapp.Book", chunk_size=1)
    expected = json.loads(json.dumps(list(books.model.objects.values()), cls=_encoder()))
    assert json.loads(out) == expected
    assert f"Exported {len(expected)} rows of djangoapp.Book" in err


def _encoder():
    from mervanta.django import JSONEncoder

    return JSONEncoder


def test_lines_fields_and_file(books, tmp_path):
    target = tmp_path / "books.jsonl"
    out, err = export("djangoapp.Book", "--lines", "--fields", "title,price", "--output", str(target))
    assert out == ""
    rows = [json.loads(line) for line in target.read_text(encoding="utf-8").split("\n")[:-1]]
    assert rows == [dict(row, price=str(row["price"])) for row in books.model.objects.values("title", "price")]
    assert "Exported" in err


def test_empty_table_is_an_empty_array(django_models):
    assert json.loads(export("djangoapp.Node")[0]) == []


@pytest.mark.parametrize(
    "args,message",
    [
        (["nope.Model"], "Unknown model"),
        (["djangoapp.Book", "--fields", "title,missing"], "has no field 'missing'"),
        (["djangoapp.Book", "--chunk-size", "0"], "--chunk-size"),
    ],
)
def test_errors(django_models, args, message):
    from django.core.management import CommandError

    with pytest.raises(CommandError, match=message):
        export(*args)
