// Django lazy strings, model instances and querysets, reached without a
// dependency on Django: its modules are imported when a value needs them.
#pragma once

#include <cstdint>

#include "encoder/encoder_state.hpp"
#include "encoder/outcome.hpp"

namespace mervanta {

// The Promise, Model and QuerySet tests in that order; a missing Django makes
// every test a no match.
[[nodiscard]] Outcome try_encode_django(PyObject* value, EncoderState& state);

// A model instance as an object of its _meta.fields, in field order.
[[nodiscard]] bool encode_model_instance(PyObject* value, EncoderState& state);

// A queryset (any iterable) as an array of its rows.
[[nodiscard]] bool encode_queryset(PyObject* value, EncoderState& state);

}  // namespace mervanta
