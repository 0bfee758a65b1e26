// The encoder's dispatcher, declared once for every branch that recurses.
#pragma once

#include <cstdint>

#include "encoder/encoder_state.hpp"
#include "runtime/py_ref.hpp"

namespace mervanta {

// Appends the JSON text of `value` (borrowed). Returns false with a Python
// exception pending on failure; the buffer is then discarded by the caller.
[[nodiscard]] bool encode_value(PyObject* value, EncoderState& state, uint64_t depth, PyObject* default_hook,
                                bool allow_nan, bool sort_keys);

// Second stage for values the core does not write itself.
[[nodiscard]] bool encode_extended(PyObject* value, EncoderState& state, uint64_t depth, PyObject* default_hook,
                                   bool allow_nan, bool sort_keys);

// Bounds runaway nesting (self-containing containers, hooks returning their
// argument, model cycles): a fixed bound for the native stack plus the
// interpreter's own recursion limit. Both raise RecursionError.
class NestingGuard {
 public:
  explicit NestingGuard(EncoderState& state) noexcept : state_(state) {}
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
  ~NestingGuard() {
    if (entered_) {
      --state_.nesting;
      if (counted_) {
        Py_LeaveRecursiveCall();
      }
    }
  }
  [[nodiscard]] bool enter() {
    // The interpreter's own recursion counter is consulted only past the
    // first levels, which every document has and which cannot run away.
    if (state_.nesting < kUncountedLevels) {
      ++state_.nesting;
      counted_ = false;
      entered_ = true;
      return true;
    }
    return enter_counted();
  }

 private:
  static constexpr uint32_t kUncountedLevels = 32;
  bool enter_counted();

  EncoderState& state_;
  bool entered_ = false;
  bool counted_ = false;
};

}  // namespace mervanta
