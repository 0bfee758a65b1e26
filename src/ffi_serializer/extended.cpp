// encode_extended: the second stage for values the core does not know.
#include "ffi_serializer/encode.hpp"
#include "ffi_serializer/writers.hpp"
#include "module/cache.hpp"
#include "module/errors.hpp"
#include "module/lookup.hpp"

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

bool fail_not_serializable(const std::string& type_name) {
  PyErr_Format(PyExc_TypeError, "Object of type %s is not JSON serializable", type_name.c_str());
  return false;
}

}  // namespace

bool encode_extended(PyObject* value, EncoderState& state, uint64_t depth, PyObject* default_hook, bool allow_nan,
                     bool sort_keys) {
  std::string type_name = read_type_name(value);
  if (default_hook != nullptr) {
    NestingGuard guard(state);
    if (!guard.enter()) {
      return false;
    }
    Ref replacement = call_with_one(default_hook, value);
    if (!replacement) {
      return false;
    }
    return encode_value(replacement.get(), state, depth, default_hook, allow_nan, sort_keys);
  }
  return fail_not_serializable(type_name);
}

}  // namespace mervanta
