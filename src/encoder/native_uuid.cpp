// str() of the exact uuid.UUID class, written from the 128 bits of its int.
//
// uuid.UUID is a Python class, so the shortcut holds only while it is the
// class it was: the original __str__, the original int slot and no attribute
// hooks. (Reading a function's __code__ would raise an audit event, so the
// function is compared by identity only.) Reading the slot then runs no
// Python code, so anything unexpected in it simply hands over to str().
#include <cstdint>

#include "encoder/native_formats.hpp"
#include "runtime/lookup.hpp"

namespace mervanta {

namespace {


// Positions in the cached tuple.
enum Cached : Py_ssize_t { kClass, kStrFunction, kIntSlot, kCount };

bool has_text(PyObject* object, PyObject* name, const char* text) {
  Ref value = name ? Ref::steal(PyObject_GetAttr(object, name)) : Ref();
  if (!value || !PyUnicode_Check(value.get())) {
    PyErr_Clear();
    return false;
  }
  return PyUnicode_CompareWithASCIIString(value.get(), text) == 0;
}

// The __str__ uuid.py defines, not one patched in before this first look
// (a functools.wraps copy carries the names, but also __wrapped__).
bool is_original_str(PyObject* function) {
  if (!has_text(function, interned<names::kQualname>(), "UUID.__str__") || !has_text(function, interned<names::kModule>(), "uuid")) {
    return false;
  }
  Ref wrapped = getattr<names::kWrapped>(function);
  PyErr_Clear();
  return !wrapped;
}

PyObject* load_uuid_class() {
  PyObject* module_name = interned<names::kUuidModule>();
  Ref module = module_name ? Ref::steal(PyImport_GetModule(module_name)) : Ref();
  Ref uuid_class = module ? Ref::steal(PyObject_GetAttrString(module.get(), "UUID")) : Ref();
  if (!uuid_class || !PyType_Check(uuid_class.get())) {
    return nullptr;
  }
  Ref str_function = getattr<names::kStr>(uuid_class.get());
  Ref int_slot = getattr<names::kInt>(uuid_class.get());
  if (!str_function || !int_slot) {
    return nullptr;
  }
  // Cached either way; None never matches, so a replaced __str__ keeps str().
  PyObject* original = is_original_str(str_function.get()) ? str_function.get() : Py_None;
  return PyTuple_Pack(kCount, uuid_class.get(), original, int_slot.get());
}

PyObject* uuid_class_record() {
  static CacheCell cell;
  return cached_classes_of_loaded_module(interned<names::kUuidModule>(), cell, &load_uuid_class);
}

// The class attribute still is the cached object; errors count as "changed".
template <const char* Name>
bool unchanged(PyObject* owner, PyObject* original) {
  Ref current = getattr<Name>(owner);
  if (!current) {
    PyErr_Clear();
    return false;
  }
  return current.get() == original;
}

bool class_untouched(PyObject* record) {
  PyObject* uuid_class = PyTuple_GetItem(record, kClass);
  auto* type = reinterpret_cast<PyTypeObject*>(uuid_class);
  // A metaclass could hook the class attribute lookups below.
  if (Py_TYPE(uuid_class) != &PyType_Type ||
      PyType_GetSlot(type, Py_tp_getattro) != reinterpret_cast<void*>(&PyObject_GenericGetAttr)) {
    return false;
  }
  return unchanged<names::kStr>(uuid_class, PyTuple_GetItem(record, kStrFunction)) &&
         unchanged<names::kInt>(uuid_class, PyTuple_GetItem(record, kIntSlot));
}

// The value's int as 128 bits; false (nothing pending) unless it is an exact
// int in [0, 2**128).
bool read_bits(PyObject* value, uint64_t& high, uint64_t& low) {
  Ref number = getattr<names::kInt>(value);
  if (!number || Py_TYPE(number.get()) != &PyLong_Type) {
    PyErr_Clear();
    return false;
  }
  Ref shift = Ref::steal(PyLong_FromLong(64));
  Ref upper = shift ? Ref::steal(PyNumber_Rshift(number.get(), shift.get())) : Ref();
  if (!upper) {
    PyErr_Clear();
    return false;
  }
  high = PyLong_AsUnsignedLongLong(upper.get());  // negative or too wide: OverflowError
  if (high == static_cast<uint64_t>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    return false;
  }
  low = PyLong_AsUnsignedLongLongMask(number.get());
  return true;
}

// 8-4-4-4-12 lowercase hex groups.
size_t format_uuid(uint64_t high, uint64_t low, char* out) {
  constexpr char kHex[] = "0123456789abcdef";
  char digits[32];
  for (int i = 15; i >= 0; --i) {
    digits[i] = kHex[high & 0xF];
    digits[i + 16] = kHex[low & 0xF];
    high >>= 4;
    low >>= 4;
  }
  size_t length = 0;
  for (int i = 0; i < 32; ++i) {
    if (i == 8 || i == 12 || i == 16 || i == 20) {
      out[length++] = '-';
    }
    out[length++] = digits[i];
  }
  return length;
}

}  // namespace

Outcome try_write_native_uuid(PyObject* value, EncoderState& state) {
  // uuid.UUID is a Python class; the C Decimal (the other str-written type)
  // is turned away before any lookup.
  if ((PyType_GetFlags(Py_TYPE(value)) & Py_TPFLAGS_HEAPTYPE) == 0) {
    return Outcome::no_match;
  }
  PyObject* record = uuid_class_record();
  if (record == nullptr || reinterpret_cast<PyObject*>(Py_TYPE(value)) != PyTuple_GetItem(record, kClass) ||
      !class_untouched(record)) {
    return Outcome::no_match;
  }
  uint64_t high = 0, low = 0;
  if (!read_bits(value, high, low)) {
    return Outcome::no_match;
  }
  // The recursion checks of str() and of entering __str__.
  if (Py_EnterRecursiveCall(" while getting the str of an object") != 0) {
    return Outcome::failed;
  }
  const int entered = Py_EnterRecursiveCall("");
  if (entered == 0) {
    Py_LeaveRecursiveCall();
  }
  Py_LeaveRecursiveCall();
  if (entered != 0) {
    return Outcome::failed;
  }
  char text[36];
  write_plain_string(state, text, format_uuid(high, low, text));
  return Outcome::matched;
}

}  // namespace mervanta
