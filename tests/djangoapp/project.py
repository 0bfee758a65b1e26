"""Configures Django for the tests: SQLite file database, tables made by the
schema editor (no migrations)."""

import django
from django.conf import settings

CREATED = ("Author", "Publisher", "Book", "Node", "Document")


def _optional_apps():
    """The integration app, and DRF when it is installed."""
    apps = ["mervanta.django"]
    try:
        import rest_framework  # noqa: F401
    except ImportError:
        return apps
    return [*apps, "rest_framework"]


def setup_django(database_path):
    if not settings.configured:
        settings.configure(
            SECRET_KEY="tests",
            USE_TZ=True,
            TIME_ZONE="UTC",
            USE_I18N=True,
            LANGUAGE_CODE="en-us",
            INSTALLED_APPS=["djangoapp", *_optional_apps()],
            ROOT_URLCONF="djangoapp.urls",
            ALLOWED_HOSTS=["testserver"],
            REST_FRAMEWORK={
                "DEFAULT_AUTHENTICATION_CLASSES": [],
                "DEFAULT_PERMISSION_CLASSES": [],
                "UNAUTHENTICATED_USER": None,
            },
            DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": str(database_path)}},
            DEFAULT_AUTO_FIELD="django.db.models.AutoField",
        )
        django.setup()
    from django.db import connection

    from djangoapp import models

    existing = set(connection.introspection.table_names())
    with connection.schema_editor() as editor:
        for name in CREATED:
            model = getattr(models, name)
            if model._meta.db_table not in existing:
                editor.create_model(model)
    return models
