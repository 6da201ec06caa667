// `tersolv calc` and `tersolv new` end to end: the bundled example, the same
// point through every route, rejected sheets, run-time errors, the template;
// and malformed or hostile files: a clear message, a non-zero exit, never a
// crash, and the file stays byte for byte as it was.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <set>

#include "link/book/book_application.h"
#include "link/book/cell_format.h"
#include "link/book/book_test_util.h"
#include "link/book/writer/workbook_writer.h"

namespace tersolv::link::book {
namespace {

using namespace testing;  // the helpers of book_test_util.h

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
  EXPECT_EQ(PartOf(example_, "xl/worksheets/sheet2.xml"), componentsBefore);  // only the data sheet changed

  const auto app = OpenedFile(example_);
  auto sheet = app->ActiveSheet();
  ASSERT_EQ(sheet->Name(), "Ternary system");
  std::set<Rgb> marks;
  for (int row = 4; row <= 30; ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    for (int column : {5, 6, 8, 9, 10, 11, 12}) EXPECT_TRUE(ParseNumber(sheet->CellText(row, column))) << column;
    const Rgb mark = BookApplication::FontColor(*sheet, row, 5);
    EXPECT_EQ(BookApplication::FontColor(*sheet, row, 12), mark);
    marks.insert(mark);
  }
  EXPECT_EQ(sheet->CellText(31, 5), "");
  EXPECT_EQ(marks, (std::set<Rgb>{0, RgbColor(255, 0, 0), RgbColor(0, 0, 255), RgbColor(255, 0, 255)}));
  // Row 4: water alone at 25 C, 0.1 MPa: the solution is pure water.
  EXPECT_EQ(sheet->CellText(4, 5), "1");
  EXPECT_EQ(sheet->CellText(4, 10), "1");
  EXPECT_NEAR(*ParseNumber(sheet->CellText(4, 11)), 0.997047, 1e-6);  // IAPWS-95 density of water
  EXPECT_EQ(BookApplication::FontColor(*sheet, 4, 5), 0u);

