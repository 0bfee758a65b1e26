// Shortest round-trip decimal of a double: Dragonbox, after Junekey Jeon,
// "Dragonbox: A New Floating-Point Binary-to-Decimal Conversion Algorithm"
// (2020, revised 2024). Among the decimals that read back to the double it
// picks the one with the fewest digits, then the nearest, ties to an even
// last digit; the same digits as repr(). The common case costs one 64x128
// multiply; the interval's ends are only looked at when a remainder says they
// could matter.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "float_text/power_of_ten.hpp"

namespace mervanta::float_text {

// What the writer may assume about a result's digits, saving it the count.
enum class Shape : uint8_t {
  // Any length; trailing zeros only on integers below 2^53.
  counted,
  // The shorter try of a normal double: 15 or 16 digits, trailing zeros kept.
  fewer,
  // The longer try of a normal double: 16 or 17 digits, none of them
  // trailing zeros; head holds all but the last.
  one_more,
};

// value = significand x 10^exponent.
struct Decimal {
  uint64_t significand;
  int exponent;
  Shape shape = Shape::counted;
  // Shape::one_more: significand = 10 head + last_digit.
  uint8_t last_digit = 0;
  uint64_t head = 0;
};

namespace detail {

// 10^power's 128 leading bits rounded up, power in [kWriterLowestPower,
// kHighestPower].
inline Uint128Parts power_of_ten_rounded_up(int power) {
  const uint64_t* entry = kPowersOfTen128Up[power - kWriterLowestPower];
  return {entry[0], entry[1]};
}

// Per biased exponent, the decimal scale of the common interval: saves the
// logarithms on every call. The power's entry is kept as its byte offset in
// the table, so that the two loads follow each other with no arithmetic
// between them.
struct Scale {
  uint16_t power_offset;
  int8_t beta;
};

inline constexpr int kPowerEntryBytes = sizeof kPowersOfTen128Up[0];

inline Uint128Parts power_of_ten_rounded_up_at(uint16_t power_offset) {
  const auto* table = reinterpret_cast<const unsigned char*>(kPowersOfTen128Up);
  uint64_t entry[2];
  std::memcpy(entry, table + power_offset, sizeof entry);
  return {entry[0], entry[1]};
}

inline int minus_k_at(uint16_t power_offset) { return -(power_offset / kPowerEntryBytes + kWriterLowestPower); }

inline constexpr int kKappa = 2;

inline constexpr std::array<Scale, 2047> kScales = [] {
  std::array<Scale, 2047> scales{};
  for (int biased = 0; biased < 2047; ++biased) {
    const int q = biased == 0 ? -1074 : biased - 1075;
    const int minus_k = floor_log10_pow2(q) - kKappa;
    const int power_offset = (-minus_k - kWriterLowestPower) * kPowerEntryBytes;
    scales[biased] = {static_cast<uint16_t>(power_offset), static_cast<int8_t>(q + floor_log2_pow10(-minus_k))};
  }
  return scales;
}();

// The bits 64..191 of the 192-bit u x cache.
inline Uint128Parts multiply_upper(uint64_t u, Uint128Parts cache) {
  unsigned __int128 product = static_cast<unsigned __int128>(u) * cache.high;
  product += multiply_high(u, cache.low);
  return {static_cast<uint64_t>(product >> 64), static_cast<uint64_t>(product)};
}

struct Parity {
  bool odd;
  bool integer;
};

// Parity of floor(u x 2^(beta-1) x 10^k) and whether that product is an
// integer, from the low 128 bits of u x cache.
inline Parity multiply_parity(uint64_t u, Uint128Parts cache, int beta) {
  const unsigned __int128 low_product = static_cast<unsigned __int128>(u) * cache.low;
  const uint64_t high = u * cache.high + static_cast<uint64_t>(low_product >> 64);
  const uint64_t low = static_cast<uint64_t>(low_product);
  return {((high >> (64 - beta)) & 1) != 0, ((high << beta) | (low >> (64 - beta))) == 0};
}

// n / 10^power when 10^power divides n. n x 5^-power (mod 2^64) rotated
// right by `power` is n / 10^power exactly for the multiples; every other n
// lands above 2^64 / 10^power (an odd quotient's low bits rotate to the top).
template <int power>
inline bool divide_exactly(uint64_t& n) {
  constexpr uint64_t five_power = [] {
    uint64_t p = 1;
    for (int i = 0; i < power; ++i) p *= 5;
    return p;
  }();
  constexpr uint64_t inverse = [] {
    // Newton's iteration doubles the correct low bits of an odd number's inverse.
    uint64_t x = five_power;
    for (int i = 0; i < 6; ++i) x *= 2 - five_power * x;
    return x;
  }();
  static_assert(inverse * five_power == 1);
  constexpr uint64_t limit = ~uint64_t{0} / (five_power << power);
  const uint64_t quotient = std::rotr(n * inverse, power);
  if (quotient > limit) {
    return false;
  }
  n = quotient;
  return true;
}

// Below 10^16 there are at most 15 trailing zeros; most results have none,
// so one test settles them and the rest is halved 8, 4, 2, 1.
inline Decimal drop_trailing_zeros(Decimal decimal) {
  if (!divide_exactly<1>(decimal.significand)) {
    return decimal;
  }
  int dropped = 1;
  if (divide_exactly<8>(decimal.significand)) dropped += 8;
  if (divide_exactly<4>(decimal.significand)) dropped += 4;
  if (divide_exactly<2>(decimal.significand)) dropped += 2;
  if (divide_exactly<1>(decimal.significand)) dropped += 1;
  decimal.exponent += dropped;
  return decimal;
}

// A result of the shorter try, trimmed unless the caller keeps zeros (then
// the double is normal).
template <bool KeepZeros>
inline Decimal fewer_digits(Decimal decimal) {
  if (KeepZeros) {
    decimal.shape = Shape::fewer;
    return decimal;
  }
  return drop_trailing_zeros(decimal);
}

// A power of two whose lower neighbour is a quarter of its spacing away, not
// a half: c = 2^52, q the binary exponent.
inline Decimal shorter_interval(int q) {
  const int minus_k = floor_log10_three_quarters_pow2(q);
  const int beta = q + floor_log2_pow10(-minus_k);
  const uint64_t cache_high = power_of_ten_rounded_up(-minus_k).high;
  // (c - 1/4) 2^q 10^k and (c + 1/2) 2^q 10^k, floored; 10^k = cache 2^(beta-q-127).
  uint64_t xi = (cache_high - (cache_high >> 54)) >> (11 - beta);
  const uint64_t zi = (cache_high + (cache_high >> 53)) >> (11 - beta);
  // Both ends belong to the interval (c is even); the left one is an integer
  // only for q in [2, 3].
  if (q < 2 || q > 3) {
    ++xi;
  }
  const uint64_t shorter = zi / 10;
  if (shorter * 10 >= xi) {
    return drop_trailing_zeros({shorter, minus_k + 1});
  }
  // c 2^q 10^k rounded half up, then a tie (only at q = -77) to even.
  uint64_t nearest = ((cache_high >> (10 - beta)) + 1) / 2;
  if ((nearest & 1) != 0 && q == -77) {
    --nearest;
  } else if (nearest < xi) {
    ++nearest;
  }
  return {nearest, minus_k};
}

}  // namespace detail

// The IEEE bits of a finite, nonzero, positive double. Integers below 2^53
// come back as they are (trailing zeros kept, exponent 0); every other result
// has none, unless KeepZeros: then the double must be normal, the results
// come with their shape, and those of the shorter try keep their trailing
// zeros (the caller finds them among the digits it writes anyway).
template <bool KeepZeros = false>
[[gnu::always_inline]] inline Decimal shortest_decimal_of_bits(uint64_t bits) {
  constexpr int kSignificandBits = 52;
  constexpr uint64_t kHiddenBit = uint64_t{1} << kSignificandBits;
  // The interval is scaled to [100, 1000) units: the first try divides by 1000.
  constexpr int kKappa = detail::kKappa;
  constexpr uint32_t kBigDivisor = 1000;
  constexpr uint32_t kSmallDivisor = 100;
  const uint64_t fraction = bits & (kHiddenBit - 1);
  const int biased = static_cast<int>(bits >> kSignificandBits);
  uint64_t c;
  int q;
  if (biased != 0) {
    c = fraction | kHiddenBit;
    q = biased - 1075;
    // An integer below 2^53 is its own shortest decimal.
    if (q < 0 && q > -53 && (c << (64 + q)) == 0) {
      return {c >> -q, 0};
    }
    if (fraction == 0 && biased > 1) {
      return detail::shorter_interval(q);
    }
  } else {
    c = fraction;
    q = -1074;
  }
  // With k = kKappa - floor(q log10 2), the interval (c -+ 1/2) 2^q 10^k is
  // delta = 2^q 10^k wide, 100 <= delta < 1000. Both ends belong to it when
  // c is even (reading rounds ties to even).
  const detail::Scale scale = detail::kScales[biased];
  const int minus_k = detail::minus_k_at(scale.power_offset);
  const int beta = scale.beta;
  const Uint128Parts cache = detail::power_of_ten_rounded_up_at(scale.power_offset);
  const uint32_t delta = static_cast<uint32_t>(cache.high >> (63 - beta));
  const uint64_t two_c = c << 1;
  const bool even = (c & 1) == 0;
  // zi = floor of the upper end z; zi_exact when z is an integer.
  const Uint128Parts z = detail::multiply_upper((two_c | 1) << beta, cache);
  const uint64_t zi = z.high;
  uint64_t significand = zi / kBigDivisor;
  uint32_t r = static_cast<uint32_t>(zi - significand * kBigDivisor);
  if (r < delta) {
    // The multiple of 1000 just below z is inside, unless it is z itself and
    // z does not belong.
    if (r == 0 && z.low == 0 && !even) {
      --significand;
      r = kBigDivisor;
    } else {
      return detail::fewer_digits<KeepZeros>({significand, minus_k + kKappa + 1});
    }
  } else if (r == delta) {
    // On the lower end's integer part: inside when the lower end x is just
    // below it (odd floor, since zi - r is even) or x is it and belongs.
    const detail::Parity x = detail::multiply_parity(two_c - 1, cache, beta);
    if (x.odd || (x.integer && even)) {
      return detail::fewer_digits<KeepZeros>({significand, minus_k + kKappa + 1});
    }
  }
  // One digit more: the value itself rounded to a multiple of 100. With y =
  // z - delta/2, y + 50 is about zi - delta/2 + 50 = 1000 significand + dist.
  const uint32_t dist = r - (delta / 2) + (kSmallDivisor / 2);
  const bool approximate_parity = (dist & 1) != 0;
  // dist <= 1000: x 656 >> 16 divides by 100, and the low 16 bits stay
  // below 656 exactly for the multiples of 100.
  const uint32_t scaled = dist * 656;
  const bool divisible = (scaled & 0xFFFF) < 656;
  // r >= delta >= 100 here, so the last digit starts at 1 or more and the
  // one correction below never borrows from the head. It stays below 10:
  // r = 1000 needs z to be an integer, and no exponent with delta < 102 has one.
  uint32_t last_digit = scaled >> 16;
  if (divisible) {
    // The approximation may be one above floor(y); the parity of the exact
    // floor(y) tells. When they agree and y is an integer, y + 50 is an exact
    // multiple of 100: a tie, to even.
    const detail::Parity y = detail::multiply_parity(two_c, cache, beta);
    if (y.odd != approximate_parity) {
      --last_digit;
    } else if (y.integer && (last_digit & 1) != 0) {
      --last_digit;
    }
  }
  Decimal decimal{significand * 10 + last_digit, minus_k + kKappa};
  if (KeepZeros) {
    decimal.shape = Shape::one_more;
    decimal.last_digit = static_cast<uint8_t>(last_digit);
    decimal.head = significand;
  }
  return decimal;
}

inline Decimal shortest_decimal(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return shortest_decimal_of_bits(bits);
}

}  // namespace mervanta::float_text
