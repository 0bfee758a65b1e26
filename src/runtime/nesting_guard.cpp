#include "runtime/nesting_guard.hpp"

namespace mervanta {

bool NestingGuard::enter_counted(const NestingMessages& messages) {
  if (depth_ >= kMaxNesting) {
    PyErr_SetString(PyExc_RecursionError, messages.limit);
    return false;
  }
  if (Py_EnterRecursiveCall(messages.where) != 0) {
    return false;
  }
  ++depth_;
  entered_ = true;
  counted_ = true;
  return true;
}

}  // namespace mervanta
