// The four load functions: arguments, input text and driver.
#include "deserializer/input_text.hpp"
#include "deserializer/load_entry_points.hpp"
#include "deserializer/parser.hpp"
#include "module/lookup.hpp"
#include "module/signatures.hpp"

namespace mervanta {

namespace sig = signatures;

namespace {

DecodeHooks loads_hooks(const Arguments& args) {
  DecodeHooks hooks;
  hooks.object_hook = args.optional(sig::kObjectHook);
  hooks.object_pairs_hook = args.optional(sig::kObjectPairsHook);
  hooks.parse_float = args.optional(sig::kParseFloat);
  hooks.parse_int = args.optional(sig::kParseInt);
  return hooks;
}

DecodeHooks deserialize_hooks(const Arguments& args) {
  DecodeHooks hooks;
  hooks.object_hook = args.optional(sig::kDeserializeObjectHook);
  hooks.object_pairs_hook = args.optional(sig::kDeserializeObjectPairsHook);
  hooks.parse_float = args.optional(sig::kDeserializeParseFloat);
  hooks.parse_int = args.optional(sig::kDeserializeParseInt);
  return hooks;
}

// `strict` must be a bool; its value changes nothing.
bool check_strict(const Arguments& args) {
  bool strict = true;
  return to_strict_bool_or(args[sig::kStrict], "strict", true, strict);
}

}  // namespace

Ref loads_body(const Arguments& args) {
  DecodeHooks hooks = loads_hooks(args);
  if (!check_strict(args)) {
    return {};
  }
  OwnedText text;
  if (!decode_input_text(args[sig::kS], text)) {
    return {};
  }
  return parse_json(text.data(), text.length(), hooks);
}

Ref load_body(const Arguments& args) {
  DecodeHooks hooks = loads_hooks(args);
  if (!check_strict(args)) {
    return {};
  }
  Ref content = call_method0(args[sig::kS], "read");
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
  DecodeHooks hooks = deserialize_hooks(args);
  OwnedText text;
  if (!str_input_text(args[sig::kText], false, text)) {
    return {};
  }
  return parse_json(text.data(), text.length(), hooks);
}

Ref deserialize_strict_fn_body(const Arguments& args) {
  DecodeHooks hooks = deserialize_hooks(args);
  OwnedText text;
  if (!str_input_text(args[sig::kText], false, text)) {
    return {};
  }
  return parse_json_strict(text.data(), text.length(), hooks);
}

}  // namespace mervanta
