import io
import sys

import pytest

import mervanta

HAS_NOTES = sys.version_info >= (3, 11)


def raises_type_error(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message
    return info.value


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: mervanta.dumpb(), "dumpb() missing 1 required positional argument: 'obj'"),
        (lambda: mervanta.dump(), "dump() missing 2 required positional arguments: 'obj' and 'fp'"),
        (lambda: mervanta.dump(1), "dump() missing 1 required positional argument: 'fp'"),
        (lambda: mervanta.stream_dump_queryset(),
         "stream_dump_queryset() missing 2 required positional arguments: 'queryset' and 'fp'"),
        (lambda: mervanta.loads(), "loads() missing 1 required positional argument: 's'"),
        (lambda: mervanta.load(cls=None), "load() missing 1 required positional argument: 'fp'"),
        (lambda: mervanta.dump_queryset(1, 2), "dump_queryset() takes 1 positional arguments but 2 were given"),
        (lambda: mervanta.dumpb(1, True, 3), "dumpb() takes from 1 to 2 positional arguments but 3 were given"),
        (lambda: mervanta.dumps(*range(11)), "dumps() takes from 1 to 10 positional arguments but 11 were given"),
        (lambda: mervanta.dumps(1, obj=2), "dumps() got multiple values for argument 'obj'"),
        (lambda: mervanta.dump(1, io.StringIO(), fp=2), "dump() got multiple values for argument 'fp'"),
        (lambda: mervanta.dumpb(1, pretty=True, obj=2), "dumpb() got multiple values for argument 'obj'"),
        (lambda: mervanta.dump_queryset([], indent=4),
         "dump_queryset() got an unexpected keyword argument 'indent'"),
        (lambda: mervanta.dumpb(1, sort_keys=True), "dumpb() got an unexpected keyword argument 'sort_keys'"),
        (lambda: mervanta.deserialize_direct_fn("[]", foo=1),
         "deserialize_direct_fn() got an unexpected keyword argument 'foo'"),
    ],
)
def test_argument_errors(call, message):
    raises_type_error(call, message)


def test_extra_keywords_are_collected_and_ignored():
    assert mervanta.dumps(1, indent_size=4, whatever=object()) == "1"
    sink = io.StringIO()
    mervanta.dump([1], sink, anything=1)
    assert sink.getvalue() == "[1]"


BOOL_KEYWORDS = ["skipkeys", "ensure_ascii", "check_circular", "allow_nan", "sort_keys"]


@pytest.mark.parametrize("keyword", BOOL_KEYWORDS)
@pytest.mark.parametrize(
    "value, message",
    [
        (None, "'None' is not an instance of 'bool'"),
        (1, "'int' object is not an instance of 'bool'"),
        (0, "'int' object is not an instance of 'bool'"),
        ("yes", "'str' object is not an instance of 'bool'"),
    ],
)
def test_strict_bool_keywords(keyword, value, message):
    error = raises_type_error(lambda: mervanta.dumps({}, **{keyword: value}), message)
    if HAS_NOTES:
        assert error.__notes__ == [f"while processing '{keyword}'"]


def test_strict_bool_names_nested_qualname():
    class Outer:
        class Inner:
            pass

    raises_type_error(lambda: mervanta.dumpb(1, pretty=Outer.Inner()),
                      "'test_strict_bool_names_nested_qualname.<locals>.Outer.Inner' object is not an instance of 'bool'")


def test_first_failing_bool_keyword_wins():
    error = raises_type_error(lambda: mervanta.dumps(1, sort_keys=1, skipkeys=None),
                              "'None' is not an instance of 'bool'")
    if HAS_NOTES:
        assert error.__notes__ == ["while processing 'skipkeys'"]


def test_numpy_like_boolean_scalars_are_accepted():
    calls = []

    def make(type_name, result):
        def __bool__(self):
            calls.append(type_name)
            return result

        return type(type_name, (), {"__module__": "numpy", "__bool__": __bool__})()

    assert mervanta.dumpb({"a": [1, 2]}, pretty=make("bool_", True)) == b'{\n  "a": [\n    1,\n    2\n  ]\n}'
    assert mervanta.dumps({"b": 1, "a": 2}, sort_keys=make("bool", True)) == '{"a": 2, "b": 1}'
    assert calls == ["bool_", "bool"]
    # __bool__ must return an exact bool; another module name is not numpy
    raises_type_error(lambda: mervanta.dumpb(1, pretty=make("bool_", 1)), "'bool_' object is not an instance of 'bool'")
    other = type("bool_", (), {"__module__": "numpyx", "__bool__": lambda self: True})()
    raises_type_error(lambda: mervanta.dumpb(1, pretty=other), "'bool_' object is not an instance of 'bool'")


@pytest.mark.parametrize(
    "chunk_size, error",
    [(-1, OverflowError), (2**64, OverflowError), (None, TypeError), (1.5, TypeError), ("10", TypeError)],
)
@pytest.mark.parametrize("function", ["stream_dump_queryset", "stream_dump_queryset_jsonl"])
def test_chunk_size_conversion(function, chunk_size, error):
    written = []

    class Writer:
        def write(self, text):
            written.append(text)

    def rows():
        raise AssertionError("iterated before the arguments were converted")
        yield

    with pytest.raises(error) as info:
        getattr(mervanta, function)(rows(), Writer(), chunk_size=chunk_size)
    if HAS_NOTES:
        assert info.value.__notes__ == ["while processing 'chunk_size'"]
    assert written == []


def test_loads_strict_must_be_a_bool():
    with pytest.raises(TypeError) as info:
        mervanta.loads("[]", strict=None)
    assert str(info.value) == "'None' is not an instance of 'bool'"
    if HAS_NOTES:
        assert info.value.__notes__ == ["while processing 'strict'"]


def test_memory_exhaustion_is_memory_error_not_panic():
    import subprocess
    import textwrap

    code = textwrap.dedent(
        """
        import resource, mervanta
        text = "a" * (48 * 1024 * 1024)
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        with open("/proc/self/statm") as f:
            in_use = int(f.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (in_use + 64 * 1024 * 1024, hard))
        try:
            mervanta.dumpb([text, text])
        except MemoryError:
            print("MemoryError")
        """
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "MemoryError"
    assert "PanicException" not in result.stderr


def test_internal_fault_writes_a_notice(capfd):
    data = {"a": object()}

    def default(value):
        data["b"] = 1
        return None

    with pytest.raises(BaseException) as info:
        mervanta.dumps(data, default=default)
    assert type(info.value).__name__ == "PanicException"
    assert "dictionary changed size during iteration" in capfd.readouterr().err
