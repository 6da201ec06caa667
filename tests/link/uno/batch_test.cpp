// The Calc link's cell traffic in blocks: what a batch reads and leaves in the sheet is what one call
// per cell reads and leaves; "Calculate values" through the office gives the in-memory backend's results
// bit for bit; and the outcomes of a rejected row, a failure at a point and a closed workbook.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "calc/driver.h"
#include "fakes/recording_frontend.h"
#include "fakes/sheets.h"
#include "input/reader.h"
#include "link/uno/calc_application.h"
#include "office_test.h"
#include "water/water.h"

namespace tersolv::link::uno {
namespace {

namespace fs = std::filesystem;
using testing::TestOffice;
using namespace std::string_literals;

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

// A cell of a workbook to write (assigned member by member: GCC 12 warns of the braced form).
template <class Value>
testing::Cell At(int row, int column, Value value) {
  testing::Cell cell;
  cell.Row = row;
  cell.Column = column;
  cell.Value = std::move(value);
  return cell;
}

class CalcBatch : public testing::OfficeTest {
 protected:

  // Opens a workbook of these sheets (the first one active) read-write; returns its path.
  std::string Open(const std::string& stem, const std::vector<testing::Sheet>& sheets) {
    path_ = (folder_ / (stem + ".ods")).string();
    TestOffice::WriteWorkbook(*app_, path_, sheets);
    app_->OpenWorkbook(path_, false);
    return path_;
  }

  // A sheet of a layout with these rows of input from row 4 (numbers where they read as one).
  static testing::Sheet Layout(const std::string& name, const std::vector<std::vector<std::string>>& rows) {
    const bool ternary = name == "Ternary system";
    testing::Sheet sheet{name, {At(1, 1, "Tersolv"s), At(2, 1, ternary ? "System definitions"s : "Conditions"s)}};
    const char* headers[] = {"T, C", "P, MPa", "m(H2S)", "m(NaCl)"};
    for (int c = 0; c < (ternary ? 4 : 2); ++c) sheet.Cells.push_back(At(3, c + 1, std::string(headers[c])));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
      for (int c = 0; c < static_cast<int>(rows[r].size()); ++c) {
        const std::string& typed = rows[r][c];
        char* end = nullptr;
        const double number = std::strtod(typed.c_str(), &end);
        const bool isNumber = !typed.empty() && end == typed.c_str() + typed.size();
        sheet.Cells.push_back(isNumber ? At(r + 4, c + 1, number) : At(r + 4, c + 1, typed));
      }
    }
    return sheet;
  }

  // The texts of cells (firstRow.., 1..lastColumn).
  static std::vector<std::string> Texts(Worksheet& sheet, int firstRow, int rows, int lastColumn) {
    std::vector<std::string> texts;
    for (int r = firstRow; r < firstRow + rows; ++r)
      for (int c = 1; c <= lastColumn; ++c) texts.push_back(sheet.CellText(r, c));
    return texts;
  }

  std::string path_;
};

// (What a batch leaves of plain cells and colours is in the contract suite.)
TEST_F(CalcBatch, FormulasReadInABatchAsCellByCellAndFollowItsWritesOnceItEnds) {
  const std::string path = Open("Batch", {{"Ternary system", {At(10, 2, " Sat "s)}}});
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
  std::vector<std::vector<std::string>> ternary, components;
  for (int i = 0; i < 500; ++i) {
    const std::string t = std::to_string((i * 37) % 326), p = i % 5 == 0 ? "sat" : std::to_string(15 + (i * 13) % 85);
    ternary.push_back({t, p, std::to_string((i * 7) % 30 * 0.1), std::to_string((i * 11) % 14 * 0.5)});
    components.push_back({t, p});
  }
  int numbers = 0, texts = 0, empty = 0, coloured = 0;
  for (const auto& [name, rows] : {std::pair{"Ternary system"s, ternary}, std::pair{"Components"s, components}}) {
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
    for (int r = 0; r < 500; ++r) {
      for (int c = 1; c <= 12; ++c) {
        const link::memory::CellValue e = expected->Value(r + 4, c);
        const TestOffice::Contents& a = actual[static_cast<std::size_t>(r)][static_cast<std::size_t>(c - 1)];
        const bool same = e.index() == a.index() &&
                          (e.index() == 0 || (e.index() == 1 ? std::get<1>(e) == std::get<1>(a)
                                                             : std::get<2>(e) == std::get<2>(a)));
        EXPECT_TRUE(same) << "row " << r + 4 << ", column " << c;
        if (c > 4) numbers += e.index() == 1, texts += e.index() == 2, empty += e.index() == 0;
      }
      for (int c : {5, 12}) {  // a mark colours all of a row's results
        const long office = TestOffice::FontColor(*app_, path, name, r + 4, c);
        const Rgb found = RgbColor(static_cast<int>(office >> 16) & 255, static_cast<int>(office >> 8) & 255,
                                   static_cast<int>(office & 255));
        EXPECT_EQ(found, expected->FontColor(r + 4, c)) << "row " << r + 4 << ", column " << c;
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

TEST_F(CalcBatch, ARejectedRowAFailureAtAPointAndAClosedWorkbookLeaveTheSheetAsTheyDidCellByCell) {
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < 300; ++i) rows.push_back({"25", "10", "", "1"});  // an empty molality is written as 0
  rows[3][1] = "abc";
  testing::Sheet layout = Layout("Ternary system", rows);
  for (int r = 4; r < 304; ++r) layout.Cells.push_back(At(r, 5, "old"s));
  Open("Outcomes", {layout});
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
  EXPECT_TRUE(TestOffice::Settled(*app_, path_));

  // The office refuses the writes (a protected sheet): a LinkError, and the document as it was.
  TestOffice::Protect(*app_, path_, "Ternary system", true);
  EXPECT_THROW(calc::CalculateValues(reader, *sheet, frontend), LinkError);
  EXPECT_TRUE(TestOffice::Settled(*app_, path_));
  EXPECT_EQ(sheet->CellText(153, 5), "");
  TestOffice::Protect(*app_, path_, "Ternary system", false);

  // The workbook closed in the middle of a run: a LinkError, not a hang or a crash.
  ASSERT_EQ(reader.ReadWorksheet(sheet, false), 0) << frontend.LastMessage();
  calc::DriverOptions options;
  options.Progress = [&](int done, int total) {
    if (done < total) app_->CloseActiveWorkbook();
  };
  EXPECT_THROW(calc::CalculateValues(reader, *sheet, frontend, options), LinkError);
  EXPECT_EQ(app_->WorkbookCount(), 0);
}

}  // namespace
}  // namespace tersolv::link::uno
