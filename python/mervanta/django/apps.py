from django.apps import AppConfig


class MervantaConfig(AppConfig):
    """Registers the ``export_json`` management command."""

    name = "mervanta.django"
    label = "mervanta"
    verbose_name = "mervanta"
