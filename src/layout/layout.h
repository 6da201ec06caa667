// The two data-sheet layouts, "Components" and "Ternary system": their names,
// keyword and input headers (checked by the reader), the result columns with
// their JSON keys, captions, units and template headers, and the colour marks.
// Everything that writes, reads or names a sheet column takes it from here:
// the calculator and the driver, the reader's clearing of old results,
// `tersolv point` and `tersolv calc`, the template generator and the Python
// package. Plain constexpr data, no dependencies.
//
// Rows: 1 title, 2 keyword, 3 headers, points from row 4 (point i in row
// i + 3). Columns are numbered from 1 (column A).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tersolv::layout {

inline constexpr int kKeywordRow = 2;
inline constexpr int kHeaderRow = 3;
inline constexpr int kFirstPointRow = 4;

// One column of a layout.
struct Column {
  int Index;            // 1 = column A
  const char* Key;      // JSON key of `tersolv point --json` and of the Python package; nullptr: not echoed
  const char* Caption;  // the quantity, as `tersolv point` prints it
  const char* Unit;     // "" where it has none
  const char* Header;   // the row-3 header of the template (the reader checks it for input columns)
  double Width;         // the template's column width, characters
  bool Marked;          // the row's colour mark sets this column's font colour
};

// A colour mark of a row (a font colour: red + 256 green + 65536 blue) and
// what it tells.
struct Mark {
  std::uint32_t Colour;
  const char* Meaning;
};

inline constexpr std::uint32_t kMarkHalite = 255;                  // NaCl above halite saturation: red
inline constexpr std::uint32_t kMarkH2S = 16711680;                // H2S above its solubility: blue
inline constexpr std::uint32_t kMarkBoth = kMarkH2S + kMarkHalite; // both: magenta

inline constexpr Mark kMarks[] = {
    {0, "none"},
    {kMarkHalite, "red: NaCl above halite saturation"},
    {kMarkH2S, "blue: H2S above its solubility"},
    {kMarkBoth, "magenta: H2S and NaCl above saturation"},
};

// A layout: the input columns from column A, then the result columns.
struct SheetLayout {
  int Kind;              // 1 "Components", 2 "Ternary system" (the reader's SheetKind)
  const char* Name;      // the sheet's name, which tells the layout
  const char* Title;     // row 1 of the template (not checked)
  const char* Keyword;   // A2, checked by the reader
  const char* Note;      // row 2 of the template over the first result column
  std::span<const Column> Inputs;
  std::span<const Column> Results;

  constexpr int FirstResultColumn() const { return Results.front().Index; }
  constexpr int LastResultColumn() const { return Results.back().Index; }
  constexpr int LastColumn() const { return LastResultColumn(); }
  // The columns that the mark colours (a contiguous range).
  constexpr int FirstMarkedColumn() const {
    for (const Column& c : Results)
      if (c.Marked) return c.Index;
    return 0;
  }
  constexpr int LastMarkedColumn() const {
    int last = 0;
    for (const Column& c : Results)
      if (c.Marked) last = c.Index;
    return last;
  }
  constexpr bool HasMarks() const { return FirstMarkedColumn() != 0; }
};

// The input columns: T and P in both layouts, the molalities in "Ternary
// system" only. Only T and P are echoed in a point's results (the pressure
// may be given as "sat"); the molalities come back as given.
inline constexpr Column kInputs[] = {
    {1, "T", "Temperature", "C", "T, C", 10, false},
    {2, "P", "Pressure", "MPa", "P, MPa", 10, false},
    {3, nullptr, "Molality of H2S", "mol/kg", "m(H2S)", 10, false},
    {4, nullptr, "Molality of NaCl", "mol/kg", "m(NaCl)", 10, false},
};

inline constexpr Column kComponentsResults[] = {
    {3, "water_density", "Density of water", "g/cm3", "Density of water, g/cm3", 14, false},
    {4, "water_molar_volume", "Molar volume of water", "cm3/mol", "Molar volume of water, cm3/mol", 14, false},
    {5, "water_fugacity", "Fugacity of water", "MPa", "Fugacity of water, MPa", 14, false},
    {6, "h2s_density", "Density of H2S", "g/cm3", "Density of H2S, g/cm3", 14, false},
    {7, "h2s_molar_volume", "Molar volume of H2S", "cm3/mol", "Molar volume of H2S, cm3/mol", 14, false},
    {8, "h2s_fugacity", "Fugacity of H2S", "MPa", "Fugacity of H2S, MPa", 14, false},
    {9, "h2s_solubility", "Solubility of H2S in water", "mol/kg", "Solubility of H2S in water, mol/kg", 16, false},
    {10, "halite_solubility", "Solubility of halite in water", "mol/kg", "Solubility of halite in water, mol/kg", 16,
     false},
};

