#include "runtime/cache.hpp"

#include <new>

// fork() and its handlers exist on POSIX systems only; elsewhere no process
// is ever a forked copy of this one.
#if defined(__unix__) || defined(__APPLE__)
#define MERVANTA_HAVE_FORK 1
#include <pthread.h>
#else
#define MERVANTA_HAVE_FORK 0
#endif

namespace mervanta {

namespace {
// Every cell ever constructed; cells live until the process exits.
std::atomic<CacheCell*> registered_cells{nullptr};
}  // namespace

CacheCell::CacheCell() noexcept {
  next_registered_ = registered_cells.load(std::memory_order_relaxed);
  while (!registered_cells.compare_exchange_weak(next_registered_, this, std::memory_order_release,
                                                 std::memory_order_relaxed)) {
  }
#if MERVANTA_HAVE_FORK
  static const bool fork_handler_installed =
      pthread_atfork(nullptr, nullptr, &CacheCell::reset_locks_in_forked_child) == 0;
  (void)fork_handler_installed;
#endif
}

// In a forked child only the forking thread exists. A once-lock held by any
// other thread (a filler that had released the interpreter lock, or a waiter)
// would never be released, and the child's first use of the cell would hang;
// such locks are made new. A fill by the forking thread itself continues and
// unlocks its own lock.
void CacheCell::reset_locks_in_forked_child() noexcept {
  const std::thread::id self = std::this_thread::get_id();
  for (CacheCell* cell = registered_cells.load(std::memory_order_acquire); cell != nullptr;
       cell = cell->next_registered_) {
    if (cell->filler_.load(std::memory_order_relaxed) != self) {
      new (&cell->once_lock_) std::mutex();
      cell->filler_.store(std::thread::id{}, std::memory_order_relaxed);
    }
  }
}

PyObject* CacheCell::fill(Initialiser initialise) {
  if (filler_.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
    // The initialiser reached its own cell again; waiting would never end.
    PyErr_SetString(PyExc_RuntimeError, "recursive initialisation of a cached object");
    return nullptr;
  }
  PyThreadState* thread_state = PyEval_SaveThread();
  std::unique_lock guard(once_lock_);
  PyEval_RestoreThread(thread_state);
  if (PyObject* value = value_.load(std::memory_order_acquire)) {
    return value;
  }
  filler_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  PyObject* value = initialise();
  filler_.store(std::thread::id{}, std::memory_order_relaxed);
  if (value != nullptr) {
    value_.store(value, std::memory_order_release);
  }
  return value;
}

namespace {

PyObject* import_length_hint() {
  Ref module = Ref::steal(PyImport_ImportModule("operator"));
  if (!module) {
    return nullptr;
  }
  return PyObject_GetAttrString(module.get(), "length_hint");
}

PyObject* create_panic_exception() {
  return PyErr_NewExceptionWithDoc("mervanta.PanicException",
                                   "An internal fault of mervanta's native code.", PyExc_BaseException,
                                   nullptr);
}

CacheCell panic_cell;

}  // namespace

PyObject* cached_length_hint() {
  static CacheCell cell;
  return cell.get(&import_length_hint);
}

PyObject* panic_exception_type() { return panic_cell.get(&create_panic_exception); }
PyObject* panic_exception_type_if_created() noexcept { return panic_cell.peek(); }

}  // namespace mervanta
