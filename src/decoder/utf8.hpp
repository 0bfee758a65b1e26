// UTF-8 helpers of the input preparation.
#pragma once

#include <cstddef>
#include <string_view>

namespace mervanta {

// Strict UTF-8 validity, as the interpreter's decoder judges it.
bool is_valid_utf8(const unsigned char* bytes, size_t size);
// The text without leading and trailing White_Space characters.
std::string_view trim_unicode_whitespace(std::string_view text);

}  // namespace mervanta
