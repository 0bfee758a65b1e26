// dumps, dump and dumpb.
#include <memory>
#include <optional>

#include "entry/entry_points.hpp"
#include "entry/output.hpp"
#include "encoder/encode.hpp"
#include "runtime/lookup.hpp"
#include "entry/signatures.hpp"

namespace mervanta {

namespace sig = signatures;

namespace {

constexpr size_t kInitialCapacity = 1024;

// The keywords of dumps and dump, converted.
struct DumpOptions {
  PyObject* obj = nullptr;
  bool ensure_ascii = true;
  bool allow_nan = true;
  bool sort_keys = false;
  bool pretty = false;
  uint8_t indent_width = 0;
  std::optional<std::string> item_separator;
  std::optional<std::string> key_separator;
  PyObject* default_hook = nullptr;
};

// An indent that is not an integer 0..255 counts as no indent at all.
void read_indent(PyObject* indent, DumpOptions& options) {
  if (indent == nullptr) {
    return;
  }
  long width = PyLong_AsLong(indent);
  if (width == -1 && PyErr_Occurred()) {
    clear_no_match_error();
    return;
  }
  if (width >= 0 && width <= 255) {
    options.pretty = true;
    options.indent_width = static_cast<uint8_t>(width);
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

// obj is slot 0 for dumps; dump has fp in slot 1 and every keyword one later.
bool read_dump_options(const Arguments& args, size_t shift, DumpOptions& options) {
  bool skipkeys = false, check_circular = true;
  if (!to_strict_bool_or(args[sig::kSkipkeys + shift], "skipkeys", false, skipkeys) ||
      !to_strict_bool_or(args[sig::kEnsureAscii + shift], "ensure_ascii", true, options.ensure_ascii) ||
      !to_strict_bool_or(args[sig::kCheckCircular + shift], "check_circular", true, check_circular) ||
      !to_strict_bool_or(args[sig::kAllowNan + shift], "allow_nan", true, options.allow_nan) ||
      !to_strict_bool_or(args[sig::kSortKeys + shift], "sort_keys", false, options.sort_keys)) {
    return false;
  }
  options.obj = args[sig::kObj];
  read_indent(args.optional(sig::kIndent + shift), options);
  if (PyObject* separators = args.optional(sig::kSeparators + shift)) {
    if (!read_separator(separators, 0, options.item_separator) ||
        !read_separator(separators, 1, options.key_separator)) {
      return false;
    }
  }
  options.default_hook = args.optional(sig::kDefault + shift);
  return true;
}

void apply_layout(const DumpOptions& options, EncoderState& state, bool custom_separators) {
  state.pretty = options.pretty;
  state.indent_width = options.indent_width;
  state.ensure_ascii = options.ensure_ascii;
  state.item_separator = options.pretty ? "," : ", ";
  state.key_separator = ": ";
  if (custom_separators && options.item_separator) {
    state.item_separator = *options.item_separator;
    state.key_separator = *options.key_separator;
  }
}

// Encodes obj; when that fails with an ordinary exception and a default hook
// was given, retries once with default(obj) and the standard separators.
// Other exceptions (KeyboardInterrupt, SystemExit, ...) pass through untouched.
std::unique_ptr<EncoderState> encode_with_options(const DumpOptions& options) {
  auto state = std::make_unique<EncoderState>(kInitialCapacity);
  apply_layout(options, *state, true);
  if (encode_value(options.obj, *state, 0, options.default_hook, options.allow_nan, options.sort_keys)) {
    return state;
  }
  if (options.default_hook == nullptr || !PyErr_ExceptionMatches(PyExc_Exception)) {
    return nullptr;
  }
  state.reset();
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  Ref first_type = Ref::steal(type), first_value = Ref::steal(value), first_traceback = Ref::steal(traceback);
  Ref replacement = call_with_one(options.default_hook, options.obj);
  if (!replacement) {
    return nullptr;
  }
  auto retry = std::make_unique<EncoderState>(kInitialCapacity);
  apply_layout(options, *retry, false);
  if (!encode_value(replacement.get(), *retry, 0, options.default_hook, options.allow_nan, options.sort_keys)) {
    return nullptr;
  }
  return retry;
}

}  // namespace

Ref dumps_body(const Arguments& args) {
  DumpOptions options;
  if (!read_dump_options(args, 0, options)) {
    return {};
  }
  auto state = encode_with_options(options);
  return state ? buffer_to_str(state->buffer) : Ref();
}

Ref dump_body(const Arguments& args) {
  DumpOptions options;
  if (!read_dump_options(args, 1, options)) {
    return {};
  }
  auto state = encode_with_options(options);
  if (!state) {
    return {};
  }
  Ref written = call_method1_str(args[sig::kDumpFp], "write", state->buffer.view());
  return written ? Ref::borrow(Py_None) : Ref();
}

Ref dumpb_body(const Arguments& args) {
  bool pretty = false;
  if (!to_strict_bool_or(args[sig::kPretty], "pretty", false, pretty)) {
    return {};
  }
  EncoderState state(kInitialCapacity);
  state.pretty = pretty;
  state.indent_width = 2;
  state.ensure_ascii = false;
  state.item_separator = pretty ? "," : ", ";
  if (!encode_value(args[sig::kDumpbObj], state, 0, nullptr, true, false)) {
    return {};
  }
  return buffer_to_bytes(state.buffer);
}

}  // namespace mervanta
