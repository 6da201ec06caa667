// What the in-memory backend does beyond the link contract: its own writes notify while events are on.
#include <gtest/gtest.h>

#include <limits>

#include "link/memory/memory.h"

namespace tersolv::link::memory {
namespace {

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
