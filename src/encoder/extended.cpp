// encode_extended: the second stage for values the core does not know, tested
// in a fixed order: type name, Django, Enum, dataclass, hook, TypeError.
#include <string_view>

#include "encoder/django.hpp"
#include "encoder/encode.hpp"
#include "encoder/native_formats.hpp"
#include "encoder/stdlib_types.hpp"
#include "encoder/writers.hpp"
#include "runtime/cache.hpp"
#include "runtime/errors.hpp"
#include "runtime/lookup.hpp"

namespace mervanta {

namespace {

// __name__ of the value's type, read leniently; empty when unreadable.
std::string read_type_name(PyObject* value) {
  PyObject* name_name = names::name();
  Ref name = name_name ? Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(value)), name_name))
                       : Ref();
  if (!name || !PyUnicode_Check(name.get())) {
    if (PyErr_Occurred()) {
      clear_no_match_error();
    }
    return {};
  }
  return lenient_utf8(name.get());
}

bool encode_with_hook(PyObject* value, EncoderState& state, uint64_t depth, PyObject* default_hook,
                      bool allow_nan, bool sort_keys) {
  // A hook that returns its argument (or anything leading back to it) would
  // otherwise recurse without end.
  NestingGuard guard(state);
  if (!guard.enter()) {
    return false;
  }
  Ref replacement = call_with_one(default_hook, value);
  return replacement && encode_value(replacement.get(), state, depth, default_hook, allow_nan, sort_keys);
}

bool fail_not_serializable(const std::string& type_name) {
  std::string message = "Object of type " + type_name + " is not JSON serializable";
  Ref text = Ref::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (text) {
    PyErr_SetObject(PyExc_TypeError, text.get());
  }
  return false;
}

}  // namespace

bool encode_extended(PyObject* value, EncoderState& state, uint64_t depth, PyObject* default_hook, bool allow_nan,
                     bool sort_keys) {
  if (is_exact_date_class(value)) {
    return encode_iso_text(value, state);  // the branch its fixed name chooses
  }
  const std::string type_name = read_type_name(value);
  Outcome outcome = try_encode_by_type_name(type_name, value, state);
  if (outcome == Outcome::no_match) {
    outcome = try_encode_django(value, state, depth, default_hook, allow_nan, sort_keys);
  }
  if (outcome == Outcome::no_match) {
    outcome = try_encode_enum(value, state, depth, default_hook, allow_nan, sort_keys);
  }
  if (outcome == Outcome::no_match) {
    outcome = try_encode_dataclass(value, state, depth, default_hook, allow_nan, sort_keys);
  }
  if (outcome != Outcome::no_match) {
    return outcome == Outcome::written;
  }
  if (default_hook != nullptr) {
    return encode_with_hook(value, state, depth, default_hook, allow_nan, sort_keys);
  }
  return fail_not_serializable(type_name);
}

}  // namespace mervanta
