// What the in-memory backend offers beyond the link contract: typed edits
// and notifications of its own writes.
#include <gtest/gtest.h>

#include <limits>

#include "link/memory/memory.h"

namespace tersolv::link::memory {
namespace {

TEST(MemoryBackend, TypedEditsFollowTheSeparatorAndPlainNotationOnly) {
  MemoryApplication app(',');
  app.AddWorkbook("Data.xlsx");
  auto sheet = app.AddSheet("Components");
  const std::pair<const char*, CellValue> rows[] = {
      {"1,5", 1.5},
      {" +2E3 ", 2000.0},
      {"1.5", std::string("1.5")},
      {"nan", std::string("nan")},
      {"0x10", std::string("0x10")},
      {"1e999", std::string("1e999")},
      {"", std::monostate{}},
  };
  for (const auto& [typed, value] : rows) {
    sheet->UserEdit(4, 1, typed);
    EXPECT_EQ(sheet->Value(4, 1), value) << typed;
  }
}

TEST(MemoryBackend, WritesNotifyWhileEventsAreOnAndNaNIsRefused) {
  MemoryApplication app;
  app.AddWorkbook("Data.xlsx");
  auto sheet = app.AddSheet("Ternary system");
  int changes = 0;
  sheet->SetChangeHandler([&](const CellRange&) { ++changes; });
  sheet->WriteNumber(4, 7, 0.25);
  sheet->ClearContents(5, 5, 12);
  app.SetEventsEnabled(false);
  sheet->WriteText(4, 10, "not found");
  EXPECT_EQ(changes, 2);
  EXPECT_THROW(sheet->WriteNumber(4, 7, std::numeric_limits<double>::quiet_NaN()), LinkError);
}

}  // namespace
}  // namespace tersolv::link::memory
