// The JSON escapes of one letter after a backslash, shared by the writer and
// the reader. "\/" is read but never written, so it is not listed.
#pragma once

namespace mervanta {

struct ShortEscape {
  char character;
  char letter;
};

inline constexpr ShortEscape kShortEscapes[] = {
    {'"', '"'}, {'\\', '\\'}, {'\b', 'b'}, {'\f', 'f'}, {'\n', 'n'}, {'\r', 'r'}, {'\t', 't'},
};

}  // namespace mervanta
