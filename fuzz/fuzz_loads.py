"""Fuzzes the decoder with arbitrary bytes.

    python fuzz/fuzz_loads.py [libFuzzer options] [corpus directories]

Properties checked for every input:
- every load function fails only with ValueError or RecursionError (and the
  exceptions of the caller's own hooks), never with PanicException;
- a decoder ValueError carries "at row R, column C" with a position inside the text;
- bytes, bytearray and the replacement-decoded str give the same outcome;
  deserialize_direct_fn agrees with loads; deserialize_strict_fn agrees with
  it or reports the data after the value; load agrees with loads on the
  trimmed text;
- wherever the standard library accepts a value, the module returns an
  equal one (apart from NaN/Infinity and lone surrogate escapes, which it
  does not read the same way by design, and numbers the standard library
  stops reading early: leading zeros, "1." and "1e");
- hooks see what the standard library's hooks see.
"""

from __future__ import annotations

import io
import re
import sys

import atheris

from common import (Unexpected, has_lone_surrogate, implemented, mervanta, outcome,
                    pure_python_json, same_outcome, strictly_equal, with_corpus)

json = pure_python_json()

POSITION = re.compile(r" at row (\d+), column (\d+)$")
INT_MESSAGES = ("invalid literal for int()", "Exceeds the limit")
UNICODE_WHITESPACE = "\t\n\x0b\x0c\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009" \
                     "\u200a\u2028\u2029\u202f\u205f\u3000"
NUMBER_CONTINUATION = set("0123456789.eE+-")
LOAD_ERRORS = (ValueError, RecursionError)

constants_seen: list[str] = []


def decoders(**hooks):
    """The instrumented pure-Python decoder (for coverage) and the standard
    library's C decoder (the verdict: the pure-Python one reads "\\u" escapes
    through int(), which also takes spaces, signs and underscores)."""
    # strict=False: raw control characters in strings are read, as here.
    pure = json.JSONDecoder(parse_constant=lambda name: constants_seen.append(name) or float("nan"), strict=False,
                            **hooks)
    native = json.JSONDecoder(parse_constant=pure.parse_constant, strict=False, **hooks)
    native.parse_string = json.decoder.c_scanstring
    native.scan_once = json.scanner.c_make_scanner(native)
    return pure, native


def stdlib_verdict(pair, call):
    pure, native = pair
    try:
        call(pure)
    except (ValueError, RecursionError):
        pass
    constants_seen.clear()
    return call(native)


oracle = decoders()


class HookError(Exception):
    pass


@atheris.instrument_func
def check_message(error: BaseException, text: bytes) -> None:
    if not isinstance(error, ValueError):
        return
    message = str(error)
    match = POSITION.search(message)
    if match is None:
        if not message.startswith(INT_MESSAGES):
            raise Unexpected(f"decoder error without a position: {message!r}")
        return
    row, column = int(match[1]), int(match[2])
    lines = text.split(b"\n")
    if not (1 <= row <= len(lines) and 1 <= column <= len(lines[row - 1]) + 1):
        raise Unexpected(f"position outside the text: {message!r}")


@atheris.instrument_func
def stdlib_prefix(text: str):
    """The value json reads at the start of the text, or None."""
    constants_seen.clear()
    start = len(text) - len(text.lstrip(" \t\n\r"))
    try:
        value, end = stdlib_verdict(oracle, lambda decoder: decoder.raw_decode(text, start))
    except (ValueError, RecursionError):
        return None
    if constants_seen or has_lone_surrogate(value):
        return None
    return value, end


def check_hooks(text: str, json_accepts_all: bool) -> None:
    tagged = {
        "object_hook": lambda d: ["object", list(d.items())],
        "parse_int": lambda digits: ("int", digits),
        "parse_float": lambda digits: ("float", digits),
    }
    ours = outcome(lambda: mervanta.deserialize_strict_fn(text, **tagged), LOAD_ERRORS, "strict with hooks")
    if json_accepts_all:
        try:
            expected = stdlib_verdict(decoders(**tagged), lambda decoder: decoder.decode(text))
        except (ValueError, RecursionError):
            return
        if not constants_seen and not (ours[0] and ours[1] == expected):
            raise Unexpected(f"hooks disagree with json: {ours!r} != {expected!r}")


