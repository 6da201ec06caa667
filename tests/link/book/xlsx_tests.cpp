// The .xlsx side of the workbook-file backend: reading cells, editing in place
// without disturbing what was not touched, styles and shared strings, and
// saving safely.
#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <map>

#include "link/book/book_application.h"
#include "link/book/workbook_writer.h"
#include "link/book/book_test_util.h"

namespace tersolv::link::book {
namespace {

using testing::Count;
using testing::EditPackage;
using testing::PartOf;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

// Two sheets: "Notes" with formulas, merged cells, widths and a number
// format, and a "Ternary system" data sheet, which the file marks active.
std::vector<NewSheet> SampleSheets() {
  NewSheet notes;
  notes.Name = "Notes";
  notes.Rows = {{std::string("Notes on the runs")}, {1.5, 2.5}, {std::string("kept")}};
  notes.Formulas = {{"C2", "A2+B2"}};
  notes.Merges = {"A1:D1"};
  notes.ColumnWidths = {30, 12};
  notes.NumberFormats = {{"B2", 2}};
  NewSheet data;
  data.Name = "Ternary system";
  data.Rows = {{std::string("Title")},
               {std::string("System definitions")},
               {std::string("T, C"), std::string("P, MPa"), std::string("m(H2S)"), std::string("m(NaCl)")},
               {25.0, 0.1, 0.0, 1.0},
               {100.0, std::string("sat"), 0.5, 2.0}};
  data.BoldRows = {1, 2, 3};
  data.Formulas = {{"N4", "A4*2"}};
  return {notes, data};
}

class XlsxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ / "Data.xlsx";
    WriteNewWorkbookFile(path_, SampleSheets(), 1);
  }
  TempFolder dir_;
  std::string path_;
};

TEST_F(XlsxTest, OpensTheActiveSheetAndReadsCellsAsText) {
  BookApplication app;
  app.OpenWorkbook(path_, false);
  EXPECT_EQ(app.ActiveWorkbookName(), "Data.xlsx");
  EXPECT_EQ(app.WorkbookFullName(1), std::filesystem::canonical(path_).string());
  EXPECT_EQ(app.ActiveSheetName(), "Ternary system");
  auto sheet = app.ActiveSheet();
  EXPECT_EQ(sheet->CellText(2, 1), "System definitions");
  EXPECT_EQ(sheet->CellText(3, 3), "m(H2S)");
  EXPECT_EQ(sheet->CellText(4, 1), "25");
  EXPECT_EQ(sheet->CellText(4, 2), "0.1");
  EXPECT_EQ(sheet->CellText(5, 2), "sat");
  EXPECT_EQ(sheet->CellText(2, 2), "");
  EXPECT_EQ(sheet->CellText(4, 14), "");  // formula without a cached value
  EXPECT_EQ(sheet->CellText(900000, 900), "");
  EXPECT_EQ(app.FirstWorksheet()->Name(), "Notes");
  EXPECT_THROW(sheet->CellText(0, 1), LinkError);
  EXPECT_THROW(sheet->CellText(1, 16385), LinkError);
}

TEST_F(XlsxTest, NumbersUseTheChosenDecimalSeparator) {
  BookApplication app(',');
  app.OpenWorkbook(path_, false);
  auto sheet = app.ActiveSheet();
  EXPECT_EQ(sheet->CellText(4, 2), "0,1");
  sheet->WriteNumber(6, 1, -1.25e-7);
  EXPECT_EQ(sheet->CellText(6, 1), "-1,25E-07");
}

