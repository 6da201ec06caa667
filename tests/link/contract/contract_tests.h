// Contract tests of the spreadsheet link: one source that every backend
// (in-memory, workbook files, LibreOffice Calc) instantiates, so that the
// reader, the driver and the shell can rely on the same behaviour whatever
// stands behind the interface.
//
// A backend provides a BackendFactory and instantiates the suite in exactly
// one test source:
//
//   #include "link/contract/contract_tests.h"
//   INSTANTIATE_TEST_SUITE_P(Book, LinkContract,
//       ::testing::Values(tersolv::link::contract::Backend{std::make_shared<BookFactory>()}),
//       tersolv::link::contract::FactoryName);
//
// A case that needs something a backend cannot do (font colours in a .csv
// file, a chart sheet, ...) is skipped, visibly, when the factory's Supports()
// says no.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "link/link.h"

namespace tersolv::link::contract {

// A workbook to start with: sheets with names and cell contents.
struct CellLayout {
  int Row = 1, Column = 1;
  std::variant<double, std::string> Value;  // a number or a text
};
struct SheetLayout {
  std::string Name;
  std::vector<CellLayout> Cells;
  bool IsWorksheet = true;  // false: a chart sheet or the like
};
struct WorkbookLayout {
  std::string Stem;  // file name without extension, e.g. "Data"
  std::vector<SheetLayout> Sheets;
  std::size_t ActiveSheet = 0;  // index into Sheets
};

enum class Feature {
  kMultipleWorkbooks,  // more than one workbook open at once
  kMultipleSheets,     // more than one sheet in a workbook
  kNonWorksheets,      // a sheet that is not a worksheet (chart sheet)
  kFontColors,         // font colours are kept (FontColor probe works)
  kUserEdits,          // UserEdit can make an edit as a user would
  kOpenFiles,          // OpenWorkbook of a file made by WriteWorkbookFile
  kNoWorkbook,         // the application can run with no workbook open
  kApplicationGone,    // EndApplication can make the application go away
  kQuit,               // after Quit every call fails with LinkError
};

class BackendFactory {
 public:
  virtual ~BackendFactory() = default;
  virtual std::string Name() const = 0;  // letters and digits only (a test name)
  virtual bool Supports(Feature feature) const = 0;

  // The application with `books` open, in that order, the last one active,
  // each with its sheet ActiveSheet active; numbers in cells are read and
  // written with `decimalSeparator`. `folder`: a fresh empty folder that the
  // factory may use for files; it is removed after the test.
  virtual std::unique_ptr<Application> Open(const std::vector<WorkbookLayout>& books, char decimalSeparator,
                                            const std::filesystem::path& folder) = 0;

  // The name the application gives the workbook of that stem ("Data.xlsx").
  virtual std::string WorkbookName(const std::string& stem) const = 0;

