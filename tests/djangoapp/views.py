import json

from mervanta.django import JsonResponse, StreamingJsonResponse

from djangoapp.models import Book


def books_json(request):
    return JsonResponse({"books": list(Book.objects.values("title", "price", "updated"))})


def books_stream(request):
    return StreamingJsonResponse(Book.objects.values("title", "price"), chunk_size=2)


def books_lines(request):
    return StreamingJsonResponse(Book.objects.values_list("title", flat=True), lines=True, chunk_size=2)


async def books_astream(request):
    return StreamingJsonResponse(Book.objects.values("title"), chunk_size=2)


def echo(request):
    return JsonResponse(json.loads(request.body), safe=False)
