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
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <osl/file.hxx>
#include <sstream>
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
using Props = std::vector<css::beans::PropertyValue>;

OUString U(const std::string& s) { return rtl::OStringToOUString(rtl::OString(s.c_str()), RTL_TEXTENCODING_UTF8); }

OUString Url(const std::string& path) {
  OUString url;
  osl::File::getFileURLFromSystemPath(U(fs::weakly_canonical(fs::absolute(path)).string()), url);
  return url;
}

css::uno::Sequence<css::beans::PropertyValue> Seq(const Props& list) {
  return {list.data(), static_cast<sal_Int32>(list.size())};
}

css::beans::PropertyValue Prop(const char* name, const Any& value) {
  css::beans::PropertyValue p;
  p.Name = OUString::createFromAscii(name);
  p.Value = value;
  return p;
}

Reference<css::lang::XComponent> Load(CalcApplication& app, const OUString& url, const Props& props) {
  Reference<css::frame::XComponentLoader> loader(SessionOf(app).Desktop(), UNO_QUERY_THROW);
  Reference<css::lang::XComponent> doc = loader->loadComponentFromURL(url, "_blank", 0, Seq(props));
  if (!doc.is()) throw std::runtime_error("the office loaded no document");
  return doc;
}

// Stores `doc` as `path` in the format of its extension and closes it.
void StoreAndClose(const Reference<css::lang::XComponent>& doc, const std::string& path) {
  const std::string ext = fs::path(path).extension().string();
  const char* filter = ext == ".xlsx" ? "Calc MS Excel 2007 XML" : ext == ".xls" ? "MS Excel 97" : "calc8";
  Reference<css::frame::XStorable>(doc, UNO_QUERY_THROW)
      ->storeToURL(Url(path),
                   Seq({Prop("FilterName", Any(OUString::createFromAscii(filter))), Prop("Overwrite", Any(true))}));
  Reference<css::util::XCloseable>(doc, UNO_QUERY_THROW)->close(true);
}

Reference<css::frame::XModel> Document(CalcApplication& app, const std::string& path) {
  Reference<css::container::XEnumeration> all = SessionOf(app).Desktop()->getComponents()->createEnumeration();
  while (all->hasMoreElements()) {
    Reference<css::frame::XModel> model(all->nextElement(), css::uno::UNO_QUERY);
    if (model.is() && model->getURL() == Url(path)) return model;
  }
  throw std::runtime_error("no open document " + path);
}

Reference<css::sheet::XSpreadsheet> SheetOf(const Reference<css::frame::XModel>& model, const std::string& name) {
  Reference<css::sheet::XSpreadsheetDocument> book(model, UNO_QUERY_THROW);
  return Reference<css::sheet::XSpreadsheet>(book->getSheets()->getByName(U(name)), UNO_QUERY_THROW);
}

}  // namespace

std::string OfficeMissing() {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (::access((dir + "/soffice").c_str(), X_OK) == 0) return "";
  }
  return "soffice (LibreOffice) is not installed: the LibreOffice Calc tests are skipped";
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TestOffice& TestOffice::Shared() {
  static TestOffice office;
  return office;
}

TestOffice::TestOffice() : pipe_("tersolv_test_" + std::to_string(::getpid())) {
  char pattern[] = "/tmp/tersolv-office-XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("cannot make a temporary folder");
  folder_ = pattern;
}

