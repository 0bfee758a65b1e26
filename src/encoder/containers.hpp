// Container branches of the dispatch.
#pragma once

#include "encoder/encode.hpp"
#include "encoder/plain_scalars.hpp"

namespace mervanta {

[[nodiscard]] bool encode_list(PyObject* list, EncoderState& state);
[[nodiscard]] bool encode_tuple(PyObject* tuple, EncoderState& state);
[[nodiscard]] bool encode_dict(PyObject* dict, EncoderState& state);
[[nodiscard]] bool encode_set(PyObject* set, EncoderState& state);

}  // namespace mervanta
