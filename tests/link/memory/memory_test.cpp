// What the in-memory backend offers beyond the link contract: typed edits,
// closed workbooks, the journal, and the shared number notation.
#include <gtest/gtest.h>

#include "link/memory/memory.h"

namespace tersolv::link::memory {
namespace {

TEST(NumberText, FifteenSignificantDigitsAndTheSeparator) {
  EXPECT_EQ(NumberText(0.1, '.'), "0.1");
  EXPECT_EQ(NumberText(0.1, ','), "0,1");
  EXPECT_EQ(NumberText(1e-300, '.'), "1E-300");
  EXPECT_EQ(NumberText(-1.25e100, ','), "-1,25E+100");
  EXPECT_EQ(NumberText(3.0, ','), "3");
  EXPECT_EQ(NumberText(0.30000000000000004, '.'), "0.3");
}

TEST(TypedNumbers, FollowTheSeparatorAndPlainNotationOnly) {
  double v = -1;
  EXPECT_TRUE(ParseTypedNumber(" 1.5 ", '.', v));
  EXPECT_EQ(v, 1.5);
  EXPECT_TRUE(ParseTypedNumber("1,5", ',', v));
  EXPECT_EQ(v, 1.5);
  EXPECT_TRUE(ParseTypedNumber("+2E3", '.', v));
  EXPECT_EQ(v, 2000.0);
  v = -1;
  for (const char* text : {"1,5", "nan", "inf", "0x10", "1e999", "", "  ", "+-1", "sat"}) {
    EXPECT_FALSE(ParseTypedNumber(text, '.', v)) << text;
  }
  EXPECT_FALSE(ParseTypedNumber("1.5", ',', v));
  EXPECT_EQ(v, -1);
}

TEST(MemoryBackend, UserEditsStoreNumbersOrTexts) {
  MemoryApplication app(',');
  app.AddWorkbook("Data.xlsx");
  auto sheet = app.AddSheet("Components");
  sheet->UserEdit(4, 1, "1,5");
  sheet->UserEdit(4, 2, "1.5");
  EXPECT_EQ(std::get<double>(sheet->Value(4, 1)), 1.5);
  EXPECT_EQ(std::get<std::string>(sheet->Value(4, 2)), "1.5");
  sheet->UserEdit(4, 1, "");
  EXPECT_TRUE(std::holds_alternative<std::monostate>(sheet->Value(4, 1)));
}

TEST(MemoryBackend, WritesThroughTheInterfaceNotifyWhileEventsAreOn) {
  MemoryApplication app;
  app.AddWorkbook("Data.xlsx");
  auto sheet = app.AddSheet("Components");
  int changes = 0;
  sheet->SetChangeHandler([&](const CellRange&) { ++changes; });
  sheet->WriteNumber(4, 3, 1.0);
  sheet->ClearContents(4, 3, 10);
  EXPECT_EQ(changes, 2);
  app.SetEventsEnabled(false);
  sheet->WriteText(4, 3, "x");
  EXPECT_EQ(changes, 2);
}

TEST(MemoryBackend, SheetsOfAClosedWorkbookFail) {
  MemoryApplication app;
  app.AddWorkbook("A.xlsx");
  auto a = app.AddSheet("Components");
  app.AddWorkbook("B.xlsx");
  app.AddSheet("Ternary system");
  app.CloseWorkbook(1);
  EXPECT_EQ(app.WorkbookCount(), 1);
  EXPECT_EQ(app.ActiveWorkbookName(), "B.xlsx");
  try {
    a->CellText(1, 1);
    ADD_FAILURE();
  } catch (const LinkError& e) {
    EXPECT_EQ(e.Number(), kNoWorkbook);
  }
  app.CloseWorkbook(1);
  EXPECT_THROW(app.ActiveSheetName(), LinkError);
}

TEST(MemoryBackend, JournalRecordsCallsInOrder) {
  MemoryApplication app;
  app.AddWorkbook("Data.xlsx");
  auto sheet = app.AddSheet("Ternary system");
  sheet->EnableJournal(true);
  sheet->WriteNumber(4, 7, 0.25);
  sheet->WriteText(4, 10, "not found");
  sheet->ClearContents(5, 5, 12);
  sheet->SetFontColor(4, 5, 12, 255);
  sheet->SetNumber(9, 9, 1.0);  // setting up is not journalled
  EXPECT_EQ(sheet->Journal(),
            (std::vector<std::string>{"N 4 7 0.25", "T 4 10 not found", "C 5 5 12", "F 4 5 12 255"}));
  EXPECT_THROW(sheet->WriteNumber(4, 7, std::numeric_limits<double>::quiet_NaN()), LinkError);
}

}  // namespace
}  // namespace tersolv::link::memory
