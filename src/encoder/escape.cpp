// JSON string escaping over UTF-8 text, a block of bytes at a time.
#include <algorithm>
#include <array>
#include <cstring>

#include "encoder/plain_text.hpp"
#include "encoder/writers.hpp"
#include "runtime/errors.hpp"
#include "runtime/simd.hpp"

namespace mervanta {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// "00" to "ff" for every byte value.
constexpr auto kHexPairs = [] {
  std::array<char, 512> table{};
  for (int byte = 0; byte < 256; ++byte) {
    table[byte * 2] = kHex[byte >> 4];
    table[byte * 2 + 1] = kHex[byte & 0xF];
  }
  return table;
}();

inline char* put_unicode_escape(char* out, uint32_t unit) {
  out[0] = '\\';
  out[1] = 'u';
  std::memcpy(out + 2, kHexPairs.data() + (unit >> 8) * 2, 2);
  std::memcpy(out + 4, kHexPairs.data() + (unit & 0xFF) * 2, 2);
  return out + 6;
}

inline char* put_ascii_escape(char* out, unsigned char byte) {
  char kind = kEscapeKind[byte];
  if (kind == 'u') {
    return put_unicode_escape(out, byte);
  }
  out[0] = '\\';
  out[1] = kind;
  return out + 2;
}

// Decodes one multi-byte character at `in` and writes its \u escape(s). The
// text comes from the interpreter, so it is valid UTF-8 and every sequence is
// complete.
inline char* put_non_ascii_escape(char* out, const unsigned char*& in) {
  const unsigned char lead = in[0];
  uint32_t code_point;
  if (lead < 0xE0) {
    code_point = (uint32_t{lead & 0x1Fu} << 6) | (in[1] & 0x3Fu);
    in += 2;
  } else if (lead < 0xF0) {
    code_point = (uint32_t{lead & 0x0Fu} << 12) | (uint32_t{in[1] & 0x3Fu} << 6) | (in[2] & 0x3Fu);
    in += 3;
  } else {
    code_point = (uint32_t{lead & 0x07u} << 18) | (uint32_t{in[1] & 0x3Fu} << 12) |
                 (uint32_t{in[2] & 0x3Fu} << 6) | (in[3] & 0x3Fu);
    in += 4;
  }
  if (code_point < 0x10000) {
    return put_unicode_escape(out, code_point);
  }
  code_point -= 0x10000;
  out = put_unicode_escape(out, 0xD800 + (code_point >> 10));
  return put_unicode_escape(out, 0xDC00 + (code_point & 0x3FF));
}

#if MERVANTA_USE_SSE2
constexpr size_t kBlock = 16;
using BlockMask = unsigned;

// Copies the block at `in` to `out` and returns its special bytes, one bit each.
template <bool EnsureAscii>
inline unsigned copy_block(char* out, const unsigned char* in) {
  __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
  return special_mask<EnsureAscii>(block);
}

inline unsigned end_mark(size_t remaining) { return 1u << remaining; }
inline size_t first_special(unsigned mask) { return simd::first_set_bit(mask); }
#else
constexpr size_t kBlock = 8;
using BlockMask = uint64_t;

// The same over an 8-byte word, one high bit per special byte.
template <bool EnsureAscii>
inline uint64_t copy_block(char* out, const unsigned char* in) {
  const uint64_t word = simd::load_word(in);
  std::memcpy(out, &word, sizeof word);
  uint64_t special = simd::mark_equal(word, '"') | simd::mark_equal(word, '\\') | simd::mark_below(word, 0x20);
  if constexpr (EnsureAscii) {
    special |= simd::mark_non_ascii(word);
  }
  return special;
}

inline uint64_t end_mark(size_t remaining) { return simd::mark_at(remaining); }
inline size_t first_special(uint64_t mask) { return simd::first_marked_byte(mask); }
#endif

// Escapes [position, end) to out, which has room for 6 bytes per input byte
// plus 32. Safe bytes are copied a block at a time by storing the whole block
// and advancing past the safe prefix. Leaves `position` where it stopped: at
// `end`, or past it when a \u-escaped character straddles `end`.
template <bool EnsureAscii>
char* escape_run(char* out, const unsigned char*& position, const unsigned char* end) {
  // A local cursor: through the reference, every store to out would force
  // the position to be stored and reloaded.
  const unsigned char* in = position;
  while (in < end) {
    // Long safe runs (prose, non-ASCII text written as is): two blocks per test.
    while (static_cast<size_t>(end - in) >= 2 * kBlock) {
      const BlockMask first = copy_block<EnsureAscii>(out, in);
      const BlockMask second = copy_block<EnsureAscii>(out + kBlock, in + kBlock);
      if ((first | second) != 0) {
        break;
      }
      in += 2 * kBlock;
      out += 2 * kBlock;
    }
    size_t remaining = static_cast<size_t>(end - in);
    BlockMask mask;
    size_t block_length = kBlock;
    if (remaining >= kBlock) {
      mask = copy_block<EnsureAscii>(out, in);
    } else if (kMayReadPastEnd && load_stays_in_page(in, kBlock)) {
      mask = copy_block<EnsureAscii>(out, in) | end_mark(remaining);
      block_length = remaining;
    } else {
      while (in < end && !needs_escape<EnsureAscii>(*in)) {
        *out++ = static_cast<char>(*in++);
      }
      if (in == end) {
        break;
      }
      mask = 1;
    }
    if (mask == 0) {
      in += kBlock;
      out += kBlock;
      continue;
    }
    size_t safe = first_special(mask);
    in += safe;
    out += safe;
    if (safe == block_length && block_length < kBlock) {
      break;  // the rest of a short tail was safe
    }
    unsigned char byte = *in;
    if (byte < 0x80) {
      out = put_ascii_escape(out, byte);
      ++in;
    } else {
      // Non-ASCII text tends to come in runs (only when escaping to ASCII).
      do {
        out = put_non_ascii_escape(out, in);
      } while (in < end && *in >= 0x80);
    }
  }
  position = in;
  return out;
}

// Long texts go in slices so the room reserved for the worst case (six output
// bytes per input byte) stays bounded.
constexpr size_t kSlice = kEscapedAtMost;

template <bool EnsureAscii>
char* escape_quoted_at(char* out, const unsigned char* in, size_t length) {
  *out++ = '"';
  out = escape_run<EnsureAscii>(out, in, in + length);
  *out++ = '"';
  return out;
}

template <bool EnsureAscii>
void write_escaped(OutputBuffer& buffer, const unsigned char* in, size_t length) {
  if (length <= kShortPlainText) {
    buffer.reserve(kShortPlainRoom);
    char* const start = buffer.tail();
    if (char* const end = write_short_plain_at<EnsureAscii>(start, in, length)) {
      buffer.commit(static_cast<size_t>(end - start));
      return;
    }
  }
  const unsigned char* const end = in + length;
  if (length <= kEscapedAtMost) {
    buffer.reserve(escaped_room(length));
    char* const start = buffer.tail();
    buffer.commit(static_cast<size_t>(escape_quoted_at<EnsureAscii>(start, in, length) - start));
    return;
  }
  buffer.put('"');
  while (in < end) {
    const unsigned char* slice_end = in + std::min(static_cast<size_t>(end - in), kSlice);
    // A character straddling the slice end adds up to 3 bytes beyond it.
    buffer.reserve(static_cast<size_t>(slice_end - in) * 6 + 32);
    char* out = buffer.tail();
    char* const start = out;
    out = escape_run<EnsureAscii>(out, in, slice_end);
    buffer.commit(static_cast<size_t>(out - start));
  }
  buffer.put('"');
}

}  // namespace

