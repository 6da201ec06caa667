#include "office_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/DispatchHelper.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDispatchProvider.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cstdlib>
#include <filesystem>
#include <osl/file.hxx>
#include <rtl/bootstrap.hxx>
#include <stdexcept>
#include <thread>

#include "link/uno/calc_application.h"
#include "link/uno/calc_session.h"

extern char** environ;

namespace tersolv::link::uno::testing {

namespace {

namespace css = ::com::sun::star;
using css::uno::Reference;
using rtl::OUString;
namespace fs = std::filesystem;

OUString U(const std::string& s) { return rtl::OStringToOUString(rtl::OString(s.c_str()), RTL_TEXTENCODING_UTF8); }

OUString Url(const std::string& path) {
  OUString url;
  osl::File::getFileURLFromSystemPath(U(fs::absolute(path).string()), url);
  return url;
}

css::beans::PropertyValue Prop(const char* name, const css::uno::Any& value) {
  css::beans::PropertyValue p;
  p.Name = OUString::createFromAscii(name);
  p.Value = value;
  return p;
}

css::uno::Sequence<css::beans::PropertyValue> Props(const std::vector<css::beans::PropertyValue>& list) {
  return css::uno::Sequence<css::beans::PropertyValue>(list.data(), static_cast<sal_Int32>(list.size()));
}

std::string FindSoffice() {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const fs::path candidate = fs::path(dirs.substr(start, end - start)) / "soffice";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    start = end + 1;
  }
  return "";
}

const char* FilterFor(const std::string& path) {
  const std::string ext = fs::path(path).extension().string();
  if (ext == ".xlsx") return "Calc MS Excel 2007 XML";
  if (ext == ".xls") return "MS Excel 97";
  return "calc8";
}

std::string ColumnName(int column) {
  std::string name;
  for (int c = column; c > 0; c = (c - 1) / 26) name.insert(name.begin(), static_cast<char>('A' + (c - 1) % 26));
  return name;
}

Reference<css::frame::XModel> Document(CalcApplication& app, const std::string& path) {
  const std::string wanted = fs::weakly_canonical(path).string();
  Reference<css::container::XEnumeration> all = SessionOf(app).Desktop()->getComponents()->createEnumeration();
  while (all->hasMoreElements()) {
    Reference<css::frame::XModel> model(all->nextElement(), css::uno::UNO_QUERY);
    if (!model.is() || model->getURL().isEmpty()) continue;
    OUString sys;
    osl::File::getSystemPathFromFileURL(model->getURL(), sys);
    if (fs::weakly_canonical(rtl::OUStringToOString(sys, RTL_TEXTENCODING_UTF8).getStr()).string() == wanted)
      return model;
  }
  throw std::runtime_error("no open document " + path);
}

Reference<css::sheet::XSpreadsheet> SheetOf(const Reference<css::frame::XModel>& model, const std::string& name) {
  Reference<css::sheet::XSpreadsheetDocument> book(model, css::uno::UNO_QUERY_THROW);
  return Reference<css::sheet::XSpreadsheet>(book->getSheets()->getByName(U(name)), css::uno::UNO_QUERY_THROW);
}

Reference<css::frame::XComponentLoader> Loader(CalcApplication& app) {
  return Reference<css::frame::XComponentLoader>(SessionOf(app).Desktop(), css::uno::UNO_QUERY_THROW);
}

}  // namespace

std::string OfficeMissing() {
  if (FindSoffice().empty()) return "soffice (LibreOffice) is not installed: the LibreOffice Calc tests are skipped";
  return "";
}

TestOffice& TestOffice::Shared() {
  static TestOffice office;
  return office;
}

TestOffice::TestOffice() {
  char pattern[] = "/tmp/tersolv-office-XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("cannot make a temporary folder");
  folder_ = pattern;
  pipe_ = "tersolv_test_" + std::to_string(::getpid());
}

