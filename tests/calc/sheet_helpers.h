// Building data sheets of both layouts in the in-memory backend, and running
// the reader's pass and then the driver's over them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "calc/driver.h"
#include "fakes/recording_frontend.h"
#include "input/reader.h"
#include "link/memory/memory.h"

namespace tersolv::testing_sheets {

using link::memory::MemoryApplication;
using link::memory::MemorySheet;

struct Bench {
  Bench() : reader(app, frontend, water, '.') { app.AddWorkbook("Data.xlsx"); }

  // A sheet with the headers of its layout and one row per entry of `rows`
  // (cell texts as a user typed them, from column 1).
  std::shared_ptr<MemorySheet> Sheet(const std::string& name, const std::vector<std::vector<std::string>>& rows) {
    auto sheet = app.AddSheet(name);
    app.ActivateSheet(name);
    const bool ternary = name == "Ternary system";
    sheet->SetText(1, 1, "Tersolv");
    sheet->SetText(2, 1, ternary ? "System definitions" : "Conditions");
    const char* headers[] = {"T, C", "P, MPa", "m(H2S)", "m(NaCl)"};
    for (int c = 0; c < (ternary ? 4 : 2); ++c) sheet->SetText(3, c + 1, headers[c]);
    for (std::size_t r = 0; r < rows.size(); ++r) {
      for (std::size_t c = 0; c < rows[r].size(); ++c) {
        sheet->UserEdit(static_cast<int>(r) + 4, static_cast<int>(c) + 1, rows[r][c]);
      }
    }
    return sheet;
  }

  // The reader's pass (must accept every row), then the driver's.
  void Run(const std::shared_ptr<MemorySheet>& sheet, unsigned threads = 1, bool extended = false) {
    ASSERT_EQ(reader.ReadWorksheet(sheet, extended), 0) << frontend.LastMessage();
    calc::DriverOptions options;
    options.Threads = threads;
    options.ExtendedRange = extended;
    calc::CalculateValues(reader, *sheet, frontend, options);
  }

  MemoryApplication app;
  fakes::RecordingFrontend frontend;
  water::WaterModel water;
  input::WorksheetReader reader;
};

inline double Number(const std::shared_ptr<MemorySheet>& sheet, int row, int column) {
  const auto value = sheet->Value(row, column);
  if (const double* d = std::get_if<double>(&value)) return *d;
  ADD_FAILURE() << "no number in cell (" << row << ", " << column << ")";
  return 0;
}

inline bool Empty(const std::shared_ptr<MemorySheet>& sheet, int row, int column) {
  return std::holds_alternative<std::monostate>(sheet->Value(row, column));
}

// |actual - expected| <= tolerance |expected| (exact when expected is 0).
inline ::testing::AssertionResult Relative(double actual, double expected, double tolerance) {
  const double error = std::abs(actual - expected);
  if (error <= tolerance * std::abs(expected)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actual << " differs from " << expected << " by "
                                       << (expected != 0 ? error / std::abs(expected) : error)
                                       << (expected != 0 ? " relative" : " absolute");
}

}  // namespace tersolv::testing_sheets
