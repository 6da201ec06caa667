#include "calc/equations.h"

#include <cmath>
#include <string>

namespace tersolv::calc {
namespace {

std::string Num(double v) { return std::to_string(v); }

}  // namespace

PureWaterSolubility SolubilityInPureWater(double m0, double start, const nacl::H2SInteraction& h2s) {
  if (m0 <= 0) return {start, start};
  double D = start;
  for (int pass = 1; pass <= kMaxSolubilityPasses; ++pass) {
    const double lnGamma = 2 * h2s.LambdaHH * D + 3 * h2s.MuHHH * D * D;
    const double E = CheckFinite(m0 / std::exp(lnGamma), "the solubility of H2S in pure water");
    if (std::fabs(CheckFinite(D / E, "the solubility of H2S in pure water") - 1) <= kSolubilityTolerance) {
      return {E, D};
    }
    D = (D + E) / 2;
  }
  throw FloatingPointError("The solubility of H2S in pure water did not converge within " +
                           std::to_string(kMaxSolubilityPasses) + " passes (reference molality " + Num(m0) + ")");
}

double ReferenceMolality(double T, double P, double Rho, double LnFw, double Psat, double H2SFugacity) {
  const double RT = kGasConstant * T;
  const double lnK = (1 - kXi) * LnFw + kXi * std::log(10 * RT * Rho / kWaterMolarMass) +
                     (kHenryA + kHenryB * std::sqrt(1000 / T)) * Rho;
  double y = 1 - Psat / P;
  if (y < kGasFractionFloor) y = 0;
  const double x = H2SFugacity * y / std::exp(lnK);
  return CheckFinite(kWaterMolesPerKg * x / (1 - x), "the reference molality of H2S");
}

double SolubilityInSolution(double m0s, double start, double MN, const nacl::H2SInteraction& h2s) {
  double E = start;
  if (!(E > 0)) return E;
  for (int pass = 1; pass <= kMaxSolubilityPasses; ++pass) {
    const double D = CheckFinite(m0s / std::exp(nacl::LnGammaH2S(E, MN, h2s)), "the solubility of H2S");
    if (D == 0) {
      throw FloatingPointError("Division by zero in the solubility of H2S in NaCl solution (reference molality 0)");
    }
    if (std::fabs(E / D - 1) <= kSolubilityTolerance) return D;
    E = (E + D) / 2;
  }
  throw FloatingPointError("The solubility of H2S in NaCl solution did not converge within " +
                           std::to_string(kMaxSolubilityPasses) + " passes (m(NaCl) = " + Num(MN) + ")");
}

double SaltingOutCoefficient(double MH0, double MHs, double MN, const nacl::H2SInteraction& h2s) {
  if (MN > kSeriesMolality) return CheckFinite(std::log(MH0 / MHs) / MN, "the salting-out coefficient");
  const double m = MH0;
  const double A = 1 + 2 * h2s.LambdaHH * m + 6 * h2s.MuHHH * m * m;
  const double k1 = (2 * h2s.LambdaHN + 6 * h2s.MuHHN * m) / A;
  const double d1 = -k1 * m;
  const double d2 = -(d1 * (2 * h2s.LambdaHH * d1 + 6 * h2s.MuHHN * m + 12 * h2s.MuHHH * m * d1) +
                      (2 * h2s.LambdaHN * d1 + 6 * h2s.MuHNN * m + 12 * h2s.MuHHN * m * d1)) /
                    A;
  return CheckFinite(k1 - (d2 / m - (d1 / m) * (d1 / m)) * MN / 2, "the salting-out coefficient");
}

std::optional<double> HaliteSolubility(double L, double Rho, double T, double Epsilon,
                                       const nacl::NaClParameters& params, const nacl::H2SInteraction& h2s) {
  try {
    double m = kHaliteStart;
    double lnGammaPrevious = 0;
    for (int n = kHalitePasses;;) {
      const double lnGamma = nacl::EvaluateNaClActivity(m, 0, Rho, T, Epsilon, params, h2s).LnGammaPM;
      m = CheckFinite(std::exp(L - lnGamma), "the solubility of halite");
      if (std::fabs(lnGamma - lnGammaPrevious) <= kSolubilityTolerance) return m;
      lnGammaPrevious = lnGamma;
      if (--n <= 0) return std::nullopt;
    }
  } catch (const std::exception&) {  // any run-time error of the search
    return std::nullopt;
  }
}

double WaterActivityCoefficient(double MN, double MH, double Phi) {
  const double X = (2 * MN + MH) * kWaterMolarMass / 1000;
  return CheckFinite(std::exp(std::log(1 + X) - Phi * X), "the activity coefficient of water");
}

double H2SPartialVolume(double T, double Rho, double Vw, double RhoDP) {
  const double RT = kGasConstant * T;
  return CheckFinite((1 - kXi) * Vw + 10 * RT * RhoDP * (kXi / Rho + kHenryA + kHenryB * std::sqrt(1000 / T)),
                     "the partial molar volume of H2S");
}

SolutionVolume SolutionVolumeAndDensity(double MH, double MN, double Vw, double VH, double VPhi) {
  const double N = kWaterMolesPerKg + MH + MN;
  const double xw = kWaterMolesPerKg / N, xH = MH / N, xN = MN / N;
  const double V = xw * Vw + xH * VH + xN * VPhi;
  const double M = kWaterMolarMass * xw + kH2SMolarMassInSolution * xH + kNaClMolarMass * xN;
  return {CheckFinite(V, "the molar volume of the solution"), CheckFinite(M / V, "the density of the solution")};
}

}  // namespace tersolv::calc
