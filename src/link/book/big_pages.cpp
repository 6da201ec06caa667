#include "link/book/big_pages.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace tersolv::link::book {
namespace {

constexpr std::size_t kBigPage = std::size_t{2} << 20;
constexpr std::size_t kBig = std::size_t{1} << 20;  // from here on in big pages

}  // namespace

char* AllocateInBigPages(std::size_t& capacity) {
  void* memory = nullptr;
  if (capacity >= kBig) {
    capacity = (capacity + kBigPage - 1) / kBigPage * kBigPage;
    memory = std::aligned_alloc(kBigPage, capacity);
    if (memory) ::madvise(memory, capacity, MADV_HUGEPAGE);  // a hint: without it, ordinary pages
  } else {
    memory = std::malloc(capacity == 0 ? 1 : capacity);
  }
  if (!memory) throw std::bad_alloc();
  return static_cast<char*>(memory);
}

void BlockPool::Free::operator()(char* p) const { std::free(p); }

void* BlockPool::Allocate(std::size_t bytes) {
  bytes = (bytes + 15) / 16 * 16;
  if (auto it = released_.find(bytes); it != released_.end() && !it->second.empty()) {
    void* block = it->second.back();
    it->second.pop_back();
    return block;
  }
  if (bytes > left_) {
    std::size_t size = std::max(bytes, kBigPage);
    chunks_.emplace_back(AllocateInBigPages(size));
    next_ = chunks_.back().get();
    left_ = size;
  }
  void* block = next_;
  next_ += bytes;
  left_ -= bytes;
  return block;
}

void BlockPool::Release(void* block, std::size_t bytes) {
  if (block) released_[(bytes + 15) / 16 * 16].push_back(block);
}

}  // namespace tersolv::link::book
