#include <cstring>

#include "encoder/encoder_state.hpp"

namespace mervanta {

void write_line_break(EncoderState& state) {
  uint64_t spaces = state.indent_level * state.settings.indent_width;
  state.buffer.reserve(1 + spaces);
  char* out = state.buffer.tail();
  *out = '\n';
  std::memset(out + 1, ' ', spaces);
  state.buffer.commit(1 + spaces);
}

}  // namespace mervanta
