from django.urls import path

from djangoapp import views

urlpatterns = [
    path("books/json", views.books_json),
    path("books/stream", views.books_stream),
    path("books/lines", views.books_lines),
    path("books/astream", views.books_astream),
    path("echo", views.echo),
]

try:
    from djangoapp import api
except ImportError:  # DRF not installed
    pass
else:
    urlpatterns += api.urlpatterns
