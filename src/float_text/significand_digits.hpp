// The decimal digits of a float's significand as one block of sixteen,
// leading zeros included, kept in a register where SSE2 is available. The
// layout stores the block straight to its place: no digits are written to
// memory and read back at another offset.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "encoder/digits.hpp"
#include "runtime/simd.hpp"

namespace mervanta::float_text {

#if MERVANTA_USE_SSE2

struct DigitBlock {
  __m128i digits;
};

// Exactly sixteen digits of value < 10^16.
inline DigitBlock sixteen_digits(uint64_t value) {
  const uint64_t high = value / 100000000;
  const uint64_t low = value - high * 100000000;
  // Each half below 10^8 split into two groups of four: x * 3518437209 >> 45
  // is x / 10^4 for every 32-bit x. Lanes, lowest first: high / 10^4,
  // high % 10^4, low / 10^4, low % 10^4.
  const __m128i halves = _mm_set_epi64x(static_cast<int64_t>(low), static_cast<int64_t>(high));
  const __m128i above = _mm_srli_epi64(_mm_mul_epu32(halves, _mm_set1_epi32(static_cast<int>(3518437209u))), 45);
  const __m128i below4 = _mm_sub_epi32(halves, _mm_mul_epu32(above, _mm_set1_epi32(10000)));
  const __m128i groups = _mm_or_si128(above, _mm_slli_epi64(below4, 32));
  // Each group, in the even 16-bit half of its lane (the odd half is zero),
  // split the same way: the quotient stays, the remainder moves up to the
  // odd half. x * 5243 >> 19 is x / 100 below 10^4, x * 6554 >> 16 is x / 10
  // below 100.
  __m128i hundred = _mm_set1_epi16(100);
  __m128i ten = _mm_set1_epi16(10);
#if defined(__GNUC__)
  // Opaque to the optimiser: one pmullw each instead of a chain of
  // shifts and adds that costs more instructions.
  __asm__("" : "+x"(hundred), "+x"(ten));
#endif
  const __m128i hundreds = _mm_srli_epi16(_mm_mulhi_epu16(groups, _mm_set1_epi16(5243)), 3);
  const __m128i below = _mm_sub_epi16(groups, _mm_mullo_epi16(hundreds, hundred));
  const __m128i pairs = _mm_or_si128(hundreds, _mm_slli_epi32(below, 16));
  const __m128i tens = _mm_mulhi_epu16(pairs, _mm_set1_epi16(6554));
  const __m128i ones = _mm_sub_epi16(pairs, _mm_mullo_epi16(tens, ten));
  // Little-endian lanes: tens in the low byte come first in memory.
  const __m128i digits = _mm_or_si128(tens, _mm_slli_epi16(ones, 8));
  return {_mm_add_epi8(digits, _mm_set1_epi8('0'))};
}

inline void store_block(char* out, DigitBlock block) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block.digits);
}

// The '0' digits at the block's end.
inline int trailing_zero_digits(DigitBlock block) {
  const auto zeros = static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block.digits, _mm_set1_epi8('0'))));
  return std::countl_one(zeros);
}

// Sixteen set bytes, then sixteen clear: loaded from 16 - n, the first n
// bytes are set.
alignas(32) inline constexpr unsigned char kLeadingMaskBytes[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// The block with a '.' after its first `point` digits, point in [0, 16]:
// 17 bytes at out.
inline void store_block_with_point(char* out, DigitBlock block, int point) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 1), block.digits);
  const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLeadingMaskBytes + 16 - point));
  const __m128i moved = _mm_slli_si128(block.digits, 1);
  const __m128i merged = _mm_or_si128(_mm_and_si128(before, block.digits), _mm_andnot_si128(before, moved));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), merged);
  out[point] = '.';
}

#else

struct DigitBlock {
  char digits[16];
};

inline DigitBlock sixteen_digits(uint64_t value) {
  DigitBlock block;
  write_eight_digits(block.digits, static_cast<uint32_t>(value / 100000000));
  write_eight_digits(block.digits + 8, static_cast<uint32_t>(value % 100000000));
  return block;
}

inline void store_block(char* out, const DigitBlock& block) { std::memcpy(out, block.digits, 16); }

// The '0' digits at the block's end: the bytes past the last other digit,
// counted from the top of each little-endian word.
inline int trailing_zero_digits(const DigitBlock& block) {
  constexpr uint64_t kZeros = 0x3030303030303030;
  uint64_t first;
  uint64_t second;
  std::memcpy(&first, block.digits, 8);
  std::memcpy(&second, block.digits + 8, 8);
  if ((second ^ kZeros) != 0) {
    return std::countl_zero(second ^ kZeros) / 8;
  }
  return 8 + std::countl_zero((first ^ kZeros) | 1) / 8;
}

inline void store_block_with_point(char* out, const DigitBlock& block, int point) {
  std::memcpy(out + 1, block.digits, 16);
  std::memcpy(out, block.digits, static_cast<size_t>(point));
  out[point] = '.';
}

#endif

// At most eight digits, scaled up to exactly eight, in one word: the SWAR
// twin of the block for short significands, cheaper than the sixteen.
struct ShortDigitBlock {
  uint64_t digits;  // the first digit in the lowest byte
};

// value < 10^8. Splits by 10^4, then every lane by 100, then by 10, all
// lanes at once: x * 10486 >> 20 is x / 100 below 10^4, x * 103 >> 10 is
// x / 10 below 100.
inline ShortDigitBlock eight_digits(uint32_t value) {
  const uint64_t high = value / 10000;
  const uint64_t fours = high | ((value - high * 10000) << 32);
  const uint64_t hundreds = ((fours * 10486) >> 20) & 0x0000007F0000007F;
  const uint64_t twos = hundreds | ((fours - hundreds * 100) << 16);
  const uint64_t tens = ((twos * 103) >> 10) & 0x000F000F000F000F;
  const uint64_t ones = (twos - tens * 10) << 8;
  return {(tens | ones) + 0x3030303030303030};
}

// Sixteen bytes: the eight digits, then zeros.
inline void store_block(char* out, ShortDigitBlock block) {
  std::memcpy(out, &block.digits, 8);
  std::memcpy(out + 8, "00000000", 8);
}

// point in [1, 7]: nine bytes at out.
inline void store_block_with_point(char* out, ShortDigitBlock block, int point) {
  std::memcpy(out + 1, &block.digits, 8);
  const uint64_t before = (uint64_t{1} << (8 * point)) - 1;
  const uint64_t merged = (block.digits & before) | ((block.digits << 8) & ~before);
  std::memcpy(out, &merged, 8);
  out[point] = '.';
}

}  // namespace mervanta::float_text
