// The .csv side of the workbook-file backend, and the text form of numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "link/book/book_application.h"
#include "link/book/book_test_util.h"
#include "link/book/cell_format.h"

namespace tersolv::link::book {
namespace {

using namespace testing;  // the helpers of book_test_util.h

TEST(Csv, ReadsQuotedFieldsNumbersAndText) {
  TempFolder dir;
  const std::string path = dir / "Ternary system.csv";
  WriteFile(path, "\xEF\xBB\xBFTitle,\"with, comma\",\"say \"\"hi\"\"\"\r\n\r\n"
                  "25,0.1,\"12\",1e3,\"two\nlines\",1,5,nan,-.5,\r\n\"\",,  7  ,caf\xC3\xA9");
  BookApplication app(',');
  app.OpenWorkbook(path, false);
  EXPECT_EQ(app.ActiveSheetName(), "Ternary system");  // named after the file
  auto s = app.ActiveSheet();
  const std::tuple<int, int, std::string> cells[] = {
      {1, 1, "Title"}, {1, 2, "with, comma"}, {1, 3, "say \"hi\""}, {2, 1, ""},
      {3, 1, "25"},
      {3, 2, "0,1"},        // a number, in the system's notation
      {3, 3, "12"},         // quoted: text as written
      {3, 4, "1000"},
      {3, 5, "two\nlines"},
      {3, 6, "1"},          // "1,5" unquoted is two fields
      {3, 8, "nan"},        // not a number: text
      {3, 9, "-0,5"},
      {4, 3, "  7  "},      // blanks make it text; the reader trims
      {4, 4, "caf\xC3\xA9"},
  };
  for (const auto& [row, column, text] : cells) EXPECT_EQ(s->CellText(row, column), text) << row << "," << column;
  EXPECT_EQ(BookApplication::LastRow(*s), 4);
  EXPECT_EQ(BookApplication::LastColumn(*s, 3), 10);  // the empty last field is kept
}

// A save rewrites only the fields written to, in the file's style (its byte-order mark, its line
// breaks, quotes where a field needs them); the others keep their bytes (number texts too), the
// lines their fields, the file its last line break or the lack of one.
TEST(Csv, ASaveRewritesOnlyTheWrittenFieldsInTheFilesStyle) {
  const auto five = [](Worksheet& s) { s.WriteNumber(3, 1, 5.0); };
  const struct {
    std::string File;
    std::function<void(Worksheet&)> Edit;
    std::string Saved;
  } cases[] = {
      {"\xEF\xBB\xBFTitle\r\nSystem definitions\r\nT\r\n25,0.1,0,1,old,old,old\r\n",
       [](Worksheet& s) {
         s.ClearContents(4, 5, 12);
         s.WriteNumber(4, 6, 0.123456789012345678);
         s.WriteText(4, 9, "not found");
         s.WriteText(4, 10, "a \"quoted\", text");
         s.WriteText(4, 11, "42");  // a text that looks like a number keeps its quotes
         s.WriteNumber(6, 2, -3e-300);
       },
       "\xEF\xBB\xBFTitle\r\nSystem definitions\r\nT\r\n"
       "25,0.1,0,1,,0.12345678901234568,,,not found,\"a \"\"quoted\"\", text\",\"42\"\r\n\r\n,-3e-300\r\n"},
      {"007,1.50,1e3,12345678901234567890,\"q\",  x ,,\n", five,
       "007,1.50,1e3,12345678901234567890,\"q\",  x ,,\n\n5\n"},
      {"a,b\nc", five, "a,b\nc\n5"},
      {"a,,\r\n\r\n", five, "a,,\r\n\r\n5\r\n"},
      {"1,2,3\n4,5,6\n7,8,9\n", five, "1,2,3\n4,5,6\n5,8,9\n"},
      // Found by fuzzing: a first field beginning with U+FEFF was written bare, and read back as
      // the file's byte-order mark.
      {"a\n", [](Worksheet& s) { s.WriteText(1, 1, "\xEF\xBB\xBF"); }, "\"\xEF\xBB\xBF\"\n"},
  };
  TempFolder dir;
  const std::string path = dir / "Ternary system.csv";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File);
    WriteFile(path, c.File);
    BookApplication app;
    app.OpenWorkbook(path, false);
    c.Edit(*app.ActiveSheet());
    app.Save();
    EXPECT_EQ(ReadFile(path), c.Saved);
    const auto again = OpenedFile(path);  // and what was saved reads back as written
    for (int row = 1; row <= 6; ++row)
      for (int column = 1; column <= 12; ++column)
        EXPECT_EQ(again->ActiveSheet()->CellText(row, column), app.ActiveSheet()->CellText(row, column))
            << row << "," << column;
  }
}

