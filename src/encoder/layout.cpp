#include <cstring>

#include "encoder/encode.hpp"

namespace mervanta {

namespace {
// Deep enough for any real document, shallow enough for a thread's stack.
constexpr uint32_t kMaxNesting = 1024;
}  // namespace

void write_line_break(EncoderState& state) {
  uint64_t spaces = state.indent_level * state.indent_width;
  state.buffer.reserve(1 + spaces);
  char* out = state.buffer.tail();
  *out = '\n';
  std::memset(out + 1, ' ', spaces);
  state.buffer.commit(1 + spaces);
}

bool NestingGuard::enter_counted() {
  if (state_.nesting >= kMaxNesting) {
    PyErr_SetString(PyExc_RecursionError, "maximum nesting depth exceeded while encoding JSON");
    return false;
  }
  if (Py_EnterRecursiveCall(" while encoding JSON") != 0) {
    return false;
  }
  ++state_.nesting;
  entered_ = true;
  counted_ = true;
  return true;
}

}  // namespace mervanta
