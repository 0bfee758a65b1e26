"""Shared pieces of the fuzz harnesses: the reference writer and strict
equality of the property tests, an instrumented pure-Python json decoder as
the oracle, and the rule on which exceptions may leave a call."""

from __future__ import annotations

import os
import sys

import atheris

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.join(os.path.dirname(HERE), "tests")
sys.path[:0] = [os.path.join(TESTS, "reliability"), TESTS]  # test_properties and its leakcheck

import mervanta  # noqa: E402
from test_properties import has_lone_surrogate, reference_dumps, strictly_equal  # noqa: E402,F401


def pure_python_json():
    """The standard library's decoder without its C accelerator, imported
    under atheris's instrumentation: its branches give the fuzzer coverage
    feedback that follows the JSON grammar, which the native module (built
    without coverage hooks) cannot give."""
    for name in [name for name in sys.modules if name == "json" or name.startswith("json.")]:
        del sys.modules[name]
    with atheris.instrument_imports(include=["json"]):
        import json
        import json.decoder
        import json.scanner
    json.decoder.scanstring = json.decoder.py_scanstring
    json.scanner.make_scanner = json.scanner.py_make_scanner
    return json


class Unexpected(AssertionError):
    """A property broke; atheris reports it as a crash with the input."""


def is_panic(error: BaseException) -> bool:
    return type(error).__name__ == "PanicException"


def check_exception(error: BaseException, allowed: tuple, where: str) -> None:
    if is_panic(error) or not isinstance(error, allowed):
        raise Unexpected(f"{where}: {type(error).__name__}: {error}") from error


def outcome(call, allowed: tuple, where: str):
    """(True, result) or (False, exception), checking the exception's type."""
    try:
        return True, call()
    except BaseException as error:  # PanicException derives from BaseException
        check_exception(error, allowed, where)
        return False, error


def same_outcome(first, second) -> bool:
    # The nesting bound includes the interpreter's recursion limit, whose
    # headroom after a RecursionError depends on the calls made before: a
    # document nested near the bound may stop at a different depth, or not.
    if any(not ok and isinstance(error, RecursionError) for ok, error in (first, second)):
        return True
    if first[0] != second[0]:
        return False
    if first[0]:
        return strictly_equal(first[1], second[1])
    return type(first[1]) is type(second[1]) and str(first[1]) == str(second[1])


def seed_directories(name: str) -> list[str]:
    """Seed corpora that exist: the harness's own, and for the decoder the
    JSON test suite vendored with the tests."""
    candidates = [os.path.join(HERE, "seeds", name)]
    if name == "loads":
        candidates.append(os.path.join(TESTS, "data", "JSONTestSuite", "test_parsing"))
    return [path for path in candidates if os.path.isdir(path)]


def with_corpus(argv: list[str], name: str) -> list[str]:
    """The arguments for atheris; without corpus directories, a working
    corpus under build/ (where libFuzzer writes) followed by the seeds."""
    arguments = list(argv)
    build = os.path.join(os.path.dirname(HERE), "build")
    if not any(argument.startswith("-artifact_prefix=") for argument in arguments):
        artifacts = os.path.join(build, "fuzz-artifacts", name)
        os.makedirs(artifacts, exist_ok=True)
        arguments.insert(1, f"-artifact_prefix={artifacts}/")
    if any(not argument.startswith("-") for argument in arguments[1:]):
        return arguments
    working = os.path.join(build, "fuzz-corpus", name)
    os.makedirs(working, exist_ok=True)
    return arguments + [working] + seed_directories(name)


def implemented(call) -> bool:
    try:
        call()
    except NotImplementedError:
        return False
    return True


__all__ = ["mervanta", "reference_dumps", "strictly_equal", "has_lone_surrogate", "pure_python_json", "Unexpected",
           "check_exception", "outcome", "same_outcome", "seed_directories", "with_corpus", "implemented", "is_panic"]
