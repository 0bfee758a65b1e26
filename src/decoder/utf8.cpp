// UTF-8 validity and Unicode White_Space trimming over UTF-8 bytes.
#include <cstring>

#include "decoder/utf8.hpp"
#include "runtime/simd.hpp"

namespace mervanta {

namespace {

inline bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the valid sequence starting with a non-ASCII byte, or 0.
size_t valid_sequence_length(const unsigned char* at, size_t remaining) {
  unsigned char lead = at[0];
  if (lead < 0xC2 || lead > 0xF4) {
    return 0;
  }
  if (lead < 0xE0) {
    return remaining >= 2 && is_continuation(at[1]) ? 2 : 0;
  }
  if (lead < 0xF0) {
    if (remaining < 3 || !is_continuation(at[1]) || !is_continuation(at[2])) {
      return 0;
    }
    if ((lead == 0xE0 && at[1] < 0xA0) || (lead == 0xED && at[1] >= 0xA0)) {
      return 0;  // overlong form or surrogate
    }
    return 3;
  }
  if (remaining < 4 || !is_continuation(at[1]) || !is_continuation(at[2]) || !is_continuation(at[3])) {
    return 0;
  }
  if ((lead == 0xF0 && at[1] < 0x90) || (lead == 0xF4 && at[1] >= 0x90)) {
    return 0;  // overlong form or beyond U+10FFFF
  }
  return 4;
}

// Byte length of a White_Space character at the start of `text`, or 0.
size_t leading_space_length(std::string_view text) {
  const auto* at = reinterpret_cast<const unsigned char*>(text.data());
  size_t size = text.size();
  if (size == 0) {
    return 0;
  }
  if ((at[0] >= 0x09 && at[0] <= 0x0D) || at[0] == 0x20) {
    return 1;
  }
  if (size >= 2 && at[0] == 0xC2 && (at[1] == 0x85 || at[1] == 0xA0)) {
    return 2;
  }
  if (size < 3) {
    return 0;
  }
  unsigned code = (at[0] & 0x0Fu) << 12 | (at[1] & 0x3Fu) << 6 | (at[2] & 0x3Fu);
  if ((at[0] & 0xF0) != 0xE0 || !is_continuation(at[1]) || !is_continuation(at[2])) {
    return 0;
  }
  bool space = code == 0x1680 || (code >= 0x2000 && code <= 0x200A) || code == 0x2028 || code == 0x2029 ||
               code == 0x202F || code == 0x205F || code == 0x3000;
  return space ? 3 : 0;
}

// Byte length of a White_Space character at the end of `text`, or 0.
size_t trailing_space_length(std::string_view text) {
  size_t size = text.size();
  for (size_t length = 1; length <= 3 && length <= size; ++length) {
    if (leading_space_length(text.substr(size - length)) == length) {
      return length;
    }
  }
  return 0;
}

}  // namespace

bool is_valid_utf8(const unsigned char* bytes, size_t size) {
  size_t at = 0;
  while (at < size) {
    // ASCII runs are skipped a block at a time.
#if MERVANTA_USE_SSE2
    if (size - at >= 16) {
      __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
      if (_mm_movemask_epi8(block) == 0) {
        at += 16;
        continue;
      }
    }
#else
    if (size - at >= 8 && simd::mark_non_ascii(simd::load_word(bytes + at)) == 0) {
      at += 8;
      continue;
    }
#endif
    if (bytes[at] < 0x80) {
      ++at;
      continue;
    }
    size_t length = valid_sequence_length(bytes + at, size - at);
    if (length == 0) {
      return false;
    }
    at += length;
  }
  return true;
}

// Bytes past `to` are never taken for part of a sequence: the caller's runs
// end at a quote, a backslash or the zero padding, none of which is a
// continuation byte, so a sequence cut off there fails its own checks.
uint32_t* decode_utf8(const unsigned char* from, const unsigned char* to, uint32_t* out, uint32_t& bits) {
  const unsigned char* at = from;
  uint32_t seen = 0;
  while (at < to) {
    const uint32_t lead = at[0];
    if (lead < 0x80) {
      // Runs of ASCII are widened a block at a time.
#if MERVANTA_USE_SSE2
      if (to - at >= 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        if (_mm_movemask_epi8(block) == 0) {
          const __m128i zero = _mm_setzero_si128();
          __m128i low = _mm_unpacklo_epi8(block, zero);
          __m128i high = _mm_unpackhi_epi8(block, zero);
          _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(low, zero));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), _mm_unpackhi_epi16(low, zero));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpacklo_epi16(high, zero));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), _mm_unpackhi_epi16(high, zero));
          at += 16;
          out += 16;
          continue;
        }
      }
#else
      if (to - at >= 8 && simd::mark_non_ascii(simd::load_word(at)) == 0) {
        for (int i = 0; i < 8; ++i) {
          out[i] = at[i];
        }
        at += 8;
        out += 8;
        continue;
      }
#endif
      *out++ = lead;
      ++at;
      continue;
    }
    const uint32_t second = at[1];
    uint32_t code;
    if (lead < 0xE0) {
      // C0 and C1 would be overlong forms of ASCII.
      if (lead < 0xC2 || (second & 0xC0) != 0x80) {
        return nullptr;
      }
      code = (lead & 0x1Fu) << 6 | (second & 0x3Fu);
      at += 2;
    } else if (lead < 0xF0) {
      // Three-byte characters (most of CJK) tend to come in runs.
      uint32_t run = lead;
      for (;;) {
        const uint32_t third = at[2];
        if ((((at[1] & 0xC0u) << 8 | (third & 0xC0u)) ^ 0x8080u) != 0) {
          return nullptr;
        }
        const uint32_t value = (run & 0x0Fu) << 12 | (at[1] & 0x3Fu) << 6 | (third & 0x3Fu);
        // Overlong forms and surrogates.
        if (value < 0x800 || value - 0xD800 < 0x800) {
          return nullptr;
        }
        seen |= value;
        *out++ = value;
        at += 3;
        run = at[0];
        if (at >= to || (run & 0xF0u) != 0xE0u) {
          break;
        }
      }
      continue;
    } else {
      const uint32_t third = at[2];
      const uint32_t fourth = at[3];
      if (lead > 0xF4 || (((second & 0xC0) ^ 0x80) | ((third & 0xC0) ^ 0x80) | ((fourth & 0xC0) ^ 0x80)) != 0) {
        return nullptr;
      }
      code = (lead & 0x07u) << 18 | (second & 0x3Fu) << 12 | (third & 0x3Fu) << 6 | (fourth & 0x3Fu);
      // Overlong forms and code points past U+10FFFF.
      if (code - 0x10000 >= 0x100000) {
        return nullptr;
      }
      at += 4;
    }
    seen |= code;
    *out++ = code;
  }
  bits |= seen;
  return out;
}

std::string_view trim_unicode_whitespace(std::string_view text) {
  while (size_t length = leading_space_length(text)) {
    text.remove_prefix(length);
  }
  while (size_t length = trailing_space_length(text)) {
    text.remove_suffix(length);
  }
  return text;
}

}  // namespace mervanta
