// The two kinds of failure.
//
// Error value: a function returns false (or an empty Ref) with a Python
// exception pending; callers return at once and only the call frame lets the
// exception out.
//
// Internal fault: a C++ exception of type InternalFault, caught only by the
// call frame, which raises it as PanicException.
#pragma once

#include <source_location>
#include <string>
#include <string_view>

#include "runtime/py_ref.hpp"

namespace mervanta {

class InternalFault {
 public:
  InternalFault(std::string message, std::source_location where) : message_(std::move(message)), where_(where) {}
  const std::string& message() const noexcept { return message_; }
  const std::source_location& where() const noexcept { return where_; }

 private:
  std::string message_;
  std::source_location where_;
};

[[noreturn]] void raise_fault(std::string message, std::source_location where = std::source_location::current());

// __qualname__ of the object's type, or "?" when it cannot be read.
std::string type_qualname(PyObject* object);

// TypeError "'{type}' object is not an instance of '{target}'", or
// "'None' is not an instance of '{target}'" for None. Always returns false.
bool fail_not_instance(PyObject* object, const char* target);

// For tests that treat a failure as "no match": clears the pending exception.
// A PanicException coming back from Python code is never swallowed; it becomes
// an internal fault with the same message.
void clear_no_match_error();

// True when a PanicException is pending (escalated by the frame).
bool panic_pending();

// Renders the pending exception (type, message and traceback) as text and
// clears it; used for fault messages. Never throws.
std::string take_pending_exception_text();

}  // namespace mervanta
