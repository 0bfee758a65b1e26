// Decimal digits of unsigned integers, two at a time.
#pragma once

#include <cstdint>
#include <cstring>

namespace mervanta {

inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline constexpr uint64_t kPowersOfTen[] = {
    1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull, 10000000ull, 100000000ull, 1000000000ull,
    10000000000ull, 100000000000ull, 1000000000000ull, 10000000000000ull, 100000000000000ull,
    1000000000000000ull, 10000000000000000ull, 100000000000000000ull, 1000000000000000000ull,
    10000000000000000000ull};

// Number of decimal digits, from the bit length (1233/4096 ~ log10(2)).
inline int count_digits(uint64_t value) {
  const int bits = 64 - __builtin_clzll(value | 1);
  const int estimate = (bits * 1233) >> 12;
  return estimate + 1 - ((value | 1) < kPowersOfTen[estimate]);
}

inline void write_pair(char* out, unsigned pair) { std::memcpy(out, kDigitPairs + pair * 2, 2); }

// Exactly eight digits, leading zeros included.
inline void write_eight_digits(char* out, uint32_t value) {
  const uint32_t high = value / 10000, low = value % 10000;
  write_pair(out, high / 100);
  write_pair(out + 2, high % 100);
  write_pair(out + 4, low / 100);
  write_pair(out + 6, low % 100);
}

// Up to eight digits, no leading zeros; returns the count.
inline int write_small_digits(char* out, uint32_t value) {
  const int count = count_digits(value);
  char* end = out + count;
  while (value >= 100) {
    end -= 2;
    write_pair(end, value % 100);
    value /= 100;
  }
  if (value >= 10) {
    write_pair(end - 2, value);
  } else {
    end[-1] = static_cast<char>('0' + value);
  }
  return count;
}

// Writes the digits of `value` at `out` (at most 20 bytes); returns the count.
// Works in eight-digit chunks so the divisions stay 32-bit where possible.
inline int write_digits(char* out, uint64_t value) {
  constexpr uint64_t kChunk = 100000000;
  if (value < kChunk) {
    return write_small_digits(out, static_cast<uint32_t>(value));
  }
  if (value < kChunk * kChunk) {
    const int count = write_small_digits(out, static_cast<uint32_t>(value / kChunk));
    write_eight_digits(out + count, static_cast<uint32_t>(value % kChunk));
    return count + 8;
  }
  const int count = write_small_digits(out, static_cast<uint32_t>(value / (kChunk * kChunk)));
  write_eight_digits(out + count, static_cast<uint32_t>(value / kChunk % kChunk));
  write_eight_digits(out + count + 8, static_cast<uint32_t>(value % kChunk));
  return count + 16;
}

}  // namespace mervanta
