// The module as the interpreter sees it: PyInit__core, the execution slot and
// the function table. This file alone knows every entry point.
#include "entry/entry_points.hpp"
#include "entry/signatures.hpp"
#include "runtime/lookup.hpp"

namespace mervanta {
namespace {

using Body = Ref (*)(const Arguments&);
using FastcallKeywords = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

template <const Signature& S, Body B>
PyObject* vector_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_guarded([&]() -> Ref {
    Arguments arguments;
    if (!match_vector_arguments(S, args, nargs, kwnames, arguments)) {
      return {};
    }
    return B(arguments);
  });
}

template <const Signature& S, Body B>
constexpr PyMethodDef vector_method(const char* doc) {
  FastcallKeywords entry = &vector_entry<S, B>;
  return {S.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry)), METH_FASTCALL | METH_KEYWORDS,
          doc};
}

namespace sig = signatures;

// Registration order is part of the interface (it is the order of __all__).
PyMethodDef function_table[] = {
    vector_method<sig::kDumps, dumps_body>(
        "dumps(obj, skipkeys=False, ensure_ascii=True, check_circular=True, allow_nan=True, cls=None, "
        "indent=None, separators=None, default=None, sort_keys=False, **_kw)\n--\n\n"),
    vector_method<sig::kLoads, loads_body>(
        "loads(s, cls=None, object_hook=None, object_pairs_hook=None, parse_float=None, parse_int=None, "
        "parse_constant=None, strict=True, **_kw)\n--\n\n"),
    vector_method<sig::kDump, dump_body>(
        "dump(obj, fp, skipkeys=False, ensure_ascii=True, check_circular=True, allow_nan=True, cls=None, "
        "indent=None, separators=None, default=None, sort_keys=False, **_kw)\n--\n\n"),
    vector_method<sig::kLoad, load_body>(
        "load(fp, cls=None, object_hook=None, object_pairs_hook=None, parse_float=None, parse_int=None, "
        "parse_constant=None, strict=True, **_kw)\n--\n\n"),
    vector_method<sig::kDumpb, dumpb_body>("dumpb(obj, pretty=False)\n--\n\n"),
    vector_method<sig::kDumpQueryset, dump_queryset_body>("dump_queryset(queryset)\n--\n\n"),
    vector_method<sig::kDumpQuerysetBytes, dump_queryset_bytes_body>("dump_queryset_bytes(queryset)\n--\n\n"),
    vector_method<sig::kStreamDumpQueryset, stream_dump_queryset_body>(
        "stream_dump_queryset(queryset, fp, chunk_size=1000)\n--\n\n"),
    vector_method<sig::kStreamDumpQuerysetJsonl, stream_dump_queryset_jsonl_body>(
        "stream_dump_queryset_jsonl(queryset, fp, chunk_size=1000)\n--\n\n"),
    vector_method<sig::kDeserializeDirect, deserialize_direct_fn_body>(
        "deserialize_direct_fn(s, object_hook=None, object_pairs_hook=None, parse_float=None, "
        "parse_int=None)\n--\n\n"),
    vector_method<sig::kDeserializeStrict, deserialize_strict_fn_body>(
        "deserialize_strict_fn(s, object_hook=None, object_pairs_hook=None, parse_float=None, "
        "parse_int=None)\n--\n\n"),
};

// Helpers for the package's own Python modules: attributes, not in __all__.
PyMethodDef private_table[] = {
    vector_method<sig::kDumpbWith, dumpb_with_body>(
        "_dumpb_with(obj, ensure_ascii, allow_nan, indent, separators, sort_keys, default)\n--\n\n"),
};

// Appends `name` to the module's __all__ (creating it on first use), then sets
// the attribute. The name reaches __all__ before the attribute is set.
bool add_to_module(PyObject* module, PyObject* name, PyObject* value) {
  PyObject* all_name = interned<names::kAll>();
  if (all_name == nullptr) {
    return false;
  }
  Ref all = Ref::steal(PyObject_GetAttr(module, all_name));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
      return false;
    }
    PyErr_Clear();
    all = Ref::steal(PyList_New(0));
    if (!all || PyObject_SetAttr(module, all_name, all.get()) < 0) {
      return false;
    }
  } else if (!PyList_Check(all.get())) {
    return fail_not_instance(all.get(), "list");
  }
  if (PyList_Append(all.get(), name) < 0) {
    return false;
  }
  return PyObject_SetAttr(module, name, value) == 0;
}

// Sets the function as an attribute; public ones also go to __all__.
bool add_function(PyObject* module, PyMethodDef* definition, bool public_name) {
  Ref module_name = Ref::steal(PyModule_GetNameObject(module));
  if (!module_name) {
    return false;
  }
  Ref function = Ref::steal(PyCMethod_New(definition, module, module_name.get(), nullptr));
  if (!function) {
    return false;
  }
  Ref name = getattr<names::kName>(function.get());
  if (!name) {
    return false;
  }
  if (!PyUnicode_Check(name.get())) {
    return fail_not_instance(name.get(), "str");
  }
  if (!public_name) {
    return PyObject_SetAttr(module, name.get(), function.get()) == 0;
  }
  return add_to_module(module, name.get(), function.get());
}

bool execute_module(PyObject* module) {
  if (!PyModule_Check(module)) {
    return fail_not_instance(module, "module");
  }
  for (PyMethodDef& definition : function_table) {
    if (!add_function(module, &definition, true)) {
      return false;
    }
  }
  for (PyMethodDef& definition : private_table) {
    if (!add_function(module, &definition, false)) {
      return false;
    }
  }
  PyObject* version_name = interned<names::kVersion>();
  Ref version = Ref::steal(PyUnicode_FromString(MERVANTA_VERSION));
  return version_name && version && add_to_module(module, version_name, version.get());
}

int core_module_exec(PyObject* module) {
  PyObject* outcome = run_guarded([module]() -> Ref { return execute_module(module) ? Ref::borrow(Py_None) : Ref(); });
  if (outcome == nullptr) {
    return -1;
  }
  Py_DECREF(outcome);
  return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&core_module_exec)},
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "_core",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace mervanta

PyMODINIT_FUNC PyInit__core() { return PyModuleDef_Init(&mervanta::module_definition); }
