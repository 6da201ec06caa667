#include "calc/driver.h"

#include <memory>
#include <vector>

#include "calc/point.h"
#include "input/row_blocks.h"

namespace tersolv::calc {
namespace {

constexpr int kFirstRow = 3;         // point i goes to row i + 3
constexpr std::size_t kBlock = 64;   // points a thread takes at a time
constexpr int kProgressEvery = 256;  // points between progress calls

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
  const unsigned threads = input::BlockThreads(options.Threads, static_cast<std::size_t>(count), kBlock);
  std::vector<std::unique_ptr<PointCalculator>> calculators;
  for (unsigned t = 0; t < threads; ++t)
    calculators.push_back(
        std::make_unique<PointCalculator>(reader.HaliteData, reader.HaliteDataSet, options.ExtendedRange));
  // Point i + 1 is item i; its row is written in sheet order by this thread.
  std::vector<PointOutcome> outcomes(static_cast<std::size_t>(count));
  input::RunRowBlocks(
      static_cast<std::size_t>(count), kBlock, threads,
      [&](unsigned thread, std::size_t i) {
        outcomes[i] = ComputePoint(*calculators[thread], reader.Points, i + 1);
        return !outcomes[i].Fault;
      },
      [&](std::size_t i) {
        const int point = static_cast<int>(i) + 1;
        WriteRow(DataSheet, point + kFirstRow, outcomes[i]);  // rethrows the point's fault
        if (options.Progress && (point % kProgressEvery == 0 || point == count)) options.Progress(point, count);
        return true;
      });
  frontend.SetCaption(SavedCaption);
  frontend.SetChanged(false);
}

}  // namespace tersolv::calc