TEST_F(XlsxTest, EditsSurviveSavingAndEverythingElseStaysAsItWas) {
  const std::string notesBefore = PartOf(path_, "xl/worksheets/sheet1.xml");
  const std::string relsBefore = PartOf(path_, "_rels/.rels");
  {
    BookApplication app;
    app.OpenWorkbook(path_, false);
    auto sheet = app.ActiveSheet();
    sheet->WriteNumber(4, 5, 0.123456789012345678);
    sheet->WriteNumbers(4, 6, std::vector<double>{1.0, 2.0, 3e300});
    sheet->WriteText(5, 10, "not found");
    sheet->WriteText(6, 1, " padded & <odd> \"text\" _x0041_ ");
    sheet->WriteNumber(2, 20, 7.0);  // beyond the used range, between rows
    sheet->ClearContents(5, 1, 1);
    EXPECT_TRUE(app.Modified());
    app.Save();
    EXPECT_FALSE(app.Modified());
  }
  BookApplication app;
  app.OpenWorkbook(path_, false);
  auto sheet = app.ActiveSheet();
  EXPECT_EQ(sheet->CellText(4, 5), "0.123456789012346");
  EXPECT_EQ(sheet->CellText(4, 8), "3E+300");
  EXPECT_EQ(sheet->CellText(5, 10), "not found");
  EXPECT_EQ(sheet->CellText(6, 1), " padded & <odd> \"text\" _x0041_ ");
  EXPECT_EQ(sheet->CellText(2, 20), "7");
  EXPECT_EQ(sheet->CellText(5, 1), "");
  EXPECT_EQ(sheet->CellText(5, 2), "sat");

  // Untouched parts are copied as they were.
  EXPECT_EQ(PartOf(path_, "xl/worksheets/sheet1.xml"), notesBefore);
  EXPECT_EQ(PartOf(path_, "_rels/.rels"), relsBefore);
  const std::string xml = PartOf(path_, "xl/worksheets/sheet2.xml");
  EXPECT_NE(xml.find("<c r=\"N4\"><f>A4*2</f></c>"), std::string::npos);  // formula elsewhere kept
  EXPECT_NE(xml.find("<dimension ref=\"A1:T6\"/>"), std::string::npos);
  // Text goes into the shared-string table, never inline.
  EXPECT_EQ(Count(xml, "inlineStr"), 0u);
  EXPECT_NE(xml.find("<c r=\"J5\" t=\"s\">"), std::string::npos);
  EXPECT_NE(PartOf(path_, "xl/sharedStrings.xml").find("<t>not found</t>"), std::string::npos);
  // Rows stay in order, a new row 2 cell lands in row 2 after A2.
  EXPECT_LT(xml.find("<row r=\"2\""), xml.find("r=\"T2\""));
  EXPECT_LT(xml.find("r=\"T2\""), xml.find("<row r=\"3\""));
}

TEST_F(XlsxTest, OverwritingAFormulaDropsTheCalculationChain) {
  const std::string chain =
      "<?xml version=\"1.0\"?><calcChain xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
      "<c r=\"N4\" i=\"2\"/><c r=\"C2\" i=\"1\"/></calcChain>";
  std::string rels = PartOf(path_, "xl/_rels/workbook.xml.rels");
  rels.insert(rels.find("</Relationships>"),
              "<Relationship Id=\"rId99\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
              "relationships/calcChain\" Target=\"calcChain.xml\"/>");
  std::string types = PartOf(path_, "[Content_Types].xml");
  types.insert(types.find("</Types>"),
               "<Override PartName=\"/xl/calcChain.xml\" ContentType=\"application/"
               "vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml\"/>");
  WriteFile(path_, EditPackage(ReadFile(path_), {{"xl/calcChain.xml", chain},
                                                 {"xl/_rels/workbook.xml.rels", rels},
                                                 {"[Content_Types].xml", types}}));
  {
    // Plain values only: the chain stays.
    BookApplication app;
    app.OpenWorkbook(path_, false);
    app.ActiveSheet()->WriteNumber(4, 5, 1.0);
    app.Save();
    EXPECT_FALSE(PartOf(path_, "xl/calcChain.xml").empty());
  }
  BookApplication app;
  app.OpenWorkbook(path_, false);
  app.ActiveSheet()->WriteNumber(4, 14, 2.0);
  app.Save();
  EXPECT_TRUE(PartOf(path_, "xl/calcChain.xml").empty());
  EXPECT_EQ(PartOf(path_, "xl/_rels/workbook.xml.rels").find("calcChain"), std::string::npos);
  EXPECT_EQ(PartOf(path_, "[Content_Types].xml").find("calcChain"), std::string::npos);
  // Formulas elsewhere are recalculated on opening, so none shows a stale value.
  EXPECT_NE(PartOf(path_, "xl/workbook.xml").find("fullCalcOnLoad=\"1\""), std::string::npos);
  BookApplication again;
  again.OpenWorkbook(path_, false);
  EXPECT_EQ(again.ActiveSheet()->CellText(4, 14), "2");
}

