// isoformat() text of the exact datetime.date, datetime.time and
// datetime.datetime classes, written without building a str.
//
// The classes are implemented in C and immutable: their field getters run no
// Python code, and calling the getter an attribute lookup would find is the
// lookup, minus the search. The UTC offset comes from the value's own
// utcoffset(), which makes the one tzinfo.utcoffset call isoformat() makes,
// with the same argument and the same checks on its result.
#include <cstdint>

#include "encoder/native_formats.hpp"
#include "runtime/errors.hpp"
#include "runtime/lookup.hpp"

namespace mervanta {

namespace {


constexpr const char* kDateFieldNames[] = {"year", "month", "day"};
constexpr const char* kDatetimeFieldNames[] = {"year",   "month",  "day",         "hour",
                                               "minute", "second", "microsecond", "tzinfo"};
constexpr const char* kTimeFieldNames[] = {"hour", "minute", "second", "microsecond", "tzinfo"};
constexpr const char* kDeltaFieldNames[] = {"days", "seconds", "microseconds"};

// Positions in the cached tuple: the classes, then the field getters of each.
enum Cached : Py_ssize_t {
  kDateClass,
  kTimeClass,
  kDatetimeClass,
  kTimezoneClass,
  kDeltaFields,
  kDateFields = kDeltaFields + 3,
  kDatetimeFields = kDateFields + 3,
  kTimeFields = kDatetimeFields + 8,
  kCount = kTimeFields + 5,
};

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

// Appends the class's getters of the named fields; false if one is missing.
template <size_t Count>
bool append_getters(PyObject* list, PyObject* owner, const char* const (&names)[Count]) {
  for (const char* name : names) {
    Ref getter = Ref::steal(PyObject_GetAttrString(owner, name));
    if (!getter || PyType_GetSlot(Py_TYPE(getter.get()), Py_tp_descr_get) == nullptr ||
        PyList_Append(list, getter.get()) != 0) {
      return false;
    }
  }
  return true;
}

PyObject* load_datetime_classes() {
  PyObject* module_name = interned<names::kDatetimeModule>();
  Ref module = module_name ? Ref::steal(PyImport_GetModule(module_name)) : Ref();
  if (!module) {
    return nullptr;
  }
  Ref date = immutable_class(module.get(), "date");
  Ref time = immutable_class(module.get(), "time");
  Ref datetime = immutable_class(module.get(), "datetime");
  Ref timedelta = immutable_class(module.get(), "timedelta");
  Ref timezone = immutable_class(module.get(), "timezone");
  Ref list = Ref::steal(PyList_New(0));
  if (!date || !time || !datetime || !timedelta || !timezone || !list || PyList_Append(list.get(), date.get()) != 0 ||
      PyList_Append(list.get(), time.get()) != 0 || PyList_Append(list.get(), datetime.get()) != 0 ||
      PyList_Append(list.get(), timezone.get()) != 0 ||
      !append_getters(list.get(), timedelta.get(), kDeltaFieldNames) ||
      !append_getters(list.get(), date.get(), kDateFieldNames) ||
      !append_getters(list.get(), datetime.get(), kDatetimeFieldNames) ||
      !append_getters(list.get(), time.get(), kTimeFieldNames)) {
    return nullptr;
  }
  if (PyList_Size(list.get()) != kCount) {
    raise_fault("datetime field table has the wrong size");
  }
  return PyList_AsTuple(list.get());
}

CacheCell datetime_cell;

PyObject* datetime_classes() {
  return cached_classes_of_loaded_module(interned<names::kDatetimeModule>(), datetime_cell, &load_datetime_classes);
}

// getter.__get__(value): what value.<field> returns, for the class the getter
// was taken from (timedelta subclasses included: isoformat reads the fields
// an override of the attribute would hide).
Ref get_field(PyObject* classes, Py_ssize_t index, PyObject* value) {
  PyObject* getter = PyTuple_GetItem(classes, index);
  auto get = reinterpret_cast<descrgetfunc>(PyType_GetSlot(Py_TYPE(getter), Py_tp_descr_get));
  return Ref::steal(get(getter, value, reinterpret_cast<PyObject*>(Py_TYPE(value))));
}

// Int fields into `out`; a value outside its class's range is a fault here.
bool read_numbers(PyObject* classes, Py_ssize_t first, PyObject* value, const long (&ranges)[][2], long* out,
                  size_t count) {
  for (size_t i = 0; i < count; ++i) {
    Ref field = get_field(classes, first + static_cast<Py_ssize_t>(i), value);
    if (!field) {
      return false;
    }
    out[i] = PyLong_AsLong(field.get());
    if (out[i] == -1 && PyErr_Occurred()) {
      return false;
    }
    if (out[i] < ranges[i][0] || out[i] > ranges[i][1]) {
      raise_fault("date or time field out of range");
    }
  }
  return true;
}

constexpr long kDateRanges[][2] = {{1, 9999}, {1, 12}, {1, 31}};
constexpr long kClockRanges[][2] = {{0, 23}, {0, 59}, {0, 59}, {0, 999999}};
constexpr long kDeltaRanges[][2] = {{-1, 0}, {0, 86399}, {0, 999999}};  // what utcoffset() lets through

// "YYYY-MM-DD"
void put_date(const long (&date)[3], char*& out) {
  out = put_digits(out, static_cast<unsigned>(date[0]), 4);
  *out++ = '-';
  out = put_digits(out, static_cast<unsigned>(date[1]), 2);
  *out++ = '-';
  out = put_digits(out, static_cast<unsigned>(date[2]), 2);
}

// "HH:MM:SS", then ".ffffff" unless the microsecond is zero.
void put_clock(const long (&clock)[4], char*& out) {
  out = put_digits(out, static_cast<unsigned>(clock[0]), 2);
  *out++ = ':';
  out = put_digits(out, static_cast<unsigned>(clock[1]), 2);
  *out++ = ':';
  out = put_digits(out, static_cast<unsigned>(clock[2]), 2);
  if (clock[3] != 0) {
    *out++ = '.';
    out = put_digits(out, static_cast<unsigned>(clock[3]), 6);
  }
}

// "+HH:MM", then ":SS" when seconds or microseconds are set, then ".ffffff"
// when microseconds are; the sign is that of the whole offset.
bool put_offset(PyObject* offset, PyObject* classes, char*& out) {
  long delta[3];
  if (!read_numbers(classes, kDeltaFields, offset, kDeltaRanges, delta, 3)) {
    return false;
  }
  constexpr int64_t kMicrosPerDay = 86400LL * 1000000;
  int64_t total = delta[0] * kMicrosPerDay + static_cast<int64_t>(delta[1]) * 1000000 + delta[2];
  const bool negative = delta[0] < 0;
  if (negative) {
    total = -total;
  }
  if (total >= kMicrosPerDay) {
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

enum class Kind { date, time, datetime };

// The recursion check that the isoformat() call would pass.
bool pass_call_check() {
  if (Py_EnterRecursiveCall(" while calling a Python object") != 0) {
    return false;
  }
  Py_LeaveRecursiveCall();
  return true;
}

// tzinfo.utcoffset(argument) for a tzinfo of the exact timezone class, whose
// method is C code returning the fixed offset its constructor validated. The
// call is made at the nesting isoformat() would make it at.
Ref fixed_zone_offset(PyObject* tzinfo, PyObject* argument) {
  if (Py_EnterRecursiveCall(" while calling a Python object") != 0) {
    return Ref();
  }
  PyObject* name = interned<names::kUtcoffset>();
  Ref offset = name ? Ref::steal(PyObject_CallMethodObjArgs(tzinfo, name, argument, nullptr)) : Ref();
  Py_LeaveRecursiveCall();
  return offset;
}

// The UTC offset suffix: nothing for a naive value or when utcoffset()
// returns None. (A naive value has made no call, so it passes the check.)
bool put_utc_offset(PyObject* value, Kind kind, PyObject* tzinfo, PyObject* classes, char*& out) {
  if (tzinfo == Py_None) {
    return pass_call_check();
  }
  // isoformat() passes a datetime itself to its tzinfo, a time passes None.
  Ref offset = Py_TYPE(tzinfo) == reinterpret_cast<PyTypeObject*>(PyTuple_GetItem(classes, kTimezoneClass))
                   ? fixed_zone_offset(tzinfo, kind == Kind::datetime ? value : Py_None)
                   : call_method0<names::kUtcoffset>(value);
  if (!offset) {
    return false;
  }
  return offset.get() == Py_None || put_offset(offset.get(), classes, out);
}

// The clock fields and tzinfo starting at `first`, then the text from "HH".
bool put_time_part(PyObject* value, Kind kind, PyObject* classes, Py_ssize_t first, char*& out) {
  long clock[4];
  if (!read_numbers(classes, first, value, kClockRanges, clock, 4)) {
    return false;
  }
  Ref tzinfo = get_field(classes, first + 4, value);
  if (!tzinfo) {
    return false;
  }
  put_clock(clock, out);
  return put_utc_offset(value, kind, tzinfo.get(), classes, out);
}

bool write_iso(PyObject* value, Kind kind, PyObject* classes, EncoderState& state) {
  // "YYYY-MM-DDTHH:MM:SS.ffffff+HH:MM:SS.ffffff"
  char text[48];
  char* out = text;
  if (kind == Kind::time) {
    if (!put_time_part(value, kind, classes, kTimeFields, out)) {
      return false;
    }
  } else {
    long date[3];
    if (!read_numbers(classes, kind == Kind::date ? kDateFields : kDatetimeFields, value, kDateRanges, date, 3)) {
      return false;
    }
    put_date(date, out);
    if (kind == Kind::date) {
      if (!pass_call_check()) {
        return false;
      }
    } else {
      *out++ = 'T';
      if (!put_time_part(value, kind, classes, kDatetimeFields + 3, out)) {
        return false;
      }
    }
  }
  write_plain_string(state, text, static_cast<size_t>(out - text));
  return true;
}

}  // namespace

bool is_exact_date_class(PyObject* value) {
  PyObject* classes = datetime_cell.peek();
  if (classes == nullptr) {
    return false;
  }
  auto* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
  return type == PyTuple_GetItem(classes, kDatetimeClass) || type == PyTuple_GetItem(classes, kDateClass) ||
         type == PyTuple_GetItem(classes, kTimeClass);
}

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
  return outcome_of(write_iso(value, kind, classes, state));
}

}  // namespace mervanta
