import uuid

from django.db import models
from django.utils.translation import gettext_lazy


class Author(models.Model):
    name = models.CharField(max_length=100)
    born = models.DateField(null=True)

    class Meta:
        app_label = "djangoapp"


class Publisher(models.Model):
    name = models.CharField(max_length=100, verbose_name=gettext_lazy("publisher name"))

    class Meta:
        app_label = "djangoapp"


class Book(models.Model):
    title = models.CharField(max_length=200)
    author = models.ForeignKey(Author, on_delete=models.CASCADE)
    publisher = models.ForeignKey(Publisher, null=True, on_delete=models.SET_NULL)
    published = models.DateField()
    updated = models.DateTimeField()
    price = models.DecimalField(max_digits=8, decimal_places=2)
    uid = models.UUIDField(default=uuid.uuid4)
    reading_time = models.DurationField()
    extra = models.JSONField(default=dict)
    rating = models.FloatField(null=True)
    in_print = models.BooleanField(default=True)

    class Meta:
        app_label = "djangoapp"
        ordering = ["id"]


class Node(models.Model):
    name = models.CharField(max_length=50)
    parent = models.ForeignKey("self", null=True, on_delete=models.SET_NULL)

    class Meta:
        app_label = "djangoapp"


class Unmigrated(models.Model):
    """Never created in the database: querying it fails."""

    name = models.CharField(max_length=50)

    class Meta:
        app_label = "djangoapp"


def _mervanta_json_classes():
    from mervanta.django import JSONDecoder, JSONEncoder

    return JSONEncoder, JSONDecoder


class Document(models.Model):
    """A JSONField stored and read through the extension, and a file field."""

    name = models.CharField(max_length=50)
    payload = models.JSONField(encoder=_mervanta_json_classes()[0], decoder=_mervanta_json_classes()[1], null=True)
    attachment = models.FileField(upload_to="docs/", blank=True)

    class Meta:
        app_label = "djangoapp"
        ordering = ["id"]
