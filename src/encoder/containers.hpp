// Container branches of the dispatch.
#pragma once

#include "encoder/encode.hpp"

namespace mervanta {

[[nodiscard]] bool encode_list(PyObject* list, EncoderState& state);
[[nodiscard]] bool encode_tuple(PyObject* tuple, EncoderState& state);
[[nodiscard]] bool encode_dict(PyObject* dict, EncoderState& state);
[[nodiscard]] bool encode_set(PyObject* set, EncoderState& state);

// Writes a value of an exact built-in scalar type (str, int, float, None,
// True, False) without running any Python code; no_match for other types.
[[nodiscard]] Outcome encode_plain_scalar(PyObject* value, EncoderState& state);

}  // namespace mervanta