TEST_F(XlsxTest, ASharedFormulaMasterIsNotOverwritten) {
  std::string xml = PartOf(path_, "xl/worksheets/sheet2.xml");
  const std::string plain = "<c r=\"N4\"><f>A4*2</f></c>";
  xml.replace(xml.find(plain), plain.size(), "<c r=\"N4\"><f t=\"shared\" ref=\"N4:N5\" si=\"0\">A4*2</f><v>50</v></c>");
  WriteFile(path_, EditPackage(ReadFile(path_), {{"xl/worksheets/sheet2.xml", xml}}));
  BookApplication app;
  app.OpenWorkbook(path_, false);
  auto sheet = app.ActiveSheet();
  EXPECT_EQ(sheet->CellText(4, 14), "50");
  try {
    sheet->WriteNumber(4, 14, 1.0);
    FAIL() << "overwrote a shared formula";
  } catch (const LinkError& e) {
    EXPECT_NE(std::string(e.what()).find("N4:N5"), std::string::npos) << e.what();
  }
  EXPECT_EQ(sheet->CellText(4, 14), "50");
}

TEST_F(XlsxTest, FontColoursReuseStylesAndKeepOtherFormatting) {
  const auto cellXfCount = [&] {
    const std::string styles = PartOf(path_, "xl/styles.xml");
    const auto start = styles.find("<cellXfs");
    return Count(styles.substr(start, styles.find("</cellXfs>") - start), "<xf ");
  };
  const std::size_t before = cellXfCount();
  for (int run = 0; run < 2; ++run) {
    BookApplication app;
    app.OpenWorkbook(path_, false);
    auto sheet = app.ActiveSheet();
    sheet->SetFontColor(4, 5, 12, RgbColor(255, 0, 0));
    sheet->SetFontColor(5, 5, 12, RgbColor(0, 0, 255));
    sheet->SetFontColor(3, 1, 2, RgbColor(255, 0, 0));  // bold header cells
    sheet->SetFontColor(6, 5, 12, RgbColor(255, 0, 0));
    app.Save();
    // plain+red, plain+blue, bold+red, and nothing more on the second run
    EXPECT_EQ(cellXfCount(), before + 3) << "run " << run;
  }
  const std::string styles = PartOf(path_, "xl/styles.xml");
  EXPECT_NE(styles.find("<font><b/><sz val=\"11\"/><color rgb=\"FFFF0000\"/><name val=\"Calibri\"/>"), std::string::npos);
  EXPECT_NE(styles.find("<color rgb=\"FF0000FF\"/>"), std::string::npos);
  BookApplication app;
  app.OpenWorkbook(path_, false);
  EXPECT_EQ(app.ActiveSheet()->CellText(3, 1), "T, C");  // colouring keeps values
}

