// The signature of every exported function, declared once as data. The
// argument matcher and its error texts read these records; the bodies index
// the matched slots with the parameter enums beside them.
#pragma once

#include "runtime/call_frame.hpp"

namespace mervanta::signatures {

// Each struct names the slots of one signature, in parameter order.
struct dumps {
  enum : size_t { obj, skipkeys, ensure_ascii, check_circular, allow_nan, cls, indent, separators, default_, sort_keys };
};
struct dump {
  enum : size_t { obj, fp, skipkeys, ensure_ascii, check_circular, allow_nan, cls, indent, separators, default_, sort_keys };
};
inline constexpr const char* kDumpsParameters[] = {"obj", "skipkeys", "ensure_ascii", "check_circular", "allow_nan", "cls", "indent", "separators", "default", "sort_keys"};
inline constexpr const char* kDumpParameters[] = {"obj", "fp", "skipkeys", "ensure_ascii", "check_circular", "allow_nan", "cls", "indent", "separators", "default", "sort_keys"};
inline constexpr Signature kDumps{"dumps", kDumpsParameters, 1, true};
inline constexpr Signature kDump{"dump", kDumpParameters, 2, true};

struct loads {
  enum : size_t { s, cls, object_hook, object_pairs_hook, parse_float, parse_int, parse_constant, strict };
};
struct load {
  enum : size_t { fp, cls, object_hook, object_pairs_hook, parse_float, parse_int, parse_constant, strict };
};
inline constexpr const char* kLoadsParameters[] = {"s", "cls", "object_hook", "object_pairs_hook", "parse_float", "parse_int", "parse_constant", "strict"};
inline constexpr const char* kLoadParameters[] = {"fp", "cls", "object_hook", "object_pairs_hook", "parse_float", "parse_int", "parse_constant", "strict"};
inline constexpr Signature kLoads{"loads", kLoadsParameters, 1, true};
inline constexpr Signature kLoad{"load", kLoadParameters, 1, true};

struct dumpb {
  enum : size_t { obj, pretty };
};
inline constexpr const char* kDumpbParameters[] = {"obj", "pretty"};
inline constexpr Signature kDumpb{"dumpb", kDumpbParameters, 1, false};

// _dumpb_with: the settings of dumps, positional, UTF-8 bytes out. skipkeys
// and check_circular sit past its parameters, so they always read as absent.
struct dumpb_with {
  enum : size_t { obj, ensure_ascii, allow_nan, indent, separators, sort_keys, default_, skipkeys, check_circular };
};
inline constexpr const char* kDumpbWithParameters[] = {"obj", "ensure_ascii", "allow_nan", "indent", "separators", "sort_keys", "default"};
inline constexpr Signature kDumpbWith{"_dumpb_with", kDumpbWithParameters, 7, false};

// dump_queryset and dump_queryset_bytes
struct queryset_dump {
  enum : size_t { queryset };
};
inline constexpr const char* kQuerysetParameters[] = {"queryset"};
inline constexpr Signature kDumpQueryset{"dump_queryset", kQuerysetParameters, 1, false};
inline constexpr Signature kDumpQuerysetBytes{"dump_queryset_bytes", kQuerysetParameters, 1, false};

// stream_dump_queryset and stream_dump_queryset_jsonl
struct stream_dump {
  enum : size_t { queryset, fp, chunk_size };
};
inline constexpr const char* kStreamParameters[] = {"queryset", "fp", "chunk_size"};
inline constexpr Signature kStreamDumpQueryset{"stream_dump_queryset", kStreamParameters, 2, false};
inline constexpr Signature kStreamDumpQuerysetJsonl{"stream_dump_queryset_jsonl", kStreamParameters, 2, false};

// deserialize_direct_fn and deserialize_strict_fn
struct deserialize {
  enum : size_t { s, object_hook, object_pairs_hook, parse_float, parse_int };
};
inline constexpr const char* kDeserializeParameters[] = {"s", "object_hook", "object_pairs_hook", "parse_float", "parse_int"};
inline constexpr Signature kDeserializeDirect{"deserialize_direct_fn", kDeserializeParameters, 1, false};
inline constexpr Signature kDeserializeStrict{"deserialize_strict_fn", kDeserializeParameters, 1, false};

}  // namespace mervanta::signatures
