// `tersolv calc` and `tersolv new` end to end: the bundled example computed
// and read back, the same point through every route, what happens to the file
// on a rejected sheet and on a run-time error, and the template.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "link/book/book_application.h"
#include "link/book/cell_format.h"
#include "link/book/command_test_util.h"
#include "link/book/workbook_writer.h"

namespace tersolv::link::book {
namespace {

using testing::PartOf;
using testing::Quote;
using testing::ReadFile;
using testing::RunResult;
using testing::RunTersolv;
using testing::TempFolder;
using testing::WriteFile;

constexpr Rgb kBlue = 16711680, kRed = 255, kMagenta = 16711935;

class CalcCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    example_ = dir_ / "Example.xlsx";
    WriteFile(example_, ReadFile(TERSOLV_EXAMPLE));
  }
  TempFolder dir_;
  std::string example_;
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
  EXPECT_GT(blue, 0);
  EXPECT_GT(red, 0);
  EXPECT_GT(magenta, 0);
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
  std::vector<NewSheet> sheets(1);
  sheets[0].Name = "Ternary system";
  sheets[0].Rows = {{std::string("Same point")},
                    {std::string("System definitions")},
                    {std::string("T, C"), std::string("P, MPa"), std::string("m(H2S)"), std::string("m(NaCl)")},
                    {150.0, 10.0, 0.8, 4.0}};
  WriteNewWorkbookFile(dir_ / "point.xlsx", sheets);
  WriteFile(dir_ / "Ternary system.csv", "Same point\nSystem definitions\n\"T, C\",\"P, MPa\",m(H2S),m(NaCl)\n150,10,0.8,4\n");
  ASSERT_EQ(RunTersolv(dir_, "calc point.xlsx").Exit, 0);
  ASSERT_EQ(RunTersolv(dir_, Quote("calc") + " " + Quote("Ternary system.csv")).Exit, 0);
  BookApplication app;
  app.OpenWorkbook(dir_ / "point.xlsx", true);
  expectRow(*app.ActiveSheet(), 4, PartOf(dir_ / "point.xlsx", "xl/worksheets/sheet1.xml"), "xlsx");
  app.OpenWorkbook(dir_ / "Ternary system.csv", true);
  expectRow(*app.ActiveSheet(), 4, ReadFile(dir_ / "Ternary system.csv"), "csv");
}

TEST_F(CalcCommand, ARejectedSheetLeavesTheFileAsItWas) {
  const std::string csv = "Title\r\nSystem definitions\r\n\"T, C\",\"P, MPa\",m(H2S),m(NaCl)\r\n"
                          "25,0.1,0,1\r\n25,sat,0,1\r\n25,150,0,1\r\n25,0.1,0,1\r\n";
  WriteFile(dir_ / "Ternary system.csv", csv);
  const RunResult run = RunTersolv(dir_, Quote("calc") + " " + Quote("Ternary system.csv"));
  EXPECT_EQ(run.Exit, 3);
  EXPECT_NE(run.Err.find("Row=6, Col=2: T/P/D value(s) out of range"), std::string::npos) << run.Err;
  EXPECT_EQ(ReadFile(dir_ / "Ternary system.csv"), csv);
  // With the extended range the same sheet is accepted.
  EXPECT_EQ(RunTersolv(dir_, Quote("calc") + " " + Quote("Ternary system.csv") + " --extended-range").Exit, 0);

  WriteFile(dir_ / "points.csv", csv);
  const RunResult unnamed = RunTersolv(dir_, "calc points.csv");
  EXPECT_EQ(unnamed.Exit, 3);
  EXPECT_NE(unnamed.Err.find("named after its file (\"points\")"), std::string::npos) << unnamed.Err;
  EXPECT_EQ(RunTersolv(dir_, "calc points.csv --sheet 'Ternary system' --extended-range").Exit, 0);

  const std::string before = ReadFile(example_);
  const RunResult wrongSheet = RunTersolv(dir_, "calc Example.xlsx --sheet Notes");
  EXPECT_EQ(wrongSheet.Exit, 3);
  EXPECT_NE(wrongSheet.Err.find("Row=0, Col=0: Unrecognized worksheet"), std::string::npos) << wrongSheet.Err;
  const RunResult noSheet = RunTersolv(dir_, "calc Example.xlsx --sheet Nowhere");
  EXPECT_EQ(noSheet.Exit, 2);
  EXPECT_NE(noSheet.Err.find("\"Ternary system\", \"Components\", \"Notes\""), std::string::npos) << noSheet.Err;
  EXPECT_EQ(ReadFile(example_), before);
}

