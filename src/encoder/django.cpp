#include "encoder/django.hpp"

#include "encoder/encode.hpp"
#include "encoder/runtime_import.hpp"
#include "encoder/stdlib_types.hpp"
#include "encoder/writers.hpp"
#include "runtime/errors.hpp"
#include "runtime/lookup.hpp"

namespace mervanta {

namespace {

// encode_value, with a shortcut for the built-in date and time types that
// fill most model fields and would otherwise pass every test of the dispatch.
bool encode_member(PyObject* value, EncoderState& state) {
  PyTypeObject* type = Py_TYPE(value);
  const bool plain = value == Py_None || type == &PyUnicode_Type || type == &PyLong_Type || type == &PyFloat_Type ||
                     type == &PyBool_Type || type == &PyDict_Type || type == &PyList_Type || type == &PyTuple_Type;
  if (!plain) {
    ++state.python_epoch;
    if (Outcome outcome = try_encode_static_date_type(value, state); outcome != Outcome::no_match) {
      return succeeded(outcome);
    }
  }
  return encode_value(value, state);
}

bool encode_promise(PyObject* value, EncoderState& state) {
  Ref text = Ref::steal(PyObject_Str(value));
  return text && encode_text_value(text.get(), state);
}

// iter(value._meta.fields.__iter__())
Ref iterate_fields(PyObject* value) {
  Ref meta = getattr<names::kMeta>(value);
  Ref fields = meta ? getattr<names::kFields>(meta.get()) : Ref();
  Ref iterable = fields ? call_method0<names::kIter>(fields.get()) : Ref();
  return iterable ? Ref::steal(PyObject_GetIter(iterable.get())) : Ref();
}

// One member: the field's name as key, the attribute of that name as value.
bool encode_field(PyObject* value, PyObject* field, bool first, EncoderState& state) {
  Ref name = getattr<names::kFieldName>(field);
  if (!name) {
    return false;
  }
  if (!PyUnicode_Check(name.get())) {
    return fail_not_instance(name.get(), "str");
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(name.get(), &size);
  if (utf8 == nullptr) {
    return false;
  }
  if (!first) {
    write_item_separator(state);
  }
  write_key_text(name.get(), std::string_view(utf8, static_cast<size_t>(size)), state);
  state.key_separator.write_to(state.buffer);
  // An exact str is its own fresh copy; a subclass is rebuilt as a plain str.
  Ref attribute_name = PyUnicode_CheckExact(name.get()) ? Ref::borrow(name.get())
                                                         : Ref::steal(PyUnicode_DecodeUTF8(utf8, size, "strict"));
  Ref attribute = attribute_name ? Ref::steal(PyObject_GetAttr(value, attribute_name.get())) : Ref();
  return attribute && encode_member(attribute.get(), state);
}

}  // namespace

bool encode_model_instance(PyObject* value, EncoderState& state) {
  // Relations can lead back to an instance that is being written.
  NestingGuard guard(state.nesting);
  if (!guard.enter(kEncodingNesting)) {
    return false;
  }
  Ref fields = iterate_fields(value);
  if (!fields) {
    return false;
  }
  write_container_open(state, '{');
  bool first = true;
  while (Ref field = Ref::steal(PyIter_Next(fields.get()))) {
    if (!encode_field(value, field.get(), first, state)) {
      return false;
    }
    first = false;
  }
  if (PyErr_Occurred()) {
    return false;
  }
  write_container_close(state, '}');
  return true;
}

bool encode_queryset(PyObject* value, EncoderState& state) {
  NestingGuard guard(state.nesting);
  if (!guard.enter(kEncodingNesting)) {
    return false;
  }
  Ref rows = Ref::steal(PyObject_GetIter(value));
  if (!rows) {
    return false;
  }
  write_container_open(state, '[');
  bool first = true;
  while (Ref row = Ref::steal(PyIter_Next(rows.get()))) {
    if (!first) {
      write_item_separator(state);
    }
    first = false;
    if (!encode_member(row.get(), state)) {
      return false;
    }
  }
  if (PyErr_Occurred()) {
    return false;
  }
  write_container_close(state, ']');
  return true;
}

Outcome try_encode_django(PyObject* value, EncoderState& state) {
  Outcome test = is_instance_of(value, interned<names::kFunctionalModule>(), interned<names::kPromise>());
  if (test == Outcome::matched) {
    return outcome_of(encode_promise(value, state));
  }
  if (test == Outcome::no_match) {
    test = is_instance_of(value, interned<names::kModelsModule>(), interned<names::kModel>());
    if (test == Outcome::matched) {
      return outcome_of(encode_model_instance(value, state));
    }
  }
  if (test == Outcome::no_match) {
    test = is_instance_of(value, interned<names::kQueryModule>(), interned<names::kQuerySet>());
    if (test == Outcome::matched) {
      return outcome_of(encode_queryset(value, state));
    }
  }
  return test;
}

}  // namespace mervanta
