// The link contract for the workbook-file backend, on .xlsx and on .csv files.
#include <fstream>

#include "link/book/book_application.h"
#include "link/book/cell_format.h"
#include "link/book/file_io.h"
#include "link/book/workbook_writer.h"
#include "link/contract/contract_tests.h"

namespace tersolv::link::contract {
namespace {

using book::BookApplication;

class BookFactory : public BackendFactory {
 public:
  explicit BookFactory(bool csv) : csv_(csv) {}
  std::string Name() const override { return csv_ ? "Csv" : "Xlsx"; }
  bool Supports(Feature feature) const override {
    switch (feature) {
      case Feature::kMultipleSheets:
      case Feature::kNonWorksheets:
      case Feature::kFontColors:
        return !csv_;
      case Feature::kApplicationGone:  // nothing runs that could go away
        return false;
      default:
        return true;
    }
  }
  std::unique_ptr<Application> Open(const std::vector<WorkbookLayout>& books, char separator,
                                    const std::filesystem::path& folder) override {
    auto app = std::make_unique<BookApplication>(separator);
    for (const WorkbookLayout& spec : books) {
      const std::string path = Write(spec, folder);
      app->OpenWorkbook(path, false, csv_ ? spec.Sheets.at(0).Name : "");
    }
    return app;
  }
  std::string WorkbookName(const std::string& stem) const override { return stem + (csv_ ? ".csv" : ".xlsx"); }
  std::string WriteWorkbookFile(Application&, const WorkbookLayout& book, const std::filesystem::path& folder) override {
    return Write(book, folder);
  }
  Rgb FontColor(Application&, Worksheet& sheet, int row, int column) override {
    return BookApplication::FontColor(sheet, row, column);
  }
  // A user types into the cell: a number in the application's notation is
  // stored as a number, "" empties the cell, anything else is text.
  void UserEdit(Application& app, Worksheet& sheet, int row, int column, const std::string& typed) override {
    (void)app;
    std::string c = typed;
    for (char& ch : c)
      if (ch == ',') ch = '.';
    if (typed.empty())
      sheet.ClearContents(row, column, column);
    else if (auto number = book::ParseNumber(c))
      sheet.WriteNumber(row, column, *number);
    else
      sheet.WriteText(row, column, typed);
  }

 private:
  std::string Write(const WorkbookLayout& spec, const std::filesystem::path& folder) const {
    const std::string path = (folder / WorkbookName(spec.Stem)).string();
    if (csv_) {
      std::vector<std::vector<std::string>> grid;
      for (const CellLayout& cell : spec.Sheets.at(0).Cells) {
        if (grid.size() < static_cast<std::size_t>(cell.Row)) grid.resize(static_cast<std::size_t>(cell.Row));
        auto& row = grid[static_cast<std::size_t>(cell.Row - 1)];
        if (row.size() < static_cast<std::size_t>(cell.Column)) row.resize(static_cast<std::size_t>(cell.Column));
        const double* d = std::get_if<double>(&cell.Value);
        row[static_cast<std::size_t>(cell.Column - 1)] =
            d ? book::FormatNumber(*d) : "\"" + std::get<std::string>(cell.Value) + "\"";
      }
      std::ofstream out(path, std::ios::binary);
      for (const auto& row : grid) {
        for (std::size_t k = 0; k < row.size(); ++k) out << (k ? "," : "") << row[k];
        out << "\r\n";
      }
    } else {
      std::vector<book::NewSheet> sheets;
      for (const SheetLayout& s : spec.Sheets) {
        book::NewSheet sheet;
        sheet.Name = s.Name;
        for (const CellLayout& cell : s.Cells) {
          if (sheet.Rows.size() < static_cast<std::size_t>(cell.Row)) sheet.Rows.resize(static_cast<std::size_t>(cell.Row));
          auto& row = sheet.Rows[static_cast<std::size_t>(cell.Row - 1)];
          if (row.size() < static_cast<std::size_t>(cell.Column)) row.resize(static_cast<std::size_t>(cell.Column));
          if (const double* d = std::get_if<double>(&cell.Value))
            row[static_cast<std::size_t>(cell.Column - 1)] = *d;
          else
            row[static_cast<std::size_t>(cell.Column - 1)] = std::get<std::string>(cell.Value);
        }
        sheet.IsWorksheet = s.IsWorksheet;
        sheets.push_back(std::move(sheet));
      }
      book::WriteNewWorkbookFile(path, sheets, static_cast<int>(spec.ActiveSheet));
    }
    return book::FullPath(path);
  }
  bool csv_;
};

INSTANTIATE_TEST_SUITE_P(Book, LinkContract,
                         ::testing::Values(Backend{std::make_shared<BookFactory>(false)},
                                           Backend{std::make_shared<BookFactory>(true)}),
                         FactoryName);

}  // namespace
}  // namespace tersolv::link::contract
