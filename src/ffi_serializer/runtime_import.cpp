#include "ffi_serializer/runtime_import.hpp"

#include "module/errors.hpp"
#include "module/lookup.hpp"

namespace mervanta {

Ref import_attribute(const char* module, const char* attribute) {
  Ref module_name = Ref::steal(PyUnicode_FromString(module));
  if (!module_name) {
    return {};
  }
  Ref imported = Ref::steal(PyImport_Import(module_name.get()));
  if (!imported) {
    return {};
  }
  return getattr_str(imported.get(), attribute);
}

Test clear_test_error() {
  if (PyErr_ExceptionMatches(PyExc_RecursionError)) {
    return Test::failed;
  }
  clear_no_match_error();
  return Test::no;
}

Test is_instance_of(PyObject* value, const char* module, const char* class_name) {
  Ref cls = import_attribute(module, class_name);
  if (!cls) {
    return clear_test_error();
  }
  int result = PyObject_IsInstance(value, cls.get());
  if (result < 0) {
    return clear_test_error();
  }
  return result == 1 ? Test::yes : Test::no;
}

}  // namespace mervanta