TEST_F(XlsxTest, ReadOnlyAndClosedWorkbooksAreNotWritten) {
  const std::string bytes = ReadFile(path_);
  BookApplication app;
  app.OpenWorkbook(path_, true);
  auto sheet = app.ActiveSheet();
  sheet->WriteNumber(4, 5, 1.0);
  EXPECT_THROW(app.Save(), LinkError);
  app.OpenWorkbook(path_, false);  // the copy already open is reused
  EXPECT_EQ(app.WorkbookCount(), 1);
  app.Quit();
  EXPECT_THROW(app.ActiveWorkbookName(), LinkError);
  try {
    sheet->CellText(1, 1);
    FAIL();
  } catch (const LinkError& e) {
    EXPECT_EQ(e.Number(), kNoWorkbook);
  }
  EXPECT_EQ(ReadFile(path_), bytes);
}

TEST_F(XlsxTest, AFileChangedOnDiskSinceOpeningIsNotOverwritten) {
  BookApplication app;
  app.OpenWorkbook(path_, false);
  app.ActiveSheet()->WriteNumber(4, 5, 1.0);
  WriteNewWorkbookFile(path_, {SampleSheets()[0]});
  const std::string theirs = ReadFile(path_);
  try {
    app.Save();
    FAIL();
  } catch (const LinkError& e) {
    EXPECT_NE(std::string(e.what()).find("changed by another program"), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadFile(path_), theirs);
  // Saving under another name still works, and later saves go there.
  app.SaveAs(dir_ / "Copy.xlsx");
  EXPECT_EQ(app.ActiveWorkbookName(), "Copy.xlsx");
  EXPECT_THROW(app.SaveAs(dir_ / "Copy.csv"), LinkError);
}

TEST_F(XlsxTest, AFailedWriteLeavesTheOriginalAndNoTemporaryFile) {
  const std::string bytes = ReadFile(path_);
  BookApplication app;
  app.OpenWorkbook(path_, false);
  auto sheet = app.ActiveSheet();
  for (int row = 4; row < 3000; ++row) sheet->WriteText(row, 6, "row text " + std::to_string(row));
  // A file-size limit below the new file's size makes the write fail half-way.
  struct rlimit old {};
  ::getrlimit(RLIMIT_FSIZE, &old);
  auto* previous = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = bytes.size() + 1000;
  ::setrlimit(RLIMIT_FSIZE, &small);
  EXPECT_THROW(app.Save(), LinkError);
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, previous);
  EXPECT_EQ(ReadFile(path_), bytes);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1);
  app.Save();  // and once the disk takes it, the save goes through
  BookApplication again;
  again.OpenWorkbook(path_, false);
  EXPECT_EQ(again.ActiveSheet()->CellText(2999, 6), "row text 2999");
}

TEST_F(XlsxTest, ChangeNotificationsFollowTheEventSwitch) {
  BookApplication app;
  app.OpenWorkbook(path_, false);
  auto sheet = app.ActiveSheet();
  std::vector<CellRange> seen;
  sheet->SetChangeHandler([&](const CellRange& r) { seen.push_back(r); });
  sheet->WriteNumber(4, 5, 1.0);
  sheet->ClearContents(4, 5, 12);
  sheet->SetFontColor(4, 5, 12, 255);  // formatting is no change of contents
  app.SetEventsEnabled(false);
  sheet->WriteText(4, 6, "x");
  app.SetEventsEnabled(true);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].FirstColumn, 5);
  EXPECT_EQ(seen[1].LastColumn, 12);
  sheet->SetChangeHandler({});
  sheet->WriteNumber(4, 5, 1.0);
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(XlsxTest, ChooseSheetByNameAndRefuseChartSheets) {
  std::string workbook = PartOf(path_, "xl/workbook.xml");
  workbook.replace(workbook.find("</sheets>"), 0, "<sheet name=\"Chart\" sheetId=\"9\" r:id=\"rId9\"/>");
  workbook.replace(workbook.find("activeTab=\"1\""), 13, "activeTab=\"2\"");
  std::string rels = PartOf(path_, "xl/_rels/workbook.xml.rels");
  rels.insert(rels.find("</Relationships>"),
              "<Relationship Id=\"rId9\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
              "relationships/chartsheet\" Target=\"chartsheets/sheet1.xml\"/>");
  WriteFile(path_, EditPackage(ReadFile(path_), {{"xl/workbook.xml", workbook},
                                                 {"xl/_rels/workbook.xml.rels", rels},
                                                 {"xl/chartsheets/sheet1.xml", "<chartsheet/>"}}));
  BookApplication app;
  app.OpenWorkbook(path_, false);
  EXPECT_EQ(app.ActiveSheetName(), "Chart");
  try {
    app.ActiveSheet();
    FAIL();
  } catch (const LinkError& e) {
    EXPECT_EQ(e.Number(), kNotAWorksheet);
  }
  EXPECT_EQ(app.FirstWorksheet()->Name(), "Notes");
  app.ActivateSheet("Ternary system");
  EXPECT_EQ(app.ActiveSheet()->CellText(4, 1), "25");
  EXPECT_THROW(app.ActivateSheet("ternary system"), LinkError);
  EXPECT_EQ((std::vector<std::string>{"Notes", "Ternary system", "Chart"}), app.SheetNames());
}