  // kOpenFiles: writes `book` as a file in `folder` and returns its full path,
  // for OpenWorkbook. `app` is the application the test will open it with.
  virtual std::string WriteWorkbookFile(Application& app, const WorkbookLayout& book,
                                        const std::filesystem::path& folder) {
    (void)app, (void)book, (void)folder;
    return "";
  }
  // kFontColors: the font colour of a cell as the backend keeps it.
  virtual Rgb FontColor(Application& app, Worksheet& sheet, int row, int column) {
    (void)app, (void)sheet, (void)row, (void)column;
    return 0;
  }
  // kUserEdits: the user types `typed` into a cell (events fire if on).
  virtual void UserEdit(Application& app, Worksheet& sheet, int row, int column, const std::string& typed) {
    (void)app, (void)sheet, (void)row, (void)column, (void)typed;
  }
  // kApplicationGone: the application goes away (crashes or is closed).
  virtual void EndApplication(Application& app) { (void)app; }
};

// The parameter of the suite: a backend's factory.
struct Backend {
  std::shared_ptr<BackendFactory> Factory;
};
inline void PrintTo(const Backend& backend, std::ostream* os) { *os << backend.Factory->Name(); }
inline std::string FactoryName(const ::testing::TestParamInfo<Backend>& info) { return info.param.Factory->Name(); }

class LinkContract : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    folder_ = std::filesystem::path(::testing::TempDir()) /
              ("tersolv-contract-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    app_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  BackendFactory& Factory() { return *GetParam().Factory; }
  bool Supports(Feature f) { return Factory().Supports(f); }

  Application& Open(const std::vector<WorkbookLayout>& books, char separator = '.') {
    app_ = Factory().Open(books, separator, folder_);
    return *app_;
  }
  Application& OpenOne(const SheetLayout& sheet, char separator = '.') {
    return Open({WorkbookLayout{"Data", {sheet}, 0}}, separator);
  }

  std::filesystem::path folder_;
  std::unique_ptr<Application> app_;
};

#define TERSOLV_REQUIRE(feature)                                                    \
  do {                                                                              \
    if (!Supports(::tersolv::link::contract::Feature::feature))                     \
      GTEST_SKIP() << Factory().Name() << " backend does not support " #feature;    \
  } while (0)

inline SheetLayout Sample() {
  return SheetLayout{"Ternary system",
                   {{1, 1, std::string("Title")},
                    {2, 1, std::string("System definitions")},
                    {3, 1, std::string("T, C")},
                    {4, 1, 25.0},
                    {4, 2, std::string(" Sat ")},
                    {4, 3, 1.5},
                    {5, 1, -2.5},
                    {5, 2, 1e-10},
                    {5, 3, 123456789012.0}},
                   true};
}

TEST_P(LinkContract, ActiveWorkbookAndSheet) {
  Application& app = OpenOne(Sample());
  EXPECT_EQ(app.ActiveWorkbookName(), Factory().WorkbookName("Data"));
  EXPECT_EQ(app.ActiveSheetName(), "Ternary system");
  auto sheet = app.ActiveSheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(sheet->Name(), "Ternary system");
  EXPECT_EQ(app.FirstWorksheet()->Name(), "Ternary system");
  EXPECT_EQ(app.WorkbookCount(), 1);
  EXPECT_EQ(app.WorkbookName(1), Factory().WorkbookName("Data"));
  app.SetVisible(true);
}

TEST_P(LinkContract, CellTextOfTextsEmptyCellsAndNumbers) {
  Application& app = OpenOne(Sample());
  auto sheet = app.ActiveSheet();
  EXPECT_EQ(sheet->CellText(1, 1), "Title");
  EXPECT_EQ(sheet->CellText(3, 1), "T, C");
  EXPECT_EQ(sheet->CellText(4, 2), " Sat ");  // text as it stands, blanks kept
  EXPECT_EQ(sheet->CellText(2, 2), "");       // empty cell inside the used area
  EXPECT_EQ(sheet->CellText(9000, 200), "");  // far outside it
  EXPECT_EQ(sheet->CellText(4, 1), "25");
  EXPECT_EQ(sheet->CellText(4, 3), "1.5");
  EXPECT_EQ(sheet->CellText(5, 1), "-2.5");
  EXPECT_EQ(sheet->CellText(5, 2), "1E-10");
  EXPECT_EQ(sheet->CellText(5, 3), "123456789012");
}

TEST_P(LinkContract, NumbersUseTheDecimalComma) {
  Application& app = OpenOne(Sample(), ',');
  auto sheet = app.ActiveSheet();
  EXPECT_EQ(sheet->CellText(4, 3), "1,5");
  EXPECT_EQ(sheet->CellText(5, 1), "-2,5");
  sheet->WriteNumber(6, 1, 0.1);
  EXPECT_EQ(sheet->CellText(6, 1), "0,1");
  sheet->WriteNumber(6, 2, 1.5e20);
  EXPECT_EQ(sheet->CellText(6, 2), "1,5E+20");
}

TEST_P(LinkContract, WrittenNumbersReadBackWithFifteenDigits) {
  Application& app = OpenOne(Sample());
  auto sheet = app.ActiveSheet();
  const struct {
    double value;
    const char* text;
  } rows[] = {{298.15 - 273.15, "25"},        {0.1014179967, "0.1014179967"},
              {1.0 / 3.0, "0.333333333333333"}, {-0.0, "0"},
              {0.0, "0"},                       {2.5e-7, "2.5E-07"},
              {1e15, "1E+15"},                  {123456.789, "123456.789"},
              {-4.0, "-4"},                     {18.068624, "18.068624"}};
  int row = 10;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text);
    sheet->WriteNumber(row, 3, r.value);
    EXPECT_EQ(sheet->CellText(row, 3), r.text);
    ++row;
  }
}

