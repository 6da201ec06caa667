// Contract tests of the spreadsheet link, instantiated by every backend (in-memory, workbook files,
// LibreOffice Calc) with its BackendFactory: INSTANTIATE_TEST_SUITE_P(Name, LinkContract,
// ::testing::Values(Backend{std::make_shared<Factory>()}), FactoryName). A case needing what a
// backend cannot do is skipped, visibly, when the factory's Supports() says no.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "link/link.h"
#include "link/link_error_check.h"

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
  // The application with `books` open in that order, the last one active, each with its sheet
  // ActiveSheet active, numbers read and written with `decimalSeparator`. `folder`: a fresh empty
  // folder for files, removed after the test.
  virtual std::unique_ptr<Application> Open(const std::vector<WorkbookLayout>& books, char decimalSeparator,
                                            const std::filesystem::path& folder) = 0;
  // The name the application gives the workbook of that stem ("Data.xlsx").
  virtual std::string WorkbookName(const std::string& stem) const = 0;
  // kOpenFiles: writes `book` as a file in `folder` for `app` to open; returns its full path.
  virtual std::string WriteWorkbookFile(Application&, const WorkbookLayout&, const std::filesystem::path&) {
    return "";
  }
  // kFontColors: the font colour of a cell as the backend keeps it.
  virtual Rgb FontColor(Application&, Worksheet&, int, int) { return 0; }
  // kUserEdits: the user types `typed` into a cell (events fire if on).
  virtual void UserEdit(Application&, Worksheet&, int, int, const std::string&) {}
  // kApplicationGone: the application goes away (crashes or is closed).
  virtual void EndApplication(Application&) {}
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
    folder_ = ::testing::TempDir() + "tersolv-contract-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    app_.reset();
    std::error_code ignored;  // a backend may still hold a file
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
  std::string Book(const std::string& stem) { return Factory().WorkbookName(stem); }

  std::filesystem::path folder_;
  std::unique_ptr<Application> app_;
};

#define TERSOLV_REQUIRE(feature) \
  if (!Supports(Feature::feature)) GTEST_SKIP() << Factory().Name() << " backend does not support " #feature

inline SheetLayout Sample() {
  using std::string;
  return SheetLayout{"Ternary system",
                     {{1, 1, string("Title")},
                      {2, 1, string("System definitions")},
                      {3, 1, string("T, C")},
                      {4, 1, 25.0},
                      {4, 2, string(" Sat ")},
                      {4, 3, 1.5},
                      {5, 1, -2.5},
                      {5, 2, 1e-10},
                      {5, 3, 123456789012.0}}};
}

TEST_P(LinkContract, ActiveWorkbookSheetAndCellTexts) {
  Application& app = OpenOne(Sample());
  app.SetVisible(true);
  EXPECT_EQ(std::tuple(app.WorkbookCount(), app.WorkbookName(1), app.ActiveWorkbookName()),
            std::tuple(1, Book("Data"), Book("Data")));
  auto sheet = app.ActiveSheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(std::tuple(app.ActiveSheetName(), sheet->Name(), app.FirstWorksheet()->Name()),
            std::tuple("Ternary system", "Ternary system", "Ternary system"));
  const std::tuple<int, int, const char*> cells[] = {
      {1, 1, "Title"},
      {4, 2, " Sat "},  // a text as it stands, blanks kept
      {2, 2, ""},       // an empty cell inside the used area
      {9000, 200, ""},  // far outside it
      {4, 1, "25"},
      {4, 3, "1.5"},
      {5, 1, "-2.5"},
      {5, 2, "1E-10"},
      {5, 3, "123456789012"},
  };
  for (const auto& [row, column, text] : cells) EXPECT_EQ(sheet->CellText(row, column), text) << row << ", " << column;
}

// Numbers read and written show at most 15 significant digits, with the decimal separator in use.
TEST_P(LinkContract, NumbersShowFifteenDigitsWithTheDecimalSeparator) {
  const std::pair<double, std::string> rows[] = {
      {298.15 - 273.15, "25"}, {0.1014179967, "0.1014179967"}, {1.0 / 3.0, "0.333333333333333"}, {-0.0, "0"},
      {2.5e-7, "2.5E-07"},     {1e15, "1E+15"}, {1.5e20, "1.5E+20"}, {-4.0, "-4"}, {18.068624, "18.068624"}};
  for (char separator : {'.', ','}) {
    SCOPED_TRACE(separator);
    app_.reset();
    auto sheet = OpenOne(Sample(), separator).ActiveSheet();
    const auto shown = [&](std::string text) {
      std::replace(text.begin(), text.end(), '.', separator);
      return text;
    };
    EXPECT_EQ(std::tuple(sheet->CellText(4, 3), sheet->CellText(5, 1)), std::tuple(shown("1.5"), shown("-2.5")));
    for (int row = 10; const auto& [value, text] : rows) {
      sheet->WriteNumber(row, 3, value);
      EXPECT_EQ(sheet->CellText(row++, 3), shown(text));
    }
  }
}

