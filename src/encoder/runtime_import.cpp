#include "encoder/runtime_import.hpp"

#include "runtime/errors.hpp"
#include "runtime/lookup.hpp"

namespace mervanta {

namespace {

// True when another thread is still running the module's code; an import
// would wait for it to finish.
bool still_initialising(PyObject* module) {
  Ref module_spec = getattr<names::kSpec>(module);
  Ref initialising =
      module_spec && module_spec.get() != Py_None ? getattr<names::kInitializing>(module_spec.get()) : Ref();
  int truth = initialising ? PyObject_IsTrue(initialising.get()) : -1;
  if (truth < 0 && PyErr_Occurred()) {
    clear_no_match_error();
  }
  return truth == 1;
}

// The module from sys.modules when it is there and complete (what an import
// would return, without the call through __import__), else a real import.
Ref import_module(PyObject* module_name) {
  Ref loaded = Ref::steal(PyImport_GetModule(module_name));
  if (loaded && loaded.get() != Py_None && !still_initialising(loaded.get())) {
    return loaded;
  }
  if (PyErr_Occurred()) {
    return {};
  }
  return Ref::steal(PyImport_Import(module_name));
}

}  // namespace

Ref import_attribute(PyObject* module, PyObject* attribute) {
  if (module == nullptr || attribute == nullptr) {
    return {};
  }
  Ref imported = import_module(module);
  return imported ? Ref::steal(PyObject_GetAttr(imported.get(), attribute)) : Ref();
}

Outcome clear_test_error() {
  if (PyErr_ExceptionMatches(PyExc_RecursionError)) {
    return Outcome::failed;
  }
  clear_no_match_error();
  return Outcome::no_match;
}

Outcome is_instance_of(PyObject* value, PyObject* module, PyObject* class_name) {
  Ref cls = import_attribute(module, class_name);
  if (!cls) {
    return clear_test_error();
  }
  int result = PyObject_IsInstance(value, cls.get());
  if (result < 0) {
    return clear_test_error();
  }
  return result == 1 ? Outcome::matched : Outcome::no_match;
}

}  // namespace mervanta
