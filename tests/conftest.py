import pytest


@pytest.fixture(scope="session")
def django_models(tmp_path_factory):
    """The test project's models module, with Django configured and the tables
    created in a fresh SQLite file. Skips when Django is not installed."""
    pytest.importorskip("django")
    from djangoapp.project import setup_django

    return setup_django(tmp_path_factory.mktemp("django") / "db.sqlite3")