TEST_P(LinkContract, WritesAndClearsTakeEffectAtOnce) {
  Application& app = OpenOne(Sample());
  auto sheet = app.ActiveSheet();
  sheet->WriteNumber(4, 5, 0.99704704);
  sheet->WriteText(4, 6, "not found");
  auto again = app.ActiveSheet();  // a second reference sees the writes at once
  EXPECT_EQ(std::tuple(again->CellText(4, 5), again->CellText(4, 6)), std::tuple("0.99704704", "not found"));
  sheet->WriteNumber(4, 6, 2.0);  // a number over a text
  sheet->WriteText(4, 1, "x");    // a text over a number
  EXPECT_EQ(std::tuple(sheet->CellText(4, 6), sheet->CellText(4, 1)), std::tuple("2", "x"));
  const double row[] = {1.0, 2.5, -3.0};
  sheet->WriteNumbers(7, 5, row);
  for (int c = 5; const char* text : {"1", "2.5", "-3", ""}) EXPECT_EQ(sheet->CellText(7, c++), text);
  sheet->WriteNumber(32771, 12, 7.0);  // beyond 16-bit row numbers
  EXPECT_EQ(sheet->CellText(32771, 12), "7");
  for (int c = 1; c <= 6; ++c) sheet->WriteNumber(8, c, c), sheet->WriteNumber(9, c, c);
  sheet->ClearContents(8, 2, 4);
  sheet->ClearContents(8, 6, 6);    // one cell
  sheet->ClearContents(20, 1, 12);  // already empty: no failure
  for (int c = 1; const char* text : {"1", "", "", "", "5", ""}) EXPECT_EQ(sheet->CellText(8, c++), text);
  EXPECT_EQ(sheet->CellText(9, 3), "3");
}

TEST_P(LinkContract, ABatchLeavesWhatTheCallsOneByOneLeave) {
  // Two equal regions of 4 rows: the one from row 10 gets the calls one by one, the one from row 110
  // the same calls in a batch.
  SheetLayout layout{"Ternary system", {}};
  for (int b : {10, 110}) {
    const std::vector<CellLayout> cells = {{b, 1, 25.0},           {b, 2, std::string(" Sat ")}, {b, 3, 1.5},
                                           {b + 1, 1, std::string("1,5")}, {b + 1, 3, 123456789012.0},
                                           {b + 2, 2, 1.0},        {b + 3, 1, 3.0}};
    layout.Cells.insert(layout.Cells.end(), cells.begin(), cells.end());
  }
  Application& app = OpenOne(layout);
  auto sheet = app.ActiveSheet();
  const Rgb red = RgbColor(255, 0, 0), blue = RgbColor(0, 0, 255);
  const double numbers[] = {1.0, 2.0, 3.0};
  const std::function<void(Worksheet&, int)> steps[] = {
      [](Worksheet& s, int b) { s.WriteNumber(b, 1, 2.5), s.ClearContents(b, 1, 3), s.WriteNumber(b, 2, 7.0); },
      [](Worksheet& s, int b) { s.WriteText(b + 1, 2, "=1+1"), s.WriteText(b + 1, 3, "1.5"), s.WriteText(b + 1, 4, ""); },
      [](Worksheet& s, int b) { s.WriteText(b + 1, 5, "not found"), s.WriteNumber(b + 1, 6, 0.1); },
      [&](Worksheet& s, int b) { s.ClearContents(b + 2, 1, 6), s.SetFontColor(b + 2, 1, 6, red); },
      [&](Worksheet& s, int b) { s.SetFontColor(b + 2, 3, 4, blue), s.WriteNumber(b + 2, 3, 1e300); },
      [&](Worksheet& s, int b) { s.WriteNumbers(b + 3, 2, numbers), s.WriteNumber(b + 3, 300, 4.0); },
      [&](Worksheet& s, int b) { s.ClearContents(b + 3, 3, 3), s.SetFontColor(b + 3, 1, 1, 0); },
      [](Worksheet& s, int b) { s.WriteNumber(b, 7, -1.0), s.WriteNumber(b + 3, 7, 0.125), s.WriteNumber(b + 1, 7, 2.0); },
  };
  const auto texts = [&](int b) {
    std::vector<std::string> all;
    for (int r = b; r < b + 4; ++r)
      for (int c = 1; c <= 7; ++c) all.push_back(sheet->CellText(r, c));
    all.push_back(sheet->CellText(b + 3, 300));
    return all;
  };
  {
    CellBatch batch(*sheet);
    EXPECT_EQ(texts(110), texts(10));  // read in a batch: the same texts
  }
  for (const auto& step : steps) step(*sheet, 10);
  CellBatch batch(*sheet);
  for (const auto& step : steps) step(*sheet, 110);
  EXPECT_EQ(texts(110), texts(10));  // reads see the writes before them
  batch.Finish();
  EXPECT_EQ(texts(110), texts(10));
  if (!Supports(Feature::kFontColors)) return;
  for (int r = 0; r < 4; ++r) {
    for (int c = 1; c <= 7; ++c)
      EXPECT_EQ(Factory().FontColor(app, *sheet, 110 + r, c), Factory().FontColor(app, *sheet, 10 + r, c)) << r << c;
  }
}