TEST(CellFormat, ShortestRoundTripFormAndOnlyWholeFiniteNumbers) {
  EXPECT_EQ(FormatNumber(-0.0), "0");
  EXPECT_EQ(FormatNumber(1.5, ','), "1,5");
  EXPECT_EQ(FormatNumber(1e-5), "1e-05");
  EXPECT_EQ(FormatNumber(1.7976931348623157e308), "1.7976931348623157e+308");
  for (double x : {298.15 - 273.15, 1.0 / 3.0, 6.02214076e23, 4.9e-324, 0.1 + 0.2})
    EXPECT_EQ(*ParseNumber(FormatNumber(x)), x) << x;
  EXPECT_THROW(FormatNumber(std::numeric_limits<double>::quiet_NaN()), std::invalid_argument);
  EXPECT_THROW(FormatNumber(HUGE_VAL), std::invalid_argument);
  EXPECT_EQ(ParseNumber("+1.5E3"), 1500.0);
  EXPECT_EQ(ParseNumber("-.5"), -0.5);
  EXPECT_EQ(ParseNumber("1e-400"), std::nullopt);  // underflow is reported as out of range
  for (const char* bad : {"", "+", " 1", "1 ", "1,5", "nan", "NaN", "inf", "-Infinity", "1e999", "0x10", "1e",
                          "--1", "1.2.3", "sat"})
    EXPECT_EQ(ParseNumber(bad), std::nullopt) << bad;
}

// The cells' display text, the link's NumberText, is printf's "%.15G" (written
// faster): the same text for numbers of every size and for rounding ties.
TEST(CellFormat, DisplayTextIsPrintfsFifteenDigits) {
  std::vector<double> values = {1e15, 999999999999999.0, 999999999999999.5, 1e16, 1e-4, 9.99999999999999e-5, 1e-5,
                                0.1, 1.0 / 3.0, 123456789012345678.0, 4.9e-324, 2.2250738585072014e-308,
                                1.7976931348623157e308, -2.5, 0.5e-300, 1234567.8901234567, 0.30000000000000004};
  std::mt19937_64 random(7);
  for (int i = 0; i < 50000; ++i) {
    double x;
    const std::uint64_t bits = random();
    std::memcpy(&x, &bits, sizeof x);
    if (std::isfinite(x)) values.push_back(x);
    values.push_back(std::ldexp(static_cast<double>(random() % 2000000 + 1), static_cast<int>(random() % 80) - 40));
    values.push_back(static_cast<double>(random() % 10000000000000000ull) / 1e10);  // 16 digits: rounding to 15
  }
  for (double x : values) {
    char printed[40];
    std::snprintf(printed, sizeof printed, "%.15G", x == 0.0 ? 0.0 : x);
    std::string comma = printed;
    std::replace(comma.begin(), comma.end(), '.', ',');
    ASSERT_EQ(NumberText(x, '.'), printed) << x;
    ASSERT_EQ(NumberText(x, ','), comma) << x;
  }
}

}  // namespace
}  // namespace tersolv::link::book
