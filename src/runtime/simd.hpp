// Which byte-scanning paths are compiled, and the helpers their portable
// twins share. Every SSE2 path has a scalar twin that gives the same result;
// the twins read eight bytes at a time in a 64-bit word (SWAR).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Building with MERVANTA_FORCE_SCALAR defined compiles the scalar twins on
// x86-64 too, so that they are tested there.
#if defined(__SSE2__) && !defined(MERVANTA_FORCE_SCALAR)
#define MERVANTA_USE_SSE2 1
#include <emmintrin.h>
#else
#define MERVANTA_USE_SSE2 0
#endif

namespace mervanta::simd {

// Index of the lowest set bit; the mask must not be zero.
inline unsigned first_set_bit(uint32_t mask) { return static_cast<unsigned>(std::countr_zero(mask)); }
inline unsigned first_set_bit(uint64_t mask) { return static_cast<unsigned>(std::countr_zero(mask)); }

// Eight bytes as one word, the first byte in memory lowest on a little-endian
// machine.
inline uint64_t load_word(const void* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

inline constexpr uint64_t kLowBits = 0x0101010101010101ull;
inline constexpr uint64_t kHighBits = 0x8080808080808080ull;
inline constexpr uint64_t kLowSevenBits = 0x7F7F7F7F7F7F7F7Full;

// The byte marks below set the high bit of each byte that matches and clear
// every other bit. They are exact, without the borrows of the shorter
// "has a zero byte" trick, so masks can be combined and each mark is true.

// Bytes of 0x80 and above.
inline uint64_t mark_non_ascii(uint64_t word) { return word & kHighBits; }

// Bytes equal to `byte`.
inline uint64_t mark_equal(uint64_t word, unsigned char byte) {
  const uint64_t zeroed = word ^ (kLowBits * byte);
  // A byte's low seven bits plus 0x7F reach bit 7 unless they are all zero.
  return ~(((zeroed & kLowSevenBits) + kLowSevenBits) | zeroed) & kHighBits;
}

// Bytes below `limit`, for 1 <= limit <= 0x80.
inline uint64_t mark_below(uint64_t word, unsigned limit) {
  // A byte's low seven bits plus (0x80 - limit) reach bit 7 when they are at
  // least `limit`; a byte whose own bit 7 is set is not below.
  return ~(((word & kLowSevenBits) + kLowBits * (0x80 - limit)) | word) & kHighBits;
}

// Index in memory order of the first marked byte; `marks` must not be zero.
inline size_t first_marked_byte(uint64_t marks) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<size_t>(std::countr_zero(marks)) / 8;
  } else {
    return static_cast<size_t>(std::countl_zero(marks)) / 8;
  }
}

// The mark of the byte at `index` in memory order, for index < 8.
inline uint64_t mark_at(size_t index) {
  if constexpr (std::endian::native == std::endian::little) {
    return uint64_t{0x80} << (index * 8);
  } else {
    return uint64_t{0x80} << ((7 - index) * 8);
  }
}

// The marks of every byte before `index` in memory order, for index < 8.
inline uint64_t marks_before(size_t index) {
  if constexpr (std::endian::native == std::endian::little) {
    return (mark_at(index) - 1) & kHighBits;
  } else {
    return index == 0 ? 0 : ~uint64_t{0} << ((8 - index) * 8) & kHighBits;
  }
}

}  // namespace mervanta::simd
