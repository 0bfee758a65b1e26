// The decoder's private copy of its input: valid UTF-8 followed by zero
// padding (see kTextPadding).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "decoder/parser.hpp"

namespace mervanta {

class OwnedText {
 public:
  // Copies `bytes` and pads them; false with MemoryError set.
  [[nodiscard]] bool assign(std::string_view bytes);

  const char* data() const noexcept { return data_.get(); }
  uint64_t length() const noexcept { return length_; }

 private:
  struct Free {
    void operator()(char* block) const noexcept { std::free(block); }
  };
  std::unique_ptr<char, Free> data_;
  uint64_t length_ = 0;
};

// str, bytes or bytearray (or subclasses) to owned UTF-8; invalid UTF-8 in
// bytes is replaced as bytes.decode("utf-8", "replace") does.
[[nodiscard]] bool decode_input_text(PyObject* source, OwnedText& out);
// Only str (or a subclass); `trim` drops Unicode White_Space at both ends.
[[nodiscard]] bool str_input_text(PyObject* source, bool trim, OwnedText& out);

}  // namespace mervanta
