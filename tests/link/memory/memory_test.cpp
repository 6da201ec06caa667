// The link contract for the in-memory backend, and what it does beyond the contract.
#include <limits>

#include "link/contract/contract_tests.h"
#include "link/memory/memory.h"

namespace tersolv::link::contract {
namespace {

using memory::MemoryApplication;
using memory::MemorySheet;
void Fill(MemoryApplication& app, const WorkbookLayout& book) {
  for (const SheetLayout& layout : book.Sheets) {
    auto sheet = app.AddSheet(layout.Name, layout.IsWorksheet);
    for (const CellLayout& cell : layout.IsWorksheet ? layout.Cells : std::vector<CellLayout>{}) {
      if (const double* d = std::get_if<double>(&cell.Value)) {
        sheet->SetNumber(cell.Row, cell.Column, *d);
      } else {
        sheet->SetText(cell.Row, cell.Column, std::get<std::string>(cell.Value));
      }
    }
  }
  if (!book.Sheets.empty()) app.ActivateSheet(book.Sheets[book.ActiveSheet].Name);
}

class MemoryFactory : public BackendFactory {
 public:
  std::string Name() const override { return "Memory"; }
  bool Supports(Feature) const override { return true; }
  std::unique_ptr<Application> Open(const std::vector<WorkbookLayout>& books, char separator,
                                    const std::filesystem::path&) override {
    auto app = std::make_unique<MemoryApplication>(separator);
    for (const WorkbookLayout& book : books) {
      app->AddWorkbook(WorkbookName(book.Stem));
      Fill(*app, book);
    }
    return app;
  }
  std::string WorkbookName(const std::string& stem) const override { return stem + ".xlsx"; }
  std::string WriteWorkbookFile(Application& app, const WorkbookLayout& book,
                                const std::filesystem::path& folder) override {
    const std::string path = (folder / WorkbookName(book.Stem)).string();
    static_cast<MemoryApplication&>(app).AddFile(path, [book](MemoryApplication& a) { Fill(a, book); });
    return path;
  }
  Rgb FontColor(Application&, Worksheet& sheet, int row, int column) override {
    return static_cast<MemorySheet&>(sheet).FontColor(row, column);
  }
  void UserEdit(Application&, Worksheet& sheet, int row, int column, const std::string& typed) override {
    static_cast<MemorySheet&>(sheet).UserEdit(row, column, typed);
  }
  void EndApplication(Application& app) override { static_cast<MemoryApplication&>(app).SimulateGone(); }
};

INSTANTIATE_TEST_SUITE_P(Memory, LinkContract, ::testing::Values(Backend{std::make_shared<MemoryFactory>()}),
                         FactoryName);

// Its own writes notify while events are on (as a user's edits do); NaN is refused.
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
}  // namespace tersolv::link::contract
