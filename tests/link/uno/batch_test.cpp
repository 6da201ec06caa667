// The Calc link's cell traffic in blocks: what a batch reads and leaves in the sheet is what one call
// per cell reads and leaves; "Calculate values" through the office gives the in-memory backend's results
// bit for bit; and the outcomes of a rejected row, a failure at a point, a protected sheet, a closed
// workbook and a killed office.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <utility>

#include "calc/driver.h"
#include "fakes/recording_frontend.h"
#include "fakes/sheets.h"
#include "input/reader.h"
#include "link/uno/calc_application.h"
#include "office_fixture.h"
#include "water/water.h"

namespace tersolv::link::uno {
namespace {

using testing::TestOffice;

// Passes every call on to `sheet`, batches included, but fails the first write into `failRow`.
class FailingRow : public Worksheet {
 public:
  FailingRow(std::shared_ptr<Worksheet> sheet, int failRow) : sheet_(std::move(sheet)), failRow_(failRow) {}
  std::string Name() const override { return sheet_->Name(); }
  std::string CellText(int row, int column) const override { return sheet_->CellText(row, column); }
  void WriteNumber(int row, int column, double value) override {
    Check(row);
    sheet_->WriteNumber(row, column, value);
  }
  void WriteText(int row, int column, const std::string& text) override {
    Check(row);
    sheet_->WriteText(row, column, text);
  }
  void WriteNumbers(int row, int column, std::span<const double> values) override {
    Check(row);
    sheet_->WriteNumbers(row, column, values);
  }
  void ClearContents(int row, int first, int last) override { sheet_->ClearContents(row, first, last); }
  void SetFontColor(int row, int first, int last, Rgb color) override { sheet_->SetFontColor(row, first, last, color); }
  void SetChangeHandler(std::function<void(const CellRange&)> handler) override {
    sheet_->SetChangeHandler(std::move(handler));
  }
  void BeginBatch() override { sheet_->BeginBatch(); }
  void EndBatch() override { sheet_->EndBatch(); }

