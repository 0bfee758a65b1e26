// The exact built-in scalar types, tried before any other dispatch.
#pragma once

#include "encoder/outcome.hpp"
#include "encoder/writers.hpp"

namespace mervanta {

// Writes a value of an exact built-in scalar type (str, int, float, None,
// True, False) without running any Python code; no_match for other types.
// Inlined into every container loop: it is the hot path of the encoder.
[[nodiscard]] [[gnu::always_inline]] inline Outcome encode_plain_scalar(PyObject* value, EncoderState& state) {
  PyTypeObject* type = Py_TYPE(value);
  if (type == &PyUnicode_Type) {
    return outcome_of(write_str(value, state));
  }
  if (type == &PyLong_Type) {
    return outcome_of(write_int_object(value, state));
  }
  if (type == &PyFloat_Type) {
    return outcome_of(write_float(PyFloat_AsDouble(value), state));
  }
  if (value == Py_None) {
    state.buffer.put("null", 4);
    return Outcome::matched;
  }
  if (value == Py_True) {
    state.buffer.put("true", 4);
    return Outcome::matched;
  }
  if (value == Py_False) {
    state.buffer.put("false", 5);
    return Outcome::matched;
  }
  return Outcome::no_match;
}

}  // namespace mervanta
