"""Containers, layout, key rules, ordering and the keyword set of dumps."""
import json
import threading

import pytest

import mervanta
from mervanta import dumps, dumpb

PanicException = None


def panic_type():
    """The PanicException class, created on first use by the module."""
    class Grow:
        pass

    data = {"a": Grow()}

    def default(value):
        data["new"] = 1
        return None

    try:
        dumps(data, default=default)
    except BaseException as error:  # noqa: B036 - PanicException derives from BaseException
        return type(error)
    raise AssertionError("no fault raised")


@pytest.mark.parametrize(
    "value, kwargs, text",
    [
        ([], {}, "[]"),
        ({}, {}, "{}"),
        ([], {"indent": 2}, "[\n  \n]"),
        ({}, {"indent": 2}, "{\n  \n}"),
        ([], {"indent": 0}, "[\n\n]"),
        ([1, [2, 3]], {"indent": 2}, "[\n  1,\n  [\n    2,\n    3\n  ]\n]"),
        ({"a": [], "b": [[]]}, {}, '{"a": [], "b": [[]]}'),
        ([{}, {"a": {}}, [{}]], {}, '[{}, {"a": {}}, [{}]]'),
        ([{}, {"a": {}}], {"indent": 1}, '[\n {\n  \n },\n {\n  "a": {\n   \n  }\n }\n]'),
        ({"a": [[]]}, {"indent": 2}, '{\n  "a": [\n    [\n      \n    ]\n  ]\n}'),
        ({"a": 1, "b": 2}, {}, '{"a": 1, "b": 2}'),
        ({"a": [1, 2]}, {"indent": True}, '{\n "a": [\n  1,\n  2\n ]\n}'),
        ({"a": [1, 2]}, {"indent": "\t"}, '{"a": [1, 2]}'),
        ({"a": [1, 2]}, {"indent": -1}, '{"a": [1, 2]}'),
        ({"a": [1, 2]}, {"indent": 256}, '{"a": [1, 2]}'),
        ({"a": [1, 2]}, {"indent": 2.0}, '{"a": [1, 2]}'),
        ({"a": [1, 2]}, {"indent": None}, '{"a": [1, 2]}'),
        ({"a": [1, 2]}, {"separators": (",", ":")}, '{"a":[1,2]}'),
        ({"a": [1, 2]}, {"separators": ",:"}, '{"a":[1,2]}'),
        ({"a": [1, 2]}, {"separators": {0: ";", 1: "="}}, '{"a"=[1;2]}'),
        ({"a": [1, 2]}, {"separators": (", ", ": "), "indent": 1}, '{\n "a": [\n  1, \n  2\n ]\n}'),
        ({"a": 1}, {"skipkeys": True, "check_circular": False, "cls": object}, '{"a": 1}'),
        ((1, (2,)), {}, "[1, [2]]"),
    ],
)
def test_layout(value, kwargs, text):
    assert dumps(value, **kwargs) == text


def test_dumpb_layout():
    value = {"b": [1, {"c": None}], "a": "é"}
    assert dumpb(value) == b'{"b": [1, {"c": null}], "a": "\xc3\xa9"}'
    assert dumpb(value, pretty=True) == '{\n  "b": [\n    1,\n    {\n      "c": null\n    }\n  ],\n  "a": "é"\n}'.encode()
    assert dumpb([], pretty=True) == b"[\n  \n]"


@pytest.mark.parametrize("separators, error", [([","], IndexError), ((",", 1), TypeError), (5, TypeError)])
def test_bad_separators(separators, error):
    with pytest.raises(error):
        dumps([1], separators=separators)


def test_separator_item_must_be_str():
    with pytest.raises(TypeError) as info:
        dumps([1], separators=(",", None))
    assert str(info.value) == "'None' is not an instance of 'str'"


def test_matches_standard_library_layouts():
    # empty containers are left out: in pretty mode they keep their line breaks here
    value = {"k": [1, 2.5, "s", None, True, {"n": [0]}], "e": {"f": False}}
    for kwargs in ({}, {"indent": 4}, {"separators": (",", ":")}, {"sort_keys": True, "indent": 1}):
        assert dumps(value, **kwargs) == json.dumps(value, **kwargs)


def test_sort_keys_orders_by_code_point_at_every_level():
    value = {"b": 1, "a": {"z": 1, "é": 2, "Z": 3}, "A": [{"y": 1, "x": 2}]}
    assert dumps(value, sort_keys=True) == '{"A": [{"x": 2, "y": 1}], "a": {"Z": 3, "z": 1, "\\u00e9": 2}, "b": 1}'
    assert dumps({"ab": 1, "a": 2}, sort_keys=True) == '{"a": 2, "ab": 1}'


