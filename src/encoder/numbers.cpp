// Integer and float text.
#include <charconv>
#include <cmath>
#include <cstring>

#include "encoder/digits.hpp"
#include "encoder/writers.hpp"

#if MERVANTA_HAVE_DRAGONBOX
// fmt's Dragonbox gives the same shortest digits as std::to_chars, about three
// times faster; the full power table trades 10 KB for speed.
#define FMT_HEADER_ONLY
#define FMT_USE_FULL_CACHE_DRAGONBOX 1
#include <fmt/format.h>
#endif

namespace mervanta {

// Room for the sign and the stores of write_digits.
constexpr size_t kIntegerScratch = 32;

void write_integer_signed(EncoderState& state, int64_t value) {
  state.buffer.reserve(kIntegerScratch);
  char* out = state.buffer.tail();
  // The magnitude as unsigned, so -2**63 works.
  uint64_t magnitude = static_cast<uint64_t>(value);
  size_t sign = 0;
  if (value < 0) {
    *out = '-';
    magnitude = 0 - magnitude;
    sign = 1;
  }
  state.buffer.commit(sign + static_cast<size_t>(write_digits(out + sign, magnitude)));
}

void write_integer_unsigned(EncoderState& state, uint64_t value) {
  state.buffer.reserve(kIntegerScratch);
  state.buffer.commit(static_cast<size_t>(write_digits(state.buffer.tail(), value)));
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

namespace {

// The shortest digits that read back to the same double (the nearest when two
// candidates are possible): value = significand x 10^exponent, no trailing zeros.
struct ShortestDecimal {
  uint64_t significand;
  int exponent;
};

ShortestDecimal shortest_decimal(double magnitude) {
#if MERVANTA_HAVE_DRAGONBOX
  auto decimal = fmt::detail::dragonbox::to_decimal(magnitude);
  ShortestDecimal result{decimal.significand, decimal.exponent};
#else
  // Scientific form d[.ddd]e(+|-)xx: value = digits x 10^(xx - fraction digits).
  char text[32];
  auto written = std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific);
  ShortestDecimal result{0, 0};
  const char* p = text;
  int fraction_digits = 0;
  bool after_point = false;
  for (; *p != 'e'; ++p) {
    if (*p == '.') {
      after_point = true;
      continue;
    }
    result.significand = result.significand * 10 + static_cast<uint64_t>(*p - '0');
    fraction_digits += after_point;
  }
  int exponent = 0;
  std::from_chars(p + 1 + (p[1] == '+'), written.ptr, exponent);
  result.exponent = exponent - fraction_digits;
#endif
  return result;
}

}  // namespace

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
  const ShortestDecimal decimal = shortest_decimal(value);
  // Fixed-size copies below may move a few bytes past the digits; the scratch
  // area has room for them and only the counted bytes are kept.
  char digits[48];
  const int count = write_digits(digits, decimal.significand);
  // 10^(kk-1) <= value < 10^kk; k is the exponent of the last digit.
  const int k = decimal.exponent;
  const int kk = count + k;
  if (k >= 0 && kk <= 16) {
    std::memcpy(out, digits, 16);
    std::memset(out + count, '0', 16);
    out += kk;
    out[0] = '.';
    out[1] = '0';
    out += 2;
  } else if (kk >= 1 && kk <= 16) {
    std::memcpy(out, digits, 16);
    out += kk;
    *out++ = '.';
    std::memcpy(out, digits + kk, 24);
    out += count - kk;
  } else if (kk >= -4 && kk <= 0) {
    std::memcpy(out, "0.000000", 8);
    out += 2 - kk;
    std::memcpy(out, digits, 24);
    out += count;
  } else {
    *out++ = digits[0];
    if (count > 1) {
      *out++ = '.';
      std::memcpy(out, digits + 1, 24);
      out += count - 1;
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
