// Shortest round-trip decimal of a double: Schubfach, after Raffaello
// Giulietti, "The Schubfach way to render doubles" (2020). Among the decimals
// that read back to the double it picks the one with the fewest digits, then
// the nearest, ties to an even last digit; the same digits as repr().
#pragma once

#include <cstdint>
#include <cstring>

#include "float_text/power_of_ten.hpp"

namespace mervanta::float_text {

// value = significand x 10^exponent.
struct Decimal {
  uint64_t significand;
  int exponent;
};

namespace detail {

// g x cp / 2^127 rounded to odd, g = high63 x 2^63 + low63 (126 bits): the
// odd low bit keeps "exactly on a boundary" apart from "just past it".
inline uint64_t round_to_odd(uint64_t high63, uint64_t low63, uint64_t cp) {
  const uint64_t x1 = multiply_high(low63, cp);
  const unsigned __int128 y = static_cast<unsigned __int128>(high63) * cp;
  const uint64_t y0 = static_cast<uint64_t>(y);
  const uint64_t y1 = static_cast<uint64_t>(y >> 64);
  const uint64_t z = (y0 >> 1) + x1;
  const uint64_t mask63 = (uint64_t{1} << 63) - 1;
  return (y1 + (z >> 63)) | (((z & mask63) + mask63) >> 63);
}

inline Decimal drop_trailing_zeros(Decimal decimal) {
  while (decimal.significand % 10 == 0) {
    decimal.significand /= 10;
    ++decimal.exponent;
  }
  return decimal;
}

}  // namespace detail

// A finite, nonzero, positive double. Integers below 2^53 come back as they
// are (trailing zeros kept, exponent 0); every other result has none.
inline Decimal shortest_decimal(double value) {
  constexpr int kSignificandBits = 52;
  constexpr int kLowestExponent = -1074;
  constexpr uint64_t kHiddenBit = uint64_t{1} << kSignificandBits;
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const uint64_t fraction = bits & (kHiddenBit - 1);
  const int biased = static_cast<int>(bits >> kSignificandBits);
  uint64_t c;
  int q;
  if (biased != 0) {
    c = fraction | kHiddenBit;
    q = biased - 1075;
    // An integer below 2^53 is its own shortest decimal.
    if (q < 0 && q > -53 && (c & ((uint64_t{1} << -q) - 1)) == 0) {
      return {c >> -q, 0};
    }
  } else {
    c = fraction;
    q = kLowestExponent;
  }
  // The rounding interval [cbl, cbr] around cb, in quarters of 2^q. Its ends
  // belong to it when c is even (reading rounds ties to even).
  const uint64_t odd = c & 1;
  const uint64_t cb = c << 2;
  const uint64_t cbr = cb + 2;
  uint64_t cbl;
  int k;
  if (c != kHiddenBit || q == kLowestExponent) {
    cbl = cb - 2;
    k = floor_log10_pow2(q);
  } else {
    // The lower neighbour is half as far at a power of two.
    cbl = cb - 1;
    k = floor_log10_three_quarters_pow2(q);
  }
  const int h = q + floor_log2_pow10(-k) + 2;
  const Uint128Parts power = power_of_ten(-k);
  // The 126-bit multiplier floor(10^-k 2^(125-e)) + 1 from the truncated table.
  const unsigned __int128 g = ((static_cast<unsigned __int128>(power.high) << 64 | power.low) >> 2) + 1;
  const uint64_t high63 = static_cast<uint64_t>(g >> 63);
  const uint64_t low63 = static_cast<uint64_t>(g) & ((uint64_t{1} << 63) - 1);
  const uint64_t vb = detail::round_to_odd(high63, low63, cb << h);
  const uint64_t vbl = detail::round_to_odd(high63, low63, cbl << h);
  const uint64_t vbr = detail::round_to_odd(high63, low63, cbr << h);
  const uint64_t s = vb >> 2;
  if (s >= 10) {
    // One digit fewer: at most one multiple of ten fits in the interval.
    const uint64_t sp = s / 10;
    const uint64_t sp10 = sp * 10;
    const uint64_t tp10 = sp10 + 10;
    const bool lower_in = vbl + odd <= sp10 << 2;
    const bool upper_in = (tp10 << 2) + odd <= vbr;
    if (lower_in != upper_in) {
      // The multiple of ten with its known trailing zero already dropped.
      return detail::drop_trailing_zeros({lower_in ? sp : sp + 1, k + 1});
    }
  }
  const uint64_t t = s + 1;
  const bool lower_in = vbl + odd <= s << 2;
  const bool upper_in = (t << 2) + odd <= vbr;
  if (lower_in != upper_in) {
    return detail::drop_trailing_zeros({lower_in ? s : t, k});
  }
  // Both fit: the nearer, ties to even.
  const int64_t distance = static_cast<int64_t>(vb - ((s + t) << 1));
  const uint64_t nearer = (distance < 0 || (distance == 0 && (s & 1) == 0)) ? s : t;
  return detail::drop_trailing_zeros({nearer, k});
}

}  // namespace mervanta::float_text
