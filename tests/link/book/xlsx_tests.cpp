// The .xlsx side of the workbook-file backend: editing in place without
// disturbing what was not touched, styles and shared strings, safe saving.
#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <functional>

#include "link/book/book_application.h"
#include "link/book/book_test_util.h"
#include "link/book/cell_format.h"
#include "link/book/formula_refs.h"
#include "link/book/writer/workbook_writer.h"

namespace tersolv::link::book {
namespace {

using namespace testing;  // the helpers of book_test_util.h

// "Notes" with a formula, a merge, widths and a number format; then the data
// sheet "Ternary system", which the file marks active.
std::vector<NewSheet> SampleSheets() {
  NewSheet notes;
  notes.Name = "Notes";
  notes.Rows = {{std::string("Notes")}, {1.5, 2.5}};
  notes.Formulas = {{"C2", "A2+B2"}};
  notes.Merges = {"A1:D1"};
  notes.ColumnWidths = {30, 12};
  notes.NumberFormats = {{"B2", 2}};
  NewSheet data = testing::PointSheet({{25.0, 0.1, 0.0, 1.0}, {100.0, std::string("sat"), 0.5, 2.0}});
  data.BoldRows = {1, 2, 3};
  data.WrapRows = {3};
  data.RowHeights = {{3, 48}};
  data.Formulas = {{"N4", "A4*2"}};
  return {notes, data};
}

// Opens the workbook at `path`, lets `edit` work on its active sheet, and saves it.
void EditAndSave(const std::string& path, const std::function<void(Worksheet&)>& edit) {
  BookApplication app;
  app.OpenWorkbook(path, false);
  edit(*app.ActiveSheet());
  app.Save();
}

class XlsxTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteNewWorkbookFile(path_, SampleSheets(), 1); }
  TempFolder dir_;
  std::string path_ = dir_ / "Data.xlsx";
};

// A run over a sheet that already holds results rewrites the same cells: edits survive saving,
// cells and rows written in any order come out in order, the other sheet stays byte for byte, and
// a second identical run gives the same part.
TEST_F(XlsxTest, EditsSurviveSavingInOrderAndASecondRunGivesTheSamePart) {
  const std::string notesBefore = PartOf(path_, "xl/worksheets/sheet1.xml");
  const auto run = [&] {
    EditAndSave(path_, [](Worksheet& sheet) {
      EXPECT_EQ(sheet.CellText(4, 14), "");  // formula without a cached value
      for (int row : {9, 7, 5, 4})
        for (int column = 12; column >= 5; --column) {
          sheet.ClearContents(row, column, column);
          sheet.SetFontColor(row, column, column, 0);
          sheet.WriteNumber(row, column, row + column / 100.0);
        }
      sheet.WriteNumbers(4, 6, std::vector<double>{0.123456789012345678, 2.0, 3e300});
      sheet.SetFontColor(5, 5, 12, RgbColor(255, 0, 0));
      sheet.WriteText(7, 5, "not found");
      sheet.WriteText(6, 1, " padded & <odd> \"text\" _x0041_ ");
      sheet.WriteNumber(2, 20, 7.0);  // beyond the used range, between rows
      sheet.ClearContents(5, 1, 1);
    });
    return PartOf(path_, "xl/worksheets/sheet2.xml");
  };
  const std::string xml = run();
  EXPECT_EQ(run(), xml);
  const auto app = OpenedFile(path_);
  auto sheet = app->ActiveSheet();
  const std::tuple<int, int, const char*> cells[] = {
      {4, 6, "0.123456789012346"}, {4, 8, "3E+300"}, {9, 12, "9.12"}, {7, 5, "not found"},
      {6, 1, " padded & <odd> \"text\" _x0041_ "}, {2, 20, "7"}, {5, 1, ""}, {5, 2, "sat"}};
  for (const auto& [row, column, text] : cells) EXPECT_EQ(sheet->CellText(row, column), text) << row << column;
  EXPECT_EQ(BookApplication::FontColor(*sheet, 5, 8), RgbColor(255, 0, 0));
  EXPECT_EQ(BookApplication::FontColor(*sheet, 4, 8), 0u);
  EXPECT_EQ(PartOf(path_, "xl/worksheets/sheet1.xml"), notesBefore);
  EXPECT_NE(xml.find("<dimension ref=\"A1:T9\"/>"), std::string::npos);
  EXPECT_EQ(xml.find("inlineStr"), std::string::npos);  // text goes into the shared strings
  EXPECT_NE(xml.find("<c r=\"A6\" t=\"s\">"), std::string::npos);
  const std::string inOrder[] = {"r=\"T2\"", "<row r=\"3\" ht=\"48\" customHeight=\"1\">", "r=\"E4\"", "r=\"L4\"",
                                 "<c r=\"N4\"><f>A4*2</f></c>", "<row r=\"5\"", "<row r=\"7\"", "<row r=\"9\""};
  for (std::size_t k = 1; k < std::size(inOrder); ++k)
    EXPECT_LT(xml.find(inOrder[k - 1]), xml.find(inOrder[k])) << inOrder[k];
  EXPECT_NE(xml.find(inOrder[std::size(inOrder) - 1]), std::string::npos);
}

