#include "runtime/errors.hpp"

#include <cstdio>

#include "runtime/cache.hpp"
#include "runtime/lookup.hpp"
#include "runtime/saved_exception.hpp"

namespace mervanta {

void raise_fault(std::string message, std::source_location where) { throw InternalFault(std::move(message), where); }

namespace {

// Appends the UTF-8 text of a str; false when it is no str or has none.
bool append_utf8(PyObject* text, std::string& out) {
  Py_ssize_t size = 0;
  const char* utf8 = text != nullptr && PyUnicode_Check(text) ? PyUnicode_AsUTF8AndSize(text, &size) : nullptr;
  if (utf8 == nullptr) {
    return false;
  }
  out.append(utf8, static_cast<size_t>(size));
  return true;
}

}  // namespace

std::string type_qualname(PyObject* object) {
  Ref qualname = getattr<names::kQualname>(reinterpret_cast<PyObject*>(Py_TYPE(object)));
  std::string text;
  if (!append_utf8(qualname.get(), text)) {
    PyErr_Clear();
    return "?";
  }
  return text;
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

// str(exception) of a saved exception; nothing is left pending.
std::string exception_str(const SavedException& saved) {
  std::string text;
  if (saved.value() != nullptr) {
    Ref str = Ref::steal(PyObject_Str(saved.value()));
    append_utf8(str.get(), text);
  }
  PyErr_Clear();
  return text;
}

// The exception with its type and traceback, as traceback.print_exception
// renders it into an io.StringIO; empty when that fails.
std::string rendered_traceback(const SavedException& saved) {
  if (saved.value() == nullptr) {
    return {};
  }
  PyObject* io_name = interned<names::kIoModule>();
  PyObject* traceback_name = interned<names::kTracebackModule>();
  Ref io = io_name ? Ref::steal(PyImport_Import(io_name)) : Ref();
  Ref traceback_module = traceback_name ? Ref::steal(PyImport_Import(traceback_name)) : Ref();
  Ref string_io = io ? call_method0<names::kStringIo>(io.get()) : Ref();
  Ref print_exception = traceback_module ? getattr<names::kPrintException>(traceback_module.get()) : Ref();
  std::string text;
  if (string_io && print_exception) {
    PyObject* traceback = saved.traceback() ? saved.traceback() : Py_None;
    Ref printed = Ref::steal(PyObject_CallFunctionObjArgs(print_exception.get(), saved.type(), saved.value(),
                                                          traceback, Py_None, string_io.get(), nullptr));
    Ref rendered = printed ? call_method0<names::kGetvalue>(string_io.get()) : Ref();
    if (append_utf8(rendered.get(), text)) {
      while (!text.empty() && text.back() == '\n') {
        text.pop_back();
      }
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
  const bool panic = panic_pending();
  SavedException saved;
  if (panic) {
    // A PanicException raised again keeps its message; its traceback goes to stderr.
    saved.restore_copy();
    fputs("mervanta: a PanicException came back from Python code:\n", stderr);
    PyErr_PrintEx(0);
    return exception_str(saved);
  }
  std::string text = rendered_traceback(saved);
  if (text.empty()) {
    text = exception_str(saved);
  }
  return text.empty() ? "unknown fault" : text;
}

}  // namespace mervanta
