// Integer and float text.
#include <cmath>
#include <cstring>

#include "encoder/writers.hpp"
#include "float_text/shortest.hpp"
#include "float_text/significand_digits.hpp"

namespace mervanta {

void write_integer_unsigned(EncoderState& state, uint64_t value) {
  state.buffer.reserve(kIntegerScratch);
  state.buffer.commit(static_cast<size_t>(write_digits(state.buffer.tail(), value)));
}

bool write_int_object_slow(PyObject* value, long long signed_value, int overflow, EncoderState& state) {
  if (overflow == 0) {
    // -1 is also the error value.
    if (PyErr_Occurred()) {
      return false;
    }
    write_integer_signed(state, signed_value);
    return true;
  }
  if (overflow > 0) {
    unsigned long long unsigned_value = PyLong_AsUnsignedLongLong(value);
    if (!(unsigned_value == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
      write_integer_unsigned(state, unsigned_value);
      return true;
    }
    PyErr_Clear();
  }
  // Beyond 64 bits: the exact decimal digits, never a rounded double. The
  // interpreter's limit on digits for int-to-str conversion still applies.
  Ref digits = Ref::steal(PyNumber_ToBase(value, 10));
  if (!digits) {
    return false;
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(digits.get(), &size);
  if (text == nullptr) {
    return false;
  }
  state.buffer.put(text, static_cast<size_t>(size));
  return true;
}

// "e" and the exponent, no '+' and no leading zeros.
[[gnu::always_inline]] inline char* write_float_exponent(char* out, int exponent) {
  *out++ = 'e';
  if (exponent < 0) {
    *out++ = '-';
    exponent = -exponent;
  }
  return out + write_small_digits(out, static_cast<uint32_t>(exponent));
}

// The text of significand x 10^k with count digits, at most 16,
// 10^(kk-1) <= value < 10^kk, from its digit block.
template <class Block>
[[gnu::always_inline]] inline char* lay_out_float(char* out, const Block& block, int count, int k) {
  const int kk = count + k;
  if (kk >= 1 && kk <= 16) {
    if (k >= 0) {
      // An integer of at most 16 digits: the block's zeros fill it out.
      float_text::store_block(out, block);
      out += kk;
      std::memcpy(out, ".0", 2);
      return out + 2;
    }
    float_text::store_block_with_point(out, block, kk);
    return out + count + 1;
  }
  if (kk >= -4 && kk <= 0) {
    std::memcpy(out, "0.000000", 8);
    out += 2 - kk;
    float_text::store_block(out, block);
    return out + count;
  }
  if (count > 1) {
    float_text::store_block_with_point(out, block, 1);
    out += count + 1;
  } else {
    float_text::store_block(out, block);
    out += 1;
  }
  return write_float_exponent(out, kk - 1);
}

// The same for 17 digits: the block holds the first sixteen, and the last
// follows them. 10^(kk-1) <= value < 10^kk with kk = 17 + k.
[[gnu::always_inline]] inline char* lay_out_seventeen_digits(char* out, float_text::DigitBlock block, char last,
                                                             int k) {
  const int kk = 17 + k;
  if (kk >= 1 && kk <= 16) {
    float_text::store_block_with_point(out, block, kk);
    out[17] = last;
    return out + 18;
  }
  if (kk >= -4 && kk <= 0) {
    std::memcpy(out, "0.000000", 8);
    out += 2 - kk;
    float_text::store_block(out, block);
    out[16] = last;
    return out + 17;
  }
  float_text::store_block_with_point(out, block, 1);
  out[17] = last;
  return write_float_exponent(out + 18, kk - 1);
}

// A result of any length, its digits counted.
[[gnu::always_inline]] inline char* write_counted_decimal(char* out, float_text::Decimal decimal) {
  uint64_t significand = decimal.significand;
  const int count = count_digits(significand);
  if (count <= 8) {
    // One digit (1e-07, 5e-324, 2.0): seven zeros after it need no arithmetic.
    const float_text::ShortDigitBlock block =
        count == 1 ? float_text::ShortDigitBlock{0x3030303030303030 + significand}
                   : float_text::eight_digits(static_cast<uint32_t>(significand * kPowersOfTen[8 - count]));
    return lay_out_float(out, block, count, decimal.exponent);
  }
  if (count == 17) {
    const uint64_t head = significand / 10;
    const char last = static_cast<char>('0' + (significand - head * 10));
    return lay_out_seventeen_digits(out, float_text::sixteen_digits(head), last, decimal.exponent);
  }
  const float_text::DigitBlock block = float_text::sixteen_digits(significand * kPowersOfTen[16 - count]);
  return lay_out_float(out, block, count, decimal.exponent);
}

namespace {

// Subnormals: rare, and out of line so that the common path keeps its
// results in registers.
[[gnu::noinline]] char* write_subnormal(char* out, uint64_t bits) {
  return write_counted_decimal(out, float_text::shortest_decimal_of_bits(bits));
}

}  // namespace

size_t format_float(double value, char* scratch) {
  constexpr uint64_t kSignBit = uint64_t{1} << 63;
  constexpr uint64_t kSmallestNormal = uint64_t{1} << 52;
  constexpr uint64_t kFifteenDigits = 1000000000000000;
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  char* out = scratch;
  // Signs come mixed in real data: no branch to mispredict.
  *out = '-';
  out += bits >> 63;
  bits &= ~kSignBit;
  if (bits == 0) {
    std::memcpy(out, "0.0", 3);
    return static_cast<size_t>(out + 3 - scratch);
  }
  if (bits < kSmallestNormal) {
    return static_cast<size_t>(write_subnormal(out, bits) - scratch);
  }
  // The digits go out as one block, stored whole; the bytes past the text
  // land in the scratch area's slack. Fewer digits are scaled up to the
  // block's width, so it starts with the first digit; a seventeenth follows.
  const float_text::Decimal decimal = float_text::shortest_decimal_of_bits<true>(bits);
  if (decimal.shape == float_text::Shape::one_more) {
    // The digit count follows from the head's: no counting, and no division
    // to split off a seventeenth digit.
    if (decimal.head >= kFifteenDigits) {
      const char last = static_cast<char>('0' + decimal.last_digit);
      out = lay_out_seventeen_digits(out, float_text::sixteen_digits(decimal.head), last, decimal.exponent);
    } else {
      out = lay_out_float(out, float_text::sixteen_digits(decimal.significand), 16, decimal.exponent);
    }
  } else if (decimal.shape == float_text::Shape::fewer) {
    // The zeros are found among the digits rather than by dividing; the
    // text's length then waits for them, so only these results look.
    // Fifteen digits or sixteen come mixed: scaled by a multiply, not a branch.
    const bool fifteen = decimal.significand < kFifteenDigits;
    const float_text::DigitBlock block = float_text::sixteen_digits(decimal.significand * (1 + 9 * fifteen));
    const int significant = 16 - float_text::trailing_zero_digits(block);
    out = lay_out_float(out, block, significant, decimal.exponent + 16 - fifteen - significant);
  } else {
    out = write_counted_decimal(out, decimal);
  }
  return static_cast<size_t>(out - scratch);
}

bool write_non_finite(double value, EncoderState& state) {
  if (!state.settings.allow_nan) {
    PyErr_SetString(PyExc_ValueError, "Out of range float values are not JSON compliant");
    return false;
  }
  if (std::isnan(value)) {
    state.buffer.put("NaN", 3);
  } else if (value > 0) {
    state.buffer.put("Infinity", 8);
  } else {
    state.buffer.put("-Infinity", 9);
  }
  return true;
}

}  // namespace mervanta
