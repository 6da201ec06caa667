// `tersolv point T P [MH2S MNACL]`: one state point through the worksheet
// checks and the calculation, on a one-row in-memory sheet.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "calc/driver.h"
#include "commands.h"
#include "console_frontend.h"
#include "input/reader.h"
#include "layout/layout.h"
#include "link/memory/memory.h"
#include "water/water.h"

namespace tersolv::app {
namespace {

struct PointArgs {
  std::string T, P;
  std::vector<std::string> Molalities;
  bool ExtendedRange = false;
  bool Json = false;
};

const char* MarkText(link::Rgb mark) {
  for (const layout::Mark& m : layout::kMarks)
    if (m.Colour == mark) return m.Meaning;
  return "unknown";
}

std::string Plain(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.10g", value);
  return buffer;
}

void PrintLine(const std::string& label, const std::string& value, const std::string& unit) {
  std::cout << label << ": " << value << (unit.empty() ? "" : " " + unit) << '\n';
}

[[noreturn]] void Fail(int code, const std::string& text) {
  std::cerr << "tersolv point: " << text << '\n';
  throw CLI::RuntimeError(code);
}

// The number in a cell of the point's row: the argument as typed
// (kept by the reader, which accepted it), or what the reader wrote there.
double CellNumber(const link::memory::MemorySheet& sheet, int row, int column) {
  const link::memory::CellValue value = sheet.Value(row, column);
  if (const double* number = std::get_if<double>(&value)) return *number;
  return std::strtod(std::get<std::string>(value).c_str(), nullptr);
}

void RunPoint(const PointArgs& args) {
  if (args.Molalities.size() == 1) {
    throw CLI::ValidationError("MH2S MNACL", "give both molalities, or none");
  }
  const bool ternary = args.Molalities.size() == 2;

  // A one-row sheet of the layout, the arguments typed into its cells.
  const layout::SheetLayout& sheetLayout = ternary ? layout::kTernary : layout::kComponents;
  const int row = layout::kFirstPointRow;
  link::memory::MemoryApplication sheets('.');
  sheets.AddWorkbook("point");
  auto sheet = sheets.AddSheet(sheetLayout.Name);
  sheet->SetText(1, 1, "tersolv point");
  sheet->SetText(layout::kKeywordRow, 1, sheetLayout.Keyword);
  const std::string* typed[] = {&args.T, &args.P, ternary ? &args.Molalities[0] : nullptr,
                                ternary ? &args.Molalities[1] : nullptr};
  for (const layout::Column& input : sheetLayout.Inputs) {
    sheet->SetText(layout::kHeaderRow, input.Index, input.Header);
    sheet->SetText(row, input.Index, *typed[input.Index - 1]);
  }

  ConsoleFrontend frontend(false, false);
  water::WaterModel water;
  input::WorksheetReader reader(sheets, frontend, water, '.');
  if (reader.ReadWorksheet(sheet, args.ExtendedRange) != 0 || reader.Points.PointCount != 1) {
    // The argument whose cell the checks stopped at, not the cell of a sheet the user never saw.
    const char* names[] = {"temperature", "pressure", "m(H2S)", "m(NaCl)"};
    const int column = reader.CursorColumn;
    if (reader.ErrorCode > 1 && reader.CursorRow == row && column >= 1 &&
        column <= static_cast<int>(sheetLayout.Inputs.size()))
      Fail(kExitRejected, std::string(names[column - 1]) + " \"" + *typed[column - 1] + "\": " + reader.ErrorText);
    Fail(kExitRejected, "the point was not accepted: " + (reader.ErrorText.empty() ? "no point" : reader.ErrorText));
  }
  try {
    calc::DriverOptions options;
    options.ExtendedRange = args.ExtendedRange;
    calc::CalculateValues(reader, *sheet, frontend, options);
  } catch (const link::LinkError& e) {
    Fail(kExitLink, e.Description());
  } catch (const std::exception& e) {
    Fail(kExitRuntime, std::string("run-time error: ") + e.what());
  }

  // The inputs (as typed, or as the reader wrote them), then the results.
  nlohmann::ordered_json json;
  for (const layout::Column& input : sheetLayout.Inputs) {
    const double value = CellNumber(*sheet, row, input.Index);
    if (input.Key != nullptr) json[input.Key] = value;
    if (!args.Json) PrintLine(input.Caption, Plain(value), input.Unit);
  }
  for (const layout::Column& column : sheetLayout.Results) {
    const link::memory::CellValue value = sheet->Value(row, column.Index);
    if (const double* number = std::get_if<double>(&value)) {
      json[column.Key] = *number;
      if (!args.Json) PrintLine(column.Caption, Plain(*number), column.Unit);
    } else if (const std::string* text = std::get_if<std::string>(&value)) {
      json[column.Key] = *text;
      if (!args.Json) PrintLine(column.Caption, *text, "");
    } else {
      json[column.Key] = nullptr;  // undefined at this point (no H2S dissolves)
      if (!args.Json) PrintLine(column.Caption, "undefined", "");
    }
  }
  if (sheetLayout.HasMarks()) {
    const link::Rgb mark = sheet->FontColor(row, sheetLayout.FirstMarkedColumn());
    json["mark"] = mark;
    if (!args.Json) PrintLine("Mark", std::to_string(mark) + " (" + MarkText(mark) + ")", "");
  }
  if (args.Json) std::cout << json.dump() << '\n';
}

}  // namespace

void AddPointCommand(CLI::App& app) {
  auto args = std::make_shared<PointArgs>();
  CLI::App* point = app.add_subcommand(
      "point",
      "Properties at one state point. Without molalities: water, H2S and their binary systems (the "
      "\"Components\" results); with both: the ternary solution (the \"Ternary system\" results).");
  point->add_option("T", args->T, "temperature, C (0 to 325)")->required();
  point->add_option("P", args->P,
                    "pressure, MPa (up to 100); \"sat\": saturation pressure of water; \"0\": saturation "
                    "pressure, at least 0.1 MPa")
      ->required();
  point->add_option("MH2S MNACL", args->Molalities, "molalities of H2S and NaCl, mol/kg (both or none)")
      ->expected(0, 2)
      ->type_name("")
      ->option_text(" ");
  point->add_flag("--extended-range", args->ExtendedRange, "lift the limits of temperature and pressure");
  point->add_flag("--json", args->Json, "print one JSON object instead of one line per result");
  point->footer(std::string("Numbers are written with a decimal point, e.g. 0.5 or 1e-3.\n") + kExitCodesHelp);
  point->callback([args] { RunPoint(*args); });
}

}  // namespace tersolv::app
