// Process-wide once-filled caches.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "runtime/py_ref.hpp"

namespace mervanta {

// One strong reference filled at most once per process and never released.
// The interpreter lock is never held while waiting on the once-lock, and is
// always held while the initialiser runs.
class CacheCell {
 public:
  using Initialiser = PyObject* (*)();  // new reference, or null with an exception set

  // Registers the cell so that a forked child does not inherit its once-lock
  // held by a thread that does not exist there.
  CacheCell() noexcept;
  CacheCell(const CacheCell&) = delete;
  CacheCell& operator=(const CacheCell&) = delete;

  // Borrowed reference valid for the life of the process, or null with an
  // exception set (the cell then stays empty and a later call tries again).
  PyObject* get(Initialiser initialise) {
    PyObject* value = value_.load(std::memory_order_acquire);
    return value != nullptr ? value : fill(initialise);
  }
  // The cached object if the cell was filled, else null; never fills.
  PyObject* peek() const noexcept { return value_.load(std::memory_order_acquire); }

 private:
  PyObject* fill(Initialiser initialise);
  static void reset_locks_in_forked_child() noexcept;

  std::atomic<PyObject*> value_{nullptr};
  std::mutex once_lock_;
  std::atomic<std::thread::id> filler_{};
  CacheCell* next_registered_ = nullptr;
};

// operator.length_hint
PyObject* cached_length_hint();

// The PanicException class, created on first use.
PyObject* panic_exception_type();
// The class if it was created already (no exception can be one before that).
PyObject* panic_exception_type_if_created() noexcept;

}  // namespace mervanta
