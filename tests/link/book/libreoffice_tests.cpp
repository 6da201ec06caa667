// The computed example as LibreOffice Calc sees it: a headless soffice with a
// private profile converts every sheet to .csv; the numbers, "not found" and
// the untouched notes sheet (its formulas recalculated) must be there.
#include <gtest/gtest.h>

#include "link/book/book_application.h"
#include "link/book/cell_format.h"
#include "link/book/book_test_util.h"

namespace tersolv::link::book {
namespace {

using namespace testing;  // the helpers of book_test_util.h

TEST(LibreOffice, SeesTheResultsAndTheUntouchedRestOfTheWorkbook) {
  if (std::system("command -v soffice >/dev/null 2>&1") != 0) GTEST_SKIP() << "soffice is not installed";
  TempFolder dir;
  // Formulas on the notes sheet that use result cells, directly and through
  // another, with cached values from before the run.
  std::string notes = PartOf(TERSOLV_EXAMPLE, "xl/worksheets/sheet3.xml");
  notes.insert(notes.find("</sheetData>"), "<row r=\"8\"><c r=\"A8\"><f>SUM('Ternary system'!K4:K30)</f><v>-1</v></c>"
                                           "<c r=\"B8\"><f>A8*2</f><v>-2</v></c></row>");
  WriteFile(dir / "Example.xlsx", EditPackage(ReadFile(TERSOLV_EXAMPLE), {{"xl/worksheets/sheet3.xml", notes}}));
  ASSERT_EQ(RunTersolv(dir, "calc Example.xlsx").Exit, 0);
  ASSERT_EQ(RunTersolv(dir, "calc Example.xlsx --sheet Components").Exit, 0);

  // Comma, quote, UTF-8, every sheet into its own file; `timeout` ends the whole process group if it hangs.
  const std::string office = "timeout -s KILL 180 soffice '-env:UserInstallation=file://" + (dir / "profile") +
                             "' --headless --norestore --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,"
                             "false,true,false,false,false,-1' --outdir '" + (dir / "out") + "' '" +
                             (dir / "Example.xlsx") + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(office.c_str()), 0);

  BookApplication ours;
  ours.OpenWorkbook(dir / "Example.xlsx", true);
  BookApplication theirs;
  for (const std::string sheetName : {"Ternary system", "Components"}) {
    SCOPED_TRACE(sheetName);
    ours.ActivateSheet(sheetName);
    auto expected = ours.ActiveSheet();
    theirs.OpenWorkbook(dir / ("out/Example-" + sheetName + ".csv"), true, sheetName);
    auto seen = theirs.ActiveSheet();
    const int rows = sheetName == "Components" ? 20 : 30, last = sheetName == "Components" ? 10 : 12;
    int numbers = 0;
    for (int row = 1; row <= rows; ++row)
      for (int column = 1; column <= last; ++column) {
        const std::string a = expected->CellText(row, column), b = seen->CellText(row, column);
        const auto x = ParseNumber(a), y = ParseNumber(b);
        numbers += x && y;
        EXPECT_TRUE(x && y ? std::abs(*y - *x) <= 1e-13 * std::abs(*x) : a == b) << row << "," << column << ": " << b;
      }
    EXPECT_GT(numbers, (rows - 3) * (last - 1) * 9 / 10);
  }
  EXPECT_NE(ReadFile(dir / "out/Example-Components.csv").find("not found"), std::string::npos);
  notes = ReadFile(dir / "out/Example-Notes.csv");
  EXPECT_NE(notes.find("Compute it with: tersolv calc Example.xlsx"), std::string::npos) << notes;
  EXPECT_NE(notes.find("Number of ternary points,27"), std::string::npos) << notes;
  // Calc calculated them anew: 27 densities of about 1 g/cm3, and twice their sum.
  const auto line = notes.substr(notes.rfind('\n', notes.size() - 2) + 1);
  const auto comma = line.find(',');
  const double sum = std::stod(line.substr(0, comma)), twice = std::stod(line.substr(comma + 1));
  EXPECT_GT(sum, 20.0) << line;
  EXPECT_LT(sum, 35.0) << line;
  // Both are 15-digit texts: the last digit of twice the rounded sum may differ.
  EXPECT_NEAR(twice, 2 * sum, 1e-14 * twice) << line;
}

}  // namespace
}  // namespace tersolv::link::book
