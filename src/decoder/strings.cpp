// JSON strings: ASCII text without escapes straight from the input bytes,
// ASCII text with escapes decoded as bytes, and anything else through code
// points. All give the same str.
#include <array>
#include <cstring>

#include "decoder/parser.hpp"
#include "decoder/utf8.hpp"
#include "runtime/short_escapes.hpp"
#include "runtime/simd.hpp"

namespace mervanta {

namespace {

struct StringScan {
  uint64_t stop;  // offset of the first '"' or '\', or the length
  bool ascii;     // every byte before `stop` is ASCII
};

// Reads whole 16-byte blocks; the padding after the text covers them, and its
// zero bytes are ASCII.
inline StringScan scan_string(const char* text, uint64_t from, uint64_t length) {
#if MERVANTA_USE_SSE2
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  unsigned high = 0;
  for (uint64_t at = from; at < length; at += 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
    unsigned mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, backslash))));
    unsigned top = static_cast<unsigned>(_mm_movemask_epi8(block));
    if (mask != 0) {
      high |= top & ((mask & (0u - mask)) - 1);
      uint64_t found = at + simd::first_set_bit(mask);
      return {found < length ? found : length, high == 0};
    }
    high |= top;
  }
  return {length, high == 0};
#else
  uint64_t high = 0;
  for (uint64_t at = from; at < length; at += 8) {
    const uint64_t word = simd::load_word(text + at);
    const uint64_t marks = simd::mark_equal(word, '"') | simd::mark_equal(word, '\\');
    if (marks != 0) {
      const size_t index = simd::first_marked_byte(marks);
      const uint64_t found = at + index;
      const bool ascii = high == 0 && (simd::mark_non_ascii(word) & simd::marks_before(index)) == 0;
      return {found < length ? found : length, ascii};
    }
    high |= simd::mark_non_ascii(word);
  }
  return {length, high == 0};
#endif
}

// The value of each hex digit, by byte; -1 for every other byte.
constexpr auto kHexValue = [] {
  std::array<int8_t, 256> table{};
  table.fill(-1);
  for (int digit = 0; digit < 10; ++digit) table['0' + digit] = static_cast<int8_t>(digit);
  for (int digit = 0; digit < 6; ++digit) {
    table['a' + digit] = static_cast<int8_t>(10 + digit);
    table['A' + digit] = static_cast<int8_t>(10 + digit);
  }
  return table;
}();

int hex_value(unsigned char byte) { return kHexValue[byte]; }

