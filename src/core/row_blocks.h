// Work on the rows of a sheet in parallel, taken in order: items 0..count-1
// are computed in blocks by several threads, and the calling thread accepts
// them one by one in item order as soon as their block is done (between
// blocks of its own), so that writing to the sheet overlaps the computing.
// The worksheet reader and the calculation driver share it.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

namespace tersolv {

// Threads to use for `count` items in blocks of `block`: `requested`, or one
// per core for 0, and no more than there are blocks (at least 1).
inline unsigned BlockThreads(unsigned requested, std::size_t count, std::size_t block) {
  const unsigned threads = requested == 0 ? std::max(1u, std::thread::hardware_concurrency()) : requested;
  return static_cast<unsigned>(std::max<std::size_t>(1, std::min<std::size_t>(threads, (count + block - 1) / block)));
}

// compute(thread, i) computes item i on thread `thread` (0 is the calling
// thread; each thread keeps its own models) and returns false when the item
// failed: later items need not be computed. It must not throw. accept(i) takes item i on the
// calling thread, in order; it returns false to stop, and must stop (return
// false or throw) at a failed item, since the items after it may not have
// been computed. An exception from accept stops the workers and propagates.
template <class Compute, class Accept>
void RunRowBlocks(std::size_t count, std::size_t block, unsigned threads, Compute compute, Accept accept) {
  const std::size_t blocks = (count + block - 1) / block;
  const auto finished = std::make_unique<std::atomic<bool>[]>(blocks);
  std::atomic<std::size_t> nextBlock{0};
  std::atomic<std::size_t> firstFailure{count};
  // Computes the next block on `thread`; false when none is left.
  auto computeBlock = [&](unsigned thread) {
    const std::size_t index = nextBlock.fetch_add(1);
    const std::size_t first = index * block;
    if (first >= count || first > firstFailure.load()) return false;
    const std::size_t last = std::min(count, first + block);
    for (std::size_t i = first; i < last; ++i) {
      if (!compute(thread, i)) {
        std::size_t seen = firstFailure.load();
        while (i < seen && !firstFailure.compare_exchange_weak(seen, i)) {
        }
        break;
      }
    }
    finished[index].store(true, std::memory_order_release);
    return true;
  };
  std::size_t accepted = 0;  // blocks whose items are accepted
  auto acceptFinished = [&](bool all) {
    for (; accepted < blocks; ++accepted) {
      if (!all && !finished[accepted].load(std::memory_order_acquire)) return true;
      const std::size_t last = std::min(count, (accepted + 1) * block);
      for (std::size_t i = accepted * block; i < last; ++i)
        if (!accept(i)) return false;
    }
    return true;
  };

  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) {
    try {
      pool.emplace_back([&computeBlock, t] {
        while (computeBlock(t)) {
        }
      });
    } catch (const std::system_error&) {
      break;  // no more threads: the ones running take the rest
    }
  }
  auto stopWorkers = [&] {
    nextBlock.store(blocks);  // they stop after their current block
    for (std::thread& t : pool) t.join();
  };
  bool going = true;
  try {
    while (going && computeBlock(0)) going = acceptFinished(false);
  } catch (...) {
    stopWorkers();
    throw;
  }
  stopWorkers();
  if (going) acceptFinished(true);
}

}  // namespace tersolv
