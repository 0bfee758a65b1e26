// Container branches of the dispatch.
#pragma once

#include "encoder/encode.hpp"

namespace mervanta {

[[nodiscard]] bool encode_list(PyObject* list, EncoderState& state, uint64_t depth, PyObject* default_hook,
                               bool allow_nan, bool sort_keys);
[[nodiscard]] bool encode_tuple(PyObject* tuple, EncoderState& state, uint64_t depth, PyObject* default_hook,
                                bool allow_nan, bool sort_keys);
[[nodiscard]] bool encode_dict(PyObject* dict, EncoderState& state, uint64_t depth, PyObject* default_hook,
                               bool allow_nan, bool sort_keys);
[[nodiscard]] bool encode_set(PyObject* set, EncoderState& state, uint64_t depth, PyObject* default_hook,
                              bool allow_nan, bool sort_keys);

// Writes a value of an exact built-in scalar type (str, int, float, None,
// True, False) without running any Python code. Returns false with *handled
// false when the value is of another type.
[[nodiscard]] bool encode_plain_scalar(PyObject* value, EncoderState& state, bool allow_nan, bool& handled);

}  // namespace mervanta