TestOffice::~TestOffice() {
  Stop();
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

void TestOffice::EnsureRunning() {
  if (Running()) return;
  Stop();
  Start();
}

void TestOffice::Start() {
  const std::string soffice = FindSoffice();
  if (soffice.empty()) throw std::runtime_error(OfficeMissing());
  const std::string profile = folder_ + "/profile";
  SeedProfile(profile);
  std::vector<std::string> args = {soffice,
                                   "--headless",
                                   "--invisible",
                                   "--norestore",
                                   "--nologo",
                                   "--accept=pipe,name=" + pipe_ + ";urp;",
                                   "-env:UserInstallation=file://" + profile};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int failed = posix_spawn(&pid, argv[0], &files, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attr);
  if (failed) throw std::runtime_error("cannot start soffice");
  pid_ = pid;

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (true) {
    try {
      Attach();
      return;
    } catch (const LinkError&) {
      if (std::chrono::steady_clock::now() > deadline || !Running()) {
        Stop();
        throw std::runtime_error("the test office did not answer within 60 s");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
}

std::unique_ptr<CalcApplication> TestOffice::Attach(char decimalSeparator) {
  CalcOptions options;
  options.PipeName = pipe_;
  options.Headless = true;
  options.Start = false;
  options.DecimalSeparator = decimalSeparator;
  return std::make_unique<CalcApplication>(options);
}

bool TestOffice::Running() { return pid_ > 0 && ::waitpid(static_cast<pid_t>(pid_), nullptr, WNOHANG) == 0; }

void TestOffice::Kill() {
  if (pid_ <= 0) return;
  ::kill(-static_cast<pid_t>(pid_), SIGKILL);
  ::waitpid(static_cast<pid_t>(pid_), nullptr, 0);
  pid_ = 0;
}

void TestOffice::Stop() {
  if (pid_ <= 0) return;
  const pid_t pid = static_cast<pid_t>(pid_);
  ::kill(-pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {  // at most 5 s
    if (::waitpid(pid, nullptr, WNOHANG) == pid) {
      ::kill(-pid, SIGKILL);  // whatever of its group is left
      pid_ = 0;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  Kill();
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
  const auto load = Props({Prop("Hidden", css::uno::Any(true))});
  Reference<css::lang::XComponent> doc = Loader(app)->loadComponentFromURL("private:factory/scalc", "_blank", 0, load);
  Reference<css::sheet::XSpreadsheets> all =
      Reference<css::sheet::XSpreadsheetDocument>(doc, css::uno::UNO_QUERY_THROW)->getSheets();
  Reference<css::container::XIndexAccess> byIndex(all, css::uno::UNO_QUERY_THROW);
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    if (i == 0) {
      Reference<css::container::XNamed>(byIndex->getByIndex(0), css::uno::UNO_QUERY_THROW)->setName(U(sheets[0].Name));
    } else {
      all->insertNewByName(U(sheets[i].Name), static_cast<sal_Int16>(i));
    }
    Reference<css::sheet::XSpreadsheet> sheet(byIndex->getByIndex(static_cast<sal_Int32>(i)),
                                              css::uno::UNO_QUERY_THROW);
    for (const Cell& c : sheets[i].Cells) {
      Reference<css::table::XCell> cell = sheet->getCellByPosition(c.Column - 1, c.Row - 1);
      if (const double* d = std::get_if<double>(&c.Value)) {
        cell->setValue(*d);
      } else {
        Reference<css::text::XText>(cell, css::uno::UNO_QUERY_THROW)->setString(U(std::get<std::string>(c.Value)));
      }
    }
  }
  const auto store = Props({Prop("FilterName", css::uno::Any(OUString::createFromAscii(FilterFor(path)))),
                            Prop("Overwrite", css::uno::Any(true))});
  Reference<css::frame::XStorable>(doc, css::uno::UNO_QUERY_THROW)->storeToURL(Url(path), store);
  Reference<css::util::XCloseable>(doc, css::uno::UNO_QUERY_THROW)->close(true);
}

void TestOffice::ConvertWorkbook(CalcApplication& app, const std::string& from, const std::string& to) {
  const auto load = Props({Prop("Hidden", css::uno::Any(true)), Prop("ReadOnly", css::uno::Any(true))});
  Reference<css::lang::XComponent> doc = Loader(app)->loadComponentFromURL(Url(from), "_blank", 0, load);
  if (!doc.is()) throw std::runtime_error("cannot load " + from);
  const auto store = Props({Prop("FilterName", css::uno::Any(OUString::createFromAscii(FilterFor(to)))),
                            Prop("Overwrite", css::uno::Any(true))});
  Reference<css::frame::XStorable>(doc, css::uno::UNO_QUERY_THROW)->storeToURL(Url(to), store);
  Reference<css::util::XCloseable>(doc, css::uno::UNO_QUERY_THROW)->close(true);
}

void TestOffice::SetActiveSheet(CalcApplication& app, const std::string& path, const std::string& sheet) {
  Reference<css::frame::XModel> model = Document(app, path);
  Reference<css::sheet::XSpreadsheetView>(model->getCurrentController(), css::uno::UNO_QUERY_THROW)
      ->setActiveSheet(SheetOf(model, sheet));
}

long TestOffice::FontColor(CalcApplication& app, const std::string& path, const std::string& sheet, int row,
                           int column) {
  Reference<css::table::XCell> cell = SheetOf(Document(app, path), sheet)->getCellByPosition(column - 1, row - 1);
  sal_Int32 color = -1;
  Reference<css::beans::XPropertySet>(cell, css::uno::UNO_QUERY_THROW)->getPropertyValue("CharColor") >>= color;
  return color < 0 ? 0 : color;
}

void TestOffice::UserEdit(CalcApplication& app, const std::string& path, const std::string& sheet, int row, int column,
                          const std::string& text) {
  Reference<css::frame::XModel> model = Document(app, path);
  SetActiveSheet(app, path, sheet);
  Reference<css::frame::XDispatchProvider> frame(model->getCurrentController()->getFrame(), css::uno::UNO_QUERY_THROW);
  Reference<css::frame::XDispatchHelper> helper = css::frame::DispatchHelper::create(SessionOf(app).Remote());
  const std::string cell = ColumnName(column) + std::to_string(row);
  helper->executeDispatch(frame, ".uno:GoToCell", "", 0, Props({Prop("ToPoint", css::uno::Any(U(cell)))}));
  helper->executeDispatch(frame, ".uno:EnterString", "", 0, Props({Prop("StringName", css::uno::Any(U(text)))}));
}

}  // namespace tersolv::link::uno::testing
