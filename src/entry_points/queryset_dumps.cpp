#include "entry_points/entry_points.hpp"
#include "module/signatures.hpp"

namespace mervanta {

Ref dump_queryset_body(const Arguments&) {
  PyErr_SetString(PyExc_NotImplementedError, "dump_queryset() is not implemented yet");
  return {};
}

Ref dump_queryset_bytes_body(const Arguments&) {
  PyErr_SetString(PyExc_NotImplementedError, "dump_queryset_bytes() is not implemented yet");
  return {};
}

}  // namespace mervanta
