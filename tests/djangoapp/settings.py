"""Minimal settings for importing the integration modules outside the tests
(the stub check imports mervanta.rest_framework, which reads settings)."""

SECRET_KEY = "stubs"
INSTALLED_APPS = ["mervanta.django"]
