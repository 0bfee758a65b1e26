"""Keys remembered while encoding are released when the call ends, however
many there were and wherever they fell in the memo."""

import sys

import pytest

import mervanta


def _keys(count):
    # Built at run time so each key is a fresh object with a countable refcount.
    return ["".join(("key", str(i))) for i in range(count)]


@pytest.mark.parametrize("count", [1, 6, 70, 600])
@pytest.mark.parametrize(
    "encode",
    [mervanta.dumpb, mervanta.dumps, lambda obj: mervanta.dumps(obj, indent=2), lambda obj: mervanta.dumps(obj, sort_keys=True)],
    ids=["dumpb", "dumps", "indent", "sort_keys"],
)
def test_key_references_released(encode, count):
    keys = _keys(count)
    rows = [dict.fromkeys(keys, 1) for _ in range(3)]
    before = [sys.getrefcount(key) for key in keys]
    first = encode(rows)
    assert encode(rows) == first
    assert [sys.getrefcount(key) for key in keys] == before