TEST_F(XlsxTest, OverwritingAFormulaDropsTheCalculationChain) {
  std::string rels = PartOf(path_, "xl/_rels/workbook.xml.rels");
  rels.insert(rels.find("</Relationships>"),
              "<Relationship Id=\"rId99\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
              "relationships/calcChain\" Target=\"calcChain.xml\"/>");
  EditParts(path_, {{"xl/calcChain.xml", "<calcChain><c r=\"N4\" i=\"2\"/></calcChain>"},
                    {"xl/_rels/workbook.xml.rels", rels}});
  for (int column : {5, 14}) {  // a plain value keeps the chain, a formula cell does not
    EditAndSave(path_, [&](Worksheet& sheet) { sheet.WriteNumber(4, column, 2.0); });
    EXPECT_EQ(PartOf(path_, "xl/calcChain.xml").empty(), column == 14);
  }
  EXPECT_EQ(PartOf(path_, "xl/_rels/workbook.xml.rels").find("calcChain"), std::string::npos);
  EXPECT_NE(PartOf(path_, "xl/workbook.xml").find("fullCalcOnLoad=\"1\""), std::string::npos);
}

TEST_F(XlsxTest, FontColoursReuseStyles) {
  const auto cellXfCount = [&] {
    const std::string styles = PartOf(path_, "xl/styles.xml");
    const auto start = styles.find("<cellXfs");
    return Count(styles.substr(start, styles.find("</cellXfs>") - start), "<xf ");
  };
  const std::size_t before = cellXfCount();
  for (int run = 0; run < 2; ++run) {
    EditAndSave(path_, [](Worksheet& sheet) {
      sheet.SetFontColor(4, 5, 12, RgbColor(255, 0, 0));
      sheet.SetFontColor(5, 5, 12, RgbColor(0, 0, 255));
      sheet.SetFontColor(3, 1, 2, RgbColor(255, 0, 0));  // bold header cells
    });
    EXPECT_EQ(cellXfCount(), before + 3) << "run " << run;  // plain+red, plain+blue, bold+red
  }
  EXPECT_EQ(Count(PartOf(path_, "xl/styles.xml"), "wrapText=\"1\""), 2u);  // the red header cells still wrap
  EXPECT_NE(PartOf(path_, "xl/styles.xml").find("<font><b/><sz val=\"11\"/><color rgb=\"FFFF0000\"/>"),
            std::string::npos);
}

