// Decimal digits of unsigned integers, two at a time.
#pragma once

#include <bit>
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
[[gnu::always_inline]] inline int count_digits(uint64_t value) {
  const int bits = 64 - std::countl_zero(value | 1);
  const int estimate = (bits * 1233) >> 12;
  return estimate + 1 - ((value | 1) < kPowersOfTen[estimate]);
}

[[gnu::always_inline]] inline void write_pair(char* out, unsigned pair) { std::memcpy(out, kDigitPairs + pair * 2, 2); }

// Exactly eight digits, leading zeros included. value / 10^6 is taken in
// fixed point with 48 fraction bits; each step multiplies the fraction by 100
// to bring the next two digits above the point. The multiplier
// ceil(2^48 / 10^6) is exact for every value below 10^8.
[[gnu::always_inline]] inline void write_eight_digits(char* out, uint32_t value) {
  constexpr uint64_t kMultiplier = 281474977;
  constexpr uint64_t kFraction = (uint64_t{1} << 48) - 1;
  uint64_t fixed = value * kMultiplier;
  write_pair(out, static_cast<unsigned>(fixed >> 48));
  fixed = (fixed & kFraction) * 100;
  write_pair(out + 2, static_cast<unsigned>(fixed >> 48));
  fixed = (fixed & kFraction) * 100;
  write_pair(out + 4, static_cast<unsigned>(fixed >> 48));
  fixed = (fixed & kFraction) * 100;
  write_pair(out + 6, static_cast<unsigned>(fixed >> 48));
}

// One or two digits, no leading zero; returns the count.
[[gnu::always_inline]] inline int write_one_or_two(char* out, uint32_t value) {
  if (value < 10) {
    *out = static_cast<char>('0' + value);
    return 1;
  }
  write_pair(out, value);
  return 2;
}

// Up to eight digits, no leading zeros; returns the count. Splits off the
// leading one or two digits, then writes the rest in pairs: short numbers
// (counts, indices, small ids) take a few instructions. Stores at most eight
// bytes at out.
[[gnu::always_inline]] inline int write_small_digits(char* out, uint32_t value) {
  if (value < 100) {
    return write_one_or_two(out, value);
  }
  if (value < 10000) {
    const uint32_t head = value / 100;
    const int count = write_one_or_two(out, head);
    write_pair(out + count, value - head * 100);
    return count + 2;
  }
  if (value < 1000000) {
    const uint32_t head = value / 10000;
    const uint32_t rest = value - head * 10000;
    const int count = write_one_or_two(out, head);
    write_pair(out + count, rest / 100);
    write_pair(out + count + 2, rest % 100);
    return count + 4;
  }
  const uint32_t head = value / 1000000;
  const uint32_t rest = value - head * 1000000;
  const int count = write_one_or_two(out, head);
  const uint32_t high = rest / 10000;
  const uint32_t low = rest - high * 10000;
  write_pair(out + count, high);
  write_pair(out + count + 2, low / 100);
  write_pair(out + count + 4, low % 100);
  return count + 6;
}

// Writes the digits of `value` at `out`; returns the count (at most 20). Works
// in eight-digit chunks; may store up to 24 bytes at out.
[[gnu::always_inline]] inline int write_digits(char* out, uint64_t value) {
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
