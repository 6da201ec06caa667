#include "link/uno/calc_application.h"

#include <algorithm>
#include <cmath>
#include <com/sun/star/awt/XTopWindow.hpp>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/frame/XTitle.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/FormulaResult.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSheetOperation.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/util/XChangesListener.hpp>
#include <com/sun/star/util/XChangesNotifier.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <cppuhelper/implbase1.hxx>
#include <filesystem>
#include <fstream>
#include <osl/file.hxx>
#include <rtl/uri.hxx>

#include "link/uno/calc_session.h"
#include "link/uno/sheet_batch.h"

namespace tersolv::link::uno {

namespace {

using namespace css;
namespace fs = std::filesystem;

using Model = Reference<frame::XModel>;

std::string UrlToPath(const OUString& url) {
  if (url.isEmpty()) return "";
  OUString path;
  if (osl::File::getSystemPathFromFileURL(url, path) != osl::FileBase::E_None) return ToUtf8(url);
  return ToUtf8(path);
}

OUString PathToUrl(const std::string& path) {
  OUString url;
  osl::File::getFileURLFromSystemPath(ToOUString(path), url);
  return url;
}

bool SamePath(const std::string& a, const std::string& b) {
  std::error_code e1, e2;
  const fs::path ca = fs::weakly_canonical(a, e1), cb = fs::weakly_canonical(b, e2);
  return !e1 && !e2 ? ca == cb : a == b;
}

void CheckCell(int row, int column) {
  if (row < 1 || column < 1)
    throw LinkError(kBadArgument, "Cell (" + std::to_string(row) + ", " + std::to_string(column) +
                                      ") is outside the sheet: rows and columns are numbered from 1");
}

void CheckRange(int row, int firstColumn, int lastColumn) {
  CheckCell(row, firstColumn);
  CheckCell(row, lastColumn);
  if (lastColumn < firstColumn)
    throw LinkError(kBadArgument, "Columns " + std::to_string(firstColumn) + " to " + std::to_string(lastColumn) +
                                      " are not a range");
}

// The owner of a lock file next to `path` (".~lock.<name>#"), "" if none.
std::string LockOwner(const std::string& path) {
  const fs::path p(path);
  std::ifstream in(p.parent_path() / (".~lock." + p.filename().string() + "#"));
  if (!in) return "";
  std::string line;
  std::getline(in, line);
  const std::size_t comma = line.find(',');
  const std::string owner = line.substr(0, comma);
  return owner.empty() ? "another user" : owner;
}

// Receives the office's reports of user edits of one document and queues
// those of one sheet. Runs on a UNO thread.
class SheetChangesListener : public cppu::WeakImplHelper1<util::XChangesListener> {
 public:
  SheetChangesListener(std::shared_ptr<EventHub> hub, std::weak_ptr<HandlerSlot> slot,
                       Reference<sheet::XCellRangeAddressable> sheet)
      : hub_(std::move(hub)), slot_(std::move(slot)), sheet_(std::move(sheet)) {}

  void SAL_CALL changesOccurred(const util::ChangesEvent& event) override {
    try {
      const sal_Int16 sheetIndex = sheet_->getRangeAddress().Sheet;
      for (const util::ElementChange& change : event.Changes) {
        Reference<sheet::XCellRangeAddressable> range(change.ReplacedElement, css::uno::UNO_QUERY);
        if (!range.is()) range.set(change.Element, css::uno::UNO_QUERY);
        if (!range.is()) continue;
        const table::CellRangeAddress a = range->getRangeAddress();
        if (a.Sheet != sheetIndex) continue;
        hub_->Post(slot_, CellRange{a.StartRow + 1, a.StartColumn + 1, a.EndRow + 1, a.EndColumn + 1});
      }
    } catch (const css::uno::Exception&) {
      // A report that cannot be read (the sheet was deleted): nothing to tell.
    }
  }
  void SAL_CALL disposing(const lang::EventObject&) override {}