TEST_P(LinkContract, FontColourOfARangeIsKeptAndSurvivesClearing) {
  TERSOLV_REQUIRE(kFontColors);
  Application& app = OpenOne(Sample());
  auto sheet = app.ActiveSheet();
  auto colours = [&](int row) {  // columns 4..13
    std::vector<Rgb> found;
    for (int c = 4; c <= 13; ++c) found.push_back(Factory().FontColor(app, *sheet, row, c));
    return found;
  };
  const Rgb blue = RgbColor(0, 0, 255), magenta = RgbColor(255, 0, 255);
  EXPECT_EQ(std::tuple(blue, magenta), std::tuple(16711680u, 16711935u));
  for (int c = 5; c <= 12; ++c) sheet->WriteNumber(4, c, c);
  sheet->SetFontColor(4, 5, 12, blue);
  EXPECT_EQ(colours(4), std::vector<Rgb>({0, blue, blue, blue, blue, blue, blue, blue, blue, 0}));
  EXPECT_EQ(colours(5), std::vector<Rgb>(10, 0));
  EXPECT_EQ(sheet->CellText(4, 7), "7");  // the values are untouched
  sheet->SetFontColor(4, 5, 8, magenta);
  sheet->ClearContents(4, 5, 12);  // clearing keeps the formatting
  EXPECT_EQ(sheet->CellText(4, 6), "");
  sheet->WriteNumber(4, 6, 1.0);  // and a new value shows in it
  EXPECT_EQ(colours(4), std::vector<Rgb>({0, magenta, magenta, magenta, magenta, blue, blue, blue, blue, 0}));
  sheet->SetFontColor(4, 5, 12, 0);
  sheet->SetFontColor(6, 5, 12, 255);  // on empty cells too
  EXPECT_EQ(colours(4), std::vector<Rgb>(10, 0));
  EXPECT_EQ(colours(6), std::vector<Rgb>({0, 255, 255, 255, 255, 255, 255, 255, 255, 0}));
}

TEST_P(LinkContract, SheetsOfAWorkbook) {
  TERSOLV_REQUIRE(kMultipleSheets);
  const SheetLayout components{"Components", {{1, 1, std::string("a")}}};
  Application& app = Open({WorkbookLayout{"Data", {components, Sample()}, 1}});
  EXPECT_EQ(std::tuple(app.ActiveSheetName(), app.ActiveSheet()->CellText(4, 1)), std::tuple("Ternary system", "25"));
  auto first = app.FirstWorksheet();
  EXPECT_EQ(std::tuple(first->Name(), first->CellText(1, 1)), std::tuple("Components", "a"));
}

TEST_P(LinkContract, ActiveSheetThatIsNotAWorksheet) {
  TERSOLV_REQUIRE(kNonWorksheets);
  Application& app = Open({WorkbookLayout{"Data", {Sample(), SheetLayout{"Chart1", {}, false}}, 1}});
  EXPECT_EQ(app.ActiveSheetName(), "Chart1");
  ExpectLinkError(kNotAWorksheet, [&] { app.ActiveSheet(); });  // a chart sheet is no worksheet
  EXPECT_EQ(app.FirstWorksheet()->Name(), "Ternary system");
}

TEST_P(LinkContract, WorkbooksCountNameAndActivate) {
  TERSOLV_REQUIRE(kMultipleWorkbooks);
  Application& app = Open({WorkbookLayout{"First", {SheetLayout{"Components", {}}}, 0},
                           WorkbookLayout{"Second", {Sample()}, 0}});
  EXPECT_EQ(std::tuple(app.WorkbookCount(), app.WorkbookName(1), app.WorkbookName(2), app.ActiveWorkbookName()),
            std::tuple(2, Book("First"), Book("Second"), Book("Second")));
  app.ActivateWorkbook(1);
  EXPECT_EQ(std::tuple(app.ActiveWorkbookName(), app.ActiveSheetName()), std::tuple(Book("First"), "Components"));
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
  EXPECT_EQ(std::tuple(app.WorkbookCount(), app.ActiveWorkbookName(), app.ActiveSheet()->CellText(4, 3)),
            std::tuple(before + 1, Book("Other"), "1.5"));
  EXPECT_EQ(app.WorkbookFullName(app.WorkbookCount()), path);
  app.ActiveSheet()->WriteNumber(4, 5, 3.0);
  if (Supports(Feature::kMultipleWorkbooks)) {
    app.ActivateWorkbook(1);
    app.OpenWorkbook(path, true);  // already open: activated, not opened twice
    EXPECT_EQ(std::tuple(app.WorkbookCount(), app.ActiveWorkbookName(), app.ActiveSheet()->CellText(4, 5)),
              std::tuple(before + 1, Book("Other"), "3"));
  }
}