// Four hex digits at `at` without consuming anything; -1 if they are not.
// The four are looked up without a branch between them: runs of \u escapes
// are the whole text of strings escaped to ASCII.
int32_t peek_hex4(const ParserState& state, uint64_t at) {
  if (state.length - at < 4) {
    return -1;
  }
  const auto* digits = reinterpret_cast<const unsigned char*>(state.text + at);
  const int32_t first = kHexValue[digits[0]];
  const int32_t second = kHexValue[digits[1]];
  const int32_t third = kHexValue[digits[2]];
  const int32_t fourth = kHexValue[digits[3]];
  if ((first | second | third | fourth) < 0) {
    return -1;
  }
  return first << 12 | second << 8 | third << 4 | fourth;
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

// The character of a \u escape whose "\u" has been consumed: a surrogate
// pair is joined, any other surrogate yields nothing.
bool append_unicode_escape(ParserState& state, CodePoints& out) {
  uint32_t code = 0;
  if (!read_hex4(state, code)) {
    return false;
  }
  if (code >= 0xD800 && code <= 0xDBFF && state.length - state.position >= 6 &&
      state.text[state.position] == '\\' && state.text[state.position + 1] == 'u') {
    int32_t low = peek_hex4(state, state.position + 2);
    if (low >= 0xDC00 && low <= 0xDFFF) {
      state.position += 6;
      out.push(0x10000 + ((code - 0xD800) << 10) + (static_cast<uint32_t>(low) - 0xDC00));
      return true;
    }
  }
  if (code < 0xD800 || code > 0xDFFF) {
    out.push(code);
  }
  return true;
}

// The character of each escape that stands for one ASCII character, by the
// letter after the backslash; 0 for \u and for letters that are no escape.
constexpr auto kShortEscape = [] {
  std::array<unsigned char, 128> table{};
  for (const ShortEscape& escape : kShortEscapes) table[static_cast<unsigned char>(escape.letter)] = escape.character;
  table['/'] = '/';
  return table;
}();

// One escape, yielding at most one code point; `position` is just past the
// backslash.
bool append_escape(ParserState& state, CodePoints& out) {
  if (state.position >= state.length) {
    parse_error(state, "Invalid escape");
    return false;
  }
  if (!out.reserve(1)) {
    return false;
  }
  const auto letter = static_cast<unsigned char>(state.text[state.position++]);
  if (letter < 0x80 && kShortEscape[letter] != 0) {
    out.push(kShortEscape[letter]);
    return true;
  }
  if (letter == 'u') {
    return append_unicode_escape(state, out);
  }
  parse_error(state, "Invalid escape");
  return false;
}

// The bytes [from, to), free of quotes and backslashes, as code points.
bool append_run(ParserState& state, uint64_t from, uint64_t to, CodePoints& out) {
  if (!out.reserve(to - from)) {
    return false;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(state.text);
  uint32_t bits = 0;
  uint32_t* end = decode_utf8(bytes + from, bytes + to, out.end(), bits);
  if (end == nullptr) {
    // Only bytes input parsed before validation gets here; its caller
    // repairs the text and parses again.
    parse_error(state, "Invalid UTF-8");
    return false;
  }
  out.commit(end, bits);
  return true;
}

// Where the byte path handed over: the text from `from` on, with `stop` the
// first quote or backslash at or after it, or the end of the text.
struct Handover {
  uint64_t from;
  uint64_t stop;
};

// ASCII text with escapes that all yield characters below U+0100, decoded
// as bytes from `start`, the first byte after the opening mark, with `stop`
// the first quote or backslash at or after it. Returns true with the str (or
// an empty Ref and MemoryError set). At anything else (non-ASCII bytes, a \u
// escape above U+00FF or a bad one, the end of the text) returns false and
// where the code point path takes over, with the bytes decoded so far in
// `state.narrow`: that path then gives the exact result or error.
bool parse_narrow_string(ParserState& state, uint64_t start, uint64_t stop, Ref& result, Handover& handover) {
  NarrowText& out = state.narrow;
  out.clear();
  const char* const text = state.text;
  uint64_t from = start;
  for (;;) {
    handover = {from, stop};
    if (stop >= state.length) {
      return false;
    }
    // The run before `stop` is read in whole blocks, inside the text or its padding.
    if (!out.append_blocks(text + from, stop - from)) {
      return true;
    }
    handover = {stop, stop};
    if (text[stop] == '"') {
      state.position = stop + 1;
      result = out.make_str();
      return true;
    }
    // Past a final backslash lies the padding's NUL, which is no escape.
    const auto letter = static_cast<unsigned char>(text[stop + 1]);
    if (letter < 0x80 && kShortEscape[letter] != 0) {
      if (!out.push(kShortEscape[letter])) {
        return true;
      }
      from = stop + 2;
    } else if (letter == 'u') {
      const int32_t code = peek_hex4(state, stop + 2);
      if (code < 0 || code > 0xFF) {
        return false;
      }
      if (!out.push(static_cast<unsigned char>(code))) {
        return true;
      }
      from = stop + 6;
    } else {
      return false;
    }
    const StringScan scan = scan_string(text, from, state.length);
    if (!scan.ascii) {
      handover = {from, scan.stop};
      return false;
    }
    stop = scan.stop;
  }
}

// Consecutive \uXXXX escapes from `at` of characters outside the surrogate
// range, as text escaped to ASCII is made of, decoded in one loop. Leaves
// `at` after the last one taken; anything else (a surrogate, bad hex) is
// left to the general escape reader. False with MemoryError set.
bool append_unicode_escape_run(const ParserState& state, uint64_t& at, CodePoints& out) {
  while (state.text[at] == '\\' && state.text[at + 1] == 'u') {
    const int32_t code = peek_hex4(state, at + 2);
    if (code < 0 || (code >= 0xD800 && code <= 0xDFFF)) {
      break;
    }
    if (!out.reserve(1)) {
      return false;
    }
    out.push(static_cast<uint32_t>(code));
    at += 6;
  }
  return true;
}

// The code point path from `from`, with `stop` the first quote or backslash
// at or after it, after the characters already in `state.scratch`.
Ref continue_with_code_points(ParserState& state, uint64_t from, uint64_t stop) {
  CodePoints& out = state.scratch;
  for (;;) {
    if (!append_run(state, from, stop, out)) {
      return {};
    }
    state.position = stop;
    if (stop >= state.length) {
      return parse_error(state, "Unterminated string");
    }
    uint64_t after_run = stop;
    if (!append_unicode_escape_run(state, after_run, out)) {
      return {};
    }
    if (after_run != stop) {
      state.position = after_run;
    } else {
      ++state.position;
      if (state.text[stop] == '"') {
        return out.make_str();
      }
      if (!append_escape(state, out)) {
        return {};
      }
    }
    from = state.position;
    stop = scan_string(state.text, from, state.length).stop;
  }
}

// A \u escape at `escape` (which the padding keeps readable) whose code is
// at least 0x100, or no hex at all: text escaped to ASCII from a script
// beyond Latin-1, which the byte path would only hand over.
inline bool opens_wide_escape(const char* escape) {
  return escape[1] == 'u' && (escape[2] != '0' || escape[3] != '0');
}

// A string that needs decoding, from `start`, the first byte after the
// opening mark, with `stop` its first quote or backslash. Out of line, so
// that the common path of parse_string keeps no frame; whether the text
// before an escape is ASCII is scanned again here rather than passed in,
// for the same reason.
[[gnu::noinline]] Ref parse_decoded_string(ParserState& state, uint64_t start, uint64_t stop) {
  CodePoints& out = state.scratch;
  out.clear();
  if (stop < state.length && state.text[stop] == '\\' && !opens_wide_escape(state.text + stop) &&
      scan_string(state.text, start, stop).ascii) {
    Ref result;
    Handover handover{};
    if (parse_narrow_string(state, start, stop, result, handover)) {
      return result;
    }
    if (!out.append_bytes(state.narrow.bytes())) {
      return {};
    }
    start = handover.from;
    stop = handover.stop;
  }
  return continue_with_code_points(state, start, stop);
}

// The interpreter checks the bytes of a new str a word at a time only from
// an aligned address, and one by one before it; short strings, most keys
// among them, are first copied to the state's aligned block. Reading a whole
// block is safe: the string ends before the text, and the padding follows.
inline Ref make_ascii_str(ParserState& state, const char* bytes, uint64_t size) {
  static_assert(ParserState::kAlignedBlock <= kTextPadding);
  if (size <= ParserState::kAlignedBlock) {
    std::memcpy(state.aligned_block, bytes, ParserState::kAlignedBlock);
    bytes = state.aligned_block;
  }
  return Ref::steal(PyUnicode_DecodeLatin1(bytes, static_cast<Py_ssize_t>(size), nullptr));
}

}  // namespace

Ref parse_string(ParserState& state) {
  if (state.position < state.length) {
    ++state.position;
  }
  uint64_t start = state.position;
  StringScan scan = scan_string(state.text, start, state.length);
  if (scan.ascii && scan.stop < state.length && state.text[scan.stop] == '"') {
    state.position = scan.stop + 1;
    return make_ascii_str(state, state.text + start, scan.stop - start);
  }
  return parse_decoded_string(state, start, scan.stop);
}

}  // namespace mervanta
