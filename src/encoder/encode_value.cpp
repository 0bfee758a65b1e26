// encode_value: the dispatch over core Python types, in its fixed order.
#include <array>

#include "encoder/containers.hpp"
#include "encoder/native_formats.hpp"
#include "encoder/writers.hpp"
#include "runtime/cache.hpp"
#include "runtime/call_frame.hpp"
#include "runtime/lookup.hpp"

namespace mervanta {

namespace {

void write_literal(EncoderState& state, const char* text, size_t length) { state.buffer.put(text, length); }

bool has_str_written_name(PyTypeObject* type) {
  Ref name = getattr<names::kName>(reinterpret_cast<PyObject*>(type));
  if (!name || !PyUnicode_Check(name.get())) {
    if (PyErr_Occurred()) {
      clear_no_match_error();
    }
    return false;
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(name.get(), &size);
  if (text == nullptr) {
    clear_no_match_error();
    return false;
  }
  std::string_view type_name(text, static_cast<size_t>(size));
  return type_name == "Decimal" || type_name == "UUID" || type_name == "decimal.Decimal";
}

bool has_numpy_bool_name(PyTypeObject* type) {
  // A NumPy boolean always has __bool__; other types need not be asked.
  return PyType_GetSlot(type, Py_nb_bool) != nullptr && is_numpy_bool_type(reinterpret_cast<PyObject*>(type));
}

// Static (non-heap) types cannot be renamed and live as long as the process,
// so the answers of the two name tests are remembered for the last few of
// them (reading a static type's __module__ or __name__ makes a new str every
// time). The interpreter lock guards the table.
class StaticTypeMemo {
 public:
  struct Answers {
    bool numpy_bool;
    bool str_written;
  };

  const Answers& lookup(PyTypeObject* type) {
    for (const Entry& entry : entries_) {
      if (entry.type == type) {
        return entry.answers;
      }
    }
    Entry& entry = entries_[next_];
    next_ = (next_ + 1) % entries_.size();
    entry = {type, {has_numpy_bool_name(type), has_str_written_name(type)}};
    return entry.answers;
  }

 private:
  struct Entry {
    PyTypeObject* type = nullptr;
    Answers answers{};
  };
  std::array<Entry, 8> entries_{};
  size_t next_ = 0;
};

StaticTypeMemo static_type_names;

bool is_static_type(PyTypeObject* type) { return (PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE) == 0; }

// The type is NumPy's boolean scalar (by module and type name).
bool is_numpy_bool(PyObject* value) {
  PyTypeObject* type = Py_TYPE(value);
  return is_static_type(type) ? static_type_names.lookup(type).numpy_bool : has_numpy_bool_name(type);
}

// Any type named Decimal, decimal.Decimal or UUID is written as its str().
bool is_str_written_type(PyObject* value) {
  PyTypeObject* type = Py_TYPE(value);
  return is_static_type(type) ? static_type_names.lookup(type).str_written : has_str_written_name(type);
}

bool write_str_of(PyObject* value, EncoderState& state) {
  if (Outcome outcome = try_write_native_uuid(value, state); outcome != Outcome::no_match) {
    return succeeded(outcome);
  }
  Ref text = Ref::steal(PyObject_Str(value));
  return text && write_str(text.get(), state);
}

// The number protocols for objects that are not ints: __index__ first (signed,
// then unsigned), then __float__. Each failed conversion is a "no match".
Outcome try_number_protocols(PyObject* value, EncoderState& state) {
  // Without __index__ and __float__ all three conversions fail without
  // running any Python code; skip building and clearing their errors.
  PyTypeObject* type = Py_TYPE(value);
  if (PyType_GetSlot(type, Py_nb_index) == nullptr && PyType_GetSlot(type, Py_nb_float) == nullptr) {
    return Outcome::no_match;
  }
  long signed_value = PyLong_AsLong(value);
  if (!(signed_value == -1 && PyErr_Occurred())) {
    write_integer_signed(state, signed_value);
    return Outcome::matched;
  }
  clear_no_match_error();
  if (Ref index = Ref::steal(PyNumber_Index(value))) {
    unsigned long long unsigned_value = PyLong_AsUnsignedLongLong(index.get());
    if (!(unsigned_value == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
      write_integer_unsigned(state, unsigned_value);
      return Outcome::matched;
    }
  }
  clear_no_match_error();
  double float_value = PyFloat_AsDouble(value);
  if (!(float_value == -1.0 && PyErr_Occurred())) {
    return outcome_of(write_float(float_value, state));
  }
  clear_no_match_error();
  return Outcome::no_match;
}

bool is_subtype(PyObject* value, PyTypeObject* type) {
  PyTypeObject* value_type = Py_TYPE(value);
  return value_type == type || PyType_IsSubtype(value_type, type);
}

// The whole ordered dispatch, for values that are not exact built-in types.
bool encode_general(PyObject* value, EncoderState& state) {
  ++state.python_epoch;
  if (value == Py_None) {
    write_literal(state, "null", 4);
    return true;
  }
  bool truth = false;
  if (is_numpy_bool(value) && read_strict_bool(value, truth)) {
    truth ? write_literal(state, "true", 4) : write_literal(state, "false", 5);
    return true;
  }
  const unsigned long flags = PyType_GetFlags(Py_TYPE(value));
  if (flags & Py_TPFLAGS_UNICODE_SUBCLASS) {
    return write_str(value, state);
  }
  if (flags & Py_TPFLAGS_DICT_SUBCLASS) {
    return encode_dict(value, state);
  }
  if (flags & Py_TPFLAGS_LIST_SUBCLASS) {
    return encode_list(value, state);
  }
  if (is_str_written_type(value)) {
    return write_str_of(value, state);
  }
  if (flags & Py_TPFLAGS_LONG_SUBCLASS) {
    return write_int_object(value, state);
  }
  if (Outcome outcome = try_number_protocols(value, state); outcome != Outcome::no_match) {
    return succeeded(outcome);
  }
  if (flags & Py_TPFLAGS_TUPLE_SUBCLASS) {
    return encode_tuple(value, state);
  }
  if (is_subtype(value, &PySet_Type) || is_subtype(value, &PyFrozenSet_Type)) {
    return encode_set(value, state);
  }
  if (flags & Py_TPFLAGS_BYTES_SUBCLASS) {
    write_base64(state, reinterpret_cast<const unsigned char*>(PyBytes_AsString(value)),
                 static_cast<size_t>(PyBytes_Size(value)));
    return true;
  }
  if (is_subtype(value, &PyByteArray_Type)) {
    write_base64(state, reinterpret_cast<const unsigned char*>(PyByteArray_AsString(value)),
                 static_cast<size_t>(PyByteArray_Size(value)));
    return true;
  }
  return encode_extended(value, state);
}

}  // namespace

bool encode_value(PyObject* value, EncoderState& state) {
  // Exact built-in types first: no user code can tell the difference from
  // walking the ordered dispatch.
  if (Outcome outcome = encode_plain_scalar(value, state); outcome != Outcome::no_match) {
    return succeeded(outcome);
  }
  PyTypeObject* type = Py_TYPE(value);
  if (type == &PyDict_Type) {
    return encode_dict(value, state);
  }
  if (type == &PyList_Type) {
    return encode_list(value, state);
  }
  if (type == &PyTuple_Type) {
    return encode_tuple(value, state);
  }
  return encode_general(value, state);
}

}  // namespace mervanta