TEST_P(LinkContract, MissingFilesBadAddressesAndIndicesFail) {
  Application& app = OpenOne(Sample());
  auto sheet = app.ActiveSheet();
  ExpectLinkError(kFileError, [&] { app.OpenWorkbook((folder_ / "no such file.xlsx").string(), false); });
  ExpectLinkError(kBadArgument, [&] { sheet->CellText(0, 1); });
  ExpectLinkError(kBadArgument, [&] { sheet->CellText(1, 0); });
  ExpectLinkError(kBadArgument, [&] { sheet->WriteNumber(-1, 1, 1.0); });
  ExpectLinkError(kBadArgument, [&] { sheet->ClearContents(4, 0, 3); });
  ExpectLinkError(kBadArgument, [&] { app.WorkbookName(0); });
  ExpectLinkError(kBadArgument, [&] { app.WorkbookName(app.WorkbookCount() + 1); });
  ExpectLinkError(kBadArgument, [&] { app.ActivateWorkbook(app.WorkbookCount() + 1); });
  EXPECT_EQ(app.ActiveSheetName(), "Ternary system");  // nothing else changed
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
  app.SetEventsEnabled(false);
  EXPECT_FALSE(app.EventsEnabled());
  Factory().UserEdit(app, *sheet, 6, 4, "sat");
  EXPECT_EQ(sheet->CellText(6, 3) + sheet->CellText(6, 4), "0.5sat");  // typed as a number, read as one
  app.SetEventsEnabled(true);
  sheet->SetChangeHandler({});
  Factory().UserEdit(app, *sheet, 6, 4, "1");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(std::tuple(seen[0].FirstRow, seen[0].FirstColumn, seen[0].LastRow, seen[0].LastColumn),
            std::tuple(6, 3, 6, 3));
}

TEST_P(LinkContract, NoWorkbookOpen) {
  TERSOLV_REQUIRE(kNoWorkbook);
  Application& app = Open({});
  EXPECT_EQ(app.WorkbookCount(), 0);
  ExpectLinkError(kNoWorkbook, [&] { app.ActiveWorkbookName(); });
  EXPECT_THROW(app.ActiveSheet(), LinkError);
}

TEST_P(LinkContract, EveryCallFailsOnceTheApplicationIsGone) {
  TERSOLV_REQUIRE(kApplicationGone);
  Application& app = OpenOne(Sample());
  auto sheet = app.ActiveSheet();
  Factory().EndApplication(app);
  ExpectLinkError(kApplicationGone, [&] { app.ActiveWorkbookName(); });
  EXPECT_THROW(app.WorkbookCount(), LinkError);
  EXPECT_THROW(sheet->WriteNumber(4, 5, 1.0), LinkError);
}

TEST_P(LinkContract, QuitEndsTheApplication) {
  TERSOLV_REQUIRE(kQuit);
  Application& app = OpenOne(Sample());
  auto sheet = app.ActiveSheet();
  app.Quit();
  EXPECT_THROW(app.ActiveWorkbookName(), LinkError);
  // A worksheet kept past its workbook: every call fails, none reaches what is gone.
  const std::pair<const char*, std::function<void()>> calls[] = {
      {"Name", [&] { sheet->Name(); }},
      {"CellText", [&] { sheet->CellText(1, 1); }},
      {"WriteNumber", [&] { sheet->WriteNumber(4, 5, 1.0); }},
      {"WriteNumbers", [&] { sheet->WriteNumbers(4, 5, std::vector<double>{1.0, 2.0}); }},
      {"WriteText", [&] { sheet->WriteText(4, 5, "x"); }},
      {"ClearContents", [&] { sheet->ClearContents(4, 5, 12); }},
      {"SetFontColor", [&] { sheet->SetFontColor(4, 5, 12, RgbColor(255, 0, 0)); }},
      {"SetChangeHandler", [&] { sheet->SetChangeHandler([](const CellRange&) {}); }},
  };
  for (const auto& [name, call] : calls) EXPECT_THROW(call(), LinkError) << name;
}

#undef TERSOLV_REQUIRE

}  // namespace tersolv::link::contract
