// The exact built-in scalar types, tried before any other dispatch.
#pragma once

#include <algorithm>

#include "encoder/outcome.hpp"
#include "encoder/plain_text.hpp"
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

// Room write_simple_scalar_at may use.
inline constexpr size_t kSimpleScalarRoom = std::max(kFloatScratch, kShortPlainRoom);

// The scalars with a short text, written at out inside kSimpleScalarRoom
// bytes of reserved room: a finite float, an int within 64 bits, None, True,
// False, a str that needs no escape and fits the short path (exact types). Returns the end of the text, or null for any other value, which the
// general writers take. Lets a container loop write an item and its
// separator through one local cursor.
[[nodiscard]] [[gnu::always_inline]] inline char* write_simple_scalar_at(char* out, PyObject* value,
                                                                         bool ensure_ascii) {
  PyTypeObject* type = Py_TYPE(value);
  if (type == &PyFloat_Type) {
    const double number = PyFloat_AsDouble(value);
    if (!std::isfinite(number)) [[unlikely]] {
      return nullptr;
    }
    return out + format_float(number, out);
  }
  if (type == &PyLong_Type) {
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow != 0) [[unlikely]] {
      return nullptr;
    }
    // The magnitude as unsigned, so -2**63 works.
    uint64_t magnitude = static_cast<uint64_t>(number);
    if (number < 0) {
      *out++ = '-';
      magnitude = 0 - magnitude;
    }
    return out + write_digits(out, magnitude);
  }
  if (value == Py_None) {
    std::memcpy(out, "null", 4);
    return out + 4;
  }
  if (type == &PyBool_Type) {
    // Flags come mixed in real data: chosen without a branch. The byte
    // after "true" lands in the room.
    const bool truth = value == Py_True;
    std::memcpy(out, truth ? "true" : "false", 5);
    return out + 5 - truth;
  }
  if (type == &PyUnicode_Type) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size);
    if (utf8 == nullptr) [[unlikely]] {
      // The general writer meets the same error again and reports it.
      PyErr_Clear();
      return nullptr;
    }
    return write_plain_text_at(out, utf8, static_cast<size_t>(size), ensure_ascii);
  }
  return nullptr;
}

}  // namespace mervanta
