// EncoderState: the record of one encoding run, and the layout helpers that
// every writer shares.
#pragma once

#include <cstdint>
#include <string>

#include "ffi_serializer/output_buffer.hpp"

namespace mervanta {

struct EncoderState {
  explicit EncoderState(size_t capacity) : buffer(capacity) {}

  OutputBuffer buffer;
  std::string item_separator = ", ";
  std::string key_separator = ": ";
  uint64_t indent_level = 0;
  bool pretty = false;
  uint8_t indent_width = 0;
  bool ensure_ascii = false;
  // Containers and hook results currently open; bounds runaway nesting.
  uint32_t nesting = 0;
};

// "\n" followed by indent_level x indent_width spaces.
void write_line_break(EncoderState& state);

// Layout shared by every array and object writer: opening bracket, item
// separators and closing bracket, with the pretty-mode line breaks.
inline void write_container_open(EncoderState& state, char bracket) {
  state.buffer.put(bracket);
  if (state.pretty) {
    ++state.indent_level;
    write_line_break(state);
  }
}
inline void write_item_separator(EncoderState& state) {
  state.buffer.put(state.item_separator);
  if (state.pretty) {
    write_line_break(state);
  }
}
inline void write_container_close(EncoderState& state, char bracket) {
  if (state.pretty) {
    --state.indent_level;
    write_line_break(state);
  }
  state.buffer.put(bracket);
}

}  // namespace mervanta
