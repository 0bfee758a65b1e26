"""The collector's state and allocation failures (leaks: reliability/test_leaks.py)."""

import gc

import pytest

from mervanta import loads


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
