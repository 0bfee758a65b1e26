// The decoder's private copy of its input: valid UTF-8 followed by zero
// padding (see kTextPadding).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "decoder/parser.hpp"

namespace mervanta {

class OwnedText {
 public:
  OwnedText() = default;
  OwnedText(const OwnedText&) = delete;
  // Takes the other's text, leaving it empty.
  OwnedText& operator=(OwnedText&& other) noexcept;
  ~OwnedText() { release(); }

  // Copies `bytes` and pads them; false with MemoryError set.
  [[nodiscard]] bool assign(std::string_view bytes);

  const char* data() const noexcept { return data_; }
  uint64_t length() const noexcept { return length_; }

 private:
  // Small documents are copied here, saving an allocation per call.
  static constexpr uint64_t kInline = 512;

  void release() noexcept;

  char* data_ = nullptr;
  uint64_t length_ = 0;
  char inline_[kInline + kTextPadding];
};

// str, bytes or bytearray (or subclasses) to owned UTF-8; invalid UTF-8 in
// bytes is replaced as bytes.decode("utf-8", "replace") does.
[[nodiscard]] bool decode_input_text(PyObject* source, OwnedText& out);
// As decode_input_text, but bytes and bytearray are copied without checking
// their UTF-8, and `unchecked` says so; see repair_unchecked_text.
[[nodiscard]] bool decode_input_text_unchecked(PyObject* source, OwnedText& out, bool& unchecked);
// After a failed parse of unchecked text: `repaired` stays false when the
// text is valid UTF-8 (the parse's error stands); otherwise the error is
// cleared and the invalid sequences replaced as decode_input_text does.
// False with an error set when the replacement fails.
[[nodiscard]] bool repair_unchecked_text(OwnedText& text, bool& repaired);
// Only str (or a subclass); `trim` drops Unicode White_Space at both ends.
[[nodiscard]] bool str_input_text(PyObject* source, bool trim, OwnedText& out);

}  // namespace mervanta
