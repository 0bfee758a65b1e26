import importlib.util
import sys
from pathlib import Path

import pytest

# Test files sit in subject folders and are imported by path
# (--import-mode=importlib); the shared helpers (leakcheck, djangoapp) are
# found through this folder on sys.path.
HERE = str(Path(__file__).resolve().parent)
if HERE not in sys.path:
    sys.path.insert(0, HERE)

# Without Django installed, the folder tests/django/ would import as a
# namespace package named django and defeat importorskip("django").
_django = importlib.util.find_spec("django")
if _django is not None and _django.origin is None:
    sys.modules["django"] = None


@pytest.fixture(scope="session")
def django_models(tmp_path_factory):
    """The test project's models module, with Django configured and the tables
    created in a fresh SQLite file. Skips when Django is not installed."""
    pytest.importorskip("django")
    from djangoapp.project import setup_django

    return setup_django(tmp_path_factory.mktemp("django") / "db.sqlite3")
