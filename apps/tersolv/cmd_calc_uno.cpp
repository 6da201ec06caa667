// `tersolv calc --via-calc BOOK`: see calc_via_calc.h.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "calc/driver.h"
#include "calc_via_calc.h"
#include "commands.h"
#include "console_frontend.h"
#include "input/reader.h"
#include "link/link.h"
#include "link/uno/calc_application.h"
#include "water/water.h"

namespace tersolv::app {
namespace {

namespace fs = std::filesystem;
using link::LinkError;
using link::uno::CalcApplication;

void Say(const std::string& text) { std::cerr << "tersolv calc: " << text << '\n'; }

// The reader's messages: errors on stderr, "Number of points: " on stdout.
class ViaCalcFrontend : public ConsoleFrontend {
 public:
  ViaCalcFrontend() : ConsoleFrontend(false, true) {}
  void ShowMessage(link::MessageIcon icon, const std::string& text) override {
    if (icon == link::MessageIcon::Information || icon == link::MessageIcon::None) {
      std::cout << text << std::endl;
      return;
    }
    ConsoleFrontend::ShowMessage(icon, text);
  }
};

// The process group of the private office while it runs, and the signal
// that interrupted the run, for the signal handler below (a signal handler
// can reach nothing else).
std::atomic<long> officeGroup{0};
std::atomic<int> interruptedBy{0};

// Ctrl-C or a kill of tersolv: the office runs in a session of its own, out
// of reach of the terminal, so end it here. The run then fails at its next
// call into the office, cleans up, and tersolv ends by the same signal.
extern "C" void EndOffice(int signal) {
  interruptedBy = signal;
  const long group = officeGroup.load();
  if (group > 0) ::kill(-static_cast<pid_t>(group), SIGKILL);
}

// A headless office of this run alone: a private profile folder in a
// temporary folder and a pipe named after the process. Ended (and its
// folder removed) when the run ends, whatever happened.
class PrivateOffice {
 public:
  PrivateOffice() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tersolv-calc-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw LinkError(link::kOtherError, "cannot make a temporary folder");
    folder_ = pattern;
    link::uno::CalcOptions options;
    options.PipeName = "tersolv_calc_" + std::to_string(::getpid());
    options.Headless = true;
    options.ProfileFolder = folder_ + "/profile";
    options.DecimalSeparator = link::SystemDecimalSeparator();
    options.StartTimeout = std::chrono::seconds(60);
    // Installed once the office is spawned: the UNO runtime sets handlers
    // of its own when it starts, which would replace earlier ones.
    options.Started = [](long pid) {
      officeGroup = pid;
      std::signal(SIGINT, EndOffice);
      std::signal(SIGTERM, EndOffice);
      std::signal(SIGHUP, EndOffice);
    };
    try {
      app_ = std::make_unique<CalcApplication>(options);
    } catch (...) {
      Stop(officeGroup.load());
      Remove();
      throw;
    }
    pid_ = app_->StartedProcessId();
  }
  ~PrivateOffice() {
    try {
      while (app_->WorkbookCount() > 0) app_->CloseActiveWorkbook();
      app_->Quit();
    } catch (const LinkError&) {
      // Already gone.
    }
    app_.reset();
    Stop(pid_);
    Remove();
  }
  PrivateOffice(const PrivateOffice&) = delete;
  PrivateOffice& operator=(const PrivateOffice&) = delete;

  CalcApplication& App() { return *app_; }

 private:
  // Waits a little for the office to end after Quit, then ends what is left
  // of its process group; restores the signal handlers.
  static void Stop(long pid) {
    if (pid > 0) {
      bool ended = false;
      for (int i = 0; i < 200 && !ended; ++i) {  // at most 10 s
        ended = ::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG) != 0;
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      ::kill(-static_cast<pid_t>(pid), SIGKILL);
      if (!ended) ::waitpid(static_cast<pid_t>(pid), nullptr, 0);
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGHUP, SIG_DFL);
    officeGroup = 0;
  }

