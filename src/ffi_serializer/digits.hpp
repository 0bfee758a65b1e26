// Decimal digits of unsigned integers, two at a time.
#pragma once

#include <cstdint>
#include <cstring>

namespace mervanta {

inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline int count_digits(uint64_t value) {
  int count = 1;
  for (;;) {
    if (value < 10) return count;
    if (value < 100) return count + 1;
    if (value < 1000) return count + 2;
    if (value < 10000) return count + 3;
    value /= 10000;
    count += 4;
  }
}

// Writes the digits of `value` at `out` (at most 20 bytes); returns the count.
inline int write_digits(char* out, uint64_t value) {
  const int count = count_digits(value);
  char* end = out + count;
  while (value >= 100) {
    const unsigned pair = static_cast<unsigned>(value % 100) * 2;
    value /= 100;
    end -= 2;
    std::memcpy(end, kDigitPairs + pair, 2);
  }
  if (value >= 10) {
    end -= 2;
    std::memcpy(end, kDigitPairs + value * 2, 2);
  } else {
    *--end = static_cast<char>('0' + value);
  }
  return count;
}

}  // namespace mervanta
