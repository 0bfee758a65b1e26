// Bodies of the eleven functions; each receives its matched arguments.
#pragma once

#include "runtime/call_frame.hpp"

namespace mervanta {

Ref dumps_body(const Arguments& args);
Ref dump_body(const Arguments& args);
Ref dumpb_body(const Arguments& args);
Ref dumpb_with_body(const Arguments& args);
Ref dump_queryset_body(const Arguments& args);
Ref dump_queryset_bytes_body(const Arguments& args);
Ref stream_dump_queryset_body(const Arguments& args);
Ref stream_dump_queryset_jsonl_body(const Arguments& args);

Ref loads_body(const Arguments& args);
Ref load_body(const Arguments& args);
Ref deserialize_direct_fn_body(const Arguments& args);
Ref deserialize_strict_fn_body(const Arguments& args);

}  // namespace mervanta
