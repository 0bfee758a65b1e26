// Bounds runaway nesting in both engines: self-containing containers, hooks
// returning their argument, model cycles, deeply nested input. A fixed bound
// keeps the native stack safe in every thread; the interpreter's own
// recursion limit is respected too. Both raise RecursionError.
#pragma once

#include <cstdint>

#include "runtime/py_ref.hpp"

namespace mervanta {

// Containers (and hook results) open at once; deep enough for any real
// document, shallow enough for a thread's stack.
inline constexpr uint32_t kMaxNesting = 1024;

// What the RecursionError says: `limit` past the fixed bound, and `where` is
// appended to the interpreter's own message.
struct NestingMessages {
  const char* limit;
  const char* where;
};

class NestingGuard {
 public:
  explicit NestingGuard(uint32_t& depth) noexcept : depth_(depth) {}
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
  ~NestingGuard() {
    if (entered_) {
      --depth_;
      if (counted_) {
        Py_LeaveRecursiveCall();
      }
    }
  }

  // Whether entering one more level at this depth always succeeds without
  // consulting anything: a container that writes nothing inside may then
  // skip the guard.
  static bool enters_freely(uint32_t depth) noexcept { return depth < kUncountedLevels; }

  [[nodiscard]] bool enter(const NestingMessages& messages) {
    // The interpreter's recursion counter is consulted only past the first
    // levels, which every document has and which cannot run away.
    if (depth_ < kUncountedLevels) {
      ++depth_;
      entered_ = true;
      return true;
    }
    return enter_counted(messages);
  }

 private:
  static constexpr uint32_t kUncountedLevels = 32;
  bool enter_counted(const NestingMessages& messages);

  uint32_t& depth_;
  bool entered_ = false;
  bool counted_ = false;
};

}  // namespace mervanta