TEST_F(XlsxTest, AFailedWriteLeavesTheOriginalAndNoTemporaryFile) {
  const std::string bytes = ReadFile(path_);
  BookApplication app;
  app.OpenWorkbook(path_, false);
  for (int row = 4; row < 3000; ++row) app.ActiveSheet()->WriteText(row, 6, "row text " + std::to_string(row));
  // A file-size limit below the new file's size makes the write fail half-way.
  struct rlimit old {};
  ::getrlimit(RLIMIT_FSIZE, &old);
  auto* previous = ::signal(SIGXFSZ, SIG_IGN);
  const struct rlimit small {bytes.size() + 1000, old.rlim_max};
  ::setrlimit(RLIMIT_FSIZE, &small);
  EXPECT_THROW(app.Save(), LinkError);
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, previous);
  EXPECT_EQ(ReadFile(path_), bytes);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 2);  // the file and its lock
  app.Save();  // and once the disk takes it, the save goes through
}

// Other producers: prefixed names, cells without references, inline and rich
// text, booleans, errors, cached formula text; no styles or shared strings.
TEST(XlsxVariants, ReadsAndEditsWhatOtherProducersWrite) {
  TempFolder dir;
  const std::string path = dir / "Other.xlsx";
  WriteNewWorkbookFile(path, {SampleSheets()[1]});
  std::string rels = PartOf(path, "xl/_rels/workbook.xml.rels");
  const auto cut = rels.find("<Relationship Id=\"rId2\"");  // styles and shared strings
  rels.erase(cut, rels.find("</Relationships>") - cut);
  const std::string sheet =
      "<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><x:sheetData>"
      "<x:row><x:c t=\"inlineStr\"><x:is><x:t>Title</x:t></x:is></x:c></x:row>"
      "<x:row r=\"3\"><x:c r=\"B3\" t=\"b\"><x:v>1</x:v></x:c><x:c t=\"e\"><x:v>#DIV/0!</x:v></x:c>"
      "<x:c t=\"str\"><x:f>\"a\"&amp;\"b\"</x:f><x:v>ab</x:v></x:c>"
      "<x:c t=\"inlineStr\"><x:is><x:r><x:t>ri</x:t></x:r><x:r><x:t>ch</x:t></x:r><x:rPh><x:t>no</x:t></x:rPh>"
      "</x:is></x:c><x:c><x:v>1E-3</x:v></x:c><x:c><x:v/></x:c></x:row></x:sheetData></x:worksheet>";
  EditParts(path, {{"xl/worksheets/sheet1.xml", sheet}, {"xl/_rels/workbook.xml.rels", rels},
                   {"xl/styles.xml", "\x01"}, {"xl/sharedStrings.xml", "\x01"}});
  for (int pass = 0; pass < 2; ++pass) {
    EditAndSave(path, [&](Worksheet& s) {
      const char* expected[] = {"", "TRUE", "#DIV/0!", pass ? "new" : "ab", "rich", "0.001", ""};
      for (int c = 1; c <= 7; ++c) EXPECT_EQ(s.CellText(3, c), expected[c - 1]) << pass << " column " << c;
      EXPECT_EQ(s.CellText(1, 1), "Title");
      EXPECT_EQ(s.CellText(2, 1), pass ? "4" : "");
      EXPECT_EQ(BookApplication::FontColor(s, 2, 1), pass ? RgbColor(255, 0, 255) : 0u);
      s.WriteText(3, 4, "new");
      s.WriteNumber(2, 1, 4.0);
      s.SetFontColor(2, 1, 1, RgbColor(255, 0, 255));
    });
  }
  EXPECT_NE(PartOf(path, "[Content_Types].xml").find("/xl/sharedStrings.xml"), std::string::npos);
}

