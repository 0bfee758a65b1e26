"""DRF views rendered and parsed by mervanta's classes."""

from django.urls import path
from rest_framework import serializers
from rest_framework.decorators import api_view, parser_classes, renderer_classes
from rest_framework.response import Response

from mervanta.rest_framework import JSONParser, JSONRenderer

from djangoapp.models import Book


class BookSerializer(serializers.ModelSerializer):
    class Meta:
        model = Book
        fields = ["id", "title", "author", "published", "updated", "price", "uid", "reading_time", "rating", "in_print"]


@api_view(["GET"])
@renderer_classes([JSONRenderer])
def book_list(request):
    return Response(BookSerializer(Book.objects.all(), many=True).data)


@api_view(["POST"])
@renderer_classes([JSONRenderer])
@parser_classes([JSONParser])
def book_echo(request):
    return Response(request.data)


urlpatterns = [path("api/books", book_list), path("api/echo", book_echo)]
