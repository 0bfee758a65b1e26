// UTF-8 helpers of the input preparation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mervanta {

// Strict UTF-8 validity, as the interpreter's decoder judges it.
bool is_valid_utf8(const unsigned char* bytes, size_t size);
// Decodes the UTF-8 bytes [from, to) into code points at `out` (room for
// to - from of them), ORing each into `bits`. Returns the end of the code
// points written, or nullptr when the bytes are not valid UTF-8.
uint32_t* decode_utf8(const unsigned char* from, const unsigned char* to, uint32_t* out, uint32_t& bits);
// The text without leading and trailing White_Space characters.
std::string_view trim_unicode_whitespace(std::string_view text);

}  // namespace mervanta
