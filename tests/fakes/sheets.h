// In-memory data sheets of both layouts for the reader's and the driver's
// tests: a workbook, a recording front end, the water model and a reader.
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

using link::memory::MemorySheet;
using Rows = std::vector<std::vector<std::string>>;

struct Bench {
  explicit Bench(char separator = '.') : app(separator), reader(app, frontend, water, separator) {
    app.AddWorkbook("Data.xlsx");
  }

  // A sheet with the headers of its layout and `rows` typed in from row 4.
  std::shared_ptr<MemorySheet> Sheet(const std::string& name, const Rows& rows) {
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

  // The reader's pass (which must accept every row), then the driver's.
  void Run(const std::shared_ptr<MemorySheet>& sheet, unsigned threads = 1) {
    ASSERT_EQ(reader.ReadWorksheet(sheet, false), 0) << frontend.LastMessage();
    calc::DriverOptions options;
    options.Threads = threads;
    calc::CalculateValues(reader, *sheet, frontend, options);
  }

  link::memory::MemoryApplication app;
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

}  // namespace tersolv::testing_sheets