  // The "Components" sheet is computed on request; one point's halite search fails.
  ASSERT_EQ(RunTersolv(dir_, "calc Example.xlsx --sheet Components").Exit, 0);
  const auto again = OpenedFile(example_);
  again->ActivateSheet("Components");
  int notFound = 0;
  for (int row = 4; row <= 20; ++row) notFound += again->ActiveSheet()->CellText(row, 10) == "not found";
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
  WriteNewWorkbookFile(dir_ / "point.xlsx", {PointSheet({{150.0, 10.0, 0.8, 4.0}})});
  WriteFile(dir_ / "Ternary system.csv", "Same point\nSystem definitions\n\"T, C\",\"P, MPa\",m(H2S),m(NaCl)\n150,10,0.8,4\n");
  for (const std::string file : {"point.xlsx", "Ternary system.csv"}) {
    ASSERT_EQ(RunTersolv(dir_, "calc '" + file + "'").Exit, 0);
    const auto app = OpenedFile(dir_ / file);
    const std::string stored = file == "point.xlsx" ? PartOf(dir_ / file, "xl/worksheets/sheet1.xml") : ReadFile(dir_ / file);
    for (int k = 0; k < 8; ++k) {  // the cell shows 15 digits; the file holds every digit of the same double
      SCOPED_TRACE(file + " " + keys[k]);
      const double expected = json[keys[k]].get<double>();
      const double shown = ParseNumber(app->ActiveSheet()->CellText(4, 5 + k)).value();
      EXPECT_NEAR(shown, expected, 1e-14 * std::abs(expected));
      EXPECT_NE(stored.find(FormatNumber(expected)), std::string::npos);
    }
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
  const auto app = OpenedFile(dir_ / "out.xlsx");
  for (int row = 4; row <= 7; ++row)
    EXPECT_EQ(ParseNumber(app->ActiveSheet()->CellText(row, 12)).has_value(), row < 6) << row;
  app->OpenWorkbook(dir_ / "stops.xlsx", true);  // -o leaves the input alone
  EXPECT_EQ(app->ActiveSheet()->CellText(4, 12), "");
}

TEST_F(CalcCommand, NewDataFilesFromTheTemplate) {
  RunResult run = RunTersolv(dir_, "new Mine.xlsx");
  ASSERT_EQ(run.Exit, 0) << run.Err;
  EXPECT_EQ(ReadFile(dir_ / "Mine.xlsx"), ReadFile(TERSOLV_TEMPLATE));
  EXPECT_EQ(RunTersolv(dir_, "new Mine.xlsx").Exit, 5);  // never overwritten by accident
  const auto app = OpenedFile(dir_ / "Mine.xlsx");
  EXPECT_EQ((std::vector<std::string>{"Components", "Ternary system"}), app->SheetNames());
  app->ActivateSheet("Components");
  EXPECT_EQ(app->ActiveSheet()->CellText(3, 10), "Solubility of halite in water, mol/kg");
  app->ActivateSheet("Ternary system");
  EXPECT_EQ(app->ActiveSheet()->CellText(3, 5), "Osmotic coefficient");
  EXPECT_EQ(app->ActiveSheet()->CellText(3, 12), "Molar volume of the solution, cm3/mol");
  run = RunTersolv(dir_, "calc Mine.xlsx");  // a valid data sheet, with no points yet
  EXPECT_EQ(run.Exit, 0) << run.Err;
  EXPECT_NE(run.Out.find("Number of points:  0"), std::string::npos) << run.Out;
  // A .csv data file is one of the template's sheets.
  ASSERT_EQ(RunTersolv(dir_, "new 'Ternary system.csv'").Exit, 0);
  WriteFile(dir_ / "Ternary system.csv", ReadFile(dir_ / "Ternary system.csv") + "25,0.1,0.1,1\r\n");
  EXPECT_EQ(RunTersolv(dir_, "calc 'Ternary system.csv'").Exit, 0);
}

struct Refused {
  std::string Name;      // file name
  std::string Bytes;     // its contents
  int Exit;              // expected exit code
  std::string Message;   // a part of the expected message
  std::string Args = "";  // after the file name
};

const std::string kFolder = "\x02", kMissing = "\x03";  // not bytes: a folder, no file at all

std::string GoodWorkbook() { return WriteNewWorkbook({testing::PointSheet({{25.0, 0.1, 0.0, 1.0}})}); }

std::string WithSheet(const std::string& xml) {
  return EditPackage(GoodWorkbook(), {{"xl/worksheets/sheet1.xml", xml}});
}

std::string SheetXml(const std::string& rows) {
  const auto text = [](const char* ref, const char* t) {
    return "<c r=\"" + std::string(ref) + "\" t=\"inlineStr\"><is><t>" + t + "</t></is></c>";
  };
  return WorksheetPart("<row r=\"1\">" + text("A1", "x") + "</row><row r=\"2\">" +
                       text("A2", "System definitions") + "</row><row r=\"3\">" + text("A3", "T, C") +
                       text("B3", "P, MPa") + text("C3", "m(H2S)") + text("D3", "m(NaCl)") + "</row>" + rows);
}

// The good workbook whose data sheet has this row 4 below valid headings.
std::string WithRow4(const std::string& cells) { return WithSheet(SheetXml("<row r=\"4\">" + cells + "</row>")); }
std::string TextRow4(const std::string& t) {
  return WithRow4("<c r=\"A4\" t=\"inlineStr\"><is><t>" + t + "</t></is></c><c r=\"B4\"><v>0.1</v></c>");
}

// Sheets the worksheet checks refuse (nothing is saved; colours a .csv cannot keep are reported),
// and malformed or hostile files: a clear message, a non-zero exit, never a crash.
std::vector<Refused> RefusedFiles() {
  const std::string good = GoodWorkbook(), csvHead = "T\nSystem definitions\n\"T, C\",\"P, MPa\",m(H2S),m(NaCl)\n";
  const std::string otherDocument =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship Id=\"rId1\" "
      "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
      "Target=\"word/document.xml\"/></Relationships>";
  const std::string entities = "<!DOCTYPE w [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
                               "<worksheet><sheetData/></worksheet>";
  std::string bomb = SheetXml("");  // a part that unpacks to far more than a workbook needs
  bomb.insert(bomb.find("<sheetData>"), std::string(200u << 20, ' '));
  std::string million = "T\nSystem definitions\n\"T, C\",\"P, MPa\"\n";
  for (int i = 0; i < 1000000; ++i) million += "25,0.1\n";
  const std::string example = ReadFile(TERSOLV_EXAMPLE);
  const std::string csv = csvHead + "25,0.1,0,1\n25,sat,0,1\n25,150,0,1\n";
  return {
      {"Ternary system.csv", csv, 3, "Row=6, Col=2: T/P/D value(s) out of range"},
      {"Ternary system.csv", csv, 0, "", "--extended-range"},
      {"points.csv", csv, 3, "named after its file (\"points\")"},
      {"points.csv", csv, 0, "", "--sheet 'Ternary system' --extended-range"},
      {"marks.csv", csvHead + "25,0.1,0,0\n25,0.1,2,0\n25,0.1,0,8\n", 0, "2 rows are marked by font colour",
       "--sheet 'Ternary system'"},
      {"Example.xlsx", example, 3, "Row=0, Col=0: Unrecognized worksheet", "--sheet Notes"},
      {"Example.xlsx", example, 2, "\"Ternary system\", \"Components\", \"Notes\"", "--sheet Nowhere"},
      {"empty.xlsx", "", 5, "not a zip package"},
      {"truncated.xlsx", good.substr(0, good.size() / 2), 5, "damaged or truncated"},
      {"noise.xlsx", std::string(4096, '\x5a'), 5, "not a zip package"},
      {"old.xlsx", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(4000, '\0'), 5, "password-protected"},
      {"no-types.xlsx", EditPackage(good, {{"[Content_Types].xml", "\x01"}}), 5, "no content types"},
      {"document.xlsx", EditPackage(good, {{"_rels/.rels", otherDocument}}), 5, "holds no workbook part"},
      {"bad-workbook-xml.xlsx", EditPackage(good, {{"xl/workbook.xml", "<workbook><sheets>"}}), 5, "not well-formed XML"},
      {"bad-sheet-xml.xlsx", WithSheet("<worksheet><sheetData><row r=\"1\"><c></row>"), 5, "not well-formed XML"},
      {"bad-cell-xml.xlsx", WithRow4("<c r=\"A4\"><v>1</x></c>"), 5, "not well-formed XML"},
      {"bad-tail-xml.xlsx", WithSheet(SheetXml("") + "<cols>"), 5, "not well-formed XML"},
      {"missing-sheet.xlsx", EditPackage(good, {{"xl/worksheets/sheet1.xml", "\x01"}}), 5, "is missing"},
      {"no-sheet-data.xlsx", WithSheet("<worksheet/>"), 5, "has no cell data"},
      {"entities.xlsx", WithSheet(entities), 5, "document type"},
      {"nan-cell.xlsx", WithRow4("<c r=\"A4\"><v>NaN</v></c>"), 5, "not a finite number"},
      {"huge-exponent-cell.xlsx", WithRow4("<c r=\"A4\"><v>1e999</v></c>"), 3, "Row=4, Col=1: T/P/D value(s) out of range"},
      {"array-formula-in-results.xlsx",
       WithRow4("<c r=\"A4\"><v>25</v></c><c r=\"B4\"><v>1</v></c><c r=\"E4\"><f t=\"array\" ref=\"E4:F4\">A4:B4*2</f>"
                "<v>50</v></c>"),
       3, "cell E4 of sheet \"Ternary system\" holds an array formula of the cells E4:F4"},
      {"bad-string-index.xlsx", WithRow4("<c r=\"A4\" t=\"s\"><v>99999</v></c>"), 5, "shared string that does not exist"},
      {"unknown-type.xlsx", WithRow4("<c r=\"A4\" t=\"zz\"><v>1</v></c>"), 5, "unknown type"},
      {"rows-out-of-order.xlsx", WithSheet(SheetXml("<row r=\"2\"/>")), 5, "out of order"},
      {"bad-reference.xlsx", WithRow4("<c r=\"ZZZZ4\"><v>1</v></c>"), 5, "is invalid"},
      {"text-in-number-cell.xlsx", TextRow4("twenty"), 3, "Row=4, Col=1: Format error"},
      {"digits-text.xlsx", TextRow4(std::string(1 << 20, '9')), 3, "Row=4, Col=1: T/P/D value(s) out of range"},
      {"bomb.xlsx", WithSheet(bomb), 5, "more than the"},
      {"binary.csv", std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 10), 5, "binary data"},
      {"latin1.csv", csvHead + "25,0.1,caf\xe9,0\n", 5, "not UTF-8"},
      {"overlong-utf8.csv", csvHead + "\xC0\xAF\n", 5, "not UTF-8"},
      {"surrogate.csv", csvHead + "\xED\xA0\x80\n", 5, "not UTF-8"},
      {"open-quote.csv", csvHead + "25,\"0.1,0,0\n", 5, "never ends"},
      {"text-after-quote.csv", csvHead + "\"25\"x,0.1,0,0\n", 5, "text after a closing quote"},
      {"Components.csv", million, 5, "more than 2000000 cells"},
      {"folder.xlsx", kFolder, 5, "is a folder"},
      {"missing.xlsx", kMissing, 5, "No such file"},
      {"spreadsheet.ods", "PK\x03\x04", 5, "reads .xlsx and .csv"},
  };
}

// What the user typed into the input cells stays: number texts and formulas
// (also those that fill-down shares), "sat" becomes the pressure used; rows
// after the first empty temperature cell are not read, and the run says so.
TEST(InputCells, KeepWhatTheyHoldAndUnreadRowsAreNamed) {
  TempFolder dir;
  const std::string number = "<c r=\"B%\"><v>0.35</v></c><c r=\"C%\"><v>0.1</v></c><c r=\"D%\"><v>1.1</v></c>";
  const auto row = [&](int r, const std::string& a) {
    std::string cells = number;
    for (auto at = cells.find('%'); at != std::string::npos; at = cells.find('%')) cells.replace(at, 1, std::to_string(r));
    return "<row r=\"" + std::to_string(r) + "\">" + a + cells + "</row>";
  };
  WriteFile(dir / "w.xlsx",
            WithSheet(SheetXml(row(4, "<c r=\"A4\"><v>41.17</v></c>") + row(5, "<c r=\"A5\"><f>20+5</f><v>25</v></c>") +
                               row(6, "<c r=\"A6\"><f t=\"shared\" ref=\"A6:A7\" si=\"0\">A5+1</f><v>26</v></c>") +
                               row(7, "<c r=\"A7\"><f t=\"shared\" si=\"0\"/><v>27</v></c>") +
                               "<row r=\"8\"><c r=\"A8\"><v>30</v></c><c r=\"B8\" t=\"inlineStr\"><is><t>sat</t></is></c></row>"
                               "<row r=\"10\"><c r=\"A10\"><v>50</v></c><c r=\"B10\"><v>1</v></c></row>")));
  const RunResult run = RunTersolv(dir, "calc w.xlsx");
  ASSERT_EQ(run.Exit, 0) << run.Err;
  EXPECT_NE(run.Err.find("the data end at row 9, whose temperature cell is empty; rows 10 and below were not read"),
            std::string::npos) << run.Err;
  const std::string sheet = PartOf(dir / "w.xlsx", "xl/worksheets/sheet1.xml");
  for (const std::string kept : {"<c r=\"A4\"><v>41.17</v></c><c r=\"B4\"><v>0.35</v></c><c r=\"C4\"><v>0.1</v></c>"
                                 "<c r=\"D4\"><v>1.1</v></c>",
                                 "<c r=\"A5\"><f>20+5</f><v>25</v></c>",
                                 "<c r=\"A6\"><f t=\"shared\" ref=\"A6:A7\" si=\"0\">A5+1</f><v>26</v></c>"})
    EXPECT_NE(sheet.find(kept), std::string::npos) << kept << "\n" << sheet;
  const auto app = OpenedFile(dir / "w.xlsx");
  // Saturation at 30 C: 0.0042470 MPa (IAPWS-95).
  EXPECT_NEAR(*ParseNumber(app->ActiveSheet()->CellText(8, 2)), 0.0042470, 1e-6);
  for (int r = 4; r <= 8; ++r) EXPECT_TRUE(ParseNumber(app->ActiveSheet()->CellText(r, 11))) << r;
}

TEST(RefusedFiles, ClearMessageNonZeroExitFileUntouched) {
  TempFolder dir;
  const auto files = RefusedFiles();
  ASSERT_GE(files.size(), 40u);
  for (const Refused& file : files) {
    SCOPED_TRACE(file.Name + " " + file.Args);
    if (file.Bytes == kFolder)
      std::filesystem::create_directory(dir / file.Name);
    else if (file.Bytes != kMissing)
      WriteFile(dir / file.Name, file.Bytes);
    const RunResult run = RunTersolv(dir, "calc '" + file.Name + "' " + file.Args);
    EXPECT_EQ(run.Exit, file.Exit) << run.Err;
    EXPECT_NE(run.Err.find(file.Message), std::string::npos) << run.Err;
    EXPECT_LT(run.Err.size(), 600u) << "a message, not a dump";
    EXPECT_TRUE(file.Exit == 0 || file.Bytes.size() <= 1 || ReadFile(dir / file.Name) == file.Bytes)
        << "the file was changed";
    std::filesystem::remove(dir / file.Name);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2) << "only .stdout and .stderr";
}

// Limits of the backend itself, with small bounds so that the cases stay cheap;
// and a file the fuzzer found (refused after opening, which once leaked).
TEST(RefusedFiles, AllocationLimitsHold) {
  TempFolder dir;
  const std::string good = GoodWorkbook();
  // A part whose zip headers (the central directory's at offset 24, the local one's at 22)
  // understate its size is read only up to the limit.
  const std::string sheet = "xl/worksheets/sheet1.xml", ten("\x0a\0\0\0", 4);
  std::string lying = EditPackage(good, {{sheet, SheetXml(std::string(5000, ' '))}});
  lying.replace(lying.rfind("PK\x01\x02", lying.rfind(sheet)) + 24, 4, ten);
  lying.replace(lying.rfind("PK\x03\x04", lying.find(sheet)) + 22, 4, ten);
  const std::tuple<std::uint64_t Limits::*, std::uint64_t, std::string, std::string> cases[] = {
      {&Limits::MaxFileBytes, 100, good, "too large"},
      {&Limits::MaxPartBytes, 300, good, "more than the 300 allowed"},
      {&Limits::MaxUnpackedBytes, 2000, good, "allowed"},
      {&Limits::MaxEntries, 3, good, "entries, more than 3"},
      {&Limits::MaxCells, 8, good, "too many cells"},
      {&Limits::MaxPartBytes, 4000, lying, "unpacks to more than the 4000 bytes allowed"},
      {nullptr, 0, ReadFile(std::string(TERSOLV_TEST_DATA) + "/refused-archive.xlsx"), ""},
  };
  for (const auto& [bound, value, bytes, message] : cases) {
    SCOPED_TRACE(message);
    Limits limits;
    if (bound) limits.*bound = value;
    WriteFile(dir / "x.xlsx", bytes);
    BookApplication app('.', limits);
    ExpectLinkError(kFileError, [&] { app.OpenWorkbook(dir / "x.xlsx", false); }, {message});
  }
}

}  // namespace
}  // namespace tersolv::link::book
