// The collected characters turned into a str of the narrowest kind the
// interpreter chooses anyway.
#include "decoder/code_points.hpp"

#include <bit>
#include <climits>
#include <cstring>
#include <cwchar>

namespace mervanta {

Ref CodePoints::make_str() {
  if (bits_ < 0x100) {
    // Narrowed in place: byte i is written after code point i was read.
    // Through locals, which the byte stores cannot alias.
    const uint32_t* const points = data_;
    const size_t size = size_;
    auto* bytes = reinterpret_cast<unsigned char*>(data_);
    for (size_t i = 0; i < size; ++i) {
      bytes[i] = static_cast<unsigned char>(points[i]);
    }
    return Ref::steal(
        PyUnicode_DecodeLatin1(reinterpret_cast<const char*>(bytes), static_cast<Py_ssize_t>(size), nullptr));
  }
#if WCHAR_MAX > 0xFFFF
  static_assert(sizeof(wchar_t) == sizeof(uint32_t));
  return Ref::steal(PyUnicode_FromWideChar(reinterpret_cast<const wchar_t*>(data_), static_cast<Py_ssize_t>(size_)));
#else
  // A 16-bit wchar_t cannot hold every code point: UTF-32 in native order.
  int order = std::endian::native == std::endian::little ? -1 : 1;
  return Ref::steal(PyUnicode_DecodeUTF32(reinterpret_cast<const char*>(data_),
                                          static_cast<Py_ssize_t>(size_ * sizeof(uint32_t)), nullptr, &order));
#endif
}

Ref NarrowText::make_str() const {
  return Ref::steal(PyUnicode_DecodeLatin1(data_, static_cast<Py_ssize_t>(size_), nullptr));
}

}  // namespace mervanta
