// Timings of the LibreOffice Calc link against a headless office.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "calc/driver.h"
#include "fakes/recording_frontend.h"
#include "input/reader.h"
#include "link/uno/calc_application.h"
#include "link/uno/office_fixture.h"
#include "water/water.h"

namespace {

namespace fs = std::filesystem;
using tersolv::link::uno::CalcApplication;
using tersolv::link::uno::CalcOptions;
using tersolv::link::uno::testing::TestOffice;

fs::path TempFolder(const std::string& name) {
  const fs::path folder = fs::temp_directory_path() / ("tersolv-bench-" + std::to_string(::getpid()) + "-" + name);
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

void EndOffice(long pid) {
  if (pid <= 0) return;
  ::kill(-static_cast<pid_t>(pid), SIGKILL);
  ::waitpid(static_cast<pid_t>(pid), nullptr, 0);
}

// Office start until the first answer: a new profile folder each time,
// seeded (state.range(0) == 1) or left for the office to fill (0).
void BM_OfficeStart(benchmark::State& state) {
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path folder = TempFolder("start" + std::to_string(run));
    CalcOptions options;
    options.PipeName = "tersolv_bench_" + std::to_string(::getpid()) + "_" + std::to_string(run++);
    options.Headless = true;
    options.ProfileFolder = (folder / "profile").string();
    options.SeedProfile = state.range(0) == 1;
    options.StartTimeout = std::chrono::seconds(120);
    state.ResumeTiming();
    long pid = 0;
    {
      CalcApplication app(options);
      benchmark::DoNotOptimize(app.WorkbookCount());
      pid = app.StartedProcessId();
    }
    state.PauseTiming();
    EndOffice(pid);
    fs::remove_all(folder);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_OfficeStart)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// Attaching to a running office (connect, bridge, desktop) and letting go.
void BM_Attach(benchmark::State& state) {
  TestOffice::Shared().EnsureRunning();
  for (auto _ : state) {
    auto app = TestOffice::Shared().Attach();
    benchmark::DoNotOptimize(app->WorkbookCount());
  }
}
BENCHMARK(BM_Attach)->Unit(benchmark::kMillisecond)->UseRealTime();

struct OpenSheet {
  std::unique_ptr<CalcApplication> App;
  std::shared_ptr<tersolv::link::Worksheet> Sheet;
  fs::path Folder;
};

OpenSheet Ternary(int points) {
  TestOffice::Shared().EnsureRunning();
  OpenSheet open{TestOffice::Shared().Attach(), nullptr, TempFolder("sheet")};
  TestOffice::CloseAllDocuments(*open.App);
  tersolv::link::uno::testing::Sheet sheet;
  sheet.Name = "Ternary system";
  const struct {
    int Row, Column;
    const char* Text;
  } headers[] = {{1, 1, "Tersolv"}, {2, 1, "System definitions"}, {3, 1, "T, C"}, {3, 2, "P, MPa"}, {3, 3, "m(H2S)"},
                 {3, 4, "m(NaCl)"}};
  for (const auto& h : headers) {
    tersolv::link::uno::testing::Cell cell;
    cell.Row = h.Row;
    cell.Column = h.Column;
    cell.Value = std::string(h.Text);
    sheet.Cells.push_back(cell);
  }
  for (int i = 0; i < points; ++i) {
    sheet.Cells.push_back({4 + i, 1, 25.0 + 0.25 * (i % 1000)});
    sheet.Cells.push_back({4 + i, 2, 5.0 + (i % 50)});
    sheet.Cells.push_back({4 + i, 3, 0.05 * (i % 7)});
    sheet.Cells.push_back({4 + i, 4, 0.5 * (i % 11)});
  }
  const std::string path = (open.Folder / "Ternary.ods").string();
  TestOffice::WriteWorkbook(*open.App, path, {sheet});
  open.App->OpenWorkbook(path, false);
  open.Sheet = open.App->ActiveSheet();
  return open;
}

void BM_WriteNumberOneByOne(benchmark::State& state) {
  OpenSheet open = Ternary(0);
  int row = 4;
  for (auto _ : state) {
    open.Sheet->WriteNumber(row, 5, 0.1 * row);
    if (++row > 10000) row = 4;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteNumberOneByOne)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_WriteNumbersPerRow(benchmark::State& state) {
  OpenSheet open = Ternary(0);
  const double values[8] = {1.1, 2.2, 3.3, 4.4, 5.5, 6.6, 7.7, 8.8};
  int row = 4;
  for (auto _ : state) {
    open.Sheet->WriteNumbers(row, 5, values);
    if (++row > 10000) row = 4;
  }
  state.SetItemsProcessed(state.iterations() * 8);
}
BENCHMARK(BM_WriteNumbersPerRow)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_CellText(benchmark::State& state) {
  OpenSheet open = Ternary(10);
  int row = 4;
  for (auto _ : state) {
    benchmark::DoNotOptimize(open.Sheet->CellText(row, 1));
    if (++row > 13) row = 4;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CellText)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A 1000-point "Ternary system" sheet: read and checked, then calculated
// with the results written cell by cell, as "Calculate values" does.
void BM_TernarySheetEndToEnd(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    OpenSheet open = Ternary(points);
    tersolv::fakes::RecordingFrontend frontend;
    tersolv::water::WaterModel water;
    tersolv::input::WorksheetReader reader(*open.App, frontend, water, '.');
    tersolv::calc::DriverOptions options;
    options.Threads = 1;
    state.ResumeTiming();
    if (reader.ReadWorksheet(open.Sheet, false) != 0) state.SkipWithError(frontend.LastMessage().c_str());
    tersolv::calc::CalculateValues(reader, *open.Sheet, frontend, options);
    state.PauseTiming();
    fs::remove_all(open.Folder);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * points);
}
BENCHMARK(BM_TernarySheetEndToEnd)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
