// Lists, tuples, dicts and sets.
#include "encoder/containers.hpp"

#include <algorithm>
#include <string_view>
#include <vector>

#include "encoder/writers.hpp"
#include "runtime/cache.hpp"
#include "runtime/call_frame.hpp"
#include "runtime/errors.hpp"

namespace mervanta {

namespace {

bool encode_list_of_size(PyObject* list, Py_ssize_t size, EncoderState& state);
bool encode_dict_of_size(PyObject* dict, Py_ssize_t size, EncoderState& state);

// Lists this short whose items are all simple scalars are written in one go.
constexpr Py_ssize_t kShortListItems = 16;

// Room for one item after a separator, through a cursor.
constexpr size_t kCursorItemRoom = Separator::kRoom + kSimpleScalarRoom;

// Room for a short list of `size` items after a separator, through a cursor.
constexpr size_t short_list_room(Py_ssize_t size) {
  return Separator::kRoom + 2 + static_cast<size_t>(size) * kCursorItemRoom;
}

// A short list of simple scalars at out, inside room for its size: no Python
// code can run, so nothing is held or rechecked, and the level it opens is
// one that is always allowed. Returns the end of its text, or null when an
// item is anything else.
[[gnu::noinline]] char* write_short_list_at(char* out, PyObject* list, Py_ssize_t size, const EncoderState& state) {
  *out++ = '[';
  for (Py_ssize_t i = 0; i < size; ++i) {
    if (i > 0) {
      out = state.item_separator.write_at(out);
    }
    out = write_simple_scalar_at(out, PyList_GetItem(list, i), state.settings.ensure_ascii);
    if (out == nullptr) {
      return nullptr;
    }
  }
  *out++ = ']';
  return out;
}

// A short list of simple scalars in the compact layout, committed once.
// Returns false with nothing written when an item is anything else.
// An item separator goes first when the list follows another item.
bool write_short_simple_list(PyObject* list, Py_ssize_t size, bool after_item, EncoderState& state) {
  state.buffer.reserve(short_list_room(size));
  char* const start = state.buffer.tail();
  char* const end = write_short_list_at(after_item ? state.item_separator.write_at(start) : start, list, size, state);
  if (end == nullptr) {
    return false;
  }
  state.buffer.commit(static_cast<size_t>(end - start));
  return true;
}

// One member or element. Exact scalars are written from the borrowed
// reference (no Python code can run meanwhile); anything else is held by a
// new reference while it is encoded.
[[gnu::always_inline]] inline bool encode_nested_item(PyObject* item, EncoderState& state);

[[gnu::always_inline]] inline bool encode_item(PyObject* item, EncoderState& state) {
  if (Outcome outcome = encode_plain_scalar(item, state); outcome != Outcome::no_match) {
    return succeeded(outcome);
  }
  return encode_nested_item(item, state);
}

// An item that is not a str, None, True or False, nor a number that the
// cursor writers took: containers first, without testing the scalar types
// again.
[[gnu::always_inline]] inline bool encode_nested_item(PyObject* item, EncoderState& state) {
  PyTypeObject* type = Py_TYPE(item);
  if (type == &PyList_Type) {
    const Py_ssize_t size = PyList_Size(item);
    // An empty list outside pretty mode is "[]", with nothing to guard or
    // walk: the most common container in many documents.
    if (size == 0 && !state.settings.pretty && NestingGuard::enters_freely(state.nesting)) {
      state.buffer.put("[]", 2);
      return true;
    }
    if (state.compact && size <= kShortListItems && NestingGuard::enters_freely(state.nesting) &&
        write_short_simple_list(item, size, false, state)) {
      return true;
    }
    Ref hold = Ref::borrow(item);
    return encode_list_of_size(item, size, state);
  }
  if (type == &PyDict_Type) {
    // An empty dict likewise.
    const Py_ssize_t size = PyDict_Size(item);
    if (size == 0 && !state.settings.pretty && NestingGuard::enters_freely(state.nesting)) {
      ++state.objects_opened;
      state.buffer.put("{}", 2);
      return true;
    }
    Ref hold = Ref::borrow(item);
    return encode_dict_of_size(item, size, state);
  }
  Ref hold = Ref::borrow(item);
  return encode_value(item, state);
}

[[noreturn]] void fail_dict_changed_size() { raise_fault("dictionary changed size during iteration"); }
[[noreturn]] void fail_dict_keys_changed() { raise_fault("dictionary keys changed during iteration"); }

// Room for a member whose key is not remembered, in the compact layout;
// returns where it starts.
[[gnu::always_inline]] inline char* reserve_member_room(EncoderState& state) {
  state.buffer.reserve(kFreshHeadRoom + kSimpleScalarRoom);
  return state.buffer.tail();
}

// The value of a member whose head is written at [start, value_at), inside
// room reserved for it and a simple scalar: a str is looked up once and
// written whichever way it needs; a simple scalar goes through the same
// cursor. Everything written is committed. no_match leaves the value to the
// general writers.
[[gnu::always_inline]] inline Outcome write_member_value_at(char* start, char* value_at, PyObject* value,
                                                            EncoderState& state) {
  if (Py_TYPE(value) == &PyUnicode_Type) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size);
    char* const end =
        utf8 ? write_plain_text_at(value_at, utf8, static_cast<size_t>(size), state.settings.ensure_ascii) : nullptr;
    state.buffer.commit(static_cast<size_t>((end ? end : value_at) - start));
    if (end == nullptr) {
      if (utf8 == nullptr) {
        return Outcome::failed;
      }
      write_escaped_string(state, utf8, static_cast<size_t>(size));
    }
    return Outcome::matched;
  }
  char* end = write_simple_scalar_at(value_at, value, false);
  if (end == nullptr && Py_TYPE(value) == &PyList_Type && PyList_Size(value) == 0 &&
      NestingGuard::enters_freely(state.nesting)) {
    // An empty list, as written by encode_item.
    std::memcpy(value_at, "[]", 2);
    end = value_at + 2;
  }
  state.buffer.commit(static_cast<size_t>((end ? end : value_at) - start));
  return end ? Outcome::matched : Outcome::no_match;
}

