// Standard partial molal Gibbs energy (apparent-formation convention) and
// volume of Na+ and Cl- by the revised Helgeson-Kirkham-Flowers equation of
// state (Tanger and Helgeson 1988; Shock et al. 1992, with the solvent
// function g), with the ion parameters of Shock and Helgeson (Geochim.
// Cosmochim. Acta 52 (1988) 2009).
//
// Units: T in K, P in bar, density g/cm3; results J/mol and cm3/mol, the Born
// coefficient in cal/mol. Everything the ions need from the solvent is read
// from the water state record (src/water/water.h) of the point.
#pragma once

#include "core/fp.h"
#include "water/water.h"

namespace tersolv::hkf {

// Raised by HKFProperties when the water state lies outside the model's range
// (T, P or density not positive, or density below 0.322 g/cm3 without the
// extended range). No results are produced then, so no stale values of an
// earlier point can be taken for this one.
class HKFRangeError : public FloatingPointError {
 public:
  using FloatingPointError::FloatingPointError;
};

// Born coefficient omega of an ion of charge Z (cal/mol) and its pressure
// derivative (cal/(mol bar)) from the solvent function g (angstrom) and
// (d g/d P)_T (angstrom/bar). Both 0 for a charge other than +1 or -1.
struct BornResults {
  double Omega = 0;    // cal/mol
  double OmegaDP = 0;  // cal/(mol bar)
};
BornResults BornCoefficient(int Z, double SolventG, double SolventGDP);

struct HKFResults {
  double HKFGibbsEnergy = 0;  // J/mol, standard partial molal Gibbs energy at (T, P)
  double HKFVolume = 0;       // cm3/mol, standard partial molal volume at (T, P)
  double Omega = 0;           // cal/mol, Born coefficient at (T, P)
  double OmegaDP = 0;         // cal/(mol bar)
};

// True when HKFProperties accepts the state: T > 0, P > 0, density > 0, and
// density >= 0.322 g/cm3 unless ExtendedRange.
bool HKFInRange(const water::WaterState& state, bool ExtendedRange);

// Properties of the ion of charge Z (+1 Na+, -1 Cl-; any other charge gives
// zeros) at the state of `state` (Temperature, Pressure, Density, Dielectric,
// BornZ, BornQ, SolventG, SolventGDP). Raises HKFRangeError when
// !HKFInRange(state, ExtendedRange), FloatingPointError on a floating-point
// fault (the pole T = 228 K).
HKFResults HKFProperties(int Z, const water::WaterState& state, bool ExtendedRange = false);

}  // namespace tersolv::hkf
