// Quoted keys already written in this run, found again by the key object.
//
// Decoded documents, ORM rows and literals repeat the same key objects, and
// copying a key's finished text from earlier in the output beats escaping it
// again. Each entry holds a reference to its key, so no other object can take
// its address while it is remembered; a str never changes, so neither does
// its text. Entries point into the output by offset, which survives the
// buffer moving; discarding the output forgets them.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "runtime/py_ref.hpp"

namespace mervanta {

class KeyMemo {
 public:
  struct Entry {
    PyObject* key;
    size_t offset;
    size_t length;
  };

  KeyMemo() noexcept = default;
  KeyMemo(const KeyMemo&) = delete;
  KeyMemo& operator=(const KeyMemo&) = delete;
  ~KeyMemo() { forget_all(); }

  // The entry for exactly this key object, or null.
  const Entry* find(PyObject* key) const noexcept {
    const size_t slot = slot_of(key);
    return is_used(slot) && entries_[slot].key == key ? &entries_[slot] : nullptr;
  }

  void remember(PyObject* key, size_t offset, size_t length) noexcept {
    const size_t slot = slot_of(key);
    Entry& entry = entries_[slot];
    if (!is_used(slot)) {
      used_[slot / 64] |= uint64_t{1} << (slot % 64);
      words_in_use_ |= 1u << (slot / 64);
      Py_INCREF(key);
    } else if (entry.key != key) {
      Py_INCREF(key);
      Py_DECREF(entry.key);
    }
    entry = {key, offset, length};
  }

  // Visits only the words that hold entries: a small document uses a few.
  void forget_all() noexcept {
    for (; words_in_use_ != 0; words_in_use_ &= words_in_use_ - 1) {
      const size_t word = static_cast<size_t>(std::countr_zero(words_in_use_));
      for (uint64_t used = used_[word]; used != 0; used &= used - 1) {
        Py_DECREF(entries_[word * 64 + static_cast<size_t>(std::countr_zero(used))].key);
      }
      used_[word] = 0;
    }
  }

 private:
  // Room for the keys of a few kinds of record at once (a tweet and its
  // user have some 60 between them).
  static constexpr size_t kSlots = 512;
  // Objects are at least 16-byte aligned; the bits above spread them.
  static size_t slot_of(PyObject* key) noexcept {
    const uintptr_t address = reinterpret_cast<uintptr_t>(key);
    return static_cast<size_t>((address >> 4) ^ (address >> 13)) % kSlots;
  }
  bool is_used(size_t slot) const noexcept { return (used_[slot / 64] >> (slot % 64) & 1) != 0; }

  // Which entries hold a key; the others are unset and never read.
  std::array<uint64_t, kSlots / 64> used_{};
  // Bit w set when used_[w] is not zero.
  uint32_t words_in_use_ = 0;
  std::array<Entry, kSlots> entries_;
};

}  // namespace mervanta
