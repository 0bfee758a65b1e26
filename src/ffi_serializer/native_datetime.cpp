// isoformat() text of the exact datetime.date, datetime.time and
// datetime.datetime classes, written without building a str.
//
// Fields are read as attributes (the classes are immutable and their getters
// run no Python code). The UTC offset comes from the value's own utcoffset(),
// which makes the one tzinfo.utcoffset call isoformat() makes, with the same
// argument and the same checks on its result. A naive value still passes the
// interpreter's recursion check that the isoformat() call would make.
#include <cstdint>

#include "ffi_serializer/extended_names.hpp"
#include "ffi_serializer/native_formats.hpp"
#include "module/errors.hpp"

namespace mervanta {

namespace n = extended_names;

namespace {

constexpr char kDatetimeModule[] = "datetime";
constexpr char kYear[] = "year";
constexpr char kMonth[] = "month";
constexpr char kDay[] = "day";
constexpr char kHour[] = "hour";
constexpr char kMinute[] = "minute";
constexpr char kSecond[] = "second";
constexpr char kMicrosecond[] = "microsecond";
constexpr char kTzinfo[] = "tzinfo";
constexpr char kUtcoffset[] = "utcoffset";

// Positions in the cached tuple.
enum Cached : Py_ssize_t { kDateClass, kTimeClass, kDatetimeClass, kDaysField, kSecondsField, kMicrosField, kCount };

// A class implemented in C that no one can patch. While datetime.py is still
// being imported the module may hold its pure-Python classes instead.
Ref immutable_class(PyObject* module, const char* name) {
  Ref object = Ref::steal(PyObject_GetAttrString(module, name));
  if (!object || !PyType_Check(object.get())) {
    return Ref();
  }
  const unsigned long flags = PyType_GetFlags(reinterpret_cast<PyTypeObject*>(object.get()));
  if ((flags & Py_TPFLAGS_HEAPTYPE) != 0 && (flags & Py_TPFLAGS_IMMUTABLETYPE) == 0) {
    return Ref();
  }
  return object;
}

// A data descriptor of timedelta, read straight from its class so that a
// subclass overriding the attribute is read as isoformat() reads it: from
// the value's own fields.
Ref field_descriptor(PyObject* timedelta, const char* name) {
  Ref descriptor = Ref::steal(PyObject_GetAttrString(timedelta, name));
  if (!descriptor || PyType_GetSlot(Py_TYPE(descriptor.get()), Py_tp_descr_get) == nullptr) {
    return Ref();
  }
  return descriptor;
}

PyObject* load_datetime_classes() {
  PyObject* module_name = n::get<kDatetimeModule>();
  Ref module = module_name ? Ref::steal(PyImport_GetModule(module_name)) : Ref();
  if (!module) {
    return nullptr;
  }
  Ref date = immutable_class(module.get(), "date");
  Ref time = immutable_class(module.get(), "time");
  Ref datetime = immutable_class(module.get(), "datetime");
  Ref timedelta = immutable_class(module.get(), "timedelta");
  if (!date || !time || !datetime || !timedelta) {
    return nullptr;
  }
  Ref days = field_descriptor(timedelta.get(), "days");
  Ref seconds = field_descriptor(timedelta.get(), "seconds");
  Ref micros = field_descriptor(timedelta.get(), "microseconds");
  if (!days || !seconds || !micros) {
    return nullptr;
  }
  return PyTuple_Pack(kCount, date.get(), time.get(), datetime.get(), days.get(), seconds.get(), micros.get());
}

PyObject* datetime_classes() {
  static CacheCell cell;
  return cached_classes_of_loaded_module(n::get<kDatetimeModule>(), cell, &load_datetime_classes);
}

// An int attribute of a value of an exact class; out of [low, high] is a
// fault of this code, not of the value.
template <const char* Name>
bool read_field(PyObject* value, long low, long high, unsigned& out) {
  Ref field = n::getattr<Name>(value);
  if (!field) {
    return false;
  }
  const long number = PyLong_AsLong(field.get());
  if (number == -1 && PyErr_Occurred()) {
    return false;
  }
  if (number < low || number > high) {
    raise_fault("date or time field out of range");
  }
  out = static_cast<unsigned>(number);
  return true;
}

// "YYYY-MM-DD"
bool put_date(PyObject* value, char*& out) {
  unsigned year = 0, month = 0, day = 0;
  if (!read_field<kYear>(value, 1, 9999, year) || !read_field<kMonth>(value, 1, 12, month) ||
      !read_field<kDay>(value, 1, 31, day)) {
    return false;
  }
  out = put_digits(out, year, 4);
  *out++ = '-';
  out = put_digits(out, month, 2);
  *out++ = '-';
  out = put_digits(out, day, 2);
  return true;
}

// "HH:MM:SS", then ".ffffff" unless the microsecond is zero.
bool put_clock(PyObject* value, char*& out) {
  unsigned hour = 0, minute = 0, second = 0, micro = 0;
  if (!read_field<kHour>(value, 0, 23, hour) || !read_field<kMinute>(value, 0, 59, minute) ||
      !read_field<kSecond>(value, 0, 59, second) || !read_field<kMicrosecond>(value, 0, 999999, micro)) {
    return false;
  }
  out = put_digits(out, hour, 2);
  *out++ = ':';
  out = put_digits(out, minute, 2);
  *out++ = ':';
  out = put_digits(out, second, 2);
  if (micro != 0) {
    *out++ = '.';
    out = put_digits(out, micro, 6);
  }
  return true;
}

bool read_offset_field(PyObject* offset, PyObject* descriptor, long& out) {
  auto get = reinterpret_cast<descrgetfunc>(PyType_GetSlot(Py_TYPE(descriptor), Py_tp_descr_get));
  Ref field = Ref::steal(get(descriptor, offset, reinterpret_cast<PyObject*>(Py_TYPE(offset))));
  if (!field) {
    return false;
  }
  out = PyLong_AsLong(field.get());
  return !(out == -1 && PyErr_Occurred());
}

// "+HH:MM", then ":SS" when seconds or microseconds are set, then ".ffffff"
// when microseconds are; the sign is that of the whole offset.
bool put_offset(PyObject* offset, PyObject* classes, char*& out) {
  long days = 0, seconds = 0, micros = 0;
  if (!read_offset_field(offset, PyTuple_GetItem(classes, kDaysField), days) ||
      !read_offset_field(offset, PyTuple_GetItem(classes, kSecondsField), seconds) ||
      !read_offset_field(offset, PyTuple_GetItem(classes, kMicrosField), micros)) {
    return false;
  }
  constexpr int64_t kMicrosPerDay = 86400LL * 1000000;
  int64_t total = days * kMicrosPerDay + static_cast<int64_t>(seconds) * 1000000 + micros;
  const bool negative = days < 0;
  if (negative) {
    total = -total;
  }
  if (total < 0 || total >= kMicrosPerDay) {
    raise_fault("UTC offset out of range after utcoffset()");  // utcoffset() checked it already
  }
  const auto whole = static_cast<unsigned>(total / 1000000);
  const auto fraction = static_cast<unsigned>(total % 1000000);
  *out++ = negative ? '-' : '+';
  out = put_digits(out, whole / 3600, 2);
  *out++ = ':';
  out = put_digits(out, whole % 3600 / 60, 2);
  if (whole % 60 != 0 || fraction != 0) {
    *out++ = ':';
    out = put_digits(out, whole % 60, 2);
  }
  if (fraction != 0) {
    *out++ = '.';
    out = put_digits(out, fraction, 6);
  }
  return true;
}

// The UTC offset suffix of a time or datetime: nothing for a naive value or
// when utcoffset() returns None.
bool put_utc_offset(PyObject* value, PyObject* classes, char*& out) {
  Ref tzinfo = n::getattr<kTzinfo>(value);
  if (!tzinfo) {
    return false;
  }
  if (tzinfo.get() == Py_None) {
    if (Py_EnterRecursiveCall(" while calling a Python object") != 0) {
      return false;
    }
    Py_LeaveRecursiveCall();
    return true;
  }
  Ref offset = n::call_method0<kUtcoffset>(value);
  if (!offset) {
    return false;
  }
  return offset.get() == Py_None || put_offset(offset.get(), classes, out);
}

enum class Kind { date, time, datetime };

bool write_iso(PyObject* value, Kind kind, PyObject* classes, EncoderState& state) {
  // "YYYY-MM-DDTHH:MM:SS.ffffff+HH:MM:SS.ffffff"
  char text[48];
  char* out = text;
  if (kind != Kind::time) {
    if (!put_date(value, out)) {
      return false;
    }
  }
  if (kind == Kind::date) {
    if (Py_EnterRecursiveCall(" while calling a Python object") != 0) {
      return false;
    }
    Py_LeaveRecursiveCall();
  } else {
    if (kind == Kind::datetime) {
      *out++ = 'T';
    }
    if (!put_clock(value, out) || !put_utc_offset(value, classes, out)) {
      return false;
    }
  }
  write_plain_string(state, text, static_cast<size_t>(out - text));
  return true;
}

}  // namespace

Outcome try_write_native_iso(PyObject* value, EncoderState& state) {
  PyObject* classes = datetime_classes();
  if (classes == nullptr) {
    return Outcome::no_match;
  }
  auto* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
  Kind kind;
  if (type == PyTuple_GetItem(classes, kDatetimeClass)) {
    kind = Kind::datetime;
  } else if (type == PyTuple_GetItem(classes, kDateClass)) {
    kind = Kind::date;
  } else if (type == PyTuple_GetItem(classes, kTimeClass)) {
    kind = Kind::time;
  } else {
    return Outcome::no_match;
  }
  return write_iso(value, kind, classes, state) ? Outcome::written : Outcome::failed;
}

}  // namespace mervanta
