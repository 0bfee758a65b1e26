// The code points of a string that needs decoding (escapes or non-ASCII
// bytes), collected in one reusable array, and the str made from them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "runtime/py_ref.hpp"

namespace mervanta {

class CodePoints {
 public:
  // User-provided, so that value-initialisation does not zero the inline
  // array on every parse.
  CodePoints() noexcept {}
  ~CodePoints() {
    if (data_ != inline_) {
      std::free(data_);
    }
  }
  CodePoints(const CodePoints&) = delete;
  CodePoints& operator=(const CodePoints&) = delete;

  void clear() noexcept {
    size_ = 0;
    bits_ = 0;
  }
  // Room for `count` more code points; false with MemoryError set.
  [[nodiscard]] bool reserve(size_t count) { return size_ + count <= capacity_ || grow(size_ + count); }
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
  // A new str of the collected code points.
  Ref make_str();

 private:
  static constexpr size_t kInline = 128;
  bool grow(size_t needed);

  uint32_t inline_[kInline];
  uint32_t* data_ = inline_;
  size_t size_ = 0;
  size_t capacity_ = kInline;
  // OR of every code point: below 0x100 exactly when each one is.
  uint32_t bits_ = 0;
};

}  // namespace mervanta
