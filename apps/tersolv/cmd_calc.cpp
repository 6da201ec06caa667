// `tersolv calc BOOK`: the main job on a workbook file (.xlsx or .csv) without
// a spreadsheet program: read and check the data sheet, calculate every
// point, write the results beside the input and save the file in place (or
// into OUT).
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "calc_via_calc.h"
#include "commands.h"
#include "console_frontend.h"
#include "job/calc_file.h"
#include "layout/layout.h"
#include "link/book/book_application.h"
#include "link/link.h"

namespace tersolv::app {
namespace {

struct CalcArgs {
  std::string Book;
  std::string Sheet;
  std::string Out;
  bool ExtendedRange = false;
  unsigned Threads = 0;
  bool ViaCalc = false;
};

// The reader's messages: errors on stderr, "Number of points: " on stdout.
class CalcFrontend : public ConsoleFrontend {
 public:
  CalcFrontend() : ConsoleFrontend(false, true) {}
  void ShowMessage(link::MessageIcon icon, const std::string& text) override {
    if (icon == link::MessageIcon::Information || icon == link::MessageIcon::None) {
      std::cout << text << std::endl;
      return;
    }
    ConsoleFrontend::ShowMessage(icon, text);
  }
};

// A bar on stderr, drawn only when stderr is a terminal and the run has
// taken a moment; redrawn at most ten times a second.
class ProgressBar {
 public:
  ProgressBar() : enabled_(::isatty(STDERR_FILENO) == 1), start_(Clock::now()) {}
  ~ProgressBar() { Finish(); }
  void Update(int done, int total) {
    if (!enabled_ || total <= 0) return;
    const auto now = Clock::now();
    if (now - start_ < std::chrono::milliseconds(500) || now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    constexpr int kWidth = 40;
    const int filled = static_cast<int>(static_cast<long long>(kWidth) * done / total);
    std::cerr << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
              << std::string(static_cast<std::size_t>(kWidth - filled), '.') << "] " << done << "/" << total
              << std::flush;
    drawn_ = true;
  }
  void Finish() {
    if (drawn_) std::cerr << "\r" << std::string(60, ' ') << "\r" << std::flush;
    drawn_ = false;
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool enabled_;
  bool drawn_ = false;
  Clock::time_point start_, last_{};
};

[[noreturn]] void Fail(int code, const std::string& text) {
  std::cerr << "tersolv calc: " << text << '\n';
  throw CLI::RuntimeError(code);
}

void NoteLostColours(int marked) {
  if (marked > 0)
    std::cerr << "tersolv calc: note: " << marked << (marked == 1 ? " row is" : " rows are")
              << " marked by font colour (a composition above H2S or halite saturation); "
                 "a .csv file keeps no colours, save the sheet as .xlsx to keep them.\n";
}

void RunCalc(const CalcArgs& args) {
#ifdef TERSOLV_WITH_CALC_LINK
  if (args.ViaCalc) {
    const int code = RunCalcViaCalc({args.Book, args.Sheet, args.Out, args.ExtendedRange, args.Threads});
    if (code != kExitOk) throw CLI::RuntimeError(code);
    return;
  }
#endif
  if (!job::IsWorkbookFile(args.Book))
    Fail(kExitLink, "\"" + args.Book + "\": tersolv calc reads .xlsx and .csv workbooks (a LibreOffice "
                    "or Excel file of another kind can be saved as .xlsx)");
  if (!args.Out.empty() && !job::SameFormat(args.Out, args.Book))
    throw CLI::ValidationError("--output", "OUT must have the format (extension) of BOOK");

  job::CalcFileRequest request{args.Book, args.Sheet, args.Out, args.ExtendedRange, args.Threads,
                               link::SystemDecimalSeparator(), {}};
  ProgressBar bar;
  request.Progress = [&bar](int done, int total) { bar.Update(done, total); };
  CalcFrontend frontend;
  job::CalcFileOutcome outcome;
  try {
    outcome = job::CalcFile(request, frontend);
  } catch (const link::LinkError& e) {
    Fail(kExitLink, e.Description());
  }
  bar.Finish();
  if (outcome.UnreadRow > 0)
    std::cerr << "tersolv calc: note: the data end at row " << outcome.Points + layout::kFirstPointRow
              << ", whose temperature cell is empty; rows " << outcome.UnreadRow << " and below were not read\n";

  using Result = job::CalcFileOutcome::Result;
  switch (outcome.What) {
    case Result::NoSuchFile:
      Fail(kExitLink, outcome.Message);
    case Result::NoSuchSheet: {
      std::string names;
      for (const auto& name : outcome.SheetNames) names += (names.empty() ? "\"" : ", \"") + name + "\"";
      Fail(kExitUsage, "\"" + args.Book + "\" has no sheet \"" + args.Sheet + "\" (its sheets: " + names + ")");
    }
    case Result::Rejected:
      if (!outcome.Detail.empty()) std::cerr << "tersolv calc: " << outcome.Detail << '\n';
      if (outcome.Status == 1 && outcome.Row > 32770)
        std::cerr << "tersolv calc: a sheet holds at most 32767 points (rows 4 to 32770)\n";
      if (outcome.Status == 3 && link::book::IsCsvPath(args.Book) && args.Sheet.empty())
        std::cerr << "tersolv calc: a .csv sheet is named after its file (\"" << outcome.SheetName
                  << "\"); name the file \"Ternary system.csv\" or \"Components.csv\", or give --sheet\n";
      Fail(kExitRejected, "\"" + args.Book + "\" was not changed");
    case Result::Failed:
      std::cerr << "tersolv calc: " << (outcome.LinkFailure ? "error" : "run-time error") << " in row " << outcome.Row
                << " (point " << outcome.Row - 3 << " of " << outcome.Points << "): " << outcome.Message << '\n';
      break;
    case Result::Calculated:
      if (outcome.Points == 0) {
        std::cout << "Number of points:  0" << std::endl;
        return;
      }
      break;
  }
  if (!outcome.SaveError.empty()) Fail(kExitLink, "the results were not saved: " + outcome.SaveError);
  NoteLostColours(outcome.MarkedCellsNotStored);
  const std::string target = args.Out.empty() ? args.Book : args.Out;
  if (outcome.What == Result::Failed) {
    std::cerr << "tersolv calc: the rows before row " << outcome.Row << " are saved in \"" << target << "\"\n";
    throw CLI::RuntimeError(outcome.LinkFailure ? kExitLink : kExitRuntime);
  }
  std::cout << "Results written to " << outcome.SavedTo << std::endl;
}

}  // namespace

void AddCalcCommand(CLI::App& app) {
  auto args = std::make_shared<CalcArgs>();
  CLI::App* calc = app.add_subcommand(
      "calc",
      "Calculate every point of a workbook file (.xlsx or .csv) and save the results beside the input, "
      "as \"Calculate values\" does in the panel. Reads the active sheet, which must be laid out as "
      "\"Components\" or \"Ternary system\". A .csv file is one sheet, named after the file "
      "(\"Ternary system.csv\") unless --sheet names it.");
  calc->add_option("BOOK", args->Book, "the workbook file (.xlsx or .csv); saved in place unless -o is given")
      ->required();
  calc->add_option("--sheet", args->Sheet, "the sheet to calculate (default: the workbook's active sheet)");
  calc->add_option("-o,--output", args->Out, "save into this file instead (same format as BOOK); BOOK is left as it is");
  calc->add_flag("--extended-range", args->ExtendedRange, "lift the limits of temperature and pressure");
  calc->add_option("--threads", args->Threads, "threads for checking the rows and for the calculation (default 0: all cores)");
#ifdef TERSOLV_WITH_CALC_LINK
  calc->add_flag("--via-calc", args->ViaCalc,
                 "run the job through a headless LibreOffice Calc instead, for any format it opens "
                 "(.xlsx, .xls, .ods); the file is saved in its own format");
#endif
  calc->footer(kExitCodesHelp);
  calc->callback([args] { RunCalc(*args); });
}

}  // namespace tersolv::app
