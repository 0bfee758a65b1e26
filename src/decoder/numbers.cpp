// JSON numbers: one pass reads the text and its digits; 64-bit integers and
// floats are converted natively, larger integers go to the built-in int.
#include <charconv>
#include <cstring>
#include <string>
#include <system_error>

#include "decoder/parser.hpp"
#include "float_text/eight_digits.hpp"
#include "float_text/nearest_double.hpp"
#include "runtime/errors.hpp"
#include "runtime/lookup.hpp"

namespace mervanta {

namespace {

inline bool is_digit(char byte) { return static_cast<unsigned char>(byte - '0') < 10; }

// A double's significand needs at most 19 decimal digits to be kept exactly.
constexpr uint64_t kMaxExactDigits = 19;
// The explicit exponent stops growing here; any larger gives zero or infinity.
constexpr int64_t kExponentCap = 100000000;

struct ScannedNumber {
  const char* begin;
  const char* end;
  const char* digits;  // first digit of the integer part
  uint64_t integer_digits;
  uint64_t integer_value;  // of the integer part; exact below 20 digits
  bool negative;
  bool is_float;
  // Floats only: the digits of both parts as one integer (exact when there
  // are at most 19 of them) and the exponent of its last digit.
  bool well_formed;  // a digit before the exponent, and one after its 'e'
  uint64_t digit_count;
  uint64_t significand;
  int64_t exponent;
};

// Digits at `at` added to `value`, eight at a time, the last few in one go.
inline const char* read_digits(const char* at, uint64_t& value) {
  static constexpr uint64_t kScale[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
  for (;;) {
    const uint64_t word = float_text::load_eight(at);
    const int count = float_text::leading_digit_count(word);
    if (count == 8) {
      value = value * 100000000 + float_text::eight_digits_value(word);
      at += 8;
      continue;
    }
    if (count > 0) {
      value = value * kScale[count] + float_text::leading_digits_value(word, count);
    }
    return at + count;
  }
}

// The fraction and exponent after the integer part.
[[gnu::noinline]] void scan_float_tail(ScannedNumber& number, const char* at) {
  number.is_float = true;
  uint64_t value = number.integer_value;
  uint64_t fraction_digits = 0;
  if (*at == '.') {
    const char* first = ++at;
    at = read_digits(at, value);
    fraction_digits = static_cast<uint64_t>(at - first);
  }
  number.digit_count = number.integer_digits + fraction_digits;
  number.significand = value;
  number.well_formed = number.digit_count > 0;
  int64_t exponent = 0;
  if (*at == 'e' || *at == 'E') {
    ++at;
    const bool negative = *at == '-';
    at += (*at == '+' || *at == '-');
    const char* first = at;
    while (is_digit(*at)) {
      if (exponent < kExponentCap) {
        exponent = exponent * 10 + (*at - '0');
      }
      ++at;
    }
    number.well_formed &= at != first;
    exponent = negative ? -exponent : exponent;
  }
  number.exponent = exponent - static_cast<int64_t>(fraction_digits);
  number.end = at;
}

// Never fails. The padding after the text stops every loop and covers the
// eight-byte reads.
inline ScannedNumber scan_number(const char* begin) {
  ScannedNumber number;
  const char* at = begin;
  number.begin = begin;
  number.negative = *at == '-';
  at += number.negative;
  number.digits = at;
  uint64_t value = 0;
  at = read_digits(at, value);
  number.integer_digits = static_cast<uint64_t>(at - number.digits);
  number.integer_value = value;
  if (*at == '.' || *at == 'e' || *at == 'E') {
    scan_float_tail(number, at);
  } else {
    number.is_float = false;
    number.end = at;
  }
  return number;
}

Ref make_text(const char* begin, const char* end) {
  return Ref::steal(PyUnicode_FromStringAndSize(begin, end - begin));
}

Ref call_number_hook(PyObject* hook, const char* begin, const char* end) {
  Ref text = make_text(begin, end);
  if (!text) {
    return {};
  }
  return call_with_one(hook, text.get());
}

// Beyond both 64-bit ranges: the built-in int, looked up afresh each time.
[[gnu::noinline]] Ref parse_big_integer(const char* begin, const char* end) {
  PyObject* builtins_name = interned<names::kBuiltinsModule>();
  Ref builtins = builtins_name ? Ref::steal(PyImport_Import(builtins_name)) : Ref();
  if (!builtins) {
    return {};
  }
  Ref int_type = getattr<names::kInt>(builtins.get());
  if (!int_type) {
    return {};
  }
  return call_number_hook(int_type.get(), begin, end);
}

[[gnu::noinline]] Ref parse_long_integer(const ScannedNumber& number) {
  int64_t signed_value = 0;
  auto signed_result = std::from_chars(number.begin, number.end, signed_value);
  if (signed_result.ec == std::errc() && signed_result.ptr == number.end) {
    return Ref::steal(PyLong_FromLongLong(signed_value));
  }
  if (!number.negative && number.integer_digits > 0) {
    uint64_t unsigned_value = 0;
    auto unsigned_result = std::from_chars(number.digits, number.end, unsigned_value);
    if (unsigned_result.ec == std::errc() && unsigned_result.ptr == number.end) {
      return Ref::steal(PyLong_FromUnsignedLongLong(unsigned_value));
    }
  }
  return parse_big_integer(number.begin, number.end);
}

Ref parse_integer(const ScannedNumber& number) {
  if (number.integer_digits > 0 && number.integer_digits <= 18) {
    int64_t value = static_cast<int64_t>(number.integer_value);
    return Ref::steal(PyLong_FromLongLong(number.negative ? -value : value));
  }
  return parse_long_integer(number);
}

// from_chars reports values beyond the double range instead of rounding them
// to infinity or zero; the interpreter's correctly rounded parser does that.
[[gnu::noinline]] Ref parse_out_of_range_float(const char* begin, const char* end) {
  std::string text(begin, end);
  char* stop = nullptr;
  double value = PyOS_string_to_double(text.c_str(), &stop, nullptr);
  if (value == -1.0 && PyErr_Occurred()) {
    return {};
  }
  if (stop != text.c_str() + text.size()) {
    raise_fault("float text accepted by from_chars was rejected by the interpreter");
  }
  return Ref::steal(PyFloat_FromDouble(value));
}

// Any text from_chars takes, rounded by it or, past the double range, by the
// interpreter.
[[gnu::noinline]] Ref parse_float_text(ParserState& state, const ScannedNumber& number) {
  double value = 0;
  auto result = std::from_chars(number.begin, number.end, value);
  if (result.ptr == number.end) {
    if (result.ec == std::errc()) {
      return Ref::steal(PyFloat_FromDouble(value));
    }
    if (result.ec == std::errc::result_out_of_range) {
      return parse_out_of_range_float(number.begin, number.end);
    }
  }
  return parse_error(state, "Invalid float");
}

int clamp_exponent(int64_t exponent) {
  constexpr int64_t kLimit = 1 << 20;  // far past both ends of the double range
  return static_cast<int>(exponent < -kLimit ? -kLimit : exponent > kLimit ? kLimit : exponent);
}

// More than 19 digits: the first 19 significant ones, and whether a nonzero
// digit was left out. With one left out, the value lies between w and w + 1
// units of the last kept digit; when both round alike that is the answer.
[[gnu::noinline]] Ref parse_long_float(ParserState& state, const ScannedNumber& number) {
  uint64_t w = 0;
  uint64_t kept = 0;
  int64_t exponent = number.exponent;
  bool dropped_nonzero = false;
  const char* fraction = number.digits + number.integer_digits + 1;
  const char* mantissa_end = number.digits + number.integer_digits;
  if (*mantissa_end == '.') {
    mantissa_end = fraction + (number.digit_count - number.integer_digits);
  }
  for (const char* at = number.digits; at < mantissa_end; ++at) {
    if (*at == '.') {
      continue;
    }
    const uint64_t digit = static_cast<uint64_t>(*at - '0');
    if (kept < kMaxExactDigits) {
      w = w * 10 + digit;
      kept += w != 0;  // leading zeros are not significant
    } else {
      dropped_nonzero |= digit != 0;
      ++exponent;
    }
  }
  if (w == 0) {
    return Ref::steal(PyFloat_FromDouble(number.negative ? -0.0 : 0.0));
  }
  const int q = clamp_exponent(exponent);
  const uint64_t low = float_text::nearest_double_bits(w, q);
  if (dropped_nonzero && float_text::nearest_double_bits(w + 1, q) != low) {
    return parse_float_text(state, number);
  }
  double value;
  std::memcpy(&value, &low, sizeof value);
  return Ref::steal(PyFloat_FromDouble(number.negative ? -value : value));
}

Ref parse_float(ParserState& state, const ScannedNumber& number) {
  if (!number.well_formed) [[unlikely]] {
    return parse_error(state, "Invalid float");
  }
  if (number.digit_count > kMaxExactDigits) [[unlikely]] {
    return parse_long_float(state, number);
  }
  double value = float_text::nearest_double(number.significand, clamp_exponent(number.exponent));
  return Ref::steal(PyFloat_FromDouble(number.negative ? -value : value));
}

}  // namespace

Ref parse_number(ParserState& state, PyObject* parse_float_hook, PyObject* parse_int_hook) {
  ScannedNumber number = scan_number(state.text + state.position);
  state.position = static_cast<uint64_t>(number.end - state.text);
  if (number.is_float) {
    if (parse_float_hook != nullptr) {
      return call_number_hook(parse_float_hook, number.begin, number.end);
    }
    return parse_float(state, number);
  }
  if (parse_int_hook != nullptr) {
    return call_number_hook(parse_int_hook, number.begin, number.end);
  }
  return parse_integer(number);
}

}  // namespace mervanta
