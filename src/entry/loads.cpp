// The four load functions: arguments, input text and driver.
#include "decoder/input_text.hpp"
#include "decoder/parser.hpp"
#include "entry/entry_points.hpp"
#include "entry/signatures.hpp"
#include "runtime/lookup.hpp"

namespace mervanta {

namespace sig = signatures;

namespace {

// The four hooks, from the slots Slots names.
template <class Slots>
DecodeHooks hooks_from(const Arguments& args) {
  DecodeHooks hooks;
  hooks.object_hook = args.optional(Slots::object_hook);
  hooks.object_pairs_hook = args.optional(Slots::object_pairs_hook);
  hooks.parse_float = args.optional(Slots::parse_float);
  hooks.parse_int = args.optional(Slots::parse_int);
  return hooks;
}

// `strict` must be a bool; its value changes nothing.
template <class Slots>
bool check_strict(const Arguments& args) {
  bool strict = true;
  return to_strict_bool_or(args[Slots::strict], "strict", true, strict);
}

// Without hooks no Python code runs during the parse, so bytes are parsed
// before their UTF-8 is checked; a failed parse of invalid text is repeated
// on the repaired text, which gives the result and error of checking first.
Ref parse_without_hooks(PyObject* source) {
  OwnedText text;
  bool unchecked = false;
  if (!decode_input_text_unchecked(source, text, unchecked)) {
    return {};
  }
  const DecodeHooks none;
  Ref value = parse_json(text.data(), text.length(), none);
  if (value || !unchecked) {
    return value;
  }
  bool repaired = false;
  if (!repair_unchecked_text(text, repaired)) {
    return {};
  }
  return repaired ? parse_json(text.data(), text.length(), none) : Ref();
}

}  // namespace

Ref loads_body(const Arguments& args) {
  DecodeHooks hooks = hooks_from<sig::loads>(args);
  if (!check_strict<sig::loads>(args)) {
    return {};
  }
  if (!hooks.any()) {
    return parse_without_hooks(args[sig::loads::s]);
  }
  OwnedText text;
  if (!decode_input_text(args[sig::loads::s], text)) {
    return {};
  }
  return parse_json(text.data(), text.length(), hooks);
}

Ref load_body(const Arguments& args) {
  DecodeHooks hooks = hooks_from<sig::load>(args);
  if (!check_strict<sig::load>(args)) {
    return {};
  }
  Ref content = call_method0<names::kRead>(args[sig::load::fp]);
  if (!content) {
    return {};
  }
  OwnedText text;
  if (!str_input_text(content.get(), true, text)) {
    return {};
  }
  content.reset();
  return parse_json(text.data(), text.length(), hooks);
}

Ref deserialize_direct_fn_body(const Arguments& args) {
  DecodeHooks hooks = hooks_from<sig::deserialize>(args);
  OwnedText text;
  if (!str_input_text(args[sig::deserialize::s], false, text)) {
    return {};
  }
  return parse_json(text.data(), text.length(), hooks);
}

Ref deserialize_strict_fn_body(const Arguments& args) {
  DecodeHooks hooks = hooks_from<sig::deserialize>(args);
  OwnedText text;
  if (!str_input_text(args[sig::deserialize::s], false, text)) {
    return {};
  }
  return parse_json_strict(text.data(), text.length(), hooks);
}

}  // namespace mervanta
