// Object keys, with the quoted text of repeated key objects copied.
#include <algorithm>
#include <cstring>

#include "encoder/writers.hpp"
#include "runtime/errors.hpp"

namespace mervanta {

namespace {

constexpr size_t kShortKey = 32;

bool copy_remembered(PyObject* key, EncoderState& state) {
  const KeyMemo::Entry* entry = state.key_memo.find(key);
  if (entry == nullptr) {
    return false;
  }
  // Room for a fixed-size copy; reserving may move the buffer, so the source
  // is found after it.
  state.buffer.reserve(std::max(entry->length, kShortKey));
  const char* source = state.buffer.data() + entry->offset;
  if (entry->length <= kShortKey) {
    // One fixed-size copy through registers. Bytes past the key's text are
    // copied too, then overwritten by what follows; the source may run into
    // the destination, so all of it is loaded before anything is stored.
    char staged[kShortKey];
    std::memcpy(staged, source, kShortKey);
    std::memcpy(state.buffer.tail(), staged, kShortKey);
  } else {
    std::memcpy(state.buffer.tail(), source, entry->length);
  }
  state.buffer.commit(entry->length);
  return true;
}

void write_and_remember(PyObject* key, std::string_view utf8, EncoderState& state) {
  const size_t start = state.buffer.size();
  write_escaped_string(state, utf8.data(), utf8.size());
  // Only an exact str is certain to have the same text next time.
  if (Py_TYPE(key) == &PyUnicode_Type) {
    state.key_memo.remember(key, start, state.buffer.size() - start);
  }
}

}  // namespace

bool write_key(PyObject* key, EncoderState& state) {
  if (copy_remembered(key, state)) {
    return true;
  }
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

void write_key_text(PyObject* key, std::string_view utf8, EncoderState& state) {
  if (!copy_remembered(key, state)) {
    write_and_remember(key, utf8, state);
  }
}

}  // namespace mervanta
