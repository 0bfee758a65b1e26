// dumps, dump, dumpb and the private _dumpb_with.
#include <memory>
#include <optional>

#include "encoder/encode.hpp"
#include "entry/entry_points.hpp"
#include "entry/output.hpp"
#include "entry/signatures.hpp"
#include "runtime/errors.hpp"
#include "runtime/lookup.hpp"
#include "runtime/saved_exception.hpp"

namespace mervanta {

namespace sig = signatures;

namespace {

constexpr size_t kInitialCapacity = 1024;

// An indent that is not an integer 0..255 counts as no indent at all.
void read_indent(PyObject* indent, EncoderSettings& settings) {
  if (indent == nullptr) {
    return;
  }
  long width = PyLong_AsLong(indent);
  if (width == -1 && PyErr_Occurred()) {
    clear_no_match_error();
    return;
  }
  if (width >= 0 && width <= 255) {
    settings.pretty = true;
    settings.indent_width = static_cast<uint8_t>(width);
  }
}

bool read_separator(PyObject* separators, long index, std::optional<std::string>& out) {
  Ref key = Ref::steal(PyLong_FromLong(index));
  Ref item = key ? Ref::steal(PyObject_GetItem(separators, key.get())) : Ref();
  if (!item) {
    return false;
  }
  if (!PyUnicode_Check(item.get())) {
    return fail_not_instance(item.get(), "str");
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(item.get(), &size);
  if (text == nullptr) {
    return false;
  }
  out.emplace(text, static_cast<size_t>(size));
  return true;
}

// The keywords shared by dumps and dump, converted in parameter order;
// Slots names the signature's positions.
template <class Slots>
bool read_dump_settings(const Arguments& args, EncoderSettings& settings) {
  bool skipkeys = false, check_circular = true;
  settings.ensure_ascii = true;
  if (!to_strict_bool_or(args[Slots::skipkeys], "skipkeys", false, skipkeys) ||
      !to_strict_bool_or(args[Slots::ensure_ascii], "ensure_ascii", true, settings.ensure_ascii) ||
      !to_strict_bool_or(args[Slots::check_circular], "check_circular", true, check_circular) ||
      !to_strict_bool_or(args[Slots::allow_nan], "allow_nan", true, settings.allow_nan) ||
      !to_strict_bool_or(args[Slots::sort_keys], "sort_keys", false, settings.sort_keys)) {
    return false;
  }
  read_indent(args.optional(Slots::indent), settings);
  if (PyObject* separators = args.optional(Slots::separators)) {
    if (!read_separator(separators, 0, settings.item_separator) ||
        !read_separator(separators, 1, settings.key_separator)) {
      return false;
    }
  }
  settings.default_hook = args.optional(Slots::default_);
  return true;
}

// Encodes obj; when that fails with an ordinary exception and a default hook
// was given, retries once with default(obj) and the standard separators.
// Other exceptions (KeyboardInterrupt, SystemExit, ...) pass through untouched.
std::unique_ptr<EncoderState> encode_with_retry(PyObject* obj, const EncoderSettings& settings) {
  auto state = std::make_unique<EncoderState>(settings, kInitialCapacity);
  if (encode_value(obj, *state)) {
    return state;
  }
  if (settings.default_hook == nullptr || !PyErr_ExceptionMatches(PyExc_Exception)) {
    return nullptr;
  }
  state.reset();
  SavedException first_failure;  // dropped: the retry's outcome is the answer
  Ref replacement = call_with_one(settings.default_hook, obj);
  if (!replacement) {
    return nullptr;
  }
  EncoderSettings standard_layout = settings;
  standard_layout.item_separator.reset();
  standard_layout.key_separator.reset();
  auto retry = std::make_unique<EncoderState>(standard_layout, kInitialCapacity);
  if (!encode_value(replacement.get(), *retry)) {
    return nullptr;
  }
  return retry;
}

}  // namespace

Ref dumps_body(const Arguments& args) {
  EncoderSettings settings;
  if (!read_dump_settings<sig::dumps>(args, settings)) {
    return {};
  }
  auto state = encode_with_retry(args[sig::dumps::obj], settings);
  return state ? buffer_to_str(state->buffer) : Ref();
}

// dumps as UTF-8 bytes, for callers that want bytes (no str round trip).
Ref dumpb_with_body(const Arguments& args) {
  EncoderSettings settings;
  if (!read_dump_settings<sig::dumpb_with>(args, settings)) {
    return {};
  }
  auto state = encode_with_retry(args[sig::dumpb_with::obj], settings);
  return state ? buffer_to_bytes(state->buffer) : Ref();
}

Ref dump_body(const Arguments& args) {
  EncoderSettings settings;
  if (!read_dump_settings<sig::dump>(args, settings)) {
    return {};
  }
  auto state = encode_with_retry(args[sig::dump::obj], settings);
  if (!state) {
    return {};
  }
  Ref written = call_method1_text<names::kWrite>(args[sig::dump::fp], state->buffer.view());
  return written ? Ref::borrow(Py_None) : Ref();
}

Ref dumpb_body(const Arguments& args) {
  bool pretty = false;
  if (!to_strict_bool_or(args[sig::dumpb::pretty], "pretty", false, pretty)) {
    return {};
  }
  EncoderSettings settings;
  settings.pretty = pretty;
  settings.indent_width = 2;
  EncoderState state(settings, kInitialCapacity);
  if (!encode_value(args[sig::dumpb::obj], state)) {
    return {};
  }
  return buffer_to_bytes(state.buffer);
}

}  // namespace mervanta
