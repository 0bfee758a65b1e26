// The decimal digits of a float's significand (at most 17), written in place.
// Sixteen of them come from one SSE2 conversion where available.
#pragma once

#include <cstdint>
#include <cstring>

#include "encoder/digits.hpp"
#include "runtime/simd.hpp"

namespace mervanta::float_text {

// Exactly sixteen digits of value < 10^16, leading zeros included.
inline void write_sixteen_digits(char* out, uint64_t value) {
  const uint32_t high = static_cast<uint32_t>(value / 100000000);
  const uint32_t low = static_cast<uint32_t>(value % 100000000);
#if MERVANTA_USE_SSE2
  // Four groups of four digits, each copied to both 16-bit halves of its
  // 32-bit lane: the even half becomes the group's first pair, the odd half
  // its second. Division by constants is a high multiply: x * 5243 >> 19 is
  // x / 100 below 10^4, x * 6554 >> 16 is x / 10 below 100.
  const __m128i groups = _mm_set_epi32(static_cast<int>(low % 10000), static_cast<int>(low / 10000),
                                       static_cast<int>(high % 10000), static_cast<int>(high / 10000));
  const __m128i both = _mm_or_si128(groups, _mm_slli_epi32(groups, 16));
  const __m128i hundreds = _mm_srli_epi16(_mm_mulhi_epu16(both, _mm_set1_epi16(5243)), 3);
  const __m128i below = _mm_sub_epi16(both, _mm_mullo_epi16(hundreds, _mm_set1_epi16(100)));
  const __m128i odd_halves = _mm_set1_epi32(static_cast<int>(0xFFFF0000u));
  const __m128i pairs = _mm_or_si128(_mm_andnot_si128(odd_halves, hundreds), _mm_and_si128(odd_halves, below));
  const __m128i tens = _mm_mulhi_epu16(pairs, _mm_set1_epi16(6554));
  const __m128i ones = _mm_sub_epi16(pairs, _mm_mullo_epi16(tens, _mm_set1_epi16(10)));
  // Little-endian lanes: tens in the low byte come first in memory.
  const __m128i digits = _mm_or_si128(tens, _mm_slli_epi16(ones, 8));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_add_epi8(digits, _mm_set1_epi8('0')));
#else
  write_eight_digits(out, high);
  write_eight_digits(out + 8, low);
#endif
}

// Returns the count. May store up to 24 bytes at out.
inline int write_significand(char* out, uint64_t value) {
  constexpr uint64_t kEightDigits = 100000000;
  constexpr uint64_t kSixteenDigits = 10000000000000000;
  if (value < kEightDigits) {
    return write_small_digits(out, static_cast<uint32_t>(value));
  }
  if (value >= kSixteenDigits) {  // 17 digits, the most a double needs
    *out = static_cast<char>('0' + value / kSixteenDigits);
    write_sixteen_digits(out + 1, value % kSixteenDigits);
    return 17;
  }
  // 9 to 16 digits: all sixteen, then the leading zeros dropped.
  const int count = count_digits(value);
  char digits[32];  // the copy reads 16 bytes from any start up to 16
  write_sixteen_digits(digits, value);
  std::memcpy(out, digits + 16 - count, 16);
  return count;
}

}  // namespace mervanta::float_text