TestOffice::~TestOffice() {
  if (pid_ > 0) ::kill(-static_cast<pid_t>(pid_), SIGTERM);
  for (int i = 0; i < 100 && Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Kill();
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

// Reaps an office that ended (killed, quit, or aborted on its own) together with what is left of its group.
bool TestOffice::Running() {
  if (pid_ > 0 && ::waitpid(static_cast<pid_t>(pid_), nullptr, WNOHANG) != 0) {
    ::kill(-static_cast<pid_t>(pid_), SIGKILL);
    pid_ = 0;
  }
  return pid_ > 0;
}

void TestOffice::EnsureRunning() {
  if (!Running()) Attach();
}

std::unique_ptr<CalcApplication> TestOffice::Attach(char decimalSeparator) {
  Running();  // reaps an office that ended; a new one is started below
  CalcOptions options;
  options.PipeName = pipe_;
  options.Headless = true;
  options.DecimalSeparator = decimalSeparator;
  options.ProfileFolder = folder_ + "/profile";
  options.StartTimeout = std::chrono::seconds(60);
  options.Started = [this](long pid) { pid_ = pid; };
  return std::make_unique<CalcApplication>(options);
}

void TestOffice::Kill() {
  if (pid_ <= 0) return;
  ::kill(-static_cast<pid_t>(pid_), SIGKILL);
  ::waitpid(static_cast<pid_t>(pid_), nullptr, 0);
  pid_ = 0;
}

void TestOffice::CloseAllDocuments(CalcApplication& app) {
  std::vector<Reference<css::util::XCloseable>> documents;
  Reference<css::container::XEnumeration> all = SessionOf(app).Desktop()->getComponents()->createEnumeration();
  while (all->hasMoreElements()) documents.emplace_back(all->nextElement(), css::uno::UNO_QUERY);
  for (auto& d : documents) {
    if (d.is()) d->close(true);
  }
}

void TestOffice::WriteWorkbook(CalcApplication& app, const std::string& path, const std::vector<Sheet>& sheets) {
  Reference<css::lang::XComponent> doc = Load(app, "private:factory/scalc", {Prop("Hidden", Any(true))});
  Reference<css::sheet::XSpreadsheets> all =
      Reference<css::sheet::XSpreadsheetDocument>(doc, UNO_QUERY_THROW)->getSheets();
  Reference<css::container::XIndexAccess> byIndex(all, UNO_QUERY_THROW);
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    if (i == 0) {
      Reference<css::container::XNamed>(byIndex->getByIndex(0), UNO_QUERY_THROW)->setName(U(sheets[0].Name));
    } else {
      all->insertNewByName(U(sheets[i].Name), static_cast<sal_Int16>(i));
    }
    Reference<css::sheet::XSpreadsheet> sheet(byIndex->getByIndex(static_cast<sal_Int32>(i)), UNO_QUERY_THROW);
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
  StoreAndClose(Load(app, Url(from), {Prop("Hidden", Any(true)), Prop("ReadOnly", Any(true))}), to);
}

void TestOffice::SetActiveSheet(CalcApplication& app, const std::string& path, const std::string& sheet) {
  Reference<css::frame::XModel> model = Document(app, path);
  Reference<css::sheet::XSpreadsheetView>(model->getCurrentController(), UNO_QUERY_THROW)
      ->setActiveSheet(SheetOf(model, sheet));
}

long TestOffice::FontColor(CalcApplication& app, const std::string& path, const std::string& sheet, int row,
                           int column) {
  Reference<css::table::XCell> cell = SheetOf(Document(app, path), sheet)->getCellByPosition(column - 1, row - 1);
  sal_Int32 color = -1;
  Reference<css::beans::XPropertySet>(cell, UNO_QUERY_THROW)->getPropertyValue("CharColor") >>= color;
  return color < 0 ? 0 : color;
}

void TestOffice::UserEdit(CalcApplication& app, const std::string& path, const std::string& sheet, int row, int column,
                          const std::string& text) {
  SetActiveSheet(app, path, sheet);
  Reference<css::frame::XDispatchProvider> frame(Document(app, path)->getCurrentController()->getFrame(),
                                                 UNO_QUERY_THROW);
  Reference<css::frame::XDispatchHelper> helper = css::frame::DispatchHelper::create(SessionOf(app).Remote());
  std::string cell = std::to_string(row);
  for (int c = column; c > 0; c = (c - 1) / 26) cell.insert(cell.begin(), static_cast<char>('A' + (c - 1) % 26));
  helper->executeDispatch(frame, ".uno:GoToCell", "", 0, Seq({Prop("ToPoint", Any(U(cell)))}));
  helper->executeDispatch(frame, ".uno:EnterString", "", 0, Seq({Prop("StringName", Any(U(text)))}));
}

}  // namespace tersolv::link::uno::testing
