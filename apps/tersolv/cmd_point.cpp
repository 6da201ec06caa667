// `tersolv point T P [MH2S MNACL]`: one state point through the worksheet
// checks and the calculation, on a one-row in-memory sheet.
#include <cstdio>
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

struct Column {
  int Index;
  const char* Key;
  const char* Label;
  const char* Unit;
};

constexpr Column kComponents[] = {
    {3, "water_density", "Density of water", "g/cm3"},
    {4, "water_molar_volume", "Molar volume of water", "cm3/mol"},
    {5, "water_fugacity", "Fugacity of water", "MPa"},
    {6, "h2s_density", "Density of H2S", "g/cm3"},
    {7, "h2s_molar_volume", "Molar volume of H2S", "cm3/mol"},
    {8, "h2s_fugacity", "Fugacity of H2S", "MPa"},
    {9, "h2s_solubility", "Solubility of H2S in water", "mol/kg"},
    {10, "halite_solubility", "Solubility of halite in water", "mol/kg"},
};

constexpr Column kTernary[] = {
    {5, "osmotic_coefficient", "Osmotic coefficient", ""},
    {6, "water_activity_coefficient", "Activity coefficient of water, a_w/x_w", ""},
    {7, "salting_out_coefficient", "Salting-out coefficient of H2S", "kg/mol"},
    {8, "h2s_solubility", "Solubility of H2S in the solution", "mol/kg"},
    {9, "h2s_activity_coefficient", "Activity coefficient of H2S", ""},
    {10, "nacl_activity_coefficient", "Mean activity coefficient of NaCl", ""},
    {11, "density", "Density of the solution", "g/cm3"},
    {12, "molar_volume", "Molar volume of the solution", "cm3/mol"},
};

const char* MarkText(link::Rgb mark) {
  switch (mark) {
    case 0: return "none";
    case 255: return "red: NaCl above halite saturation";
    case 16711680: return "blue: H2S above its solubility";
    default: return "magenta: H2S and NaCl above saturation";
  }
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

void RunPoint(const PointArgs& args) {
  if (args.Molalities.size() == 1) {
    throw CLI::ValidationError("MH2S MNACL", "give both molalities, or none");
  }
  const bool ternary = args.Molalities.size() == 2;

  // A one-row sheet of the layout, the arguments typed into its cells.
  link::memory::MemoryApplication sheets('.');
  sheets.AddWorkbook("point");
  auto sheet = sheets.AddSheet(ternary ? "Ternary system" : "Components");
  sheet->SetText(1, 1, "tersolv point");
  sheet->SetText(2, 1, ternary ? "System definitions" : "Conditions");
  const char* headers[] = {"T, C", "P, MPa", "m(H2S)", "m(NaCl)"};
  for (int c = 0; c < (ternary ? 4 : 2); ++c) sheet->SetText(3, c + 1, headers[c]);
  sheet->SetText(4, 1, args.T);
  sheet->SetText(4, 2, args.P);
  if (ternary) {
    sheet->SetText(4, 3, args.Molalities[0]);
    sheet->SetText(4, 4, args.Molalities[1]);
  }

  ConsoleFrontend frontend(false, false);
  water::WaterModel water;
  input::WorksheetReader reader(sheets, frontend, water, '.');
  if (reader.ReadWorksheet(sheet, args.ExtendedRange) != 0 || reader.Points.PointCount != 1) {
    Fail(kExitRejected, frontend.Errors.empty() ? "the point was not accepted" : frontend.Errors.back());
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

  nlohmann::ordered_json json;
  const double T = std::get<double>(sheet->Value(4, 1));
  const double P = std::get<double>(sheet->Value(4, 2));
  json["T"] = T;
  json["P"] = P;
  if (!args.Json) {
    PrintLine("Temperature", Plain(T), "C");
    PrintLine("Pressure", Plain(P), "MPa");
    if (ternary) {
      PrintLine("Molality of H2S", Plain(reader.Points.PointMH2S[1]), "mol/kg");
      PrintLine("Molality of NaCl", Plain(reader.Points.PointMNaCl[1]), "mol/kg");
    }
  }
  for (const Column& column : ternary ? std::span<const Column>(kTernary) : std::span<const Column>(kComponents)) {
    const link::memory::CellValue value = sheet->Value(4, column.Index);
    if (const double* number = std::get_if<double>(&value)) {
      json[column.Key] = *number;
      if (!args.Json) PrintLine(column.Label, Plain(*number), column.Unit);
    } else if (const std::string* text = std::get_if<std::string>(&value)) {
      json[column.Key] = *text;
      if (!args.Json) PrintLine(column.Label, *text, "");
    } else {
      json[column.Key] = nullptr;  // undefined at this point (no H2S dissolves)
      if (!args.Json) PrintLine(column.Label, "undefined", "");
    }
  }
  if (ternary) {
    const link::Rgb mark = sheet->FontColor(4, 5);
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
