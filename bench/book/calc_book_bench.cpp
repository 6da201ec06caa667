// `tersolv calc` on a full "Ternary system" sheet: 32767 random points over
// the default range (0 to 325 C, saturation pressure to 100 MPa, m(H2S) 0 to
// 2, m(NaCl) 0 to 6 mol/kg), as .csv and as .xlsx. Wall time of the whole
// command (start, read, calculate, save) per iteration, and the peak memory
// of the process as the counter PeakRSS_MB. Goal: at most 1.5 s and 300 MB.
// Also the same .xlsx file calculated a second time (the results already in
// place), which a user who runs a sheet again has.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "link/book/book_application.h"
#include "link/book/cell_format.h"
#include "link/book/file_io.h"
#include "link/book/writer/workbook_writer.h"
#include "water/water.h"

namespace {

using namespace tersolv::link::book;

constexpr int kPoints = 32767;

struct Point {
  double T, P, MH2S, MNaCl;  // C, MPa, mol/kg, mol/kg
};

std::vector<Point> RandomPoints() {
  std::mt19937_64 random(20261206);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  tersolv::water::WaterModel water;
  std::vector<Point> points;
  for (int i = 0; i < kPoints; ++i) {
    const double t = 325.0 * unit(random);
    double rv = 0, rl = 0;
    const double psat = std::max(0.1, 0.1 * water.SaturationPressure(t + 273.15, rv, rl));  // MPa
    const double p = psat * 1.0001 + (100.0 - psat * 1.0001) * unit(random);
    points.push_back({t, p, 2.0 * unit(random), 6.0 * unit(random)});
  }
  return points;
}

// A private folder for the files, removed at exit.
struct BenchFolder {
  BenchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tersolv-bench-XXXXXX").string();
    Path = ::mkdtemp(pattern.data());
  }
  ~BenchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
  std::filesystem::path Path;
};

const std::filesystem::path& Folder() {
  static const BenchFolder folder;
  return folder.Path;
}

// The input files, written once.
std::string Input(bool csv) {
  static const std::vector<Point> points = RandomPoints();
  const std::string path = (Folder() / (csv ? "input.csv" : "input.xlsx")).string();
  if (std::filesystem::exists(path)) return path;
  if (csv) {
    std::ofstream out(path, std::ios::binary);
    out << "Benchmark\nSystem definitions\n\"T, C\",\"P, MPa\",m(H2S),m(NaCl)\n";
    for (const Point& p : points)
      out << FormatNumber(p.T) << ',' << FormatNumber(p.P) << ',' << FormatNumber(p.MH2S) << ','
          << FormatNumber(p.MNaCl) << '\n';
  } else {
    NewSheet sheet;
    sheet.Name = "Ternary system";
    sheet.Rows = {{std::string("Benchmark")},
                  {std::string("System definitions")},
                  {std::string("T, C"), std::string("P, MPa"), std::string("m(H2S)"), std::string("m(NaCl)")}};
    for (const Point& p : points) sheet.Rows.push_back({p.T, p.P, p.MH2S, p.MNaCl});
    WriteNewWorkbookFile(path, {sheet});
  }
  return path;
}

// `tersolv calc FILE`: wall time in seconds and peak resident memory in kB;
// nullopt when it fails.
std::optional<std::pair<double, long>> RunCalc(const std::string& file) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::execl(TERSOLV_EXE, "tersolv", "calc", file.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  const auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return std::make_pair(std::chrono::duration<double>(end - start).count(), usage.ru_maxrss);
}

// The .xlsx input once calculated: what a user has who runs the sheet again.
std::string CalculatedInput() {
  const std::string path = (Folder() / "calculated.xlsx").string();
  if (!std::filesystem::exists(path)) {
    std::filesystem::copy_file(Input(false), path);
    if (!RunCalc(path)) std::filesystem::remove(path);
  }
  return path;
}

