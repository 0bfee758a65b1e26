// Interned names for the framework-aware encoder. Making the same str for
// every lookup (and hashing it anew) costs more than the lookup itself; the
// interned copy is indistinguishable to Python.
#pragma once

#include "runtime/cache.hpp"

namespace mervanta::extended_names {

// Borrowed, valid for the life of the process; null with an exception set
// only if the str could not be made.
template <const char* Text>
PyObject* get() {
  return cached_name<Text>();
}

inline constexpr char kFunctionalModule[] = "django.utils.functional";
inline constexpr char kModelsModule[] = "django.db.models";
inline constexpr char kQueryModule[] = "django.db.models.query";
inline constexpr char kEnumModule[] = "enum";
inline constexpr char kDataclassesModule[] = "dataclasses";
inline constexpr char kPromise[] = "Promise";
inline constexpr char kModel[] = "Model";
inline constexpr char kQuerySet[] = "QuerySet";
inline constexpr char kEnum[] = "Enum";
inline constexpr char kAsdict[] = "asdict";
inline constexpr char kSpec[] = "__spec__";
inline constexpr char kInitializing[] = "_initializing";
inline constexpr char kMeta[] = "_meta";
inline constexpr char kFields[] = "fields";
inline constexpr char kIter[] = "__iter__";
inline constexpr char kName[] = "name";
inline constexpr char kValue[] = "value";
inline constexpr char kDataclassFields[] = "__dataclass_fields__";
inline constexpr char kIsoformat[] = "isoformat";
inline constexpr char kDays[] = "days";
inline constexpr char kSeconds[] = "seconds";
inline constexpr char kMicroseconds[] = "microseconds";
inline constexpr char kTypeName[] = "__name__";

// getattr(object, Text)
template <const char* Text>
Ref getattr(PyObject* object) {
  PyObject* name = get<Text>();
  return name ? Ref::steal(PyObject_GetAttr(object, name)) : Ref();
}

// object.Text()
template <const char* Text>
Ref call_method0(PyObject* object) {
  PyObject* name = get<Text>();
  return name ? Ref::steal(PyObject_CallMethodObjArgs(object, name, nullptr)) : Ref();
}

}  // namespace mervanta::extended_names
