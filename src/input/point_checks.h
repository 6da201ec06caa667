// The checks of one state point, as the worksheet reader applies them to the
// numbers of a data row: the temperature and pressure limits, the saturation
// keywords of the pressure, the density floor of liquid water and the signs of
// the molalities. The reader runs them on its cells; a caller without a sheet
// (the Python package) runs them on numbers of its own, point by point.
//
// Statuses are the reader's (see StatusText); each check also names the
// column of the sheet the status belongs to (1 T, 2 P, 3 m(H2S), 4 m(NaCl)).
#pragma once

#include <cstdint>

#include "core/constants.h"
#include "water/water.h"

namespace tersolv::input {

// The pressure of a row: a number (MPa) or a keyword for the saturation
// pressure of water ("sat"; "0", which takes at least 0.1 MPa).
struct PressureInput {
  enum class Kind : std::uint8_t { MPa, Saturation, SaturationAtLeastOneBar };
  Kind What = Kind::MPa;
  double Value = 0;  // MPa, for Kind::MPa
};

// Whether a number is within the range of values a cell may hold: finite,
// and 0 or normal (a subnormal number is so small that it lost digits). A
// value outside gets its column's out-of-range status, as any value beyond
// its limits.
bool InNumberRange(double value);

// The outcome of a check: status 0 (passed) or the status of the column it
// rejects.
struct CheckStatus {
  std::int16_t Status = 0;
  int Column = 0;
  explicit operator bool() const { return Status != 0; }
};

// Status 4 in column 1 for a temperature (C) beyond the limits.
CheckStatus CheckTemperature(double celsius, bool extendedRange);

// The pressure (bar) of a row at T (K), or the status of its column; `water`
// evaluates the saturation pressure for a keyword and may raise its run-time
// error.
struct PressureCheck {
  CheckStatus Check;
  double P = 0;
  bool Saturation = false;  // P is the saturation pressure (a keyword or 0 MPa)
};
PressureCheck CheckPressure(water::WaterModel& water, double T, const PressureInput& pressure, bool extendedRange);

// The saturation state at a point's temperature (Psat 0 where not evaluated).
struct SaturationState {
  double Psat = 0, RhoVapour = 0, RhoLiquid = 0;
};

// The density of liquid water at (T, P) and the saturation state evaluated
// on the way (remembered by the models that use it later). May raise the
// water model's run-time error.
struct LiquidDensity {
  double Rho = 0;  // g/cm3
  SaturationState Saturation;
};
LiquidDensity EvaluateDensity(water::WaterModel& water, double T, double P);

// Status 4 in the pressure column when the density is below the floor (or
// the evaluation failed and left a non-positive value).
CheckStatus CheckDensity(double rho);

// Status 6 (k = 0, H2S) or 7 (k = 1, NaCl) for a negative molality or one
// out of the range of numbers.
CheckStatus CheckMolality(int k, double molality);

// The text the sheet shows for a status (0: "").
const char* StatusText(std::int16_t status);

// The values an accepted row shows in its T (C) and P (MPa) cells.
inline double SheetTemperature(double T) { return T - kZeroCelsius; }
inline double SheetPressure(double P) { return P * kMPaPerBar; }

}  // namespace tersolv::input
