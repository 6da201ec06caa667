// The spreadsheet link over LibreOffice Calc, driven through UNO.
//
// Attach or start: CalcApplication connects to the office that listens on
// the named pipe `PipeName` (UNO URL "uno:pipe,name=<PipeName>;urp;
// StarOffice.ComponentContext"). The pipe is called "tersolv" unless the
// options or the environment variable TERSOLV_PIPE name another. When no
// office answers, it starts
//   soffice --accept=pipe,name=<PipeName>;urp; --norestore --nologo
// (plus --headless --invisible when Headless is set, and
// -env:UserInstallation=<ProfileFolder> when a profile folder is given) in a
// session of its own, and retries for at most StartTimeout. An office that is
// already running with the same profile takes the --accept over, so this one
// path covers both attaching and starting. The office keeps running when the
// CalcApplication (and the program) ends; only Quit() ends it.
//
// Bounded waits: every call into the office is watched; a call that does not
// return within CallTimeout (LoadTimeout for opening a file) cuts the
// connection, and the call fails with LinkError kApplicationGone. Every
// failure of the office (an exception of UNO, a lost connection) reaches the
// caller as LinkError with a number and a description.
//
// Change notifications: a worksheet's change handler receives the user's
// edits of that sheet (as the office reports them: typed, pasted, deleted,
// filled; never the writes made through this link, nor through another UNO
// client). The office reports them on a thread of the UNO runtime; they are
// queued there, only while event delivery is on, and handed to the handlers
// on the caller's thread:
//   - ProcessEvents() delivers what is queued (the panel calls it from its
//     event loop, e.g. when the wake-up callback has posted it a message);
//   - SetEventsEnabled(false) first delivers what was queued while delivery
//     was on, so that "switch off, then read the change flag" sees every edit
//     made before the switch.
// The wake-up callback (SetEventWakeup) runs on the UNO thread right after an
// event was queued; it must only post a message to the caller's thread.
//
// Numbers in CellText: the cell's value is read as a double (never from its
// display) and written as link::NumberText writes it, with DecimalSeparator.
//
// Batches (Worksheet::BeginBatch, what the reader and the driver use): a
// call to the office costs ~0.1-0.2 ms whatever it carries, so within a
// batch a worksheet reads its cells in blocks and holds its writes back,
// sending them as a few range operations every half second and at the end
// (see sheet_batch.h; bench/uno/calc_link_bench measures both ways).
//
// Quit closes every document that has no unsaved changes and then ends the
// office; when documents with unsaved changes remain, the office keeps
// running with them, so that nothing of the user's is lost.
//
// Not thread-safe: one thread (the caller's) uses an application and its
// worksheets. One CalcApplication per process and office at a time: a
// second one fails with kApplicationGone while the first is connected.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/link.h"

namespace tersolv::link::uno {

struct CalcOptions {
  std::string PipeName;             // "" = $TERSOLV_PIPE, else "tersolv"
  bool Headless = false;            // start (and load documents) without windows
  std::string ProfileFolder;        // "" = the user's own office profile
  bool SeedProfile = true;          // prepare a new ProfileFolder (see SeedProfile)
  bool Start = true;                // start an office when none answers (else fail)
  std::string Soffice = "soffice";  // program started when no office answers
  char DecimalSeparator = '.';      // '.' or ',': the system's notation of numbers
  // Called with the process id of an office right after starting it (before
  // it answers), e.g. to end it by its id should the program be interrupted.
  std::function<void(long)> Started;
  std::chrono::milliseconds StartTimeout{30000};
  std::chrono::milliseconds CallTimeout{30000};
  std::chrono::milliseconds LoadTimeout{120000};
};

// The pipe name used when the options name none: $TERSOLV_PIPE or "tersolv".
std::string DefaultPipeName();

// Prepares a new office profile folder so that the first start skips the
// first-start work (migration checks, a restart); does nothing when the
// folder already holds a profile. Returns false when it could not write it.
bool SeedProfile(const std::string& folder);

class CalcSession;

class CalcApplication : public Application {
 public:
  // Attaches to or starts the office; LinkError kApplicationGone when
  // neither succeeds within StartTimeout.
  explicit CalcApplication(const CalcOptions& options = {});
  ~CalcApplication() override;
  CalcApplication(const CalcApplication&) = delete;
  CalcApplication& operator=(const CalcApplication&) = delete;

  void SetVisible(bool visible) override;
  std::string ActiveWorkbookName() override;
  std::string ActiveSheetName() override;
  std::shared_ptr<Worksheet> ActiveSheet() override;
  std::shared_ptr<Worksheet> FirstWorksheet() override;
  int WorkbookCount() override;
  std::string WorkbookName(int index) override;
  std::string WorkbookFullName(int index) override;
  void ActivateWorkbook(int index) override;
  // A read-write open of a file that another office has locked fails with
  // kFileError naming the lock; a missing or unreadable file with kFileError.
  void OpenWorkbook(const std::string& path, bool readOnly) override;
  // Loads the template "as template" (an untitled copy), with `saveFolder` as
  // the suggested folder of its first save (LibreOffice 7.4's Save As dialog
  // does not take it up: it starts in the user's documents folder).
  void NewWorkbookFromTemplate(const std::string& templatePath, const std::string& saveFolder) override;
  // Fails with kApplicationGone once the office is gone (the switch itself
  // is still set, and pending events are delivered).
  void SetEventsEnabled(bool enabled) override;
  bool EventsEnabled() const override;
  // See the header comment.
  void Quit() override;

  // Delivers the change notifications queued so far to their handlers, on
  // the calling thread; returns how many were delivered.
  int ProcessEvents();
  // See the header comment; an empty function removes it.
  void SetEventWakeup(std::function<void()> wakeup);

  // Makes the sheet of that name the active sheet of the active workbook
  // (kBadArgument when there is none).
  void ActivateSheet(const std::string& name);
  // Names of the sheets of the active workbook.
  std::vector<std::string> SheetNames();
  // Saves the active workbook in its own file and format (kFileError when
  // it is read-only or the save fails).
  void SaveActiveWorkbook();
  // Saves a copy of the active workbook into `path`, in the format the
  // workbook was loaded from; the workbook stays tied to its own file.
  void SaveActiveWorkbookCopy(const std::string& path);
  // Closes the active workbook without saving.
  void CloseActiveWorkbook();

  const std::string& PipeName() const;
  // Process id of the office started by this object, 0 when it attached.
  long StartedProcessId() const;

 private:
  friend CalcSession& SessionOf(CalcApplication& app);
  std::shared_ptr<CalcSession> session_;
};

}  // namespace tersolv::link::uno
