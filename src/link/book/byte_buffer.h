// A growable run of bytes for the big buffers of the .xlsx backend (a file
// as read, a package as written, deflated data). Buffers of a megabyte or
// more are placed in 2 MB pages where the system offers them: first touches
// of fresh memory in 4 KB pages can cost more than everything else done
// with the bytes. New bytes are not initialised.
#pragma once

#include <cstddef>
#include <string_view>

namespace tersolv::link::book {

class ByteBuffer {
 public:
  ByteBuffer() = default;
  explicit ByteBuffer(std::string_view bytes) { append(bytes); }
  ~ByteBuffer();
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;

  char* data() { return data_; }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  std::string_view view() const { return {data_, size_}; }

  // Room for `capacity` bytes, the contents kept (std::bad_alloc when none).
  void reserve(std::size_t capacity);
  // New bytes at the end are left as they are (uninitialised).
  void resize(std::size_t size);
  void append(std::string_view bytes);
  void clear() { size_ = 0; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0, capacity_ = 0;
};

}  // namespace tersolv::link::book