TEST_P(LinkContract, WritesTakeEffectAtOnce) {
  Application& app = OpenOne(Sample());
  auto sheet = app.ActiveSheet();
  sheet->WriteNumber(4, 5, 0.99704704);
  // A second reference to the same sheet sees the value at once.
  EXPECT_EQ(app.ActiveSheet()->CellText(4, 5), "0.99704704");
  sheet->WriteText(4, 6, "not found");
  EXPECT_EQ(app.ActiveSheet()->CellText(4, 6), "not found");
  sheet->WriteNumber(4, 6, 2.0);  // a number over a text
  EXPECT_EQ(sheet->CellText(4, 6), "2");
  sheet->WriteText(4, 1, "x");  // a text over a number
  EXPECT_EQ(sheet->CellText(4, 1), "x");
  const double row[] = {1.0, 2.5, -3.0};
  sheet->WriteNumbers(7, 5, row);
  EXPECT_EQ(sheet->CellText(7, 5), "1");
  EXPECT_EQ(sheet->CellText(7, 6), "2.5");
  EXPECT_EQ(sheet->CellText(7, 7), "-3");
  EXPECT_EQ(sheet->CellText(7, 8), "");
  // Rows far down, beyond 16-bit row numbers.
  sheet->WriteNumber(32771, 12, 7.0);
  EXPECT_EQ(sheet->CellText(32771, 12), "7");
}

TEST_P(LinkContract, ClearContentsClearsOnlyTheRangeOfOneRow) {
  Application& app = OpenOne(Sample());
  auto sheet = app.ActiveSheet();
  for (int c = 1; c <= 6; ++c) {
    sheet->WriteNumber(8, c, c);
    sheet->WriteNumber(9, c, c);
  }
  sheet->ClearContents(8, 2, 4);
  EXPECT_EQ(sheet->CellText(8, 1), "1");
  EXPECT_EQ(sheet->CellText(8, 2), "");
  EXPECT_EQ(sheet->CellText(8, 4), "");
  EXPECT_EQ(sheet->CellText(8, 5), "5");
  EXPECT_EQ(sheet->CellText(9, 3), "3");
  sheet->ClearContents(8, 6, 6);  // one cell
  EXPECT_EQ(sheet->CellText(8, 6), "");
  sheet->ClearContents(20, 1, 12);  // already empty: no failure
  EXPECT_EQ(sheet->CellText(20, 1), "");
}

TEST_P(LinkContract, FontColourOfARangeIsKeptAndSurvivesClearing) {
  TERSOLV_REQUIRE(kFontColors);
  Application& app = OpenOne(Sample());
  auto sheet = app.ActiveSheet();
  for (int c = 5; c <= 12; ++c) sheet->WriteNumber(4, c, c);
  sheet->SetFontColor(4, 5, 12, RgbColor(0, 0, 255));
  EXPECT_EQ(RgbColor(0, 0, 255), 16711680u);
  EXPECT_EQ(Factory().FontColor(app, *sheet, 4, 5), 16711680u);
  EXPECT_EQ(Factory().FontColor(app, *sheet, 4, 12), 16711680u);
  EXPECT_EQ(Factory().FontColor(app, *sheet, 4, 4), 0u);
  EXPECT_EQ(Factory().FontColor(app, *sheet, 4, 13), 0u);
  EXPECT_EQ(Factory().FontColor(app, *sheet, 5, 5), 0u);
  EXPECT_EQ(sheet->CellText(4, 7), "7");  // the values are untouched
  sheet->SetFontColor(4, 5, 8, RgbColor(255, 0, 255));
  EXPECT_EQ(Factory().FontColor(app, *sheet, 4, 6), 16711935u);
  EXPECT_EQ(Factory().FontColor(app, *sheet, 4, 9), 16711680u);
  sheet->ClearContents(4, 5, 12);  // clearing keeps the formatting
  EXPECT_EQ(sheet->CellText(4, 6), "");
  EXPECT_EQ(Factory().FontColor(app, *sheet, 4, 6), 16711935u);
  sheet->WriteNumber(4, 6, 1.0);  // and a new value shows in that colour
  EXPECT_EQ(Factory().FontColor(app, *sheet, 4, 6), 16711935u);
  sheet->SetFontColor(4, 5, 12, 0);
  EXPECT_EQ(Factory().FontColor(app, *sheet, 4, 6), 0u);
  sheet->SetFontColor(6, 5, 12, 255);  // on empty cells too
  EXPECT_EQ(Factory().FontColor(app, *sheet, 6, 7), 255u);
}

