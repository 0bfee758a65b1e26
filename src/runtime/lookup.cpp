#include "runtime/lookup.hpp"

namespace mervanta {

Ref call_with_one(PyObject* callable, PyObject* argument) {
  Ref arguments = Ref::steal(PyTuple_Pack(1, argument));
  if (!arguments) {
    return {};
  }
  return Ref::steal(PyObject_Call(callable, arguments.get(), nullptr));
}

}  // namespace mervanta