bool encode_dict_in_order(PyObject* dict, const Py_ssize_t initial_size, EncoderState& state) {
  write_container_open(state, '{');
  Py_ssize_t remaining = initial_size;
  Py_ssize_t position = 0;
  PyObject *key = nullptr, *value = nullptr;
  bool first = true;
  const uint64_t epoch_at_start = state.python_epoch;
  for (;;) {
    // Only Python code run by a value's encoding can change the dict; while
    // none ran, it still holds exactly the entries counted at the start.
    if (remaining <= 0) {
      if (remaining < 0) {
        fail_dict_keys_changed();
      }
      if (state.python_epoch == epoch_at_start) {
        break;
      }
    }
    if (!PyDict_Next(dict, &position, &key, &value)) {
      break;
    }
    --remaining;
    Outcome outcome = Outcome::no_match;
    if (const KeyMemo::Entry* entry = state.compact ? find_remembered_key(key, state) : nullptr) {
      state.buffer.reserve(remembered_head_room(entry) + kSimpleScalarRoom);
      char* const start = state.buffer.tail();
      outcome = write_member_value_at(start, write_remembered_head_at(start, entry, first, state), value, state);
    } else if (char* value_at = state.compact ? write_fresh_head_at(reserve_member_room(state), key, first, state)
                                              : nullptr) {
      outcome = write_member_value_at(state.buffer.tail(), value_at, value, state);
    } else if (!write_member_head(key, first, state)) {
      return false;
    }
    first = false;
    if (outcome != Outcome::no_match) {
      if (outcome == Outcome::failed) {
        return false;
      }
      continue;
    }
    // Only the general writers can run Python code.
    const uint64_t epoch_before_item = state.python_epoch;
    if (!(state.compact ? encode_nested_item(value, state) : encode_item(value, state))) {
      return false;
    }
    if (state.python_epoch != epoch_before_item && PyDict_Size(dict) != initial_size) {
      fail_dict_changed_size();
    }
  }
  write_container_close(state, '}');
  return true;
}

struct SortedMember {
  Ref key;
  std::string_view text;  // the key's UTF-8 form, owned by the key object
  Ref value;
};

