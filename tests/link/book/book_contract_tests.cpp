// The link contract for the workbook-file backend, on .xlsx and on .csv files.
#include <algorithm>
#include <fstream>

#include "link/book/book_application.h"
#include "link/book/cell_format.h"
#include "link/book/file_io.h"
#include "link/book/writer/workbook_writer.h"
#include "link/contract/contract_tests.h"

namespace tersolv::link::contract {
namespace {

using book::BookApplication;

class BookFactory : public BackendFactory {
 public:
  explicit BookFactory(bool csv) : csv_(csv) {}
  std::string Name() const override { return csv_ ? "Csv" : "Xlsx"; }
  bool Supports(Feature feature) const override {
    if (feature == Feature::kApplicationGone) return false;  // nothing runs that could go away
    return !csv_ || (feature != Feature::kMultipleSheets && feature != Feature::kNonWorksheets &&
                     feature != Feature::kFontColors);
  }
  std::unique_ptr<Application> Open(const std::vector<WorkbookLayout>& books, char separator,
                                    const std::filesystem::path& folder) override {
    auto app = std::make_unique<BookApplication>(separator);
    for (const WorkbookLayout& layout : books)
      app->OpenWorkbook(Write(layout, folder), false, csv_ ? layout.Sheets.at(0).Name : "");
    return app;
  }
  std::string WorkbookName(const std::string& stem) const override { return stem + (csv_ ? ".csv" : ".xlsx"); }
  std::string WriteWorkbookFile(Application&, const WorkbookLayout& book, const std::filesystem::path& folder) override {
    return Write(book, folder);
  }
  Rgb FontColor(Application&, Worksheet& sheet, int row, int column) override {
    return BookApplication::FontColor(sheet, row, column);
  }
  // A user types into the cell: a number in either notation is stored as a
  // number, "" empties the cell, anything else is text.
  void UserEdit(Application&, Worksheet& sheet, int row, int column, const std::string& typed) override {
    std::string c = typed;
    std::replace(c.begin(), c.end(), ',', '.');
    if (typed.empty())
      sheet.ClearContents(row, column, column);
    else if (auto number = book::ParseNumber(c))
      sheet.WriteNumber(row, column, *number);
    else
      sheet.WriteText(row, column, typed);
  }

 private:
  std::string Write(const WorkbookLayout& layout, const std::filesystem::path& folder) const {
    const std::string path = (folder / WorkbookName(layout.Stem)).string();
    std::vector<book::NewSheet> sheets;
    for (const SheetLayout& s : layout.Sheets) {
      book::NewSheet& sheet = sheets.emplace_back();
      sheet.Name = s.Name;
      sheet.IsWorksheet = s.IsWorksheet;
      for (const CellLayout& cell : s.Cells) {
        const auto r = static_cast<std::size_t>(cell.Row), c = static_cast<std::size_t>(cell.Column);
        if (sheet.Rows.size() < r) sheet.Rows.resize(r);
        if (sheet.Rows[r - 1].size() < c) sheet.Rows[r - 1].resize(c);
        std::visit([&](const auto& v) { sheet.Rows[r - 1][c - 1] = v; }, cell.Value);
      }
    }
    if (!csv_) {
      book::WriteNewWorkbookFile(path, sheets, static_cast<int>(layout.ActiveSheet));
      return book::FullPath(path);
    }
    std::ofstream out(path, std::ios::binary);
    for (const auto& row : sheets.at(0).Rows) {
      for (std::size_t k = 0; k < row.size(); ++k) {
        out << (k ? "," : "");
        if (const double* d = std::get_if<double>(&row[k])) out << book::FormatNumber(*d);
        if (const std::string* t = std::get_if<std::string>(&row[k])) out << '"' << *t << '"';
      }
      out << "\r\n";
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
