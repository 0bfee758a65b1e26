"""Runaway nesting in both directions: deep documents, self-referencing
containers and hooks that never stop. Each must end in RecursionError, never
in a crash. The deep cases run in a child interpreter, so that a crash is
reported as a failure instead of ending the test run, and are repeated on
other threads than the main one: one with the default stack, one with a small
stack of 1 MiB."""

from __future__ import annotations

import subprocess
import sys

import pytest

import mervanta
from leakcheck import SANITIZED, need

DEPTH = 1_000_000

# Builders for the child interpreter: each defines `value` (an object) or `text` (a document).
DEEP_OBJECTS = {
    "list": "value = []\nfor _ in range(DEPTH): value = [value]",
    "dict": "value = {}\nfor _ in range(DEPTH): value = {'k': value}",
    "tuple": "value = ()\nfor _ in range(DEPTH): value = (value,)",
    "list subclass": "class L(list): pass\nvalue = L()\nfor _ in range(DEPTH): value = L([value])",
    "dict in list": "value = []\nfor _ in range(DEPTH // 2): value = [{'k': value}]",
}

DUMP_CALLS = {
    "dumps": "mervanta.dumps(value)",
    "dumps sorted pretty": "mervanta.dumps(value, sort_keys=True, indent=1)",
    "dump": "mervanta.dump(value, io.StringIO())",
    "dumpb": "mervanta.dumpb(value, pretty=True)",
    "dump_queryset": "mervanta.dump_queryset(value)",
    "stream_dump_queryset": "mervanta.stream_dump_queryset([1, value], io.StringIO())",
    "stream_dump_queryset_jsonl": "mervanta.stream_dump_queryset_jsonl([value], io.StringIO(), 0)",
}

DEEP_TEXTS = {
    "open arrays": "text = '[' * DEPTH",
    "closed arrays": "text = '[' * DEPTH + ']' * DEPTH",
    "open objects": "text = '{\"a\":' * DEPTH",
    "mixed": "text = '[{\"a\":' * (DEPTH // 2)",
}

LOAD_CALLS = {
    "loads": "mervanta.loads(text)",
    "loads bytes": "mervanta.loads(text.encode())",
    "loads hooks": "mervanta.loads(text, object_hook=dict, object_pairs_hook=dict)",
    "load": "mervanta.load(io.StringIO(text))",
    "deserialize_direct_fn": "mervanta.deserialize_direct_fn(text)",
    "deserialize_strict_fn": "mervanta.deserialize_strict_fn(text, object_hook=len)",
}

CHILD = """
import io, sys, threading
import mervanta
DEPTH = {depth}
BUILDS = {builds!r}
CALLS = {calls!r}
SMALL_STACK = {small_stack}

def attempt(call, namespace):
    try:
        exec(call, namespace)
    except RecursionError:
        return "RecursionError"
    except NotImplementedError:
        return "not implemented"
    except BaseException as error:
        return "unexpected " + type(error).__name__ + ": " + str(error)[:200]
    return "no error"

for build_name, build in BUILDS.items():
    namespace = {{"mervanta": mervanta, "io": io, "DEPTH": DEPTH}}
    exec(build, namespace)
    for call_name, call in CALLS.items():
        print(build_name, "/", call_name, "/ main:", attempt(call, namespace), flush=True)
        outcome = []
        worker = threading.Thread(target=lambda: outcome.append(attempt(call, namespace)))
        worker.start()
        worker.join()
        print(build_name, "/", call_name, "/ thread:", outcome[0], flush=True)
        if SMALL_STACK:
            # Threads made by servers and pools often get small stacks.
            threading.stack_size(SMALL_STACK)
            worker = threading.Thread(target=lambda: outcome.append(attempt(call, namespace)))
            worker.start()
            worker.join()
            threading.stack_size(0)
            print(build_name, "/", call_name, "/ small-stack thread:", outcome[1], flush=True)
    del namespace
"""

# A sanitizer build needs several times the stack of an optimised one.
SMALL_STACK = 0 if SANITIZED else 1024 * 1024


