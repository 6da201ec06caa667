#include "calc/driver.h"

#include <memory>
#include <stdexcept>
#include <vector>

#include "calc/point.h"
#include "core/row_blocks.h"
#include "layout/layout.h"

namespace tersolv::calc {
namespace {

constexpr std::size_t kBlock = 64;   // points a thread takes at a time
constexpr int kProgressEvery = 256;  // points between progress calls

// Writes the cells of one point's row in their order (runs of consecutive
// numbers in one call) and its colour mark; rethrows the point's error after
// the cells written before it.
void WriteRow(link::Worksheet& sheet, const layout::SheetLayout& layout, int row, const PointOutcome& out) {
  double run[layout::kMaxResults];
  int runStart = 0, runLength = 0;
  auto flush = [&] {
    if (runLength == 1) {
      sheet.WriteNumber(row, runStart, run[0]);
    } else if (runLength > 1) {
      sheet.WriteNumbers(row, runStart, std::span<const double>(run, static_cast<std::size_t>(runLength)));
    }
    runLength = 0;
  };
  for (std::size_t k = 0; k < out.Written; ++k) {
    const std::size_t slot = out.Order[k];
    const ResultCell& cell = out.Cells[slot];
    const int column = layout.Results[slot].Index;
    if (cell.What == ResultCell::Kind::Number) {
      if (runLength > 0 && column != runStart + runLength) flush();
      if (runLength == 0) runStart = column;
      run[runLength++] = cell.Value;
      continue;
    }
    flush();
    if (cell.What == ResultCell::Kind::NotFound) {
      sheet.WriteText(row, column, "not found");
    } else {
      sheet.ClearContents(row, column, column);
    }
  }
  flush();
  if (out.Fault) std::rethrow_exception(out.Fault);
  if (out.Mark != 0 && layout.HasMarks())
    sheet.SetFontColor(row, layout.FirstMarkedColumn(), layout.LastMarkedColumn(), out.Mark);
}

PointOutcome ComputePoint(PointCalculator& calculator, const input::PointList& points, std::size_t i) {
  const bool ternary = points.SheetKind == 2;
  if (i < points.PointSaturation.size() && points.PointSaturation[i].Psat > 0) {
    const input::PointList::Saturation& s = points.PointSaturation[i];
    calculator.Water().RememberSaturation(points.PointT[i], s.Psat, s.RhoVapour, s.RhoLiquid);
  }
  return calculator.Compute(points.SheetKind, points.PointT[i], points.PointP[i], points.PointRho[i],
                            ternary ? points.PointMH2S[i] : 0.0, ternary ? points.PointMNaCl[i] : 0.0);
}

}  // namespace

void CalculateValues(const input::WorksheetReader& reader, link::Worksheet& DataSheet, link::Frontend& frontend,
                     const DriverOptions& options) {
  const std::string SavedCaption = frontend.Caption();
  frontend.SetCaption("Calculating...");
  const int count = reader.Points.PointCount;
  const layout::SheetLayout* layout = layout::LayoutOfKind(reader.Points.SheetKind);
  if (layout == nullptr && count > 0) throw std::logic_error("points of no known layout");
  const unsigned threads = BlockThreads(options.Threads, static_cast<std::size_t>(count), kBlock);
  std::vector<std::unique_ptr<PointCalculator>> calculators;
  for (unsigned t = 0; t < threads; ++t)
    calculators.push_back(
        std::make_unique<PointCalculator>(reader.HaliteData, reader.HaliteDataSet, options.ExtendedRange));
  // Point i + 1 is item i; its row is written in sheet order by this thread.
  std::vector<PointOutcome> outcomes(static_cast<std::size_t>(count));
  link::CellBatch batch(DataSheet);  // on a failure, the rows before it still reach the sheet
  RunRowBlocks(
      static_cast<std::size_t>(count), kBlock, threads,
      [&](unsigned thread, std::size_t i) {
        outcomes[i] = ComputePoint(*calculators[thread], reader.Points, i + 1);
        return !outcomes[i].Fault;
      },
      [&](std::size_t i) {
        const int point = static_cast<int>(i) + 1;
        WriteRow(DataSheet, *layout, point + layout::kFirstPointRow - 1, outcomes[i]);  // rethrows the point's fault
        if (options.Progress && (point % kProgressEvery == 0 || point == count)) options.Progress(point, count);
        return true;
      });
  batch.Finish();
  frontend.SetCaption(SavedCaption);
  frontend.SetChanged(false);
}

}  // namespace tersolv::calc