// The example as LibreOffice Calc saved it: every part we did not touch is kept.
TEST(XlsxVariants, EditsAFileLibreOfficeWrote) {
  TempFolder dir;
  const std::string path = dir / "lo.xlsx";
  WriteFile(path, ReadFile(std::string(TERSOLV_TEST_DATA) + "/libreoffice-example.xlsx"));
  const std::string untouched[] = {"docProps/core.xml", "docProps/app.xml", "xl/worksheets/sheet2.xml",
                                   "xl/worksheets/sheet3.xml", "_rels/.rels"};
  std::map<std::string, std::string> before;
  for (const auto& part : untouched) before[part] = PartOf(path, part);
  EditAndSave(path, [](Worksheet& sheet) {
    EXPECT_EQ(sheet.Name(), "Ternary system");
    sheet.WriteText(5, 12, "not found");
    sheet.SetFontColor(5, 5, 12, RgbColor(255, 0, 255));
  });
  for (const auto& part : untouched) EXPECT_EQ(PartOf(path, part), before[part]) << part;
  const auto app = OpenedFile(path);
  EXPECT_EQ(app->ActiveSheet()->CellText(5, 12), "not found");
  EXPECT_EQ(BookApplication::FontColor(*app->ActiveSheet(), 5, 12), RgbColor(255, 0, 255));
}

