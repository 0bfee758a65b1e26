// JSON strings: an escape-free path straight from the input bytes and an
// escape path through a scratch buffer. Both give the same str.
#include <cstring>
#include <string>

#include "decoder/parser.hpp"
#include "runtime/simd.hpp"

namespace mervanta {

namespace {

// Offset of the first '"' or '\' at or after `from`, or `length` when there
// is none. Reads whole blocks; the padding after the text covers them.
inline uint64_t find_quote_or_backslash(const char* text, uint64_t from, uint64_t length) {
#if MERVANTA_USE_SSE2
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  for (uint64_t at = from; at < length; at += 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
    unsigned mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, backslash))));
    if (mask != 0) {
      uint64_t found = at + simd::first_set_bit(mask);
      return found < length ? found : length;
    }
  }
  return length;
#else
  for (uint64_t at = from; at < length; at += 8) {
    const uint64_t word = simd::load_word(text + at);
    const uint64_t marks = simd::mark_equal(word, '"') | simd::mark_equal(word, '\\');
    if (marks != 0) {
      uint64_t found = at + simd::first_marked_byte(marks);
      return found < length ? found : length;
    }
  }
  return length;
#endif
}

Ref make_str(const char* bytes, uint64_t size) {
  return Ref::steal(PyUnicode_FromStringAndSize(bytes, static_cast<Py_ssize_t>(size)));
}

int hex_value(unsigned char byte) {
  if (byte >= '0' && byte <= '9') {
    return byte - '0';
  }
  byte |= 0x20;
  if (byte >= 'a' && byte <= 'f') {
    return byte - 'a' + 10;
  }
  return -1;
}

// Four hex digits at `at` without consuming anything; -1 if they are not.
int32_t peek_hex4(const ParserState& state, uint64_t at) {
  if (state.length - at < 4) {
    return -1;
  }
  int32_t code = 0;
  for (uint64_t i = 0; i < 4; ++i) {
    int digit = hex_value(static_cast<unsigned char>(state.text[at + i]));
    if (digit < 0) {
      return -1;
    }
    code = code << 4 | digit;
  }
  return code;
}

// Consumes the four digits of a \u escape; false with the error set.
bool read_hex4(ParserState& state, uint32_t& code) {
  code = 0;
  for (int i = 0; i < 4; ++i) {
    if (state.position >= state.length) {
      parse_error(state, "Invalid Unicode escape");
      return false;
    }
    int digit = hex_value(static_cast<unsigned char>(state.text[state.position++]));
    if (digit < 0) {
      parse_error(state, "Invalid hex");
      return false;
    }
    code = code << 4 | static_cast<uint32_t>(digit);
  }
  return true;
}

void append_utf8(std::string& buffer, uint32_t code) {
  if (code < 0x80) {
    buffer.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    char bytes[2] = {static_cast<char>(0xC0 | code >> 6), static_cast<char>(0x80 | (code & 0x3F))};
    buffer.append(bytes, 2);
  } else if (code < 0x10000) {
    char bytes[3] = {static_cast<char>(0xE0 | code >> 12), static_cast<char>(0x80 | (code >> 6 & 0x3F)),
                     static_cast<char>(0x80 | (code & 0x3F))};
    buffer.append(bytes, 3);
  } else {
    char bytes[4] = {static_cast<char>(0xF0 | code >> 18), static_cast<char>(0x80 | (code >> 12 & 0x3F)),
                     static_cast<char>(0x80 | (code >> 6 & 0x3F)), static_cast<char>(0x80 | (code & 0x3F))};
    buffer.append(bytes, 4);
  }
}

// The character of a \u escape whose "\u" has been consumed: a surrogate
// pair is joined, any other surrogate yields nothing.
bool append_unicode_escape(ParserState& state, std::string& buffer) {
  uint32_t code = 0;
  if (!read_hex4(state, code)) {
    return false;
  }
  if (code >= 0xD800 && code <= 0xDBFF && state.length - state.position >= 6 &&
      state.text[state.position] == '\\' && state.text[state.position + 1] == 'u') {
    int32_t low = peek_hex4(state, state.position + 2);
    if (low >= 0xDC00 && low <= 0xDFFF) {
      state.position += 6;
      append_utf8(buffer, 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint32_t>(low) - 0xDC00));
      return true;
    }
  }
  if (code < 0xD800 || code > 0xDFFF) {
    append_utf8(buffer, code);
  }
  return true;
}

// One escape; `position` is just past the backslash.
bool append_escape(ParserState& state, std::string& buffer) {
  if (state.position >= state.length) {
    parse_error(state, "Invalid escape");
    return false;
  }
  char byte = state.text[state.position++];
  switch (byte) {
    case '"':
    case '\\':
    case '/':
      buffer.push_back(byte);
      return true;
    case 'b':
      buffer.push_back('\b');
      return true;
    case 'f':
      buffer.push_back('\f');
      return true;
    case 'n':
      buffer.push_back('\n');
      return true;
    case 'r':
      buffer.push_back('\r');
      return true;
    case 't':
      buffer.push_back('\t');
      return true;
    case 'u':
      return append_unicode_escape(state, buffer);
    default:
      parse_error(state, "Invalid escape");
      return false;
  }
}

// The escape path from `start`, the first byte after the opening mark. Runs
// of plain bytes are copied whole; the result equals a byte-by-byte copy.
[[gnu::noinline]] Ref parse_escaped_string(ParserState& state, uint64_t start) {
  std::string buffer;
  buffer.reserve(64);
  state.position = start;
  for (;;) {
    uint64_t stop = find_quote_or_backslash(state.text, state.position, state.length);
    buffer.append(state.text + state.position, stop - state.position);
    state.position = stop;
    if (stop >= state.length) {
      return parse_error(state, "Unterminated string");
    }
    ++state.position;
    if (state.text[stop] == '"') {
      return make_str(buffer.data(), buffer.size());
    }
    if (!append_escape(state, buffer)) {
      return {};
    }
  }
}

}  // namespace

Ref parse_string(ParserState& state) {
  if (state.position < state.length) {
    ++state.position;
  }
  uint64_t start = state.position;
  uint64_t stop = find_quote_or_backslash(state.text, start, state.length);
  if (stop < state.length && state.text[stop] == '"') {
    state.position = stop + 1;
    return make_str(state.text + start, stop - start);
  }
  return parse_escaped_string(state, start);
}

}  // namespace mervanta
