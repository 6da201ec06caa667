#include "calc/driver.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "calc/point.h"

namespace tersolv::calc {
namespace {

constexpr int kFirstRow = 3;         // point i goes to row i + 3
constexpr int kBlock = 64;           // points a worker takes at a time
constexpr int kProgressEvery = 256;  // points between progress calls (single thread)

// Writes the cells of one point's row in their order (runs of consecutive
// numbers in one call) and its colour mark; rethrows the point's error after
// the cells written before it.
void WriteRow(link::Worksheet& sheet, int row, const PointOutcome& out) {
  double run[8];
  int runStart = 0, runLength = 0;
  auto flush = [&] {
    if (runLength == 1) {
      sheet.WriteNumber(row, runStart, run[0]);
    } else if (runLength > 1) {
      sheet.WriteNumbers(row, runStart, std::span<const double>(run, static_cast<std::size_t>(runLength)));
    }
    runLength = 0;
  };
  for (int k = 0; k < out.WriteCount; ++k) {
    const CellWrite& cell = out.Writes[static_cast<std::size_t>(k)];
    if (cell.What == CellWrite::Kind::Number) {
      if (runLength > 0 && cell.Column != runStart + runLength) flush();
      if (runLength == 0) runStart = cell.Column;
      run[runLength++] = cell.Value;
      continue;
    }
    flush();
    if (cell.What == CellWrite::Kind::NotFound) {
      sheet.WriteText(row, cell.Column, "not found");
    } else {
      sheet.ClearContents(row, cell.Column, cell.Column);
    }
  }
  flush();
  if (out.Fault) std::rethrow_exception(out.Fault);
  if (out.Mark != 0) sheet.SetFontColor(row, 5, 12, out.Mark);
}

PointOutcome ComputePoint(PointCalculator& calculator, const input::PointList& points, std::size_t i) {
  const bool ternary = points.SheetKind == 2;
  return calculator.Compute(points.SheetKind, points.PointT[i], points.PointP[i], points.PointRho[i],
                            ternary ? points.PointMH2S[i] : 0.0, ternary ? points.PointMNaCl[i] : 0.0);
}

void RunSingle(const input::WorksheetReader& reader, link::Worksheet& sheet, const DriverOptions& options,
               int count) {
  PointCalculator calculator(reader.HaliteData, reader.HaliteDataSet, options.ExtendedRange);
  for (int i = 1; i <= count; ++i) {
    const PointOutcome out = ComputePoint(calculator, reader.Points, static_cast<std::size_t>(i));
    WriteRow(sheet, i + kFirstRow, out);
    if (options.Progress && (i % kProgressEvery == 0 || i == count)) options.Progress(i, count);
  }
}

// Workers take blocks of points; this thread works too and, between its
// blocks, writes the rows of the blocks finished so far in sheet order, so
// that the writing overlaps the calculation.
void RunParallel(const input::WorksheetReader& reader, link::Worksheet& sheet, const DriverOptions& options,
                 int count, unsigned threads) {
  const int blocks = (count + kBlock - 1) / kBlock;
  std::vector<PointOutcome> outcomes(static_cast<std::size_t>(count) + 1);
  const auto finished = std::make_unique<std::atomic<bool>[]>(static_cast<std::size_t>(blocks));
  std::atomic<int> nextBlock{0};
  std::atomic<int> firstFault{count + 1};  // points after a fault need not be computed
  std::atomic<int> done{0};
  // Computes the next block; false when no block is left.
  auto computeBlock = [&](PointCalculator& calculator) {
    const int block = nextBlock.fetch_add(1);
    const int first = block * kBlock + 1;
    if (first > count || first > firstFault.load()) return false;
    const int last = std::min(count, first + kBlock - 1);
    for (int i = first; i <= last; ++i) {
      PointOutcome& out = outcomes[static_cast<std::size_t>(i)];
      out = ComputePoint(calculator, reader.Points, static_cast<std::size_t>(i));
      if (out.Fault) {
        int seen = firstFault.load();
        while (i < seen && !firstFault.compare_exchange_weak(seen, i)) {
        }
        break;
      }
    }
    done.fetch_add(last - first + 1);
    finished[static_cast<std::size_t>(block)].store(true, std::memory_order_release);
    return true;
  };
  auto worker = [&] {
    PointCalculator calculator(reader.HaliteData, reader.HaliteDataSet, options.ExtendedRange);
    while (computeBlock(calculator)) {
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(threads - 1);
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker);

  int written = 0;  // blocks whose rows are written
  // Writes the rows of the finished blocks that follow the written ones; a
  // point's fault is rethrown by its row, after the rows before it.
  auto writeFinished = [&](bool all) {
    for (; written < blocks; ++written) {
      if (!all && !finished[static_cast<std::size_t>(written)].load(std::memory_order_acquire)) return;
      const int first = written * kBlock + 1;
      const int last = std::min({count, first + kBlock - 1, firstFault.load()});
      for (int i = first; i <= last; ++i) WriteRow(sheet, i + kFirstRow, outcomes[static_cast<std::size_t>(i)]);
    }
  };
  try {
    PointCalculator calculator(reader.HaliteData, reader.HaliteDataSet, options.ExtendedRange);
    while (computeBlock(calculator)) {
      if (options.Progress) options.Progress(std::min(done.load(), count), count);
      writeFinished(false);
    }
  } catch (...) {
    nextBlock.store(blocks);  // the workers stop after their current block
    for (std::thread& t : pool) t.join();
    throw;
  }
  for (std::thread& t : pool) t.join();
  writeFinished(true);
}

}  // namespace

void CalculateValues(const input::WorksheetReader& reader, link::Worksheet& DataSheet, link::Frontend& frontend,
                     const DriverOptions& options) {
  const std::string SavedCaption = frontend.Caption();
  frontend.SetCaption("Calculating...");
  const int count = reader.Points.PointCount;
  unsigned threads = options.Threads == 0 ? std::max(1u, std::thread::hardware_concurrency()) : options.Threads;
  threads = std::min<unsigned>(threads, static_cast<unsigned>(std::max(1, (count + kBlock - 1) / kBlock)));
  if (threads <= 1) {
    RunSingle(reader, DataSheet, options, count);
  } else {
    RunParallel(reader, DataSheet, options, count, threads);
  }
  frontend.SetCaption(SavedCaption);
  frontend.SetChanged(false);
}

}  // namespace tersolv::calc
