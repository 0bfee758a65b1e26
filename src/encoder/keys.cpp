// Object keys, with the quoted text of repeated key objects copied.
#include <algorithm>
#include <cstring>

#include "encoder/writers.hpp"
#include "runtime/errors.hpp"

namespace mervanta {

namespace {

void copy_into_room(const KeyMemo::Entry* entry, EncoderState& state) {
  char* const out = state.buffer.tail();
  state.buffer.commit(static_cast<size_t>(copy_to(out, entry, state) - out));
}

bool copy_remembered(PyObject* key, EncoderState& state) {
  const KeyMemo::Entry* entry = find_remembered_key(key, state);
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

char* write_fresh_head_at(char* out, PyObject* key, bool first, EncoderState& state) {
  if (Py_TYPE(key) != &PyUnicode_Type) {
    return nullptr;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(key, &size);
  if (utf8 == nullptr) [[unlikely]] {
    // The general writer meets the same error again and reports it.
    PyErr_Clear();
    return nullptr;
  }
  if (!first) {
    out = state.item_separator.write_at(out);
  }
  char* const end = write_plain_text_at(out, utf8, static_cast<size_t>(size), state.settings.ensure_ascii);
  if (end == nullptr) {
    return nullptr;
  }
  if (memo_in_use(state)) {
    state.key_memo.remember(key, static_cast<size_t>(out - state.buffer.data()), static_cast<size_t>(end - out));
  }
  return state.key_separator.write_at(end);
}

bool write_member_head(PyObject* key, bool first, EncoderState& state) {
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
