// Growing the code point array and turning it into a str of the narrowest
// kind the interpreter chooses anyway.
#include "decoder/code_points.hpp"

#include <bit>
#include <climits>
#include <cstring>
#include <cwchar>

namespace mervanta {

bool CodePoints::grow(size_t needed) {
  size_t capacity = capacity_ * 2 > needed ? capacity_ * 2 : needed;
  void* block = data_ == inline_ ? std::malloc(capacity * sizeof(uint32_t))
                                 : std::realloc(data_, capacity * sizeof(uint32_t));
  if (block == nullptr) {
    PyErr_NoMemory();
    return false;
  }
  if (data_ == inline_) {
    std::memcpy(block, inline_, size_ * sizeof(uint32_t));
  }
  data_ = static_cast<uint32_t*>(block);
  capacity_ = capacity;
  return true;
}

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

bool NarrowText::grow(size_t needed) {
  size_t capacity = capacity_ * 2 > needed ? capacity_ * 2 : needed;
  void* block = data_ == inline_ ? std::malloc(capacity) : std::realloc(data_, capacity);
  if (block == nullptr) {
    PyErr_NoMemory();
    return false;
  }
  if (data_ == inline_) {
    std::memcpy(block, inline_, size_);
  }
  data_ = static_cast<char*>(block);
  capacity_ = capacity;
  return true;
}

Ref NarrowText::make_str() const {
  return Ref::steal(PyUnicode_DecodeLatin1(data_, static_cast<Py_ssize_t>(size_), nullptr));
}

}  // namespace mervanta