TEST_P(LinkContract, SheetsOfAWorkbook) {
  TERSOLV_REQUIRE(kMultipleSheets);
  WorkbookLayout book{"Data", {SheetLayout{"Components", {{1, 1, std::string("a")}}}, Sample()}, 1};
  Application& app = Open({book});
  EXPECT_EQ(app.ActiveSheetName(), "Ternary system");
  EXPECT_EQ(app.ActiveSheet()->CellText(4, 1), "25");
  EXPECT_EQ(app.FirstWorksheet()->Name(), "Components");
  EXPECT_EQ(app.FirstWorksheet()->CellText(1, 1), "a");
}

TEST_P(LinkContract, ActiveSheetThatIsNotAWorksheet) {
  TERSOLV_REQUIRE(kNonWorksheets);
  WorkbookLayout book{"Data", {Sample(), SheetLayout{"Chart1", {}, false}}, 1};
  Application& app = Open({book});
  EXPECT_EQ(app.ActiveSheetName(), "Chart1");
  try {
    app.ActiveSheet();
    ADD_FAILURE() << "a chart sheet was taken for a worksheet";
  } catch (const LinkError& e) {
    EXPECT_EQ(e.Number(), kNotAWorksheet);
    EXPECT_FALSE(e.Description().empty());
  }
  EXPECT_EQ(app.FirstWorksheet()->Name(), "Ternary system");
}

TEST_P(LinkContract, WorkbooksCountNameAndActivate) {
  TERSOLV_REQUIRE(kMultipleWorkbooks);
  Application& app = Open({WorkbookLayout{"First", {SheetLayout{"Components", {}}}, 0},
                           WorkbookLayout{"Second", {Sample()}, 0}});
  EXPECT_EQ(app.WorkbookCount(), 2);
  EXPECT_EQ(app.WorkbookName(1), Factory().WorkbookName("First"));
  EXPECT_EQ(app.WorkbookName(2), Factory().WorkbookName("Second"));
  EXPECT_EQ(app.ActiveWorkbookName(), Factory().WorkbookName("Second"));
  app.ActivateWorkbook(1);
  EXPECT_EQ(app.ActiveWorkbookName(), Factory().WorkbookName("First"));
  EXPECT_EQ(app.ActiveSheetName(), "Components");
  app.ActivateWorkbook(2);
  EXPECT_EQ(app.ActiveSheetName(), "Ternary system");
}

TEST_P(LinkContract, OpenWorkbookMakesItActiveAndReusesAnOpenCopy) {
  TERSOLV_REQUIRE(kOpenFiles);
  Application& app = OpenOne(SheetLayout{"Components", {}});
  const std::string path = Factory().WriteWorkbookFile(app, WorkbookLayout{"Other", {Sample()}, 0}, folder_);
  ASSERT_FALSE(path.empty());
  const int before = app.WorkbookCount();
  app.OpenWorkbook(path, false);
  EXPECT_EQ(app.WorkbookCount(), before + 1);
  EXPECT_EQ(app.ActiveWorkbookName(), Factory().WorkbookName("Other"));
  EXPECT_EQ(app.WorkbookFullName(app.WorkbookCount()), path);
  EXPECT_EQ(app.ActiveSheet()->CellText(4, 3), "1.5");
  app.ActiveSheet()->WriteNumber(4, 5, 3.0);
  if (Supports(Feature::kMultipleWorkbooks)) {
    app.ActivateWorkbook(1);
    app.OpenWorkbook(path, true);  // already open: activated, not opened twice
    EXPECT_EQ(app.WorkbookCount(), before + 1);
    EXPECT_EQ(app.ActiveWorkbookName(), Factory().WorkbookName("Other"));
    EXPECT_EQ(app.ActiveSheet()->CellText(4, 5), "3");
  }
}

TEST_P(LinkContract, OpeningAMissingFileFails) {
  Application& app = OpenOne(Sample());
  try {
    app.OpenWorkbook((folder_ / "no such file.xlsx").string(), false);
    ADD_FAILURE() << "opening a missing file succeeded";
  } catch (const LinkError& e) {
    EXPECT_EQ(e.Number(), kFileError);
    EXPECT_FALSE(e.Description().empty());
  }
  EXPECT_EQ(app.ActiveSheetName(), "Ternary system");  // nothing else changed
}

