import datetime as dt
import uuid
from decimal import Decimal

import pytest


@pytest.fixture(scope="module")
def books(django_models):
    """Three books in the database, removed after the module (other test
    modules count the rows of these tables)."""
    m = django_models
    author = m.Author.objects.create(name="Ada \u00e9\u2028", born=dt.date(1815, 12, 10))
    for i in range(3):
        m.Book.objects.create(
            title=f"shelf {i} \x7f\u2029 \U0001f600",
            author=author,
            published=dt.date(2020, 1, i + 1),
            updated=dt.datetime(2021, 2, 3, 4, 5, 6, 123456, tzinfo=dt.timezone.utc),
            price=Decimal("12.50"),
            uid=uuid.UUID(int=i),
            reading_time=dt.timedelta(hours=i, seconds=1),
            rating=0.1 * i,
        )
    yield m.Book.objects.filter(title__startswith="shelf ")
    m.Book.objects.filter(title__startswith="shelf ").delete()
    author.delete()
