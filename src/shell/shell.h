// The program's shell: start-up and shut-down of the main window, the
// settings file and the working folder, the three commands of the window,
// and the handling of the window's activation that decides when the data
// sheet is read again.
//
// The logic of the main window Form1 lives here, free of any toolkit: it
// drives a Window and asks the user through a Prompter. It is also what the
// worksheet reader and the calculation driver see as their front end.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "input/reader.h"
#include "link/frontend.h"
#include "link/link.h"
#include "shell/class1.h"
#include "shell/window.h"
#include "water/water.h"

namespace tersolv::shell {

// Design height of the main window (outer, twips) and its collapsed height.
inline constexpr int kDesignHeight = 2430;
inline constexpr int kCollapsedHeight = 1455;

// Everything the shell takes from its surroundings.
struct Environment {
  std::string ProgramFolder;  // the folder of the executable
  std::string HomeFolder;     // the user's home folder (stands in for the drive root)
  std::string ConfigHome;     // $XDG_CONFIG_HOME, or "" for the default
  std::string CommandLine;    // the program's arguments joined by blanks
  char DecimalSeparator = '.';
  // Attaches to the running spreadsheet application or starts one; throws
  // (any std::exception) when neither works.
  std::function<std::unique_ptr<link::Application>()> StartApplication;
};

class Shell : public link::Frontend {
 public:
  Shell(Window& window, Prompter& prompter, Environment environment);
  ~Shell() override;
  Shell(const Shell&) = delete;
  Shell& operator=(const Shell&) = delete;

  // --- Window events ---
  void Form_Load();
  void Form_Resize();
  // Runs Form_Unload once and closes the window; the program then ends.
  void Unload();
  void Form_Unload();
  // The activation hook: 1 when the window became active, -1 when it became
  // inactive, 0 for anything else; called after the toolkit's own handling.
  void MainWindowProc(std::int16_t state);

  // --- Commands ---
  // 0 "Create &new data file", 1 "&Open existing data file",
  // 2 "&Calculate values". Errors are shown, never passed on. A command is
  // one read at most: while it runs (Busy), returns to the window do not read
  // again, and when it ends the change flag is clear, whatever its own writes
  // and windows (dialog, messages, the office's window) caused.
  void Button_Click(int index);
  // The open-file dialog: true when the user chose a file, which replaces
  // `folder` (ending in "/") and `fileName`; false leaves both unchanged.
  bool ChooseFile(const std::string& title, const std::string& filterName, const std::string& pattern,
                  std::string& folder, std::string& fileName);

  // --- Event bridge handlers ---
  void Events_Activated();
  void Events_Deactivated();

  // --- Module routines ---
  void StartSpreadsheet();
  bool IsHomeFolder();
  void SubclassWindow() { Subclassed = true; }
  void UnsubclassWindow() { Subclassed = false; }

  // --- Frontend of the reader and the driver ---
  std::string Caption() const override;
  void SetCaption(const std::string& caption) override;
  void SetExpanded(bool expanded) override;
  void ShowMessage(link::MessageIcon icon, const std::string& text) override;
  void ProcessEvents() override;
  void WatchSheet(std::shared_ptr<link::Worksheet> sheet) override;
  void SetChanged(bool changed) override;

  // --- State ---
  std::string ProgramFolder;
  std::string WorkFolder;
  std::string SettingsPath;  // where "Tersolv.ini" is read and written
  std::unique_ptr<link::Application> XlApp;
  std::shared_ptr<link::Worksheet> DataSheet;
  std::unique_ptr<Class1> Events;
  std::unique_ptr<input::WorksheetReader> Reader;
  std::string WorkbookName;
  std::string SheetName;
  // The untitled workbook that "Create new data file" made, while it is open
  // and unsaved ("" otherwise); button 0 stays disabled meanwhile.
  std::string NewBookName;
  bool WindowActive = false;  // the window's last reported activation
  bool ExtendedRange = false;
  std::int16_t ErrorCode = 0;
  int MaxSize = 0;
  int MinSize = kCollapsedHeight;
  bool TemplateExists = false;
  bool Busy = false;
  bool Subclassed = false;
  bool SettingsRead = false;
  bool Ended = false;   // the window unloaded: the program ends
  int ExitCode = 0;     // 1 when it ended because it could not start
  std::string StartError;  // why the spreadsheet application could not be run

 private:
  void ClickHandler(int index);
  void CreateDataFile();
  void OpenDataFile();
  void CalculateValues();
  void Collapse();
  void ReturnToEarlierWorkbook();
  std::shared_ptr<link::Worksheet> ActiveOrFirstWorksheet();
  bool DataSheetGone();
  void SettleEvents();
  void ReadWorksheet();
  void TemplateWatch();
  void AbortStart();

  Window& window_;
  Prompter& prompter_;
  Environment env_;
  water::WaterModel water_;
  bool unloading_ = false;
};

}  // namespace tersolv::shell
