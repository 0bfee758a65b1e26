"""stream_dump_queryset and stream_dump_queryset_jsonl on plain iterables:
write pattern, chunk threshold at every boundary, failures part-way,
argument errors and writers that misbehave."""

import io
import json
import sys

import pytest

import mervanta

ARRAY, LINES = mervanta.stream_dump_queryset, mervanta.stream_dump_queryset_jsonl


class Recorder:
    def __init__(self):
        self.writes = []

    def write(self, text):
        assert type(text) is str
        self.writes.append(text)
        return "ignored"


class WatchedRows:
    """An iterable that records whether anybody started iterating it."""

    def __init__(self, rows):
        self.rows = rows
        self.iterated = False

    def __iter__(self):
        self.iterated = True
        return iter(self.rows)


def record(stream, rows, **kwargs):
    recorder = Recorder()
    assert stream(rows, recorder, **kwargs) is None
    return recorder.writes


ROW1, ROW2 = {"a": 1, "b": [1, 2]}, ("x", None)
TEXT1, TEXT2 = '{"a": 1, "b": [1, 2]}', '["x", null]'


@pytest.mark.parametrize(
    ("stream", "rows", "kwargs", "writes"),
    [
        (ARRAY, [], {}, ["[]"]),
        (LINES, [], {}, []),
        (ARRAY, [ROW1, ROW2], {}, [f"[{TEXT1},{TEXT2}]"]),
        (LINES, [ROW1, ROW2], {}, [f"{TEXT1}\n{TEXT2}\n"]),
        (ARRAY, [ROW1, ROW2], {"chunk_size": 0}, [f"[{TEXT1}", f",{TEXT2}", "]"]),
        (LINES, [ROW1, ROW2], {"chunk_size": 0}, [f"{TEXT1}\n", f"{TEXT2}\n"]),
        (ARRAY, iter([ROW1]), {"chunk_size": 0}, [f"[{TEXT1}", "]"]),
        (ARRAY, (r for r in [ROW2]), {"chunk_size": 5}, [f"[{TEXT2}]"]),
    ],
)
def test_write_pattern(stream, rows, kwargs, writes):
    assert record(stream, rows, **kwargs) == writes


def string_row(total_length):
    """A str row whose JSON text is exactly total_length bytes."""
    return "x" * (total_length - 2)


@pytest.mark.parametrize("row_length", [127, 128])
def test_array_threshold_is_strictly_greater(row_length):
    # chunk_size=1 is 128 bytes: "[" + a 127-byte row stays buffered, one more byte is written.
    row = string_row(row_length)
    text = json.dumps(row)
    expected = [f"[{text}]"] if row_length == 127 else [f"[{text}", "]"]
    assert record(ARRAY, [row], chunk_size=1) == expected


@pytest.mark.parametrize("row_length", [127, 128])
def test_json_lines_threshold_counts_the_newline(row_length):
    row = string_row(row_length)
    line = json.dumps(row) + "\n"
    expected = [line + line] if row_length == 127 else [line, line]
    assert record(LINES, [row, row], chunk_size=1) == expected


def test_chunks_end_at_row_boundaries():
    rows = [string_row(10)] * 30  # each row 10 bytes; chunk_size=1 means 128
    text = json.dumps(rows[0])
    array = record(ARRAY, rows, chunk_size=1)
    # 12 rows with their "[" or "," make 132 > 128 bytes; then the rest and "]".
    assert array == ["[" + ",".join([text] * 12), "," + ",".join([text] * 12), "," + ",".join([text] * 6) + "]"]
    lines = record(LINES, rows, chunk_size=1)
    assert lines == [(text + "\n") * 12, (text + "\n") * 12, (text + "\n") * 6]


def test_output_is_the_complete_document():
    rows = [{"id": i, "name": f"r\u00e9sum\u00e9 {i}", "v": [i / 2, None]} for i in range(2000)]
    for chunk_size in (0, 1, 7, 1000):
        array = record(ARRAY, rows, chunk_size=chunk_size)
        assert json.loads("".join(array)) == rows
        assert "".join(array) == "[" + ",".join(mervanta.dump_queryset(row) for row in rows) + "]"
        lines = record(LINES, iter(rows), chunk_size=chunk_size)
        assert "".join(lines) == "".join(mervanta.dump_queryset(row) + "\n" for row in rows)
    assert len(record(ARRAY, rows * 3)) == 3  # 346680 bytes in 128000-byte chunks


