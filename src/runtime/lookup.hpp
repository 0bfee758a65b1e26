// Attribute lookups and calls by interned name.
#pragma once

#include <string_view>

#include "runtime/names.hpp"

namespace mervanta {

// getattr(object, Name)
template <const char* Name>
Ref getattr(PyObject* object) {
  PyObject* name = interned<Name>();
  return name ? Ref::steal(PyObject_GetAttr(object, name)) : Ref();
}

// object.Name()
template <const char* Name>
Ref call_method0(PyObject* object) {
  PyObject* name = interned<Name>();
  return name ? Ref::steal(PyObject_CallMethodObjArgs(object, name, nullptr)) : Ref();
}

// object.Name(argument)
template <const char* Name>
Ref call_method1(PyObject* object, PyObject* argument) {
  PyObject* name = interned<Name>();
  return name ? Ref::steal(PyObject_CallMethodObjArgs(object, name, argument, nullptr)) : Ref();
}

// Calls a callable with one positional argument.
Ref call_with_one(PyObject* callable, PyObject* argument);

// object.Name(str(text)), the text given as UTF-8. The method is looked up
// before the str is made.
template <const char* Name>
Ref call_method1_text(PyObject* object, std::string_view text) {
  Ref method = getattr<Name>(object);
  if (!method) {
    return {};
  }
  Ref argument = Ref::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict"));
  return argument ? call_with_one(method.get(), argument.get()) : Ref();
}

}  // namespace mervanta
