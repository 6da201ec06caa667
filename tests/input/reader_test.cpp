// The worksheet reader on in-memory sheets: every status with its cell, the
// pressure keywords, write-back and clearing, the decimal separator, the
// count message and the limits of a sheet.
#include "fakes/sheets.h"

namespace tersolv::input {
namespace {

using link::memory::MemorySheet;
using testing_sheets::Empty;
using testing_sheets::Number;
using testing_sheets::Rows;

// Saturation pressure of water at 25 C and 100 C, bar (IAPWS-95; IAPWS R6-95 check values).
constexpr double kSat25 = 0.031699;
constexpr double kSat100 = 1.014180;

class ReaderTest : public ::testing::Test, protected testing_sheets::Bench {
 protected:
  explicit ReaderTest(char separator = '.') : Bench(separator) {}

  std::int16_t Read(const std::shared_ptr<MemorySheet>& sheet, bool extended = false) {
    return reader.ReadWorksheet(sheet, extended);
  }

  void ExpectError(const std::shared_ptr<MemorySheet>& sheet, int status, int row, int column, bool extended = false) {
    static const char* texts[] = {"",
                                  "Unexpected error",
                                  "Format error or incorrect keyword",
                                  "Unrecognized worksheet",
                                  "T/P/D value(s) out of range",
                                  "Saturation vapor pressure does not exist",
                                  "Illegal value of m(H2S)",
                                  "Illegal value of m(NaCl)"};
    EXPECT_EQ(Read(sheet, extended), status);
    EXPECT_EQ(std::tuple(reader.ErrorCode, reader.CursorRow, reader.CursorColumn, reader.ErrorText),
              std::tuple(status, row, column, texts[status]));
    EXPECT_EQ(frontend.LastMessage(),
              "Row=" + std::to_string(row) + ", Col=" + std::to_string(column) + ": " + texts[status]);
    EXPECT_EQ(std::tuple(frontend.Messages.back().Icon, frontend.Expanded, frontend.Caption()),
              std::tuple(link::MessageIcon::Error, std::optional<bool>(false), "Tersolv"));
  }
};

class CommaReaderTest : public ReaderTest {
 protected:
  CommaReaderTest() : ReaderTest(',') {}
};

TEST_F(ReaderTest, AGoodSheetIsWrittenBackAndItsResultsCleared) {
  const struct {
    const char *t, *p;
    double bar;    // the pressure read
    bool written;  // a keyword: the pressure used is written back in MPa; a number stays as typed
  } rows[] = {
      {"25", "10", 100.0, false},
      {" 100 ", "Sat ", kSat100, true},
      {"50", "0", 1.0, true},  // "0": saturation, but not below 1 bar
      {"300", "1E2", 1000.0, false},
      {"25", "sat", kSat25, true},
      {"25", "0.0", 1.0, true},
  };
  Rows typed;
  for (const auto& r : rows) typed.push_back({r.t, r.p});
  auto sheet = Sheet("Components", typed);
  for (int c = 3; c <= 10; ++c) sheet->SetNumber(5, c, 9.0);  // stale results
  EXPECT_EQ(Read(sheet), 0);
  EXPECT_EQ(reader.Points.SheetKind, 1);
  ASSERT_EQ(reader.Points.PointCount, 6);
  for (int i = 1; const auto& r : rows) {
    EXPECT_NEAR(reader.Points.PointP[i], r.bar, 1e-5) << r.p;
    EXPECT_DOUBLE_EQ(reader.Points.PointT[i], std::stod(r.t) + 273.15);
    EXPECT_EQ(Number(sheet, i + 3, 1), std::stod(r.t));
    if (r.written) {
      EXPECT_NEAR(Number(sheet, i + 3, 2), r.bar / 10, 1e-6);
    } else {
      EXPECT_EQ(Number(sheet, i + 3, 2), std::stod(r.p));
    }
    ++i;
  }
  EXPECT_NEAR(reader.Points.PointRho[1], 1.001467, 1e-6);  // IAPWS-95 at 25 C, 10 MPa
  EXPECT_NEAR(reader.Points.PointSaturation[1].Psat, kSat25, 1e-6);  // kept for the driver
  EXPECT_EQ(sheet->CellText(6, 2), "0.1");
  for (int c = 3; c <= 10; ++c) EXPECT_TRUE(Empty(sheet, 5, c));
  EXPECT_EQ(std::tuple(frontend.Captions.front(), frontend.Caption(), frontend.LastMessage()),
            std::tuple("Reading data...", "Tersolv: Components", "Number of points:  6"));
  EXPECT_EQ(frontend.Messages.back().Icon, link::MessageIcon::Information);
  EXPECT_EQ(frontend.Expanded, std::optional<bool>(true));
  EXPECT_EQ(frontend.Watched, sheet);
  EXPECT_FALSE(frontend.Changed);
  EXPECT_GT(frontend.EventPasses, 0);

  auto ternary = Sheet("Ternary system", {{"25", "0.1", "", ""}, {"100", "10", " 0.1 ", "1E0"}});
  ternary->SetFontColor(4, 5, 12, 255);
  ternary->SetNumber(4, 12, 3.0);
  // Number cells whose number does not change are not written again: 41.17 + 273.15 - 273.15 is
  // 41.170000000000016, and 0.35 * 10 * 0.1 is not 0.35 either.
  const std::pair<int, double> numbers[] = {{1, 41.17}, {2, 0.35}, {3, 0.1}, {4, 1.1}};
  for (const auto& [column, value] : numbers) ternary->SetNumber(6, column, value);
  EXPECT_EQ(Read(ternary), 0);
  EXPECT_EQ(reader.Points.SheetKind, 2);
  EXPECT_EQ(reader.Points.PointMH2S, std::vector<double>({0, 0, 0.1, 0.1}));
  EXPECT_EQ(reader.Points.PointMNaCl, std::vector<double>({0, 0, 1, 1.1}));
  for (const auto& [c, text] : {std::pair{3, "0"}, {4, "0"}, {12, ""}}) EXPECT_EQ(ternary->CellText(4, c), text);
  EXPECT_EQ(ternary->CellText(5, 4), "1");
  for (const auto& [column, value] : numbers) EXPECT_EQ(Number(ternary, 6, column), value) << column;
  for (int c = 5; c <= 12; ++c) EXPECT_EQ(ternary->FontColor(4, c), 0u);  // marks reset to black
}

TEST_F(ReaderTest, EveryStatusAtItsCell) {
  const std::tuple<const char*, Rows, bool, int, int, int> cases[] = {  // sheet, rows, extended, status, cell
      {"components", {{"25", "10"}}, false, 3, 0, 0},
      {"Ternary System", {{"25", "10"}}, false, 3, 0, 0},
      {" Components", {{"25", "10"}}, false, 3, 0, 0},
      {"Sheet1", {{"25", "10"}}, false, 3, 0, 0},
      // Numbers a double cannot hold (too large, 0 or subnormal though not 0): out of range at their cell.
      {"Components", {{"25", "10"}, {"1e400", "10"}}, false, 4, 5, 1},
      {"Components", {{"25", "1E309"}}, true, 4, 4, 2},
      {"Components", {{"1e-400", "10"}}, false, 4, 4, 1},
      {"Components", {{"25", "1e-320"}}, false, 4, 4, 2},
      {"Components", {{"25", std::string(1 << 20, '7')}}, true, 4, 4, 2},
      {"Ternary system", {{"25", "10", "1e999", "1"}}, false, 6, 4, 3},
      {"Ternary system", {{"25", "10", "0.1", "-1e-400"}}, false, 7, 4, 4},
      {"Ternary system", {{"25", "10", "abc", "1"}}, false, 2, 4, 3},
      {"Components", {{"25 C", "10"}}, false, 2, 4, 1},
      {"Components", {{"25", "10 MPa"}}, false, 2, 4, 2},
      {"Components", {{"25", "saturated"}}, false, 2, 4, 2},
      {"Components", {{"-0.5", "10"}}, false, 4, 4, 1},
      {"Components", {{"350", "10"}}, false, 4, 4, 1},
      {"Components", {{"25", "-1"}}, false, 4, 4, 2},
      {"Components", {{"25", "-1"}}, true, 4, 4, 2},
      {"Components", {{"25", "150"}}, false, 4, 4, 2},
      {"Components", {{"400", "20"}}, true, 4, 4, 2},  // a gas-like density
      {"Components", {{"380", "sat"}}, true, 5, 4, 2},
      {"Components", {{"380", "0"}}, true, 5, 4, 2},
      {"Components", {{"-5", "sat"}}, true, 5, 4, 2},  // below the triple point
      {"Components", {{"-5", "0"}}, true, 5, 4, 2},    // where "0" must not quietly become 1 bar
      {"Ternary system", {{"25", "10", "-0.1", "1"}}, false, 6, 4, 3},
      {"Ternary system", {{"25", "10", "0.1", "-0.1"}}, false, 7, 4, 4},
  };
  for (const auto& [name, rows, extended, status, row, column] : cases) {
    SCOPED_TRACE(std::string(name) + ": " + rows.back()[0] + " | " + rows.back()[1]);
    ExpectError(Sheet(name, rows), status, row, column, extended);
  }
  ExpectError(Sheet("Components", {{"25", "10"}, {"350", "50"}}), 4, 5, 1);
  EXPECT_EQ(reader.Points.PointCount, 1);  // rows before the failure stay accepted
}

TEST_F(ReaderTest, LimitsAreIncludedAndTheExtendedRangeWidensThem) {
  EXPECT_EQ(Read(Sheet("Components", {{"325", "100"}, {"0", "100"}, {"0e-400", "10"}})), 0);
  EXPECT_EQ(reader.Points.PointT[3], 273.15);
  EXPECT_EQ(Read(Sheet("Components", {{"350", "50"}, {"25", "150"}, {"400", "50"}}), true), 0);
  EXPECT_GE(reader.Points.PointRho[3], 0.322);
}

TEST_F(ReaderTest, HeaderMismatchesFailAtTheirCellAndKeepThePreviousPoints) {
  ASSERT_EQ(Read(Sheet("Components", {{"25", "10"}, {"50", "10"}})), 0);
  const std::tuple<const char*, int, int, const char*> cases[] = {  // sheet, cell, header text
      {"Components", 2, 2, "x"},
      {"Ternary system", 3, 1, "T,C"},
      {"Ternary system", 3, 2, "P,MPa"},
      {"Ternary system", 3, 4, "m(nacl)"},
      {"Ternary system", 2, 4, " "},
      {"Ternary system", 2, 1, "System definitions "},
  };
  for (const auto& [name, row, column, text] : cases) {
    SCOPED_TRACE(text);
    auto sheet = Sheet(name, {});
    sheet->SetText(row, column, text);
    ExpectError(sheet, 2, row, column);
    EXPECT_EQ(reader.Points.PointCount, 2);
  }
  EXPECT_DOUBLE_EQ(reader.Points.PointT[2], 323.15);
  auto sheet = Sheet("Ternary system", {{"25", "10"}});
  sheet->SetText(2, 5, "notes");  // right of the header cells: not read
  sheet->SetText(1, 1, "");       // the title row: not checked
  EXPECT_EQ(Read(sheet), 0);
}

TEST_F(ReaderTest, ARejectedRowIsLeftAsTypedAndClearedOnlyBelowRowFour) {
  auto sheet = Sheet("Ternary system", {{"25", "10", "", "1"}, {"", " 10", "", "-1"}});
  for (int c = 5; c <= 12; ++c) sheet->SetNumber(4, c, 1.0), sheet->SetNumber(5, c, 1.0);
  sheet->SetText(5, 1, " 30");  // a text cell
  sheet->SetFontColor(5, 5, 12, 255);
  ExpectError(sheet, 7, 5, 4);
  EXPECT_EQ(std::get<std::string>(sheet->Value(5, 1)), " 30");  // not written back
  EXPECT_TRUE(Empty(sheet, 5, 3));
  for (int c = 5; c <= 12; ++c) {
    EXPECT_TRUE(Empty(sheet, 4, c));  // the accepted row: cleared by the write-back
    EXPECT_TRUE(Empty(sheet, 5, c));  // the failing row below row 4: cleared
    EXPECT_EQ(sheet->FontColor(5, c), 255u);  // its colour untouched
  }
  auto first = Sheet("Components", {{"25", "-5", "1", "", "", "", "", "", "", "1"}});
  ExpectError(first, 4, 4, 2);
  EXPECT_EQ(first->CellText(4, 3) + first->CellText(4, 10), "11");  // an error in the first data row does not clear it
}

TEST_F(ReaderTest, TheCountMessageOnlyWhenTheCountChanges) {
  EXPECT_EQ(Read(Sheet("Ternary system", {})), 0);
  EXPECT_TRUE(frontend.Messages.empty());  // a fresh reader has counted 0 already
  EXPECT_EQ(frontend.Expanded, std::optional<bool>(true));
  auto sheet = Sheet("Components", {{"25", "10"}, {"50", "10"}});
  EXPECT_EQ(Read(sheet) + Read(sheet), 0);
  EXPECT_EQ(frontend.Messages.size(), 1u);
  sheet->UserEdit(5, 1, "");  // a blank row ends the data
  sheet->UserEdit(6, 1, "75");
  EXPECT_EQ(Read(sheet), 0);
  EXPECT_EQ(std::tuple(reader.Points.PointCount, reader.LastPointCount), std::tuple(1, 1));
  EXPECT_EQ(frontend.LastMessage(), "Number of points:  1");
  EXPECT_EQ(Read(Sheet("Components", {})), 0);
  EXPECT_EQ(frontend.LastMessage(), "Number of points:  0");
  EXPECT_EQ(frontend.Messages.size(), 3u);
}

TEST_F(ReaderTest, AWorkbookClosedUnderTheReader) {
  auto sheet = Sheet("Components", {{"25", "10"}});
  app.AddWorkbook("Other.xlsx");
  app.AddSheet("Sheet1");
  app.CloseWorkbook(1);
  ExpectError(sheet, 1, 0, 0);
  app.CloseWorkbook(1);  // none left: the failure comes before reading and reaches the caller
  EXPECT_THROW(Read(sheet), link::LinkError);
}

TEST_F(CommaReaderTest, DecimalCommaSystem) {
  auto sheet = Sheet("Ternary system", {{"1,5", "", "0,1"}, {"1.5", "10"}});
  sheet->SetNumber(4, 2, 10.5);  // a number cell reads "10,5"
  sheet->SetText(4, 3, "0,1");   // a text
  ExpectError(sheet, 2, 5, 1);
  EXPECT_TRUE(reader.DecimalComma);
  ASSERT_EQ(reader.Points.PointCount, 1);
  EXPECT_EQ(std::tuple(reader.Points.PointT[1], reader.Points.PointP[1], reader.Points.PointMH2S[1]),
            std::tuple(274.65, 105.0, 0.1));
  EXPECT_EQ(sheet->CellText(4, 2), "10,5");
  EXPECT_TRUE(reader.IsNumberText(" -1,5E-3 "));
  EXPECT_FALSE(reader.IsNumberText("1.5") || reader.IsNumberText("1.000,5"));
}

TEST_F(ReaderTest, IsNumberTextAcceptsPlainAndExponentNotationOnly) {
  EXPECT_FALSE(reader.DecimalComma);
  for (const char* text :
       {"0", "25", "-1", "+2", " 3.5 ", "1.", ".5", "-.5", "1e3", "1E+3", "2.5e-07", "007", "1e400"}) {
    EXPECT_TRUE(reader.IsNumberText(text)) << text;
  }
  for (const char* text : {"", " ", "nan", "NaN", "inf", "-Infinity", "0x1A", "0x1p3", "1,5", "1.000,5", "1e", "1e+",
                           "e3", ".", "-", "+-1", "1 000", "1.5.", "$5", "(5)", "5%", "1d3", "١"}) {
    EXPECT_FALSE(reader.IsNumberText(text)) << text;
  }
}

// The densities of a long sheet are evaluated on several threads; the first
// failing row in sheet order still ends the reading, whatever fails later. A read
// again takes the state of unchanged rows from the last read.
TEST_F(ReaderTest, OnLongSheetsTheFirstFailingRowWinsOnAnyNumberOfThreads) {
  constexpr int kRows = 3000;
  auto longSheet = [](int badDensityRow, int badMolalityRow) {
    Rows rows;
    for (int row = 4; row < 4 + kRows; ++row) {
      const std::string t = std::to_string(row % 300) + ".5";
      rows.push_back({row == badDensityRow ? "400" : t, "20", row == badMolalityRow ? "-1" : "0.5", "1", "9"});
    }
    return rows;
  };
  std::vector<double> densities;
  for (unsigned threads : {1u, 2u, 5u}) {
    SCOPED_TRACE(threads);
    reader.Threads = threads;
    auto good = Sheet("Ternary system", longSheet(0, 0));
    ASSERT_EQ(Read(good, true), 0);
    if (densities.empty()) densities = reader.Points.PointRho;
    EXPECT_EQ(reader.Points.PointRho, densities);  // the same numbers on any number of threads
    // Read again with one row changed, the others as they were: what a first read gives.
    good->UserEdit(100, 1, "77.25");
    ASSERT_EQ(Read(good, true), 0);
    WorksheetReader first(app, frontend, water, '.');
    ASSERT_EQ(first.ReadWorksheet(good, true), 0);
    EXPECT_EQ(reader.Points.PointRho, first.Points.PointRho);
    EXPECT_EQ(reader.Points.PointSaturation[97].Psat, first.Points.PointSaturation[97].Psat);

    const std::tuple<int, int, int, int, int> cases[] = {  // density row, molality row, status, row, column
        {2500, 2600, 4, 2500, 2},                          // a gas-like density before a bad molality
        {2500, 2500, 4, 2500, 2},                          // both in one row: the density is checked first
        {2600, 2500, 6, 2500, 3},
    };
    for (const auto& [densityRow, molalityRow, status, row, column] : cases) {
      auto sheet = Sheet("Ternary system", longSheet(densityRow, molalityRow));
      ExpectError(sheet, status, row, column, true);
      EXPECT_EQ(reader.Points.PointCount, row - 4);
      EXPECT_TRUE(Empty(sheet, row - 1, 5));  // the row before is accepted, its stale result cleared...
      EXPECT_EQ(sheet->CellText(row + 1, 5), "9");  // ...and the row after is not reached
    }
  }
}

TEST_F(ReaderTest, AllRowsOfAFullSheetAndNotOneMore) {
  auto sheet = Sheet("Components", {});
  for (int row = 4; row <= 32770; ++row) sheet->SetNumber(row, 1, 25.5), sheet->SetNumber(row, 2, 10.25);
  EXPECT_EQ(Read(sheet), 0);  // 32767 points in rows 4..32770, number cells read in the system notation
  EXPECT_EQ(reader.Points.PointCount, 32767);
  EXPECT_DOUBLE_EQ(reader.Points.PointT[32767], 298.65);
  EXPECT_DOUBLE_EQ(reader.Points.PointP[32767], 102.5);
  sheet->SetNumber(32771, 1, 25.0);
  sheet->SetNumber(32771, 2, 10.0);
  ExpectError(sheet, 1, 32771, 2);  // a 32768th point is a run-time error
  EXPECT_EQ(reader.Points.PointCount, 32767);
}

}  // namespace
}  // namespace tersolv::input
