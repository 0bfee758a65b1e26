#include "entry_points/entry_points.hpp"
#include "module/signatures.hpp"

namespace mervanta {

namespace sig = signatures;

namespace {
Ref stream_stub(const Arguments& args, const char* name) {
  uint64_t chunk_size = 1000;
  if (args[sig::kChunkSize] != nullptr && !to_unsigned(args[sig::kChunkSize], "chunk_size", chunk_size)) {
    return {};
  }
  PyErr_Format(PyExc_NotImplementedError, "%s() is not implemented yet", name);
  return {};
}
}  // namespace

Ref stream_dump_queryset_body(const Arguments& args) { return stream_stub(args, "stream_dump_queryset"); }
Ref stream_dump_queryset_jsonl_body(const Arguments& args) { return stream_stub(args, "stream_dump_queryset_jsonl"); }

}  // namespace mervanta
