// The encoder's dispatcher, declared once for every branch that recurses.
#pragma once

#include "encoder/encoder_state.hpp"
#include "encoder/outcome.hpp"
#include "runtime/nesting_guard.hpp"
#include "runtime/py_ref.hpp"

namespace mervanta {

// Appends the JSON text of `value` (borrowed). Returns false with a Python
// exception pending on failure; the buffer is then discarded by the caller.
[[nodiscard]] bool encode_value(PyObject* value, EncoderState& state);

// Second stage for values the core does not write itself.
[[nodiscard]] bool encode_extended(PyObject* value, EncoderState& state);

// Every container, hook result, member value and model instance opens one
// level, guarded by a NestingGuard over state.nesting.
inline constexpr NestingMessages kEncodingNesting{"maximum nesting depth exceeded while encoding JSON",
                                                  " while encoding JSON"};

}  // namespace mervanta
