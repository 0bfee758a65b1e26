#include "runtime/errors.hpp"

#include "runtime/cache.hpp"

namespace mervanta {

void raise_fault(std::string message, std::source_location where) { throw InternalFault(std::move(message), where); }

std::string type_qualname(PyObject* object) {
  PyObject* qualname_name = names::qualname();
  if (qualname_name == nullptr) {
    PyErr_Clear();
    return "?";
  }
  Ref qualname = Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(object)), qualname_name));
  if (qualname && PyUnicode_Check(qualname.get())) {
    Py_ssize_t size = 0;
    if (const char* text = PyUnicode_AsUTF8AndSize(qualname.get(), &size)) {
      return std::string(text, static_cast<size_t>(size));
    }
  }
  PyErr_Clear();
  return "?";
}

bool fail_not_instance(PyObject* object, const char* target) {
  if (object == Py_None) {
    PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", target);
  } else {
    std::string name = type_qualname(object);
    PyErr_Format(PyExc_TypeError, "'%s' object is not an instance of '%s'", name.c_str(), target);
  }
  return false;
}

bool panic_pending() {
  PyObject* panic_type = panic_exception_type_if_created();
  return panic_type != nullptr && PyErr_ExceptionMatches(panic_type);
}

void clear_no_match_error() {
  if (panic_pending()) {
    raise_fault(take_pending_exception_text());
  }
  PyErr_Clear();
}

namespace {

// str(exception) for the pending exception; clears it.
std::string pending_exception_str() {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  Ref type_ref = Ref::steal(type), value_ref = Ref::steal(value), traceback_ref = Ref::steal(traceback);
  std::string text;
  if (value != nullptr) {
    Ref str = Ref::steal(PyObject_Str(value));
    Py_ssize_t size = 0;
    const char* utf8 = str ? PyUnicode_AsUTF8AndSize(str.get(), &size) : nullptr;
    if (utf8 != nullptr) {
      text.assign(utf8, static_cast<size_t>(size));
    }
  }
  PyErr_Clear();
  return text;
}

}  // namespace

std::string take_pending_exception_text() {
  if (!PyErr_Occurred()) {
    return "unknown fault";
  }
  if (panic_pending()) {
    // A PanicException raised again keeps its message; its traceback goes to stderr.
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    Py_XINCREF(type);
    Py_XINCREF(value);
    Py_XINCREF(traceback);
    PyErr_Restore(type, value, traceback);
    fputs("mervanta: a PanicException came back from Python code:\n", stderr);
    PyErr_PrintEx(0);
    PyErr_Restore(type, value, traceback);
    return pending_exception_str();
  }
  // Other exceptions are rendered with their type and traceback through io.StringIO.
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  Ref type_ref = Ref::steal(type), value_ref = Ref::steal(value), traceback_ref = Ref::steal(traceback);
  std::string text;
  if (PyObject* io_name = names::io()) {
    Ref io = Ref::steal(PyImport_Import(io_name));
    Ref traceback_module = Ref::steal(PyImport_ImportModule("traceback"));
    Ref string_io = io ? Ref::steal(PyObject_CallMethodObjArgs(io.get(), names::string_io(), nullptr)) : Ref();
    if (string_io && traceback_module && value != nullptr) {
      Ref printed = Ref::steal(PyObject_CallMethod(traceback_module.get(), "print_exception", "OOOOO", type,
                                                   value, traceback ? traceback : Py_None, Py_None,
                                                   string_io.get()));
      if (printed) {
        Ref rendered = Ref::steal(PyObject_CallMethodObjArgs(string_io.get(), names::getvalue(), nullptr));
        Py_ssize_t size = 0;
        const char* utf8 = rendered ? PyUnicode_AsUTF8AndSize(rendered.get(), &size) : nullptr;
        if (utf8 != nullptr) {
          text.assign(utf8, static_cast<size_t>(size));
          while (!text.empty() && text.back() == '\n') {
            text.pop_back();
          }
        }
      }
    }
  }
  PyErr_Clear();
  if (text.empty() && value != nullptr) {
    Py_INCREF(type);
    Py_INCREF(value);
    Py_XINCREF(traceback);
    PyErr_Restore(type, value, traceback);
    text = pending_exception_str();
  }
  return text.empty() ? "unknown fault" : text;
}

}  // namespace mervanta
