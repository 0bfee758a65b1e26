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

size_t format_float(double value, char* scratch) {
  char* out = scratch;
  if (std::signbit(value)) {
    *out++ = '-';
    value = -value;
  }
  if (value == 0.0) {
    std::memcpy(out, "0.0", 3);
    return static_cast<size_t>(out + 3 - scratch);
  }
  const float_text::Decimal decimal = float_text::shortest_decimal(value);
  // The digits go straight to their place; fixed-size copies may move a few
  // bytes past them, which the scratch area has room for.
  // 10^(kk-1) <= value < 10^kk; k is the exponent of the last digit.
  const int k = decimal.exponent;
  const int count = float_text::write_significand(out, decimal.significand);
  const int kk = count + k;
  if (k >= 0 && kk <= 16) {
    std::memset(out + count, '0', 16);
    out += kk;
    std::memcpy(out, ".0", 2);
    out += 2;
  } else if (kk >= 1 && kk <= 16) {
    // At most 16 digits follow the point.
    std::memmove(out + kk + 1, out + kk, 16);
    out[kk] = '.';
    out += count + 1;
  } else if (kk >= -4 && kk <= 0) {
    char digits[24];
    std::memcpy(digits, out, 24);
    std::memcpy(out, "0.000000", 8);
    out += 2 - kk;
    std::memcpy(out, digits, 24);
    out += count;
  } else {
    if (count > 1) {
      std::memmove(out + 2, out + 1, 16);
      out[1] = '.';
      out += count + 1;
    } else {
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
  return static_cast<size_t>(out - scratch);
}

bool write_float(double value, EncoderState& state) {
  if (!std::isfinite(value)) {
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
  state.buffer.reserve(kFloatScratch);
  size_t length = format_float(value, state.buffer.tail());
  state.buffer.commit(length);
  return true;
}

}  // namespace mervanta
