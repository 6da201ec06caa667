// The worksheet reader on an in-memory sheet: layouts, headers, every status
// with its cell, the pressure keywords, write-back and clearing, the decimal
// separator, the count message and the limits of a sheet.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "fakes/recording_frontend.h"
#include "input/reader.h"
#include "link/memory/memory.h"

namespace tersolv::input {
namespace {

using link::memory::MemoryApplication;
using link::memory::MemorySheet;

// Saturation pressure of water at 25 C and 100 C (IAPWS-95, Wagner and
// Pruss 2002, Table 8.1 / IAPWS R6-95 check values): bar.
constexpr double kSat25 = 0.031699;
constexpr double kSat100 = 1.014180;

class ReaderTest : public ::testing::Test {
 protected:
  explicit ReaderTest(char separator = '.') : app_(separator), reader_(app_, frontend_, water_, separator) {
    app_.AddWorkbook("Data.xlsx");
  }

  // A sheet of the layout `name` with the proper headers and the data rows
  // (row 4 on), texts as a user would have typed them.
  std::shared_ptr<MemorySheet> Sheet(const std::string& name, const std::vector<std::vector<std::string>>& rows) {
    auto sheet = app_.AddSheet(name);
    app_.ActivateSheet(name);
    const bool ternary = name != "Components";
    sheet->SetText(1, 1, "Tersolv data");
    sheet->SetText(2, 1, ternary ? "System definitions" : "Conditions");
    const char* headers[] = {"T, C", "P, MPa", "m(H2S)", "m(NaCl)"};
    for (int c = 0; c < (ternary ? 4 : 2); ++c) sheet->SetText(3, c + 1, headers[c]);
    int row = 4;
    for (const auto& cells : rows) {
      for (std::size_t c = 0; c < cells.size(); ++c) sheet->UserEdit(row, static_cast<int>(c) + 1, cells[c]);
      ++row;
    }
    return sheet;
  }

  std::int16_t Read(const std::shared_ptr<MemorySheet>& sheet, bool extended = false) {
    return reader_.ReadWorksheet(sheet, extended);
  }

  void ExpectError(const std::shared_ptr<MemorySheet>& sheet, int status, int row, int column,
                   bool extended = false) {
    EXPECT_EQ(Read(sheet, extended), status);
    EXPECT_EQ(reader_.ErrorCode, status);
    EXPECT_EQ(reader_.CursorRow, row);
    EXPECT_EQ(reader_.CursorColumn, column);
    static const char* texts[] = {"",
                                  "Unexpected error",
                                  "Format error or incorrect keyword",
                                  "Unrecognized worksheet",
                                  "T/P/D value(s) out of range",
                                  "Saturation vapor pressure does not exist",
                                  "Illegal value of m(H2S)",
                                  "Illegal value of m(NaCl)"};
    EXPECT_EQ(reader_.ErrorText, texts[status]);
    EXPECT_EQ(frontend_.LastMessage(),
              "Row=" + std::to_string(row) + ", Col=" + std::to_string(column) + ": " + texts[status]);
    EXPECT_EQ(frontend_.Messages.back().Icon, link::MessageIcon::Error);
    EXPECT_EQ(frontend_.Expanded, std::optional<bool>(false));
    EXPECT_EQ(frontend_.Caption(), "Tersolv");
  }

  static double Number(const std::shared_ptr<MemorySheet>& sheet, int row, int column) {
    return std::get<double>(sheet->Value(row, column));
  }
  static bool Empty(const std::shared_ptr<MemorySheet>& sheet, int row, int column) {
    return std::holds_alternative<std::monostate>(sheet->Value(row, column));
  }

