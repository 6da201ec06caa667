// `tersolv new BOOK`: a new data file from the template workbook Tersolv.xlsx
// in the program's folder: a copy of it for .xlsx, one of its sheets for .csv.
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "commands.h"
#include "link/book/book_application.h"
#include "link/book/file_io.h"
#include "link/link.h"

namespace tersolv::app {
namespace {

struct NewArgs {
  std::string Book;
  std::string Sheet;
  bool Force = false;
};

[[noreturn]] void Fail(int code, const std::string& text) {
  std::cerr << "tersolv new: " << text << '\n';
  throw CLI::RuntimeError(code);
}

// The folder of the running executable.
std::filesystem::path ProgramFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::current_path() : exe.parent_path();
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

void RunNew(const NewArgs& args) {
  const std::string templatePath = (ProgramFolder() / "Tersolv.xlsx").string();
  if (std::filesystem::exists(args.Book) && !args.Force)
    Fail(kExitLink, "\"" + args.Book + "\" already exists; it is not overwritten (--force replaces it)");
  const bool csv = link::book::IsCsvPath(args.Book);
  std::string ext = std::filesystem::path(args.Book).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!csv && ext != ".xlsx") Fail(kExitUsage, "BOOK must end in .xlsx or .csv");
  try {
    link::book::BookApplication app('.');
    app.OpenWorkbook(templatePath, true);
    if (!csv) {
      // The template as it is: its bytes, so that nothing of it changes.
      std::string bytes;
      bytes = link::book::ReadWholeFile(templatePath, 64u << 20);
      link::book::ReplaceFile(args.Book, bytes);
    } else {
      std::string sheetName = args.Sheet;
      if (sheetName.empty()) {
        const std::string stem = std::filesystem::path(args.Book).stem().string();
        sheetName = stem == "Components" ? stem : "Ternary system";
      }
      try {
        app.ActivateSheet(sheetName);
      } catch (const link::LinkError&) {
        Fail(kExitUsage, "the template has no sheet \"" + sheetName + "\" (use \"Components\" or \"Ternary system\")");
      }
      auto sheet = app.ActiveSheet();
      std::string text;
      for (int row = 1; row <= link::book::BookApplication::LastRow(*sheet); ++row) {
        const int last = link::book::BookApplication::LastColumn(*sheet, row);
        for (int column = 1; column <= last; ++column)
          text += (column > 1 ? "," : "") + CsvField(sheet->CellText(row, column));
        text += "\r\n";
      }
      link::book::ReplaceFile(args.Book, text);
      const std::string stem = std::filesystem::path(args.Book).stem().string();
      if (stem != sheetName)
        std::cerr << "tersolv new: note: this sheet is \"" << sheetName << "\"; give tersolv calc --sheet \""
                  << sheetName << "\" (or name the file \"" << sheetName << ".csv\")\n";
    }
  } catch (const link::LinkError& e) {
    Fail(kExitLink, e.Description());
  }
  std::cout << "New data file: " << link::book::FullPath(args.Book) << std::endl;
}

}  // namespace

void AddNewCommand(CLI::App& app) {
  auto args = std::make_shared<NewArgs>();
  CLI::App* cmd = app.add_subcommand(
      "new",
      "Create a new data file from the template workbook Tersolv.xlsx in the program's folder: an .xlsx "
      "copy with the sheets \"Components\" and \"Ternary system\", or a .csv file of one of them.");
  cmd->add_option("BOOK", args->Book, "the new file (.xlsx or .csv)")->required();
  cmd->add_option("--sheet", args->Sheet,
                  "for .csv: the layout, \"Components\" or \"Ternary system\" (default: the file's name if it "
                  "is one of them, else \"Ternary system\")");
  cmd->add_flag("--force", args->Force, "replace BOOK if it exists");
  cmd->footer(kExitCodesHelp);
  cmd->callback([args] { RunNew(*args); });
}

}  // namespace tersolv::app
