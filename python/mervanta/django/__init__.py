"""Django integration: an encoder and decoder for the places Django takes a
``json`` class, ``JsonResponse``, ``StreamingJsonResponse`` and, with
``"mervanta.django"`` in ``INSTALLED_APPS``, the ``export_json`` command."""

from mervanta._requires import require

require("django", "mervanta.django", "django")

from mervanta.django.encoding import JSONDecoder, JSONEncoder, default  # noqa: E402
from mervanta.django.responses import JsonResponse, StreamingJsonResponse  # noqa: E402

__all__ = [
    "JSONDecoder",
    "JSONEncoder",
    "JsonResponse",
    "StreamingJsonResponse",
    "default",
]
