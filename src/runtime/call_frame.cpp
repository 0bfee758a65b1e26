#include "runtime/call_frame.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "runtime/cache.hpp"
#include "runtime/lookup.hpp"
#include "runtime/saved_exception.hpp"

namespace mervanta {

namespace {

bool fail_too_many_positional(const Signature& signature, Py_ssize_t given) {
  size_t count = signature.parameters.size();
  if (signature.required == count) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zu positional arguments but %zd were given", signature.name, count,
                 given);
  } else {
    PyErr_Format(PyExc_TypeError, "%s() takes from %zu to %zu positional arguments but %zd were given",
                 signature.name, signature.required, count, given);
  }
  return false;
}

bool fail_missing(const Signature& signature, const Arguments& out) {
  std::array<const char*, kMaxParameters> missing{};
  size_t count = 0;
  for (size_t i = 0; i < signature.required; ++i) {
    if (out.slots[i] == nullptr) {
      missing[count++] = signature.parameters[i];
    }
  }
  std::string list;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) {
      list += count > 2 ? ", " : " ";
      if (i == count - 1) {
        list += "and ";
      }
    }
    list += '\'';
    list += missing[i];
    list += '\'';
  }
  PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s", signature.name, count,
               count == 1 ? "" : "s", list.c_str());
  return false;
}

bool check_required(const Signature& signature, const Arguments& out) {
  for (size_t i = 0; i < signature.required; ++i) {
    if (out.slots[i] == nullptr) {
      return fail_missing(signature, out);
    }
  }
  return true;
}

// Index of the parameter called `name`, or -1.
Py_ssize_t find_parameter(const Signature& signature, PyObject* name) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(name, &size);
  if (text == nullptr) {
    PyErr_Clear();
    return -1;
  }
  std::string_view wanted(text, static_cast<size_t>(size));
  for (size_t i = 0; i < signature.parameters.size(); ++i) {
    if (wanted == signature.parameters[i]) {
      return static_cast<Py_ssize_t>(i);
    }
  }
  return -1;
}

bool fail_keyword(const char* format, const Signature& signature, PyObject* name) {
  PyErr_Format(PyExc_TypeError, format, signature.name, name);
  return false;
}

bool place_keyword(const Signature& signature, PyObject* name, PyObject* value, Arguments& out) {
  Py_ssize_t index = find_parameter(signature, name);
  if (index >= 0) {
    if (out.slots[static_cast<size_t>(index)] != nullptr) {
      return fail_keyword("%s() got multiple values for argument '%U'", signature, name);
    }
    out.slots[static_cast<size_t>(index)] = value;
    return true;
  }
  if (!signature.accepts_extra_keywords) {
    return fail_keyword("%s() got an unexpected keyword argument '%U'", signature, name);
  }
  if (!out.extra_keywords) {
    out.extra_keywords = Ref::steal(PyDict_New());
    if (!out.extra_keywords) {
      return false;
    }
  }
  return PyDict_SetItem(out.extra_keywords.get(), name, value) == 0;
}

// Attaches "while processing '{parameter}'" to the pending exception where
// the interpreter offers add_note; a failing add_note is discarded.
void add_processing_note(const char* parameter) {
  SavedException pending;
  if (PyObject* value = pending.value()) {
    Ref note = Ref::steal(PyUnicode_FromFormat("while processing '%s'", parameter));
    Ref added = note ? call_method1<names::kAddNote>(value, note.get()) : Ref();
    PyErr_Clear();
  }
  pending.restore();
}

bool read_numpy_bool(PyObject* value, bool& out) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
  if (!is_numpy_bool_type(type)) {
    return false;
  }
  Ref method = getattr<names::kBool>(type);
  if (!method) {
    return false;
  }
  Ref result = Ref::steal(PyObject_CallFunctionObjArgs(method.get(), value, nullptr));
  if (!result || !PyBool_Check(result.get())) {
    return false;
  }
  out = result.get() == Py_True;
  return true;
}

}  // namespace

bool match_vector_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                            Arguments& out) {
  if (static_cast<size_t>(nargs) > signature.parameters.size()) {
    return fail_too_many_positional(signature, nargs);
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) {
    out.slots[static_cast<size_t>(i)] = args[i];
  }
  if (kwnames != nullptr) {
    Py_ssize_t count = PyTuple_Size(kwnames);
    for (Py_ssize_t i = 0; i < count; ++i) {
      if (!place_keyword(signature, PyTuple_GetItem(kwnames, i), args[nargs + i], out)) {
        return false;
      }
    }
  }
  return check_required(signature, out);
}

namespace {

bool has_numpy_bool_names(PyObject* type) {
  Ref module = getattr<names::kModule>(type);
  if (!module || !PyUnicode_Check(module.get()) || PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) {
    return false;
  }
  Ref name = getattr<names::kName>(type);
  return name && PyUnicode_Check(name.get()) &&
         (PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
          PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0);
}

}  // namespace

bool is_numpy_bool_type(PyObject* type) {
  bool answer = has_numpy_bool_names(type);
  if (PyErr_Occurred()) {
    clear_no_match_error();
  }
  return answer;
}

bool read_strict_bool(PyObject* value, bool& out) {
  if (value == Py_True || value == Py_False) {
    out = value == Py_True;
    return true;
  }
  if (read_numpy_bool(value, out)) {
    return true;
  }
  if (PyErr_Occurred()) {
    clear_no_match_error();
  }
  return false;
}

bool to_strict_bool(PyObject* value, const char* parameter, bool& out) {
  if (read_strict_bool(value, out)) {
    return true;
  }
  fail_not_instance(value, "bool");
  add_processing_note(parameter);
  return false;
}

bool to_strict_bool_or(PyObject* value_or_null, const char* parameter, bool fallback, bool& out) {
  if (value_or_null == nullptr) {
    out = fallback;
    return true;
  }
  return to_strict_bool(value_or_null, parameter, out);
}

bool to_unsigned(PyObject* value, const char* parameter, uint64_t& out) {
  Ref index = Ref::steal(PyNumber_Index(value));
  if (index) {
    unsigned long long converted = PyLong_AsUnsignedLongLong(index.get());
    if (!(converted == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
      out = converted;
      return true;
    }
  }
  add_processing_note(parameter);
  return false;
}

PyObject* finish_call(Ref result) noexcept {
  if (result) {
    return result.release();
  }
  if (!PyErr_Occurred()) {
    PyErr_SetString(PyExc_SystemError, "mervanta: failure without an exception");
    return nullptr;
  }
  if (panic_pending()) {
    // A PanicException from Python code we called is an internal fault of this
    // call as well; it is raised anew with the same message.
    try {
      std::string message = take_pending_exception_text();
      return raise_internal_fault(message.c_str(), nullptr);
    } catch (...) {
      return raise_internal_fault("PanicException", nullptr);
    }
  }
  return nullptr;
}

PyObject* raise_internal_fault(const char* message, const std::source_location* where) noexcept {
  try {
    if (where != nullptr) {
      fprintf(stderr, "mervanta: internal fault at %s:%u in %s: %s\n", where->file_name(),
              static_cast<unsigned>(where->line()), where->function_name(), message);
    } else {
      fprintf(stderr, "mervanta: internal fault: %s\n", message);
    }
    PyObject* panic_type = panic_exception_type();
    if (panic_type == nullptr) {
      throw std::runtime_error("PanicException could not be created");
    }
    PyErr_SetString(panic_type, message);
    return nullptr;
  } catch (...) {
    fputs("uncaught panic at ffi boundary\n", stderr);
    std::abort();
  }
}

}  // namespace mervanta