@pytest.mark.parametrize(
    "key, message",
    [
        (1, "'int' object is not an instance of 'str'"),
        (None, "'None' is not an instance of 'str'"),
        (1.5, "'float' object is not an instance of 'str'"),
        (True, "'bool' object is not an instance of 'str'"),
    ],
)
@pytest.mark.parametrize("sort_keys", [False, True])
def test_keys_must_be_strings(key, message, sort_keys):
    for kwargs in ({}, {"skipkeys": True}):
        with pytest.raises(TypeError) as info:
            dumps({key: 1}, sort_keys=sort_keys, **kwargs)
        assert str(info.value) == message


def test_sets_sorted_by_text():
    assert dumps({3, 1, 2}) == "[1, 2, 3]"
    assert dumps({10, 9}) == "[10, 9]"
    assert dumps(frozenset({10, 9})) == "[10, 9]"
    assert dumps({"b", "a", "é"}) == '["a", "b", "\\u00e9"]'

    class Tagged(set):
        pass

    assert dumps(Tagged({2, 1})) == "[1, 2]"


def test_set_items_with_equal_text_keep_iteration_order():
    items = list({1, "1"})
    assert json.loads(dumps(set(items))) == items


def test_subclasses_are_read_through_the_concrete_interfaces():
    class Sneaky(list):
        def __iter__(self):
            raise AssertionError("not used")

    class Mapping(dict):
        def items(self):
            raise AssertionError("not used")

    assert dumps(Sneaky([1, 2])) == "[1, 2]"
    assert dumps(Mapping(a=1)) == '{"a": 1}'


def test_list_shrinking_while_written_ends_early():
    data = [1, None, 3, 4]

    class Shrink:
        pass

    data[1] = Shrink()

    def default(value):
        del data[2:]
        return "x"

    assert dumps(data, default=default) == '[1, "x"]'


def test_list_growing_while_written_keeps_initial_size():
    data = [object(), 2]

    def default(value):
        data.append(99)
        return "x"

    assert dumps(data, default=default) == '["x", 2]'


