// One point of the calculation: runs the property models in their fixed order
// at (T, P) and combines their results into the result columns of a
// "Components" or "Ternary system" row (layout/layout.h), recording the cells
// in the order they are written. One PointCalculator owns one set of model objects; use one per
// thread.
//
// Units: T in K, P in bar, rho g/cm3, molalities mol/kg; the cells hold the
// worksheet's units (MPa for fugacities).
#pragma once

#include <array>
#include <cstdint>
#include <exception>

#include "input/reader.h"
#include "layout/layout.h"
#include "link/link.h"
#include "nacl/halite.h"
#include "water/water.h"

namespace tersolv::calc {

// One cell of a result row.
struct ResultCell {
  enum class Kind : std::uint8_t { Unset, Number, NotFound, Empty };
  Kind What = Kind::Unset;
  double Value = 0;
};

// The result row of one point: a cell for each result column of the layout
// (by its position among the results), the order in which they were
// written, the mark, and the run-time error that ended the point (the cells
// before it stand). A cell set twice keeps its first place in the order.
struct PointOutcome {
  std::array<ResultCell, layout::kMaxResults> Cells{};
  std::array<std::uint8_t, layout::kMaxResults> Order{};
  std::size_t Written = 0;
  link::Rgb Mark = 0;
  std::exception_ptr Fault;

  void Number(layout::ResultSlot slot, double value) { Set(slot, {ResultCell::Kind::Number, value}); }
  void Special(layout::ResultSlot slot, ResultCell::Kind kind) { Set(slot, {kind, 0}); }

 private:
  void Set(layout::ResultSlot slot, ResultCell cell) {
    ResultCell& target = Cells.at(slot.Index);
    if (target.What == ResultCell::Kind::Unset) Order[Written++] = slot.Index;
    target = cell;
  }
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