// Producers differ: prefixed element names, cells without references, inline
// and rich text, booleans, errors and cached formula text.
TEST(XlsxVariants, ReadsWhatOtherProducersWrite) {
  TempFolder dir;
  const std::string path = dir / "Other.xlsx";
  WriteNewWorkbookFile(path, SampleSheets(), 0);
  const std::string sheet =
      "<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><x:sheetData>"
      "<x:row><x:c t=\"inlineStr\"><x:is><x:t>Title</x:t></x:is></x:c></x:row>"
      "<x:row r=\"3\"><x:c r=\"B3\" t=\"b\"><x:v>1</x:v></x:c><x:c t=\"e\"><x:v>#DIV/0!</x:v></x:c>"
      "<x:c t=\"str\"><x:f>\"a\"&amp;\"b\"</x:f><x:v>ab</x:v></x:c>"
      "<x:c t=\"inlineStr\"><x:is><x:r><x:t>ri</x:t></x:r><x:r><x:t>ch</x:t></x:r><x:rPh><x:t>no</x:t></x:rPh>"
      "</x:is></x:c><x:c><x:v>1E-3</x:v></x:c><x:c><x:v/></x:c></x:row></x:sheetData></x:worksheet>";
  WriteFile(path, EditPackage(ReadFile(path), {{"xl/worksheets/sheet1.xml", sheet}}));
  BookApplication app;
  app.OpenWorkbook(path, false);
  auto s = app.ActiveSheet();
  EXPECT_EQ(s->CellText(1, 1), "Title");
  EXPECT_EQ(s->CellText(3, 2), "TRUE");
  EXPECT_EQ(s->CellText(3, 3), "#DIV/0!");
  EXPECT_EQ(s->CellText(3, 4), "ab");
  EXPECT_EQ(s->CellText(3, 5), "rich");
  EXPECT_EQ(s->CellText(3, 6), "0.001");
  EXPECT_EQ(s->CellText(3, 7), "");  // an empty value
  s->WriteText(3, 4, "new");
  s->WriteNumber(2, 1, 4.0);
  s->SetFontColor(2, 1, 1, 255);
  app.Save();
  const std::string xml = PartOf(path, "xl/worksheets/sheet1.xml");
  EXPECT_NE(xml.find("<x:row r=\"2\"><x:c r=\"A2\" s=\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("<x:c t=\"s\"><x:v>"), std::string::npos) << xml;
  BookApplication again;
  again.OpenWorkbook(path, false);
  EXPECT_EQ(again.ActiveSheet()->CellText(3, 4), "new");
  EXPECT_EQ(again.ActiveSheet()->CellText(2, 1), "4");
  EXPECT_EQ(again.ActiveSheet()->CellText(3, 5), "rich");
}

