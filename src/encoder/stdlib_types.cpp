// Dates, times, durations, Enum members and dataclass instances.
#include "encoder/stdlib_types.hpp"

#include <charconv>
#include <string_view>

#include "encoder/encode.hpp"
#include "encoder/native_formats.hpp"
#include "encoder/runtime_import.hpp"
#include "encoder/writers.hpp"
#include "runtime/errors.hpp"
#include "runtime/lookup.hpp"

namespace mervanta {

namespace {

void append_number(std::string& text, int64_t number) {
  char digits[24];
  auto result = std::to_chars(digits, digits + sizeof digits, number);
  text.append(digits, result.ptr);
}

// At least six digits, zero-padded on the left.
void append_micros(std::string& text, uint32_t micros) {
  char digits[16];
  auto result = std::to_chars(digits, digits + sizeof digits, micros);
  size_t length = static_cast<size_t>(result.ptr - digits);
  if (length < 6) {
    text.append(6 - length, '0');
  }
  text.append(digits, length);
}

// An attribute read as a signed 64-bit integer; failures are final.
template <const char* Name>
bool read_long_attribute(PyObject* value, int64_t& out) {
  Ref attribute = getattr<Name>(value);
  if (!attribute) {
    return false;
  }
  long converted = PyLong_AsLong(attribute.get());
  if (converted == -1 && PyErr_Occurred()) {
    return false;
  }
  out = converted;
  return true;
}

}  // namespace

std::string format_duration(int64_t days, int64_t seconds, int64_t microseconds) {
  // C++ division truncates toward zero and % takes the dividend's sign.
  const int64_t hours = seconds / 3600;
  const int64_t minutes = (seconds % 3600) / 60;
  const int64_t secs = seconds % 60;
  const uint32_t micros = static_cast<uint32_t>(static_cast<uint64_t>(microseconds));
  std::string text = "P";
  if (days != 0) {
    append_number(text, days);
    text += 'D';
  }
  if (hours != 0) {
    text += 'T';
    append_number(text, hours);
    text += 'H';
  } else if (minutes != 0 || secs != 0 || micros != 0) {
    text += 'T';
  }
  if (minutes != 0) {
    append_number(text, minutes);
    text += 'M';
  }
  if (micros != 0) {
    append_number(text, secs);
    text += '.';
    append_micros(text, micros);
    text += 'S';
  } else if (secs != 0) {
    append_number(text, secs);
    text += 'S';
  }
  if (text.size() == 1) {
    text += "T0S";
  }
  return text;
}

bool encode_iso_text(PyObject* value, EncoderState& state) {
  if (Outcome outcome = try_write_native_iso(value, state); outcome != Outcome::no_match) {
    return succeeded(outcome);
  }
  Ref text = call_method0<names::kIsoformat>(value);
  return text && encode_text_value(text.get(), state);
}

bool encode_duration(PyObject* value, EncoderState& state) {
  int64_t days = 0, seconds = 0, microseconds = 0;
  if (!read_long_attribute<names::kDays>(value, days) || !read_long_attribute<names::kSeconds>(value, seconds) ||
      !read_long_attribute<names::kMicroseconds>(value, microseconds)) {
    return false;
  }
  std::string text = format_duration(days, seconds, microseconds);
  write_escaped_string(state, text.data(), text.size());
  return true;
}

Outcome try_encode_by_type_name(std::string_view type_name, PyObject* value, EncoderState& state) {
  if (type_name == "date" || type_name == "time" || type_name == "datetime") {
    return outcome_of(encode_iso_text(value, state));
  }
  if (type_name == "timedelta") {
    return outcome_of(encode_duration(value, state));
  }
  return Outcome::no_match;
}

Outcome try_encode_static_date_type(PyObject* value, EncoderState& state) {
  PyTypeObject* type = Py_TYPE(value);
  constexpr unsigned long kExcluded = Py_TPFLAGS_HEAPTYPE | Py_TPFLAGS_LONG_SUBCLASS | Py_TPFLAGS_LIST_SUBCLASS |
                                      Py_TPFLAGS_TUPLE_SUBCLASS | Py_TPFLAGS_BYTES_SUBCLASS |
                                      Py_TPFLAGS_UNICODE_SUBCLASS | Py_TPFLAGS_DICT_SUBCLASS;
  if ((PyType_GetFlags(type) & kExcluded) != 0 || PyType_GetSlot(type, Py_nb_index) != nullptr ||
      PyType_GetSlot(type, Py_nb_float) != nullptr || PyType_IsSubtype(type, &PySet_Type) ||
      PyType_IsSubtype(type, &PyFrozenSet_Type) || PyType_IsSubtype(type, &PyByteArray_Type)) {
    return Outcome::no_match;
  }
  if (is_exact_date_class(value)) {
    return outcome_of(encode_iso_text(value, state));
  }
  Ref name = getattr<names::kName>(reinterpret_cast<PyObject*>(type));
  Py_ssize_t size = 0;
  const char* text = name && PyUnicode_Check(name.get()) ? PyUnicode_AsUTF8AndSize(name.get(), &size) : nullptr;
  if (text == nullptr) {
    PyErr_Clear();  // a static type always has a plain name; be safe anyway
    return Outcome::no_match;
  }
  return try_encode_by_type_name(std::string_view(text, static_cast<size_t>(size)), value, state);
}

Outcome try_encode_enum(PyObject* value, EncoderState& state) {
  if (Outcome test = is_instance_of(value, interned<names::kEnumModule>(), interned<names::kEnum>());
      test != Outcome::matched) {
    return test;
  }
  // A member's value can lead back to the member itself.
  NestingGuard guard(state.nesting);
  if (!guard.enter(kEncodingNesting)) {
    return Outcome::failed;
  }
  Ref member_value = getattr<names::kValue>(value);
  if (!member_value ||
      !encode_value(member_value.get(), state)) {
    return Outcome::failed;
  }
  return Outcome::matched;
}

Outcome try_encode_dataclass(PyObject* value, EncoderState& state) {
  if (Ref fields = getattr<names::kDataclassFields>(value); !fields) {
    return clear_test_error();
  }
  NestingGuard guard(state.nesting);
  if (!guard.enter(kEncodingNesting)) {
    return Outcome::failed;
  }
  Ref asdict = import_attribute(interned<names::kDataclassesModule>(), interned<names::kAsdict>());
  if (!asdict) {
    return Outcome::failed;
  }
  Ref fields_dict = call_with_one(asdict.get(), value);
  if (!fields_dict || !encode_value(fields_dict.get(), state)) {
    return Outcome::failed;
  }
  return Outcome::matched;
}

}  // namespace mervanta