def run_child(builds: dict, calls: dict) -> list[str]:
    """Runs every call on every build in one child; returns the outcome lines
    of the implemented functions."""
    code = CHILD.format(depth=DEPTH, builds=builds, calls=calls, small_stack=SMALL_STACK)
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, f"child ended with {result.returncode}:\n{result.stdout[-2000:]}{result.stderr[-3000:]}"
    lines = [line for line in result.stdout.splitlines() if not line.endswith("not implemented")]
    if not lines:
        pytest.skip("none of these functions is implemented yet")
    return lines


def assert_all_recursion_errors(lines: list[str]) -> None:
    unexpected = [line for line in lines if not line.endswith(": RecursionError")]
    assert unexpected == []


def test_deep_objects_raise_recursion_error():
    assert_all_recursion_errors(run_child(DEEP_OBJECTS, DUMP_CALLS))


def test_deep_documents_raise_recursion_error():
    assert_all_recursion_errors(run_child(DEEP_TEXTS, LOAD_CALLS))


def test_hooks_that_never_finish_raise_recursion_error():
    calls = {
        "returns its argument": "mervanta.dumps([value], default=lambda o: o)",
        "wraps its argument": "mervanta.dumps(value, default=lambda o: [o])",
        "wraps in a dict": "mervanta.dumps(value, default=lambda o: {'k': o}, sort_keys=True)",
    }
    lines = run_child({"object": "value = object()"}, calls)
    assert len(lines) == (9 if SMALL_STACK else 6)
    assert_all_recursion_errors(lines)


# --- moderate depths work, and the module keeps working after the error --------------


def nested_list(depth: int):
    value: list = []
    for _ in range(depth):
        value = [value]
    return value


@pytest.mark.parametrize("depth", [1, 100, 500])
def test_moderate_depth_is_written(depth):
    expected = "[" * (depth + 1) + "]" * (depth + 1)
    assert mervanta.dumps(nested_list(depth)) == expected
    assert mervanta.dumpb(nested_list(depth)) == expected.encode()


@pytest.mark.parametrize("depth", [1, 100, 500])
def test_moderate_depth_is_read(depth):
    need("loads")
    assert mervanta.loads("[" * (depth + 1) + "]" * (depth + 1)) == nested_list(depth)


def test_recursion_error_leaves_the_module_usable():
    with pytest.raises(RecursionError):
        mervanta.dumps(nested_list(100_000))
    assert mervanta.dumps(nested_list(3)) == "[[[[]]]]"


# --- self-referencing containers -----------------------------------------------------------


def self_list():
    value: list = [1, "a"]
    value.append(value)
    return value


def self_dict():
    value: dict = {"a": 1}
    value["self"] = value
    return value


def cycle_through_tuple():
    inner: list = []
    outer = (inner,)
    inner.append(outer)
    return outer


def cycle_through_dict_subclass():
    class D(dict):
        pass

    value = D(x=[])
    value["x"].append(value)
    return value


CYCLES = {"list": self_list, "dict": self_dict, "tuple": cycle_through_tuple, "dict subclass": cycle_through_dict_subclass}


@pytest.mark.parametrize("factory", CYCLES.values(), ids=CYCLES.keys())
@pytest.mark.parametrize(
    "encode",
    [
        lambda v: mervanta.dumps(v),
        lambda v: mervanta.dumps(v, sort_keys=True, indent=2, check_circular=False),
        lambda v: mervanta.dumpb(v),
        lambda v: mervanta.dumps(v, default=lambda o: o),
    ],
    ids=["dumps", "dumps options", "dumpb", "dumps default"],
)
def test_self_reference_raises_recursion_error(factory, encode):
    with pytest.raises(RecursionError):
        encode(factory())


@pytest.mark.parametrize("factory", CYCLES.values(), ids=CYCLES.keys())
def test_self_reference_in_queryset_dumps_and_streams(factory):
    need("dump_queryset", "stream_dump_queryset_jsonl")
    import io

    with pytest.raises(RecursionError):
        mervanta.dump_queryset([factory()])
    written = io.StringIO()
    with pytest.raises(RecursionError):
        mervanta.stream_dump_queryset_jsonl([1, factory()], written, chunk_size=0)
    assert written.getvalue() == "1\n"
