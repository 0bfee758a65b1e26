// The pending exception, taken out of the interpreter and held.
#pragma once

#include "runtime/py_ref.hpp"

namespace mervanta {

// Fetches the pending exception (normalised) and clears it. The holder owns
// it: it is dropped with the holder unless restore() hands it back.
class SavedException {
 public:
  SavedException() noexcept {
    PyErr_Fetch(&type_, &value_, &traceback_);
    PyErr_NormalizeException(&type_, &value_, &traceback_);
  }
  SavedException(const SavedException&) = delete;
  SavedException& operator=(const SavedException&) = delete;
  ~SavedException() {
    Py_XDECREF(type_);
    Py_XDECREF(value_);
    Py_XDECREF(traceback_);
  }

  PyObject* type() const noexcept { return type_; }
  PyObject* value() const noexcept { return value_; }
  PyObject* traceback() const noexcept { return traceback_; }

  // Makes the exception pending again; the holder keeps its references.
  void restore_copy() const noexcept {
    Py_XINCREF(type_);
    Py_XINCREF(value_);
    Py_XINCREF(traceback_);
    PyErr_Restore(type_, value_, traceback_);
  }
  // Makes the exception pending again and gives up the holder's references.
  void restore() noexcept {
    PyErr_Restore(type_, value_, traceback_);
    type_ = value_ = traceback_ = nullptr;
  }

 private:
  PyObject* type_ = nullptr;
  PyObject* value_ = nullptr;
  PyObject* traceback_ = nullptr;
};

}  // namespace mervanta
