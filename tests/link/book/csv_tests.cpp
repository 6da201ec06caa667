// The .csv side of the workbook-file backend.
#include <gtest/gtest.h>

#include "link/book/book_application.h"
#include "link/book/book_test_util.h"

namespace tersolv::link::book {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

TEST(Csv, SheetNameComesFromTheFileOrTheCaller) {
  TempFolder dir;
  WriteFile(dir / "Ternary system.csv", "Title\n");
  BookApplication app;
  app.OpenWorkbook(dir / "Ternary system.csv", false);
  EXPECT_EQ(app.ActiveSheetName(), "Ternary system");
  EXPECT_EQ(app.ActiveSheet()->Name(), "Ternary system");
  EXPECT_EQ(app.ActiveWorkbookName(), "Ternary system.csv");
  WriteFile(dir / "points.CSV", "Title\n");
  app.OpenWorkbook(dir / "points.CSV", false, "Components");
  EXPECT_EQ(app.ActiveSheetName(), "Components");
  EXPECT_EQ(app.WorkbookCount(), 2);
}

TEST(Csv, ReadsQuotedFieldsNumbersAndText) {
  TempFolder dir;
  const std::string path = dir / "a.csv";
  WriteFile(path,
            "\xEF\xBB\xBFTitle,\"with, comma\",\"say \"\"hi\"\"\"\r\n"
            "\r\n"
            "25,0.1,\"12\",1e3,\"two\nlines\",1,5,nan,-.5,\r\n"
            "\"\",,  7  ,caf\xC3\xA9");
  BookApplication app(',');
  app.OpenWorkbook(path, false);
  auto s = app.ActiveSheet();
  EXPECT_EQ(s->CellText(1, 1), "Title");
  EXPECT_EQ(s->CellText(1, 2), "with, comma");
  EXPECT_EQ(s->CellText(1, 3), "say \"hi\"");
  EXPECT_EQ(s->CellText(2, 1), "");
  EXPECT_EQ(s->CellText(3, 1), "25");
  EXPECT_EQ(s->CellText(3, 2), "0,1");     // a number, in the system's notation
  EXPECT_EQ(s->CellText(3, 3), "12");      // quoted: text as written
  EXPECT_EQ(s->CellText(3, 4), "1000");
  EXPECT_EQ(s->CellText(3, 5), "two\nlines");
  EXPECT_EQ(s->CellText(3, 6), "1");       // "1,5" unquoted is two fields
  EXPECT_EQ(s->CellText(3, 8), "nan");     // not a number: text
  EXPECT_EQ(s->CellText(3, 9), "-0,5");
  EXPECT_EQ(s->CellText(4, 3), "  7  ");   // blanks make it text; the reader trims
  EXPECT_EQ(s->CellText(4, 4), "caf\xC3\xA9");
  EXPECT_EQ(BookApplication::LastRow(*s), 4);
  EXPECT_EQ(BookApplication::LastColumn(*s, 3), 9);  // the empty last field is dropped
}

TEST(Csv, WritesBackInTheSameStyle) {
  TempFolder dir;
  const std::string path = dir / "Ternary system.csv";
  WriteFile(path, "\xEF\xBB\xBFTitle\r\nSystem definitions\r\nT\r\n25,0.1,0,1,old,old,old\r\n");
  BookApplication app;
  app.OpenWorkbook(path, false);
  auto s = app.ActiveSheet();
  s->ClearContents(4, 5, 12);
  s->WriteNumber(4, 6, 0.123456789012345678);
  s->WriteText(4, 9, "not found");
  s->WriteText(4, 10, "a \"quoted\", text");
  s->WriteText(4, 11, "42");
  s->WriteNumber(6, 2, -3e-300);
  s->SetFontColor(4, 5, 12, RgbColor(0, 0, 0));
  EXPECT_EQ(app.MarkedCellsNotStored(), 0);
  s->SetFontColor(4, 5, 12, RgbColor(0, 0, 255));
  EXPECT_EQ(app.MarkedCellsNotStored(), 1);
  app.Save();
  EXPECT_EQ(ReadFile(path),
            "\xEF\xBB\xBFTitle\r\nSystem definitions\r\nT\r\n"
            "25,0.1,0,1,,0.12345678901234568,,,not found,\"a \"\"quoted\"\", text\",\"42\"\r\n\r\n,-3e-300\r\n");
  BookApplication again;
  again.OpenWorkbook(path, false);
  EXPECT_EQ(again.ActiveSheet()->CellText(4, 10), "a \"quoted\", text");
  EXPECT_EQ(again.ActiveSheet()->CellText(4, 11), "42");
}

// Found by fuzzing: a first cell whose text begins with U+FEFF was written
// bare and then read back as the file's byte-order mark.
TEST(Csv, TextThatLooksLikeAByteOrderMarkSurvives) {
  TempFolder dir;
  const std::string path = dir / "bom.csv";
  WriteFile(path, "\"\xEF\xBB\xBF\"\n");
  BookApplication app;
  app.OpenWorkbook(path, false);
  EXPECT_EQ(app.ActiveSheet()->CellText(1, 1), "\xEF\xBB\xBF");
  app.ActiveSheet()->WriteText(2, 1, "x");
  app.Save();
  BookApplication again;
  again.OpenWorkbook(path, false);
  EXPECT_EQ(again.ActiveSheet()->CellText(1, 1), "\xEF\xBB\xBF");
}

TEST(Csv, ClearingTheLastCellsShortensTheFile) {
  TempFolder dir;
  const std::string path = dir / "s.csv";
  WriteFile(path, "a,b,c\nd,e,f\n");
  BookApplication app;
  app.OpenWorkbook(path, false);
  app.ActiveSheet()->ClearContents(2, 1, 3);
  app.ActiveSheet()->ClearContents(1, 2, 3);
  app.Save();
  EXPECT_EQ(ReadFile(path), "a\n");
}

TEST(Csv, MalformedFilesAreRefusedAndLeftAlone) {
  TempFolder dir;
  const std::pair<const char*, std::string> cases[] = {
      {"unterminated", "a,\"never closed\n1,2\n"},
      {"text after quote", "\"a\"b,c\n"},
      {"not utf-8", "caf\xE9\n"},
      {"overlong utf-8", "\xC0\xAF\n"},
      {"surrogate", "\xED\xA0\x80\n"},
      {"binary", std::string("PK\x03\x04\0\0", 6)},
  };
  for (const auto& [what, bytes] : cases) {
    const std::string path = dir / "bad.csv";
    WriteFile(path, bytes);
    BookApplication app;
    try {
      app.OpenWorkbook(path, false);
      ADD_FAILURE() << what;
    } catch (const LinkError& e) {
      EXPECT_EQ(e.Number(), kFileError) << what;
      EXPECT_NE(std::string(e.what()).find("bad.csv"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadFile(path), bytes) << what;
  }
  Limits small;
  small.MaxCells = 5;
  WriteFile(dir / "big.csv", "1,2,3\n4,5,6\n");
  BookApplication app('.', small);
  EXPECT_THROW(app.OpenWorkbook(dir / "big.csv", false), LinkError);
}

}  // namespace
}  // namespace tersolv::link::book