def test_raw_non_ascii_and_nan():
    assert record(ARRAY, [["\u00e9\u2603\U0001f600", float("nan"), float("-inf")]]) == [
        '[["\u00e9\u2603\U0001f600", NaN, -Infinity]]'
    ]


NOTE = ["while processing 'chunk_size'"] if sys.version_info >= (3, 11) else None


@pytest.mark.parametrize("stream", [ARRAY, LINES])
@pytest.mark.parametrize(
    ("chunk_size", "error", "message", "note"),
    [
        (-1, OverflowError, "can't convert negative int to unsigned", NOTE),
        (2**64, OverflowError, "int too big to convert", NOTE),
        (2**100, OverflowError, "int too big to convert", NOTE),
        (None, TypeError, "'NoneType' object cannot be interpreted as an integer", NOTE),
        ("5", TypeError, "'str' object cannot be interpreted as an integer", NOTE),
        ("1", TypeError, "'str' object cannot be interpreted as an integer", NOTE),
        (1.0, TypeError, "'float' object cannot be interpreted as an integer", NOTE),
        (2**63 // 128, OverflowError, "chunk_size is too large: chunk_size * 128 does not fit in a signed size", None),
        (2**64 - 1, OverflowError, "chunk_size is too large: chunk_size * 128 does not fit in a signed size", None),
        (
            2**63 // 128 - 1,
            MemoryError,
            "chunk_size 72057594037927935 is too large: cannot allocate its buffer of 9223372036854775680 bytes",
            None,
        ),
    ],
)
def test_chunk_size_errors_come_before_iterating_or_writing(stream, chunk_size, error, message, note):
    rows, recorder = WatchedRows([1, 2]), Recorder()
    with pytest.raises(error) as caught:
        stream(rows, recorder, chunk_size)
    assert type(caught.value) is error
    assert str(caught.value) == message
    assert getattr(caught.value, "__notes__", None) == note
    assert not rows.iterated
    assert recorder.writes == []


@pytest.mark.parametrize("stream", [ARRAY, LINES])
def test_not_iterable(stream):
    recorder = Recorder()
    with pytest.raises(TypeError, match="^'int' object is not iterable$"):
        stream(5, recorder)
    assert recorder.writes == []


class Unsupported:
    pass


def rows_then(failure, count=3):
    for i in range(count):
        yield {"row": i}
    if isinstance(failure, BaseException):
        raise failure
    yield failure


@pytest.mark.parametrize(
    ("failure", "error", "message"),
    [
        (Unsupported(), TypeError, "Object of type Unsupported is not JSON serializable"),
        (LookupError("db gone"), LookupError, "db gone"),
        ({"bad": "\ud800"}, UnicodeEncodeError, None),
    ],
)
def test_failure_part_way_keeps_earlier_chunks(failure, error, message):
    recorder = Recorder()
    with pytest.raises(error) as caught:
        ARRAY(rows_then(failure), recorder, chunk_size=0)
    if message is not None:
        assert str(caught.value) == message
    assert recorder.writes == ['[{"row": 0}', ',{"row": 1}', ',{"row": 2}']

    recorder = Recorder()
    with pytest.raises(error):
        LINES(rows_then(failure), recorder)
    assert recorder.writes == []  # all rows were still buffered


def test_write_errors():
    with pytest.raises(AttributeError, match="'NoneType' object has no attribute 'write'"):
        ARRAY([], None)
    assert LINES([], None) is None  # no rows, no write attempted

    class Full:
        calls = 0

        def write(self, text):
            Full.calls += 1
            if Full.calls == 2:
                raise OSError("disk full")

    with pytest.raises(OSError, match="^disk full$"):
        LINES(range(10), Full(), chunk_size=0)
    assert Full.calls == 2


def test_write_is_looked_up_for_every_chunk():
    seen = []

    class Swapping:
        def write(self, text):
            seen.append(("first", text))
            self.write = lambda text: seen.append(("second", text))

    ARRAY([1, 2], Swapping(), chunk_size=0)
    assert seen == [("first", "[1"), ("second", ",2"), ("second", "]")]


def test_keyword_arguments_and_string_io():
    buffer = io.StringIO()
    ARRAY(queryset=[{"k": "\u00e9"}], fp=buffer, chunk_size=2)
    LINES(fp=buffer, queryset=[[1], [2]])
    assert buffer.getvalue() == '[{"k": "\u00e9"}][1]\n[2]\n'


@pytest.mark.parametrize("chunk_size", [0, 3, 1000])
def test_real_text_file(tmp_path, chunk_size):
    rows = [{"id": i, "text": "\u00e9t\u00e9 \u2603" * (i % 5), "n": [i, i * 0.25]} for i in range(3000)]
    array_path, lines_path = tmp_path / "rows.json", tmp_path / "rows.jsonl"
    with open(array_path, "w", encoding="utf-8") as fp:
        ARRAY(rows, fp, chunk_size)
    with open(lines_path, "w", encoding="utf-8") as fp:
        LINES(iter(rows), fp, chunk_size)
    assert json.loads(array_path.read_text(encoding="utf-8")) == rows
    lines = lines_path.read_text(encoding="utf-8").split("\n")
    assert lines[-1] == ""
    assert [json.loads(line) for line in lines[:-1]] == rows


@pytest.mark.parametrize("stream", [ARRAY, LINES])
@pytest.mark.parametrize("chunk_size", [0, 1, True, 1000, 2**20])
def test_chunk_sizes_that_work(stream, chunk_size):
    rows = [{"i": index, "text": "\u00e9" * index} for index in range(300)]
    writes = record(stream, rows, chunk_size=chunk_size)
    expected_rows = [mervanta.dumpb(row).decode() for row in rows]
    if stream is ARRAY:
        assert "".join(writes) == "[" + ",".join(expected_rows) + "]"
    else:
        assert "".join(writes) == "".join(row + "\n" for row in expected_rows)
    if type(chunk_size) is int and chunk_size == 0:  # every row is written at once
        assert len(writes) >= 300


@pytest.mark.parametrize("stream", [ARRAY, LINES])
@pytest.mark.parametrize("chunk_size", [2**40, 2**55, 2**57, 2**58, 2**63])
def test_chunk_sizes_too_large_to_allocate(stream, chunk_size):
    rows, recorder = WatchedRows([1, 2]), Recorder()
    with pytest.raises((OverflowError, MemoryError)):
        stream(rows, recorder, chunk_size)
    assert not rows.iterated
    assert recorder.writes == []
    assert mervanta.dumps([1]) == "[1]"


def test_index_of_chunk_size_that_raises():
    class Size:
        def __index__(self):
            raise KeyError("i")

    with pytest.raises(KeyError) as caught:
        ARRAY([1], Recorder(), Size())
    assert type(caught.value) is KeyError


@pytest.mark.parametrize("stream", [ARRAY, LINES])
def test_threshold_is_exceeded_only_by_more_than_chunk_size_times_128(stream):
    # A string row of n characters takes n + 3 bytes with the newline of
    # JSON Lines, or with the "[" before the first row of the array.
    exact, over = "x" * 125, "x" * 126
    assert len(record(stream, [exact], chunk_size=1)) == 1  # only the final write
    writes = record(stream, [over, "y"], chunk_size=1)
    assert len(writes) == 2 and len(writes[0]) == 129


def test_write_that_mutates_the_rows_being_streamed():
    rows = [1, 2, 3]

    class Meddler(Recorder):
        def write(self, text):
            super().write(text)
            if len(rows) < 6:
                rows.append(len(rows) + 1)

    meddler = Meddler()
    ARRAY(rows, meddler, chunk_size=0)
    assert "".join(meddler.writes) == "[1,2,3,4,5,6]"


def test_write_that_calls_the_module_again():
    nested: list[str] = []

    class Writer:
        def write(self, text):
            nested.append(mervanta.dumps(text))

    LINES([{"a": 1}, [2]], Writer(), 0)
    assert nested == ['"{\\"a\\": 1}\\n"', '"[2]\\n"']


def test_dump_write_attribute_that_raises_on_lookup():
    class Writer:
        @property
        def write(self):
            raise PermissionError("read-only")

    with pytest.raises(PermissionError) as caught:
        mervanta.dump([1], Writer())
    assert type(caught.value) is PermissionError and str(caught.value) == "read-only"
