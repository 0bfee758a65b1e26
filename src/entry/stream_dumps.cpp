// stream_dump_queryset and stream_dump_queryset_jsonl: rows encoded into one
// shared buffer that is handed to fp.write whenever it passes the threshold.
#include <limits>
#include <new>
#include <optional>

#include "encoder/encode.hpp"
#include "entry/entry_points.hpp"
#include "entry/signatures.hpp"
#include "runtime/lookup.hpp"

namespace mervanta {

namespace sig = signatures;

namespace {

constexpr uint64_t kDefaultChunkSize = 1000;
constexpr uint64_t kBytesPerChunkUnit = 128;

enum class StreamFormat { array, json_lines };

// chunk_size x 128, which must fit a signed size.
bool read_chunk_threshold(const Arguments& args, uint64_t& threshold) {
  uint64_t chunk_size = kDefaultChunkSize;
  if (args[sig::stream_dump::chunk_size] != nullptr && !to_unsigned(args[sig::stream_dump::chunk_size], "chunk_size", chunk_size)) {
    return false;
  }
  constexpr uint64_t kLargest = static_cast<uint64_t>(std::numeric_limits<Py_ssize_t>::max());
  if (chunk_size > kLargest / kBytesPerChunkUnit) {
    PyErr_SetString(PyExc_OverflowError, "chunk_size is too large: chunk_size * 128 does not fit in a signed size");
    return false;
  }
  threshold = chunk_size * kBytesPerChunkUnit;
  return true;
}

bool write_chunk(PyObject* fp, EncoderState& state) {
  Ref written = call_method1_text<names::kWrite>(fp, state.buffer.view());
  state.discard_output();
  return static_cast<bool>(written);
}

bool flush_past_threshold(PyObject* fp, EncoderState& state, uint64_t threshold) {
  return state.buffer.size() <= threshold || write_chunk(fp, state);
}

// "[" rows joined by "," "]"; the closing write always happens.
bool stream_array(PyObject* rows, PyObject* fp, EncoderState& state, uint64_t threshold) {
  state.buffer.put('[');
  bool first = true;
  while (Ref row = Ref::steal(PyIter_Next(rows))) {
    if (!first) {
      state.buffer.put(',');
    }
    first = false;
    if (!encode_value(row.get(), state) || !flush_past_threshold(fp, state, threshold)) {
      return false;
    }
  }
  if (PyErr_Occurred()) {
    return false;
  }
  state.buffer.put(']');
  return write_chunk(fp, state);
}

// Each row followed by "\n"; nothing at all is written for no rows.
bool stream_json_lines(PyObject* rows, PyObject* fp, EncoderState& state, uint64_t threshold) {
  while (Ref row = Ref::steal(PyIter_Next(rows))) {
    if (!encode_value(row.get(), state)) {
      return false;
    }
    state.buffer.put('\n');
    if (!flush_past_threshold(fp, state, threshold)) {
      return false;
    }
  }
  if (PyErr_Occurred()) {
    return false;
  }
  return state.buffer.size() == 0 || write_chunk(fp, state);
}

// The first buffer holds a whole chunk; when it cannot be allocated the
// MemoryError names chunk_size, the argument to change.
bool allocate_state(std::optional<EncoderState>& state, uint64_t threshold) {
  try {
    state.emplace(EncoderSettings{}, static_cast<size_t>(threshold));
  } catch (const std::bad_alloc&) {
    PyErr_Format(PyExc_MemoryError, "chunk_size %llu is too large: cannot allocate its buffer of %llu bytes",
                 static_cast<unsigned long long>(threshold / kBytesPerChunkUnit),
                 static_cast<unsigned long long>(threshold));
    return false;
  }
  return true;
}

Ref stream_rows(const Arguments& args, StreamFormat format) {
  uint64_t threshold = 0;
  if (!read_chunk_threshold(args, threshold)) {
    return {};
  }
  // The buffer is allocated before the iterator is taken: a Django QuerySet
  // runs its query as soon as it is iterated, and a buffer that cannot be
  // allocated must fail before that.
  std::optional<EncoderState> state;
  if (!allocate_state(state, threshold)) {
    return {};
  }
  Ref rows = Ref::steal(PyObject_GetIter(args[sig::stream_dump::queryset]));
  if (!rows) {
    return {};
  }
  PyObject* fp = args[sig::stream_dump::fp];
  bool streamed = format == StreamFormat::array ? stream_array(rows.get(), fp, *state, threshold)
                                                : stream_json_lines(rows.get(), fp, *state, threshold);
  return streamed ? Ref::borrow(Py_None) : Ref();
}

}  // namespace

Ref stream_dump_queryset_body(const Arguments& args) { return stream_rows(args, StreamFormat::array); }
Ref stream_dump_queryset_jsonl_body(const Arguments& args) { return stream_rows(args, StreamFormat::json_lines); }

}  // namespace mervanta
