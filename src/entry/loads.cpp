// The four load functions: arguments, input text and driver.
#include "decoder/input_text.hpp"
#include "entry/entry_points.hpp"
#include "decoder/parser.hpp"
#include "runtime/lookup.hpp"
#include "entry/signatures.hpp"

namespace mervanta {

namespace sig = signatures;

namespace {

// The four hooks stand in a row in both signatures: object_hook,
// object_pairs_hook, parse_float, parse_int.
static_assert(sig::kParseInt == sig::kObjectHook + 3 && sig::kObjectPairsHook == sig::kObjectHook + 1 &&
              sig::kParseFloat == sig::kObjectHook + 2);
static_assert(sig::kDeserializeParseInt == sig::kDeserializeObjectHook + 3 &&
              sig::kDeserializeObjectPairsHook == sig::kDeserializeObjectHook + 1 &&
              sig::kDeserializeParseFloat == sig::kDeserializeObjectHook + 2);

DecodeHooks hooks_from(const Arguments& args, size_t object_hook_index) {
  DecodeHooks hooks;
  hooks.object_hook = args.optional(object_hook_index);
  hooks.object_pairs_hook = args.optional(object_hook_index + 1);
  hooks.parse_float = args.optional(object_hook_index + 2);
  hooks.parse_int = args.optional(object_hook_index + 3);
  return hooks;
}

DecodeHooks loads_hooks(const Arguments& args) { return hooks_from(args, sig::kObjectHook); }
DecodeHooks deserialize_hooks(const Arguments& args) { return hooks_from(args, sig::kDeserializeObjectHook); }

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
