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

// The text of significand x 10^k with count digits, 10^(kk-1) <= value <
// 10^kk, from its digit block; lead is the first of 17 digits, else unused.
template <class Block>
[[gnu::always_inline]] inline char* lay_out_float(char* out, const Block& block, int count, int k, char lead) {
  const int kk = count + k;
  if (kk >= 1 && kk <= 16) {
    if (k >= 0) {
      // An integer of at most 16 digits: the block's zeros fill it out.
      float_text::store_block(out, block);
      out += kk;
      std::memcpy(out, ".0", 2);
      out += 2;
    } else if (count < 17) {
      float_text::store_block_with_point(out, block, kk);
      out += count + 1;
    } else {
      *out = lead;
      float_text::store_block_with_point(out + 1, block, kk - 1);
      out += 18;
    }
  } else if (kk >= -4 && kk <= 0) {
    std::memcpy(out, "0.000000", 8);
    out += 2 - kk;
    if (count == 17) {
      *out++ = lead;
      float_text::store_block(out, block);
      out += 16;
    } else {
      float_text::store_block(out, block);
      out += count;
    }
  } else {
    if (count == 17) {
      out[0] = lead;
      out[1] = '.';
      float_text::store_block(out + 2, block);
      out += 18;
    } else if (count > 1) {
      float_text::store_block_with_point(out, block, 1);
      out += count + 1;
    } else {
      float_text::store_block(out, block);
      out += 1;
    }
    *out++ = 'e';
    int exponent = kk - 1;
    if (exponent < 0) {
      *out++ = '-';
      exponent = -exponent;
    }
    out += write_small_digits(out, static_cast<uint32_t>(exponent));
  }
  return out;
}

size_t format_float(double value, char* scratch) {
  constexpr uint64_t kSignBit = uint64_t{1} << 63;
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
  const float_text::Decimal decimal = float_text::shortest_decimal_of_bits<true>(bits);
  // The digits go out as one block, stored whole; the bytes past the text
  // land in the scratch area's slack. Fewer digits are scaled up to the
  // block's width, so it starts with the first digit; a seventeenth leads.
  uint64_t significand = decimal.significand;
  const int count = count_digits(significand);
  if (count <= 8) {
    // One digit (1e-07, 5e-324, 2.0): seven zeros after it need no arithmetic.
    const float_text::ShortDigitBlock block =
        count == 1 ? float_text::ShortDigitBlock{0x3030303030303030 + significand}
                   : float_text::eight_digits(static_cast<uint32_t>(significand * kPowersOfTen[8 - count]));
    out = lay_out_float(out, block, count, decimal.exponent, 0);
  } else {
    char lead = 0;
    if (count == 17) {
      constexpr uint64_t kSixteenDigits = 10000000000000000;
      lead = static_cast<char>('0' + significand / kSixteenDigits);
      significand %= kSixteenDigits;
    } else {
      significand *= kPowersOfTen[16 - count];
    }
    const float_text::DigitBlock block = float_text::sixteen_digits(significand);
    if (decimal.may_end_in_zeros) {
      // Found among the digits rather than by dividing; the text's length
      // then waits for them, so only these results look.
      const int significant = 16 - float_text::trailing_zero_digits(block);
      out = lay_out_float(out, block, significant, decimal.exponent + count - significant, lead);
    } else {
      out = lay_out_float(out, block, count, decimal.exponent, lead);
    }
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
