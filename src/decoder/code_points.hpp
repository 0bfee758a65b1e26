// The characters of a string that needs decoding (escapes or non-ASCII
// bytes), collected in one reusable array, and the str made from them: as
// code points, or as bytes while every one is below U+0100.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "runtime/py_ref.hpp"

namespace mervanta {

// A reusable array that starts in its own storage and moves to the heap when
// it outgrows it; the two kinds of decoded text below are built on it.
template <class T, size_t kInline>
class ScratchArray {
 public:
  // User-provided, so that value-initialisation does not zero the inline
  // array on every parse.
  ScratchArray() noexcept {}
  ~ScratchArray() {
    if (data_ != inline_) {
      std::free(data_);
    }
  }
  ScratchArray(const ScratchArray&) = delete;
  ScratchArray& operator=(const ScratchArray&) = delete;

  // Room for `count` more items; false with MemoryError set.
  [[nodiscard]] bool reserve(size_t count) { return size_ + count <= capacity_ || grow(size_ + count); }

 protected:
  // Aligned: the interpreter checks a new str's bytes a word at a time only
  // from an aligned address.
  alignas(16) T inline_[kInline];
  T* data_ = inline_;
  size_t size_ = 0;
  size_t capacity_ = kInline;

 private:
  bool grow(size_t needed) {
    const size_t capacity = capacity_ * 2 > needed ? capacity_ * 2 : needed;
    void* block = data_ == inline_ ? std::malloc(capacity * sizeof(T)) : std::realloc(data_, capacity * sizeof(T));
    if (block == nullptr) {
      PyErr_NoMemory();
      return false;
    }
    if (data_ == inline_) {
      std::memcpy(block, inline_, size_ * sizeof(T));
    }
    data_ = static_cast<T*>(block);
    capacity_ = capacity;
    return true;
  }
};

class CodePoints : public ScratchArray<uint32_t, 128> {
 public:
  CodePoints() noexcept {}  // user-provided, as the base's
  void clear() noexcept {
    size_ = 0;
    bits_ = 0;
  }
  // Writing position for code points stored directly after reserve().
  uint32_t* end() noexcept { return data_ + size_; }
  void commit(uint32_t* new_end, uint32_t bits) noexcept {
    size_ = static_cast<size_t>(new_end - data_);
    bits_ |= bits;
  }
  void push(uint32_t code) noexcept {
    data_[size_++] = code;
    bits_ |= code;
  }
  // Appends each byte as the code point of the same value; false with
  // MemoryError set.
  [[nodiscard]] bool append_bytes(std::string_view bytes) {
    if (!reserve(bytes.size())) {
      return false;
    }
    for (const char byte : bytes) {
      push(static_cast<unsigned char>(byte));
    }
    return true;
  }
  // A new str of the collected code points.
  Ref make_str();

 private:
  // OR of every code point: below 0x100 exactly when each one is.
  uint32_t bits_ = 0;
};

// The bytes of a string whose characters are all below U+0100: ASCII text
// with escapes, the common case of escaped text, without widening every byte
// to a code point and narrowing it back.
class NarrowText : public ScratchArray<char, 256> {
 public:
  // Room a block copy may write past the bytes it appends.
  static constexpr size_t kBlock = 16;

  NarrowText() noexcept {}  // user-provided, as the base's
  void clear() noexcept { size_ = 0; }
  // Appends `count` bytes copied a block at a time: the source must be
  // readable up to the next multiple of kBlock. False with MemoryError set.
  [[nodiscard]] bool append_blocks(const char* bytes, size_t count) {
    if (!reserve(count + kBlock)) {
      return false;
    }
    char* const out = data_ + size_;
    for (size_t done = 0; done < count; done += kBlock) {
      std::memcpy(out + done, bytes + done, kBlock);
    }
    size_ += count;
    return true;
  }
  [[nodiscard]] bool push(unsigned char byte) {
    if (!reserve(1)) {
      return false;
    }
    data_[size_++] = static_cast<char>(byte);
    return true;
  }
  std::string_view bytes() const noexcept { return {data_, size_}; }
  // A new str of the collected bytes, each one a character.
  Ref make_str() const;
};

}  // namespace mervanta