TEST_P(LinkContract, BadAddressesAndIndicesFail) {
  Application& app = OpenOne(Sample());
  auto sheet = app.ActiveSheet();
  auto expectBad = [](auto&& call, const char* what) {
    SCOPED_TRACE(what);
    try {
      call();
      ADD_FAILURE() << "no LinkError";
    } catch (const LinkError& e) {
      EXPECT_EQ(e.Number(), kBadArgument);
    }
  };
  expectBad([&] { sheet->CellText(0, 1); }, "row 0");
  expectBad([&] { sheet->CellText(1, 0); }, "column 0");
  expectBad([&] { sheet->WriteNumber(-1, 1, 1.0); }, "row -1");
  expectBad([&] { sheet->ClearContents(4, 0, 3); }, "clear from column 0");
  expectBad([&] { app.WorkbookName(0); }, "workbook 0");
  expectBad([&] { app.WorkbookName(app.WorkbookCount() + 1); }, "workbook past the end");
  expectBad([&] { app.ActivateWorkbook(app.WorkbookCount() + 1); }, "activate past the end");
  EXPECT_EQ(sheet->CellText(4, 1), "25");
}

TEST_P(LinkContract, EventsOnlyWhileDeliveryIsOn) {
  TERSOLV_REQUIRE(kUserEdits);
  Application& app = OpenOne(Sample());
  auto sheet = app.ActiveSheet();
  std::vector<CellRange> seen;
  sheet->SetChangeHandler([&](const CellRange& r) { seen.push_back(r); });
  app.SetEventsEnabled(true);
  EXPECT_TRUE(app.EventsEnabled());
  Factory().UserEdit(app, *sheet, 6, 3, "0.5");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].FirstRow, 6);
  EXPECT_EQ(seen[0].FirstColumn, 3);
  EXPECT_EQ(seen[0].LastRow, 6);
  EXPECT_EQ(seen[0].LastColumn, 3);
  EXPECT_EQ(sheet->CellText(6, 3), "0.5");  // typed as a number, read as one

  app.SetEventsEnabled(false);
  EXPECT_FALSE(app.EventsEnabled());
  Factory().UserEdit(app, *sheet, 6, 4, "sat");
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_EQ(sheet->CellText(6, 4), "sat");

  app.SetEventsEnabled(true);
  sheet->SetChangeHandler({});
  Factory().UserEdit(app, *sheet, 6, 4, "1");
  EXPECT_EQ(seen.size(), 1u);
}

TEST_P(LinkContract, NoWorkbookOpen) {
  TERSOLV_REQUIRE(kNoWorkbook);
  Application& app = Open({});
  EXPECT_EQ(app.WorkbookCount(), 0);
  try {
    app.ActiveWorkbookName();
    ADD_FAILURE() << "a workbook name without a workbook";
  } catch (const LinkError& e) {
    EXPECT_EQ(e.Number(), kNoWorkbook);
  }
  EXPECT_THROW(app.ActiveSheet(), LinkError);
}

TEST_P(LinkContract, EveryCallFailsOnceTheApplicationIsGone) {
  TERSOLV_REQUIRE(kApplicationGone);
  Application& app = OpenOne(Sample());
  auto sheet = app.ActiveSheet();
  Factory().EndApplication(app);
  try {
    app.ActiveWorkbookName();
    ADD_FAILURE() << "the application answered after it was gone";
  } catch (const LinkError& e) {
    EXPECT_EQ(e.Number(), kApplicationGone);
    EXPECT_FALSE(e.Description().empty());
  }
  EXPECT_THROW(app.ActiveSheetName(), LinkError);
  EXPECT_THROW(app.WorkbookCount(), LinkError);
  EXPECT_THROW(sheet->CellText(4, 1), LinkError);
  EXPECT_THROW(sheet->WriteNumber(4, 5, 1.0), LinkError);
}

TEST_P(LinkContract, QuitEndsTheApplication) {
  TERSOLV_REQUIRE(kQuit);
  Application& app = OpenOne(Sample());
  app.Quit();
  EXPECT_THROW(app.ActiveWorkbookName(), LinkError);
}

#undef TERSOLV_REQUIRE

}  // namespace tersolv::link::contract
