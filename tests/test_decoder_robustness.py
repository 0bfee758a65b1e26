"""Reference leaks and allocation failures."""

import gc
import io
import sys

import pytest

from mervanta import load, loads

DOCUMENTS = [
    '{"a": [1, 2.5, "x\\n", null, true, {"b": 18446744073709551616}]}',
    '[{"k": [1.5, "s", 12345678901234567890123, "\\u00e9"]}, {"k": {}}]',
    '{"a": 1, "a": 2, "b": [[], {}]}',
]
BROKEN = ['{"a": [1, {"b": x}]}', '[1, 2', '{"a" 1}', '"abc', '[1e]', '["\\ud800\\u12x4"]', "[" * 3000, '{"a":' * 3000]
HOOK_SETS = [{}, {"object_pairs_hook": list}, {"object_hook": dict, "parse_float": str, "parse_int": str}]


def decode_all():
    for text in DOCUMENTS + BROKEN:
        for hooks in HOOK_SETS:
            for source in (text, text.encode(), bytearray(text.encode())):
                try:
                    loads(source, **hooks)
                except (ValueError, RecursionError):
                    pass
            try:
                load(io.StringIO(text), **hooks)
            except (ValueError, RecursionError):
                pass


def test_no_reference_leaks():
    for _ in range(5):
        decode_all()
    gc.collect()
    before = sys.getallocatedblocks()
    for _ in range(40):
        decode_all()
    gc.collect()
    # 40 rounds make over 5000 calls: one leaked object per call would show.
    assert sys.getallocatedblocks() - before < 2000


def test_collector_state_is_restored():
    assert gc.isenabled()
    loads('[{"a": []}]')
    assert gc.isenabled()
    with pytest.raises(ValueError):
        loads('[{"a": [x]}]')
    assert gc.isenabled()
    gc.disable()
    try:
        loads('[{"a": []}]')
        assert not gc.isenabled()
    finally:
        gc.enable()


def test_collector_runs_while_hooks_run():
    states = []
    loads('[{"a": 1}]', object_hook=lambda obj: states.append(gc.isenabled()) or obj)
    assert states == [True]


def test_memory_error_from_a_hook_passes_through():
    def hook(_):
        raise MemoryError("hook")

    with pytest.raises(MemoryError, match="hook"):
        loads("[1.5]", parse_float=hook)


def test_failed_allocations_raise_memory_error():
    testcapi = pytest.importorskip("_testcapi")
    if not hasattr(testcapi, "set_nomemory"):
        pytest.skip("no allocation failure injection")
    text = "[" + ",".join(['{"k": [1.5, "s", 12345678901234567890123, "\\n", {}]}'] * 20) + "]"
    expected = loads(text)
    outcomes = set()
    for start in range(0, 400, 2):
        testcapi.set_nomemory(start, start + 1)
        try:
            result = loads(text)
        except MemoryError:
            outcome = "MemoryError"
        else:
            outcome = "ok" if result == expected else "wrong"
        finally:
            testcapi.remove_mem_hooks()
        outcomes.add(outcome)
    assert outcomes == {"ok", "MemoryError"}
