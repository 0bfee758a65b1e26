// Eight ASCII digits at a time (SWAR), after Daniel Lemire, "Number Parsing
// at a Gigabyte per Second" (2021).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace mervanta::float_text {

// Eight bytes as a little-endian word: the first byte is the lowest.
inline uint64_t load_eight(const char* at) {
  uint64_t word;
  std::memcpy(&word, at, sizeof word);
  if constexpr (std::endian::native == std::endian::big) {
    word = __builtin_bswap64(word);
  }
  return word;
}

// Every byte in '0'..'9': its high nibble is 3, and adding 6 keeps it 3.
inline bool all_eight_digits(uint64_t word) {
  constexpr uint64_t kHighNibbles = 0xF0F0F0F0F0F0F0F0;
  return ((word & kHighNibbles) | (((word + 0x0606060606060606) & kHighNibbles) >> 4)) == 0x3333333333333333;
}

// The value of eight digits, the first the most significant: pairs, then
// fours, then the whole, each step one multiply.
inline uint32_t eight_digits_value(uint64_t word) {
  word -= 0x3030303030303030;
  word = word * 10 + (word >> 8);  // two-digit values in bytes 0, 2, 4, 6
  constexpr uint64_t kPairMask = 0x000000FF000000FF;
  constexpr uint64_t kOuter = 100 + (uint64_t{1000000} << 32);
  constexpr uint64_t kInner = 1 + (uint64_t{10000} << 32);
  return static_cast<uint32_t>(((word & kPairMask) * kOuter + ((word >> 16) & kPairMask) * kInner) >> 32);
}

// How many of the eight bytes, from the first, are digits (0 to 8). Each
// byte minus '0' is below 10 exactly for digits; adding 0x76 sets the top bit
// of every byte 10 or more. A carry only reaches bytes after a non-digit.
inline int leading_digit_count(uint64_t word) {
  const uint64_t offsets = word ^ 0x3030303030303030;
  const uint64_t non_digits = ((offsets + 0x7676767676767676) | offsets) & 0x8080808080808080;
  return non_digits == 0 ? 8 : std::countr_zero(non_digits) >> 3;
}

// The first `count` (1 to 7) bytes as a number: moved to the end of the
// word, with '0' bytes in front.
inline uint32_t leading_digits_value(uint64_t word, int count) {
  const int shift = 8 * (8 - count);
  return eight_digits_value((word << shift) | (0x3030303030303030 >> (64 - shift)));
}

}  // namespace mervanta::float_text
