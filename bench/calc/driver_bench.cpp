// The calculation driver alone over a full in-memory "Ternary system" sheet:
// 32767 random points over the whole default range (0..325 C, saturation
// pressure..100 MPa, m(H2S) 0..2, m(NaCl) 0..6 mol/kg), on one core and on
// all cores. The reader's pass runs once, outside the timing; each iteration
// writes into a fresh copy of the sheet.
#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <random>
#include <thread>

#include "calc/driver.h"
#include "input/reader.h"
#include "link/frontend.h"
#include "link/memory/memory.h"

namespace tersolv {
namespace {

constexpr int kPoints = 32767;

// The reader's pass over the random sheet, done once.
struct Sheet {
  Sheet() : reader(app, frontend, water, '.') {
    app.AddWorkbook("Bench.xlsx");
    auto sheet = app.AddSheet("Ternary system");
    sheet->SetText(2, 1, "System definitions");
    sheet->SetText(3, 1, "T, C");
    sheet->SetText(3, 2, "P, MPa");
    sheet->SetText(3, 3, "m(H2S)");
    sheet->SetText(3, 4, "m(NaCl)");
    std::mt19937_64 random(20261206);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int i = 0; i < kPoints; ++i) {
      const int row = i + 4;
      const double t = 325 * unit(random);
      sheet->SetNumber(row, 1, t);
      double rhoV = 0, rhoL = 0;
      const double psat = std::max(0.1, water.SaturationPressure(t + 273.15, rhoV, rhoL) / 10);
      if (unit(random) < 0.05) {
        sheet->SetText(row, 2, "sat");
      } else {
        sheet->SetNumber(row, 2, psat + (100 - psat) * unit(random));
      }
      sheet->SetNumber(row, 3, 2 * unit(random));
      sheet->SetNumber(row, 4, 6 * unit(random));
    }
    if (reader.ReadWorksheet(sheet, false) != 0 || reader.Points.PointCount != kPoints) std::abort();
  }
  link::memory::MemoryApplication app;
  link::SilentFrontend frontend;
  water::WaterModel water;
  input::WorksheetReader reader;
};

Sheet& TheSheet() {
  static Sheet sheet;
  return sheet;
}

// The rows the plain single-threaded run writes, computed once.
const std::map<std::pair<int, int>, link::memory::CellValue>& SingleThreadRows() {
  static const auto rows = [] {
    link::memory::MemoryApplication app;
    app.AddWorkbook("Reference.xlsx");
    auto out = app.AddSheet("Ternary system");
    calc::CalculateValues(TheSheet().reader, *out, TheSheet().frontend, calc::DriverOptions{});
    return out->Values();
  }();
  return rows;
}

// Largest relative difference between a sheet and the single-threaded rows
// (infinite when a cell is missing or of another kind).
double MaxRelativeDifference(const link::memory::MemorySheet& sheet) {
  const auto values = sheet.Values();
  const auto& reference = SingleThreadRows();
  if (values.size() != reference.size()) return HUGE_VAL;
  double worst = 0;
  for (const auto& [cell, value] : reference) {
    const auto found = values.find(cell);
    if (found == values.end() || found->second.index() != value.index()) return HUGE_VAL;
    if (const double* d = std::get_if<double>(&value)) {
      const double other = std::get<double>(found->second);
      if (*d != other) worst = std::max(worst, std::abs(other - *d) / std::abs(*d));
    }
  }
  return worst;
}

void BM_CalculateValues(benchmark::State& state) {
  Sheet& s = TheSheet();
  calc::DriverOptions options;
  options.Threads = static_cast<unsigned>(state.range(0));
  std::vector<std::unique_ptr<link::memory::MemoryApplication>> apps;  // freed after the timing
  for (auto _ : state) {
    state.PauseTiming();
    apps.push_back(std::make_unique<link::memory::MemoryApplication>());
    apps.back()->AddWorkbook("Out.xlsx");
    auto out = apps.back()->AddSheet("Ternary system");
    state.ResumeTiming();
    calc::CalculateValues(s.reader, *out, s.frontend, options);
    benchmark::DoNotOptimize(out->Value(kPoints + 3, 12));
  }
  auto* last = apps.back()->Sheet("Ternary system").get();
  state.counters["max_rel_diff_vs_1_thread"] = MaxRelativeDifference(*last);
  state.counters["points"] = kPoints;
}
BENCHMARK(BM_CalculateValues)
    ->Arg(1)
    ->Arg(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())))
    ->ArgName("threads")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

}  // namespace
}  // namespace tersolv