  void Remove() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  std::string folder_;
  long pid_ = 0;
  std::unique_ptr<CalcApplication> app_;
};

std::shared_ptr<link::Worksheet> OpenDataSheet(CalcApplication& app, const ViaCalcJob& job) {
  app.OpenWorkbook(job.Book, false);
  if (!job.Sheet.empty()) {
    try {
      app.ActivateSheet(job.Sheet);
    } catch (const LinkError& e) {
      std::string names;
      for (const auto& name : app.SheetNames()) names += (names.empty() ? "\"" : ", \"") + name + "\"";
      throw LinkError(e.Number(),
                      "\"" + job.Book + "\" has no sheet \"" + job.Sheet + "\" (its sheets: " + names + ")");
    }
  }
  return app.ActiveSheet();
}

void Save(CalcApplication& app, const ViaCalcJob& job) {
  if (job.Out.empty()) {
    app.SaveActiveWorkbook();
  } else {
    app.SaveActiveWorkbookCopy(job.Out);
  }
}

std::string Extension(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

int RunJob(const ViaCalcJob& job);

}  // namespace

int RunCalcViaCalc(const ViaCalcJob& job) {
  const int code = RunJob(job);
  if (const int signal = interruptedBy.load(); signal != 0) {
    Say("interrupted");
    std::signal(signal, SIG_DFL);
    std::raise(signal);
  }
  return code;
}

namespace {

int RunJob(const ViaCalcJob& job) {
  if (!job.Out.empty() && Extension(job.Out) != Extension(job.Book)) {
    Say("--output: OUT must have the format (extension) of BOOK");
    return kExitUsage;
  }
  std::error_code error;
  if (!fs::is_regular_file(job.Book, error)) {
    Say("\"" + job.Book + "\": no such file");
    return kExitLink;
  }
  std::unique_ptr<PrivateOffice> office;
  try {
    office = std::make_unique<PrivateOffice>();
  } catch (const LinkError& e) {
    Say("Could not run LibreOffice Calc: " + e.Description());
    return kExitLink;
  }
  CalcApplication& app = office->App();
  std::shared_ptr<link::Worksheet> sheet;
  try {
    sheet = OpenDataSheet(app, job);
  } catch (const LinkError& e) {
    Say(e.Description());
    return kExitLink;
  }

  const char separator = link::SystemDecimalSeparator();
  ViaCalcFrontend frontend;
  water::WaterModel water;
  input::WorksheetReader reader(app, frontend, water, separator);
  reader.Threads = job.Threads;
  const int status = reader.ReadWorksheet(sheet, job.ExtendedRange);
  if (status != 0) {
    bool gone = false;
    try {
      app.WorkbookCount();
    } catch (const LinkError&) {
      gone = true;
      Say("LibreOffice Calc ended while the sheet was read");
    }
    Say("\"" + job.Book + "\" was not changed");
    return gone ? kExitLink : kExitRejected;
  }
  if (reader.Points.PointCount == 0) {
    std::cout << "Number of points:  0" << std::endl;
    return kExitOk;
  }

  calc::DriverOptions options;
  options.Threads = job.Threads;
  options.ExtendedRange = job.ExtendedRange;
  int done = 0;
  options.Progress = [&done](int d, int) { done = d; };
  const std::string target = fs::absolute(job.Out.empty() ? job.Book : job.Out).lexically_normal().string();
  try {
    calc::CalculateValues(reader, *sheet, frontend, options);
  } catch (const std::exception& e) {
    const auto* linkError = dynamic_cast<const LinkError*>(&e);
    if (linkError && linkError->Number() == link::kApplicationGone) {
      Say("LibreOffice Calc ended during the calculation: " + linkError->Description());
      Say("\"" + job.Book + "\" was not changed");
      return kExitLink;
    }
    Say(std::string(linkError ? "error" : "run-time error") + " after " + std::to_string(done) + " of " +
        std::to_string(reader.Points.PointCount) + " points: " + e.what());
    try {
      Save(app, job);
      Say("the rows calculated before it are saved in \"" + target + "\"");
    } catch (const LinkError& saveError) {
      Say("the results were not saved: " + saveError.Description());
    }
    return linkError ? kExitLink : kExitRuntime;
  }
  try {
    Save(app, job);
  } catch (const LinkError& e) {
    Say("the results were not saved: " + e.Description());
    return kExitLink;
  }
  std::cout << "Results written to " << target << std::endl;
  return kExitOk;
}

}  // namespace
}  // namespace tersolv::app