@pytest.mark.parametrize("inner_size", [10, 3_000, 300_000])
@pytest.mark.parametrize("outer_size", [10, 3_000, 300_000])
def test_runs_nested_through_default_keep_their_own_output(outer_size, inner_size):
    # The inner run starts while the outer one holds a grown buffer; the
    # block one of them leaves behind is taken by the next call.
    class Inner:
        pass

    inner = ["i%d" % index for index in range(inner_size // 6)]
    outer = ["o%d" % index for index in range(outer_size // 6)] + [Inner()]

    def default(value):
        return [dumps(inner), dumpb(inner).decode()]

    expected = json.dumps(outer[:-1] + [[json.dumps(inner)] * 2])
    for call in range(3):
        assert dumps(outer, default=default) == expected


class TestDictGuards:
    def test_panic_exception_class(self):
        panic = panic_type()
        assert panic.__name__ == "PanicException"
        assert issubclass(panic, BaseException)
        assert not issubclass(panic, Exception)
        assert panic_type() is panic

    @pytest.mark.parametrize("position", ["first", "last"])
    def test_size_change_raises_panic(self, position):
        class Grow:
            pass

        data = {"a": Grow(), "b": 1} if position == "first" else {"a": 1, "b": Grow()}

        def default(value):
            data["added"] = 1
            return None

        with pytest.raises(BaseException) as info:
            dumps(data, default=default)
        assert type(info.value).__name__ == "PanicException"
        assert str(info.value) == "dictionary changed size during iteration"

    def test_keys_changed_raises_panic(self):
        class Swap:
            pass

        data = {"a": Swap(), "b": 1}

        def default(value):
            del data["a"]  # already written: the dict now yields three members
            data["c"] = 2
            return None

        with pytest.raises(BaseException) as info:
            dumps(data, default=default)
        assert type(info.value).__name__ == "PanicException"
        assert str(info.value) == "dictionary keys changed during iteration"

    def test_sorted_dict_is_written_from_its_snapshot(self):
        class Grow:
            pass

        data = {"b": Grow(), "a": 1}

        def default(value):
            data["c"] = 3
            return None

        assert dumps(data, default=default, sort_keys=True) == '{"a": 1, "b": null}'

    def test_panic_is_not_an_exception_and_module_keeps_working(self):
        class Grow:
            pass

        data = {"a": Grow()}

        def default(value):
            data["x"] = 1
            return 0

        caught_by_exception = False
        try:
            try:
                dumps(data, default=default)
            except Exception:
                caught_by_exception = True
        except BaseException as error:
            assert type(error).__name__ == "PanicException"
        assert not caught_by_exception
        assert dumps({"still": "working"}) == '{"still": "working"}'

    def test_panic_from_python_code_is_raised_again(self, capfd):
        panic = panic_type()

        def default(value):
            raise panic("from a hook")

        with pytest.raises(panic) as info:
            dumps([object()], default=default)
        assert str(info.value) == "from a hook"
        assert "from a hook" in capfd.readouterr().err

    def test_failing_str_during_set_sort_is_a_panic(self):
        class Bad:
            def __hash__(self):
                return 1

            def __str__(self):
                raise ValueError("no text")

        with pytest.raises(BaseException) as info:
            dumps({Bad(), "x"})
        assert type(info.value).__name__ == "PanicException"
        assert "no text" in str(info.value)


class TestDefault:
    def test_hook_results_are_encoded_again(self):
        class A:
            pass

        class B:
            pass

        def default(value):
            return {"inner": B()} if isinstance(value, A) else [1]

        assert dumps(A(), default=default) == '{"inner": [1]}'

    def test_hook_exception_passes_through(self):
        def default(value):
            raise ValueError("hook says no")

        with pytest.raises(ValueError, match="hook says no"):
            dumps([object()], default=default)

    def test_top_level_retry_after_first_failure(self):
        calls = []

        def default(value):
            calls.append(value)
            return "fixed"

        data = {"a": float("nan")}
        assert dumps(data, allow_nan=False, default=default) == '"fixed"'
        assert calls == [data]

    def test_retry_uses_standard_separators(self):
        def default(value):
            if isinstance(value, dict):
                return {"x": [1, 2]}
            raise ValueError("unknown")

        assert dumps({"a": object()}, separators=(";", "="), default=default) == '{"x": [1, 2]}'
        assert dumps({"a": object()}, separators=(";", "="), indent=1, default=default) == \
            '{\n "x": [\n  1,\n  2\n ]\n}'

    def test_retry_failure_reports_second_exception(self):
        def default(value):
            raise KeyError("second")

        with pytest.raises(KeyError, match="second"):
            dumps([object()], default=default)

    @pytest.mark.parametrize("exception", [KeyboardInterrupt, SystemExit])
    def test_non_ordinary_exceptions_are_never_retried(self, exception):
        calls = []

        class Stop:
            def __float__(self):
                return 1.0

        class Raiser:
            pass

        def default(value):
            calls.append(value)
            if isinstance(value, Raiser):
                raise exception()
            return "swallowed"

        with pytest.raises(exception):
            dumps([Raiser()], default=default)
        assert len(calls) == 1

    def test_hook_returning_its_argument_stops_with_recursion_error(self):
        with pytest.raises(RecursionError):
            dumps(object(), default=lambda value: value)


class TestNesting:
    def test_empty_list_beyond_the_depth_limit_still_raises(self):
        value = []
        for _ in range(1100):
            value = [value]
        with pytest.raises(RecursionError):
            dumps(value)
        with pytest.raises(RecursionError):
            dumps({"a": value})
        for empty in ([], {}):
            member = {"a": empty}
            for _ in range(1100):
                member = {"a": member}
            with pytest.raises(RecursionError):
                dumps(member)
            with pytest.raises(RecursionError):
                dumps([member])

    def test_five_hundred_levels_encode(self):
        value = []
        for _ in range(500):
            value = [value]
        assert dumps(value) == "[" * 501 + "]" * 501
        nested = {}
        for _ in range(500):
            nested = {"a": nested}
        assert dumpb(nested).count(b"{") == 501

    @pytest.mark.parametrize("kind", ["list", "dict"])
    def test_self_reference_raises_recursion_error(self, kind):
        value = [] if kind == "list" else {}
        if kind == "list":
            value.append(value)
        else:
            value["self"] = value
        with pytest.raises(RecursionError):
            dumps(value)
        with pytest.raises(RecursionError):
            dumpb(value)

    def test_deep_nesting_in_a_thread(self):
        value = []
        for _ in range(100000):
            value = [value]
        outcome = []

        def run():
            try:
                dumps(value)
            except RecursionError:
                outcome.append("recursion")

        thread = threading.Thread(target=run)
        thread.start()
        thread.join()
        assert outcome == ["recursion"]
