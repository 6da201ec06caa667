// Revised HKF equation of state for Na+ and Cl-.
#include "hkf/hkf.h"

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>

namespace tersolv::hkf {
namespace {

// Shock and Helgeson, Geochim. Cosmochim. Acta 52 (1988) 2009: standard-state
// properties and HKF parameters of Na+ and Cl-, in working units (cal, bar,
// K): a1 = 0.1 x tabulated, a2 = 100 x, a4 = 1e4 x, c2 = 1e4 x, omega_r = 1e5 x.
struct IonParameters {
  double FormationG;  // cal/mol
  double Entropy;     // cal/(mol K)
  double A1;          // cal/(mol bar)
  double A2;          // cal/mol
  double A3;          // cal K/(mol bar)
  double A4;          // cal K/mol
  double C1;          // cal/(mol K)
  double C2;          // cal K/mol
  double OmegaR;      // cal/mol
};
constexpr IonParameters kSodium{-62591, 13.96, 1.839 * 0.1, -2.285 * 100, 3.256, -2.726 * 1e4,
                                18.18, -2.981 * 1e4, 0.3306 * 1e5};
constexpr IonParameters kChloride{-31379, 13.56, 4.032 * 0.1, 4.801 * 100, 5.563, -2.847 * 1e4,
                                  -4.4, -5.714 * 1e4, 1.456 * 1e5};
constexpr IonParameters kNone{0, 0, 0, 0, 0, 0, 0, 0, 0};

constexpr double kTr = 298.15;     // K
constexpr double kPr = 1;          // bar
constexpr double kTheta = 228;     // K
constexpr double kTheta2 = 51984;  // K^2
constexpr double kPsi = 2600;      // bar
constexpr double kEta = 166027;    // angstrom cal/mol
constexpr double kChargeRadius = 3.082;  // angstrom
constexpr double kEpsilonR = 78.2451458168084;
constexpr double kYr = -5.79864943847236e-5;  // 1/K
constexpr double kCalorie = 4.184;            // J/cal
constexpr double kCalPerBarToCm3 = 41.84;

const IonParameters& ParametersOf(int Z) {
  if (Z == 1) return kSodium;
  if (Z == -1) return kChloride;
  return kNone;
}

std::string StateText(const water::WaterState& s) {
  std::ostringstream text;
  text.precision(10);
  text << " at T = " << s.Temperature << " K, P = " << s.Pressure << " bar, rho = " << s.Density
       << " g/cm3";
  return text.str();
}

}  // namespace

BornResults BornCoefficient(int Z, double SolventG, double SolventGDP) {
  BornResults b;
  if (Z != 1 && Z != -1) return b;
  ClearFaultFlags();
  const double z = Z;
  const double absZ = std::abs(Z);
  const double omegaR = ParametersOf(Z).OmegaR;
  const double reR = z * z / (omegaR / kEta + z / kChargeRadius);  // angstrom, at Tr, Pr
  const double re = reR + absZ * SolventG;
  b.Omega = kEta * (z * z / re - z / (kChargeRadius + SolventG));
  const double dOmegaDg = -kEta * (absZ * absZ * absZ / (re * re) -
                                   z / ((kChargeRadius + SolventG) * (kChargeRadius + SolventG)));
  b.OmegaDP = dOmegaDg * SolventGDP;
  if (Faulted(b.Omega + b.OmegaDP)) RaiseFault("BornCoefficient");
  return b;
}

bool HKFInRange(const water::WaterState& state, bool ExtendedRange) {
  return state.Temperature > 0 && state.Pressure > 0 && state.Density > 0 &&
         (ExtendedRange || state.Density >= 0.322);
}

HKFResults HKFProperties(int Z, const water::WaterState& state, bool ExtendedRange) {
  if (!HKFInRange(state, ExtendedRange)) {
    throw HKFRangeError("water state outside the range of the HKF equations" + StateText(state));
  }
  const double T = state.Temperature;
  const double P = state.Pressure;
  if (T == kTheta) throw FloatingPointError("division by zero (T = 228 K) in HKFProperties");
  const IonParameters& ion = ParametersOf(Z);
  const BornResults born = BornCoefficient(Z, state.SolventG, state.SolventGDP);
  ClearFaultFlags();

  const double tTheta = T - kTheta;
  const double trTheta = kTr - kTheta;
  const double eps = state.Dielectric;
  const double g =
      ion.FormationG - ion.Entropy * (T - kTr) - ion.C1 * (T * std::log(T / kTr) - T + kTr) -
      ion.C2 * ((1 / tTheta - 1 / trTheta) * (kTheta - T) / kTheta -
                (T / kTheta2) * (std::log(tTheta / trTheta) - std::log(T / kTr))) +
      ion.OmegaR * kYr * (T - kTr) + (ion.A1 + ion.A3 / tTheta) * (P - kPr) +
      (ion.A2 + ion.A4 / tTheta) * std::log((kPsi + P) / (kPsi + kPr)) +
      born.Omega * (1 / eps - 1) - ion.OmegaR * (1 / kEpsilonR - 1);
  const double v = ion.A1 + ion.A2 / (kPsi + P) + (ion.A3 + ion.A4 / (kPsi + P)) / tTheta -
                   born.Omega * state.BornQ - (state.BornZ + 1) * born.OmegaDP;

  HKFResults r;
  r.HKFGibbsEnergy = kCalorie * g;
  r.HKFVolume = kCalPerBarToCm3 * v;
  r.Omega = born.Omega;
  r.OmegaDP = born.OmegaDP;
  if (Faulted(r.HKFGibbsEnergy + r.HKFVolume)) RaiseFault("HKFProperties" + StateText(state));
  return r;
}

}  // namespace tersolv::hkf