// Worksheet parts as other producers write them, edited and saved: what the backend was not asked
// to change stays as it was written (number texts, formulas, rich text, unknown attributes, row
// attributes, extLst), next to the rewritten cells.
TEST(XlsxCells, PartsOfOtherProducersAreReadAndKeptAsWritten) {
  const std::string ns = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<worksheet " + ns +
                           "><dimension ref=\"A1:E3\"/><sheetData>\n";
  const std::string tail = "</sheetData><pageMargins left=\"0.7\"/></worksheet>";
  const std::string row2 = "<row r=\"2\" spans=\"1:1\" ht=\"15\"><c r=\"A2\" s=\"1\"/></row>";
  // A UTF-16 part, references in attributes, text between rows: forms the forward reading leaves
  // to the full XML parser. Read alike, written as UTF-8.
  const std::string odd = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><worksheet " + ns + "><sheetData>"
                          "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>kept</t></is></c></row>"
                          "<row r=\"&#50;\"><c r=\"A2\"><v>2.5</v></c></row> <![CDATA[]]>"
                          "<row r=\"4\" ht=\"a&amp;b\"><c r=\"B4\"><v>4</v></c></row></sheetData></worksheet>";
  std::string utf16 = "\xFF\xFE";
  for (char c : odd) utf16 += std::string{c, '\0'};
  const std::string oddSaved =
      "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>kept</t></is></c></row><row r=\"2\"><c r=\"A2\">"
      "<v>2.5</v></c></row><row r=\"4\" ht=\"a&amp;b\"><c r=\"B4\"><v>4</v></c><c r=\"C4\"><v>5</v></c></row>";
  using Cells = std::vector<std::tuple<int, int, std::string>>;
  const struct {
    const char* Name;
    std::string Part;
    Cells Read;                                  // texts before the edit
    std::function<void(Worksheet&)> Edit;
    std::vector<std::string> Saved;              // found in the saved part
  } cases[] = {
      {"kept cells and rows",
       head + "<row r=\"1\" spans=\"1:5\" ht='20' customHeight=\"1\"><c r=\"A1\" s=\"0\" t=\"n\"><v>1.50</v></c>"
              "<c r=\"B1\"><f>A1*2</f><v>3</v></c><c r=\"C1\" t=\"inlineStr\"><is><r><t>ri</t></r>"
              "<r><t>ch</t></r></is></c><c r=\"D1\" foo=\"bar\"><v>2</v></c><c r=\"E1\"><v>1&#48;</v></c>"
              "</row>\n  " + row2 +
              "<!-- a note --><row r=\"3\" spans=\"2:2\"><c r=\"B3\" t=\"s\"><v>0</v></c><extLst><ext uri=\"x\"/>"
              "</extLst></row>" + tail,
       {{1, 1, "1.5"}, {1, 2, "3"}, {1, 3, "rich"}, {1, 4, "2"}, {1, 5, "10"}, {3, 2, "Title"}},
       [](Worksheet& sheet) {
         sheet.WriteNumber(1, 6, 0.25);  // new cells: the rows' spans go
         sheet.WriteNumber(3, 7, 2.0);   // away from the formula's A1: its cached value stays
       },
       {head.substr(0, head.find("A1:E3")) + "A1:G3\"/><sheetData>" +
        "<row r=\"1\" ht='20' customHeight=\"1\"><c r=\"A1\" s=\"0\" t=\"n\"><v>1.50</v></c>"
        "<c r=\"B1\"><f>A1*2</f><v>3</v></c><c r=\"C1\" t=\"inlineStr\"><is><r><t>ri</t></r><r><t>ch</t>"
        "</r></is></c><c r=\"D1\" foo=\"bar\"><v>2</v></c><c r=\"E1\"><v>10</v></c>"
        "<c r=\"F1\"><v>0.25</v></c></row>" + row2 +
        "<row r=\"3\"><c r=\"B3\" t=\"s\"><v>0</v></c><c r=\"G3\"><v>2</v></c><extLst><ext uri=\"x\"/>"
        "</extLst></row>" + tail}},
      // A kept cell written without a reference stays in its column when the cells before it go
      // (its place alone would give it another).
      {"a kept cell without reference",
       WorksheetPart("<row r=\"4\"><c><v>1</v></c><c t=\"str\"><f>\"x\"</f><v>x</v></c></row>"),
       {{4, 1, "1"}, {4, 2, "x"}},
       [](Worksheet& sheet) { sheet.ClearContents(4, 1, 1); },
       {"<row r=\"4\"><c r=\"B4\" t=\"str\"><f>\"x\"</f><v>x</v></c></row>"}},
      {"UTF-16", utf16, {{2, 1, "2.5"}, {1, 1, "kept"}, {4, 2, "4"}},
       [](Worksheet& sheet) { sheet.WriteNumber(4, 3, 5.0); }, {"encoding=\"UTF-8\"", oddSaved}},
      {"references in attributes", odd, {{2, 1, "2.5"}, {1, 1, "kept"}, {4, 2, "4"}},
       [](Worksheet& sheet) { sheet.WriteNumber(4, 3, 5.0); }, {"encoding=\"UTF-8\"", oddSaved}},
      // A number a double cannot hold is a cell like any other (the worksheet checks reject it at
      // its cell); its text stays as written.
      {"numbers out of range",
       WorksheetPart("<row r=\"4\"><c r=\"F4\"><v>1e309</v></c><c r=\"G4\"><v>-1E-400</v></c></row>"),
       {{4, 6, "1e309"}, {4, 7, "-1E-400"}},
       [](Worksheet& sheet) { sheet.WriteNumber(5, 1, 1.0); },
       {"<row r=\"4\"><c r=\"F4\"><v>1e309</v></c><c r=\"G4\"><v>-1E-400</v></c></row>"}},
  };
  TempFolder dir;
  const std::string path = dir / "Other.xlsx";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteNewWorkbookFile(path, {testing::PointSheet({})});
    EditParts(path, {{"xl/worksheets/sheet1.xml", c.Part}});
    EditAndSave(path, [&](Worksheet& sheet) {
      for (const auto& [row, column, text] : c.Read)
        EXPECT_EQ(sheet.CellText(row, column), text) << row << "," << column;
      c.Edit(sheet);
    });
    const std::string xml = PartOf(path, "xl/worksheets/sheet1.xml");
    for (const auto& text : c.Saved) EXPECT_NE(xml.find(text), std::string::npos) << text << "\n" << xml;
  }
}

