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

}  // namespace mervanta::float_text