 private:
  std::shared_ptr<EventHub> hub_;
  std::weak_ptr<HandlerSlot> slot_;
  Reference<sheet::XCellRangeAddressable> sheet_;
};

// --- Documents of the office ---

// Open spreadsheet documents, in the order they were opened (the office
// lists the newest first).
std::vector<Model> Workbooks(CalcSession& s) {
  std::vector<Model> books;
  Reference<container::XEnumeration> all = s.Desktop()->getComponents()->createEnumeration();
  while (all->hasMoreElements()) {
    Reference<sheet::XSpreadsheetDocument> book(all->nextElement(), css::uno::UNO_QUERY);
    if (book.is()) books.emplace_back(book, css::uno::UNO_QUERY);
  }
  std::reverse(books.begin(), books.end());
  return books;
}

bool IsOpen(const std::vector<Model>& books, const Model& model) {
  for (const Model& m : books) {
    if (m == model) return true;
  }
  return false;
}

class CalcWorksheet : public Worksheet {
 public:
  CalcWorksheet(std::shared_ptr<CalcSession> session, Model model, Reference<sheet::XSpreadsheet> sheet)
      : session_(std::move(session)),
        model_(std::move(model)),
        sheet_(std::move(sheet)),
        batch_(sheet_, model_, session_->Options().DecimalSeparator,
               [this](const char* what, const std::function<void()>& call) { SheetCall(what, call); }) {}
  ~CalcWorksheet() override {
    try {
      RemoveListener();
    } catch (...) {
      // The office is gone: nothing to remove.
    }
  }

  std::string Name() const override {
    return SheetCall(
        "Name", [&] { return ToUtf8(Reference<container::XNamed>(sheet_, css::uno::UNO_QUERY_THROW)->getName()); });
  }

  std::string CellText(int row, int column) const override {
    CheckCell(row, column);
    if (batch_.Active()) {
      if (std::optional<std::string> text = batch_.CellText(row, column)) return *text;
    }
    return SheetCall("CellText", [&]() -> std::string {
      Reference<table::XCell> cell = sheet_->getCellByPosition(column - 1, row - 1);
      switch (cell->getType()) {
        case table::CellContentType_EMPTY:
          return "";
        case table::CellContentType_VALUE:
          return Number(cell->getValue());
        case table::CellContentType_FORMULA: {
          sal_Int32 result = 0;
          Reference<beans::XPropertySet>(cell, css::uno::UNO_QUERY_THROW)->getPropertyValue("FormulaResultType2") >>=
              result;
          if (result == sheet::FormulaResult::VALUE && cell->getError() == 0) return Number(cell->getValue());
          return ToUtf8(Reference<text::XText>(cell, css::uno::UNO_QUERY_THROW)->getString());
        }
        default:
          return ToUtf8(Reference<text::XText>(cell, css::uno::UNO_QUERY_THROW)->getString());
      }
    });
  }

  void WriteNumber(int row, int column, double value) override {
    CheckCell(row, column);
    CheckFinite(value);
    if (Hold(column)) return batch_.WriteNumber(row, column, value);
    SheetCall("WriteNumber", [&] { sheet_->getCellByPosition(column - 1, row - 1)->setValue(value); });
  }

  void WriteText(int row, int column, const std::string& text) override {
    CheckCell(row, column);
    if (Hold(column)) return batch_.WriteText(row, column, text);
    SheetCall("WriteText", [&] {
      Reference<text::XText>(sheet_->getCellByPosition(column - 1, row - 1), css::uno::UNO_QUERY_THROW)
          ->setString(ToOUString(text));
    });
  }

  void WriteNumbers(int row, int column, std::span<const double> values) override {
    if (values.empty()) return;
    const int last = column + static_cast<int>(values.size()) - 1;
    CheckRange(row, column, last);
    css::uno::Sequence<css::uno::Any> line(static_cast<sal_Int32>(values.size()));
    for (std::size_t k = 0; k < values.size(); ++k) {
      CheckFinite(values[k]);
      line.getArray()[k] <<= values[k];
    }
    if (Hold(last)) {
      for (std::size_t k = 0; k < values.size(); ++k) batch_.WriteNumber(row, column + static_cast<int>(k), values[k]);
      return;
    }
    const css::uno::Sequence<css::uno::Sequence<css::uno::Any>> data(&line, 1);
    SheetCall("WriteNumbers", [&] {
      Reference<sheet::XCellRangeData>(Range(row, column, last), css::uno::UNO_QUERY_THROW)->setDataArray(data);
    });
  }

