// Scalar writers of the encoder core.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "encoder/digits.hpp"
#include "encoder/encoder_state.hpp"
#include "encoder/plain_text.hpp"
#include "runtime/py_ref.hpp"

namespace mervanta {

// str or a subclass; the exact type is tested first because the subclass
// test is a function call under the limited API.
inline bool is_str(PyObject* object) { return Py_TYPE(object) == &PyUnicode_Type || PyUnicode_Check(object); }

// The one writer of JSON strings: quotes and escapes valid UTF-8 text.
void write_escaped_string(EncoderState& state, const char* bytes, size_t length);

// Texts up to this long are escaped in one piece; longer ones in slices.
inline constexpr size_t kEscapedAtMost = 4096;
// Room for a text of `length` bytes escaped in one piece: six output bytes
// per input byte, the quotes and the block writer's slack.
constexpr size_t escaped_room(size_t length) { return length * 6 + 34; }
// The text quoted and escaped at out, inside escaped_room(length) bytes of
// reserved room, length at most kEscapedAtMost; returns its end.
char* write_escaped_at(char* out, const char* bytes, size_t length, bool ensure_ascii);

// What precedes a member's value: the item separator (unless it is the
// first member), the key as a JSON string and the key separator. Keys must be
// str ("... is not an instance of 'str'"). A str object already written as a
// key in this run is copied from its earlier text.
[[nodiscard]] bool write_member_head(PyObject* key, bool first, EncoderState& state);

// Keys are remembered from the second object on: a document that is a single
// object would only pay for the memo.
inline bool memo_in_use(const EncoderState& state) { return state.objects_opened > 1; }

// The entry of a key written before in this run, or null.
[[gnu::always_inline]] inline const KeyMemo::Entry* find_remembered_key(PyObject* key, const EncoderState& state) {
  return memo_in_use(state) ? state.key_memo.find(key) : nullptr;
}

// Remembered keys up to this length are copied in one fixed-size move.
inline constexpr size_t kShortKey = 32;
static_assert(kShortKey == 32, "copy_to copies short keys with copy_32_bytes");

// 32 bytes from source to out, all loaded before any is stored, so the two
// may overlap. Kept in registers: a staging array went through the stack,
// and the stores then waited on reloading it.
[[gnu::always_inline]] inline void copy_32_bytes(char* out, const char* source) {
#if MERVANTA_USE_SSE2
  const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
  const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 16));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), head);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), tail);
#else
  const uint64_t words[4] = {simd::load_word(source), simd::load_word(source + 8), simd::load_word(source + 16),
                             simd::load_word(source + 24)};
  for (size_t i = 0; i < 4; ++i) {
    std::memcpy(out + 8 * i, &words[i], sizeof words[i]);
  }
#endif
}

// Copies a remembered key's text to out, inside reserved room of at least
// max(length, kShortKey) bytes; returns the end of the copy.
[[gnu::always_inline]] inline char* copy_to(char* out, const KeyMemo::Entry* entry, const EncoderState& state) {
  // The buffer may have moved since the text was written: found by offset.
  const char* source = state.buffer.data() + entry->offset;
  if (entry->length <= kShortKey) [[likely]] {
    // One fixed-size copy through registers. Bytes past the key's text are
    // copied too, then overwritten by what follows.
    copy_32_bytes(out, source);
  } else {
    std::memcpy(out, source, entry->length);
  }
  return out + entry->length;
}

// Room write_remembered_head_at needs.
inline size_t remembered_head_room(const KeyMemo::Entry* entry) {
  return 2 * Separator::kRoom + std::max(entry->length, kShortKey);
}

// A member head whose key is remembered, in the compact layout, at out inside
// remembered_head_room bytes; returns its end. Written through a local
// cursor: the buffer's length is not stored and reloaded between the pieces.
[[gnu::always_inline]] inline char* write_remembered_head_at(char* out, const KeyMemo::Entry* entry, bool first,
                                                             const EncoderState& state) {
  if (!first) {
    out = state.item_separator.write_at(out);
  }
  out = copy_to(out, entry, state);
  return state.key_separator.write_at(out);
}

// Room write_fresh_head_at needs.
inline constexpr size_t kFreshHeadRoom = 2 * Separator::kRoom + kShortPlainRoom;

// A member head in the compact layout whose key is not remembered, at out
// inside kFreshHeadRoom bytes, when the key is a short str that needs no
// escape (it is remembered then); returns its end, or null for any other
// key, with nothing of use written.
char* write_fresh_head_at(char* out, PyObject* key, bool first, EncoderState& state);

// A str key whose UTF-8 text is at hand, copied or written the same way.
void write_key_text(PyObject* key, std::string_view utf8, EncoderState& state);

// A str's UTF-8 form written as a JSON string; a lone surrogate fails with the
// interpreter's UnicodeEncodeError and nothing is written.
[[nodiscard]] bool write_str(PyObject* text, EncoderState& state);

// A Python result that must be a str ("... is not an instance of 'str'").
[[nodiscard]] bool encode_text_value(PyObject* value, EncoderState& state);

// Room for the sign and the stores of write_digits.
inline constexpr size_t kIntegerScratch = 32;

[[gnu::always_inline]] inline void write_integer_signed(EncoderState& state, int64_t value) {
  state.buffer.reserve(kIntegerScratch);
  char* out = state.buffer.tail();
  // The magnitude as unsigned, so -2**63 works.
  uint64_t magnitude = static_cast<uint64_t>(value);
  size_t sign = 0;
  if (value < 0) {
    *out = '-';
    magnitude = 0 - magnitude;
    sign = 1;
  }
  state.buffer.commit(sign + static_cast<size_t>(write_digits(out + sign, magnitude)));
}
void write_integer_unsigned(EncoderState& state, uint64_t value);

// What write_int_object leaves to a call: -1 (which may be an error), and
// ints beyond the signed 64-bit range.
[[nodiscard]] bool write_int_object_slow(PyObject* value, long long signed_value, int overflow,
                                         EncoderState& state);

// Any int (or subclass): exact decimal digits, big integers included.
[[nodiscard]] [[gnu::always_inline]] inline bool write_int_object(PyObject* value, EncoderState& state) {
  int overflow = 0;
  const long long signed_value = PyLong_AsLongLongAndOverflow(value, &overflow);
  if (overflow != 0 || signed_value == -1) [[unlikely]] {
    return write_int_object_slow(value, signed_value, overflow, state);
  }
  write_integer_signed(state, signed_value);
  return true;
}

// Room format_float needs: the text is at most 24 bytes, plus slack for
// fixed-size copies.
inline constexpr size_t kFloatScratch = 64;
// Shortest round-trip text of a finite double; returns its length.
size_t format_float(double value, char* scratch);
// NaN and infinities, as the allow_nan setting says.
[[nodiscard]] bool write_non_finite(double value, EncoderState& state);
// NaN and infinities follow the allow_nan setting. Inlined into the loops:
// only the digit work is a call.
[[nodiscard]] [[gnu::always_inline]] inline bool write_float(double value, EncoderState& state) {
  if (!std::isfinite(value)) [[unlikely]] {
    return write_non_finite(value, state);
  }
  state.buffer.reserve(kFloatScratch);
  state.buffer.commit(format_float(value, state.buffer.tail()));
  return true;
}

void write_base64(EncoderState& state, const unsigned char* bytes, size_t length);

// UTF-8 text of a str, lone surrogates replaced by U+FFFD (for ordering and
// messages, never for output).
std::string lenient_utf8(PyObject* text);

}  // namespace mervanta
