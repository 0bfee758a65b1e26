// Pieces shared by the native date/time and UUID writers.
#include "encoder/native_formats.hpp"

namespace mervanta {

PyObject* cached_classes_of_loaded_module(PyObject* module_name, CacheCell& cell, CacheCell::Initialiser load) {
  if (PyObject* cached = cell.peek()) {
    return cached;
  }
  if (module_name == nullptr) {
    PyErr_Clear();
    return nullptr;
  }
  // A value of a class can exist only once its module is loaded; until then
  // a sys.modules lookup is all this costs (the cell's lock is not taken).
  Ref module = Ref::steal(PyImport_GetModule(module_name));
  if (!module || module.get() == Py_None) {  // None: the import is blocked
    PyErr_Clear();
    return nullptr;
  }
  PyObject* classes = cell.get(load);
  if (classes == nullptr) {
    PyErr_Clear();  // the generic path then runs as if there were no cache
  }
  return classes;
}

char* put_digits(char* out, unsigned value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + width;
}

void write_plain_string(EncoderState& state, const char* text, size_t length) {
  state.buffer.reserve(length + 2);
  state.buffer.put_unchecked('"');
  state.buffer.put_unchecked(text, length);
  state.buffer.put_unchecked('"');
}

}  // namespace mervanta