  void ClearContents(int row, int firstColumn, int lastColumn) override {
    CheckRange(row, firstColumn, lastColumn);
    if (Hold(lastColumn)) return batch_.Clear(row, firstColumn, lastColumn);
    SheetCall("ClearContents", [&] {
      Reference<sheet::XSheetOperation>(Range(row, firstColumn, lastColumn), css::uno::UNO_QUERY_THROW)
          ->clearContents(sheet::CellFlags::VALUE | sheet::CellFlags::DATETIME | sheet::CellFlags::STRING |
                          sheet::CellFlags::FORMULA);
    });
  }

  void SetFontColor(int row, int firstColumn, int lastColumn, Rgb color) override {
    CheckRange(row, firstColumn, lastColumn);
    if (Hold(lastColumn)) return batch_.SetFontColor(row, firstColumn, lastColumn, color);
    SheetCall("SetFontColor", [&] {
      Reference<beans::XPropertySet>(Range(row, firstColumn, lastColumn), css::uno::UNO_QUERY_THROW)
          ->setPropertyValue("CharColor", css::uno::Any(OfficeColor(color)));
    });
  }

  void SetChangeHandler(std::function<void(const CellRange&)> handler) override {
    if (!handler) {
      RemoveListener();
      return;
    }
    if (slot_) {
      slot_->Handler = std::move(handler);
      return;
    }
    auto slot = std::make_shared<HandlerSlot>();
    slot->Handler = std::move(handler);
    session_->Call("SetChangeHandler", [&] {
      Reference<util::XChangesListener> listener(new SheetChangesListener(
          session_->EventsPtr(), slot, Reference<sheet::XCellRangeAddressable>(sheet_, css::uno::UNO_QUERY_THROW)));
      Reference<util::XChangesNotifier>(model_, css::uno::UNO_QUERY_THROW)->addChangesListener(listener);
      listener_ = listener;
    });
    slot_ = slot;
  }

  void BeginBatch() override { batch_.Begin(); }
  void EndBatch() override { batch_.End(); }

 private:
  // Within a batch, whether a write up to that column is held; one that
  // cannot be held follows what is held.
  bool Hold(int lastColumn) {
    if (!batch_.Active()) return false;
    if (batch_.CanHold(lastColumn)) return true;
    batch_.Flush();
    return false;
  }

  // A call on this sheet. A failure other than a lost office or a bad
  // address, once the sheet's workbook is no longer open, is reported as
  // that (the office says little more than "runtime error").
  template <class F>
  auto SheetCall(const char* what, F&& call) const -> decltype(call()) {
    try {
      return session_->Call(what, std::forward<F>(call));
    } catch (const LinkError& e) {
      if (e.Number() == kApplicationGone || e.Number() == kBadArgument || WorkbookOpen()) throw;
      throw LinkError(kNoWorkbook, std::string(what) + " failed: the workbook of this sheet has been closed");
    }
  }

  bool WorkbookOpen() const {
    try {
      return session_->Call("Workbooks", [&] { return IsOpen(Workbooks(*session_), model_); });
    } catch (const LinkError&) {
      return true;  // cannot tell: keep the first failure
    }
  }

  std::string Number(double value) const { return NumberText(value, session_->Options().DecimalSeparator); }

  static void CheckFinite(double value) {
    if (!std::isfinite(value)) throw LinkError(kBadArgument, "Only finite numbers can be written into a cell");
  }

  Reference<table::XCellRange> Range(int row, int firstColumn, int lastColumn) const {
    return Reference<table::XCellRange>(sheet_, css::uno::UNO_QUERY_THROW)
        ->getCellRangeByPosition(firstColumn - 1, row - 1, lastColumn - 1, row - 1);
  }