 private:
  void Check(int row) const {
    if (row == failRow_) throw LinkError(kOtherError, "a failure at row " + std::to_string(row));
  }
  std::shared_ptr<Worksheet> sheet_;
  int failRow_;
};

using CalcBatch = testing::OfficeTest;
using testing::Layout;
using Rows = std::vector<std::vector<std::string>>;

// The texts of cells (firstRow.., 1..lastColumn).
std::vector<std::string> Texts(Worksheet& sheet, int firstRow, int rows, int lastColumn) {
  std::vector<std::string> texts;
  for (int r = firstRow; r < firstRow + rows; ++r)
    for (int c = 1; c <= lastColumn; ++c) texts.push_back(sheet.CellText(r, c));
  return texts;
}

// (What a batch leaves of plain cells and colours is in the contract suite.)
TEST_F(CalcBatch, FormulasReadInABatchAsCellByCellAndFollowItsWritesOnceItEnds) {
  const std::string path = Open("Batch", {{"Ternary system", {{10, 2, " Sat "}}}});
  const char* typed[] = {"=1/4", "=1/0", "=\"a\"&\"b\"", "2026-12-07", "=B10*2", "=Z1"};
  for (int c = 0; c < 6; ++c) TestOffice::UserEdit(*app_, path, "Ternary system", 10, 3 + c, typed[c]);
  auto sheet = app_->ActiveSheet();
  std::vector<CellRange> edits;
  sheet->SetChangeHandler([&](const CellRange& r) { edits.push_back(r); });
  app_->SetEventsEnabled(true);

  const std::vector<std::string> expected = {" Sat ", "0.25", "#DIV/0!", "ab", "46363", "#VALUE!", "0"};
  CellBatch batch(*sheet);
  std::vector<std::string> texts;
  for (int c = 2; c <= 8; ++c) texts.push_back(sheet->CellText(10, c));
  EXPECT_EQ(texts, expected);
  sheet->WriteNumber(10, 2, 7.0);
  batch.Finish();
  EXPECT_EQ(sheet->CellText(10, 7), "14");  // calculation is automatic again

  // Numbers of cells alone (every other row) each in their own row.
  CellBatch lone(*sheet);
  for (int row = 20; row < 620; row += 2) sheet->WriteNumber(row, 3, row * 0.5);
  lone.Finish();
  const auto column = TestOffice::CellContents(*app_, path, "Ternary system", 20, 619, 3);
  for (int row = 20; row < 620; ++row) {
    const TestOffice::Contents& found = column[static_cast<std::size_t>(row - 20)][2];
    EXPECT_EQ(found, row % 2 ? TestOffice::Contents() : TestOffice::Contents(row * 0.5)) << row;
  }
  app_->SetEventsEnabled(false);
  EXPECT_TRUE(edits.empty()) << "our own writes counted as the user's";
}

TEST_F(CalcBatch, CalculateValuesThroughTheOfficeGivesTheInMemoryResultsBitForBit) {
  // 500 rows of each layout over the whole range: saturated and compressed liquid, up to 2.9 mol/kg of
  // H2S and 6.5 of NaCl, so that results, "not found", empty cells and both colour marks all occur.
  Rows ternary, components;
  for (int i = 0; i < 500; ++i) {
    const std::string t = std::to_string((i * 37) % 326);
    const std::string p = i % 5 == 0 ? "sat" : std::to_string(15 + (i * 13) % 85);
    ternary.push_back({t, p, std::to_string((i * 7) % 30 * 0.1), std::to_string((i * 11) % 14 * 0.5)});
    components.push_back({t, p});
  }
  int numbers = 0, texts = 0, empty = 0, coloured = 0;
  for (const auto& [name, rows] : {std::pair<std::string, Rows>{"Ternary system", ternary}, {"Components", components}}) {
    SCOPED_TRACE(name);
    testing_sheets::Bench memory;
    auto expected = memory.Sheet(name, rows);
    memory.Run(expected);

    const std::string path = Open(name.substr(0, 4), {Layout(name, rows)});
    auto sheet = app_->ActiveSheet();
    fakes::RecordingFrontend frontend;
    water::WaterModel water;
    input::WorksheetReader reader(*app_, frontend, water, '.');
    ASSERT_EQ(reader.ReadWorksheet(sheet, false), 0) << frontend.LastMessage();
    calc::CalculateValues(reader, *sheet, frontend);

    const auto actual = TestOffice::CellContents(*app_, path, name, 4, 503, 12);
    for (int r = 4; r < 504; ++r) {
      for (int c = 1; c <= 12; ++c) {
        const link::memory::CellValue e = expected->Value(r, c);
        EXPECT_EQ(actual[std::size_t(r - 4)][std::size_t(c - 1)], e) << "row " << r << ", column " << c;
        if (c > 4) numbers += e.index() == 1, texts += e.index() == 2, empty += e.index() == 0;
      }
      for (int c : {5, 12}) {  // a mark colours all of a row's results
        const Rgb found = TestOffice::FontColor(*app_, path, name, r, c);
        EXPECT_EQ(found, expected->FontColor(r, c)) << "row " << r << ", column " << c;
        coloured += found != 0;
      }
    }
    app_->CloseActiveWorkbook();
  }
  EXPECT_GT(numbers, 4000);
  EXPECT_GT(texts, 0) << "no \"not found\"";
  EXPECT_GT(empty, 0);
  EXPECT_GT(coloured, 0);
}

TEST_F(CalcBatch, ARejectedRowAFailureAProtectedSheetAClosedWorkbookAndAKilledOfficeLeaveTheSheetAsCellByCell) {
  Rows rows(300, {"25", "10", "", "1"});  // an empty molality is written as 0
  rows[3][1] = "abc";
  testing::Sheet layout = Layout("Ternary system", rows);
  for (int r = 4; r < 304; ++r) layout.Cells.emplace_back(r, 5, "old");
  const std::string path = Open("Outcomes", {layout}), before = testing::FileBytes(path);
  auto sheet = app_->ActiveSheet();
  fakes::RecordingFrontend frontend;
  water::WaterModel water;
  input::WorksheetReader reader(*app_, frontend, water, '.');

  // The first rejected row (7) ends the reading: rows before it written back and cleared, none after.
  EXPECT_EQ(reader.ReadWorksheet(sheet, false), 2);
  EXPECT_EQ(Texts(*sheet, 6, 3, 5), std::vector<std::string>({"25", "10", "0", "1", "",   //
                                                                "25", "abc", "", "1", "",  //
                                                                "25", "10", "", "1", "old"}));

  // A failure at point 150 (row 153): the rows before it complete, later rows untouched.
  sheet->WriteText(7, 2, "10");
  ASSERT_EQ(reader.ReadWorksheet(sheet, false), 0) << frontend.LastMessage();
  FailingRow failing(sheet, 153);
  EXPECT_THROW(calc::CalculateValues(reader, failing, frontend), LinkError);
  EXPECT_NE(sheet->CellText(152, 12), "");
  EXPECT_EQ(Texts(*sheet, 153, 2, 5),  // as the reader left them
            std::vector<std::string>({"25", "10", "0", "1", "", "25", "10", "0", "1", ""}));
  EXPECT_TRUE(TestOffice::Settled(*app_, path));

  // The office refuses the writes (a protected sheet): a LinkError, and the document as it was.
  TestOffice::Protect(*app_, path, "Ternary system", true);
  EXPECT_THROW(calc::CalculateValues(reader, *sheet, frontend), LinkError);
  EXPECT_TRUE(TestOffice::Settled(*app_, path));
  EXPECT_EQ(sheet->CellText(153, 5), "");
  TestOffice::Protect(*app_, path, "Ternary system", false);

  // Interrupted after the first block of results, by the workbook closed, then by the office killed: a
  // LinkError at once, not a hang or a crash, and nothing saved half-way.
  calc::DriverOptions options;
  options.Threads = 1;
  std::function<void()> interrupt;
  options.Progress = [&](int done, int total) {
    if (done > 0 && done < total && interrupt) std::exchange(interrupt, nullptr)();
  };
  const auto run = [&] { calc::CalculateValues(reader, *sheet, frontend, options); };
  ASSERT_EQ(reader.ReadWorksheet(sheet, false), 0) << frontend.LastMessage();
  interrupt = [&] { app_->CloseActiveWorkbook(); };
  ExpectLinkError(kNoWorkbook, run);
  EXPECT_EQ(app_->WorkbookCount(), 0);  // the office still answers

  app_->OpenWorkbook(path, false);  // as it was saved, with the rejected row
  sheet = app_->ActiveSheet();
  sheet->WriteText(7, 2, "10");
  ASSERT_EQ(reader.ReadWorksheet(sheet, false), 0) << frontend.LastMessage();
  interrupt = [] { TestOffice::Shared().Kill(); };
  const auto start = std::chrono::steady_clock::now();
  ExpectLinkError(kApplicationGone, run, {"LibreOffice Calc"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  ExpectLinkError(kApplicationGone, [&] { app_->SetEventsEnabled(true); });
  EXPECT_EQ(testing::FileBytes(path), before);
}

}  // namespace
}  // namespace tersolv::link::uno
