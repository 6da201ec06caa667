#include "link/book/byte_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "link/book/big_pages.h"

namespace tersolv::link::book {

ByteBuffer::~ByteBuffer() { std::free(data_); }

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

void ByteBuffer::reserve(std::size_t capacity) {
  if (capacity <= capacity_) return;
  char* data = AllocateInBigPages(capacity);
  if (size_ > 0) std::memcpy(data, data_, size_);
  std::free(data_);
  data_ = data;
  capacity_ = capacity;
}

void ByteBuffer::resize(std::size_t size) {
  if (size > capacity_) reserve(std::max(size, capacity_ * 2));
  size_ = size;
}

void ByteBuffer::append(std::string_view bytes) {
  if (bytes.empty()) return;
  const std::size_t at = size_;
  resize(size_ + bytes.size());
  std::memcpy(data_ + at, bytes.data(), bytes.size());
}

}  // namespace tersolv::link::book