// A workbook LibreOffice Calc wrote (the example, saved again by it): edited
// cells read back, every part we did not touch is copied as it was.
TEST(XlsxVariants, EditsAFileLibreOfficeWrote) {
  TempFolder dir;
  const std::string path = dir / "lo.xlsx";
  WriteFile(path, ReadFile(std::string(TERSOLV_TEST_DATA) + "/libreoffice-example.xlsx"));
  const std::string untouched[] = {"docProps/core.xml", "docProps/app.xml", "xl/worksheets/sheet2.xml",
                                   "xl/worksheets/sheet3.xml", "_rels/.rels"};
  std::map<std::string, std::string> before;
  for (const auto& part : untouched) before[part] = PartOf(path, part);
  {
    BookApplication app;
    app.OpenWorkbook(path, false);
    auto sheet = app.ActiveSheet();
    ASSERT_EQ(sheet->Name(), "Ternary system");
    EXPECT_EQ(sheet->CellText(3, 4), "m(NaCl)");
    EXPECT_EQ(sheet->CellText(5, 3), "0.05");
    sheet->WriteNumbers(5, 5, std::vector<double>{1.5, 2.5});
    sheet->WriteText(5, 12, "not found");
    sheet->SetFontColor(5, 5, 12, RgbColor(255, 0, 255));
    app.Save();
  }
  for (const auto& part : untouched) EXPECT_EQ(PartOf(path, part), before[part]) << part;
  BookApplication app;
  app.OpenWorkbook(path, false);
  auto sheet = app.ActiveSheet();
  EXPECT_EQ(sheet->CellText(5, 6), "2.5");
  EXPECT_EQ(sheet->CellText(5, 12), "not found");
  EXPECT_EQ(BookApplication::FontColor(*sheet, 5, 12), RgbColor(255, 0, 255));
  EXPECT_EQ(sheet->CellText(3, 12), "Molar volume of the solution, cm3/mol");
}

TEST(XlsxVariants, CreatesStylesAndSharedStringsWhenTheFileHasNone) {
  TempFolder dir;
  const std::string path = dir / "Bare.xlsx";
  WriteNewWorkbookFile(path, {SampleSheets()[1]});
  std::string rels = PartOf(path, "xl/_rels/workbook.xml.rels");
  const auto cut = rels.find("<Relationship Id=\"rId2\"");
  rels.erase(cut, rels.find("</Relationships>") - cut);
  std::string xml = PartOf(path, "xl/worksheets/sheet1.xml");
  for (auto p = xml.find(" t=\"s\""); p != std::string::npos; p = xml.find(" t=\"s\"")) {
    // keep only numeric cells: drop every text cell
    const auto start = xml.rfind("<c ", p);
    xml.erase(start, xml.find("</c>", p) + 4 - start);
  }
  for (auto p = xml.find(" s=\""); p != std::string::npos; p = xml.find(" s=\"")) xml.erase(p, xml.find('"', p + 4) + 1 - p);
  WriteFile(path, EditPackage(ReadFile(path), {{"xl/_rels/workbook.xml.rels", rels},
                                               {"xl/styles.xml", "\x01"},
                                               {"xl/sharedStrings.xml", "\x01"},
                                               {"xl/worksheets/sheet1.xml", xml}}));
  {
    BookApplication app;
    app.OpenWorkbook(path, false);
    auto s = app.ActiveSheet();
    EXPECT_EQ(s->CellText(4, 1), "25");
    s->WriteText(4, 10, "not found");
    s->SetFontColor(4, 5, 12, RgbColor(255, 0, 255));
    app.Save();
  }
  EXPECT_NE(PartOf(path, "xl/styles.xml").find("FFFF00FF"), std::string::npos);
  EXPECT_NE(PartOf(path, "[Content_Types].xml").find("/xl/sharedStrings.xml"), std::string::npos);
  BookApplication app;
  app.OpenWorkbook(path, false);
  EXPECT_EQ(app.ActiveSheet()->CellText(4, 10), "not found");
}

}  // namespace
}  // namespace tersolv::link::book