  void RemoveListener() {
    if (slot_) slot_->Handler = nullptr;
    slot_.reset();
    if (!listener_.is()) return;
    Reference<util::XChangesListener> listener = listener_;
    listener_.clear();
    if (session_->Gone()) return;
    try {
      session_->Call("SetChangeHandler", [&] {
        Reference<util::XChangesNotifier>(model_, css::uno::UNO_QUERY_THROW)->removeChangesListener(listener);
      });
    } catch (const LinkError& e) {
      if (e.Number() == kApplicationGone) throw;
      // The workbook was closed: nothing left to listen to.
    }
  }

  std::shared_ptr<CalcSession> session_;
  Model model_;
  Reference<sheet::XSpreadsheet> sheet_;
  std::shared_ptr<HandlerSlot> slot_;
  Reference<util::XChangesListener> listener_;
  mutable SheetBatch batch_;
};

// The active workbook: the office's current document when it is a workbook,
// else the one this link activated last while it is open, else the last
// one opened; LinkError kNoWorkbook when none is open.
Model ActiveWorkbook(CalcSession& s) {
  Reference<sheet::XSpreadsheetDocument> current(s.Desktop()->getCurrentComponent(), css::uno::UNO_QUERY);
  const std::vector<Model> books = Workbooks(s);
  if (current.is()) {
    Model model(current, css::uno::UNO_QUERY);
    if (IsOpen(books, model)) return model;
  }
  if (s.LastActivated.is() && IsOpen(books, s.LastActivated)) return s.LastActivated;
  if (books.empty()) throw LinkError(kNoWorkbook, "No workbook is open in LibreOffice Calc");
  return books.back();
}

std::string BookName(const Model& model) {
  const std::string path = UrlToPath(model->getURL());
  if (!path.empty()) return fs::path(path).filename().string();
  Reference<frame::XTitle> title(model, css::uno::UNO_QUERY);
  return title.is() ? ToUtf8(title->getTitle()) : "";
}

Model WorkbookAt(CalcSession& s, int index) {
  const std::vector<Model> books = Workbooks(s);
  if (index < 1 || index > static_cast<int>(books.size()))
    throw LinkError(kBadArgument, "There is no workbook number " + std::to_string(index) + " (" +
                                      std::to_string(books.size()) + " open)");
  return books[static_cast<std::size_t>(index - 1)];
}

void Activate(CalcSession& s, const Model& model) {
  Reference<frame::XController> controller = model->getCurrentController();
  if (controller.is()) {
    Reference<frame::XFrame> frame = controller->getFrame();
    if (frame.is()) {
      frame->activate();
      if (s.Visible && !s.Options().Headless) {
        Reference<awt::XTopWindow> top(frame->getContainerWindow(), css::uno::UNO_QUERY);
        if (top.is()) top->toFront();
      }
    }
  }
  s.LastActivated = model;
}

Reference<sheet::XSpreadsheetView> View(const Model& model) {
  Reference<sheet::XSpreadsheetView> view(model->getCurrentController(), css::uno::UNO_QUERY);
  if (!view.is()) throw LinkError(kNotAWorksheet, "The active workbook shows no worksheet");
  return view;
}

beans::PropertyValue Arg(const char* name, const css::uno::Any& value) {
  beans::PropertyValue arg;
  arg.Name = OUString::createFromAscii(name);
  arg.Value = value;
  return arg;
}

// Loads the file `full` into a new frame: hidden when the office shows no
// windows, never running its macros nor updating its links, with `more`
// arguments; the document, or nothing when the office could not load it.
Reference<lang::XComponent> Load(CalcSession& s, const char* what, const std::string& full,
                                 const std::vector<beans::PropertyValue>& more) {
  std::vector<beans::PropertyValue> args = {Arg("Hidden", css::uno::Any(s.Options().Headless || !s.Visible)),
                                            Arg("MacroExecutionMode", css::uno::Any(sal_Int16(0))),
                                            Arg("UpdateDocMode", css::uno::Any(sal_Int16(0)))};
  args.insert(args.end(), more.begin(), more.end());
  const css::uno::Sequence<beans::PropertyValue> sequence(args.data(), static_cast<sal_Int32>(args.size()));
  return s.Call(
      what,
      [&] {
        return Reference<frame::XComponentLoader>(s.Desktop(), css::uno::UNO_QUERY_THROW)
            ->loadComponentFromURL(PathToUrl(full), "_blank", 0, sequence);
      },
      s.Options().LoadTimeout);
}

void CloseDocument(const Reference<css::uno::XInterface>& document) {
  Reference<util::XCloseable> closeable(document, css::uno::UNO_QUERY);
  if (closeable.is()) {
    closeable->close(true);
  } else {
    Reference<lang::XComponent>(document, css::uno::UNO_QUERY_THROW)->dispose();
  }
}

}  // namespace

// --- CalcApplication ---

CalcSession& SessionOf(CalcApplication& app) { return *app.session_; }

CalcApplication::CalcApplication(const CalcOptions& options) : session_(std::make_shared<CalcSession>(options)) {}

CalcApplication::~CalcApplication() = default;

void CalcApplication::SetVisible(bool visible) {
  CalcSession& s = *session_;
  s.Visible = visible;
  if (s.Options().Headless) return;  // a headless office has no windows
  s.Call("SetVisible", [&] {
    for (const Model& model : Workbooks(s)) {
      Reference<frame::XController> controller = model->getCurrentController();
      if (!controller.is() || !controller->getFrame().is()) continue;
      Reference<awt::XWindow> window = controller->getFrame()->getContainerWindow();
      if (window.is()) window->setVisible(visible);
    }
  });
}

std::string CalcApplication::ActiveWorkbookName() {
  return session_->Call("ActiveWorkbookName", [&] { return BookName(ActiveWorkbook(*session_)); });
}

std::string CalcApplication::ActiveSheetName() {
  return session_->Call("ActiveSheetName", [&] {
    Reference<sheet::XSpreadsheet> sheet = View(ActiveWorkbook(*session_))->getActiveSheet();
    return ToUtf8(Reference<container::XNamed>(sheet, css::uno::UNO_QUERY_THROW)->getName());
  });
}

std::shared_ptr<Worksheet> CalcApplication::ActiveSheet() {
  return session_->Call("ActiveSheet", [&] {
    Model model = ActiveWorkbook(*session_);
    Reference<sheet::XSpreadsheet> sheet = View(model)->getActiveSheet();
    if (!sheet.is()) throw LinkError(kNotAWorksheet, "The active sheet is not a worksheet");
    return std::make_shared<CalcWorksheet>(session_, model, sheet);
  });
}

std::shared_ptr<Worksheet> CalcApplication::FirstWorksheet() {
  return session_->Call("FirstWorksheet", [&]() -> std::shared_ptr<Worksheet> {
    Model model = ActiveWorkbook(*session_);
    Reference<container::XIndexAccess> sheets(
        Reference<sheet::XSpreadsheetDocument>(model, css::uno::UNO_QUERY_THROW)->getSheets(),
        css::uno::UNO_QUERY_THROW);
    if (sheets->getCount() < 1) throw LinkError(kNotAWorksheet, "The active workbook has no worksheet");
    Reference<sheet::XSpreadsheet> sheet(sheets->getByIndex(0), css::uno::UNO_QUERY_THROW);
    return std::make_shared<CalcWorksheet>(session_, model, sheet);
  });
}

int CalcApplication::WorkbookCount() {
  return session_->Call("WorkbookCount", [&] { return static_cast<int>(Workbooks(*session_).size()); });
}

std::string CalcApplication::WorkbookName(int index) {
  return session_->Call("WorkbookName", [&] { return BookName(WorkbookAt(*session_, index)); });
}

std::string CalcApplication::WorkbookFullName(int index) {
  return session_->Call("WorkbookFullName", [&] { return UrlToPath(WorkbookAt(*session_, index)->getURL()); });
}

void CalcApplication::ActivateWorkbook(int index) {
  session_->Call("ActivateWorkbook", [&] { Activate(*session_, WorkbookAt(*session_, index)); });
}

void CalcApplication::OpenWorkbook(const std::string& path, bool readOnly) {
  CalcSession& s = *session_;
  std::error_code error;
  if (path.empty() || !fs::is_regular_file(path, error))
    throw LinkError(kFileError, "File not found: \"" + path + "\"");
  const std::string full = fs::canonical(path, error).string();
  if (error) throw LinkError(kFileError, "Cannot open \"" + path + "\": " + error.message());

  bool reused = s.Call("OpenWorkbook", [&] {
    for (const Model& model : Workbooks(s)) {
      if (SamePath(UrlToPath(model->getURL()), full)) {
        Activate(s, model);
        return true;
      }
    }
    return false;
  });
  if (reused) return;

  Reference<lang::XComponent> document =
      Load(s, "OpenWorkbook", full, {Arg("ReadOnly", css::uno::Any(readOnly))});
  // A file locked by another office loads read-only (or not at all).
  const auto lockedError = [&](const std::string& owner) {
    const std::string lock = (fs::path(full).parent_path() / (".~lock." + fs::path(full).filename().string() + "#"));
    return LinkError(kFileError, "\"" + full + "\" is locked for editing by " + owner +
                                     ": close it there, or open it " +
                                     "read-only (if no office has it open, the lock file \"" + lock +
                                     "\" is stale and may be removed)");
  };
  if (!document.is()) {
    const std::string owner = readOnly ? "" : LockOwner(full);
    if (!owner.empty()) throw lockedError(owner);
    throw LinkError(kFileError, "LibreOffice Calc could not open \"" + full + "\"");
  }
  s.Call("OpenWorkbook", [&] {
    Model model(document, css::uno::UNO_QUERY);
    if (!Reference<sheet::XSpreadsheetDocument>(document, css::uno::UNO_QUERY).is() || !model.is()) {
      CloseDocument(document);
      throw LinkError(kFileError, "\"" + full + "\" is not a workbook");
    }
    Reference<frame::XStorable> storable(document, css::uno::UNO_QUERY);
    if (!readOnly && storable.is() && storable->isReadonly()) {
      if (const std::string owner = LockOwner(full); !owner.empty()) {
        CloseDocument(document);
        throw lockedError(owner);
      }
    }
    Activate(s, model);
  });
}

void CalcApplication::NewWorkbookFromTemplate(const std::string& templatePath, const std::string& saveFolder) {
  CalcSession& s = *session_;
  std::error_code error;
  if (templatePath.empty() || !fs::is_regular_file(templatePath, error))
    throw LinkError(kFileError, "File not found: \"" + templatePath + "\"");
  const std::string full = fs::canonical(templatePath, error).string();
  std::vector<beans::PropertyValue> more = {Arg("AsTemplate", css::uno::Any(true))};
  if (!saveFolder.empty())
    more.push_back(Arg("SuggestedSaveAsDir", css::uno::Any(PathToUrl(saveFolder))));
  Reference<lang::XComponent> document = Load(s, "NewWorkbookFromTemplate", full, more);
  s.Call("NewWorkbookFromTemplate", [&] {
    Model model(document, css::uno::UNO_QUERY);
    if (!document.is() || !model.is() || !Reference<sheet::XSpreadsheetDocument>(document, css::uno::UNO_QUERY).is()) {
      if (document.is()) CloseDocument(document);
      throw LinkError(kFileError, "LibreOffice Calc could not make a workbook from \"" + full + "\"");
    }
    Activate(s, model);
  });
}

void CalcApplication::SetEventsEnabled(bool enabled) {
  if (!enabled) {
    session_->Events().SetEnabled(false);
    session_->Events().Deliver();  // what arrived while delivery was on
  } else {
    session_->Events().SetEnabled(true);
  }
  // The switch is this side's, but without an office there is nothing to
  // switch: fail as every other call does.
  if (session_->Gone()) session_->Call("SetEventsEnabled", [] {});
}

bool CalcApplication::EventsEnabled() const { return session_->Events().Enabled(); }

void CalcApplication::Quit() {
  CalcSession& s = *session_;
  const bool keep = s.Call("Quit", [&] {
    bool modified = false;
    std::vector<Reference<css::uno::XInterface>> documents;
    Reference<container::XEnumeration> all = s.Desktop()->getComponents()->createEnumeration();
    while (all->hasMoreElements()) documents.emplace_back(all->nextElement(), css::uno::UNO_QUERY);
    for (const auto& document : documents) {
      Reference<util::XModifiable> modifiable(document, css::uno::UNO_QUERY);
      if (modifiable.is() && modifiable->isModified()) {
        modified = true;
        continue;
      }
      CloseDocument(document);
    }
    return modified;
  });
  if (keep) return;
  try {
    s.Call("Quit", [&] { s.Desktop()->terminate(); });
  } catch (const LinkError& e) {
    if (e.Number() != kApplicationGone) throw;  // ending while answering is fine
  }
  s.MarkGone();
}

int CalcApplication::ProcessEvents() { return session_->Events().Deliver(); }

void CalcApplication::SetEventWakeup(std::function<void()> wakeup) { session_->Events().SetWakeup(std::move(wakeup)); }

void CalcApplication::SaveActiveWorkbook() {
  CalcSession& s = *session_;
  s.Call(
      "SaveActiveWorkbook",
      [&] {
        Model model = ActiveWorkbook(s);
        Reference<frame::XStorable> storable(model, css::uno::UNO_QUERY_THROW);
        if (!storable->hasLocation())
          throw LinkError(kFileError, "The workbook \"" + BookName(model) + "\" has never been saved");
        if (storable->isReadonly())
          throw LinkError(kFileError, "The workbook \"" + BookName(model) + "\" is open read-only");
        storable->store();
      },
      s.Options().LoadTimeout);
}

void CalcApplication::ActivateSheet(const std::string& name) {
  CalcSession& s = *session_;
  s.Call("ActivateSheet", [&] {
    Model model = ActiveWorkbook(s);
    Reference<container::XNameAccess> sheets(
        Reference<sheet::XSpreadsheetDocument>(model, css::uno::UNO_QUERY_THROW)->getSheets(),
        css::uno::UNO_QUERY_THROW);
    if (!sheets->hasByName(ToOUString(name)))
      throw LinkError(kBadArgument, "The workbook \"" + BookName(model) + "\" has no sheet \"" + name + "\"");
    View(model)->setActiveSheet(
        Reference<sheet::XSpreadsheet>(sheets->getByName(ToOUString(name)), css::uno::UNO_QUERY_THROW));
  });
}

std::vector<std::string> CalcApplication::SheetNames() {
  CalcSession& s = *session_;
  return s.Call("SheetNames", [&] {
    std::vector<std::string> names;
    Model model = ActiveWorkbook(s);
    const css::uno::Sequence<OUString> all =
        Reference<sheet::XSpreadsheetDocument>(model, css::uno::UNO_QUERY_THROW)->getSheets()->getElementNames();
    for (const OUString& name : all) names.push_back(ToUtf8(name));
    return names;
  });
}

void CalcApplication::SaveActiveWorkbookCopy(const std::string& path) {
  CalcSession& s = *session_;
  const std::string full = fs::absolute(path).lexically_normal().string();
  s.Call(
      "SaveActiveWorkbookCopy",
      [&] {
        Model model = ActiveWorkbook(s);
        OUString filter;
        for (const beans::PropertyValue& arg : model->getArgs()) {
          if (arg.Name == "FilterName") arg.Value >>= filter;
        }
        css::uno::Sequence<beans::PropertyValue> args(2);
        args.getArray()[0].Name = "FilterName";
        args.getArray()[0].Value <<= filter;
        args.getArray()[1].Name = "Overwrite";
        args.getArray()[1].Value <<= true;
        Reference<frame::XStorable>(model, css::uno::UNO_QUERY_THROW)->storeToURL(PathToUrl(full), args);
      },
      s.Options().LoadTimeout);
}

void CalcApplication::CloseActiveWorkbook() {
  CalcSession& s = *session_;
  s.Call("CloseActiveWorkbook", [&] {
    Model model = ActiveWorkbook(s);
    Reference<util::XModifiable> modifiable(model, css::uno::UNO_QUERY);
    if (modifiable.is()) modifiable->setModified(false);
    CloseDocument(model);
    if (s.LastActivated == model) s.LastActivated.clear();
  });
}

const std::string& CalcApplication::PipeName() const { return session_->Pipe(); }

long CalcApplication::StartedProcessId() const { return session_->StartedPid(); }

}  // namespace tersolv::link::uno