// A sheet of several megabytes is read and written in pieces: rows cut at
// the end of a piece, and a part deflated as pieces on two threads, come
// back whole (libzip checks the CRC of what it unpacks).
TEST_F(XlsxTest, ABigSheetIsReadAndWrittenInPieces) {
  constexpr int kRows = 40000;
  const auto value = [](int row, int column) { return row * 1.0000001 + column / 7.0; };
  for (int run = 0; run < 2; ++run)
    EditAndSave(path_, [&](Worksheet& sheet) {
      for (int row = 10; row < 10 + kRows; ++row) {
        if (run == 1) {
          ASSERT_EQ(sheet.CellText(row, 12), NumberText(value(row, 12), '.')) << row;
        }
        for (int column = 5; column <= 12; ++column) sheet.WriteNumber(row, column, value(row, column) + run);
      }
    });
  const std::string xml = PartOf(path_, "xl/worksheets/sheet2.xml");
  EXPECT_GT(xml.size(), 4u << 20);
  EXPECT_EQ(Count(xml, "<row "), 5u + kRows);
  EXPECT_NE(xml.find("<row r=\"40009\">"), std::string::npos);
  EXPECT_TRUE(xml.ends_with("</worksheet>"));
  const auto app = OpenedFile(path_);
  auto sheet = app->ActiveSheet();
  for (int row = 10; row < 10 + kRows; row += 997)
    for (int column = 5; column <= 12; ++column)
      ASSERT_EQ(sheet->CellText(row, column), NumberText(value(row, column) + 1, '.')) << row << " " << column;
  EXPECT_EQ(sheet->CellText(4, 1), "25");
}

// Formulas that fill-down shares: cells outside those written keep theirs;
// a written cell that holds the group's text hands it on to the next cell,
// its references moved there; the cached values of formulas that use the
// written cells, directly or through others, go so that applications
// calculate them, and those of other formulas and of input cells stay.
TEST(XlsxFormulas, SharedGroupsSplitAndOnlyStaleCachedValuesGo) {
  TempFolder dir;
  const std::string path = dir / "Shared.xlsx";
  NewSheet other;
  other.Name = "Notes";
  other.Rows = {{std::string("Notes")}};
  WriteNewWorkbookFile(path, {testing::PointSheet({{25.0, 1.0}, {30.0, 1.0}, {35.0, 1.0}}), other});
  const auto cell = [](const std::string& ref, const std::string& f, const std::string& v) {
    return "<c r=\"" + ref + "\">" + f + "<v>" + v + "</v></c>";
  };
  std::string data = PartOf(path, "xl/worksheets/sheet1.xml");
  const auto put = [&](int row, const std::string& cells) {
    const std::string close = "</row>", open = "<row r=\"" + std::to_string(row) + "\"";
    const auto at = data.find(close, data.find(open));
    data.insert(at, cells);
  };
  put(4, cell("F4", "<f t=\"shared\" ref=\"F4:F6\" si=\"0\">A4+1</f>", "26") +
             cell("N4", "<f t=\"shared\" ref=\"N4:N6\" si=\"1\">$A$4+B4</f>", "26"));
  put(5, cell("F5", "<f t=\"shared\" si=\"0\"/>", "31") + cell("N5", "<f t=\"shared\" si=\"1\"/>", "26"));
  put(6, cell("F6", "<f t=\"shared\" si=\"0\"/>", "36") + cell("N6", "<f t=\"shared\" si=\"1\"/>", "26"));
  std::string notes = PartOf(path, "xl/worksheets/sheet2.xml");
  notes.insert(notes.find("</sheetData>"),
               "<row r=\"2\">" + cell("A2", "<f>SUM('Ternary system'!E4:E6)</f>", "1") +
                   cell("B2", "<f>'Ternary system'!A4*2</f>", "50") + cell("C2", "<f>A2+1</f>", "2") +
                   cell("D2", "<f>rate*2</f>", "4") + cell("E2", "<f>'Ternary system'!F6</f>", "36") + "</row>");
  EditParts(path, {{"xl/worksheets/sheet1.xml", data}, {"xl/worksheets/sheet2.xml", notes}});

  BookApplication app;
  app.KeepFormulaValues([](std::string_view, int row, int column) { return row >= 4 && column <= 4; });
  app.OpenWorkbook(path, false);
  app.ActiveSheet()->WriteNumber(4, 6, 7.0);   // the group's first cell
  app.ActiveSheet()->WriteNumber(4, 5, 1.0);   // E4, which Notes!A2 sums
  app.Save();
  const std::string saved = PartOf(path, "xl/worksheets/sheet1.xml");
  const std::string kept[] = {
      "<c r=\"F4\"><v>7</v></c>",
      "<c r=\"F5\"><f t=\"shared\" ref=\"F5:F6\" si=\"0\">A5+1</f><v>31</v></c>",  // the text moved to the next cell
      "<c r=\"F6\"><f t=\"shared\" si=\"0\"/><v>36</v></c>",
      "<c r=\"N4\"><f t=\"shared\" ref=\"N4:N6\" si=\"1\">$A$4+B4</f><v>26</v></c>",  // outside the written cells
      "<c r=\"N6\"><f t=\"shared\" si=\"1\"/><v>26</v></c>",
  };
  for (const auto& text : kept) EXPECT_NE(saved.find(text), std::string::npos) << text << "\n" << saved;
  const std::string savedNotes = PartOf(path, "xl/worksheets/sheet2.xml");
  const std::string notesCells[] = {
      "<c r=\"A2\"><f>SUM('Ternary system'!E4:E6)</f></c>",  // uses E4: calculated anew
      "<c r=\"B2\"><f>'Ternary system'!A4*2</f><v>50</v></c>",
      "<c r=\"C2\"><f>A2+1</f></c>",   // through A2
      "<c r=\"D2\"><f>rate*2</f></c>",  // a name: may use anything
      "<c r=\"E2\"><f>'Ternary system'!F6</f><v>36</v></c>",
  };
  for (const auto& text : notesCells) EXPECT_NE(savedNotes.find(text), std::string::npos) << text << "\n" << savedNotes;
}

