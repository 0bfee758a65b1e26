import io

import pytest

import mervanta


@pytest.mark.parametrize("stream", [mervanta.stream_dump_queryset, mervanta.stream_dump_queryset_jsonl])
def test_unallocatable_chunk_buffer_names_chunk_size(stream):
    def rows():
        raise AssertionError("iterated")
        yield

    out = io.StringIO()
    with pytest.raises(MemoryError, match=r"chunk_size 1125899906842624 is too large"):
        stream(rows(), out, 2**50)
    assert out.getvalue() == ""
