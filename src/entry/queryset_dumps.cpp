// dump_queryset and dump_queryset_bytes: one compact document, no options.
#include "encoder/encode.hpp"
#include "entry/entry_points.hpp"
#include "entry/output.hpp"
#include "entry/signatures.hpp"

namespace mervanta {

namespace sig = signatures;

namespace {

constexpr size_t kInitialCapacity = 1024;

}  // namespace

// The default settings are the queryset layout: ", " and ": ", raw non-ASCII
// text, NaN allowed, keys unsorted, no hook.
Ref dump_queryset_body(const Arguments& args) {
  EncoderState state({}, kInitialCapacity);
  if (!encode_value(args[sig::queryset_dump::queryset], state)) {
    return {};
  }
  return buffer_to_str(state.buffer);
}

Ref dump_queryset_bytes_body(const Arguments& args) {
  EncoderState state({}, kInitialCapacity);
  if (!encode_value(args[sig::queryset_dump::queryset], state)) {
    return {};
  }
  return buffer_to_bytes(state.buffer);
}

}  // namespace mervanta
