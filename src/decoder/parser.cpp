// Drivers, value dispatch, literals and the positioned decoder error.
#include "decoder/parser.hpp"

#include <cstdio>
#include <cstring>

#include "runtime/simd.hpp"

namespace mervanta {

namespace {

uint32_t load_word(const char* bytes) {
  uint32_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

constexpr uint32_t word_of(const char (&literal)[5]) {
  return static_cast<uint32_t>(static_cast<unsigned char>(literal[0])) |
         static_cast<uint32_t>(static_cast<unsigned char>(literal[1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(literal[2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(literal[3])) << 24;
}

Ref parse_null(ParserState& state) {
  if (state.length - state.position >= 4 && load_word(state.text + state.position) == word_of("null")) {
    state.position += 4;
    return Ref::borrow(Py_None);
  }
  return parse_error(state, "Invalid null");
}

// The cyclic collector would repeatedly traverse the containers being built,
// none of which can be garbage yet. Without hooks no Python code runs during
// the parse, so the collector is paused for it (and resumed only if it was
// running before); with hooks it is left alone.
class CollectorPause {
 public:
  explicit CollectorPause(const DecodeHooks& hooks) {
    paused_ = !hooks.any() && PyGC_Disable() != 0;
  }
  ~CollectorPause() {
    if (paused_) {
      PyGC_Enable();
    }
  }
  CollectorPause(const CollectorPause&) = delete;
  CollectorPause& operator=(const CollectorPause&) = delete;

 private:
  bool paused_ = false;
};

Ref parse_first_value(ParserState& state, const DecodeHooks& hooks) {
  CollectorPause pause(hooks);
  skip_whitespace(state);
  if (state.position >= state.length) {
    return parse_error(state, "Invalid JSON");
  }
  return parse_value(state, hooks);
}

}  // namespace

Ref parse_json(const char* text, uint64_t length, const DecodeHooks& hooks) {
  ParserState state(text, length);
  return parse_first_value(state, hooks);
}

Ref parse_json_strict(const char* text, uint64_t length, const DecodeHooks& hooks) {
  ParserState state(text, length);
  Ref value = parse_first_value(state, hooks);
  if (!value) {
    return {};
  }
  skip_whitespace(state);
  if (state.position < state.length) {
    return parse_error(state, "Extra data after JSON value");
  }
  return value;
}

void skip_whitespace_run(ParserState& state) {
  const char* text = state.text;
  uint64_t position = state.position;
  // A block read at a position <= length stays inside the padding.
#if MERVANTA_USE_SSE2
  for (;;) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + position));
    __m128i spaces = _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(' ')),
                                  _mm_cmpeq_epi8(block, _mm_set1_epi8('\n')));
    __m128i controls = _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('\t')),
                                    _mm_cmpeq_epi8(block, _mm_set1_epi8('\r')));
    unsigned others = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(spaces, controls))) & 0xFFFFu;
    if (others != 0) {
      position += simd::first_set_bit(others);
      break;
    }
    position += 16;
  }
#else
  for (;;) {
    const uint64_t word = simd::load_word(text + position);
    const uint64_t spaces = simd::mark_equal(word, ' ') | simd::mark_equal(word, '\n') |
                            simd::mark_equal(word, '\t') | simd::mark_equal(word, '\r');
    const uint64_t others = ~spaces & simd::kHighBits;
    if (others != 0) {
      position += simd::first_marked_byte(others);
      break;
    }
    position += 8;
  }
#endif
  state.position = position;
}

Ref parse_value(ParserState& state, const DecodeHooks& hooks) {
  if (state.position >= state.length) {
    return parse_error(state, "Invalid JSON");
  }
  switch (state.text[state.position]) {
    case '"':
      return parse_string(state);
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
      return parse_number(state, hooks.parse_float, hooks.parse_int);
    case '[':
      return parse_array(state, hooks);
    case '{':
      return parse_object(state, hooks);
    case 't':
    case 'f':
      return parse_literal(state);
    case 'n':
      return parse_null(state);
    default:
      return parse_error(state, "Invalid JSON");
  }
}

Ref parse_literal(ParserState& state) {
  uint64_t remaining = state.length - state.position;
  const char* at = state.text + state.position;
  if (remaining >= 4 && load_word(at) == word_of("true")) {
    state.position += 4;
    return Ref::borrow(Py_True);
  }
  if (remaining >= 5 && load_word(at) == word_of("fals") && at[4] == 'e') {
    state.position += 5;
    return Ref::borrow(Py_False);
  }
  return parse_error(state, "Invalid boolean");
}

[[gnu::cold]] [[gnu::noinline]] Ref parse_error(const ParserState& state, const char* message) {
  const char* text = state.text;
  uint64_t position = state.position;
  uint64_t row = 1;
  uint64_t column = position + 1;
  const void* line_feed = std::memchr(text, '\n', position);
  while (line_feed != nullptr) {
    uint64_t offset = static_cast<uint64_t>(static_cast<const char*>(line_feed) - text);
    ++row;
    column = position - offset;
    line_feed = std::memchr(text + offset + 1, '\n', position - offset - 1);
  }
  char formatted[160];
  std::snprintf(formatted, sizeof formatted, "%s at row %llu, column %llu", message,
                static_cast<unsigned long long>(row), static_cast<unsigned long long>(column));
  PyErr_SetString(PyExc_ValueError, formatted);
  return {};
}

}  // namespace mervanta
