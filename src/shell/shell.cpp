#include "shell/shell.h"

#include <array>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include "calc/driver.h"
#include "shell/routines.h"

namespace tersolv::shell {

namespace fs = std::filesystem;
using link::MessageIcon;

namespace {

// The credit line of the window, kept scrambled (see UnscrambleText).
constexpr std::array<unsigned char, 18> kCreditText = {0x74, 0x31, 0x17, 0x01, 0x1C, 0x03, 0x1A, 0x56, 0x52,
                                                       0x17, 0x09, 0x09, 0x04, 0x12, 0x16, 0x45, 0x10, 0x1E};
static_assert(kCreditText.size() == 18);

std::string Describe(const std::exception& e) {
  const std::string what = e.what();
  return what.empty() ? std::string("Unexpected error") : what;
}

}  // namespace

Shell::Shell(Window& window, Prompter& prompter, Environment environment)
    : window_(window), prompter_(prompter), env_(std::move(environment)) {}

Shell::~Shell() {
  // Stop the change notification before the bridge and the sheet go.
  if (Events) {
    try {
      Events->SetSheet(nullptr);
    } catch (...) {
    }
  }
}

// ---------------------------------------------------------------- start-up

void Shell::Form_Load() {
  ProgramFolder = WithTrailingSlash(env_.ProgramFolder);
  std::error_code ec;
  TemplateExists = fs::is_regular_file(ProgramFolder + kTemplateFileName, ec);
  window_.SetButtonEnabled(0, TemplateExists);

  Events = std::make_unique<Class1>([this] { return XlApp.get(); }, ErrorCode);
  Events->Activated = [this] { Events_Activated(); };
  Events->Deactivated = [this] { Events_Deactivated(); };
  SubclassWindow();

  MaxSize = window_.Height();
  MinSize = kCollapsedHeight;
  window_.SetHeight(MinSize);

  StartSpreadsheet();
  if (ErrorCode != 0) {
    ShowMessage(MessageIcon::Error, "Could not run LibreOffice Calc");
    AbortStart();
    return;
  }

  SettingsPath = SettingsFilePath(ProgramFolder, env_.ConfigHome, env_.HomeFolder);
  if (std::optional<std::string> folder = ReadWorkDir(SettingsPath)) WorkFolder = *folder;
  SettingsRead = true;

  const std::string root = WithTrailingSlash(env_.HomeFolder.empty() ? std::string("/") : env_.HomeFolder);
  if (WorkFolder.empty()) WorkFolder = root;
  if (!HasOrdinaryFiles(WorkFolder)) WorkFolder = root;

  if (IsHomeFolder()) {
    AbortStart();
    return;
  }
  fs::current_path(WorkFolder, ec);

  window_.MakeTopmost();
  std::string credit(kCreditText.begin(), kCreditText.end());
  UnscrambleText(credit);
  window_.SetCreditCaption(credit + "5");
  window_.Show();

  ExtendedRange = ExtendedRangeSwitch(env_.CommandLine);
}

void Shell::AbortStart() {
  ExitCode = 1;
  Unload();
}

void Shell::StartSpreadsheet() {
  ErrorCode = 0;
  try {
    if (env_.StartApplication) XlApp = env_.StartApplication();
    if (XlApp) XlApp->SetVisible(true);
  } catch (const std::exception& e) {
    StartError = Describe(e);
    XlApp.reset();
  }
  if (!XlApp) {
    if (StartError.empty()) StartError = "no spreadsheet application available";
    ErrorCode = 1;
    return;
  }
  Reader = std::make_unique<input::WorksheetReader>(*XlApp, *this, water_, env_.DecimalSeparator);
}

bool Shell::IsHomeFolder() {
  if (!SamePath(WorkFolder, ProgramFolder)) return false;
  ShowMessage(MessageIcon::Warning, "Do not work in the home folder!  ");
  WorkFolder.clear();
  return true;
}

// --------------------------------------------------------------- shut-down

void Shell::Unload() {
  if (Ended) return;
  Ended = true;
  Form_Unload();
  window_.Close();
}

void Shell::Form_Unload() {
  if (Events) {
    try {
      Events->SetSheet(nullptr);
    } catch (...) {
      // The application may be gone already.
    }
    Events.reset();
    UnsubclassWindow();
  }
  // A start that failed before the settings were read leaves the user's
  // settings file as it was.
  if (SettingsRead) WriteWorkDir(SettingsPath, WorkFolder);
  DataSheet.reset();
  Reader.reset();
  XlApp.reset();  // the spreadsheet application itself stays open
}

void Shell::Form_Resize() { window_.SetSeparatorVisible(window_.Height() > MinSize); }

void Shell::MainWindowProc(std::int16_t state) {
  if (state != 0) WindowActive = state > 0;
  if (state != 0 && Subclassed && Events) Events->RaiseEvents(state);
}

// ---------------------------------------------------------------- commands

void Shell::Button_Click(int index) {
  if (Busy || Ended) return;
  Busy = true;
  try {
    ClickHandler(index);
  } catch (const std::exception& e) {
    ShowMessage(MessageIcon::Error, Describe(e));
  } catch (...) {
    ShowMessage(MessageIcon::Error, "Unexpected error");
  }
  Busy = false;
  if (!Ended) SettleEvents();
}

// After a command: what its writes may have queued is handed over and
// forgotten, and the delivery of changes is on exactly while the window is
// not the active one (as the activation handlers leave it).
void Shell::SettleEvents() {
  if (!Events) return;
  Events->xlEvents(false);
  Events->xlChanged = false;
  if (!WindowActive) Events->xlEvents(true);
}

void Shell::ClickHandler(int index) {
  switch (index) {
    case 0:
      CreateDataFile();
      break;
    case 1:
      OpenDataFile();
      break;
    case 2:
      CalculateValues();
      break;
    default:
      break;
  }
}

// A new untitled workbook made from the template: the template itself is
// never written, and the first save asks for a name (the working folder
// suggested).
void Shell::CreateDataFile() {
  if (!XlApp) return;
  XlApp->NewWorkbookFromTemplate(ProgramFolder + kTemplateFileName, WorkFolder);
  NewBookName = XlApp->ActiveWorkbookName();
  DataSheet = XlApp->ActiveSheet();
  window_.SetButtonEnabled(0, false);
  ReadWorksheet();
}

void Shell::OpenDataFile() {
  if (!XlApp) return;
  // The dialog offers the file read last when it lies in the working folder.
  std::error_code ec;
  std::string name = WorkbookName.empty() || !fs::is_regular_file(WorkFolder + WorkbookName, ec) ? "" : WorkbookName;
  bool chosen = false;
  for (;;) {
    chosen = ChooseFile("Choose data file", "Data files", "*.xlsx *.xls *.ods", WorkFolder, name);
    ProcessEvents();
    if (!IsHomeFolder()) break;
    name.clear();
  }
  if (!chosen) {
    ReturnToEarlierWorkbook();
    return;
  }

  // An open workbook is matched by its full path, so that the chosen file
  // is the one read even when another folder holds one of the same name.
  const std::string path = WorkFolder + name;
  try {
    const int count = XlApp->WorkbookCount();
    int match = 0;
    for (int i = 1; i <= count && match == 0; ++i) {
      if (SamePath(XlApp->WorkbookFullName(i), path)) match = i;
    }
    if (match != 0) {
      XlApp->ActivateWorkbook(match);
    } else {
      XlApp->OpenWorkbook(path, false);
    }
  } catch (const link::LinkError& e) {
    ShowMessage(MessageIcon::Error, "Could not open the file\n" + e.Description());
    WorkbookName.clear();
    Collapse();
    return;
  }

  std::shared_ptr<link::Worksheet> sheet = ActiveOrFirstWorksheet();
  if (!sheet) {
    ShowMessage(MessageIcon::Error, "Could not open the file");
    WorkbookName.clear();
    Collapse();
    return;
  }
  DataSheet = std::move(sheet);
  ReadWorksheet();
}

void Shell::CalculateValues() {
  if (!Reader || !DataSheet) return;
  if (DataSheetGone()) {
    // The office reloaded or re-created the document since it was read:
    // its points are read from the sheet the user now sees.
    DataSheet = XlApp->ActiveSheet();
    ReadWorksheet();
    if (ErrorCode != 0) return;
  }
  const std::string caption = Caption();
  try {
    calc::DriverOptions options;
    options.ExtendedRange = ExtendedRange;
    calc::CalculateValues(*Reader, *DataSheet, *this, options);
  } catch (...) {
    // The run stopped part-way; the error is shown by the click handler.
    SetCaption(caption);
    throw;
  }
}

void Shell::Collapse() {
  SheetName.clear();
  SetCaption("Tersolv");
  window_.SetHeight(MinSize);
}

// After a cancelled dialog: the workbook read last comes to the front and is
// read again when it is still open (the one in the working folder where two
// share its name); else the window collapses quietly.
void Shell::ReturnToEarlierWorkbook() {
  int match = 0;
  const int count = WorkbookName.empty() ? 0 : XlApp->WorkbookCount();
  for (int i = 1; i <= count; ++i) {
    if (XlApp->WorkbookName(i) != WorkbookName) continue;
    if (match == 0 || SamePath(XlApp->WorkbookFullName(i), WorkFolder + WorkbookName)) match = i;
  }
  std::shared_ptr<link::Worksheet> sheet;
  if (match != 0) {
    XlApp->ActivateWorkbook(match);
    sheet = ActiveOrFirstWorksheet();
  }
  if (!sheet) {
    WorkbookName.clear();
    Collapse();
    return;
  }
  DataSheet = std::move(sheet);
  ReadWorksheet();
}

// The active sheet, or the first worksheet where the active sheet is none;
// nullptr when the active workbook has no worksheet.
std::shared_ptr<link::Worksheet> Shell::ActiveOrFirstWorksheet() {
  try {
    return XlApp->ActiveSheet();
  } catch (const link::LinkError&) {
  }
  try {
    return XlApp->FirstWorksheet();
  } catch (const link::LinkError&) {
  }
  return nullptr;
}

// True when the data sheet no longer answers: its workbook was closed, or
// reloaded or re-created by the office (a document in another object).
bool Shell::DataSheetGone() {
  try {
    DataSheet->CellText(1, 1);
    return false;
  } catch (const link::LinkError& e) {
    return e.Number() != link::kApplicationGone;
  }
}

bool Shell::ChooseFile(const std::string& title, const std::string& filterName, const std::string& pattern,
                       std::string& folder, std::string& fileName) {
  FileRequest request;
  request.Title = title;
  request.FilterName = filterName;
  request.Pattern = pattern;
  request.FileName = fileName;
  if (folder.empty()) {
    request.InitialFolder = WithTrailingSlash(env_.HomeFolder.empty() ? std::string("/") : env_.HomeFolder);
  } else {
    request.InitialFolder = folder;
  }
  if (request.InitialFolder.size() > 1 && request.InitialFolder.back() == '/') request.InitialFolder.pop_back();

  const std::optional<std::string> chosen = prompter_.ChooseFile(request);
  if (!chosen || chosen->empty() || chosen->back() == '/') return false;
  std::string path = *chosen;
  if (path.front() != '/') {
    std::error_code ec;
    path = fs::absolute(fs::path(path), ec).string();
  }
  const std::size_t slash = path.rfind('/');
  folder = path.substr(0, slash + 1);
  fileName = path.substr(slash + 1);
  return true;
}

void Shell::ReadWorksheet() {
  if (!Reader || !DataSheet) return;
  Reader->WorkbookName = WorkbookName;
  Reader->SheetName = SheetName;
  const auto sync = [this] {
    WorkbookName = Reader->WorkbookName;
    SheetName = Reader->SheetName;
    ErrorCode = Reader->ErrorCode;
  };
  try {
    Reader->ReadWorksheet(DataSheet, ExtendedRange);
  } catch (...) {
    sync();
    throw;
  }
  sync();
}

// ------------------------------------------------------ activation handling

void Shell::Events_Deactivated() {
  if (!Events) return;
  Events->xlEvents(true);
  Events->xlChanged = false;
}

void Shell::Events_Activated() {
  if (Busy || !Events) return;
  Busy = true;
  Events->xlEvents(false);

  if (DataSheet && XlApp) {
    std::string activeBook;
    try {
      activeBook = XlApp->ActiveWorkbookName();
    } catch (...) {
      ShowMessage(MessageIcon::Warning, "Tersolv closed: could not find an open worksheet ");
      try {
        XlApp->Quit();
      } catch (...) {
      }
      Busy = false;
      Unload();
      return;
    }
    const bool bookChanged = activeBook != WorkbookName;

    bool sheetChanged = false;
    try {
      sheetChanged = XlApp->ActiveSheetName() != SheetName;
    } catch (const std::exception& e) {
      ShowMessage(MessageIcon::None, Describe(e));
    }
    const bool dataChanged = (Events && Events->xlChanged) || DataSheetGone();

    if (bookChanged || sheetChanged || dataChanged) {
      try {
        DataSheet = XlApp->ActiveSheet();
      } catch (...) {
        // Not a worksheet: the previous data sheet stays.
      }
      try {
        ReadWorksheet();
      } catch (...) {
      }
    }
  }
  if (Ended) return;

  TemplateWatch();
  Busy = false;
}

// Button 0 comes back once the workbook it made was saved (it has a file
// now) or closed.
void Shell::TemplateWatch() {
  if (!XlApp || !TemplateExists || window_.ButtonEnabled(0)) return;
  try {
    for (int i = XlApp->WorkbookCount(); i >= 1; --i) {
      if (XlApp->WorkbookName(i) == NewBookName && XlApp->WorkbookFullName(i).empty()) return;
    }
    NewBookName.clear();
    window_.SetButtonEnabled(0, true);
  } catch (...) {
  }
}

// ------------------------------------------------ front end of the reader

std::string Shell::Caption() const { return window_.Caption(); }
void Shell::SetCaption(const std::string& caption) { window_.SetCaption(caption); }
void Shell::SetExpanded(bool expanded) { window_.SetHeight(expanded ? MaxSize : MinSize); }
void Shell::ShowMessage(link::MessageIcon icon, const std::string& text) { prompter_.ShowMessage(icon, text); }
void Shell::ProcessEvents() { prompter_.ProcessEvents(); }

void Shell::WatchSheet(std::shared_ptr<link::Worksheet> sheet) {
  if (Events) Events->SetSheet(std::move(sheet));
}

void Shell::SetChanged(bool changed) {
  if (Events) Events->xlChanged = changed;
}

}  // namespace tersolv::shell
