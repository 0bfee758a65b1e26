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
  Ref name = getattr<names::kName>(reinterpret_cast<PyObject*>(Py_TYPE(value)));
  if (!name || !PyUnicode_Check(name.get())) {
    if (PyErr_Occurred()) {
      clear_no_match_error();
    }
    return {};
  }
  return lenient_utf8(name.get());
}

bool encode_with_hook(PyObject* value, EncoderState& state) {
  // A hook that returns its argument (or anything leading back to it) would
  // otherwise recurse without end.
  NestingGuard guard(state.nesting);
  if (!guard.enter(kEncodingNesting)) {
    return false;
  }
  Ref replacement = call_with_one(state.settings.default_hook, value);
  return replacement && encode_value(replacement.get(), state);
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

bool encode_extended(PyObject* value, EncoderState& state) {
  if (is_exact_date_class(value)) {
    return encode_iso_text(value, state);  // the branch its fixed name chooses
  }
  const std::string type_name = read_type_name(value);
  Outcome outcome = try_encode_by_type_name(type_name, value, state);
  if (outcome == Outcome::no_match) {
    outcome = try_encode_django(value, state);
  }
  if (outcome == Outcome::no_match) {
    outcome = try_encode_enum(value, state);
  }
  if (outcome == Outcome::no_match) {
    outcome = try_encode_dataclass(value, state);
  }
  if (outcome != Outcome::no_match) {
    return succeeded(outcome);
  }
  if (state.settings.default_hook != nullptr) {
    return encode_with_hook(value, state);
  }
  return fail_not_serializable(type_name);
}

}  // namespace mervanta
