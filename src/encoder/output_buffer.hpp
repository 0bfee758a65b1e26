// The growable UTF-8 output buffer of one encoding run. Small outputs stay in
// the buffer's own storage: no allocation, no move.
#pragma once

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

namespace mervanta {

// The block of the last run that outgrew its inline storage, kept per
// thread for the next one. Freeing it at the end of every run would release
// two large blocks together (it and the result copied out of it), and glibc
// then returns the top of its heap to the system and faults it back in on
// the next call: about ten times slower for outputs of a few hundred KiB.
class SpareBlock {
 public:
  static SpareBlock& of_this_thread() noexcept {
    thread_local SpareBlock spare;
    return spare;
  }
  SpareBlock() = default;
  SpareBlock(const SpareBlock&) = delete;
  SpareBlock& operator=(const SpareBlock&) = delete;
  ~SpareBlock() { std::free(data_); }

  // The kept block and its capacity, or null; the thread keeps none after.
  char* take(size_t& capacity) noexcept {
    char* const data = data_;
    capacity = capacity_;
    data_ = nullptr;
    capacity_ = 0;
    return data;
  }
  // Keeps the block unless one is kept already or it is too large to hold
  // on to between calls; frees it otherwise.
  void give_back(char* data, size_t capacity) noexcept {
    if (data_ == nullptr && capacity <= kLargestKept) {
      data_ = data;
      capacity_ = capacity;
    } else {
      std::free(data);
    }
  }

 private:
  static constexpr size_t kLargestKept = size_t{4} << 20;
  char* data_ = nullptr;
  size_t capacity_ = 0;
};

class OutputBuffer {
 public:
  // Throws std::bad_alloc (raised as MemoryError by the call frame).
  explicit OutputBuffer(size_t capacity) {
    if (capacity > kInline) {
      data_ = static_cast<char*>(std::malloc(capacity));
      if (data_ == nullptr) {
        throw std::bad_alloc();
      }
      capacity_ = capacity;
    }
  }
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;
  ~OutputBuffer() {
    if (data_ != inline_) {
      SpareBlock::of_this_thread().give_back(data_, capacity_);
      last_grown_size_.store(length_, std::memory_order_relaxed);
    }
  }

  const char* data() const noexcept { return data_; }
  size_t size() const noexcept { return length_; }
  size_t capacity() const noexcept { return capacity_; }
  std::string_view view() const noexcept { return {data_, length_}; }
  void clear() noexcept { length_ = 0; }

  // Makes room for n more bytes; one check per write.
  [[gnu::always_inline]] void reserve(size_t n) {
    if (capacity_ - length_ < n) {
      grow(n);
    }
  }
  // Writes into reserved room.
  char* tail() noexcept { return data_ + length_; }
  void commit(size_t n) noexcept { length_ += n; }
  void put_unchecked(char c) noexcept { data_[length_++] = c; }
  void put_unchecked(const char* bytes, size_t n) noexcept {
    std::memcpy(data_ + length_, bytes, n);
    length_ += n;
  }

  [[gnu::always_inline]] void put(char c) {
    reserve(1);
    put_unchecked(c);
  }
  [[gnu::always_inline]] void put(const char* bytes, size_t n) {
    reserve(n);
    put_unchecked(bytes, n);
  }
  void put(std::string_view text) { put(text.data(), text.size()); }

 private:
  [[gnu::noinline]] void grow(size_t n) {
    size_t wanted = length_ + n;
    if (wanted < length_) {
      throw std::bad_alloc();
    }
    size_t doubled = capacity_ > SIZE_MAX / 2 ? SIZE_MAX : capacity_ * 2;
    size_t new_capacity = doubled;
    if (new_capacity < wanted) new_capacity = wanted;
    // Outputs tend to repeat their size: growing straight past the last large
    // one skips the chain of copies that doubling makes. The margin covers
    // the room writers reserve beyond what they write; huge outputs are not
    // taken as a guide, so a small one never asks for a huge block.
    const size_t last = last_grown_size_.load(std::memory_order_relaxed);
    if (new_capacity < last && last <= kLargestSizeHint) new_capacity = last + last / 4;
    char* grown = nullptr;
    if (data_ == inline_) {
      size_t spare_capacity = 0;
      char* const spare = SpareBlock::of_this_thread().take(spare_capacity);
      if (spare != nullptr && spare_capacity >= new_capacity) {
        grown = spare;
        new_capacity = spare_capacity;
      } else {
        std::free(spare);
        grown = static_cast<char*>(std::malloc(new_capacity));
      }
    } else {
      grown = static_cast<char*>(std::realloc(data_, new_capacity));
    }
    if (grown == nullptr) {
      throw std::bad_alloc();
    }
    if (data_ == inline_) {
      std::memcpy(grown, inline_, length_);
    }
    data_ = grown;
    capacity_ = new_capacity;
  }

  static constexpr size_t kInline = 1024;
  static constexpr size_t kLargestSizeHint = size_t{64} << 20;
  // The size of the last output that outgrew the inline storage, in any thread.
  static inline std::atomic<size_t> last_grown_size_{0};
  char* data_ = inline_;
  size_t length_ = 0;
  size_t capacity_ = kInline;
  char inline_[kInline];
};

}  // namespace mervanta