TEST(XlsxFormulas, ReferencesMovedAndAreasRead) {
  const std::tuple<const char*, int, int, std::optional<std::string>> moves[] = {
      {"A4+1", 1, 0, "A5+1"},
      {"$A$4+B$4+$C5", 1, 1, "$A$4+C$4+$C6"},
      {"SUM(A1:B2)*LOG10(C3)", 2, 1, "SUM(B3:C4)*LOG10(D5)"},
      {"'My sheet'!A1&\"B2\"", 1, 0, "'My sheet'!A2&\"B2\""},
      {"Data!C3+T[col]", 0, 1, "Data!D3+T[col]"},
      {"SUM(4:6)+SUM(A:B)+1E+5", 1, 1, "SUM(5:7)+SUM(B:C)+1E+5"},
      {"A1", -1, 0, std::nullopt},
      {"XFD1", 0, 1, std::nullopt},
  };
  for (const auto& [formula, rows, columns, moved] : moves)
    EXPECT_EQ(MoveFormulaReferences(formula, rows, columns), moved) << formula;

  using Areas = std::vector<std::tuple<std::string, int, int, int, int>>;
  const std::pair<const char*, std::optional<Areas>> reads[] = {
      {"SUM('Ternary system'!E4:L30)*2", Areas{{"Ternary system", 4, 5, 30, 12}}},
      {"A1+B$2-Data!$C$3", Areas{{"", 1, 1, 1, 1}, {"", 2, 2, 2, 2}, {"Data", 3, 3, 3, 3}}},
      {"SUM(B:B)+SUM(2:3)", Areas{{"", 1, 2, kMaxRows, 2}, {"", 2, 1, 3, kMaxColumns}}},
      {"IF(TRUE,\"A1\",#N/A)", Areas{}},
      {"rate*2", std::nullopt},
      {"INDIRECT(\"A1\")", std::nullopt},
      {"[1]Sheet1!A1", std::nullopt},
      {"INDEX(A1:A9,2):C5", std::nullopt},
  };
  for (const auto& [formula, expected] : reads) {
    const auto areas = FormulaAreas(formula);
    ASSERT_EQ(areas.has_value(), expected.has_value()) << formula;
    if (!areas) continue;
    Areas got;
    for (const auto& a : *areas) got.emplace_back(a.Sheet, a.FirstRow, a.FirstColumn, a.LastRow, a.LastColumn);
    EXPECT_EQ(got, *expected) << formula;
  }
}

}  // namespace
}  // namespace tersolv::link::book
