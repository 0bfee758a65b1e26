#include "runtime/lookup.hpp"

namespace mervanta {

Ref getattr_str(PyObject* object, const char* name) {
  Ref name_object = Ref::steal(PyUnicode_FromString(name));
  if (!name_object) {
    return {};
  }
  return Ref::steal(PyObject_GetAttr(object, name_object.get()));
}

Ref call_method0(PyObject* object, const char* name) {
  Ref name_object = Ref::steal(PyUnicode_FromString(name));
  if (!name_object) {
    return {};
  }
  return Ref::steal(PyObject_CallMethodObjArgs(object, name_object.get(), nullptr));
}

Ref call_method1_str(PyObject* object, const char* name, std::string_view text) {
  Ref method = getattr_str(object, name);
  if (!method) {
    return {};
  }
  Ref argument =
      Ref::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict"));
  if (!argument) {
    return {};
  }
  return call_with_one(method.get(), argument.get());
}

Ref call_with_one(PyObject* callable, PyObject* argument) {
  Ref arguments = Ref::steal(PyTuple_Pack(1, argument));
  if (!arguments) {
    return {};
  }
  return Ref::steal(PyObject_Call(callable, arguments.get(), nullptr));
}

}  // namespace mervanta
