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
    sheet->SetText(2, 1, ternary ? "System definitions" : "Conditions");
    const char* headers[] = {"T, C", "P, MPa", "m(H2S)", "m(NaCl)"};
    for (int c = 0; c < (ternary ? 4 : 2); ++c) sheet->SetText(3, c + 1, headers[c]);
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
      for (int c = 0; c < static_cast<int>(rows[r].size()); ++c) sheet->UserEdit(r + 4, c + 1, rows[r][c]);
    }
    return sheet;
  }

  // The reader's pass (which must accept every row), then the driver's.
  void Run(const std::shared_ptr<MemorySheet>& sheet, unsigned threads = 1,
           std::function<void(int, int)> progress = {}) {
    ASSERT_EQ(reader.ReadWorksheet(sheet, false), 0) << frontend.LastMessage();
    calc::CalculateValues(reader, *sheet, frontend, {threads, std::move(progress), false});
  }

  link::memory::MemoryApplication app;
  fakes::RecordingFrontend frontend;
  water::WaterModel water;
  input::WorksheetReader reader;
};

// The number in a cell (the test fails with std::bad_variant_access if there is none).
inline double Number(const std::shared_ptr<MemorySheet>& sheet, int row, int column) {
  return std::get<double>(sheet->Value(row, column));
}

inline bool Empty(const std::shared_ptr<MemorySheet>& sheet, int row, int column) {
  return std::holds_alternative<std::monostate>(sheet->Value(row, column));
}

}  // namespace tersolv::testing_sheets
