// Phase equilibria and solution properties of water + H2S + NaCl: the
// equations that combine the results of the property models into the values
// a worksheet row shows.
//
// - Solubility of H2S in pure water and in NaCl solutions: a Henry-type
//   reference molality corrected by the activity coefficient of dissolved H2S
//   (ion-interaction model, src/nacl/pitzer.h), solved by a damped fixed-point
//   iteration; the salting-out (Setchenow) coefficient k_S.
// - Halite: the saturation term L = ln(mean ionic activity of NaCl at halite
//   saturation) and the solubility of halite in pure water.
// - Activity coefficient of water, partial molar volume of dissolved H2S at
//   infinite dilution, molar volume and density of the ternary solution.
//
// Units: T in K, P in bar, density g/cm3, energies J/mol, volumes cm3/mol,
// molalities mol per kg of water, k_S kg/mol; logarithms natural. Every
// floating-point fault, and an iteration that does not converge within its
// cap, raises tersolv::FloatingPointError.
#pragma once

#include <optional>

#include "nacl/pitzer.h"
#include "core/constants.h"
#include "core/fp.h"

namespace tersolv::calc {


// Henry-type parameters of dissolved H2S (rho in g/cm3).
inline constexpr double kXi = -0.10134;
inline constexpr double kHenryA = -10.9238;
inline constexpr double kHenryB = 11.8942;

inline constexpr double kGasFractionFloor = 1e-8;   // y below this counts as 0
inline constexpr double kSolubilityTolerance = 1e-10;
inline constexpr double kSeriesMolality = 0.002;     // k_S from its series at or below this m_N
// Cap of each H2S solubility iteration. The damped iteration halves its error
// per pass or better: a few tens of passes are typical, so the cap is reached
// only when something is wrong.
inline constexpr int kMaxSolubilityPasses = 10000;
// Halite search in pure water: start molality and passes.
inline constexpr double kHaliteStart = 6.0;
inline constexpr int kHalitePasses = 200;

// Solubility of H2S in pure water from the H2S model's reference molality m0
// (unit activity coefficient) and its start value `start`.
struct PureWaterSolubility {
  double MH0 = 0;         // m_H0, mol/kg
  double LastIterate = 0; // the iterate the convergence test compared with
};
PureWaterSolubility SolubilityInPureWater(double m0, double start, const nacl::H2SInteraction& h2s);

// Reference molality of H2S in the NaCl solution (unit activity coefficient):
// from ln f_w of pure water (f in bar), the saturation pressure of water Psat
// (bar) and the fugacity of pure H2S (bar) at (T, P).
double ReferenceMolality(double T, double P, double Rho, double LnFw, double Psat, double H2SFugacity);

// Solubility m_Hs of H2S in the NaCl solution of molality MN, iterated from
// `start` (the last iterate of the pure-water iteration) with reference m0s.
double SolubilityInSolution(double m0s, double start, double MN, const nacl::H2SInteraction& h2s);

// Salting-out coefficient k_S (kg/mol) from m_H0 and m_Hs (> 0): the
// logarithmic ratio above kSeriesMolality, its second-order series around
// m_N = 0 at and below it.
double SaltingOutCoefficient(double MH0, double MHs, double MN, const nacl::H2SInteraction& h2s);

// Solubility of halite in pure water (mol/kg) from the saturation term L,
// or nothing when the search does not settle within kHalitePasses passes or
// meets a floating-point fault.
std::optional<double> HaliteSolubility(double L, double Rho, double T, double Epsilon,
                                       const nacl::NaClParameters& params, const nacl::H2SInteraction& h2s);

// a_w / x_w, the activity coefficient of water on the mole-fraction scale,
// from the osmotic coefficient phi.
double WaterActivityCoefficient(double MN, double MH, double Phi);

// Partial molar volume of dissolved H2S at infinite dilution, cm3/mol, from
// V_w (cm3/mol) and (d rho/d P)_T (g/(cm3 bar)).
double H2SPartialVolume(double T, double Rho, double Vw, double RhoDP);

// Molar volume (cm3 per mole of H2O + H2S + NaCl) and density (g/cm3) of the
// solution.
struct SolutionVolume {
  double MolarVolume = 0;
  double Density = 0;
};
SolutionVolume SolutionVolumeAndDensity(double MH, double MN, double Vw, double VH, double VPhi);

}  // namespace tersolv::calc
