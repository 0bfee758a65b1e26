// Lookup of the generated 128-bit powers of ten, and the integer logarithms
// both float algorithms use to find them.
#pragma once

#include <cstdint>

#include "float_text/power_table.hpp"

namespace mervanta::float_text {

struct Uint128Parts {
  uint64_t high;
  uint64_t low;
};

// 10^power as 128 leading bits, truncated; power in [kLowestPower, kHighestPower].
inline Uint128Parts power_of_ten(int power) {
  const uint64_t* entry = kPowersOfTen128[power - kLowestPower];
  return {entry[0], entry[1]};
}

// floor(log10(2^e)) for |e| <= 5456.
constexpr int floor_log10_pow2(int e) { return static_cast<int>((int64_t{e} * 661971961083) >> 41); }

// floor(log10(3/4 * 2^e)) for |e| <= 5456.
constexpr int floor_log10_three_quarters_pow2(int e) {
  return static_cast<int>((int64_t{e} * 661971961083 - 274743187321) >> 41);
}

// floor(log2(10^e)) for |e| <= 1650.
constexpr int floor_log2_pow10(int e) { return static_cast<int>((int64_t{e} * 913124641741) >> 38); }

inline uint64_t multiply_high(uint64_t a, uint64_t b) {
  return static_cast<uint64_t>((static_cast<unsigned __int128>(a) * b) >> 64);
}

}  // namespace mervanta::float_text
