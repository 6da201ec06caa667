// The link contract for the LibreOffice Calc backend, against the shared headless test office.
#include "link/contract/contract_tests.h"
#include "link/uno/calc_application.h"
#include "office_fixture.h"

namespace tersolv::link::contract {
namespace {

using uno::CalcApplication;
using uno::testing::TestOffice;

// The file of the active workbook (the suite uses sheets of the active workbook only).
std::string ActivePath(Application& app) {
  for (int i = 1; i <= app.WorkbookCount(); ++i) {
    if (app.WorkbookName(i) == app.ActiveWorkbookName()) return app.WorkbookFullName(i);
  }
  return "";
}

class UnoFactory : public BackendFactory {
 public:
  std::string Name() const override { return "Calc"; }
  bool Supports(Feature feature) const override { return feature != Feature::kNonWorksheets; }
  std::string WorkbookName(const std::string& stem) const override { return stem + ".ods"; }

  std::unique_ptr<Application> Open(const std::vector<WorkbookLayout>& books, char separator,
                                    const std::filesystem::path& folder) override {
    TestOffice::Shared().EnsureRunning();
    auto app = TestOffice::Shared().Attach(separator);
    TestOffice::CloseAllDocuments(*app);
    for (const WorkbookLayout& book : books) {
      const std::string path = WriteWorkbookFile(*app, book, folder);
      app->OpenWorkbook(path, false);
      if (!book.Sheets.empty()) TestOffice::SetActiveSheet(*app, path, book.Sheets[book.ActiveSheet].Name);
    }
    return app;
  }
  std::string WriteWorkbookFile(Application& app, const WorkbookLayout& book,
                                const std::filesystem::path& folder) override {
    std::vector<uno::testing::Sheet> sheets;
    for (const SheetLayout& s : book.Sheets) {
      sheets.push_back({s.Name, {}});
      for (const CellLayout& c : s.Cells) sheets.back().Cells.push_back({c.Row, c.Column, c.Value});
    }
    if (sheets.empty()) sheets.push_back({"Sheet1", {}});
    const std::string path = (folder / WorkbookName(book.Stem)).string();
    TestOffice::WriteWorkbook(static_cast<CalcApplication&>(app), path, sheets);
    return path;
  }
  Rgb FontColor(Application& app, Worksheet& sheet, int row, int column) override {
    return TestOffice::FontColor(static_cast<CalcApplication&>(app), ActivePath(app), sheet.Name(), row, column);
  }
  void UserEdit(Application& app, Worksheet& sheet, int row, int column, const std::string& typed) override {
    TestOffice::UserEdit(static_cast<CalcApplication&>(app), ActivePath(app), sheet.Name(), row, column, typed);
    static_cast<CalcApplication&>(app).ProcessEvents();
  }
  void EndApplication(Application&) override { TestOffice::Shared().Kill(); }
};

// Without LibreOffice the suite has no backend here, and says so once.
std::vector<Backend> Backends() {
  if (!uno::testing::OfficeMissing().empty()) return {};
  return {Backend{std::make_shared<UnoFactory>()}};
}

TEST(CalcContract, NeedsLibreOffice) {
  if (const std::string missing = uno::testing::OfficeMissing(); !missing.empty()) GTEST_SKIP() << missing;
}

INSTANTIATE_TEST_SUITE_P(Calc, LinkContract, ::testing::ValuesIn(Backends()), FactoryName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(LinkContract);

}  // namespace
}  // namespace tersolv::link::contract
