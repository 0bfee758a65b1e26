"""A small Django project for the framework-aware encoder tests."""
