// Properties of pure water.
//
// IAPWS-95 Helmholtz equation of state (Wagner and Pruss, J. Phys. Chem. Ref.
// Data 31 (2002) 387; IAPWS R6-95(2018)) with its density and saturation
// solvers, the Gibbs energies from which the fugacity of water follows, the
// static dielectric constant (IAPWS R8-97, Fernandez et al. 1997), the Born
// functions and the solvent function g of the revised HKF equations (Shock et
// al. 1992).
//
// Units throughout: temperature K, pressure bar, density g/cm3, molar
// energies J/mol, g in angstrom.
//
// A WaterModel owns the water state record and its one-point density cache;
// the caller owns the model. Two models share nothing, so two threads may each
// use their own. Density and saturation routines report failure by zero or
// negative return values (see below); floating-point faults raise
// tersolv::FloatingPointError.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/constants.h"
#include "core/fp.h"
#include "water/residual.h"

namespace tersolv::water {

// Constants of the formulation.
inline constexpr double kCriticalTemperature = 647.096;  // K
inline constexpr double kCriticalPressure = 220.64;      // bar
inline constexpr double kCriticalDensity = 0.322;        // g/cm3
// (The gas constant and the molar mass of water: core/constants.h.)

// Phase selector of WaterDensity.
inline constexpr std::int16_t kStablePhase = 0;
inline constexpr std::int16_t kVapourPhase = 1;
inline constexpr std::int16_t kLiquidPhase = 2;
inline constexpr std::int16_t kBusyPhase = 3;  // CachedPhase while an evaluation runs

// The water state record: what the water routines hand to the other models.
// Every field starts at 0. Temperature, Pressure, CachedPhase, Density and
// SatPressure double as the one-point density cache of WaterDensity.
struct WaterState {
  double Temperature = 0;   // K, of the last evaluation
  double Pressure = 0;      // bar, of the last evaluation
  double SatPressure = 0;   // bar, saturation pressure at Temperature; 0 at or above Tc
  double Density = 0;       // g/cm3, of the last evaluation
  double DensityDP = 0;     // g/(cm3 bar), (d rho/d P)_T
  double Dielectric = 0;    // static dielectric constant
  double DielectricDP = 0;  // 1/bar, (d eps/d P)_T
  double BornZ = 0;         // -1/eps
  double BornQ = 0;         // 1/bar, (1/eps^2)(d eps/d P)_T
  double SolventG = 0;      // angstrom, HKF solvent function g
  double SolventGDP = 0;    // angstrom/bar, (d g/d P)_T
  std::int16_t CachedPhase = 0;  // phase key of the density cache; 3 = busy
};

class WaterModel {
 public:
  WaterModel() = default;

  // The state record; other models read it after the water routines ran.
  WaterState State;

  // --- Helmholtz equation ---
  // Dimensionless Helmholtz energy f/(RT), ideal-gas plus residual part.
  // Returns 0 when T <= 0 or Rho <= 0.
  double HelmholtzPhi(double T, double Rho) const;
  // Pressure (bar) and, when DPDRho is -1 on entry, (dP/d rho)_T in bar cm3/g.
  // Returns 0, or -1 when T <= 0 or Rho <= 0 (outputs untouched).
  std::int16_t WaterPressure(double T, double Rho, double& P, double& DPDRho) const;
  // (d rho/d P)_T at (T, Rho), g/(cm3 bar). Unlike WaterPressure it keeps the
  // non-analytic terms on the critical isotherm (not at the critical point).
  double DensityDerivative(double T, double Rho) const;

  // --- Solvers ---
  // Newton iteration for the density at (T, P) from RhoStart; -1..-4 on failure.
  double SolveDensity(double T, double P, double RhoStart) const;
  // Density on the branch Phase (0 stable, 1 vapour, 2 liquid); 0 or -1..-5 on
  // failure. Uses and updates the one-point cache in State. A cache hit also
  // needs State to hold the very entry WaterDensity completed last (not values
  // written by WaterProperties or restored by IdealGasGibbsEnergy). If a
  // FloatingPointError leaves a top-level call, the busy marker is cleared.
  double WaterDensity(double T, double P, std::int16_t Phase);
  // Density inside the near-critical circle, at Tc + DT, pc + DP.
  double NearCriticalDensity(double DT, double DP, std::int16_t Phase);
  // Start density of the Newton iteration for T >= Tc. Where a width of the
  // fit falls to 0 (k2, far above 1000 K) its limit width -> 0+ is taken.
  double SupercriticalDensityGuess(double T, double P) const;
  // Saturation pressure (bar) with the coexisting densities (vapour first);
  // -1, -2 or -6 on failure. Newton's method on the phase-equilibrium
  // conditions, from the auxiliary equations of Wagner and Pruss; it is capped
  // at 100 steps and raises FloatingPointError beyond. Results are memoised
  // per temperature (see SetSaturationMemo).
  double SaturationPressure(double T, double& RhoVapour, double& RhoLiquid);

  // --- Gibbs energies (J/mol, on one common scale) ---
  double WaterGibbsEnergy(double T, double P, double Rho) const;
  // Ideal-gas water at T and 1 bar; saves and restores State.Pressure and
  // State.Density, leaves State.SatPressure at the saturation pressure of T.
  double IdealGasGibbsEnergy(double T);

  // --- State evaluation ---
  // Fills State for (T, P, Rho): DensityDP, then DielectricConstant,
  // BornFunctions and SolventFunctionG.
  void WaterProperties(double T, double P, double Rho);
  void DielectricConstant();
  void BornFunctions();
  void SolventFunctionG();

  // Switches the memo of SaturationPressure off or on (on by default); with
  // it on, repeated calls at one temperature return the remembered result,
  // bit for bit what a fresh evaluation gives.
  void SetSaturationMemo(bool enabled);
  // Puts into the memo a result of SaturationPressure at T that another model
  // evaluated (models of one build agree bit for bit), so that this one need
  // not evaluate it again. Ignored with the memo off.
  void RememberSaturation(double T, double Psat, double RhoVapour, double RhoLiquid);

 private:
  struct SaturationEntry {
    double T = 0;
    double Psat = 0;
    double RhoVapour = 0;
    double RhoLiquid = 0;
  };
  static constexpr std::size_t kSaturationMemoSize = 4;
  std::array<SaturationEntry, kSaturationMemoSize> saturationMemo_{};
  std::size_t saturationMemoUsed_ = 0;
  std::size_t saturationMemoNext_ = 0;
  bool saturationMemoOn_ = true;

  // The entry that WaterDensity itself completed last. A cache hit needs the
  // state record to still hold exactly this entry, so that values written
  // into the record by WaterProperties or restored by IdealGasGibbsEnergy are
  // never mistaken for a density of the requested branch.
  struct DensityEntry {
    double T = 0;
    double P = 0;
    double Density = 0;
    std::int16_t Phase = -1;
  };
  DensityEntry densityEntry_{};

  // Temperature factors and the last residual (const evaluations fill it).
  mutable ResidualCache residuals_;
};

}  // namespace tersolv::water
