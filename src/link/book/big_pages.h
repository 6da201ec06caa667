// Memory for the many small and the few big blocks of an open worksheet,
// placed in 2 MB pages where the system offers them: on some machines the
// first touch of each fresh 4 KB page costs more than the work done with
// the bytes on it.
#pragma once

#include <cstddef>
#include <memory>
#include <unordered_map>
#include <vector>

namespace tersolv::link::book {

// A block of at least `capacity` bytes (rounded up to what it holds), in 2
// MB pages when it is a megabyte or more; free it with std::free.
// std::bad_alloc when there is none.
char* AllocateInBigPages(std::size_t& capacity);

// Many small blocks carved from 2 MB chunks; a freed block is handed out
// again for the next request of its size. Not thread-safe; everything goes
// when the pool does.
class BlockPool {
 public:
  BlockPool() = default;
  BlockPool(const BlockPool&) = delete;
  BlockPool& operator=(const BlockPool&) = delete;
  void* Allocate(std::size_t bytes);
  void Release(void* block, std::size_t bytes);

 private:
  struct Free {
    void operator()(char* p) const;
  };
  std::vector<std::unique_ptr<char, Free>> chunks_;
  char* next_ = nullptr;
  std::size_t left_ = 0;
  std::unordered_map<std::size_t, std::vector<void*>> released_;
};

// A standard allocator drawing from a BlockPool (for the vectors of one sheet).
template <class T>
struct PoolAllocator {
  using value_type = T;
  explicit PoolAllocator(BlockPool& pool) : Pool(&pool) {}
  template <class U>
  PoolAllocator(const PoolAllocator<U>& other) : Pool(other.Pool) {}
  T* allocate(std::size_t n) { return static_cast<T*>(Pool->Allocate(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) { Pool->Release(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const PoolAllocator<U>& other) const { return Pool == other.Pool; }
  BlockPool* Pool;
};

// A standard allocator for big arrays (rows of a sheet, their index).
template <class T>
struct BigPageAllocator {
  using value_type = T;
  BigPageAllocator() = default;
  template <class U>
  BigPageAllocator(const BigPageAllocator<U>&) {}
  T* allocate(std::size_t n) {
    std::size_t bytes = n * sizeof(T);
    return reinterpret_cast<T*>(AllocateInBigPages(bytes));
  }
  void deallocate(T* p, std::size_t) { std::free(p); }
  template <class U>
  bool operator==(const BigPageAllocator<U>&) const { return true; }
};

}  // namespace tersolv::link::book
