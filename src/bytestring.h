#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace caplat {

// A growable byte string that a NUL always follows, whose storage only grows.
// Unlike std::string it can grow without writing the new bytes first, so that
// a decoder can write them in place.
class ByteString {
 public:
  // An empty string.
  ByteString();

  // The bytes, followed by a NUL.
  const unsigned char* data() const { return storage_.get(); }

  // The number of bytes, not counting the NUL after them.
  size_t size() const { return size_; }

  // True if the string holds no byte.
  bool empty() const { return size_ == 0; }

  // The bytes as text.
  std::string_view view() const { return {reinterpret_cast<const char*>(storage_.get()), size_}; }

  // Drops every byte; the storage is kept.
  void clear() { truncate(0); }

  // Appends one byte.
  void push_back(unsigned char c) { *extend(1) = c; }

  // Grows the string by n bytes left for the caller to write, and returns where
  // they start; truncate gives back any the caller does not write.
  unsigned char* extend(size_t n) {
    if (capacity_ - size_ < n) reserve(size_ + n);
    unsigned char* added = storage_.get() + size_;
    size_ += n;
    storage_[size_] = 0;
    return added;
  }

  // Keeps the first n bytes, n being at most the size.
  void truncate(size_t n) {
    size_ = n;
    storage_[n] = 0;
  }

 private:
  void reserve(size_t n);

  // Bytes the storage holds, not counting room for the NUL.
  size_t capacity_;
  size_t size_ = 0;
  std::unique_ptr<unsigned char[]> storage_;
};

}  // namespace caplat
