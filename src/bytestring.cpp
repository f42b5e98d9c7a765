#include "bytestring.h"

#include <cstring>
#include <utility>

namespace caplat {

namespace {

// Room for a typical small payload before the first growth.
constexpr size_t initial_capacity = 64;

}  // namespace

ByteString::ByteString()
    : capacity_(initial_capacity), storage_(new unsigned char[initial_capacity + 1]()) {}

void ByteString::reserve(size_t n) {
  size_t capacity = capacity_;
  while (capacity < n) capacity *= 2;
  std::unique_ptr<unsigned char[]> storage(new unsigned char[capacity + 1]);
  memcpy(storage.get(), storage_.get(), size_ + 1);
  storage_ = std::move(storage);
  capacity_ = capacity;
}

}  // namespace caplat
