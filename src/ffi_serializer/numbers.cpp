// Integer and float text.
#include <charconv>
#include <cmath>
#include <cstring>

#include "ffi_serializer/writers.hpp"

namespace mervanta {

void write_integer_signed(EncoderState& state, int64_t value) {
  state.buffer.reserve(20);
  char* out = state.buffer.tail();
  auto result = std::to_chars(out, out + 20, value);
  state.buffer.commit(static_cast<size_t>(result.ptr - out));
}

void write_integer_unsigned(EncoderState& state, uint64_t value) {
  state.buffer.reserve(20);
  char* out = state.buffer.tail();
  auto result = std::to_chars(out, out + 20, value);
  state.buffer.commit(static_cast<size_t>(result.ptr - out));
}

bool write_int_object(PyObject* value, EncoderState& state) {
  int overflow = 0;
  long long signed_value = PyLong_AsLongLongAndOverflow(value, &overflow);
  if (overflow == 0) {
    if (signed_value == -1 && PyErr_Occurred()) {
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
  if (value == 0.0) {
    if (std::signbit(value)) {
      std::memcpy(out, "-0.0", 4);
      return 4;
    }
    std::memcpy(out, "0.0", 3);
    return 3;
  }
  // Shortest round-trip digits in scientific form: [-]d[.ddd]e(+|-)xx
  char sci[32];
  auto result = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
  const char* p = sci;
  if (*p == '-') {
    *out++ = '-';
    ++p;
  }
  char digits[20];
  int count = 0;
  digits[count++] = *p++;
  if (*p == '.') {
    ++p;
    while (*p != 'e') {
      digits[count++] = *p++;
    }
  }
  ++p;  // 'e'
  bool negative_exponent = *p == '-';
  ++p;
  int exponent = 0;
  while (p < result.ptr) {
    exponent = exponent * 10 + (*p++ - '0');
  }
  if (negative_exponent) {
    exponent = -exponent;
  }
  // 10^(kk-1) <= |value| < 10^kk; k is the exponent of the last digit.
  const int kk = exponent + 1;
  const int k = kk - count;
  if (k >= 0 && kk <= 16) {
    std::memcpy(out, digits, static_cast<size_t>(count));
    out += count;
    std::memset(out, '0', static_cast<size_t>(k));
    out += k;
    *out++ = '.';
    *out++ = '0';
  } else if (kk >= 1 && kk <= 16) {
    std::memcpy(out, digits, static_cast<size_t>(kk));
    out += kk;
    *out++ = '.';
    std::memcpy(out, digits + kk, static_cast<size_t>(count - kk));
    out += count - kk;
  } else if (kk >= -4 && kk <= 0) {
    *out++ = '0';
    *out++ = '.';
    std::memset(out, '0', static_cast<size_t>(-kk));
    out += -kk;
    std::memcpy(out, digits, static_cast<size_t>(count));
    out += count;
  } else {
    *out++ = digits[0];
    if (count > 1) {
      *out++ = '.';
      std::memcpy(out, digits + 1, static_cast<size_t>(count - 1));
      out += count - 1;
    }
    *out++ = 'e';
    out = std::to_chars(out, out + 8, kk - 1).ptr;
  }
  return static_cast<size_t>(out - scratch);
}

bool write_float(double value, EncoderState& state, bool allow_nan) {
  if (!std::isfinite(value)) {
    if (!allow_nan) {
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
  state.buffer.reserve(32);
  size_t length = format_float(value, state.buffer.tail());
  state.buffer.commit(length);
  return true;
}

}  // namespace mervanta
