// Pure hydrogen sulfide and its solubility in liquid water.
//
// Pure H2S: the short 12-term Helmholtz equation of state of Lemmon and Span
// (J. Chem. Eng. Data 51 (2006) 785), residual part, solved for the molar
// density at (T, P) by a damped Newton iteration on pressure. Solubility: a
// Henry-type law whose Henry constant is built from the density and fugacity of
// pure water, with the gas composition corrected for the vapour pressure of
// water and a small empirical correction of the molality.
//
// Units: T in K, P in bar, molar density in mol/cm3 (H2SDensity in g/cm3),
// volume cm3/mol, fugacity bar, molality mol per kg of water.
//
// Failures raise tersolv::FloatingPointError (core/fp.h):
// - any floating-point fault (T <= 0, P <= 0, ...);
// - the density iteration not converged after kMaxDensityPasses passes;
// - H2SSolubilityUndefined (a FloatingPointError) when the solubility has no
//   meaning: water density below 0.322 g/cm3, or no saturation pressure of
//   water (zero or negative SatPressure, i.e. at or above the critical
//   temperature of water), or a mole fraction of dissolved H2S of 1 or more.
//   No solubility is computed then; callers that want the pure-H2S results of
//   such a point call H2SPureState first.
#pragma once

#include "core/constants.h"
#include "core/fp.h"

namespace tersolv::water {
class WaterModel;
}

namespace tersolv::h2s {

inline constexpr double kH2SCriticalTemperature = 373.1;  // K, reducing temperature
inline constexpr double kH2SCriticalDensity = 0.01019;    // mol/cm3, reducing density

// Cap of the density iteration. The half Newton step converges linearly (the
// error halves per pass): a few tens of passes are typical.
inline constexpr int kMaxDensityPasses = 2000;

// Raised when the solubility of H2S in water is not defined at the point.
class H2SSolubilityUndefined : public FloatingPointError {
 public:
  using FloatingPointError::FloatingPointError;
};

// Residual Helmholtz energy phi^r (dimensionless) and its first two
// derivatives with respect to delta, at tau = 373.1/T and delta = rho/0.01019.
struct ResidualHelmholtz {
  double Phi = 0;
  double PhiD = 0;   // d phi^r / d delta
  double PhiDD = 0;  // d2 phi^r / d delta2
};
ResidualHelmholtz H2SResidual(double Tau, double Delta);

// Start density of the iteration (mol/cm3): saturated-liquid correlation or
// ideal gas below 373.1 K (chosen by the vapour-pressure correlation),
// 0.02 mol/cm3 at and above it.
double H2SStartDensity(double T, double P);

// Molar density of pure H2S at (T, P), mol/cm3 (damped Newton iteration on
// pressure to |dP/P| < 1e-7). Raises FloatingPointError when MaxPasses passes
// did not converge.
double H2SMolarDensity(double T, double P, int MaxPasses = kMaxDensityPasses);

// Pressure (bar) of pure H2S at (T, molar density rho in mol/cm3) with gas
// constant R in cm3 bar/(mol K).
double H2SPressure(double T, double Rho, double R = kGasConstantBar);

// State of pure H2S at (T, P).
struct H2SPure {
  double H2SDensity = 0;   // g/cm3
  double H2SVolume = 0;    // cm3/mol
  double H2SFugacity = 0;  // bar
};
H2SPure H2SPureState(double T, double P);

// Solubility of H2S in gas-saturated liquid water, from explicit inputs:
// water density RhoW (g/cm3), ln of the fugacity of pure water LnFw (f in
// bar), saturation pressure of water SatPressure (bar) and the fugacity of
// pure H2S at (T, P) (bar). Raises H2SSolubilityUndefined as described above.
struct H2SSolubilityResult {
  double H2SSolubilityIdeal = 0;     // mol/kg, unit activity coefficient
  double H2SSolubilityMolality = 0;  // mol/kg, after the empirical correction
};
H2SSolubilityResult H2SSolubilityFrom(double T, double P, double RhoW, double LnFw,
                                      double SatPressure, double H2SFugacity);

// The pure-H2S state and the solubility in water at one point, as H2SProperties
// gives them (the calculation driver takes the same values step by step).
struct H2SResults {
  double H2SDensity = 0;             // g/cm3
  double H2SVolume = 0;              // cm3/mol
  double H2SFugacity = 0;            // bar
  double H2SSolubilityIdeal = 0;     // mol/kg
  double H2SSolubilityMolality = 0;  // mol/kg
};

// Solubility reading the water model: takes water.State.Density, then calls
// IdealGasGibbsEnergy(T) and WaterGibbsEnergy(T, P, density) in that order and
// reads water.State.SatPressure after them. Fills the two solubility members of
// `results`; reads results.H2SFugacity, which must belong to (T, P).
void H2SSolubility(water::WaterModel& water, double T, double P, H2SResults& results);

// Pure-H2S state at (T, P), then H2SSolubility. The water model must hold the
// point's state (WaterProperties for the point, pressure P).
H2SResults H2SProperties(water::WaterModel& water, double T, double P);

// Empirical correction coefficient of the molality (kg/mol):
// 0.607639 - 35.455/(T - 228) + 0.128084 T/(T - 760).
double H2SCorrectionLambda(double T);

}  // namespace tersolv::h2s
