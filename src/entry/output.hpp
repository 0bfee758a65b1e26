// Turning a finished buffer into the result object.
#pragma once

#include "encoder/output_buffer.hpp"
#include "runtime/py_ref.hpp"

namespace mervanta {

inline Ref buffer_to_str(const OutputBuffer& buffer) {
  return Ref::steal(PyUnicode_DecodeUTF8(buffer.data(), static_cast<Py_ssize_t>(buffer.size()), "strict"));
}

inline Ref buffer_to_bytes(const OutputBuffer& buffer) {
  return Ref::steal(PyBytes_FromStringAndSize(buffer.data(), static_cast<Py_ssize_t>(buffer.size())));
}

}  // namespace mervanta
