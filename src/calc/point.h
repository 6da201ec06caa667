// One point of the calculation: runs the property models in their fixed order
// at (T, P) and combines their results into the result columns of a
// "Components" or "Ternary system" row, recording the cells in the order they
// are written. One PointCalculator owns one set of model objects; use one per
// thread.
//
// Units: T in K, P in bar, rho g/cm3, molalities mol/kg; the cells hold the
// worksheet's units (MPa for fugacities).
#pragma once

#include <array>
#include <cstdint>
#include <exception>

#include "input/reader.h"
#include "link/link.h"
#include "nacl/halite.h"
#include "water/water.h"

namespace tersolv::calc {

// Colour marks of a "Ternary system" row (font colours, red + 256 green +
// 65536 blue).
inline constexpr link::Rgb kMarkHalite = 255;          // NaCl above halite saturation: red
inline constexpr link::Rgb kMarkH2S = 16711680;        // H2S above its solubility: blue
inline constexpr link::Rgb kMarkBoth = 16711680 + 255; // both: magenta

// One cell of a result row.
struct CellWrite {
  enum class Kind : std::uint8_t { Number, NotFound, Empty };
  int Column = 0;
  Kind What = Kind::Number;
  double Value = 0;
};

// The result row of one point: the cells in the order they are written, the
// mark, and the run-time error that ended the point (the cells before it
// stand).
struct PointOutcome {
  std::array<CellWrite, 8> Writes{};
  int WriteCount = 0;
  link::Rgb Mark = 0;
  std::exception_ptr Fault;

  void Number(int column, double value) { Writes[static_cast<std::size_t>(WriteCount++)] = {column, CellWrite::Kind::Number, value}; }
  void Special(int column, CellWrite::Kind kind) { Writes[static_cast<std::size_t>(WriteCount++)] = {column, kind, 0}; }
};

class PointCalculator {
 public:
  PointCalculator(const input::HaliteDataRecord& haliteData, bool haliteDataSet, bool extendedRange);

  // The row of a point of sheet kind `kind` (1 "Components", 2 "Ternary
  // system"; any other kind writes nothing). Never throws: a run-time error
  // ends up in outcome.Fault.
  PointOutcome Compute(int kind, double T, double P, double Rho, double MH, double MN);

  water::WaterModel& Water() { return water_; }

 private:
  void Run(int kind, double T, double P, double Rho, double MH, double MN, PointOutcome& out);

  water::WaterModel water_;
  // The ideal-gas Gibbs energy of water and the saturation pressure are pure
  // functions of T: kept for the last temperature, since the rows of a sheet
  // often share it.
  double idealT_ = 0, idealGibbs_ = 0, idealSatPressure_ = 0;
  nacl::HaliteConstants halite_;
  bool haliteDataSet_;
  bool extendedRange_;
};

}  // namespace tersolv::calc