char* write_escaped_at(char* out, const char* bytes, size_t length, bool ensure_ascii) {
  const auto* in = reinterpret_cast<const unsigned char*>(bytes);
  return ensure_ascii ? escape_quoted_at<true>(out, in, length) : escape_quoted_at<false>(out, in, length);
}

void write_escaped_string(EncoderState& state, const char* bytes, size_t length) {
  const auto* in = reinterpret_cast<const unsigned char*>(bytes);
  if (state.settings.ensure_ascii) {
    write_escaped<true>(state.buffer, in, length);
  } else {
    write_escaped<false>(state.buffer, in, length);
  }
}

bool write_str(PyObject* text, EncoderState& state) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
  if (utf8 == nullptr) {
    return false;
  }
  write_escaped_string(state, utf8, static_cast<size_t>(size));
  return true;
}

bool encode_text_value(PyObject* value, EncoderState& state) {
  if (!PyUnicode_Check(value)) {
    return fail_not_instance(value, "str");
  }
  return write_str(value, state);
}

std::string lenient_utf8(PyObject* text) {
  Py_ssize_t size = 0;
  if (const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size)) {
    return std::string(utf8, static_cast<size_t>(size));
  }
  PyErr_Clear();
  Ref passed = Ref::steal(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
  if (!passed) {
    PyErr_Clear();
    return {};
  }
  Ref replaced = Ref::steal(
      PyUnicode_DecodeUTF8(PyBytes_AsString(passed.get()), PyBytes_Size(passed.get()), "replace"));
  const char* utf8 = replaced ? PyUnicode_AsUTF8AndSize(replaced.get(), &size) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return {};
  }
  return std::string(utf8, static_cast<size_t>(size));
}

}  // namespace mervanta
