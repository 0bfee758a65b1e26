// Standard Base64 (RFC 4648) with padding, written as a JSON string.
#include "encoder/writers.hpp"

namespace mervanta {

void write_base64(EncoderState& state, const unsigned char* bytes, size_t length) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t encoded = (length + 2) / 3 * 4;
  state.buffer.reserve(encoded + 2);
  char* out = state.buffer.tail();
  *out++ = '"';
  size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    uint32_t group = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    out[0] = kAlphabet[(group >> 18) & 63];
    out[1] = kAlphabet[(group >> 12) & 63];
    out[2] = kAlphabet[(group >> 6) & 63];
    out[3] = kAlphabet[group & 63];
    out += 4;
  }
  size_t rest = length - i;
  if (rest > 0) {
    uint32_t group = uint32_t{bytes[i]} << 16;
    if (rest == 2) {
      group |= uint32_t{bytes[i + 1]} << 8;
    }
    out[0] = kAlphabet[(group >> 18) & 63];
    out[1] = kAlphabet[(group >> 12) & 63];
    out[2] = rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    out[3] = '=';
    out += 4;
  }
  *out++ = '"';
  state.buffer.commit(encoded + 2);
}

}  // namespace mervanta