inline constexpr Column kTernaryResults[] = {
    {5, "osmotic_coefficient", "Osmotic coefficient", "", "Osmotic coefficient", 14, true},
    {6, "water_activity_coefficient", "Activity coefficient of water, a_w/x_w", "",
     "Activity coefficient of water (a/x)", 14, true},
    {7, "salting_out_coefficient", "Salting-out coefficient of H2S", "kg/mol", "Salting-out coefficient of H2S, kg/mol",
     14, true},
    {8, "h2s_solubility", "Solubility of H2S in the solution", "mol/kg", "Solubility of H2S, mol/kg", 14, true},
    {9, "h2s_activity_coefficient", "Activity coefficient of H2S", "", "Activity coefficient of H2S", 14, true},
    {10, "nacl_activity_coefficient", "Mean activity coefficient of NaCl", "", "Mean activity coefficient of NaCl", 14,
     true},
    {11, "density", "Density of the solution", "g/cm3", "Density of the solution, g/cm3", 14, true},
    {12, "molar_volume", "Molar volume of the solution", "cm3/mol", "Molar volume of the solution, cm3/mol", 14, true},
};

inline constexpr SheetLayout kComponents{
    1,
    "Components",
    "Tersolv: water, H2S and their binary systems",
    "Conditions",
    "Results (row 3: quantity, unit); \"sat\" or 0 as pressure: saturation pressure of water",
    std::span<const Column>(kInputs, 2),
    kComponentsResults};

inline constexpr SheetLayout kTernary{
    2,
    "Ternary system",
    "Tersolv: the ternary system water + H2S + NaCl",
    "System definitions",
    "Results; font colour: blue = m(H2S) above its solubility, red = m(NaCl) above halite saturation, magenta = both",
    kInputs,
    kTernaryResults};

inline constexpr const SheetLayout* kLayouts[] = {&kComponents, &kTernary};

// The layout of sheet kind 1 or 2; nullptr for any other kind.
constexpr const SheetLayout* LayoutOfKind(int kind) {
  for (const SheetLayout* l : kLayouts)
    if (l->Kind == kind) return l;
  return nullptr;
}

// The layout a sheet of this name has; nullptr if none.
constexpr const SheetLayout* LayoutNamed(std::string_view name) {
  for (const SheetLayout* l : kLayouts)
    if (name == l->Name) return l;
  return nullptr;
}

// The most result columns of any layout: the size of a result row.
inline constexpr std::size_t kMaxResults = [] {
  std::size_t most = 0;
  for (const SheetLayout* l : kLayouts) most = l->Results.size() > most ? l->Results.size() : most;
  return most;
}();

// The position of a result among its layout's results, found by its key at
// compile time: an unknown key does not compile.
struct ResultSlot {
  std::uint8_t Index;
};

consteval ResultSlot Slot(const SheetLayout& layout, std::string_view key) {
  for (std::size_t i = 0; i < layout.Results.size(); ++i)
    if (key == layout.Results[i].Key) return {static_cast<std::uint8_t>(i)};
  throw "no result column of this key in the layout";
}

// What every layout must keep: inputs from column A, results right after
// them without a gap, keys on every result, one contiguous marked range.
constexpr bool WellFormed(const SheetLayout& l) {
  int next = 1;
  for (const Column& c : l.Inputs)
    if (c.Index != next++) return false;
  for (const Column& c : l.Results)
    if (c.Index != next++ || c.Key == nullptr) return false;
  for (const Column& c : l.Results)
    if (c.Marked != (c.Index >= l.FirstMarkedColumn() && c.Index <= l.LastMarkedColumn() && l.HasMarks()))
      return false;
  return !l.Results.empty();
}
static_assert(WellFormed(kComponents) && WellFormed(kTernary));

}  // namespace tersolv::layout
