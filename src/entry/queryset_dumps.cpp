// dump_queryset and dump_queryset_bytes: one compact document, no options.
#include "entry/entry_points.hpp"
#include "entry/output.hpp"
#include "encoder/encode.hpp"
#include "entry/signatures.hpp"

namespace mervanta {

namespace sig = signatures;

namespace {

constexpr size_t kInitialCapacity = 1024;

// The settings of dumpb without pretty: ", " and ": ", raw non-ASCII text,
// NaN allowed, keys unsorted, no hook.
bool encode_queryset_document(PyObject* queryset, EncoderState& state) {
  state.pretty = false;
  state.item_separator = ", ";
  state.key_separator = ": ";
  state.ensure_ascii = false;
  return encode_value(queryset, state, 0, nullptr, true, false);
}

}  // namespace

Ref dump_queryset_body(const Arguments& args) {
  EncoderState state(kInitialCapacity);
  if (!encode_queryset_document(args[sig::kQueryset], state)) {
    return {};
  }
  return buffer_to_str(state.buffer);
}

Ref dump_queryset_bytes_body(const Arguments& args) {
  EncoderState state(kInitialCapacity);
  if (!encode_queryset_document(args[sig::kQueryset], state)) {
    return {};
  }
  return buffer_to_bytes(state.buffer);
}

}  // namespace mervanta
