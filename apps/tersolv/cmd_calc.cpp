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

#include "calc/driver.h"
#include "calc_via_calc.h"
#include "commands.h"
#include "console_frontend.h"
#include "input/reader.h"
#include "layout/layout.h"
#include "link/book/book_application.h"
#include "link/book/file_io.h"
#include "link/link.h"
#include "water/water.h"

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

bool SupportedFile(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".xlsx" || ext == ".xlsm" || ext == ".csv";
}

// The row where a run stopped: the first point row whose last result
// column is still empty (the driver writes that column last).
int StoppedRow(const input::WorksheetReader& reader, link::Worksheet& sheet) {
  const int lastColumn = layout::LayoutOfKind(reader.Points.SheetKind)->LastResultColumn();
  const int firstRow = layout::kFirstPointRow;
  for (int i = 0; i < reader.Points.PointCount; ++i)
    if (sheet.CellText(firstRow + i, lastColumn).empty()) return firstRow + i;
  return firstRow + reader.Points.PointCount;
}

void Save(link::book::BookApplication& app, const CalcArgs& args) {
  try {
    if (args.Out.empty())
      app.Save();
    else
      app.SaveAs(args.Out);
  } catch (const link::LinkError& e) {
    Fail(kExitLink, "the results were not saved: " + e.Description());
  }
}

void NoteLostColours(link::book::BookApplication& app) {
  const int marked = app.MarkedCellsNotStored();
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
  if (!SupportedFile(args.Book))
    Fail(kExitLink, "\"" + args.Book + "\": tersolv calc reads .xlsx and .csv workbooks (a LibreOffice "
                    "or Excel file of another kind can be saved as .xlsx)");
  if (!args.Out.empty() && link::book::IsCsvPath(args.Out) != link::book::IsCsvPath(args.Book))
    throw CLI::ValidationError("--output", "OUT must have the format (extension) of BOOK");

  const char separator = link::SystemDecimalSeparator();
  link::book::BookApplication app(separator);
  std::shared_ptr<link::Worksheet> sheet;
  try {
    app.OpenWorkbook(args.Book, false, args.Sheet);
    if (!args.Sheet.empty() && !link::book::IsCsvPath(args.Book)) {
      try {
        app.ActivateSheet(args.Sheet);
      } catch (const link::LinkError&) {
        std::string names;
        for (const auto& name : app.SheetNames()) names += (names.empty() ? "\"" : ", \"") + name + "\"";
        Fail(kExitUsage, "\"" + args.Book + "\" has no sheet \"" + args.Sheet + "\" (its sheets: " + names + ")");
      }
    }
    sheet = app.ActiveSheet();
  } catch (const link::LinkError& e) {
    Fail(kExitLink, e.Description());
  }

  CalcFrontend frontend;
  water::WaterModel water;
  input::WorksheetReader reader(app, frontend, water, separator);
  reader.Threads = args.Threads;
  const int status = reader.ReadWorksheet(sheet, args.ExtendedRange);
  if (status != 0) {
    if (status == 1 && reader.CursorRow > 32770)
      std::cerr << "tersolv calc: a sheet holds at most 32767 points (rows 4 to 32770)\n";
    if (status == 3 && link::book::IsCsvPath(args.Book) && args.Sheet.empty())
      std::cerr << "tersolv calc: a .csv sheet is named after its file (\"" << sheet->Name()
                << "\"); name the file \"Ternary system.csv\" or \"Components.csv\", or give --sheet\n";
    Fail(kExitRejected, "\"" + args.Book + "\" was not changed");
  }
  if (reader.Points.PointCount == 0) {
    std::cout << "Number of points:  0" << std::endl;
    return;
  }

  calc::DriverOptions options;
  options.Threads = args.Threads;
  options.ExtendedRange = args.ExtendedRange;
  ProgressBar bar;
  options.Progress = [&bar](int done, int total) { bar.Update(done, total); };
  const std::string target = args.Out.empty() ? args.Book : args.Out;
  try {
    calc::CalculateValues(reader, *sheet, frontend, options);
  } catch (const std::exception& e) {
    bar.Finish();
    const bool linkError = dynamic_cast<const link::LinkError*>(&e) != nullptr;
    const int row = StoppedRow(reader, *sheet);
    std::cerr << "tersolv calc: " << (linkError ? "error" : "run-time error") << " in row " << row << " (point "
              << row - 3 << " of " << reader.Points.PointCount << "): " << e.what() << '\n';
    Save(app, args);
    NoteLostColours(app);
    std::cerr << "tersolv calc: the rows before row " << row << " are saved in \"" << target << "\"\n";
    throw CLI::RuntimeError(linkError ? kExitLink : kExitRuntime);
  }
  bar.Finish();
  Save(app, args);
  NoteLostColours(app);
  std::cout << "Results written to " << link::book::FullPath(target) << std::endl;
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
