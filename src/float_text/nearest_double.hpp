// The double nearest to w x 10^q, correctly rounded (ties to even).
//
// Exact products of small values first (Clinger, "How to read floating point
// numbers accurately", 1990); otherwise Eisel-Lemire: one or two 64x64-bit
// products with a truncated 128-bit power of ten, after Daniel Lemire, "Number
// Parsing at a Gigabyte per Second" (2021). Noble Mushtak and Daniel Lemire,
// "Fast number parsing without fallback" (2023), show the two products always
// decide for a w that is exact, so no fallback is needed here.
#pragma once

#include <bit>

#include <cstdint>
#include <cstring>

#include "float_text/power_of_ten.hpp"

namespace mervanta::float_text {

// Beyond these, every w < 2^64 gives zero or infinity.
inline constexpr int kZeroBelowPower = kLowestPower;
inline constexpr int kInfinityAbovePower = 308;

namespace detail {

inline constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

inline double from_bits(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace detail

// IEEE bits of the positive double nearest to w x 10^q, w >= 1.
inline uint64_t nearest_double_bits(uint64_t w, int q) {
  constexpr uint64_t kInfinityBits = 0x7FF0000000000000;
  if (q < kZeroBelowPower) {
    return 0;
  }
  if (q > kInfinityAbovePower) {
    return kInfinityBits;
  }
  const int shift = std::countl_zero(w);
  w <<= shift;
  // Negative powers are never exact; rounded up instead of truncated, an exact
  // tie stays recognisable by the nearly zero bits below it.
  Uint128Parts power = power_of_ten(q);
  const uint64_t round_up = q < 0;
  power.low += round_up;
  power.high += power.low < round_up;
  const unsigned __int128 first = static_cast<unsigned __int128>(w) * power.high;
  uint64_t high = static_cast<uint64_t>(first >> 64);
  uint64_t low = static_cast<uint64_t>(first);
  // The 9 bits below the 55 kept ones all set: the truncated low half of
  // the power could carry into them, so add its product.
  if ((high & 0x1FF) == 0x1FF) {
    const uint64_t carry = multiply_high(w, power.low);
    low += carry;
    high += low < carry;
  }
  const int top = static_cast<int>(high >> 63);
  const int drop = top + 9;
  // 54 bits: the 53 of the double and one more for rounding.
  uint64_t m = high >> drop;
  int biased = floor_log2_pow10(q) + 1086 + top - shift;
  if (biased <= 0) {
    // Subnormal: no ties are possible this low, so round half up.
    if (1 - biased >= 64) {
      return 0;
    }
    m >>= 1 - biased;
    m = (m + (m & 1)) >> 1;
    // Rounding up to 2^52 lands on the smallest normal, whose bits are the same.
    return m;
  }
  // Exactly halfway, possible only for small |q|: round to even.
  if (low <= 1 && q >= -4 && q <= 23 && (m & 3) == 1 && (m << drop) == high) {
    m &= ~uint64_t{1};
  }
  m = (m + (m & 1)) >> 1;
  if (m >= uint64_t{1} << 53) {
    m >>= 1;
    ++biased;
  }
  if (biased >= 0x7FF) {
    return kInfinityBits;
  }
  return (static_cast<uint64_t>(biased) << 52) | (m & ((uint64_t{1} << 52) - 1));
}

// w x 10^q with q clamped to int by the caller; the sign is applied after.
inline double nearest_double(uint64_t w, int q) {
  if (w == 0) {
    return 0.0;
  }
  if (w <= (uint64_t{1} << 53) && q >= -22 && q <= 22) {
    // Both operands exact, so one correctly rounded operation.
    const double value = static_cast<double>(w);
    return q < 0 ? value / detail::kExactPowersOfTen[-q] : value * detail::kExactPowersOfTen[q];
  }
  return detail::from_bits(nearest_double_bits(w, q));
}

}  // namespace mervanta::float_text
