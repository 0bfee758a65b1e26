// The call frame every Python call passes through: signatures as data,
// argument matching, parameter conversions and the guard at the boundary.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>

#include "runtime/errors.hpp"

namespace mervanta {

inline constexpr size_t kMaxParameters = 11;

struct Signature {
  const char* name;
  std::span<const char* const> parameters;  // all positional-or-keyword, in order
  size_t required;
  bool accepts_extra_keywords;  // the signature ends in **_kw
};

// Matched arguments: one borrowed slot per parameter (null when not given) and
// the extra keywords (only for signatures that collect them).
struct Arguments {
  std::array<PyObject*, kMaxParameters> slots{};
  Ref extra_keywords;

  PyObject* operator[](size_t index) const noexcept { return slots[index]; }
  // The slot, with None counting as absent.
  PyObject* optional(size_t index) const noexcept {
    PyObject* value = slots[index];
    return value == Py_None ? nullptr : value;
  }
};

[[nodiscard]] bool match_vector_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames, Arguments& out);

// Parameter conversions. On failure the exception carries the note
// "while processing '{parameter}'" where the interpreter supports notes.
[[nodiscard]] bool to_strict_bool(PyObject* value, const char* parameter, bool& out);
[[nodiscard]] bool to_strict_bool_or(PyObject* value_or_null, const char* parameter, bool fallback, bool& out);
[[nodiscard]] bool to_unsigned(PyObject* value, const char* parameter, uint64_t& out);

// The strict-bool test without error reporting: an exact bool, or a NumPy
// boolean scalar whose __bool__ returns a bool. Failures inside are cleared.
bool read_strict_bool(PyObject* value, bool& out);
// The type's __module__ is "numpy" and its __name__ "bool_" or "bool";
// failures inside count as no.
bool is_numpy_bool_type(PyObject* type);

// Runs a body and turns its outcome into what the interpreter expects. Bodies
// return a new reference, or an empty Ref with a Python exception pending.
// C++ exceptions stop here: std::bad_alloc becomes MemoryError, every other
// one a PanicException.
template <class Body>
PyObject* run_guarded(Body&& body) noexcept;

PyObject* finish_call(Ref result) noexcept;
PyObject* raise_internal_fault(const char* message, const std::source_location* where) noexcept;

template <class Body>
PyObject* run_guarded(Body&& body) noexcept {
  try {
    return finish_call(body());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return nullptr;
  } catch (const InternalFault& fault) {
    return raise_internal_fault(fault.message().c_str(), &fault.where());
  } catch (const std::exception& error) {
    return raise_internal_fault(error.what(), nullptr);
  } catch (...) {
    return raise_internal_fault("unknown internal fault", nullptr);
  }
}

}  // namespace mervanta
