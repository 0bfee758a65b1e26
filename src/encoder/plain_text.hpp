// Which bytes a JSON string must escape, and short texts that need no escape
// written whole: the common case of keys, names and many values.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "runtime/short_escapes.hpp"
#include "runtime/simd.hpp"

namespace mervanta {

// Escape of each ASCII byte that needs one: the short form's letter, 'u' for
// \u00XX, or 0 when the byte is copied unchanged.
inline constexpr auto kEscapeKind = [] {
  std::array<char, 128> table{};
  for (int b = 0; b < 0x20; ++b) table[b] = 'u';
  for (const ShortEscape& escape : kShortEscapes) table[static_cast<unsigned char>(escape.character)] = escape.letter;
  return table;
}();

template <bool EnsureAscii>
inline bool needs_escape(unsigned char byte) {
  if constexpr (EnsureAscii) {
    return byte >= 0x80 || kEscapeKind[byte] != 0;
  } else {
    return byte < 0x80 && kEscapeKind[byte] != 0;
  }
}

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kMayReadPastEnd = false;
#else
inline constexpr bool kMayReadPastEnd = true;
#endif

// A load of `width` bytes at p stays inside p's memory page, so reading past
// the end of the text cannot fault; the bytes past the end are masked off.
inline bool load_stays_in_page(const unsigned char* p, size_t width) {
  return (reinterpret_cast<uintptr_t>(p) & 4095) <= 4096 - width;
}

#if MERVANTA_USE_SSE2
// Bytes of one 16-byte block that need work: control bytes, '"', '\' and,
// when escaping to ASCII, every byte of 0x80 and above.
template <bool EnsureAscii>
inline unsigned special_mask(__m128i block) {
  // x ^ 2 maps '"' to 0x20 and keeps control bytes below 0x20, so one
  // comparison finds both.
  const __m128i flipped = _mm_xor_si128(block, _mm_set1_epi8(2));
  __m128i special;
  if constexpr (EnsureAscii) {
    // Signed: bytes of 0x80 and above count as below too.
    special = _mm_cmpgt_epi8(_mm_set1_epi8(0x21), flipped);
  } else {
    const __m128i limit = _mm_set1_epi8(0x20);
    special = _mm_cmpeq_epi8(_mm_max_epu8(flipped, limit), limit);
  }
  special = _mm_or_si128(special, _mm_cmpeq_epi8(block, _mm_set1_epi8('\\')));
  return static_cast<unsigned>(_mm_movemask_epi8(special));
}

// Texts up to this many bytes may take the short path: one or two blocks.
inline constexpr size_t kShortPlainText = 32;
#else
inline constexpr size_t kShortPlainText = 16;
#endif

// Room write_short_plain_at may use.
inline constexpr size_t kShortPlainRoom = 34;

// The quoted text at out, inside kShortPlainRoom bytes of reserved room, when
// it is at most kShortPlainText bytes and needs no escape; returns its end,
// or null with nothing of use written.
template <bool EnsureAscii>
[[gnu::always_inline]] inline char* write_short_plain_at(char* out, const unsigned char* in, size_t length) {
  constexpr size_t kBlock = 16;
#if MERVANTA_USE_SSE2
  if (length > 2 * kBlock) {
    return nullptr;
  }
  // Two blocks from the text's start, whatever its length: lengths come mixed
  // in real data, and a branch on them would be mispredicted. Bytes past the
  // text are read only inside its memory page, and ignored.
  __m128i head;
  __m128i tail;
  if (kMayReadPastEnd && load_stays_in_page(in, 2 * kBlock)) {
    head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + kBlock));
  } else {
    unsigned char staged[2 * kBlock] = {};
    std::memcpy(staged, in, length);
    head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(staged));
    tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(staged + kBlock));
  }
  const uint32_t specials = special_mask<EnsureAscii>(head) | (special_mask<EnsureAscii>(tail) << kBlock);
  const auto in_text = static_cast<uint32_t>((uint64_t{1} << length) - 1);
  if ((specials & in_text) != 0) {
    return nullptr;
  }
  out[0] = '"';
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 1), head);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 1 + kBlock), tail);
#else
  if (length > kBlock) {
    return nullptr;
  }
  for (size_t i = 0; i < length; ++i) {
    if (needs_escape<EnsureAscii>(in[i])) {
      return nullptr;
    }
  }
  out[0] = '"';
  std::memcpy(out + 1, in, length);
#endif
  out[length + 1] = '"';
  return out + length + 2;
}

// UTF-8 text written whole when short and plain, as write_short_plain_at.
[[gnu::always_inline]] inline char* write_plain_text_at(char* out, const char* utf8, size_t length,
                                                        bool ensure_ascii) {
  if (length > kShortPlainText) {
    return nullptr;
  }
  const auto* in = reinterpret_cast<const unsigned char*>(utf8);
  return ensure_ascii ? write_short_plain_at<true>(out, in, length) : write_short_plain_at<false>(out, in, length);
}

}  // namespace mervanta
