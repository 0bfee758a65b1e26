// EncoderState: the record of one encoding run, and the layout helpers that
// every writer shares.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "encoder/key_memo.hpp"
#include "encoder/output_buffer.hpp"
#include "runtime/py_ref.hpp"

namespace mervanta {

// An item or key separator. Short ones (all but the most unusual) are written
// with one fixed-size copy.
class Separator {
 public:
  Separator(std::string_view text) { *this = text; }  // NOLINT: implicit from text
  Separator& operator=(std::string_view text) {
    length_ = text.size();
    if (length_ <= kInline) {
      inline_.fill(0);
      std::memcpy(inline_.data(), text.data(), length_);
    } else {
      long_.assign(text);
    }
    return *this;
  }
  // Room write_unchecked needs.
  static constexpr size_t kRoom = 16;
  bool is_short() const noexcept { return length_ <= kInline; }
  // A short separator at out, inside reserved room (kRoom bytes); returns
  // the end of what it wrote.
  char* write_at(char* out) const noexcept {
    std::memcpy(out, inline_.data(), kInline);
    return out + length_;
  }
  void write_to(OutputBuffer& buffer) const {
    if (length_ <= kInline) {
      buffer.reserve(kInline);
      std::memcpy(buffer.tail(), inline_.data(), kInline);
      buffer.commit(length_);
    } else {
      buffer.put(long_);
    }
  }

 private:
  static constexpr size_t kInline = kRoom;
  std::array<char, kInline> inline_{};
  size_t length_ = 0;
  std::string long_;
};

// What an entry point chooses for one encoding run.
struct EncoderSettings {
  bool pretty = false;
  uint8_t indent_width = 0;
  bool ensure_ascii = false;
  bool allow_nan = true;
  bool sort_keys = false;
  PyObject* default_hook = nullptr;  // borrowed; null when absent
  // Custom separators; otherwise ", " (or "," in pretty mode) and ": ".
  std::optional<std::string> item_separator;
  std::optional<std::string> key_separator;
};

// The record of one encoding run: its settings, the output and where the
// writers stand.
struct EncoderState {
  EncoderState(const EncoderSettings& chosen, size_t capacity)
      : buffer(capacity),
        settings(chosen),
        item_separator(chosen.item_separator ? std::string_view(*chosen.item_separator)
                                             : std::string_view(chosen.pretty ? "," : ", ")),
        key_separator(chosen.key_separator ? std::string_view(*chosen.key_separator) : std::string_view(": ")),
        compact(!chosen.pretty && item_separator.is_short() && key_separator.is_short()) {}

  OutputBuffer buffer;
  const EncoderSettings settings;
  const Separator item_separator;
  const Separator key_separator;
  // No line breaks and short separators: an item, with what precedes it,
  // can be written in one reserved room.
  const bool compact;
  KeyMemo key_memo;
  // Objects opened so far. Keys are remembered from the second object on: a
  // document that is a single object would only pay for the memo.
  uint64_t objects_opened = 0;
  uint64_t indent_level = 0;
  // Containers and hook results currently open; bounds runaway nesting.
  uint32_t nesting = 0;
  // Counts the values whose encoding may run Python code (anything but the
  // exact built-in types), counted before that code runs: a container whose
  // count did not move while an item was written knows it was not changed.
  uint64_t python_epoch = 0;

  // Empties the output (a stream wrote it out); remembered keys go with it.
  void discard_output() noexcept {
    buffer.clear();
    key_memo.forget_all();
  }
};

// "\n" followed by indent_level x indent_width spaces.
void write_line_break(EncoderState& state);

// Layout shared by every array and object writer: opening bracket, item
// separators and closing bracket, with the pretty-mode line breaks.
inline void write_container_open(EncoderState& state, char bracket) {
  state.objects_opened += bracket == '{';
  state.buffer.put(bracket);
  if (state.settings.pretty) {
    ++state.indent_level;
    write_line_break(state);
  }
}
inline void write_item_separator(EncoderState& state) {
  state.item_separator.write_to(state.buffer);
  if (state.settings.pretty) {
    write_line_break(state);
  }
}
inline void write_container_close(EncoderState& state, char bracket) {
  if (state.settings.pretty) {
    --state.indent_level;
    write_line_break(state);
  }
  state.buffer.put(bracket);
}

}  // namespace mervanta
