"""Django integration: an encoder and decoder for the places Django takes a
``json`` class, ``JsonResponse``, ``StreamingJsonResponse`` and, with
``"mervanta.django"`` in ``INSTALLED_APPS``, the ``export_json`` command."""

try:
    import django  # noqa: F401
except ImportError as exc:  # pragma: no cover - exercised in a subprocess
    raise ImportError(
        "mervanta.django needs Django: pip install 'mervanta[django]'"
    ) from exc

from mervanta.django.encoding import JSONDecoder, JSONEncoder, default
from mervanta.django.responses import JsonResponse, StreamingJsonResponse

__all__ = [
    "JSONDecoder",
    "JSONEncoder",
    "JsonResponse",
    "StreamingJsonResponse",
    "default",
]