// csv:1 the .csv file; csv:0 the .xlsx file; csv:2 the .xlsx file that
// already holds the results of an earlier run.
void CalcCommand(benchmark::State& state) {
  const bool csv = state.range(0) == 1, again = state.range(0) == 2;
  const std::string input = again ? CalculatedInput() : Input(csv);
  const std::string work = (Folder() / (csv ? "Ternary system.csv" : "work.xlsx")).string();
  long peakKb = 0;
  for (auto _ : state) {
    std::filesystem::copy_file(input, work, std::filesystem::copy_options::overwrite_existing);
    const auto run = RunCalc(work);
    if (!run) {
      state.SkipWithError("tersolv calc failed");
      break;
    }
    state.SetIterationTime(run->first);
    peakKb = std::max(peakKb, run->second);
  }
  state.counters["PeakRSS_MB"] = static_cast<double>(peakKb) / 1024.0;
  state.counters["Points"] = kPoints;
  state.SetLabel(csv ? "Ternary system.csv" : again ? "work.xlsx, calculated before" : "work.xlsx");
}

BENCHMARK(CalcCommand)->Arg(1)->Arg(0)->Arg(2)->ArgName("csv")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

namespace {

// The backend alone, on the same sheet: open, then the cell traffic of a
// read and a run (write-back of 4 inputs, clearing and blackening the result
// cells, 8 results and a colour mark on every tenth row), then save. csv:2 is
// the .xlsx file that already holds results. Iterations after the first
// reuse memory the process has touched, which a fresh `tersolv calc` cannot:
// CalcCommand is the figure that counts.
void BookTraffic(benchmark::State& state) {
  const bool csv = state.range(0) == 1;
  const std::string input = state.range(0) == 2 ? CalculatedInput() : Input(csv);
  const std::string work = (Folder() / (csv ? "traffic.csv" : "traffic.xlsx")).string();
  double open = 0, edit = 0, save = 0;
  for (auto _ : state) {
    std::filesystem::copy_file(input, work, std::filesystem::copy_options::overwrite_existing);
    const auto t0 = std::chrono::steady_clock::now();
    BookApplication app;
    app.OpenWorkbook(work, false, "Ternary system");
    auto sheet = app.ActiveSheet();
    const auto t1 = std::chrono::steady_clock::now();
    for (int row = 4; row < 4 + kPoints; ++row) {
      for (int c = 1; c <= 4; ++c) benchmark::DoNotOptimize(sheet->CellText(row, c));
      for (int c = 1; c <= 4; ++c) sheet->WriteNumber(row, c, 1.0 + c);
      sheet->ClearContents(row, 5, 12);
      sheet->SetFontColor(row, 5, 12, 0);
    }
    for (int row = 4; row < 4 + kPoints; ++row) {
      const double values[] = {0.9, 1.01, 0.13, 0.0868, 1.14, 0.66, 1.036, 18.1};
      sheet->WriteNumbers(row, 7, std::span<const double>(values + 2, 4));
      sheet->WriteNumbers(row, 5, std::span<const double>(values, 2));
      sheet->WriteNumbers(row, 11, std::span<const double>(values + 6, 2));
      if (row % 10 == 0) sheet->SetFontColor(row, 5, 12, 16711680);
    }
    const auto t2 = std::chrono::steady_clock::now();
    app.Save();
    const auto t3 = std::chrono::steady_clock::now();
    open += std::chrono::duration<double>(t1 - t0).count();
    edit += std::chrono::duration<double>(t2 - t1).count();
    save += std::chrono::duration<double>(t3 - t2).count();
    state.SetIterationTime(std::chrono::duration<double>(t3 - t0).count());
  }
  state.counters["Open_s"] = benchmark::Counter(open, benchmark::Counter::kAvgIterations);
  state.counters["Edit_s"] = benchmark::Counter(edit, benchmark::Counter::kAvgIterations);
  state.counters["Save_s"] = benchmark::Counter(save, benchmark::Counter::kAvgIterations);
}

BENCHMARK(BookTraffic)->Arg(1)->Arg(0)->Arg(2)->ArgName("csv")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