TEST_F(CalcCommand, ARunTimeErrorSavesTheRowsBeforeItAndNamesTheRow) {
  // 406.85 C lies above the critical temperature: no H2S solubility there.
  std::vector<NewSheet> sheets(1);
  sheets[0].Name = "Ternary system";
  sheets[0].Rows = {{std::string("Stops")},
                    {std::string("System definitions")},
                    {std::string("T, C"), std::string("P, MPa"), std::string("m(H2S)"), std::string("m(NaCl)")},
                    {25.0, 0.1, 0.0, 1.0},
                    {50.0, 1.0, 0.0, 1.0},
                    {406.85, 100.0, 0.1, 1.0},
                    {25.0, 0.1, 0.0, 2.0}};
  WriteNewWorkbookFile(dir_ / "stops.xlsx", sheets);
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

TEST_F(CalcCommand, ACsvRunSaysThatColoursAreNotKept) {
  WriteFile(dir_ / "Ternary system.csv",
            "T\nSystem definitions\n\"T, C\",\"P, MPa\",m(H2S),m(NaCl)\n25,0.1,0,0\n25,0.1,2,0\n25,0.1,0,8\n");
  const RunResult run = RunTersolv(dir_, Quote("calc") + " " + Quote("Ternary system.csv"));
  EXPECT_EQ(run.Exit, 0) << run.Err;
  EXPECT_NE(run.Err.find("2 rows are marked by font colour"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("keeps no colours"), std::string::npos);
}

TEST_F(CalcCommand, NewDataFilesFromTheTemplate) {
  RunResult run = RunTersolv(dir_, "new Mine.xlsx");
  ASSERT_EQ(run.Exit, 0) << run.Err;
  EXPECT_EQ(ReadFile(dir_ / "Mine.xlsx"), ReadFile(TERSOLV_TEMPLATE));
  EXPECT_EQ(RunTersolv(dir_, "new Mine.xlsx").Exit, 5);  // never overwritten by accident
  EXPECT_EQ(RunTersolv(dir_, "new Mine.xlsx --force").Exit, 0);

  BookApplication app;
  app.OpenWorkbook(dir_ / "Mine.xlsx", true);
  EXPECT_EQ((std::vector<std::string>{"Components", "Ternary system"}), app.SheetNames());
  app.ActivateSheet("Ternary system");
  auto t = app.ActiveSheet();
  EXPECT_EQ(t->CellText(2, 1), "System definitions");
  const char* ternary[] = {"T, C", "P, MPa", "m(H2S)", "m(NaCl)", "Osmotic coefficient",
                           "Activity coefficient of water (a/x)", "Salting-out coefficient of H2S, kg/mol",
                           "Solubility of H2S, mol/kg", "Activity coefficient of H2S",
                           "Mean activity coefficient of NaCl", "Density of the solution, g/cm3",
                           "Molar volume of the solution, cm3/mol"};
  for (int c = 0; c < 12; ++c) EXPECT_EQ(t->CellText(3, c + 1), ternary[c]);
  for (int c = 2; c <= 4; ++c) EXPECT_EQ(t->CellText(2, c), "");
  app.ActivateSheet("Components");
  auto k = app.ActiveSheet();
  EXPECT_EQ(k->CellText(2, 1), "Conditions");
  EXPECT_EQ(k->CellText(2, 2), "");
  EXPECT_EQ(k->CellText(3, 1), "T, C");
  EXPECT_EQ(k->CellText(3, 10), "Solubility of halite in water, mol/kg");

  // A new file is a valid data sheet, with no points yet.
  run = RunTersolv(dir_, "calc Mine.xlsx");
  EXPECT_EQ(run.Exit, 0) << run.Err;
  EXPECT_NE(run.Out.find("Number of points:  0"), std::string::npos) << run.Out;
  // A .csv data file is one of the template's sheets.
  run = RunTersolv(dir_, Quote("new") + " " + Quote("Ternary system.csv"));
  ASSERT_EQ(run.Exit, 0) << run.Err;
  EXPECT_EQ(ReadFile(dir_ / "Ternary system.csv").substr(0, 59),
            std::string("Tersolv: the ternary system water + H2S + NaCl\r\nSystem defi"));
  WriteFile(dir_ / "Ternary system.csv",
            ReadFile(dir_ / "Ternary system.csv") + "25,0.1,0.1,1\r\n");
  run = RunTersolv(dir_, Quote("calc") + " " + Quote("Ternary system.csv"));
  EXPECT_EQ(run.Exit, 0) << run.Err;
  EXPECT_EQ(RunTersolv(dir_, "new Other.ods").Exit, 2);
}

}  // namespace
}  // namespace tersolv::link::book
