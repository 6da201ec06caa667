// Residual part of the IAPWS-95 Helmholtz energy, phi^r(delta, tau), with its
// first and second delta-derivatives, evaluated together.
//
// The temperature-dependent factors of every term are formed once per
// temperature (TauFactors), so that a density iteration at fixed T only
// re-evaluates the density-dependent factors. Integer powers are built by
// repeated multiplication and exp(-delta^c) is formed once per c.
#pragma once

#include <array>

#include "water/coefficients.h"

namespace tersolv::water {

// How terms 55-56 enter the delta-derivatives on their singular lines.
enum class NonAnalyticMode {
  // Pressure: terms 55-56 add nothing to the derivatives at tau = 1 exactly.
  kPressure,
  // Compressibility: included at tau = 1; only where Delta^b is 0 (the
  // critical point itself) do they add nothing.
  kCompressibility,
};

struct TauFactors {
  double Tau = 0;
  std::array<double, 7> Polynomial{};        // n tau^t, terms 1-7
  std::array<double, 44> Exponential{};      // n tau^t, terms 8-51
  std::array<double, 3> Gaussian{};          // n tau^t exp(-beta (tau - gamma)^2)
  std::array<double, 2> NonAnalyticPsiTau{};  // exp(-D (tau - 1)^2)
  double OneMinusTau = 0;
  double TauMinusOneSquared = 0;
};

struct ResidualDerivatives {
  double Phi = 0;     // phi^r
  double PhiD = 0;    // d phi^r / d delta
  double PhiDD = 0;   // d2 phi^r / d delta2
};

TauFactors MakeTauFactors(double tau);
ResidualDerivatives EvaluateResidual(const TauFactors& tf, double delta, NonAnalyticMode mode);

// The factors of the last temperature and the residual at the last density:
// a density solution ends on the density whose pressure it evaluated last, and
// the derivative and Gibbs energy asked for next at that state are not
// evaluated again. Per point of a ternary sheet this spares 5 of about 17
// evaluations of the residual and 5 of 6 sets of temperature factors. Each
// WaterModel owns one; entries are bit for bit what a fresh evaluation gives.
class ResidualCache {
 public:
  // The factors for tau = Tc / T.
  const TauFactors& Factors(double T);
  // EvaluateResidual(Factors(T), delta, mode).
  ResidualDerivatives At(double T, double delta, NonAnalyticMode mode);

 private:
  double factorsT_ = 0;
  TauFactors factors_{};
  double residualT_ = 0;
  double residualDelta_ = 0;
  NonAnalyticMode residualMode_ = NonAnalyticMode::kPressure;
  ResidualDerivatives residual_{};
};

// Ideal-gas part phi°(delta, tau).
double IdealGasPhi(double delta, double tau);

// phi° + phi^r at (T, Rho), the same value as WaterModel::HelmholtzPhi.
double PhiAt(ResidualCache& cache, double T, double Rho);
// Pressure (bar) and (dP/d rho)_T (bar cm3/g) at (T, Rho); the same values as
// WaterModel::WaterPressure.
void PressureAt(ResidualCache& cache, double T, double Rho, double& P, double& DPDRho);

// The terms of one phase in the conditions of phase equilibrium at (tau of
// T, delta): the reduced pressure J = delta (1 + delta phi^r_delta) = P /
// (rho_c R T), its derivative dJ/d delta, and the reduced Gibbs energy K =
// phi^r + delta phi^r_delta + ln delta, without the part that depends on tau
// alone (equal in both phases).
struct PhaseTerms {
  double J = 0;
  double JD = 0;
  double K = 0;
};
PhaseTerms PhaseTermsAt(ResidualCache& cache, double T, double delta);

}  // namespace tersolv::water
