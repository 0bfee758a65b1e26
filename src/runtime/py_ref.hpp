// Owning handle for Python references.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace mervanta {

// Move-only owner of one strong reference. Borrowed references stay plain
// PyObject*; anything owned goes into a Ref the moment the C API hands it over.
class Ref {
 public:
  Ref() noexcept = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      reset();
      object_ = other.object_;
      other.object_ = nullptr;
    }
    return *this;
  }
  ~Ref() { reset(); }

  // Takes over a new reference (possibly null after a failed call).
  static Ref steal(PyObject* object) noexcept { return Ref(object); }
  // Takes a new reference to a borrowed object.
  static Ref borrow(PyObject* object) noexcept {
    Py_XINCREF(object);
    return Ref(object);
  }

  PyObject* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  // Hands the reference on to the caller.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

  void reset() noexcept {
    if (object_ != nullptr) {
      PyObject* old = std::exchange(object_, nullptr);
      Py_DECREF(old);
    }
  }

 private:
  explicit Ref(PyObject* object) noexcept : object_(object) {}
  PyObject* object_ = nullptr;
};

}  // namespace mervanta
