// Classes and functions reached by import at the moment they are needed.
#pragma once

#include "encoder/outcome.hpp"
#include "runtime/py_ref.hpp"

namespace mervanta {

// module.attribute (names as str; null when making the name failed),
// imported afresh (the interpreter's module cache makes a
// repeated import a lookup). Empty Ref with the exception pending on failure.
Ref import_attribute(PyObject* module, PyObject* attribute);

// Clears the exception of a "what is it" test so that it counts as no match,
// except a RecursionError: that one means the nesting is running away and
// stays pending (failed), so runaway input ends in RecursionError and
// never falls through to another branch.
Outcome clear_test_error();

// isinstance(value, module.class_name) as a "what is it" test: an import, a
// missing class or a raising instance test all count as no match.
Outcome is_instance_of(PyObject* value, PyObject* module, PyObject* class_name);

}  // namespace mervanta
