#include "office_fixture.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/DispatchHelper.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDispatchProvider.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/document/XActionLockable.hpp>
#include <com/sun/star/sheet/XCalculatable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XProtectable.hpp>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <osl/file.hxx>
#include <stdexcept>
#include <thread>

#include "link/uno/calc_application.h"
#include "link/uno/calc_session.h"

namespace tersolv::link::uno::testing {
namespace {

namespace css = ::com::sun::star;
using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;
namespace fs = std::filesystem;
using Pairs = std::initializer_list<std::pair<const char*, Any>>;

OUString U(const std::string& s) { return rtl::OStringToOUString(rtl::OString(s.c_str()), RTL_TEXTENCODING_UTF8); }

OUString Url(const std::string& path) {
  OUString url;
  osl::File::getFileURLFromSystemPath(U(fs::weakly_canonical(fs::absolute(path)).string()), url);
  return url;
}

css::uno::Sequence<css::beans::PropertyValue> Props(Pairs list) {
  css::uno::Sequence<css::beans::PropertyValue> props(static_cast<sal_Int32>(list.size()));
  css::beans::PropertyValue* p = props.getArray();
  for (const auto& [name, value] : list) *p++ = {OUString::createFromAscii(name), 0, value, {}};
  return props;
}

Reference<css::lang::XComponent> Load(CalcApplication& app, const OUString& url, Pairs props) {
  Reference<css::frame::XComponentLoader> loader(SessionOf(app).Desktop(), UNO_QUERY_THROW);
  Reference<css::lang::XComponent> doc = loader->loadComponentFromURL(url, "_blank", 0, Props(props));
  return doc;
}

// Stores `doc` as `path` in the format of its extension and closes it.
void StoreAndClose(const Reference<css::lang::XComponent>& doc, const std::string& path) {
  const std::string ext = fs::path(path).extension().string();
  const char* filter = ext == ".xlsx" ? "Calc MS Excel 2007 XML" : ext == ".xls" ? "MS Excel 97" : "calc8";
  Reference<css::frame::XStorable>(doc, UNO_QUERY_THROW)
      ->storeToURL(Url(path),
                   Props({{"FilterName", Any(OUString::createFromAscii(filter))}, {"Overwrite", Any(true)}}));
  Reference<css::util::XCloseable>(doc, UNO_QUERY_THROW)->close(true);
}

std::vector<Any> Components(CalcApplication& app) {
  std::vector<Any> all;
  Reference<css::container::XEnumeration> e = SessionOf(app).Desktop()->getComponents()->createEnumeration();
  while (e->hasMoreElements()) all.push_back(e->nextElement());
  return all;
}

Reference<css::frame::XModel> Document(CalcApplication& app, const std::string& path) {
  for (const Any& c : Components(app)) {
    Reference<css::frame::XModel> model(c, css::uno::UNO_QUERY);
    if (model.is() && (path.empty() ? model->getURL().isEmpty() : model->getURL() == Url(path))) return model;
  }
  throw std::runtime_error("no open document " + path);
}

Reference<css::sheet::XSpreadsheet> SheetOf(const Reference<css::frame::XModel>& model, const std::string& name) {
  Reference<css::sheet::XSpreadsheetDocument> book(model, UNO_QUERY_THROW);
  return Reference<css::sheet::XSpreadsheet>(book->getSheets()->getByName(U(name)), UNO_QUERY_THROW);
}

}  // namespace

std::string OfficeMissing() {
  static const bool found = std::system("command -v soffice > /dev/null 2>&1") == 0;
  return found ? "" : "soffice (LibreOffice) is not installed: the LibreOffice Calc tests are skipped";
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

Sheet Layout(const std::string& name, const std::vector<std::vector<std::string>>& rows) {
  const bool ternary = name == "Ternary system";
  Sheet sheet{name, {}};
  sheet.Cells.emplace_back(1, 1, "Tersolv");
  sheet.Cells.emplace_back(2, 1, ternary ? "System definitions" : "Conditions");
  const char* headers[] = {"T, C", "P, MPa", "m(H2S)", "m(NaCl)"};
  for (int c = 0; c < (ternary ? 4 : 2); ++c) sheet.Cells.emplace_back(3, c + 1, headers[c]);
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    for (int c = 0; c < static_cast<int>(rows[r].size()); ++c) {
      const std::string& typed = rows[r][c];
      char* end = nullptr;
      const double number = std::strtod(typed.c_str(), &end);
      if (!typed.empty() && end == typed.c_str() + typed.size()) {
        sheet.Cells.emplace_back(r + 4, c + 1, number);
      } else {
        sheet.Cells.emplace_back(r + 4, c + 1, typed);
      }
    }
  }
  return sheet;
}

TestOffice& TestOffice::Shared() {
  static TestOffice office;
  return office;
}

TestOffice::TestOffice(bool headless)
    : headless_(headless), pipe_((headless ? "tersolv_test_" : "tersolv_desktop_") + std::to_string(::getpid())) {
  char pattern[] = "/tmp/tersolv-office-XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("cannot make a temporary folder");
  folder_ = pattern;
}

TestOffice::~TestOffice() {
  Kill();
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

bool TestOffice::Running() {
  if (pid_ > 0 && ::waitpid(static_cast<pid_t>(pid_), nullptr, WNOHANG) != 0) Kill();
  return pid_ > 0;
}

void TestOffice::EnsureRunning() {
  if (!Running()) Attach();
}

std::unique_ptr<CalcApplication> TestOffice::Attach(char decimalSeparator) {
  Running();  // reaps an office that ended: a new one is started
  CalcOptions options;
  options.PipeName = pipe_;
  options.Headless = headless_;
  options.DecimalSeparator = decimalSeparator;
  options.ProfileFolder = folder_ + "/profile";
  options.StartTimeout = std::chrono::seconds(60);
  options.Started = [this](long pid) { pid_ = pid; };
  try {
    return std::make_unique<CalcApplication>(options);
  } catch (const LinkError&) {
    if (Running()) throw;  // only an office that ended (aborted at start) is started once more
    return std::make_unique<CalcApplication>(options);
  }
}

void TestOffice::Kill() {
  if (pid_ <= 0) return;
  const pid_t group = static_cast<pid_t>(pid_);
  ::kill(-group, SIGKILL);
  ::waitpid(group, nullptr, 0);
  // Until the rest of its group (soffice.bin, which holds the pipe) is gone too, at most 2 s.
  for (int i = 0; i < 200 && ::kill(-group, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  pid_ = 0;
}

void TestOffice::CloseAllDocuments(CalcApplication& app) {
  for (const Any& c : Components(app)) {
    if (Reference<css::util::XCloseable> document(c, css::uno::UNO_QUERY); document.is()) document->close(true);
  }
}

void TestOffice::WriteWorkbook(CalcApplication& app, const std::string& path, const std::vector<Sheet>& sheets) {
  Reference<css::lang::XComponent> doc = Load(app, "private:factory/scalc", {{"Hidden", Any(true)}});
  Reference<css::sheet::XSpreadsheets> all =
      Reference<css::sheet::XSpreadsheetDocument>(doc, UNO_QUERY_THROW)->getSheets();
  Reference<css::container::XIndexAccess> byIndex(all, UNO_QUERY_THROW);
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    if (i > 0) all->insertNewByName(U(sheets[i].Name), static_cast<sal_Int16>(i));
    Reference<css::sheet::XSpreadsheet> sheet(byIndex->getByIndex(static_cast<sal_Int32>(i)), UNO_QUERY_THROW);
    Reference<css::container::XNamed>(sheet, UNO_QUERY_THROW)->setName(U(sheets[i].Name));
    for (const Cell& c : sheets[i].Cells) {
      Reference<css::table::XCell> cell = sheet->getCellByPosition(c.Column - 1, c.Row - 1);
      if (const double* d = std::get_if<double>(&c.Value)) {
        cell->setValue(*d);
      } else {
        Reference<css::text::XText>(cell, UNO_QUERY_THROW)->setString(U(std::get<std::string>(c.Value)));
      }
    }
  }
  StoreAndClose(doc, path);
}

void TestOffice::ConvertWorkbook(CalcApplication& app, const std::string& from, const std::string& to) {
  StoreAndClose(Load(app, Url(from), {{"Hidden", Any(true)}, {"ReadOnly", Any(true)}}), to);
}

void TestOffice::SetActiveSheet(CalcApplication& app, const std::string& path, const std::string& sheet) {
  Reference<css::frame::XModel> model = Document(app, path);
  Reference<css::sheet::XSpreadsheetView>(model->getCurrentController(), UNO_QUERY_THROW)
      ->setActiveSheet(SheetOf(model, sheet));
}

std::vector<std::vector<TestOffice::Contents>> TestOffice::CellContents(CalcApplication& app, const std::string& path,
                                                                        const std::string& sheet, int firstRow,
                                                                        int lastRow, int lastColumn) {
  const css::uno::Sequence<css::uno::Sequence<Any>> data =
      Reference<css::sheet::XCellRangeData>(
          SheetOf(Document(app, path), sheet)->getCellRangeByPosition(0, firstRow - 1, lastColumn - 1, lastRow - 1),
          UNO_QUERY_THROW)
          ->getDataArray();
  std::vector<std::vector<Contents>> rows;
  for (const css::uno::Sequence<Any>& line : data) {
    rows.emplace_back();
    for (const Any& value : line) {
      double number = 0;
      OUString text;
      if (value >>= number) {
        rows.back().emplace_back(number);
      } else if ((value >>= text) && !text.isEmpty()) {
        rows.back().emplace_back(std::string(rtl::OUStringToOString(text, RTL_TEXTENCODING_UTF8).getStr()));
      } else {
        rows.back().emplace_back();
      }
    }
  }
  return rows;
}

bool TestOffice::Settled(CalcApplication& app, const std::string& path) {
  Reference<css::frame::XModel> model = Document(app, path);
  return Reference<css::sheet::XCalculatable>(model, UNO_QUERY_THROW)->isAutomaticCalculationEnabled() &&
         !model->hasControllersLocked() &&
         !Reference<css::document::XActionLockable>(model, UNO_QUERY_THROW)->isActionLocked();
}

void TestOffice::Protect(CalcApplication& app, const std::string& path, const std::string& sheet, bool on) {
  Reference<css::util::XProtectable> protectable(SheetOf(Document(app, path), sheet), UNO_QUERY_THROW);
  if (on) {
    protectable->protect("");
  } else {
    protectable->unprotect("");
  }
}

Rgb TestOffice::FontColor(CalcApplication& app, const std::string& path, const std::string& sheet, int row,
                          int column) {
  Reference<css::table::XCell> cell = SheetOf(Document(app, path), sheet)->getCellByPosition(column - 1, row - 1);
  sal_Int32 color = -1;  // 0xRRGGBB, -1 for the automatic colour
  Reference<css::beans::XPropertySet>(cell, UNO_QUERY_THROW)->getPropertyValue("CharColor") >>= color;
  return color < 0 ? 0 : RgbColor(color >> 16 & 255, color >> 8 & 255, color & 255);
}

void TestOffice::UserEdit(CalcApplication& app, const std::string& path, const std::string& sheet, int row, int column,
                          const std::string& text) {
  SetActiveSheet(app, path, sheet);
  Reference<css::frame::XDispatchProvider> frame(Document(app, path)->getCurrentController()->getFrame(),
                                                 UNO_QUERY_THROW);
  Reference<css::frame::XDispatchHelper> helper = css::frame::DispatchHelper::create(SessionOf(app).Remote());
  std::string cell = std::to_string(row);
  for (int c = column; c > 0; c = (c - 1) / 26) cell.insert(cell.begin(), static_cast<char>('A' + (c - 1) % 26));
  helper->executeDispatch(frame, ".uno:GoToCell", "", 0, Props({{"ToPoint", Any(U(cell))}}));
  helper->executeDispatch(frame, ".uno:EnterString", "", 0, Props({{"StringName", Any(U(text))}}));
}

void TestOffice::Reload(CalcApplication& app, const std::string& path) {
  Reference<css::frame::XComponentLoader> frame(Document(app, path)->getCurrentController()->getFrame(),
                                                UNO_QUERY_THROW);
  frame->loadComponentFromURL(Url(path), "_self", 0, css::uno::Sequence<css::beans::PropertyValue>());
}

void OfficeTest::SetUp() {
  if (const std::string missing = OfficeMissing(); !missing.empty()) GTEST_SKIP() << missing;
  folder_ = fs::path(::testing::TempDir()) / ("tersolv-calc-" + std::to_string(::getpid()));
  fs::remove_all(folder_);
  fs::create_directories(folder_);
  TestOffice::Shared().EnsureRunning();
  app_ = TestOffice::Shared().Attach();
  TestOffice::CloseAllDocuments(*app_);
}

void OfficeTest::TearDown() {
  app_.reset();
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

std::string OfficeTest::Open(const std::string& stem, const std::vector<Sheet>& sheets) {
  const std::string path = (folder_ / (stem + ".ods")).string();
  TestOffice::WriteWorkbook(*app_, path, sheets);
  app_->OpenWorkbook(path, false);
  return path;
}

}  // namespace tersolv::link::uno::testing
