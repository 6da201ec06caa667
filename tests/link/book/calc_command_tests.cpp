// `tersolv calc` and `tersolv new` end to end: the bundled example, the same
// point through every route, rejected sheets, run-time errors, the template.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "link/book/book_application.h"
#include "link/book/cell_format.h"
#include "link/book/book_test_util.h"
#include "link/book/workbook_writer.h"

namespace tersolv::link::book {
namespace {

using testing::PartOf;
using testing::PointSheet;
using testing::ReadFile;
using testing::RunResult;
using testing::RunTersolv;
using testing::TempFolder;
using testing::WriteFile;

constexpr Rgb kBlue = 16711680, kRed = 255, kMagenta = 16711935;

class CalcCommand : public ::testing::Test {
 protected:
  void SetUp() override { WriteFile(example_, ReadFile(TERSOLV_EXAMPLE)); }
  TempFolder dir_;
  std::string example_ = dir_ / "Example.xlsx";
};

TEST_F(CalcCommand, ComputesTheBundledExampleInPlace) {
  const std::string notesBefore = PartOf(example_, "xl/worksheets/sheet3.xml");
  const std::string componentsBefore = PartOf(example_, "xl/worksheets/sheet2.xml");
  const RunResult run = RunTersolv(dir_, "calc Example.xlsx");
  ASSERT_EQ(run.Exit, 0) << run.Err;
  EXPECT_EQ(run.Out.rfind("Number of points:  27\n", 0), 0u) << run.Out;
  EXPECT_NE(run.Out.find("Results written to " + std::filesystem::canonical(example_).string()), std::string::npos);
  EXPECT_EQ(run.Err, "");
  // Only the data sheet (and styles, strings) changed.
  EXPECT_EQ(PartOf(example_, "xl/worksheets/sheet3.xml"), notesBefore);
  EXPECT_EQ(PartOf(example_, "xl/worksheets/sheet2.xml"), componentsBefore);

  BookApplication app;
  app.OpenWorkbook(example_, true);
  auto sheet = app.ActiveSheet();
  ASSERT_EQ(sheet->Name(), "Ternary system");
  int blue = 0, red = 0, magenta = 0;
  for (int row = 4; row <= 30; ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    for (int column : {5, 6, 8, 9, 10, 11, 12}) EXPECT_TRUE(ParseNumber(sheet->CellText(row, column))) << column;
    const Rgb mark = BookApplication::FontColor(*sheet, row, 5);
    EXPECT_EQ(BookApplication::FontColor(*sheet, row, 12), mark);
    blue += mark == kBlue, red += mark == kRed, magenta += mark == kMagenta;
  }
  EXPECT_EQ(sheet->CellText(31, 5), "");
  EXPECT_TRUE(blue && red && magenta) << blue << " " << red << " " << magenta;
  // Row 4: water alone at 25 C, 0.1 MPa: the solution is pure water.
  EXPECT_EQ(sheet->CellText(4, 5), "1");
  EXPECT_EQ(sheet->CellText(4, 10), "1");
  EXPECT_NEAR(*ParseNumber(sheet->CellText(4, 11)), 0.997047, 1e-6);  // IAPWS-95 density of water
  EXPECT_EQ(BookApplication::FontColor(*sheet, 4, 5), 0u);

  // The "Components" sheet is computed on request; one point's halite search fails.
  const RunResult components = RunTersolv(dir_, "calc Example.xlsx --sheet Components");
  ASSERT_EQ(components.Exit, 0) << components.Err;
  BookApplication again;
  again.OpenWorkbook(example_, true);
  again.ActivateSheet("Components");
  auto c = again.ActiveSheet();
  int notFound = 0;
  for (int row = 4; row <= 20; ++row) {
    for (int column = 3; column <= 9; ++column) EXPECT_TRUE(ParseNumber(c->CellText(row, column))) << row;
    notFound += c->CellText(row, 10) == "not found";
  }
  EXPECT_EQ(notFound, 1);
  EXPECT_EQ(PartOf(example_, "xl/worksheets/sheet3.xml"), notesBefore);
}

TEST_F(CalcCommand, TheSamePointGivesTheSameNumbersOnEveryRoute) {
  const RunResult point = RunTersolv(dir_, "point 150 10 0.8 4 --json");
  ASSERT_EQ(point.Exit, 0) << point.Err;
  const auto json = nlohmann::json::parse(point.Out);
  const char* keys[] = {"osmotic_coefficient", "water_activity_coefficient", "salting_out_coefficient",
                        "h2s_solubility", "h2s_activity_coefficient", "nacl_activity_coefficient", "density",
                        "molar_volume"};
  // The cell shows 15 digits; the file holds every digit of the same double.
  const auto expectRow = [&](Worksheet& sheet, int row, const std::string& stored, const std::string& route) {
    for (int k = 0; k < 8; ++k) {
      SCOPED_TRACE(route + " " + keys[k]);
      const double expected = json[keys[k]].get<double>();
      const auto value = ParseNumber(sheet.CellText(row, 5 + k));
      ASSERT_TRUE(value);
      EXPECT_NEAR(*value, expected, 1e-14 * std::abs(expected));
      EXPECT_NE(stored.find(FormatNumber(expected)), std::string::npos);
    }
  };
  WriteNewWorkbookFile(dir_ / "point.xlsx", {PointSheet({{150.0, 10.0, 0.8, 4.0}})});
  WriteFile(dir_ / "Ternary system.csv", "Same point\nSystem definitions\n\"T, C\",\"P, MPa\",m(H2S),m(NaCl)\n150,10,0.8,4\n");
  ASSERT_EQ(RunTersolv(dir_, "calc point.xlsx").Exit, 0);
  ASSERT_EQ(RunTersolv(dir_, "calc 'Ternary system.csv'").Exit, 0);
  BookApplication app;
  app.OpenWorkbook(dir_ / "point.xlsx", true);
  expectRow(*app.ActiveSheet(), 4, PartOf(dir_ / "point.xlsx", "xl/worksheets/sheet1.xml"), "xlsx");
  app.OpenWorkbook(dir_ / "Ternary system.csv", true);
  expectRow(*app.ActiveSheet(), 4, ReadFile(dir_ / "Ternary system.csv"), "csv");
}

// Reader errors save nothing; colours a .csv cannot keep are reported.
TEST_F(CalcCommand, RejectedSheetsLeaveTheFileAsItWas) {
  const std::string head = "Title\r\nSystem definitions\r\n\"T, C\",\"P, MPa\",m(H2S),m(NaCl)\r\n";
  const std::string csv = head + "25,0.1,0,1\r\n25,sat,0,1\r\n25,150,0,1\r\n25,0.1,0,1\r\n";
  WriteFile(dir_ / "Ternary system.csv", csv);
  WriteFile(dir_ / "points.csv", csv);
  WriteFile(dir_ / "marks.csv", head + "25,0.1,0,0\n25,0.1,2,0\n25,0.1,0,8\n");
  const std::tuple<std::string, std::string, int, std::string> runs[] = {
      {"Ternary system.csv", "", 3, "Row=6, Col=2: T/P/D value(s) out of range"},
      {"points.csv", "", 3, "named after its file (\"points\")"},
      {"Example.xlsx", "--sheet Notes", 3, "Row=0, Col=0: Unrecognized worksheet"},
      {"Example.xlsx", "--sheet Nowhere", 2, "\"Ternary system\", \"Components\", \"Notes\""},
      {"Ternary system.csv", "--extended-range", 0, ""},
      {"points.csv", "--sheet 'Ternary system' --extended-range", 0, ""},
      {"marks.csv", "--sheet 'Ternary system'", 0, "2 rows are marked by font colour"},
  };
  for (const auto& [file, args, exit, message] : runs) {
    SCOPED_TRACE(file + " " + args);
    const std::string before = ReadFile(dir_ / file);
    const RunResult run = RunTersolv(dir_, "calc '" + file + "' " + args);
    EXPECT_EQ(run.Exit, exit);
    EXPECT_NE(run.Err.find(message), std::string::npos) << run.Err;
    EXPECT_TRUE(exit == 0 || ReadFile(dir_ / file) == before) << "the file was changed";
  }
}

TEST_F(CalcCommand, ARunTimeErrorSavesTheRowsBeforeItAndNamesTheRow) {
  // 406.85 C lies above the critical temperature: no H2S solubility there.
  WriteNewWorkbookFile(dir_ / "stops.xlsx", {PointSheet({{25.0, 0.1, 0.0, 1.0},
                                                         {50.0, 1.0, 0.0, 1.0},
                                                         {406.85, 100.0, 0.1, 1.0},
                                                         {25.0, 0.1, 0.0, 2.0}})});
  const RunResult run = RunTersolv(dir_, "calc stops.xlsx --extended-range -o out.xlsx");
  EXPECT_EQ(run.Exit, 4);
  EXPECT_NE(run.Err.find("run-time error in row 6 (point 3 of 4)"), std::string::npos) << run.Err;
  BookApplication app;
  app.OpenWorkbook(dir_ / "out.xlsx", true);
  auto sheet = app.ActiveSheet();
  EXPECT_TRUE(ParseNumber(sheet->CellText(4, 12)));
  EXPECT_TRUE(ParseNumber(sheet->CellText(5, 12)));
  EXPECT_EQ(sheet->CellText(6, 12), "");
  EXPECT_EQ(sheet->CellText(7, 5), "");
  app.OpenWorkbook(dir_ / "stops.xlsx", true);  // -o leaves the input alone
  EXPECT_EQ(app.ActiveSheet()->CellText(4, 12), "");
}

TEST_F(CalcCommand, NewDataFilesFromTheTemplate) {
  RunResult run = RunTersolv(dir_, "new Mine.xlsx");
  ASSERT_EQ(run.Exit, 0) << run.Err;
  EXPECT_EQ(ReadFile(dir_ / "Mine.xlsx"), ReadFile(TERSOLV_TEMPLATE));
  EXPECT_EQ(RunTersolv(dir_, "new Mine.xlsx").Exit, 5);  // never overwritten by accident
  BookApplication app;
  app.OpenWorkbook(dir_ / "Mine.xlsx", true);
  EXPECT_EQ((std::vector<std::string>{"Components", "Ternary system"}), app.SheetNames());
  app.ActivateSheet("Ternary system");
  const char* ternary[] = {"T, C", "P, MPa", "m(H2S)", "m(NaCl)", "Osmotic coefficient",
                           "Activity coefficient of water (a/x)", "Salting-out coefficient of H2S, kg/mol",
                           "Solubility of H2S, mol/kg", "Activity coefficient of H2S",
                           "Mean activity coefficient of NaCl", "Density of the solution, g/cm3",
                           "Molar volume of the solution, cm3/mol"};
  for (int c = 0; c < 12; ++c) EXPECT_EQ(app.ActiveSheet()->CellText(3, c + 1), ternary[c]);
  app.ActivateSheet("Components");
  EXPECT_EQ(app.ActiveSheet()->CellText(2, 1), "Conditions");
  EXPECT_EQ(app.ActiveSheet()->CellText(3, 10), "Solubility of halite in water, mol/kg");
  run = RunTersolv(dir_, "calc Mine.xlsx");  // a valid data sheet, with no points yet
  EXPECT_EQ(run.Exit, 0) << run.Err;
  EXPECT_NE(run.Out.find("Number of points:  0"), std::string::npos) << run.Out;
  // A .csv data file is one of the template's sheets.
  ASSERT_EQ(RunTersolv(dir_, "new 'Ternary system.csv'").Exit, 0);
  WriteFile(dir_ / "Ternary system.csv", ReadFile(dir_ / "Ternary system.csv") + "25,0.1,0.1,1\r\n");
  EXPECT_EQ(RunTersolv(dir_, "calc 'Ternary system.csv'").Exit, 0);
}

}  // namespace
}  // namespace tersolv::link::book