  MemoryApplication app_;
  fakes::RecordingFrontend frontend_;
  water::WaterModel water_;
  WorksheetReader reader_;
};

class CommaReaderTest : public ReaderTest {
 protected:
  CommaReaderTest() : ReaderTest(',') {}
};

TEST_F(ReaderTest, AGoodComponentsSheet) {
  auto sheet = Sheet("Components", {{"25", "10"}, {" 100 ", "Sat "}, {"50", "0"}, {"300", "1E2"}});
  for (int c = 3; c <= 10; ++c) sheet->SetNumber(5, c, 9.0);  // stale results
  EXPECT_EQ(Read(sheet), 0);
  EXPECT_EQ(reader_.ErrorText, "");
  EXPECT_EQ(reader_.Points.SheetKind, 1);
  ASSERT_EQ(reader_.Points.PointCount, 4);
  ASSERT_EQ(reader_.Points.PointT.size(), 5u);
  EXPECT_DOUBLE_EQ(reader_.Points.PointT[1], 298.15);
  EXPECT_DOUBLE_EQ(reader_.Points.PointP[1], 100.0);
  EXPECT_NEAR(reader_.Points.PointRho[1], 1.001467, 1e-6);  // IAPWS-95 at 25 C, 10 MPa
  EXPECT_NEAR(reader_.Points.PointP[2], kSat100, 1e-5);
  EXPECT_DOUBLE_EQ(reader_.Points.PointP[3], 1.0);  // "0": saturation, not below 1 bar
  EXPECT_DOUBLE_EQ(reader_.Points.PointP[4], 1000.0);
  // Normalised input written back as numbers, results cleared.
  EXPECT_DOUBLE_EQ(Number(sheet, 5, 1), 100.0);
  EXPECT_NEAR(Number(sheet, 5, 2), kSat100 / 10, 1e-6);
  EXPECT_EQ(sheet->CellText(6, 2), "0.1");
  EXPECT_EQ(sheet->CellText(7, 2), "100");
  for (int c = 3; c <= 10; ++c) EXPECT_TRUE(Empty(sheet, 5, c));
  EXPECT_EQ(frontend_.Caption(), "Tersolv: Components");
  EXPECT_EQ(frontend_.Expanded, std::optional<bool>(true));
  EXPECT_EQ(frontend_.LastMessage(), "Number of points:  4");
  EXPECT_EQ(frontend_.Messages.back().Icon, link::MessageIcon::Information);
  EXPECT_EQ(reader_.WorkbookName, "Data.xlsx");
  EXPECT_EQ(reader_.SheetName, "Components");
  EXPECT_EQ(frontend_.Watched, sheet);
  EXPECT_FALSE(frontend_.Changed);
  EXPECT_EQ(frontend_.Captions.front(), "Reading data...");
  EXPECT_EQ(frontend_.Log.back(), "events");
  EXPECT_TRUE(reader_.HaliteDataSet);
  const double halite[7] = {-384160.0, 72.132, 2.7015, 44.6, 0.032, 0, 0};
  for (int k = 0; k < 7; ++k) EXPECT_EQ(reader_.HaliteData.Values[k], halite[k]);
}

TEST_F(ReaderTest, SaturationKeywordsAtRoomTemperature) {
  auto sheet = Sheet("Components", {{"25", "Sat "}, {"25", "0"}, {"25", "0.0"}, {"25", "sat"}});
  EXPECT_EQ(Read(sheet), 0);
  EXPECT_NEAR(reader_.Points.PointP[1], kSat25, 1e-5);
  EXPECT_EQ(reader_.Points.PointP[1], reader_.Points.PointP[4]);
  EXPECT_NEAR(Number(sheet, 4, 2), kSat25 / 10, 1e-6);
  EXPECT_EQ(reader_.Points.PointP[2], 1.0);
  EXPECT_EQ(reader_.Points.PointP[3], 1.0);
  EXPECT_EQ(sheet->CellText(5, 2), "0.1");
  EXPECT_EQ(sheet->CellText(6, 2), "0.1");
}

TEST_F(ReaderTest, TernarySheetWithEmptyMolalities) {
  auto sheet = Sheet("Ternary system", {{"25", "0.1", "", ""}, {"100", "10", " 0.1 ", "1E0"}});
  sheet->SetFontColor(4, 5, 12, 255);
  sheet->SetNumber(4, 12, 3.0);
  EXPECT_EQ(Read(sheet), 0);
  EXPECT_EQ(reader_.Points.SheetKind, 2);
  ASSERT_EQ(reader_.Points.PointCount, 2);
  EXPECT_EQ(reader_.Points.PointMH2S[1], 0.0);
  EXPECT_EQ(reader_.Points.PointMNaCl[1], 0.0);
  EXPECT_EQ(reader_.Points.PointMH2S[2], 0.1);
  EXPECT_EQ(reader_.Points.PointMNaCl[2], 1.0);
  EXPECT_EQ(sheet->CellText(4, 3), "0");
  EXPECT_EQ(sheet->CellText(4, 4), "0");
  EXPECT_EQ(sheet->CellText(5, 4), "1");
  EXPECT_TRUE(Empty(sheet, 4, 12));
  for (int c = 5; c <= 12; ++c) EXPECT_EQ(sheet->FontColor(4, c), 0u);  // marks reset to black
  EXPECT_EQ(frontend_.Caption(), "Tersolv: Ternary system");
}

TEST_F(ReaderTest, UnrecognisedSheetNames) {
  for (const char* name : {"components", "Ternary System", " Components", "Sheet1"}) {
    SCOPED_TRACE(name);
    auto sheet = Sheet(name, {{"25", "10"}});
    ExpectError(sheet, 3, 0, 0);
    EXPECT_EQ(reader_.Points.SheetKind, 0);
    EXPECT_EQ(sheet->CellText(4, 1), "25");
  }
}

TEST_F(ReaderTest, HeaderMismatchesFailAtTheirCell) {
  auto a = Sheet("Components", {{"25", "10"}});
  a->SetText(2, 2, "x");
  ExpectError(a, 2, 2, 2);
  EXPECT_TRUE(reader_.HaliteDataSet);  // set before the headers are checked

  auto b = Sheet("Ternary system", {{"25", "10"}});
  b->SetText(3, 1, "T,C");
  ExpectError(b, 2, 3, 1);
  b->SetText(3, 1, "T, C");
  b->SetText(3, 4, "m(nacl)");
  ExpectError(b, 2, 3, 4);
  b->SetText(3, 4, "m(NaCl)");
  b->SetText(2, 4, " ");
  ExpectError(b, 2, 2, 4);
  b->SetText(2, 4, "");
  b->SetText(2, 1, "System definitions ");
  ExpectError(b, 2, 2, 1);
  b->SetText(2, 1, "System definitions");
  b->SetText(2, 5, "notes");  // right of the header cells: not read
  b->SetText(1, 1, "");       // title row: not checked
  EXPECT_EQ(Read(b), 0);
}

TEST_F(ReaderTest, HeaderErrorKeepsThePreviousPointList) {
  auto good = Sheet("Components", {{"25", "10"}, {"50", "10"}});
  ASSERT_EQ(Read(good), 0);
  auto bad = Sheet("Ternary system", {});
  bad->SetText(3, 2, "P,MPa");
  ExpectError(bad, 2, 3, 2);
  EXPECT_EQ(reader_.Points.SheetKind, 2);
  EXPECT_EQ(reader_.Points.PointCount, 2);
  EXPECT_DOUBLE_EQ(reader_.Points.PointT[2], 323.15);
}

TEST_F(ReaderTest, RangeChecksAndTheExtendedRange) {
  ExpectError(Sheet("Components", {{"25", "10"}, {"350", "50"}}), 4, 5, 1);
  EXPECT_EQ(reader_.Points.PointCount, 1);  // rows before the failure stay accepted
  ExpectError(Sheet("Components", {{"-0.5", "10"}}), 4, 4, 1);
  EXPECT_EQ(Read(Sheet("Components", {{"350", "50"}}), true), 0);
  ExpectError(Sheet("Components", {{"380", "sat"}}), 5, 4, 2, true);
  ExpectError(Sheet("Components", {{"380", "0"}}), 5, 4, 2, true);
  ExpectError(Sheet("Components", {{"380", "0.0"}}), 5, 4, 2, true);
  // Below the triple point no saturation pressure is found: "0" must not
  // quietly become 1 bar there.
  ExpectError(Sheet("Components", {{"-5", "sat"}}), 5, 4, 2, true);
  ExpectError(Sheet("Components", {{"-5", "0"}}), 5, 4, 2, true);
  ExpectError(Sheet("Components", {{"400", "20"}}), 4, 4, 2, true);  // gas-like density
  EXPECT_EQ(Read(Sheet("Components", {{"400", "50"}}), true), 0);
  EXPECT_GE(reader_.Points.PointRho[1], 0.322);
  ExpectError(Sheet("Components", {{"25", "-1"}}), 4, 4, 2);
  ExpectError(Sheet("Components", {{"25", "-1"}}), 4, 4, 2, true);
  ExpectError(Sheet("Components", {{"25", "150"}}), 4, 4, 2);
  EXPECT_EQ(Read(Sheet("Components", {{"25", "150"}}), true), 0);
  EXPECT_EQ(Read(Sheet("Components", {{"325", "100"}, {"0", "100"}})), 0);  // both limits included
}

TEST_F(ReaderTest, IllegalMolalitiesAndTexts) {
  ExpectError(Sheet("Ternary system", {{"25", "10", "-0.1", "1"}}), 6, 4, 3);
  ExpectError(Sheet("Ternary system", {{"25", "10", "0.1", "-0.1"}}), 7, 4, 4);
  ExpectError(Sheet("Ternary system", {{"25", "10", "abc", "1"}}), 2, 4, 3);
  ExpectError(Sheet("Components", {{"25 C", "10"}}), 2, 4, 1);
  ExpectError(Sheet("Components", {{"25", "10 MPa"}}), 2, 4, 2);
  ExpectError(Sheet("Components", {{"25", "saturated"}}), 2, 4, 2);
}

TEST_F(ReaderTest, ARejectedRowIsLeftAsTyped) {
  auto sheet = Sheet("Ternary system", {{"25", "10", "", "1"}, {" 30", " 10", "", "-1"}});
  for (int c = 5; c <= 12; ++c) {
    sheet->SetNumber(4, c, 1.0);
    sheet->SetNumber(5, c, 1.0);
  }
  sheet->SetText(5, 1, " 30");  // a text cell
  sheet->SetFontColor(5, 5, 12, 255);
  ExpectError(sheet, 7, 5, 4);
  EXPECT_EQ(std::get<std::string>(sheet->Value(5, 1)), " 30");  // not written back
  EXPECT_TRUE(Empty(sheet, 5, 3));
  for (int c = 5; c <= 12; ++c) {
    EXPECT_TRUE(Empty(sheet, 4, c));  // accepted row: cleared by the write-back
    EXPECT_TRUE(Empty(sheet, 5, c));  // failing row below row 4: cleared
    EXPECT_EQ(sheet->FontColor(5, c), 255u);  // its colour untouched
  }
}

TEST_F(ReaderTest, AnErrorInTheFirstDataRowDoesNotClearIt) {
  auto sheet = Sheet("Components", {{"25", "-5"}});
  sheet->SetNumber(4, 3, 1.0);
  sheet->SetNumber(4, 10, 1.0);
  ExpectError(sheet, 4, 4, 2);
  EXPECT_EQ(sheet->CellText(4, 3), "1");
  EXPECT_EQ(sheet->CellText(4, 10), "1");
}

TEST_F(ReaderTest, TheCountMessageOnlyWhenTheCountChanges) {
  auto sheet = Sheet("Components", {{"25", "10"}, {"50", "10"}});
  EXPECT_EQ(Read(sheet), 0);
  EXPECT_EQ(frontend_.Messages.size(), 1u);
  EXPECT_EQ(Read(sheet), 0);
  EXPECT_EQ(frontend_.Messages.size(), 1u);
  sheet->UserEdit(5, 1, "");  // a blank row ends the data
  sheet->UserEdit(6, 1, "75");
  sheet->UserEdit(6, 2, "10");
  EXPECT_EQ(Read(sheet), 0);
  EXPECT_EQ(reader_.Points.PointCount, 1);
  EXPECT_EQ(frontend_.LastMessage(), "Number of points:  1");
  EXPECT_EQ(reader_.LastPointCount, 1);

  auto empty = Sheet("Components", {});
  EXPECT_EQ(Read(empty), 0);
  EXPECT_EQ(reader_.Points.PointCount, 0);
  EXPECT_EQ(frontend_.LastMessage(), "Number of points:  0");
  const auto shown = frontend_.Messages.size();
  EXPECT_EQ(Read(empty), 0);
  EXPECT_EQ(frontend_.Messages.size(), shown);
}

TEST_F(ReaderTest, AFreshReaderShowsNoMessageForAnEmptySheet) {
  EXPECT_EQ(Read(Sheet("Ternary system", {})), 0);
  EXPECT_TRUE(frontend_.Messages.empty());
  EXPECT_EQ(frontend_.Expanded, std::optional<bool>(true));
}

TEST_F(ReaderTest, RunTimeErrorsAreStatusOne) {
  // A number too large for a double.
  ExpectError(Sheet("Components", {{"25", "10"}, {"1e400", "10"}}), 1, 5, 1);
  ExpectError(Sheet("Components", {{"25", "1E309"}}), 1, 4, 2, true);
  // A tiny number is 0.
  EXPECT_EQ(Read(Sheet("Components", {{"1e-400", "10"}})), 0);
  EXPECT_EQ(reader_.Points.PointT[1], 273.15);
  // The sheet's workbook closed under the reader.
  auto sheet = Sheet("Components", {{"25", "10"}});
  app_.AddWorkbook("Other.xlsx");
  app_.AddSheet("Sheet1");
  app_.CloseWorkbook(1);
  ExpectError(sheet, 1, 0, 0);
}

TEST_F(ReaderTest, FailuresBeforeReadingReachTheCaller) {
  auto sheet = Sheet("Components", {{"25", "10"}});
  app_.CloseWorkbook(1);
  EXPECT_THROW(Read(sheet), link::LinkError);
}

TEST_F(ReaderTest, NumbersInTheSheetAreReadInTheSystemNotation) {
  auto sheet = Sheet("Components", {});
  sheet->SetNumber(4, 1, 25.5);
  sheet->SetNumber(4, 2, 10.25);
  sheet->SetText(5, 1, "1,5");  // a text with the wrong separator
  sheet->SetText(5, 2, "10");
  ExpectError(sheet, 2, 5, 1);
  EXPECT_DOUBLE_EQ(reader_.Points.PointT[1], 298.65);
  EXPECT_DOUBLE_EQ(reader_.Points.PointP[1], 102.5);
}

TEST_F(CommaReaderTest, DecimalCommaSystem) {
  auto sheet = Sheet("Ternary system", {});
  sheet->SetText(4, 1, "1,5");
  sheet->SetNumber(4, 2, 10.5);  // a number cell reads "10,5"
  sheet->SetText(4, 3, "0,1");
  sheet->SetText(5, 1, "1.5");
  sheet->SetText(5, 2, "10");
  ExpectError(sheet, 2, 5, 1);
  EXPECT_TRUE(reader_.DecimalComma);
  ASSERT_EQ(reader_.Points.PointCount, 1);
  EXPECT_DOUBLE_EQ(reader_.Points.PointT[1], 274.65);
  EXPECT_DOUBLE_EQ(reader_.Points.PointP[1], 105.0);
  EXPECT_DOUBLE_EQ(reader_.Points.PointMH2S[1], 0.1);
  EXPECT_EQ(sheet->CellText(4, 2), "10,5");
  EXPECT_TRUE(reader_.IsNumberText(" -1,5E-3 "));
  EXPECT_FALSE(reader_.IsNumberText("1.5"));
  EXPECT_FALSE(reader_.IsNumberText("1.000,5"));
}

TEST_F(ReaderTest, IsNumberTextAcceptsPlainAndExponentNotationOnly) {
  EXPECT_FALSE(reader_.DecimalComma);
  for (const char* text : {"0", "25", "-1", "+2", " 3.5 ", "1.", ".5", "-.5", "1e3", "1E+3", "2.5e-07",
                           "007", "1e400"}) {
    EXPECT_TRUE(reader_.IsNumberText(text)) << text;
  }
  for (const char* text : {"", " ", "nan", "NaN", "inf", "-Infinity", "0x1A", "0x1p3", "1,5", "1.000,5", "1e",
                           "1e+", "e3", ".", "-", "+-1", "1 000", "1.5.", "$5", "(5)", "5%", "1d3", "١"}) {
    EXPECT_FALSE(reader_.IsNumberText(text)) << text;
  }
}

TEST_F(ReaderTest, AllRowsOfAFullSheetAndNotOneMore) {
  // 32767 points fill rows 4..32770: every one is accepted.
  auto sheet = Sheet("Components", {});
  for (int row = 4; row < 4 + 32767; ++row) {
    sheet->SetNumber(row, 1, 25.0);
    sheet->SetNumber(row, 2, 10.0);
  }
  EXPECT_EQ(Read(sheet), 0);
  EXPECT_EQ(reader_.Points.PointCount, 32767);
  EXPECT_EQ(sheet->CellText(32770, 2), "10");
  EXPECT_EQ(frontend_.LastMessage(), "Number of points:  32767");
  // A 32768th point is a run-time error.
  sheet->SetNumber(32771, 1, 25.0);
  sheet->SetNumber(32771, 2, 10.0);
  ExpectError(sheet, 1, 32771, 2);
  EXPECT_EQ(reader_.Points.PointCount, 32767);
}

}  // namespace
}  // namespace tersolv::input
