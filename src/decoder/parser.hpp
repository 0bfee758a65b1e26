// The one-pass JSON parser: the cursor, the hooks, the drivers and the
// per-kind decoders. Every decoder returns a new reference, or an empty Ref
// with a Python exception pending (a positioned ValueError for bad input).
#pragma once

#include <cstdint>

#include "decoder/code_points.hpp"
#include "runtime/py_ref.hpp"

namespace mervanta {

// Bytes of readable zero padding the owner of a text keeps after its end, so
// that scanners may read whole blocks and stop on a NUL without bounds checks.
inline constexpr uint64_t kTextPadding = 64;

struct ParserState {
  // A constructor rather than aggregate initialisation, which g++ performs by
  // zeroing the whole record, scratch array included, on every parse.
  ParserState(const char* text_, uint64_t length_) noexcept : text(text_), length(length_) {}

  const char* text;  // followed by kTextPadding zero bytes
  uint64_t length;
  uint64_t position = 0;
  uint32_t depth = 0;  // containers currently open
  CodePoints scratch;  // reused by every string that needs decoding
  NarrowText narrow;   // reused by ASCII strings with escapes
  static constexpr uint64_t kAlignedBlock = 32;
  alignas(16) char aligned_block[kAlignedBlock];  // short ASCII strings, copied
};

// Borrowed callables; null when absent.
struct DecodeHooks {
  PyObject* object_hook = nullptr;
  PyObject* object_pairs_hook = nullptr;
  PyObject* parse_float = nullptr;
  PyObject* parse_int = nullptr;

  bool any() const noexcept {
    return object_hook != nullptr || object_pairs_hook != nullptr || parse_float != nullptr || parse_int != nullptr;
  }
};

// Drivers. `text` is followed by kTextPadding zero bytes. It may hold
// invalid UTF-8 only where no Python code runs during the parse: a string
// with invalid bytes fails the parse, and the caller, finding the text
// invalid, parses its repaired form instead.
Ref parse_json(const char* text, uint64_t length, const DecodeHooks& hooks);
Ref parse_json_strict(const char* text, uint64_t length, const DecodeHooks& hooks);

Ref parse_value(ParserState& state, const DecodeHooks& hooks);
Ref parse_literal(ParserState& state);
Ref parse_string(ParserState& state);
Ref parse_number(ParserState& state, PyObject* parse_float, PyObject* parse_int);
Ref parse_array(ParserState& state, const DecodeHooks& hooks);
Ref parse_object(ParserState& state, const DecodeHooks& hooks);

// Sets ValueError "{message} at row {row}, column {column}" for the current
// position and returns an empty Ref.
Ref parse_error(const ParserState& state, const char* message);

inline bool is_json_whitespace(unsigned char byte) {
  return byte <= 32 && ((uint64_t{0x100002600} >> byte) & 1) != 0;
}

// Skips a run of whitespace that starts at `position`, many bytes at a time.
void skip_whitespace_run(ParserState& state);

// Most tokens follow their predecessor directly or after one space, so the
// first byte is tested inline. The padding NUL is not whitespace, so every
// scan stops at the end of the text.
[[gnu::always_inline]] inline void skip_whitespace(ParserState& state) {
  unsigned char byte = static_cast<unsigned char>(state.text[state.position]);
  if (!is_json_whitespace(byte)) {
    return;
  }
  unsigned char next = static_cast<unsigned char>(state.text[state.position + 1]);
  if (!is_json_whitespace(next)) {
    state.position += 1;
    return;
  }
  skip_whitespace_run(state);
}

}  // namespace mervanta
