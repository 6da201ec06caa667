// Pure H2S by the 12-term equation of Lemmon and Span (2006); solubility of
// H2S in water by a Henry-type law.
#include "h2s/h2s.h"

#include <array>
#include <cmath>
#include <sstream>
#include <string>

namespace tersolv::h2s {
namespace {

// Lemmon and Span, J. Chem. Eng. Data 51 (2006) 785, hydrogen sulfide:
// coefficients n and exponents d, t, l of the residual Helmholtz energy.
struct Term {
  double N;
  int D;
  double T;
  int L;
};
constexpr std::array<Term, 12> kTerms{{
    {0.87641, 1, 0.25, 0},
    {-2.0367, 1, 1.125, 0},
    {0.21634, 1, 1.5, 0},
    {-0.050199, 2, 1.375, 0},
    {0.066994, 3, 0.25, 0},
    {0.00019076, 7, 0.875, 0},
    {0.20227, 2, 0.625, 1},
    {-0.0045348, 5, 1.75, 1},
    {-0.22230, 1, 3.625, 2},
    {-0.034714, 4, 3.625, 2},
    {-0.014885, 3, 14.5, 3},
    {0.0074154, 4, 12.0, 3},
}};
static_assert(kTerms.size() == 12);

constexpr double kTolerance = 1e-7;      // |dP/P| at convergence
constexpr double kFallbackSlope = 10000;  // dP/drho used where the slope is negative
constexpr double kXi = -0.10134;          // Henry constant: density exponent

std::string PointText(double T, double P) {
  std::ostringstream text;
  text.precision(10);
  text << " at T = " << T << " K, P = " << P << " bar";
  return text.str();
}

// Raises FloatingPointError when a fault flag is set or `value` is not finite.
double Checked(double value, const char* routine, double T, double P) {
  if (Faulted(value)) RaiseFault(routine + PointText(T, P));
  return value;
}

// n tau^t of every term, and n tau^t d and n tau^t d (d - 1) for the
// derivatives of the terms without exponential, computed once per
// temperature (a power of tau that an earlier term has is taken from it).
struct TauPowers {
  std::array<double, 12> N{}, ND{}, NDD{};
  explicit TauPowers(double Tau) {
    std::array<double, 12> power{};
    for (std::size_t i = 0; i < kTerms.size(); ++i) {
      std::size_t same = 0;
      while (same < i && kTerms[same].T != kTerms[i].T) ++same;
      power[i] = same < i ? power[same] : std::pow(Tau, kTerms[i].T);
      const double d = kTerms[i].D;
      N[i] = kTerms[i].N * power[i];
      ND[i] = N[i] * d;
      NDD[i] = ND[i] * (d - 1);
    }
  }
};

constexpr int kMaxD = 7;  // the largest density exponent d

// The sums in two interleaved parts: half the chain of dependent additions
// that each pass of the density iteration waits on.
ResidualHelmholtz Residual(const TauPowers& tau, double Delta) {
  std::array<ResidualHelmholtz, 2> part{};
  const double inverse = 1 / Delta;
  std::array<double, kMaxD + 1> deltaPow{};  // delta^k by repeated multiplication
  deltaPow[0] = 1;
  for (std::size_t k = 1; k < deltaPow.size(); ++k) deltaPow[k] = deltaPow[k - 1] * Delta;
  const std::array<double, 4> decay{1, std::exp(-deltaPow[1]), std::exp(-deltaPow[2]), std::exp(-deltaPow[3])};
#pragma GCC unroll 12
  for (std::size_t i = 0; i < kTerms.size(); ++i) {
    const Term& term = kTerms[i];
    const double deltaD = deltaPow[static_cast<std::size_t>(term.D)];  // delta^d
    ResidualHelmholtz& r = part[i % 2];
    if (term.L == 0) {
      r.Phi += tau.N[i] * deltaD;
      r.PhiD += tau.ND[i] * deltaD * inverse;
      r.PhiDD += tau.NDD[i] * deltaD * inverse * inverse;
    } else {
      const double d = term.D;
      const double dl = deltaPow[static_cast<std::size_t>(term.L)];  // delta^l
      const double l = term.L;
      const double e = tau.N[i] * decay[static_cast<std::size_t>(term.L)];
      r.Phi += e * deltaD;
      r.PhiD += e * deltaD * inverse * (d - l * dl);
      r.PhiDD += e * deltaD * inverse * inverse * ((d - l * dl) * (d - 1 - l * dl) - l * l * dl);
    }
  }
  return {part[0].Phi + part[1].Phi, part[0].PhiD + part[1].PhiD, part[0].PhiDD + part[1].PhiDD};
}

// The damped Newton iteration from the start density `rho`, with the powers
// of tau made for T.
double MolarDensity(const TauPowers& tau, double rho, double T, double P, int MaxPasses) {
  const double RT = kGasConstantBar * T;
  for (int pass = 0; pass < MaxPasses; ++pass) {
    const double delta = rho / kH2SCriticalDensity;
    const ResidualHelmholtz r = Residual(tau, delta);
    const double residual = rho * RT * (1 + delta * r.PhiD) - P;
    double slope = RT * (1 + 2 * delta * r.PhiD + delta * delta * r.PhiDD);
    if (slope < 0) slope = kFallbackSlope;
    const double relative = Checked(residual / P, "H2SMolarDensity", T, P);
    if (std::fabs(relative) < kTolerance) return rho;
    if (slope == 0) {
      throw FloatingPointError("division by zero in H2SMolarDensity (dP/drho = 0)" +
                               PointText(T, P));
    }
    // A fault of the step shows in the next pass's check.
    const double step = residual / slope;
    if (step / 2 < rho) {
      rho -= step / 2;
    } else {
      rho /= 2;
    }
  }
  throw FloatingPointError("density of H2S not converged after " +
                           std::to_string(MaxPasses) + " passes" + PointText(T, P));
}

}  // namespace

ResidualHelmholtz H2SResidual(double Tau, double Delta) {
  ClearFaultFlags();
  const ResidualHelmholtz r = Residual(TauPowers(Tau), Delta);
  const double sum = r.Phi + r.PhiD + r.PhiDD;
  Checked(sum, "H2SResidual", kH2SCriticalTemperature / Tau, Delta * kH2SCriticalDensity);
  return r;
}

double H2SStartDensity(double T, double P) {
  ClearFaultFlags();
  double rho = 0.02;
  if (T < kH2SCriticalTemperature) {
    // Vapour pressure correlation (Pa), converted to bar by ln(1e-5).
    const double pSat =
        std::exp(85.584 - 3839.9 / T - 11.199 * std::log(T) + 0.018848 * T + std::log(0.00001));
    if (P >= pSat) {
      // Saturated-liquid density correlation, mol/cm3.
      rho = std::exp(1.2449 - 0.051469 * T + 0.00018574 * T * T - 2.3335e-7 * T * T * T);
    } else {
      rho = P / (kGasConstantBar * T);
    }
  }
  return Checked(rho, "H2SStartDensity", T, P);
}

double H2SPressure(double T, double Rho, double R) {
  ClearFaultFlags();
  const double delta = Rho / kH2SCriticalDensity;
  const ResidualHelmholtz r = Residual(TauPowers(kH2SCriticalTemperature / T), delta);
  return Checked(Rho * R * T * (1 + delta * r.PhiD), "H2SPressure", T, Rho);
}

double H2SMolarDensity(double T, double P, int MaxPasses) {
  const double start = H2SStartDensity(T, P);
  ClearFaultFlags();
  return MolarDensity(TauPowers(kH2SCriticalTemperature / T), start, T, P, MaxPasses);
}

H2SPure H2SPureState(double T, double P) {
  const double start = H2SStartDensity(T, P);
  ClearFaultFlags();
  const TauPowers tau(kH2SCriticalTemperature / T);
  const double rho = MolarDensity(tau, start, T, P, kMaxDensityPasses);
  ClearFaultFlags();
  const double delta = rho / kH2SCriticalDensity;
  const ResidualHelmholtz r = Residual(tau, delta);
  const double lnPhi = r.Phi + delta * r.PhiD - std::log(1 + delta * r.PhiD);
  H2SPure pure;
  pure.H2SDensity = kH2SMolarMass * rho;
  pure.H2SVolume = 1 / rho;
  pure.H2SFugacity = P * std::exp(lnPhi);
  Checked(pure.H2SVolume + pure.H2SFugacity, "H2SPureState", T, P);
  return pure;
}

double H2SCorrectionLambda(double T) {
  if (T == 228 || T == 760) {
    throw FloatingPointError("division by zero in H2SCorrectionLambda" + PointText(T, 0));
  }
  ClearFaultFlags();
  return Checked(0.607639 - 35.455 / (T - 228) + 0.128084 * T / (T - 760), "H2SCorrectionLambda",
                 T, 0);
}

H2SSolubilityResult H2SSolubilityFrom(double T, double P, double RhoW, double LnFw,
                                      double SatPressure, double H2SFugacity) {
  if (!(RhoW >= 0.322)) {
    throw H2SSolubilityUndefined(
        "solubility of H2S not defined for a water density below 0.322 g/cm3" +
        PointText(T, P));
  }
  if (!(SatPressure > 0)) {
    throw H2SSolubilityUndefined(
        "solubility of H2S not defined where water has no saturation pressure" +
        PointText(T, P));
  }
  ClearFaultFlags();
  double y = 1 - SatPressure / P;  // mole fraction of H2S in the gas
  if (y < 1e-8) y = 0;
  const double lnK = kXi * std::log(kGasConstantBar * T * RhoW / kWaterMolarMass) +
                     (1 - kXi) * LnFw + RhoW * (11.8942 * std::sqrt(1000 / T) - 10.9238);
  const double x = Checked(y * H2SFugacity / std::exp(lnK), "H2SSolubility", T, P);
  if (x >= 1) {
    throw H2SSolubilityUndefined("mole fraction of dissolved H2S reaches 1" + PointText(T, P));
  }
  H2SSolubilityResult result;
  const double m = kWaterMolesPerKg * x / (1 - x);
  result.H2SSolubilityIdeal = m;
  result.H2SSolubilityMolality = m * (1 + H2SCorrectionLambda(T) * m);
  Checked(result.H2SSolubilityMolality, "H2SSolubility", T, P);
  return result;
}

}  // namespace tersolv::h2s