bool encode_dict_sorted(PyObject* dict, EncoderState& state) {
  write_container_open(state, '{');
  const Py_ssize_t initial_size = PyDict_Size(dict);
  std::vector<SortedMember> members;
  members.reserve(static_cast<size_t>(initial_size));
  Py_ssize_t remaining = initial_size;
  Py_ssize_t position = 0;
  PyObject *key = nullptr, *value = nullptr;
  for (;;) {
    if (PyDict_Size(dict) != initial_size) {
      fail_dict_changed_size();
    }
    if (remaining < 0) {
      fail_dict_keys_changed();
    }
    if (!PyDict_Next(dict, &position, &key, &value)) {
      break;
    }
    --remaining;
    if (!is_str(key)) {
      return fail_not_instance(key, "str");
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(key, &size);
    if (text == nullptr) {
      return false;
    }
    members.push_back({Ref::borrow(key), std::string_view(text, static_cast<size_t>(size)), Ref::borrow(value)});
  }
  std::stable_sort(members.begin(), members.end(),
                   [](const SortedMember& a, const SortedMember& b) { return a.text < b.text; });
  bool first = true;
  for (const SortedMember& member : members) {
    if (!first) {
      write_item_separator(state);
    }
    first = false;
    write_key_text(member.key.get(), member.text, state);
    state.key_separator.write_to(state.buffer);
    if (!encode_value(member.value.get(), state)) {
      return false;
    }
  }
  write_container_close(state, '}');
  return true;
}

// length_hint(container, 0) to size the collection; a failure is reported as
// unraisable and the estimate is 0.
size_t estimate_length(PyObject* container) {
  PyTypeObject* type = Py_TYPE(container);
  if (type == &PySet_Type || type == &PyFrozenSet_Type) {
    return static_cast<size_t>(PySet_Size(container));
  }
  uint64_t estimate = 0;
  PyObject* length_hint = cached_length_hint();
  Ref hint = length_hint ? Ref::steal(PyObject_CallFunction(length_hint, "Oi", container, 0)) : Ref();
  if (hint) {
    unsigned long long converted = PyLong_AsUnsignedLongLong(hint.get());
    if (!(converted == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
      estimate = converted;
    }
  }
  if (PyErr_Occurred()) {
    if (panic_pending()) {
      raise_fault(take_pending_exception_text());
    }
    PyErr_WriteUnraisable(container);
    estimate = 0;
  }
  return static_cast<size_t>(std::min<uint64_t>(estimate, 1u << 20));
}

// A stable bottom-up merge sort of positions. Unlike std::stable_sort, whose
// insertion steps run unguarded, it stays within bounds when the comparison
// is inconsistent, as a str() that returns a different text on every call
// makes it.
template <class Less>
void sort_positions_stably(std::vector<size_t>& order, Less less) {
  const size_t count = order.size();
  std::vector<size_t> merged(count);
  for (size_t width = 1; width < count; width *= 2) {
    for (size_t low = 0; low < count; low += 2 * width) {
      const size_t middle = std::min(low + width, count);
      const size_t high = std::min(low + 2 * width, count);
      size_t left = low, right = middle, out = low;
      while (left < middle && right < high) {
        // The right run goes first only when strictly smaller: equal texts keep their order.
        merged[out++] = less(order[right], order[left]) ? order[right++] : order[left++];
      }
      while (left < middle) merged[out++] = order[left++];
      while (right < high) merged[out++] = order[right++];
    }
    order.swap(merged);
  }
}

// str() of a set item as UTF-8 (lone surrogates replaced), taken afresh for
// every comparison. A failing str() is an internal fault.
std::string sort_text(PyObject* item) {
  Ref text = Ref::steal(PyObject_Str(item));
  if (!text) {
    raise_fault("str() of a set item failed while sorting: " + take_pending_exception_text());
  }
  return lenient_utf8(text.get());
}

}  // namespace

namespace {

// A list or tuple item that the cursor writers did not take (or any item
// outside the compact layout), with the separator before it (after_item).
[[gnu::always_inline]] inline bool encode_sequence_item(PyObject* item, bool after_item, EncoderState& state) {
  if (after_item) {
    write_item_separator(state);
  }
  if (!state.compact) {
    return encode_item(item, state);
  }
  // Mostly objects, as in lists of records, and long lists: no scalar tests.
  PyTypeObject* const type = Py_TYPE(item);
  return type == &PyDict_Type || type == &PyList_Type ? encode_nested_item(item, state) : encode_item(item, state);
}

// A local cursor over reserved room in the output: a run of items keeps it
// in registers and commits once, where each item on its own would store and
// reload the buffer's length.
class RunCursor {
 public:
  explicit RunCursor(EncoderState& state) : state_(state) {}
  ~RunCursor() { commit(); }
  RunCursor(const RunCursor&) = delete;
  RunCursor& operator=(const RunCursor&) = delete;

  // Makes room for n bytes at the cursor.
  [[gnu::always_inline]] void ensure(size_t n) {
    if (static_cast<size_t>(limit_ - out_) < n) [[unlikely]] {
      refill(n);
    }
  }
  char* at() const noexcept { return out_; }
  void advance_to(char* end) noexcept { out_ = end; }

 private:
  static constexpr size_t kRunRoom = 64 * kCursorItemRoom;
  void commit() noexcept {
    state_.buffer.commit(static_cast<size_t>(out_ - start_));
    start_ = out_;
  }
  [[gnu::noinline]] void refill(size_t n) {
    commit();
    const size_t room = std::max(n, kRunRoom);
    state_.buffer.reserve(room);
    start_ = out_ = state_.buffer.tail();
    limit_ = start_ + room;
  }
  EncoderState& state_;
  char* start_ = nullptr;
  char* out_ = nullptr;
  char* limit_ = nullptr;
};

// What became of one item in a run.
enum class RunStep { written, left, failed };

// Where an item of a run starts: after the item separator when it follows
// another. The cursor must have room for the separator and the item.
[[gnu::always_inline]] inline char* run_item_start(const RunCursor& cursor, bool after_item,
                                                   const EncoderState& state) {
  return after_item ? state.item_separator.write_at(cursor.at()) : cursor.at();
}

// One list or tuple item of a run, after a separator when after_item:
// a simple scalar, a string or a short list of simple scalars, written at
// the cursor; anything else is left to the general writers with nothing
// written. failed when a string's text cannot be had.
[[gnu::always_inline]] inline RunStep write_run_item(RunCursor& cursor, PyObject* item, bool after_item,
                                                     EncoderState& state) {
  PyTypeObject* const type = Py_TYPE(item);
  if (type == &PyUnicode_Type) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(item, &size);
    if (utf8 == nullptr) {
      return RunStep::failed;
    }
    const auto length = static_cast<size_t>(size);
    if (length > kEscapedAtMost) {
      return RunStep::left;
    }
    cursor.ensure(Separator::kRoom + escaped_room(length));
    char* const item_at = run_item_start(cursor, after_item, state);
    char* const end = write_plain_text_at(item_at, utf8, length, state.settings.ensure_ascii);
    cursor.advance_to(end ? end : write_escaped_at(item_at, utf8, length, state.settings.ensure_ascii));
    return RunStep::written;
  }
  if (type == &PyList_Type) {
    // Rows of coordinates or of numbers.
    const Py_ssize_t size = PyList_Size(item);
    if (size > kShortListItems || !NestingGuard::enters_freely(state.nesting)) {
      return RunStep::left;
    }
    cursor.ensure(short_list_room(size));
    char* const end = write_short_list_at(run_item_start(cursor, after_item, state), item, size, state);
    if (end == nullptr) {
      return RunStep::left;
    }
    cursor.advance_to(end);
    return RunStep::written;
  }
  cursor.ensure(kCursorItemRoom);
  char* const end = write_simple_scalar_at(run_item_start(cursor, after_item, state), item, false);
  if (end == nullptr) {
    return RunStep::left;
  }
  cursor.advance_to(end);
  return RunStep::written;
}

// Items of a list or tuple from `i` on, in the compact layout, through one
// cursor while write_run_item takes them: no Python code runs, so the
// sequence cannot change meanwhile. `item` is the one at `i` on entry, and
// the one left to the general writers on return, with nothing of it written.
// Returns its index, or `stop` when all were written, or -1 after an error.
template <PyObject* (*GetItem)(PyObject*, Py_ssize_t)>
Py_ssize_t write_scalar_run(PyObject* sequence, Py_ssize_t i, const Py_ssize_t stop, EncoderState& state,
                            PyObject*& item) {
  RunCursor cursor(state);
  for (;;) {
    const RunStep step = write_run_item(cursor, item, i > 0, state);
    if (step != RunStep::written) {
      return step == RunStep::left ? i : -1;
    }
    if (++i >= stop) {
      return i;
    }
    item = GetItem(sequence, i);
  }
}

// Lists and tuples, read by index without an iterator. A list may shrink
// while Python code runs for one of its items: it then ends early, and items
// appended meanwhile are not written. A tuple cannot change.
template <Py_ssize_t (*Size)(PyObject*), PyObject* (*GetItem)(PyObject*, Py_ssize_t), bool Mutable>
bool encode_sequence(PyObject* sequence, const Py_ssize_t initial_size, EncoderState& state) {
  NestingGuard guard(state.nesting);
  if (!guard.enter(kEncodingNesting)) {
    return false;
  }
  Py_ssize_t current_size = initial_size;
  write_container_open(state, '[');
  const uint64_t epoch_at_start = state.python_epoch;
  for (Py_ssize_t i = 0; i < initial_size && i < current_size; ++i) {
    PyObject* item = GetItem(sequence, i);
    // Records go straight to the general writers.
    if (state.compact && Py_TYPE(item) != &PyDict_Type) {
      i = write_scalar_run<GetItem>(sequence, i, std::min(initial_size, current_size), state, item);
      if (i < 0) {
        return false;
      }
      if (i >= initial_size || i >= current_size) {
        break;
      }
    }
    if (!encode_sequence_item(item, i > 0, state)) {
      return false;
    }
    // Once Python code has run, the list may have shrunk.
    if (Mutable && state.python_epoch != epoch_at_start) {
      current_size = Size(sequence);
    }
  }
  write_container_close(state, ']');
  return true;
}

bool encode_list_of_size(PyObject* list, Py_ssize_t size, EncoderState& state) {
  return encode_sequence<PyList_Size, PyList_GetItem, true>(list, size, state);
}

bool encode_dict_of_size(PyObject* dict, Py_ssize_t size, EncoderState& state) {
  NestingGuard guard(state.nesting);
  if (!guard.enter(kEncodingNesting)) {
    return false;
  }
  return state.settings.sort_keys ? encode_dict_sorted(dict, state) : encode_dict_in_order(dict, size, state);
}

}  // namespace

