// Bodies of the load functions; each receives its matched arguments.
#pragma once

#include "module/call_frame.hpp"

namespace mervanta {

Ref loads_body(const Arguments& args);
Ref load_body(const Arguments& args);
Ref deserialize_direct_fn_body(const Arguments& args);
Ref deserialize_strict_fn_body(const Arguments& args);

}  // namespace mervanta
