#include "link/book/byte_buffer.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace tersolv::link::book {
namespace {

constexpr std::size_t kBigPage = std::size_t{2} << 20;
constexpr std::size_t kBig = std::size_t{1} << 20;  // from here on in big pages

char* Allocate(std::size_t& capacity) {
  void* memory = nullptr;
  if (capacity >= kBig) {
    capacity = (capacity + kBigPage - 1) / kBigPage * kBigPage;
    memory = std::aligned_alloc(kBigPage, capacity);
    if (memory) ::madvise(memory, capacity, MADV_HUGEPAGE);  // a hint: without it, ordinary pages
  } else {
    memory = std::malloc(capacity);
  }
  if (!memory) throw std::bad_alloc();
  return static_cast<char*>(memory);
}

}  // namespace

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
  char* data = Allocate(capacity);
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
