// Uncached lookups by name: a fresh str is made for the name on every call.
#pragma once

#include <string_view>

#include "runtime/py_ref.hpp"

namespace mervanta {

Ref getattr_str(PyObject* object, const char* name);
Ref call_method0(PyObject* object, const char* name);
// object.name(str(text)), the text given as UTF-8.
Ref call_method1_str(PyObject* object, const char* name, std::string_view text);
// Calls a callable with one positional argument.
Ref call_with_one(PyObject* callable, PyObject* argument);

}  // namespace mervanta
