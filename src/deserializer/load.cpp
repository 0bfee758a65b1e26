#include "deserializer/load_entry_points.hpp"
#include "module/signatures.hpp"

namespace mervanta {

namespace sig = signatures;

namespace {
Ref not_implemented(const char* name) {
  PyErr_Format(PyExc_NotImplementedError, "%s() is not implemented yet", name);
  return {};
}
}  // namespace

Ref loads_body(const Arguments& args) {
  bool strict = true;
  if (!to_strict_bool_or(args[sig::kStrict], "strict", true, strict)) {
    return {};
  }
  return not_implemented("loads");
}

Ref load_body(const Arguments& args) {
  bool strict = true;
  if (!to_strict_bool_or(args[sig::kStrict], "strict", true, strict)) {
    return {};
  }
  return not_implemented("load");
}

Ref deserialize_direct_fn_body(const Arguments&) { return not_implemented("deserialize_direct_fn"); }
Ref deserialize_strict_fn_body(const Arguments&) { return not_implemented("deserialize_strict_fn"); }

}  // namespace mervanta
