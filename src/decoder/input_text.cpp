// Turning the caller's input into the decoder's private UTF-8 text.
#include "decoder/input_text.hpp"

#include <cstring>

#include "decoder/utf8.hpp"
#include "runtime/errors.hpp"

namespace mervanta {

void OwnedText::release() noexcept {
  if (data_ != inline_) {
    std::free(data_);
  }
  data_ = nullptr;
  length_ = 0;
}

OwnedText& OwnedText::operator=(OwnedText&& other) noexcept {
  if (this == &other) {
    return *this;
  }
  release();
  if (other.data_ == other.inline_) {
    std::memcpy(inline_, other.inline_, other.length_ + kTextPadding);
    data_ = inline_;
  } else {
    data_ = other.data_;
  }
  length_ = other.length_;
  other.data_ = nullptr;
  other.length_ = 0;
  return *this;
}

bool OwnedText::assign(std::string_view bytes) {
  char* block = inline_;
  if (bytes.size() > kInline) {
    block = static_cast<char*>(std::malloc(bytes.size() + kTextPadding));
    if (block == nullptr) {
      PyErr_NoMemory();
      return false;
    }
  }
  std::memcpy(block, bytes.data(), bytes.size());
  std::memset(block + bytes.size(), 0, kTextPadding);
  release();
  data_ = block;
  length_ = bytes.size();
  return true;
}

namespace {

std::string_view view_of(const char* data, Py_ssize_t size) { return {data, static_cast<size_t>(size)}; }

// Valid UTF-8 is copied as it is; anything else through the interpreter's
// decoder with replacement, then copied from the result's UTF-8 form.
bool assign_replacing_invalid(std::string_view bytes, OwnedText& out) {
  if (is_valid_utf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size())) {
    return out.assign(bytes);
  }
  Ref decoded =
      Ref::steal(PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "replace"));
  if (!decoded) {
    return false;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(decoded.get(), &size);
  return utf8 != nullptr && out.assign(view_of(utf8, size));
}

}  // namespace

bool decode_input_text_unchecked(PyObject* source, OwnedText& out, bool& unchecked) {
  if (PyBytes_Check(source)) {
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(source, &data, &size) < 0) {
      return false;
    }
    unchecked = true;
    return out.assign(view_of(data, size));
  }
  if (PyByteArray_Check(source)) {
    unchecked = true;
    return out.assign(view_of(PyByteArray_AsString(source), PyByteArray_Size(source)));
  }
  return str_input_text(source, false, out);
}

bool repair_unchecked_text(OwnedText& text, bool& repaired) {
  repaired = false;
  std::string_view bytes(text.data(), text.length());
  if (is_valid_utf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size())) {
    return true;
  }
  PyErr_Clear();
  OwnedText fixed;
  if (!assign_replacing_invalid(bytes, fixed)) {
    return false;
  }
  text = std::move(fixed);
  repaired = true;
  return true;
}

bool str_input_text(PyObject* source, bool trim, OwnedText& out) {
  if (!PyUnicode_Check(source)) {
    return fail_not_instance(source, "str");
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(source, &size);
  if (utf8 == nullptr) {
    return false;
  }
  std::string_view text = view_of(utf8, size);
  return out.assign(trim ? trim_unicode_whitespace(text) : text);
}

bool decode_input_text(PyObject* source, OwnedText& out) {
  if (PyBytes_Check(source)) {
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(source, &data, &size) < 0) {
      return false;
    }
    return assign_replacing_invalid(view_of(data, size), out);
  }
  if (PyByteArray_Check(source)) {
    OwnedText copy;
    if (!copy.assign(view_of(PyByteArray_AsString(source), PyByteArray_Size(source)))) {
      return false;
    }
    std::string_view bytes(copy.data(), copy.length());
    if (is_valid_utf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size())) {
      out = std::move(copy);
      return true;
    }
    return assign_replacing_invalid(bytes, out);
  }
  return str_input_text(source, false, out);
}

}  // namespace mervanta
