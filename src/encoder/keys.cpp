// Object keys, with the quoted text of repeated key objects copied.
#include <algorithm>
#include <cstring>

#include "encoder/writers.hpp"
#include "runtime/errors.hpp"

namespace mervanta {

namespace {

constexpr size_t kShortKey = 32;

// Copies a remembered key's text to out, inside reserved room of at least
// max(length, kShortKey) bytes; returns the end of the copy.
char* copy_to(char* out, const KeyMemo::Entry* entry, const EncoderState& state) {
  // The buffer may have moved since the text was written: found by offset.
  const char* source = state.buffer.data() + entry->offset;
  if (entry->length <= kShortKey) {
    // One fixed-size copy through registers. Bytes past the key's text are
    // copied too, then overwritten by what follows; the source may run into
    // the destination, so all of it is loaded before anything is stored.
    char staged[kShortKey];
    std::memcpy(staged, source, kShortKey);
    std::memcpy(out, staged, kShortKey);
  } else {
    std::memcpy(out, source, entry->length);
  }
  return out + entry->length;
}

void copy_into_room(const KeyMemo::Entry* entry, EncoderState& state) {
  char* const out = state.buffer.tail();
  state.buffer.commit(static_cast<size_t>(copy_to(out, entry, state) - out));
}

bool memo_in_use(const EncoderState& state) { return state.objects_opened > 1; }

bool copy_remembered(PyObject* key, EncoderState& state) {
  if (!memo_in_use(state)) {
    return false;
  }
  const KeyMemo::Entry* entry = state.key_memo.find(key);
  if (entry == nullptr) {
    return false;
  }
  state.buffer.reserve(std::max(entry->length, kShortKey));
  copy_into_room(entry, state);
  return true;
}

void write_and_remember(PyObject* key, std::string_view utf8, EncoderState& state) {
  const size_t start = state.buffer.size();
  write_escaped_string(state, utf8.data(), utf8.size());
  // Only an exact str is certain to have the same text next time.
  if (Py_TYPE(key) == &PyUnicode_Type && memo_in_use(state)) {
    state.key_memo.remember(key, start, state.buffer.size() - start);
  }
}

// A key not remembered in this run.
bool write_fresh_key(PyObject* key, EncoderState& state) {
  if (!is_str(key)) {
    return fail_not_instance(key, "str");
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(key, &size);
  if (utf8 == nullptr) {
    return false;
  }
  write_and_remember(key, std::string_view(utf8, static_cast<size_t>(size)), state);
  return true;
}

}  // namespace

bool write_member_head(PyObject* key, bool first, EncoderState& state) {
  // A remembered key between short separators, outside pretty mode (which
  // breaks lines after the item separator), takes one reservation.
  const KeyMemo::Entry* entry = memo_in_use(state) ? state.key_memo.find(key) : nullptr;
  if (entry != nullptr && !state.settings.pretty && state.item_separator.is_short() &&
      state.key_separator.is_short()) {
    state.buffer.reserve(2 * Separator::kRoom + std::max(entry->length, kShortKey));
    // Written through a local cursor and committed once: the buffer's length
    // is not stored and reloaded between the three pieces.
    char* const start = state.buffer.tail();
    char* out = first ? start : state.item_separator.write_at(start);
    out = copy_to(out, entry, state);
    out = state.key_separator.write_at(out);
    state.buffer.commit(static_cast<size_t>(out - start));
    return true;
  }
  if (!first) {
    write_item_separator(state);
  }
  if (!copy_remembered(key, state) && !write_fresh_key(key, state)) {
    return false;
  }
  state.key_separator.write_to(state.buffer);
  return true;
}

void write_key_text(PyObject* key, std::string_view utf8, EncoderState& state) {
  if (!copy_remembered(key, state)) {
    write_and_remember(key, utf8, state);
  }
}

}  // namespace mervanta
