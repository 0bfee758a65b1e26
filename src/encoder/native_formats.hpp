// Native text for the standard date, time, datetime and UUID classes, byte for
// byte what their isoformat() / str() return, with the same calls into Python
// code (a tzinfo's utcoffset) and the same exceptions. Only values whose type
// is exactly one of those classes qualify; everything else is no_match and
// keeps the generic path.
#pragma once

#include "encoder/encoder_state.hpp"
#include "encoder/outcome.hpp"
#include "runtime/cache.hpp"

namespace mervanta {

// The JSON string of value.isoformat() for an exact datetime.date,
// datetime.time or datetime.datetime.
[[nodiscard]] Outcome try_write_native_iso(PyObject* value, EncoderState& state);

// Whether the value's type is exactly datetime.date, datetime.time or
// datetime.datetime, as far as already known (false until the first such
// value has been written). Their __name__ is fixed ("date", "time",
// "datetime"), so type-name tests need not read it.
bool is_exact_date_class(PyObject* value);

// The JSON string of str(value) for an exact uuid.UUID while the class's
// __str__ and its int slot are the original ones.
[[nodiscard]] Outcome try_write_native_uuid(PyObject* value, EncoderState& state);

// Loaded-module classes, read without importing: the cached object, or null
// (nothing pending) when the module is not loaded or its classes are unusable.
PyObject* cached_classes_of_loaded_module(PyObject* module_name, CacheCell& cell, CacheCell::Initialiser load);

// Fixed-width decimal digits into `out`; returns the end.
char* put_digits(char* out, unsigned value, int width);

// A finished ASCII text that needs no escaping, written with its quotes.
void write_plain_string(EncoderState& state, const char* text, size_t length);

}  // namespace mervanta
