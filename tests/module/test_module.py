import importlib
import inspect
import sys

import pytest

import mervanta
from mervanta import _core

NAMES = [
    "dumps", "loads", "dump", "load", "dumpb", "dump_queryset", "dump_queryset_bytes",
    "stream_dump_queryset", "stream_dump_queryset_jsonl", "deserialize_direct_fn",
    "deserialize_strict_fn",
]

SIGNATURES = {
    "dumps": "(obj, skipkeys=False, ensure_ascii=True, check_circular=True, allow_nan=True, cls=None, "
             "indent=None, separators=None, default=None, sort_keys=False, **_kw)",
    "loads": "(s, cls=None, object_hook=None, object_pairs_hook=None, parse_float=None, parse_int=None, "
             "parse_constant=None, strict=True, **_kw)",
    "dump": "(obj, fp, skipkeys=False, ensure_ascii=True, check_circular=True, allow_nan=True, cls=None, "
            "indent=None, separators=None, default=None, sort_keys=False, **_kw)",
    "load": "(fp, cls=None, object_hook=None, object_pairs_hook=None, parse_float=None, parse_int=None, "
            "parse_constant=None, strict=True, **_kw)",
    "dumpb": "(obj, pretty=False)",
    "dump_queryset": "(queryset)",
    "dump_queryset_bytes": "(queryset)",
    "stream_dump_queryset": "(queryset, fp, chunk_size=1000)",
    "stream_dump_queryset_jsonl": "(queryset, fp, chunk_size=1000)",
    "deserialize_direct_fn": "(s, object_hook=None, object_pairs_hook=None, parse_float=None, parse_int=None)",
    "deserialize_strict_fn": "(s, object_hook=None, object_pairs_hook=None, parse_float=None, parse_int=None)",
}


def test_module_attributes():
    assert _core.__all__ == NAMES + ["__version__"]
    assert _core.__version__ == "0.1.0" == mervanta.__version__
    assert _core.__doc__ == ""
    assert _core.__file__.endswith("_core.abi3.so")


@pytest.mark.parametrize("name", NAMES)
def test_functions_carry_their_signature(name):
    function = getattr(_core, name)
    assert function.__doc__ is None
    assert str(inspect.signature(function)) == SIGNATURES[name]
    assert function.__module__ == "mervanta._core"
    assert function.__self__ is _core
    assert getattr(mervanta, name) is function


def test_module_can_be_executed_again():
    saved = sys.modules.pop("mervanta._core")
    try:
        fresh = importlib.import_module("mervanta._core")
        assert fresh is not saved
        assert fresh.__all__ == NAMES + ["__version__"]
        assert fresh.dumps is not saved.dumps
        assert fresh.dumpb([None, True]) == b"[null, true]"
    finally:
        sys.modules["mervanta._core"] = saved


def test_import_loads_nothing_extra():
    import subprocess
    code = (
        "import sys; before = set(sys.modules); import mervanta; "
        "mervanta.dumps({'a': [1, 2.5, 'x', None, True]}); "
        "new = set(sys.modules) - before; "
        "assert not any(m.startswith(('django', 'numpy', 'operator', 'enum', 'dataclasses')) and m not in before "
        "for m in new), new"
    )
    subprocess.run([sys.executable, "-c", code], check=True)
