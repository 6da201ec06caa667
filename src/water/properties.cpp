// Gibbs energies of water and ideal-gas water, and the solvent properties of
// one state point: dielectric constant (IAPWS R8-97), Born functions and the
// HKF solvent function g (Shock et al., Geochim. Cosmochim. Acta 56 (1992)
// 1145).
#include <array>
#include <cmath>

#include "water/coefficients.h"
#include "water/fp_scope.h"
#include "water/water.h"

namespace tersolv::water {
namespace {

// Moves the equation's zero (saturated liquid at the triple point) to the
// scale of the enthalpy of formation and third-law entropy at 298.15 K, 1 bar.
constexpr double kEnthalpyOffset = -287720.14;  // J/mol
constexpr double kEntropyOffset = 63.334794;    // J/(mol K)
// The ideal-gas limit is evaluated at P0 = 1e-7 T bar.
constexpr double kIdealGasPressureFactor = 1e-7;

constexpr double kHarrisAlderTemperature = 228.0;  // K

// HKF solvent function g (angstrom), t in degrees C.
constexpr double kAg1 = -2.037662, kAg2 = 5.747e-3, kAg3 = -6.557892e-6;
constexpr double kBg1 = 6.107361, kBg2 = -1.074377e-2, kBg3 = 1.268348e-5;
constexpr double kAf1 = 36.66666, kAf2 = -1.504956e-10, kAf3 = 5.017997e-14;

}  // namespace

double WaterModel::WaterGibbsEnergy(double T, double P, double Rho) const {
  FpScope fp("WaterGibbsEnergy", "T", T, "P", P);
  const double g = kGasConstant * T * HelmholtzPhi(T, Rho) + P / Rho * 0.1 * kWaterMolarMass + kEnthalpyOffset -
                   kEntropyOffset * T;
  return fp.Check(g);
}

double WaterModel::IdealGasGibbsEnergy(double T) {
  FpScope fp("IdealGasGibbsEnergy", "T", T, nullptr, 0);
  const double savedPressure = State.Pressure;
  const double savedDensity = State.Density;
  const double p0 = kIdealGasPressureFactor * T;
  const double rho0 = WaterDensity(T, p0, kVapourPhase);
  const double g0 = WaterGibbsEnergy(T, p0, rho0);
  State.Pressure = savedPressure;
  State.Density = savedDensity;
  return fp.Check(g0 - kGasConstant * T * std::log(p0));
}

void WaterModel::WaterProperties(double T, double P, double Rho) {
  FpScope fp("WaterProperties", "T", T, "P", P);
  State.Temperature = T;
  State.Pressure = P;
  State.Density = Rho;
  State.SatPressure = 0;
  State.DensityDP = 0;
  State.Dielectric = 0;
  State.DielectricDP = 0;
  State.BornZ = 0;
  State.BornQ = 0;
  State.SolventG = 0;
  State.SolventGDP = 0;
  State.DensityDP = DensityDerivative(T, Rho);
  DielectricConstant();
  BornFunctions();
  SolventFunctionG();
  fp.Check(State.SolventGDP);
}

void WaterModel::DielectricConstant() {
  const double T = State.Temperature;
  FpScope fp("DielectricConstant", "T", T, "Rho", State.Density);
  const double delta = State.Density / kCriticalDensity;
  const double theta = T / kCriticalTemperature;
  const double harrisAlder = std::pow(theta * (kCriticalTemperature / kHarrisAlderTemperature) - 1.0,
                                      -coef::kDielectricQ);
  // (Tc/T)^(j/4) from the square and fourth roots and integer powers of Tc/T;
  // delta^i by repeated multiplication.
  const double u = 1.0 / theta;
  const double uHalf = std::sqrt(u);
  const double uQuarter = std::sqrt(uHalf);
  const std::array<double, 4> uFraction = {1.0, uQuarter, uHalf, uHalf * uQuarter};
  std::array<double, 11> uPow{};
  std::array<double, 11> deltaPow{};
  uPow[0] = 1.0;
  deltaPow[0] = 1.0;
  for (std::size_t k = 1; k < uPow.size(); ++k) {
    uPow[k] = uPow[k - 1] * u;
    deltaPow[k] = deltaPow[k - 1] * delta;
  }
  double sum = 0;   // sum N_k delta^i theta^-j
  double sumD = 0;  // sum N_k i delta^(i-1) theta^-j
  for (std::size_t k = 0; k < coef::kDielectricI.size(); ++k) {
    const auto i = static_cast<std::size_t>(coef::kDielectricI[k]);
    const auto j4 = static_cast<std::size_t>(coef::kDielectricJ4[k]);
    const double thetaPow = uPow[j4 / 4] * uFraction[j4 % 4];
    const double n = coef::kDielectricN[k + 1];
    sum += n * deltaPow[i] * thetaPow;
    sumD += n * static_cast<double>(i) * deltaPow[i - 1] * thetaPow;
  }
  const double n12 = coef::kDielectricN[0];
  const double g = 1.0 + sum + n12 * delta * harrisAlder;
  const double a = coef::kDielectricA0 * delta * g / theta;
  const double b = coef::kDielectricB0 * delta;
  const double s = std::sqrt(9.0 + 2.0 * a + 18.0 * b + a * a + 10.0 * a * b + 9.0 * b * b);
  const double eps = (1.0 + a + 5.0 * b + s) / (4.0 - 4.0 * b);

  const double deltaP = State.DensityDP / kCriticalDensity;
  const double gP = (sumD + n12 * harrisAlder) * deltaP;
  const double aP = (coef::kDielectricA0 / theta) * (g * deltaP + delta * gP);
  const double bP = coef::kDielectricB0 * deltaP;
  const double epsP = (2.0 * bP * (1.0 + eps * eps) + eps * (aP + 5.0 * bP)) / s;
  State.Dielectric = fp.Check(eps);
  State.DielectricDP = fp.Check(epsP);
}

void WaterModel::BornFunctions() {
  FpScope fp("BornFunctions", "eps", State.Dielectric, nullptr, 0);
  const double eps = State.Dielectric;
  State.BornZ = fp.Check(-1.0 / eps);
  State.BornQ = fp.Check(1.0 / (eps * eps) * State.DielectricDP);
}

void WaterModel::SolventFunctionG() {
  const double rho = State.Density;
  const double P = State.Pressure;
  const double t = State.Temperature - kZeroCelsius;
  FpScope fp("SolventFunctionG", "T", State.Temperature, "P", P);
  State.SolventG = 0;
  State.SolventGDP = 0;
  if (rho >= 1) return;
  const double ag = kAg1 + kAg2 * t + kAg3 * t * t;
  const double bg = kBg1 + kBg2 * t + kBg3 * t * t;
  const double powBgMinus1 = std::pow(1.0 - rho, bg - 1.0);
  double g = ag * powBgMinus1 * (1.0 - rho);
  double gP = -ag * bg * powBgMinus1 * State.DensityDP;
  if (t >= 155 && P <= 1000 && t <= 355) {
    const double x = (t - 155.0) / 300.0;
    const double x2 = x * x;
    const double x4 = x2 * x2;
    const double x8 = x4 * x4;
    const double fT = std::pow(x, 4.8) + kAf1 * (x8 * x8);
    const double u = 1000.0 - P;
    const double fP = kAf2 * u * u * u + kAf3 * u * u * u * u;
    const double fPP = 4.514868e-10 * u * u - 2.0071988e-13 * u * u * u;
    g = g - fT * fP;
    gP = gP - fT * fPP;
  }
  State.SolventG = fp.Check(g);
  State.SolventGDP = fp.Check(gP);
}

}  // namespace tersolv::water
