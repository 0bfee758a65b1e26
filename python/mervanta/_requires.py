"""A clear ImportError for an integration module whose framework is missing."""

import importlib


def require(module: str, feature: str, extra: str) -> None:
    """Import ``module`` or raise ImportError naming the extra to install."""
    try:
        importlib.import_module(module)
    except ImportError as exc:
        raise ImportError(f"{feature} needs {module}: pip install 'mervanta[{extra}]'") from exc