bool encode_dict(PyObject* dict, EncoderState& state) { return encode_dict_of_size(dict, PyDict_Size(dict), state); }

bool encode_list(PyObject* list, EncoderState& state) { return encode_list_of_size(list, PyList_Size(list), state); }

bool encode_tuple(PyObject* tuple, EncoderState& state) {
  return encode_sequence<PyTuple_Size, PyTuple_GetItem, false>(tuple, PyTuple_Size(tuple), state);
}

bool encode_set(PyObject* set, EncoderState& state) {
  NestingGuard guard(state.nesting);
  if (!guard.enter(kEncodingNesting)) {
    return false;
  }
  std::vector<Ref> items;
  items.reserve(estimate_length(set));
  Ref iterator = Ref::steal(PyObject_GetIter(set));
  if (!iterator) {
    return false;
  }
  while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
    items.push_back(std::move(item));
  }
  if (PyErr_Occurred()) {
    return false;
  }
  // Sort positions, not the owning handles, so a fault in mid-sort leaves
  // every reference with exactly one owner.
  std::vector<size_t> order(items.size());
  for (size_t i = 0; i < order.size(); ++i) {
    order[i] = i;
  }
  sort_positions_stably(order, [&items](size_t a, size_t b) {
    return sort_text(items[a].get()) < sort_text(items[b].get());
  });
  write_container_open(state, '[');
  bool first = true;
  for (size_t index : order) {
    if (!first) {
      write_item_separator(state);
    }
    first = false;
    if (!encode_value(items[index].get(), state)) {
      return false;
    }
  }
  write_container_close(state, ']');
  return true;
}

}  // namespace mervanta
