// Timings of the LibreOffice Calc link against a headless office.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
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

// A "Ternary system" sheet of `points` rows of input (temperatures 25..275 C,
// pressures 5..54 MPa, molalities of H2S 0..0.3 and of NaCl 0..5), open in
// the office and unsaved.
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
  const std::string path = (open.Folder / "Ternary.ods").string();
  TestOffice::WriteWorkbook(*open.App, path, {sheet});
  open.App->OpenWorkbook(path, false);
  open.Sheet = open.App->ActiveSheet();
  tersolv::link::CellBatch batch(*open.Sheet);
  for (int i = 0; i < points; ++i) {
    const double row[] = {25.0 + 0.25 * (i % 1000), 5.0 + (i % 50), 0.05 * (i % 7), 0.5 * (i % 11)};
    open.Sheet->WriteNumbers(4 + i, 1, row);
  }
  batch.Finish();
  return open;
}

// The office's resident memory (MB) and processor time (s) so far, over its
// process group.
struct OfficeUsage {
  double Megabytes = 0, CpuSeconds = 0;
};
OfficeUsage Office() {
  const long group = TestOffice::Shared().ProcessId();
  OfficeUsage usage;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos || ::getpgid(std::stoi(pid)) != group) continue;
    std::ifstream status(entry.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("VmRSS:", 0) == 0) usage.Megabytes += std::stod(line.substr(6)) / 1024.0;
    }
    std::ifstream stat(entry.path() / "stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));  // from field 3 on
    std::string field;
    double ticks = 0;
    for (int k = 3; k <= 15 && fields >> field; ++k) {
      if (k >= 14) ticks += std::stod(field);  // utime, stime
    }
    usage.CpuSeconds += ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
  }
  return usage;
}

// Passes every call through but the batch: the traffic of one call per cell.
class OneCallPerCell : public tersolv::link::Worksheet {
 public:
  explicit OneCallPerCell(std::shared_ptr<tersolv::link::Worksheet> sheet) : sheet_(std::move(sheet)) {}
  std::string Name() const override { return sheet_->Name(); }
  std::string CellText(int row, int column) const override { return sheet_->CellText(row, column); }
  void WriteNumber(int row, int column, double value) override { sheet_->WriteNumber(row, column, value); }
  void WriteText(int row, int column, const std::string& text) override { sheet_->WriteText(row, column, text); }
  void WriteNumbers(int row, int column, std::span<const double> values) override {
    sheet_->WriteNumbers(row, column, values);
  }
  void ClearContents(int row, int first, int last) override { sheet_->ClearContents(row, first, last); }
  void SetFontColor(int row, int first, int last, tersolv::link::Rgb color) override {
    sheet_->SetFontColor(row, first, last, color);
  }
  void SetChangeHandler(std::function<void(const tersolv::link::CellRange&)> handler) override {
    sheet_->SetChangeHandler(std::move(handler));
  }

 private:
  std::shared_ptr<tersolv::link::Worksheet> sheet_;
};

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

// A batch of 32767 rows whose writes do not line up: every row's result
// cells cleared, a number into column 2 of one row in state.range(0) (as a
// reader writes back "sat" where some rows hold it). Rows alike go out in
// one call; here every written row ends a run.
void BM_BatchOfInterleavedRows(benchmark::State& state) {
  OpenSheet open = Ternary(32767);
  for (auto _ : state) {
    tersolv::link::CellBatch batch(*open.Sheet);
    for (int row = 4; row < 4 + 32767; ++row) {
      if ((row - 4) % state.range(0) == 0) open.Sheet->WriteNumber(row, 2, 1.5);
      open.Sheet->ClearContents(row, 5, 12);
    }
    batch.Finish();
  }
  state.SetItemsProcessed(state.iterations() * 32767);
}
BENCHMARK(BM_BatchOfInterleavedRows)->Arg(1)->Arg(2)->Arg(16)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// "Calculate values" end to end on a sheet of state.range(0) points: read and
// checked (the input written back, the result cells cleared), then
// calculated with the results and colour marks written, on one thread as
// the panel does. state.range(1): 1 with the cell traffic in blocks (as the
// program does), 0 one call per cell.
void BM_TernarySheetEndToEnd(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    OpenSheet open = Ternary(points);
    std::shared_ptr<tersolv::link::Worksheet> sheet = open.Sheet;
    if (state.range(1) == 0) sheet = std::make_shared<OneCallPerCell>(open.Sheet);
    tersolv::fakes::RecordingFrontend frontend;
    tersolv::water::WaterModel water;
    tersolv::input::WorksheetReader reader(*open.App, frontend, water, '.');
    reader.Threads = 1;
    tersolv::calc::DriverOptions options;
    options.Threads = 1;
    const OfficeUsage before = Office();
    state.ResumeTiming();
    if (reader.ReadWorksheet(sheet, false) != 0) state.SkipWithError(frontend.LastMessage().c_str());
    tersolv::calc::CalculateValues(reader, *sheet, frontend, options);
    state.PauseTiming();
    const OfficeUsage after = Office();
    state.counters["office_MB"] = after.Megabytes;
    state.counters["office_cpu_s"] = after.CpuSeconds - before.CpuSeconds;
    fs::remove_all(open.Folder);
    state.ResumeTiming();
  }
  state.counters["per_point"] = benchmark::Counter(static_cast<double>(state.iterations() * points),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_TernarySheetEndToEnd)
    ->Args({2000, 1})
    ->Args({32767, 1})
    ->Args({2000, 0})
    ->Args({32767, 0})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The read when the panel comes back to a sheet of state.range(0) points
// whose results are in place: read, checked, the input written back and the
// result cells cleared.
void BM_ReadOnActivation(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  OpenSheet open = Ternary(points);
  tersolv::fakes::RecordingFrontend frontend;
  tersolv::water::WaterModel water;
  tersolv::input::WorksheetReader reader(*open.App, frontend, water, '.');
  if (reader.ReadWorksheet(open.Sheet, false) != 0) state.SkipWithError(frontend.LastMessage().c_str());
  tersolv::calc::CalculateValues(reader, *open.Sheet, frontend);
  const OfficeUsage before = Office();
  for (auto _ : state) {
    if (reader.ReadWorksheet(open.Sheet, false) != 0) state.SkipWithError(frontend.LastMessage().c_str());
  }
  const OfficeUsage after = Office();
  state.counters["office_MB"] = after.Megabytes;
  state.counters["office_cpu_s"] = (after.CpuSeconds - before.CpuSeconds) / static_cast<double>(state.iterations());
  fs::remove_all(open.Folder);
}
BENCHMARK(BM_ReadOnActivation)->Arg(32767)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
