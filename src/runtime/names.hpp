// The one registry of interned names. Making the same str for every lookup
// (and hashing it anew) costs more than the lookup itself; the interned copy
// is indistinguishable to Python. Each name is declared once here, so each is
// made once per process.
#pragma once

#include "runtime/cache.hpp"

namespace mervanta {

namespace names {
// The module and its functions.
inline constexpr char kAll[] = "__all__";
inline constexpr char kVersion[] = "__version__";
inline constexpr char kName[] = "__name__";
inline constexpr char kModule[] = "__module__";
inline constexpr char kQualname[] = "__qualname__";
inline constexpr char kBool[] = "__bool__";
inline constexpr char kAddNote[] = "add_note";
inline constexpr char kWrite[] = "write";
inline constexpr char kRead[] = "read";
// Rendering a fault's traceback.
inline constexpr char kIoModule[] = "io";
inline constexpr char kStringIo[] = "StringIO";
inline constexpr char kGetvalue[] = "getvalue";
inline constexpr char kTracebackModule[] = "traceback";
inline constexpr char kPrintException[] = "print_exception";
// Modules reached at run time, and what is read from them.
inline constexpr char kBuiltinsModule[] = "builtins";
inline constexpr char kInt[] = "int";
inline constexpr char kFunctionalModule[] = "django.utils.functional";
inline constexpr char kModelsModule[] = "django.db.models";
inline constexpr char kQueryModule[] = "django.db.models.query";
inline constexpr char kEnumModule[] = "enum";
inline constexpr char kDataclassesModule[] = "dataclasses";
inline constexpr char kDatetimeModule[] = "datetime";
inline constexpr char kUuidModule[] = "uuid";
inline constexpr char kPromise[] = "Promise";
inline constexpr char kModel[] = "Model";
inline constexpr char kQuerySet[] = "QuerySet";
inline constexpr char kEnum[] = "Enum";
inline constexpr char kAsdict[] = "asdict";
inline constexpr char kSpec[] = "__spec__";
inline constexpr char kInitializing[] = "_initializing";
// Attributes of the values the encoder writes.
inline constexpr char kMeta[] = "_meta";
inline constexpr char kFields[] = "fields";
inline constexpr char kIter[] = "__iter__";
inline constexpr char kFieldName[] = "name";
inline constexpr char kValue[] = "value";
inline constexpr char kDataclassFields[] = "__dataclass_fields__";
inline constexpr char kIsoformat[] = "isoformat";
inline constexpr char kUtcoffset[] = "utcoffset";
inline constexpr char kDays[] = "days";
inline constexpr char kSeconds[] = "seconds";
inline constexpr char kMicroseconds[] = "microseconds";
inline constexpr char kStr[] = "__str__";
inline constexpr char kWrapped[] = "__wrapped__";
}  // namespace names

// An interned str of Text, made once per process (borrowed; null with an
// exception set only if it could not be made).
template <const char* Text>
PyObject* make_interned_name() {
  PyObject* text = PyUnicode_FromString(Text);
  if (text != nullptr) {
    PyUnicode_InternInPlace(&text);
  }
  return text;
}

template <const char* Text>
PyObject* interned() {
  static CacheCell cell;
  return cell.get(&make_interned_name<Text>);
}

}  // namespace mervanta
