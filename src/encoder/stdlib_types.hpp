// Writers for standard-library values that JSON has no form for.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "encoder/encoder_state.hpp"
#include "encoder/outcome.hpp"
#include "runtime/py_ref.hpp"

namespace mervanta {

// ISO 8601 duration text ("P1DT2H3M4S", "PT0S", "P-1DT23H59M59.999999S").
std::string format_duration(int64_t days, int64_t seconds, int64_t microseconds);

// date, time, datetime: the JSON string of value.isoformat().
[[nodiscard]] bool encode_iso_text(PyObject* value, EncoderState& state);

// timedelta: the ISO 8601 duration of its days, seconds and microseconds.
[[nodiscard]] bool encode_duration(PyObject* value, EncoderState& state);

// The type-name table: "date", "time" and "datetime" by isoformat,
// "timedelta" by its parts.
[[nodiscard]] Outcome try_encode_by_type_name(std::string_view type_name, PyObject* value, EncoderState& state);

// Enum members, written as their value.
[[nodiscard]] Outcome try_encode_enum(PyObject* value, EncoderState& state);

// Dataclass instances, written as dataclasses.asdict(value).
[[nodiscard]] Outcome try_encode_dataclass(PyObject* value, EncoderState& state);

}  // namespace mervanta

namespace mervanta {

// Values of the built-in date, time, datetime and timedelta types written
// without walking the whole dispatch. Applies only where the dispatch could
// not end anywhere else: a static type (immutable, no user code) named in the
// type-name table, with no __index__ or __float__ and none of the container,
// str or bytes bases. Returns no_match for everything else.
[[nodiscard]] Outcome try_encode_static_date_type(PyObject* value, EncoderState& state);

}  // namespace mervanta