def check_raising_hooks(text: str, calls_before_failure: int) -> None:
    remaining = [calls_before_failure]

    def hook(value):
        remaining[0] -= 1
        if remaining[0] < 0:
            raise HookError("from the hook")
        return value

    for keywords in ({"object_hook": hook}, {"object_pairs_hook": hook}, {"parse_int": hook},
                     {"parse_float": hook}):
        remaining[0] = calls_before_failure
        ok, error = outcome(lambda: mervanta.loads(text, **keywords), LOAD_ERRORS + (HookError,), "raising hook")
        if not ok and isinstance(error, HookError) and str(error) != "from the hook":
            raise Unexpected("the hook's exception was changed")


@atheris.instrument_func
def TestOneInput(data: bytes) -> None:
    text = data.decode("utf-8", "replace")
    utf8 = text.encode()

    from_str = outcome(lambda: mervanta.loads(text), LOAD_ERRORS, "loads(str)")
    if not from_str[0]:
        check_message(from_str[1], utf8)
    for variant, argument in (("bytes", data), ("bytearray", bytearray(data))):
        result = outcome(lambda: mervanta.loads(argument), LOAD_ERRORS, f"loads({variant})")
        if not same_outcome(result, from_str):
            raise Unexpected(f"loads({variant}) {result!r} != loads(str) {from_str!r}")
    direct = outcome(lambda: mervanta.deserialize_direct_fn(text), LOAD_ERRORS, "deserialize_direct_fn")
    if not same_outcome(direct, from_str):
        raise Unexpected(f"deserialize_direct_fn {direct!r} != loads {from_str!r}")

    strict = outcome(lambda: mervanta.deserialize_strict_fn(text), LOAD_ERRORS, "deserialize_strict_fn")
    if not strict[0]:
        check_message(strict[1], utf8)
    if not from_str[0] and not same_outcome(strict, from_str):
        raise Unexpected(f"strict {strict!r} != loads {from_str!r}")
    if from_str[0] and not same_outcome(strict, from_str):
        if strict[0] or not str(strict[1]).startswith("Extra data after JSON value at row"):
            raise Unexpected(f"strict {strict!r} after loads {from_str!r}")

    trimmed = text.strip(UNICODE_WHITESPACE)
    loaded = outcome(lambda: mervanta.load(io.StringIO(text)), LOAD_ERRORS, "load")
    if not same_outcome(loaded, outcome(lambda: mervanta.loads(trimmed), LOAD_ERRORS, "loads(trimmed)")):
        raise Unexpected(f"load {loaded!r} disagrees with loads of the trimmed text")

    prefix = stdlib_prefix(text)
    if prefix is not None:
        value, end = prefix
        if end == len(text) or text[end] not in NUMBER_CONTINUATION:
            if not (from_str[0] and strictly_equal(from_str[1], value)):
                raise Unexpected(f"json reads {value!r} where loads gives {from_str!r}")
    check_hooks(text, prefix is not None and not text[prefix[1]:].strip(" \t\n\r"))
    check_raising_hooks(text, len(data) % 4)

    if b"\xed" in data or len(data) % 7 == 0:
        # Lone surrogates in a str have no UTF-8 form.
        surrogates = data.decode("utf-8", "surrogateescape")
        for function in (mervanta.loads, mervanta.deserialize_strict_fn):
            ok, error = outcome(lambda: function(surrogates), LOAD_ERRORS + (UnicodeEncodeError,), "surrogates")
            if surrogates != text and (ok or not isinstance(error, UnicodeEncodeError)):
                raise Unexpected(f"a str with lone surrogates gave {ok, error!r}")


def main() -> None:
    if not implemented(lambda: mervanta.loads("1")):
        print("fuzz_loads: loads() is not implemented yet; nothing to fuzz")
        return
    arguments = with_corpus(sys.argv, "loads")
    atheris.Setup(arguments, TestOneInput)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
