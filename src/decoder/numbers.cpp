// JSON numbers: a lenient scanner, then exact conversion. 64-bit integers and
// floats are converted natively; larger integers go to the built-in int.
#include <charconv>
#include <cstring>
#include <string>
#include <system_error>

#include "decoder/parser.hpp"
#include "runtime/errors.hpp"
#include "runtime/lookup.hpp"

namespace mervanta {

namespace {

inline bool is_digit(char byte) { return static_cast<unsigned char>(byte - '0') < 10; }

struct ScannedNumber {
  const char* begin;
  const char* end;
  const char* digits;  // first digit of the integer part
  uint64_t integer_digits;
  uint64_t integer_value;  // of the integer part; exact below 20 digits
  bool negative;
  bool is_float;
};

// Never fails. The padding NUL after the text stops every loop.
inline ScannedNumber scan_number(const char* begin) {
  ScannedNumber number{};
  const char* at = begin;
  number.begin = begin;
  number.negative = *at == '-';
  at += number.negative;
  number.digits = at;
  uint64_t value = 0;
  while (is_digit(*at)) {
    value = value * 10 + static_cast<uint64_t>(*at - '0');
    ++at;
  }
  number.integer_digits = static_cast<uint64_t>(at - number.digits);
  number.integer_value = value;
  if (*at == '.') {
    number.is_float = true;
    ++at;
    while (is_digit(*at)) {
      ++at;
    }
  }
  if (*at == 'e' || *at == 'E') {
    number.is_float = true;
    ++at;
    if (*at == '+' || *at == '-') {
      ++at;
    }
    while (is_digit(*at)) {
      ++at;
    }
  }
  number.end = at;
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

Ref parse_float(ParserState& state, const ScannedNumber& number) {
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
